#include "update/manifest_fetch.h"

#include <string>

#include "update/http_win32.h"
#include "update/manifest.h"

bool FetchManifest(Http& http, Manifest& manifest) {
  std::string text;
  // The limit is checked before appending, so memory stays below the limit
  // plus one chunk whatever the host sends.
  const bool received = HttpGet(http, u"/arquivos/launcher/manifest.txt" + CacheDefeatingQuery(),
                                [&text](const uint8_t* data, uint32_t length) {
                                  if (text.size() > kManifestLimit) return false;
                                  text.append(reinterpret_cast<const char*>(data), length);
                                  return true;
                                });
  if (!received || text.empty()) return false;
  return ParseManifest(text, manifest);
}

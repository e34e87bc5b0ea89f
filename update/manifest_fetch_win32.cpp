#include "update/manifest_fetch.h"

#include <string>

#include "update/host_layout.h"
#include "update/http_win32.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"
#include "update/signature_win32.h"

bool FetchManifest(Http& http, Manifest& manifest) {
  std::string text;
  // The limit is checked before appending, so memory stays below the limit
  // plus one chunk whatever the host sends.
  const bool received = HttpGet(http, Utf8ToWide(host_layout::ManifestRequestPath()) + CacheDefeatingQuery(),
                                [&text](const uint8_t* data, uint32_t length) {
                                  if (text.size() > kManifestLimit) return false;
                                  text.append(reinterpret_cast<const char*>(data), length);
                                  return true;
                                });
  if (!received || text.empty()) return false;
  const std::string& key_text = http.host().manifest_key;
  if (key_text.empty()) return ParseManifest(text, manifest);
  // A build with a key uses nothing the key has not signed: a missing,
  // malformed or wrong signature is as good as no manifest at all.
  ManifestPublicKey key;
  std::string_view signed_part;
  ManifestSignature signature;
  if (!ParsePublicKey(key_text, key) || !SplitSignedManifest(text, signed_part, signature) ||
      !VerifyManifestSignature(signed_part, signature, key)) {
    return false;
  }
  return ParseManifest(std::string(signed_part), manifest);
}

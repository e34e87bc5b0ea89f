// Copies of the manifests publish has replaced. Players who fetched one of them
// may still be downloading what it names, so prune keeps those files. The
// copies lie beside arquivos/, where the file host serves nothing (the
// launcher requests only arquivos/launcher/).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/publish/platform.h"

namespace publish {

constexpr const char* kHistoryFolder = "manifest-history";

// Keeps `text`, the manifest about to be replaced, as the next numbered copy
// (written whole under a temporary name, flushed, renamed). false with `error`.
bool KeepReplacedManifest(const fs::path& tree, const std::string& text, std::string& error);

struct HistoryCopy {
  fs::path path;
  uint64_t number = 0;        // 1 for the first manifest ever replaced
  fs::file_time_type replaced;  // when it stopped being the current one
};

// Every copy, newest (highest number) first; names that are not copies are left out.
std::vector<HistoryCopy> ListHistory(const fs::path& tree);

}  // namespace publish

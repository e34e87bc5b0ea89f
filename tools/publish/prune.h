// Reclaiming space: the bodies and patches no recent manifest names.
#pragma once
#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tools/publish/publish.h"
#include "update/manifest.h"

namespace publish {

// Every file under the tree that a player reading `manifest` may request, or
// that the next publish needs: its bodies, the bases of its patches, its
// patches and its launcher exe. Tree-relative "/"-paths.
std::set<std::string> NamedFiles(const Manifest& manifest);

struct PruneOptions {
  fs::path tree;
  unsigned keep = 3;                                   // the current manifest and the newest keep - 1 copies
  std::chrono::seconds min_age = std::chrono::hours(24);  // nothing younger goes
  bool dry_run = false;
};

struct PrunedFile {
  std::string path;  // tree-relative
  uint64_t bytes = 0;
};

struct PruneReport {
  std::vector<PrunedFile> removed;  // or, on a dry run, what would be
  uint64_t bytes = 0;
  uint64_t kept = 0;                // bodies and patches left in place
  std::vector<std::string> problems;  // why the tree was refused (exit 1) or what could not be deleted (exit 3)
};

// Deletes the bodies and patches that neither the current manifest nor the
// newest keep - 1 replaced ones name, nor any replaced manifest younger than
// min_age, and that are themselves older than min_age; then the copies of
// manifests that no longer protect anything. Refuses a tree with a publish in
// progress or a manifest the launcher's parser rejects.
ExitCode Prune(const PruneOptions& options, PruneReport& report);

}  // namespace publish

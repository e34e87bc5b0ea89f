// Patch bodies on the file host: for a changed file of at least 1 MiB, the
// bytes that turn its previous content into the new one, gzip-wrapped like
// every body and named by both digests. The previous content comes from its
// own body in files/, which the tool never deletes; that folder is all the
// tool keeps of earlier versions.
#pragma once
#include <cstdint>
#include <string>

#include "tools/publish/platform.h"

namespace publish {

constexpr uint64_t kPatchMinSize = 1048576;

struct PatchJob {
  std::string base_sha256, sha256;
  fs::path source;         // the new content's file
  uint64_t size = 0;       // its size
  uint64_t body_size = 0;  // its whole gzip body: a patch must be under half of it
};

enum class PatchResult {
  Made,        // written by this run
  Reused,      // already on the host
  NotWorthIt,  // not under half the whole body
  NoBase,      // the previous content's body is gone
  Failed,      // a read or write failed (error set)
};

// Makes or finds the patch of `job`; patch_size is its body's size when Made or Reused.
PatchResult PublishPatch(const fs::path& bodies_dir, const fs::path& patches_dir, const PatchJob& job, int level,
                         uint64_t& patch_size, std::string& error);

// Applies the patch body at `patch` to the content of the base body, as the
// launcher would; empty when the result is target_size bytes with the digest
// sha256, else what went wrong.
std::string CheckPatchBody(const fs::path& patch, const fs::path& base_body, const std::string& sha256,
                           uint64_t target_size);

}  // namespace publish

// Packs on the file host: the bodies of small files, concatenated byte for
// byte, so that a player's launcher fetches many of them in one request. Cut
// by content rather than by count, so that an edited or added file changes
// the pack it lies in and leaves the others as they were.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tools/publish/platform.h"
#include "update/manifest.h"

namespace publish {

// Bodies under this go in packs. Above it a body fills enough of a round trip
// on its own (1 MiB at 150 ms is 56 Mbit/s), and a larger member would make an
// update of one file fetch much for little.
constexpr uint64_t kPackMemberLimit = 1u << 20;
// A pack ends after a member whose digest says so once the pack holds
// kPackMinSize; the chance grows with the member's bytes so that packs average
// about kPackMinSize + kPackCutBytes (4 MiB), and none passes kPackMaxSize.
constexpr uint64_t kPackMinSize = 1u << 20;
constexpr uint64_t kPackCutBytes = 3u << 20;
constexpr uint64_t kPackMaxSize = 8u << 20;

struct PackCandidate {
  std::string sha256;      // the content
  uint64_t body_size = 0;  // its body's bytes
};

// Cuts one client's small bodies, in manifest order, into packs: the indices
// of each pack's members. Only the members around a change move.
std::vector<std::vector<size_t>> GroupIntoPacks(const std::vector<PackCandidate>& bodies);

struct PackCounts {
  uint64_t made = 0, reused = 0;
};

// The packs of a manifest's files (its order, each client apart): a pack of
// the previous manifest with the same members is reused when its file is
// there with its size; the others are written from the bodies in bodies_dir.
// false with error set on an I/O failure.
bool PublishPacks(const fs::path& packs_dir, const fs::path& bodies_dir, const Manifest& manifest,
                  const Manifest& previous, std::vector<PackEntry>& packs, PackCounts& counts, std::string& error);

// The pack files a manifest names, relative to the tree's root ("/"-separated).
std::set<std::string> NamedPackFiles(const Manifest& manifest);

// Every fault of one pack's file: its size, its digest, and each member
// inflating, as the launcher does, to the size and digest of its file.
std::vector<std::string> CheckPack(const fs::path& tree, const PackEntry& pack, const Manifest& manifest);

}  // namespace publish

// Packs: many small bodies in one file on the host, so that a far player's
// install costs a few requests rather than one per file. A pack is the plain
// concatenation of whole gzip bodies, each inflated and verified on its own
// exactly like a body fetched alone. No Windows header: the parsing, the
// choice of packs and the cutting of a pack's bytes into members are tested
// natively.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/client_table.h"
#include "app/text.h"

struct PackMember {
  std::string sha256;   // the content it inflates to: an "f" line's sha256 of the pack's client
  uint64_t offset = 0;  // where its gzip body starts in the pack
  uint64_t length = 0;  // the body's bytes
};

struct PackEntry {
  ClientKind client = ClientKind::OTClient;
  std::string sha256;  // of the pack's bytes; also its name on the host
  uint64_t size = 0;   // the pack's bytes
  WideString path;     // request path on the file host, under "/arquivos/"
  std::vector<PackMember> members;  // by ascending offset, none overlapping
};

struct Manifest;
struct FileEntry;

// The "k" line: "k", client key, pack SHA-256, pack size, request path, then
// per member its content's SHA-256, offset and length. Checks everything the
// line itself can tell: digests, decimal numbers, members inside the pack,
// ascending and not overlapping, no content twice. nullptr when it passes.
const char* ParsePackLine(std::string_view line, PackEntry& pack);
// The contents the "f" lines name, per client (index ClientIndex).
struct ClientContents {
  std::set<std::string> of[kClientCount];
};
ClientContents ContentsNamed(const std::vector<FileEntry>& files);
// Why no "f" line of its client names a member's content, or nullptr.
const char* PackMemberProblem(const PackEntry& pack, const ClientContents& contents);
std::string FormatPackLine(const PackEntry& pack);

// What a manifest names under packs: each pack's request path.
std::vector<std::string> PackRequestPaths(const Manifest& manifest);

// A pack is fetched when the members needed of it are at least two (one is
// better fetched alone) and make up at least half its bytes: the rest is paid
// in bandwidth, a single body each in round trips.
bool PackWorthFetching(uint64_t needed_bytes, size_t needed_members, uint64_t pack_size);

// One pack to fetch: which items of a download list it brings, each with the
// index of its member.
struct PackFetch {
  size_t pack = 0;                // into Manifest::packs
  std::vector<size_t> items;      // positions in the download list, by member offset
  std::vector<size_t> members;    // the member of each item
};

// The packs worth fetching for a download list (manifest indices, in
// manifest order). An item may come from a pack when eligible says so (a
// patched file does not); each item from one pack at most, and one item per
// member (a second path with that content comes alone).
std::vector<PackFetch> PlanPackFetches(const Manifest& manifest, const std::vector<size_t>& to_fetch,
                                       const std::vector<bool>& eligible);

// The order of the download: each item alone, or the pack that brings it in
// place of the first item it brings. unit.pack is an index into the plan,
// kNoPack for a single item.
constexpr size_t kNoPack = static_cast<size_t>(-1);
struct FetchUnit {
  size_t pack = kNoPack;
  size_t item = 0;  // the single item, or the pack's first
};
std::vector<FetchUnit> FetchOrder(size_t items, const std::vector<PackFetch>& plan);

// Cuts a pack's bytes, as they arrive, into the wanted members' bytes.
class PackCutter {
 public:
  struct Range {
    uint64_t offset = 0, length = 0;
  };
  enum class Take { Next, DropMember, Stop };
  // Gets member i's next piece; last: its body ends with this piece.
  using Sink = std::function<Take(size_t member, const uint8_t* data, uint32_t length, bool last)>;

  // wanted: by ascending offset, not overlapping.
  explicit PackCutter(std::vector<Range> wanted) : wanted_(std::move(wanted)) {}
  // false when the sink said Stop.
  bool Feed(const uint8_t* data, uint32_t length, const Sink& sink);
  uint64_t position() const { return position_; }
  // Every wanted member went to the sink to its end (dropped ones too).
  bool Complete() const { return next_ >= wanted_.size(); }

 private:
  std::vector<Range> wanted_;
  size_t next_ = 0;       // the member being cut, or the next one
  bool dropped_ = false;  // the sink gave up on member next_
  uint64_t position_ = 0;
};

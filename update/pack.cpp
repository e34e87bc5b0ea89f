#include "update/pack.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "update/manifest.h"
#include "update/manifest_rules.h"

namespace {

// Only digits, at most 19 of them: every such number fits, and a sum of two
// stays below 2^64.
bool ReadStrictNumber(std::string_view field, uint64_t& value) {
  if (field.empty() || field.size() > 19) return false;
  value = 0;
  for (const char c : field) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

}  // namespace

const char* ParsePackLine(std::string_view line, PackEntry& pack) {
  std::vector<std::string_view> fields;
  ForEachPiece(line, '\t', [&fields](std::string_view field) { fields.push_back(field); });
  if (fields.size() < 8 || (fields.size() - 5) % 3 != 0) return "a \"k\" line has 5 fields and 3 per member";
  pack = PackEntry();
  bool known = false;
  for (const ClientKind kind : kClientKinds) {
    if (fields[1] == InfoOf(kind).key) {
      pack.client = kind;
      known = true;
    }
  }
  if (!known) return "unknown client in the \"k\" line";
  if (!IsLowerHex64(fields[2])) return "bad pack SHA-256 in the \"k\" line";
  if (!ReadStrictNumber(fields[3], pack.size)) return "bad pack size in the \"k\" line";
  if (!IsLauncherRequestPath(fields[4])) return "bad request path in the \"k\" line";
  pack.sha256.assign(fields[2]);
  pack.path = Utf8ToWide(std::string(fields[4]));
  std::set<std::string_view> contents;
  uint64_t end = 0;
  for (size_t f = 5; f < fields.size(); f += 3) {
    PackMember member;
    if (!IsLowerHex64(fields[f])) return "bad member SHA-256 in the \"k\" line";
    if (!ReadStrictNumber(fields[f + 1], member.offset) || !ReadStrictNumber(fields[f + 2], member.length) ||
        member.length == 0) {
      return "bad member offset or length in the \"k\" line";
    }
    if (member.offset < end) return "members out of order or overlapping in the \"k\" line";
    end = member.offset + member.length;
    if (end > pack.size) return "a member past the end of the pack in the \"k\" line";
    if (!contents.insert(fields[f]).second) return "one content twice in the \"k\" line";
    member.sha256.assign(fields[f]);
    pack.members.push_back(std::move(member));
  }
  return nullptr;
}

ClientContents ContentsNamed(const std::vector<FileEntry>& files) {
  ClientContents contents;
  for (const FileEntry& entry : files) {
    if (IsClient(entry.client)) contents.of[ClientIndex(entry.client)].insert(entry.sha256);
  }
  return contents;
}

const char* PackMemberProblem(const PackEntry& pack, const ClientContents& contents) {
  const std::set<std::string>& named = contents.of[ClientIndex(pack.client)];
  for (const PackMember& member : pack.members) {
    if (named.count(member.sha256) == 0) return "a member of the \"k\" line is no file of its client";
  }
  return nullptr;
}

std::string FormatPackLine(const PackEntry& pack) {
  std::string line = std::string("k\t") + InfoOf(pack.client).key + "\t" + pack.sha256 + "\t" +
                     std::to_string(pack.size) + "\t" + WideToUtf8(pack.path);
  for (const PackMember& member : pack.members) {
    line += "\t" + member.sha256 + "\t" + std::to_string(member.offset) + "\t" + std::to_string(member.length);
  }
  return line;
}

std::vector<std::string> PackRequestPaths(const Manifest& manifest) {
  std::vector<std::string> paths;
  for (const PackEntry& pack : manifest.packs) paths.push_back(WideToUtf8(pack.path));
  return paths;
}

bool PackWorthFetching(uint64_t needed_bytes, size_t needed_members, uint64_t pack_size) {
  return needed_members >= 2 && needed_bytes >= pack_size - pack_size / 2;
}

std::vector<PackFetch> PlanPackFetches(const Manifest& manifest, const std::vector<size_t>& to_fetch,
                                       const std::vector<bool>& eligible) {
  // (client, content) -> the first eligible item with it, not yet claimed.
  std::map<std::pair<ClientKind, std::string>, size_t> open;
  for (size_t k = to_fetch.size(); k-- > 0;) {
    const FileEntry& entry = manifest.files[to_fetch[k]];
    if (eligible[k]) open[{entry.client, entry.sha256}] = k;
  }
  std::vector<PackFetch> plan;
  for (size_t p = 0; p < manifest.packs.size(); ++p) {
    const PackEntry& pack = manifest.packs[p];
    PackFetch fetch;
    fetch.pack = p;
    uint64_t needed = 0;
    for (size_t m = 0; m < pack.members.size(); ++m) {
      const auto it = open.find({pack.client, pack.members[m].sha256});
      if (it == open.end()) continue;
      fetch.items.push_back(it->second);
      fetch.members.push_back(m);
      needed += pack.members[m].length;
    }
    if (!PackWorthFetching(needed, fetch.items.size(), pack.size)) continue;
    for (const size_t item : fetch.items) open.erase({pack.client, manifest.files[to_fetch[item]].sha256});
    plan.push_back(std::move(fetch));
  }
  return plan;
}

std::vector<FetchUnit> FetchOrder(size_t items, const std::vector<PackFetch>& plan) {
  std::vector<size_t> pack_of(items, kNoPack);
  for (size_t p = 0; p < plan.size(); ++p) {
    for (const size_t item : plan[p].items) pack_of[item] = p;
  }
  std::vector<FetchUnit> order;
  std::vector<bool> placed(plan.size(), false);
  for (size_t k = 0; k < items; ++k) {
    if (pack_of[k] == kNoPack) {
      order.push_back(FetchUnit{kNoPack, k});
    } else if (!placed[pack_of[k]]) {
      placed[pack_of[k]] = true;
      order.push_back(FetchUnit{pack_of[k], k});
    }
  }
  return order;
}

bool PackCutter::Feed(const uint8_t* data, uint32_t length, const Sink& sink) {
  const uint64_t chunk_end = position_ + length;
  while (next_ < wanted_.size()) {
    const Range& range = wanted_[next_];
    const uint64_t range_end = range.offset + range.length;
    if (range.offset >= chunk_end) break;
    const uint64_t from = std::max(range.offset, position_);
    const uint64_t to = std::min(range_end, chunk_end);
    const bool last = to == range_end;
    if (!dropped_) {
      const Take take = sink(next_, data + (from - position_), static_cast<uint32_t>(to - from), last);
      if (take == Take::Stop) return false;
      if (take == Take::DropMember) dropped_ = true;
    }
    if (!last) break;
    ++next_;
    dropped_ = false;
  }
  position_ = chunk_end;
  return true;
}

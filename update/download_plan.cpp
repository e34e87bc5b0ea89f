#include "update/download_plan.h"

#include "update/download_progress.h"
#include "update/resume_state.h"

#include <set>

std::vector<size_t> SelectEntries(const std::vector<FileEntry>& files, const bool selection[kClientCount],
                                  const TargetPath& target, const PathKey& key) {
  std::vector<size_t> picked;
  std::set<WideString> seen;
  // Walk backwards so the last entry of each target is the one kept.
  for (size_t i = files.size(); i-- > 0;) {
    const ClientKind client = files[i].client;
    if (!IsClient(client) || !selection[ClientIndex(client)]) continue;
    if (!seen.insert(key(target(files[i]))).second) continue;
    picked.push_back(i);
  }
  return std::vector<size_t>(picked.rbegin(), picked.rend());
}

std::set<WideString> TargetKeys(const std::vector<FileEntry>& files, const TargetPath& target, const PathKey& key) {
  std::set<WideString> keys;
  for (const FileEntry& entry : files) {
    if (IsClient(entry.client)) keys.insert(key(target(entry)));
  }
  return keys;
}

WideString PartPathFor(const WideString& target, const std::set<WideString>& target_keys, const PathKey& key) {
  WideString part = target + u".part";
  // Terminates: every round makes the name longer, and the set is finite.
  while (target_keys.count(key(part)) != 0) part += u".part";
  return part;
}

WideString StatePathFor(const WideString& part_path, const std::set<WideString>& target_keys, const PathKey& key) {
  const WideString state = ResumeStatePath(part_path);
  return target_keys.count(key(state)) != 0 || target_keys.count(key(state + u".new")) != 0 ? WideString() : state;
}

WideString KeptPatchPath(const WideString& part_path) { return part_path + u".patch"; }

bool KeptPatchNamesFree(const WideString& part_path, const std::set<WideString>& target_keys, const PathKey& key) {
  const WideString kept = KeptPatchPath(part_path);
  for (const WideString& name : {kept, ResumeStatePath(kept), ResumeStatePath(kept) + u".new"}) {
    if (target_keys.count(key(name)) != 0) return false;
  }
  return true;
}

bool IsStagingName(const WideString& path) {
  for (const WideString end : {u".part", u".part.state", u".part.state.new", u".part.patch", u".part.patch.state",
                              u".part.patch.state.new"}) {
    if (path.size() > end.size() && path.compare(path.size() - end.size(), end.size(), end) == 0) return true;
  }
  return false;
}

size_t RequestWindowEnd(const std::vector<uint64_t>& body_sizes, size_t current, size_t in_flight,
                        uint64_t bytes_ahead) {
  const size_t count = body_sizes.size();
  if (current >= count) return count;
  size_t end = current + 1;
  uint64_t in_front = 0;
  while (end < count && end - current < in_flight) {
    in_front = SaturatingAdd(in_front, body_sizes[end - 1]);
    if (in_front > bytes_ahead) break;
    ++end;
  }
  return end;
}

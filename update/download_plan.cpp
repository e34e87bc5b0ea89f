#include "update/download_plan.h"

#include <set>

std::vector<size_t> SelectEntries(const std::vector<FileEntry>& files, const bool selection[2],
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

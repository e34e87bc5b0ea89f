#include "update/download_plan.h"

#include <set>

std::vector<size_t> SelectEntries(const std::vector<FileEntry>& files, const bool selection[2],
                                  const TargetPath& target, const PathKey& key) {
  std::vector<size_t> picked;
  std::set<WideString> seen;
  // Walk backwards so the last entry of each target is the one kept.
  for (size_t i = files.size(); i-- > 0;) {
    const int32_t client = files[i].client;
    if (client != 0 && client != 1) continue;
    if (!selection[client]) continue;
    if (!seen.insert(key(target(files[i]))).second) continue;
    picked.push_back(i);
  }
  return std::vector<size_t>(picked.rbegin(), picked.rend());
}

std::set<WideString> TargetKeys(const std::vector<FileEntry>& files, const TargetPath& target, const PathKey& key) {
  std::set<WideString> keys;
  for (const FileEntry& entry : files) {
    if (entry.client == 0 || entry.client == 1) keys.insert(key(target(entry)));
  }
  return keys;
}

WideString PartPathFor(const WideString& target, const std::set<WideString>& target_keys, const PathKey& key) {
  WideString part = target + u".part";
  // Terminates: every round makes the name longer, and the set is finite.
  while (target_keys.count(key(part)) != 0) part += u".part";
  return part;
}

// The client folders as the publisher finds them: every file with its
// "/"-path, and every reason a file cannot be published.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/publish/platform.h"

namespace publish {

// A glob on the "/"-path inside a client folder: "*" matches within one piece,
// "**" across pieces ("**/" also matches no folder at all), "?" one character.
// An optional "otc:" or "classic:" in front limits it to that client.
struct PathPattern {
  int client = -1;  // -1: both clients
  std::string glob;
  std::string text;  // as given, for messages
};

bool ParsePattern(const std::string& text, PathPattern& pattern, std::string& error);
bool GlobMatch(const std::string& glob, const std::string& path);
bool PatternMatches(const PathPattern& pattern, int client, const std::string& path);

struct SourceFile {
  int client = 0;
  std::string path;  // UTF-8, "/"-separated, as written into the manifest
  fs::path full;
  uint64_t size = 0;  // when listed; the size that counts is the one hashed
  bool keep = false;
};

struct ScanResult {
  std::vector<SourceFile> files;       // sorted by client, then path bytes
  std::vector<std::string> problems;   // one line per file that cannot be published
  std::vector<std::string> warnings;
};

// Lists a client folder. Symbolic links are refused rather than followed: a
// link can point outside the folder or at itself, and what players get should
// be what lies in the folder. Excluded paths (files or whole folders) are left
// out before any other check.
void ScanClientFolder(const fs::path& root, int client, const std::vector<PathPattern>& excludes, ScanResult& result);

// The checks a published path must pass, on top of the launcher's own
// (ManifestPathProblem): names that only differ in case, which Windows would
// store as one file. Runs over the whole sorted list, adding problems.
void CheckWindowsNames(ScanResult& result);

// Where a published path may be too long for Windows' 260-character limit once
// under the player's install folder.
constexpr size_t kLongPathWarning = 160;

}  // namespace publish

#include "tools/publish/tree.h"

#include <algorithm>
#include <map>

#include "app/client_table.h"
#include "app/text.h"
#include "update/manifest_rules.h"

namespace publish {

namespace {

std::string Label(int client, const std::string& path) { return std::string("[") + ClientTable[client].key + "] " + path; }

// UTF-8 length of the character that starts with byte c.
size_t CharLength(unsigned char c) { return c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4; }

bool Match(const char* g, const char* p) {
  while (*g) {
    if (g[0] == '*' && g[1] == '*') {
      g += 2;
      if (*g == '/') {
        ++g;
        // "**/" stands for no folder or any number of whole folders.
        if (Match(g, p)) return true;
        for (const char* q = p; *q; ++q) {
          if (*q == '/' && Match(g, q + 1)) return true;
        }
        return false;
      }
      for (const char* q = p;; ++q) {
        if (Match(g, q)) return true;
        if (*q == '\0') return false;
      }
    }
    if (*g == '*') {
      ++g;
      for (const char* q = p;; ++q) {
        if (Match(g, q)) return true;
        if (*q == '\0' || *q == '/') return false;
      }
    }
    if (*p == '\0') return false;
    if (*g == '?') {
      if (*p == '/') return false;
      p += std::min(CharLength(static_cast<unsigned char>(*p)), std::char_traits<char>::length(p));
      ++g;
      continue;
    }
    if (*g != *p) return false;
    ++g;
    ++p;
  }
  return *p == '\0';
}

// Case folding as NTFS does it for the letters a client's file names use in
// practice: ASCII and the Latin-1 letters (accented Portuguese included).
std::string FoldCase(const std::string& path) {
  std::string folded = path;
  for (size_t i = 0; i < folded.size(); ++i) {
    const auto c = static_cast<unsigned char>(folded[i]);
    if (c >= 'A' && c <= 'Z') {
      folded[i] = static_cast<char>(c + 32);
    } else if (c == 0xC3 && i + 1 < folded.size()) {
      const auto d = static_cast<unsigned char>(folded[i + 1]);
      if (d >= 0x80 && d <= 0x9E && d != 0x97) folded[i + 1] = static_cast<char>(d + 32);
      ++i;
    }
  }
  return folded;
}

void ScanFolder(const fs::path& folder, const std::string& prefix, int client, const std::vector<PathPattern>& excludes,
                ScanResult& result) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  if (ec) {
    result.problems.push_back(Label(client, prefix.empty() ? "." : prefix) + ": cannot list folder: " + ec.message());
    return;
  }
  for (; it != end; it.increment(ec)) {
    const fs::path full = it->path();
    std::string name;
    if (!PathToUtf8(full.filename(), name)) {
      result.problems.push_back(Label(client, prefix + DisplayPath(full.filename())) +
                                ": name is not valid UTF-8 (rename it)");
      continue;
    }
    const std::string path = prefix + name;
    if (std::any_of(excludes.begin(), excludes.end(),
                    [&](const PathPattern& p) { return PatternMatches(p, client, path); })) {
      continue;
    }
    const fs::file_status status = it->symlink_status(ec);
    if (ec) {
      result.problems.push_back(Label(client, path) + ": " + ec.message());
      continue;
    }
    if (fs::is_symlink(status)) {
      result.problems.push_back(Label(client, path) + ": symbolic link; links are not followed, copy the file in");
    } else if (fs::is_directory(status)) {
      ScanFolder(full, path + "/", client, excludes, result);
    } else if (fs::is_regular_file(status)) {
      SourceFile file;
      file.client = client;
      file.path = path;
      file.full = full;
      file.size = it->file_size(ec);
      if (ec) {
        result.problems.push_back(Label(client, path) + ": " + ec.message());
        continue;
      }
      result.files.push_back(std::move(file));
    } else {
      result.problems.push_back(Label(client, path) + ": not a regular file (device, pipe or socket)");
    }
  }
  if (ec) result.problems.push_back(Label(client, prefix.empty() ? "." : prefix) + ": cannot list folder: " + ec.message());
}

}  // namespace

bool ParsePattern(const std::string& text, PathPattern& pattern, std::string& error) {
  pattern = PathPattern();
  pattern.text = text;
  pattern.glob = text;
  for (int c = 0; c < kClientCount; ++c) {
    const std::string key = std::string(ClientTable[c].key) + ":";
    if (text.compare(0, key.size(), key) == 0) {
      pattern.client = c;
      pattern.glob = text.substr(key.size());
    }
  }
  if (pattern.glob.empty() || pattern.glob[0] == '/' || pattern.glob.back() == '/' ||
      pattern.glob.find(':') != std::string::npos || pattern.glob.find('\\') != std::string::npos) {
    error = "bad pattern \"" + text + "\": a \"/\"-path inside the client folder, optionally after otc: or classic:";
    return false;
  }
  return true;
}

bool GlobMatch(const std::string& glob, const std::string& path) { return Match(glob.c_str(), path.c_str()); }

bool PatternMatches(const PathPattern& pattern, int client, const std::string& path) {
  return (pattern.client < 0 || pattern.client == client) && GlobMatch(pattern.glob, path);
}

void ScanClientFolder(const fs::path& root, int client, const std::vector<PathPattern>& excludes, ScanResult& result) {
  const size_t first = result.files.size();
  ScanFolder(root, "", client, excludes, result);
  std::sort(result.files.begin() + static_cast<std::ptrdiff_t>(first), result.files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
}

void CheckWindowsNames(ScanResult& result) {
  std::map<std::string, std::string> files[kClientCount];  // folded path -> path
  std::map<std::string, std::string> folders[kClientCount];  // folded folder path -> folder path
  for (const SourceFile& f : result.files) {
    if (const char* problem = ManifestPathProblem(f.path)) {
      result.problems.push_back(Label(f.client, f.path) + ": the launcher refuses this path: " + problem);
      continue;
    }
    const std::string folded = FoldCase(f.path);
    const auto [it, fresh] = files[f.client].emplace(folded, f.path);
    if (!fresh) {
      result.problems.push_back(Label(f.client, f.path) + ": same name as \"" + it->second + "\" on Windows (differs only in case)");
      continue;
    }
    for (size_t slash = f.path.find('/'); slash != std::string::npos; slash = f.path.find('/', slash + 1)) {
      folders[f.client].emplace(folded.substr(0, slash), f.path.substr(0, slash));
    }
    if (Utf8ToUtf16(f.path).size() > kLongPathWarning) {
      result.warnings.push_back(Label(f.client, f.path) + ": long path; may pass Windows' 260-character limit under the install folder");
    }
  }
  for (int c = 0; c < kClientCount; ++c) {
    for (const auto& [folded, path] : files[c]) {
      const auto clash = folders[c].find(folded);
      if (clash != folders[c].end()) {
        result.problems.push_back(Label(c, path) + ": same name as the folder \"" + clash->second + "\" on Windows");
      }
    }
  }
}

}  // namespace publish

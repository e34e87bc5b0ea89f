#include "tools/publish/prune.h"

#include <algorithm>

#include "tools/publish/body.h"
#include "tools/publish/history.h"
#include "tools/publish/packs.h"
#include "tools/publish/patches.h"
#include "tools/publish/tree_lock.h"
#include "update/host_layout.h"

namespace publish {

namespace {

bool IsHex(const std::string& s, size_t from, size_t count) {
  for (size_t i = from; i < from + count; ++i) {
    if (!((s[i] >= '0' && s[i] <= '9') || (s[i] >= 'a' && s[i] <= 'f'))) return false;
  }
  return true;
}

// Names publish gives bodies and patches; nothing else in their folders is ours to delete.
bool IsBodyName(const std::string& n) {
  return n.size() > 64 && IsHex(n, 0, 64) && n == host_layout::BodyFileName(n.substr(0, 64));
}
bool IsPatchName(const std::string& n) {
  return n.size() > 129 && IsHex(n, 0, 64) && IsHex(n, 65, 64) &&
         n == host_layout::PatchFileName(n.substr(0, 64), n.substr(65, 64));
}
bool IsPackName(const std::string& n) {
  return n.size() > 64 && IsHex(n, 0, 64) && n == host_layout::PackFileName(n.substr(0, 64));
}

bool ReadManifestFile(const fs::path& path, Manifest& manifest) {
  InFile in;
  if (!in.Open(path)) return false;
  std::string text;
  char buffer[65536];
  int64_t got;
  while ((got = in.Read(buffer, sizeof buffer)) > 0 && text.size() <= 2 * kManifestLimit) {
    text.append(buffer, static_cast<size_t>(got));
  }
  return got == 0 && ParseManifest(text, manifest);
}

std::string Relative(const fs::path& tree, const fs::path& path) {
  return DisplayPath(path.lexically_relative(tree).generic_string());
}

// Temporary files of a publish: one runs, or one was cut short and its
// leftovers want a look before anything else goes.
void FindTempFiles(const fs::path& tree, PruneReport& report) {
  const fs::path launcher_dir = tree / host_layout::kLauncherFolder;
  for (const fs::path& dir : {launcher_dir, launcher_dir / host_layout::kBodiesFolder,
                              launcher_dir / host_layout::kPatchesFolder, launcher_dir / host_layout::kPacksFolder,
                              tree / kHistoryFolder}) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (IsTempName(DisplayPath(it->path().filename()))) {
        report.problems.push_back("publish in progress (or interrupted): " + Relative(tree, it->path()));
      }
    }
  }
}

}  // namespace

std::set<std::string> NamedFiles(const Manifest& manifest) {
  std::set<std::string> named;
  // Paths from the tree's root: request paths without their "/".
  for (const FileEntry& e : manifest.files) named.insert(host_layout::BodyRequestPath(e.sha256).substr(1));
  for (const PatchEntry& p : manifest.patches) {
    named.insert(WideToUtf8(p.path).substr(1));
    named.insert(host_layout::BodyRequestPath(p.base_sha256).substr(1));  // the next publish diffs against it; verify checks the patch with it
  }
  if (!manifest.launcher_path.empty()) named.insert(WideToUtf8(manifest.launcher_path).substr(1));
  named.merge(NamedPackFiles(manifest));
  return named;
}

ExitCode Prune(const PruneOptions& options, PruneReport& report) {
  report = PruneReport();
  const fs::path& tree = options.tree;
  const fs::path launcher_dir = tree / host_layout::kLauncherFolder;
  const auto now = fs::file_time_type::clock::now();
  const auto old_enough = [&](fs::file_time_type t) { return now - t >= options.min_age; };

  TreeLock lock;
  bool busy = false;
  std::string error;
  if (!lock.Take(tree, TreeLock::Mode::Exclusive, busy, error) && busy) {
    report.problems.push_back("a publish is running on " + DisplayPath(tree));
    return kExitProblems;
  }
  FindTempFiles(tree, report);
  if (!report.problems.empty()) return kExitProblems;
  Manifest current;
  if (!ReadManifestFile(launcher_dir / host_layout::kManifestName, current)) {
    report.problems.push_back("no manifest the launcher reads at " + DisplayPath(launcher_dir / host_layout::kManifestName) +
                              "; without it nothing is known to be unused");
    return kExitProblems;
  }
  std::set<std::string> named = NamedFiles(current);
  std::vector<fs::path> doomed;
  const std::vector<HistoryCopy> history = ListHistory(tree);
  for (size_t i = 0; i < history.size(); ++i) {
    if (i + 1 >= options.keep && old_enough(history[i].replaced)) {
      doomed.push_back(history[i].path);
      continue;
    }
    Manifest earlier;
    if (!ReadManifestFile(history[i].path, earlier)) {
      report.problems.push_back("the launcher's parser rejects " + Relative(tree, history[i].path) +
                                "; move it away if it is not a manifest");
      return kExitProblems;
    }
    named.merge(NamedFiles(earlier));
  }

  const std::pair<const char*, bool (*)(const std::string&)> folders[] = {
      {host_layout::kBodiesFolder, IsBodyName},
      {host_layout::kPatchesFolder, IsPatchName},
      {host_layout::kPacksFolder, IsPackName}};
  for (const auto& [folder, ours] : folders) {
    std::error_code ec;
    for (fs::directory_iterator it(launcher_dir / folder, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = DisplayPath(it->path().filename());
      std::error_code e;
      if (!ours(name) || !fs::is_regular_file(it->symlink_status(e))) {
        continue;
      }
      const fs::file_time_type written = fs::last_write_time(it->path(), e);
      if (e || named.count(Relative(tree, it->path())) || !old_enough(written)) {
        ++report.kept;
        continue;
      }
      doomed.push_back(it->path());
    }
  }

  std::sort(doomed.begin(), doomed.end());
  for (const fs::path& path : doomed) {
    std::error_code e;
    const uint64_t bytes = fs::file_size(path, e);
    if (!options.dry_run && !fs::remove(path, e)) {
      report.problems.push_back("cannot delete " + DisplayPath(path) + ": " + e.message());
      continue;
    }
    report.removed.push_back(PrunedFile{Relative(tree, path), bytes});
    report.bytes += bytes;
  }
  return report.problems.empty() ? kExitOk : kExitIoError;
}

}  // namespace publish

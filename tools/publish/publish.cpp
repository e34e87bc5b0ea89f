#include "tools/publish/publish.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "app/client_table.h"
#include "app/text.h"
#include "tools/publish/body.h"
#include "tools/publish/parallel.h"
#include "tools/publish/progress.h"
#include "tools/publish/tree.h"
#include "update/manifest.h"
#include "update/manifest_rules.h"
#include "update/sha256.h"

namespace publish {

namespace {

bool IsInside(const fs::path& inner, const fs::path& outer) {
  std::error_code ec;
  const fs::path a = fs::weakly_canonical(inner, ec);
  if (ec) return false;
  const fs::path b = fs::weakly_canonical(outer, ec);
  if (ec) return false;
  auto ai = a.begin();
  for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
    if (bi->empty()) continue;  // a trailing separator
    if (ai == a.end() || *ai != *bi) return false;
  }
  return true;
}

std::string TempName(const std::string& name) { return "." + name + "." + std::to_string(ProcessId()) + ".tmp"; }

// Copies `source` to `temp` durably, digesting what it copied.
bool CopyDurably(const fs::path& source, const fs::path& temp, Digest& digest, std::string& error) {
  InFile in;
  OutFile out;
  if (!in.Open(source)) {
    error = "cannot open " + DisplayPath(source) + ": " + LastErrorText();
    return false;
  }
  if (!out.Create(temp)) {
    error = "cannot create " + DisplayPath(temp) + ": " + LastErrorText();
    return false;
  }
  std::vector<uint8_t> buffer(262144);
  Sha256 sha;
  digest.size = 0;
  while (true) {
    const int64_t got = in.Read(buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (got < 0) {
      error = "cannot read " + DisplayPath(source) + ": " + LastErrorText();
      return false;
    }
    if (got == 0) break;
    if (!out.Write(buffer.data(), static_cast<size_t>(got))) {
      error = "cannot write " + DisplayPath(temp) + ": " + LastErrorText();
      return false;
    }
    sha.Update(buffer.data(), static_cast<uint32_t>(got));
    digest.size += static_cast<uint64_t>(got);
  }
  digest.sha256 = sha.FinishHex();
  if (!out.Sync() || !out.Close()) {
    error = "cannot write " + DisplayPath(temp) + ": " + LastErrorText();
    return false;
  }
  return true;
}

struct Body {
  std::string sha256;
  uint64_t size = 0;
  size_t source = 0;  // index of the first file with this content
  uint64_t body_size = 0;
};

ExitCode Fail(PublishReport& report, ExitCode code, const std::string& error) {
  report.error = error;
  return code;
}

}  // namespace

std::string LauncherFileName(int32_t version, const std::string& sha256) {
  return "MorvelGlobalLauncher-" + std::to_string(version) + "-" + sha256.substr(0, 8) + ".exe";
}

ExitCode Publish(const PublishOptions& options, PublishReport& report) {
  report = PublishReport();
  std::error_code ec;

  // Options.
  if (options.level < 1 || options.level > 9) return Fail(report, kExitUsage, "the gzip level must be 1 to 9");
  std::vector<PathPattern> keep, exclude;
  for (const auto& [texts, patterns] : {std::make_pair(&options.keep, &keep), std::make_pair(&options.exclude, &exclude)}) {
    for (const std::string& text : *texts) {
      PathPattern p;
      std::string error;
      if (!ParsePattern(text, p, error)) return Fail(report, kExitUsage, error);
      patterns->push_back(p);
    }
  }
  if (options.client_dirs[0].empty() && options.client_dirs[1].empty()) {
    return Fail(report, kExitUsage, "nothing to publish: give --otc and/or --classic");
  }
  if (options.out.empty()) return Fail(report, kExitUsage, "give the tree's folder with --out");
  for (int c = 0; c < 2; ++c) {
    const fs::path& dir = options.client_dirs[c];
    if (dir.empty()) continue;
    if (!fs::is_directory(dir, ec)) return Fail(report, kExitUsage, "not a folder: " + DisplayPath(dir));
    if (IsInside(options.out, dir)) {
      return Fail(report, kExitUsage, "the tree " + DisplayPath(options.out) + " lies inside the client folder " + DisplayPath(dir));
    }
  }
  const bool with_launcher = !options.launcher_exe.empty();
  if (with_launcher) {
    if (!fs::is_regular_file(options.launcher_exe, ec)) {
      return Fail(report, kExitUsage, "not a file: " + DisplayPath(options.launcher_exe));
    }
    if (options.launcher_version < 1) return Fail(report, kExitUsage, "--launcher needs --launcher-version N (N >= 1)");
  } else if (options.launcher_version != 0) {
    return Fail(report, kExitUsage, "--launcher-version needs --launcher EXE: a version without its file makes players download by hand");
  }

  // Every file, and every reason to refuse one, before anything is written.
  ScanResult scan;
  for (int c = 0; c < 2; ++c) {
    if (!options.client_dirs[c].empty()) ScanClientFolder(options.client_dirs[c], c, exclude, scan);
  }
  CheckWindowsNames(scan);
  report.warnings = scan.warnings;
  if (!scan.problems.empty()) {
    report.problems = scan.problems;
    std::sort(report.problems.begin(), report.problems.end());
    return kExitProblems;
  }
  std::vector<SourceFile>& files = scan.files;
  if (files.empty()) {
    report.problems.push_back("no files to publish: the launcher treats a manifest without files as unusable");
    return kExitProblems;
  }
  std::vector<bool> pattern_used(keep.size(), false);
  for (SourceFile& f : files) {
    for (size_t k = 0; k < keep.size(); ++k) {
      if (PatternMatches(keep[k], f.client, f.path)) {
        f.keep = true;
        pattern_used[k] = true;
      }
    }
  }
  for (size_t k = 0; k < keep.size(); ++k) {
    if (!pattern_used[k]) report.warnings.push_back("keep pattern \"" + keep[k].text + "\" matches no file");
  }

  const fs::path launcher_dir = options.out / fs::path(kLauncherFolder).make_preferred();
  const fs::path bodies_dir = launcher_dir / kBodiesFolder;
  const fs::path manifest_path = launcher_dir / kManifestName;
  report.manifest = manifest_path;
  if (!with_launcher) {
    std::string old;
    Manifest previous;
    InFile in;
    if (in.Open(manifest_path)) {
      char buffer[65536];
      int64_t got;
      while ((got = in.Read(buffer, sizeof buffer)) > 0 && old.size() < kManifestLimit) old.append(buffer, static_cast<size_t>(got));
      if (ParseManifest(old, previous) && !previous.launcher_sha256.empty()) {
        report.warnings.push_back("the current manifest announces launcher " + std::to_string(previous.launcher_version) +
                                  "; without --launcher the new one drops it");
      }
    }
  }

  // Content digests.
  const unsigned jobs = JobCount(options.jobs);
  uint64_t total_bytes = 0;
  for (const SourceFile& f : files) total_bytes += f.size;
  std::vector<Digest> digests(files.size());
  std::mutex error_lock;
  std::string first_error;
  {
    Progress progress(options.progress, "hashing", files.size(), total_bytes);
    const bool ok = ParallelFor(files.size(), jobs, [&](size_t i) {
      std::string error;
      if (!HashFile(files[i].full, digests[i], error, &progress.bytes())) {
        std::lock_guard<std::mutex> hold(error_lock);
        if (first_error.empty()) first_error = error;
        return false;
      }
      progress.AddItem();
      return true;
    });
    if (!ok) return Fail(report, kExitIoError, first_error);
  }

  std::map<std::string, size_t> body_of_sha;
  std::vector<Body> bodies;
  for (size_t i = 0; i < files.size(); ++i) {
    report.bytes += digests[i].size;
    if (body_of_sha.emplace(digests[i].sha256, bodies.size()).second) {
      bodies.push_back(Body{digests[i].sha256, digests[i].size, i, 0});
    }
  }
  report.files = files.size();
  report.bodies = bodies.size();

  // Bodies: reuse what the host has, make the rest.
  fs::create_directories(bodies_dir, ec);
  if (ec) return Fail(report, kExitIoError, "cannot create " + DisplayPath(bodies_dir) + ": " + ec.message());
  std::vector<size_t> to_make;
  uint64_t make_bytes = 0;
  for (size_t b = 0; b < bodies.size(); ++b) {
    const fs::path target = bodies_dir / (bodies[b].sha256 + ".dl");
    if (BodyLooksPlausible(target, bodies[b].size, bodies[b].body_size)) {
      ++report.bodies_reused;
      continue;
    }
    const fs::file_status status = fs::symlink_status(target, ec);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
      return Fail(report, kExitIoError, DisplayPath(target) + " is in the way: not a regular file");
    }
    if (fs::exists(status)) {
      ++report.bodies_replaced;
      report.warnings.push_back("body " + bodies[b].sha256 + ".dl was damaged (size or header); made again");
    }
    to_make.push_back(b);
    make_bytes += bodies[b].size;
  }
  // Largest first, so one big file does not run alone at the end.
  std::sort(to_make.begin(), to_make.end(), [&](size_t a, size_t b) { return bodies[a].size > bodies[b].size; });
  {
    Progress progress(options.progress, "compressing", to_make.size(), make_bytes);
    std::atomic<uint64_t> out_bytes{0};
    const bool ok = ParallelFor(to_make.size(), jobs, [&](size_t k) {
      Body& body = bodies[to_make[k]];
      const SourceFile& source = files[body.source];
      const std::string name = body.sha256 + ".dl";
      const fs::path temp = bodies_dir / TempName(name);
      Digest read;
      std::string error;
      bool done = CompressFile(source.full, temp, options.level, read, body.body_size, error, &progress.bytes());
      if (done && (read.sha256 != body.sha256 || read.size != body.size)) {
        error = DisplayPath(source.full) + " changed while it was being published; publish again";
        done = false;
      }
      if (done && !MoveIntoPlace(temp, bodies_dir / name)) {
        error = "cannot rename " + DisplayPath(temp) + ": " + LastErrorText();
        done = false;
      }
      if (!done) {
        std::error_code ignore;
        fs::remove(temp, ignore);
        std::lock_guard<std::mutex> hold(error_lock);
        if (first_error.empty()) first_error = error;
        return false;
      }
      out_bytes += body.body_size;
      progress.AddItem();
      return true;
    });
    if (!ok) return Fail(report, kExitIoError, first_error);
    report.bodies_compressed = to_make.size();
    report.compressed_in = make_bytes;
    report.compressed_out = out_bytes.load();
  }

  // The launcher executable, under a name no other build shares.
  Digest launcher;
  std::string self_path;
  if (with_launcher) {
    std::string error;
    if (!HashFile(options.launcher_exe, launcher, error)) return Fail(report, kExitIoError, error);
    if (launcher.size == 0) return Fail(report, kExitUsage, "the launcher file is empty: " + DisplayPath(options.launcher_exe));
    const std::string name = LauncherFileName(options.launcher_version, launcher.sha256);
    const fs::path target = launcher_dir / name;
    self_path = std::string("/") + kLauncherFolder + "/" + name;
    Digest present;
    std::string ignore;
    if (!(fs::is_regular_file(fs::symlink_status(target, ec)) && HashFile(target, present, ignore) &&
          present.sha256 == launcher.sha256 && present.size == launcher.size)) {
      const fs::path temp = launcher_dir / TempName(name);
      Digest copied;
      bool done = CopyDurably(options.launcher_exe, temp, copied, error);
      if (done && (copied.sha256 != launcher.sha256 || copied.size != launcher.size)) {
        error = DisplayPath(options.launcher_exe) + " changed while it was being published; publish again";
        done = false;
      }
      if (done && !MoveIntoPlace(temp, target)) {
        error = "cannot rename " + DisplayPath(temp) + ": " + LastErrorText();
        done = false;
      }
      if (!done) {
        fs::remove(temp, ec);
        return Fail(report, kExitIoError, error);
      }
      report.launcher_copied = true;
    }
    report.launcher_request_path = self_path;
  }

  // The manifest, in a fixed order: client, then path.
  std::string text = std::string(kManifestHeader) + "\n";
  if (with_launcher) {
    text += "launcher\t" + std::to_string(options.launcher_version) + "\n";
    text += "self\t" + launcher.sha256 + "\t" + std::to_string(launcher.size) + "\t" + self_path + "\n";
  }
  for (size_t i = 0; i < files.size(); ++i) {
    const Body& body = bodies[body_of_sha.at(digests[i].sha256)];
    text += std::string("f\t") + ClientTable[files[i].client].key + "\t" + digests[i].sha256 + "\t" +
            std::to_string(digests[i].size) + "\t" + std::to_string(body.body_size) + "\t" + (files[i].keep ? "1" : "0") +
            "\t" + files[i].path + "\n";
  }

  // The launcher's own parser has the last word on what goes out.
  Manifest parsed;
  bool same = ParseManifest(text, parsed) && parsed.files.size() == files.size();
  for (size_t i = 0; same && i < files.size(); ++i) {
    WideString expected = Utf8ToWide(files[i].path);
    std::replace(expected.begin(), expected.end(), u'/', u'\\');
    same = parsed.files[i].path == expected && parsed.files[i].sha256 == digests[i].sha256 &&
           parsed.files[i].size == digests[i].size;
  }
  if (with_launcher) {
    same = same && parsed.launcher_version == options.launcher_version && parsed.launcher_sha256 == launcher.sha256 &&
           parsed.launcher_size == launcher.size;
  }
  if (!same) return Fail(report, kExitIoError, "internal error: the launcher would read the new manifest differently");
  if (text.size() > kManifestLimit) {
    report.problems.push_back("the manifest would be " + std::to_string(text.size()) +
                              " bytes; the launcher reads at most " + std::to_string(kManifestLimit));
    return kExitProblems;
  }

  // Bodies first, durably; then the manifest replaces the old one in one step.
  if (!SyncDirectory(bodies_dir) || !SyncDirectory(launcher_dir)) {
    return Fail(report, kExitIoError, "cannot flush " + DisplayPath(bodies_dir) + ": " + LastErrorText());
  }
  const fs::path temp = launcher_dir / TempName(kManifestName);
  OutFile out;
  bool done = out.Create(temp) && out.Write(text.data(), text.size()) && out.Sync();
  std::string error = done ? "" : "cannot write " + DisplayPath(temp) + ": " + LastErrorText();
  if (!out.Close() && done) {
    error = "cannot write " + DisplayPath(temp) + ": " + LastErrorText();
    done = false;
  }
  if (done && !MoveIntoPlace(temp, manifest_path)) {
    error = "cannot rename " + DisplayPath(temp) + ": " + LastErrorText();
    done = false;
  }
  if (!done) {
    fs::remove(temp, ec);
    return Fail(report, kExitIoError, error);
  }
  if (!SyncDirectory(launcher_dir)) {
    return Fail(report, kExitIoError, "cannot flush " + DisplayPath(launcher_dir) + ": " + LastErrorText());
  }
  return kExitOk;
}

}  // namespace publish

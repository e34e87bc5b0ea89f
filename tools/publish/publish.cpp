#include "tools/publish/publish.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "app/client_table.h"
#include "app/text.h"
#include "tools/publish/body.h"
#include "tools/publish/history.h"
#include "tools/publish/packs.h"
#include "tools/publish/parallel.h"
#include "tools/publish/patches.h"
#include "tools/publish/progress.h"
#include "tools/publish/signing.h"
#include "tools/publish/tree.h"
#include "tools/publish/tree_lock.h"
#include "update/host_layout.h"
#include "update/manifest.h"
#include "update/manifest_rules.h"

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
  const bool copied = DigestFile(in, source, digest, error, [&](const uint8_t* data, uint32_t length) {
    if (out.Write(data, length)) return true;
    error = "cannot write " + DisplayPath(temp) + ": " + LastErrorText();
    return false;
  });
  if (!copied) return false;
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

// A temporary file that goes when the run ends, whatever its outcome.
struct TempFile {
  fs::path path;
  ~TempFile() {
    std::error_code ignore;
    if (!path.empty()) fs::remove(path, ignore);
  }
};

// One run of Publish, filled in step by step.
struct Run {
  Run(const PublishOptions& o, PublishReport& r) : options(o), report(r) {}
  const PublishOptions& options;
  PublishReport& report;
  const uint64_t now = static_cast<uint64_t>(std::time(nullptr));
  std::vector<PathPattern> keep, exclude;
  bool with_launcher = false;
  fs::path launcher_dir, bodies_dir, patches_dir, packs_dir, manifest_path;
  Manifest previous;                             // the tree's manifest before this run (empty if none)
  std::string previous_text;                     // its bytes, when the launcher's parser takes them
  std::vector<SourceFile> files;
  std::vector<Digest> digests;                   // by file
  std::map<std::string, size_t> body_of_sha;     // into bodies
  std::vector<Body> bodies;                      // one per distinct content
  std::vector<size_t> to_make;                   // bodies the host lacks, largest first
  Digest launcher;
  fs::path launcher_source;                      // the exe as given, or its signed copy
  TempFile signed_launcher;
  TreeLock lock;                                 // shared: keeps prune out until the run ends
  std::string self_path;
  std::vector<PatchEntry> patches;
  std::vector<PackEntry> packs;
};

// What was read while copying or compressing must be what was hashed before.
bool UnchangedSince(const Digest& read, const std::string& sha256, uint64_t size, const fs::path& source,
                    std::string& error) {
  if (read.sha256 == sha256 && read.size == size) return true;
  error = DisplayPath(source) + " changed while it was being published; publish again";
  return false;
}

ExitCode CheckOptions(Run& run) {
  const PublishOptions& options = run.options;
  PublishReport& report = run.report;
  std::error_code ec;
  if (options.level < 1 || options.level > 9) return Fail(report, kExitUsage, "the gzip level must be 1 to 9");
  for (const auto& [texts, patterns] : {std::make_pair(&options.keep, &run.keep), std::make_pair(&options.exclude, &run.exclude)}) {
    for (const std::string& text : *texts) {
      PathPattern p;
      std::string error;
      if (!ParsePattern(text, p, error)) return Fail(report, kExitUsage, error);
      patterns->push_back(p);
    }
  }
  if (std::all_of(std::begin(options.client_dirs), std::end(options.client_dirs),
                  [](const fs::path& dir) { return dir.empty(); })) {
    return Fail(report, kExitUsage, "nothing to publish: give --otc and/or --classic");
  }
  if (options.out.empty()) return Fail(report, kExitUsage, "give the tree's folder with --out");
  // Checked before any work: launchers built with the public key refuse an
  // unsigned manifest, so there is no publishing without the key.
  if (options.key.empty()) {
    return Fail(report, kExitUsage, "give the signing key with --key (morvel-publish keygen makes one)");
  }
  std::string key_error;
  if (!CanSignWith(options.key, key_error)) return Fail(report, kExitUsage, key_error);
  for (int c = 0; c < kClientCount; ++c) {
    const fs::path& dir = options.client_dirs[c];
    if (dir.empty()) continue;
    if (!fs::is_directory(dir, ec)) return Fail(report, kExitUsage, "not a folder: " + DisplayPath(dir));
    if (IsInside(options.out, dir)) {
      return Fail(report, kExitUsage, "the tree " + DisplayPath(options.out) + " lies inside the client folder " + DisplayPath(dir));
    }
  }
  run.with_launcher = !options.launcher_exe.empty();
  if (run.with_launcher) {
    if (!fs::is_regular_file(options.launcher_exe, ec)) {
      return Fail(report, kExitUsage, "not a file: " + DisplayPath(options.launcher_exe));
    }
    if (options.launcher_version < 1) return Fail(report, kExitUsage, "--launcher needs --launcher-version N (N >= 1)");
  } else if (options.launcher_version != 0) {
    return Fail(report, kExitUsage, "--launcher-version needs --launcher EXE: a version without its file makes players download by hand");
  }
  run.launcher_source = options.launcher_exe;
  const ExeSigning& signing = options.launcher_signing;
  if (!signing.cert.empty() || !signing.key.empty() || !signing.timestamp_url.empty()) {
    if (!run.with_launcher) return Fail(report, kExitUsage, "--sign-cert and --sign-key sign the --launcher EXE; give it too");
    if (signing.cert.empty() || signing.key.empty()) return Fail(report, kExitUsage, "--sign-cert and --sign-key go together");
    for (const fs::path& file : {signing.cert, signing.key}) {
      if (!fs::is_regular_file(file, ec)) return Fail(report, kExitUsage, "not a file: " + DisplayPath(file));
    }
  }
  run.launcher_dir = options.out / fs::path(host_layout::kLauncherFolder).make_preferred();
  run.bodies_dir = run.launcher_dir / host_layout::kBodiesFolder;
  run.patches_dir = run.launcher_dir / host_layout::kPatchesFolder;
  run.packs_dir = run.launcher_dir / host_layout::kPacksFolder;
  run.manifest_path = run.launcher_dir / host_layout::kManifestName;
  return kExitOk;
}

// Waits for a prune of the tree to end.
ExitCode LockTree(Run& run) {
  std::error_code ec;
  fs::create_directories(run.options.out, ec);
  if (ec) return Fail(run.report, kExitIoError, "cannot create " + DisplayPath(run.options.out) + ": " + ec.message());
  bool busy;
  std::string error;
  return run.lock.Take(run.options.out, TreeLock::Mode::Shared, busy, error) ? kExitOk
                                                                              : Fail(run.report, kExitIoError, error);
}

// Every file, and every reason to refuse one, before anything is written.
ExitCode ScanSources(Run& run) {
  PublishReport& report = run.report;
  ScanResult scan;
  for (int c = 0; c < kClientCount; ++c) {
    if (!run.options.client_dirs[c].empty()) ScanClientFolder(run.options.client_dirs[c], c, run.exclude, scan);
  }
  CheckWindowsNames(scan);
  report.warnings = scan.warnings;
  if (!scan.problems.empty()) {
    report.problems = scan.problems;
    std::sort(report.problems.begin(), report.problems.end());
    return kExitProblems;
  }
  run.files = std::move(scan.files);
  if (run.files.empty()) {
    report.problems.push_back("no files to publish: the launcher treats a manifest without files as unusable");
    return kExitProblems;
  }
  std::vector<bool> pattern_used(run.keep.size(), false);
  for (SourceFile& f : run.files) {
    for (size_t k = 0; k < run.keep.size(); ++k) {
      if (PatternMatches(run.keep[k], f.client, f.path)) {
        f.keep = true;
        pattern_used[k] = true;
      }
    }
  }
  for (size_t k = 0; k < run.keep.size(); ++k) {
    if (!pattern_used[k]) report.warnings.push_back("keep pattern \"" + run.keep[k].text + "\" matches no file");
  }
  return kExitOk;
}

// The manifest this run replaces: what players have now, which patches start
// from. A run without --launcher drops the "self" line it may have.
ExitCode ReadPreviousManifest(Run& run) {
  run.report.manifest = run.manifest_path;
  std::string old;
  InFile in;
  if (!in.Open(run.manifest_path)) return kExitOk;
  char buffer[65536];
  int64_t got;
  while ((got = in.Read(buffer, sizeof buffer)) > 0 && old.size() < kManifestLimit) old.append(buffer, static_cast<size_t>(got));
  if (!ParseManifest(old, run.previous)) {
    run.previous = Manifest();
    return kExitOk;
  }
  run.previous_text = old;
  if (run.previous.serial == UINT64_MAX) {
    return Fail(run.report, kExitIoError, "the current manifest's serial is at its maximum; no later one can follow it");
  }
  if (!run.with_launcher && !run.previous.launcher_sha256.empty()) {
    run.report.warnings.push_back("the current manifest announces launcher " + std::to_string(run.previous.launcher_version) +
                                  "; without --launcher the new one drops it");
  }
  return kExitOk;
}

// Content digests, then one body per distinct content.
ExitCode HashSources(Run& run) {
  const std::vector<SourceFile>& files = run.files;
  uint64_t total_bytes = 0;
  for (const SourceFile& f : files) total_bytes += f.size;
  run.digests.resize(files.size());
  std::mutex error_lock;
  std::string first_error;
  {
    Progress progress(run.options.progress, "hashing", files.size(), total_bytes);
    const bool ok = ParallelFor(files.size(), JobCount(run.options.jobs), [&](size_t i) {
      std::string error;
      if (!HashFile(files[i].full, run.digests[i], error, &progress.bytes())) {
        std::lock_guard<std::mutex> hold(error_lock);
        if (first_error.empty()) first_error = error;
        return false;
      }
      progress.AddItem();
      return true;
    });
    if (!ok) return Fail(run.report, kExitIoError, first_error);
  }
  for (size_t i = 0; i < files.size(); ++i) {
    run.report.bytes += run.digests[i].size;
    if (run.body_of_sha.emplace(run.digests[i].sha256, run.bodies.size()).second) {
      run.bodies.push_back(Body{run.digests[i].sha256, run.digests[i].size, i, 0});
    }
  }
  run.report.files = files.size();
  run.report.bodies = run.bodies.size();
  return kExitOk;
}

// Reuses what the host has; lists the rest to be made.
ExitCode PlanBodies(Run& run) {
  PublishReport& report = run.report;
  std::error_code ec;
  fs::create_directories(run.bodies_dir, ec);
  if (ec) return Fail(report, kExitIoError, "cannot create " + DisplayPath(run.bodies_dir) + ": " + ec.message());
  for (size_t b = 0; b < run.bodies.size(); ++b) {
    Body& body = run.bodies[b];
    const fs::path target = run.bodies_dir / host_layout::BodyFileName(body.sha256);
    if (BodyLooksPlausible(target, body.size, body.body_size)) {
      ++report.bodies_reused;
      continue;
    }
    const fs::file_status status = fs::symlink_status(target, ec);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
      return Fail(report, kExitIoError, DisplayPath(target) + " is in the way: not a regular file");
    }
    if (fs::exists(status)) {
      ++report.bodies_replaced;
      report.warnings.push_back("body " + body.sha256 + ".dl was damaged (size or header); made again");
    }
    run.to_make.push_back(b);
  }
  // Largest first, so one big file does not run alone at the end.
  std::sort(run.to_make.begin(), run.to_make.end(),
            [&](size_t a, size_t b) { return run.bodies[a].size > run.bodies[b].size; });
  return kExitOk;
}

ExitCode CompressBodies(Run& run) {
  uint64_t make_bytes = 0;
  for (size_t b : run.to_make) make_bytes += run.bodies[b].size;
  Progress progress(run.options.progress, "compressing", run.to_make.size(), make_bytes);
  std::atomic<uint64_t> out_bytes{0};
  std::mutex error_lock;
  std::string first_error;
  const bool ok = ParallelFor(run.to_make.size(), JobCount(run.options.jobs), [&](size_t k) {
    Body& body = run.bodies[run.to_make[k]];
    const SourceFile& source = run.files[body.source];
    const std::string name = host_layout::BodyFileName(body.sha256);
    const fs::path temp = run.bodies_dir / TempName(name);
    Digest read;
    std::string error;
    const bool written =
        CompressFile(source.full, temp, run.options.level, read, body.body_size, error, &progress.bytes()) &&
        UnchangedSince(read, body.sha256, body.size, source.full, error);
    if (!MoveTempIntoPlace(temp, run.bodies_dir / name, written, error)) {
      std::lock_guard<std::mutex> hold(error_lock);
      if (first_error.empty()) first_error = error;
      return false;
    }
    out_bytes += body.body_size;
    progress.AddItem();
    return true;
  });
  if (!ok) return Fail(run.report, kExitIoError, first_error);
  run.report.bodies_compressed = run.to_make.size();
  run.report.compressed_in = make_bytes;
  run.report.compressed_out = out_bytes.load();
  return kExitOk;
}

// Patches from the previous version of each changed file of at least 1 MiB,
// plus the previous run's patches that still lead to a current content.
ExitCode MakePatches(Run& run) {
  std::map<std::pair<int, std::string>, const FileEntry*> before;  // (client, path) -> previous entry
  for (const FileEntry& e : run.previous.files) before[{static_cast<int>(e.client), ManifestPath(e.path)}] = &e;
  std::map<std::pair<std::string, std::string>, PatchJob> jobs;  // by (base, target)
  for (size_t i = 0; i < run.files.size(); ++i) {
    const Body& body = run.bodies[run.body_of_sha.at(run.digests[i].sha256)];
    const auto old = before.find({run.files[i].client, run.files[i].path});
    if (run.files[i].keep || body.size < kPatchMinSize || old == before.end() || old->second->sha256 == body.sha256) continue;
    jobs.emplace(std::make_pair(old->second->sha256, body.sha256),
                 PatchJob{old->second->sha256, body.sha256, run.files[body.source].full, body.size, body.body_size});
  }
  for (const PatchEntry& p : run.previous.patches) {
    const auto body = run.body_of_sha.find(p.sha256);
    if (body == run.body_of_sha.end() ||
        WideToUtf8(p.path) != host_layout::PatchRequestPath(p.base_sha256, p.sha256)) {
      continue;
    }
    const Body& b = run.bodies[body->second];
    jobs.emplace(std::make_pair(p.base_sha256, p.sha256), PatchJob{p.base_sha256, p.sha256, run.files[b.source].full, b.size, b.body_size});
  }
  if (jobs.empty()) return kExitOk;
  std::error_code ec;
  fs::create_directories(run.patches_dir, ec);
  if (ec) return Fail(run.report, kExitIoError, "cannot create " + DisplayPath(run.patches_dir) + ": " + ec.message());

  std::vector<const PatchJob*> list;
  for (const auto& job : jobs) list.push_back(&job.second);
  std::vector<PatchResult> results(list.size());
  std::vector<uint64_t> sizes(list.size());
  std::mutex error_lock;
  std::string first_error;
  Progress progress(run.options.progress, "patching", list.size(), 0);
  // Each job holds both contents in memory: two at a time at most.
  const bool ok = ParallelFor(list.size(), std::min(2u, JobCount(run.options.jobs)), [&](size_t k) {
    std::string error;
    results[k] = PublishPatch(run.bodies_dir, run.patches_dir, *list[k], run.options.level, sizes[k], error);
    progress.AddItem();
    if (results[k] != PatchResult::Failed) return true;
    std::lock_guard<std::mutex> hold(error_lock);
    if (first_error.empty()) first_error = error;
    return false;
  });
  if (!ok) return Fail(run.report, kExitIoError, first_error);
  for (size_t k = 0; k < list.size(); ++k) {
    if (results[k] == PatchResult::NotWorthIt) ++run.report.patches_not_worth_it;
    if (results[k] != PatchResult::Made && results[k] != PatchResult::Reused) continue;
    if (results[k] == PatchResult::Made) ++run.report.patches_made;
    PatchEntry& p = run.patches.emplace_back();
    p.sha256 = list[k]->sha256;
    p.base_sha256 = list[k]->base_sha256;
    p.download_size = sizes[k];
    p.path = Utf8ToWide(host_layout::PatchRequestPath(p.base_sha256, p.sha256));
  }
  run.report.patches = run.patches.size();
  return kExitOk;
}

// Signed before anything is hashed, so the signed file is what players verify
// and run.
ExitCode SignLauncher(Run& run) {
  if (run.options.launcher_signing.cert.empty()) return kExitOk;
  std::error_code ec;
  fs::create_directories(run.launcher_dir, ec);
  if (ec) return Fail(run.report, kExitIoError, "cannot create " + DisplayPath(run.launcher_dir) + ": " + ec.message());
  run.signed_launcher.path = run.launcher_dir / TempName("signed.exe");
  fs::remove(run.signed_launcher.path, ec);
  std::string error;
  if (!SignExe(run.options.launcher_signing, run.options.launcher_exe, run.signed_launcher.path, error)) {
    return Fail(run.report, kExitIoError, error);
  }
  run.launcher_source = run.signed_launcher.path;
  run.report.launcher_signed = true;
  return kExitOk;
}

// The launcher executable, under a name no other build shares.
ExitCode PlaceLauncher(Run& run) {
  if (!run.with_launcher) return kExitOk;
  const PublishOptions& options = run.options;
  std::error_code ec;
  std::string error;
  if (!HashFile(run.launcher_source, run.launcher, error)) return Fail(run.report, kExitIoError, error);
  if (run.launcher.size == 0) return Fail(run.report, kExitUsage, "the launcher file is empty: " + DisplayPath(options.launcher_exe));
  const std::string name = LauncherFileName(options.launcher_version, run.launcher.sha256);
  const fs::path target = run.launcher_dir / name;
  run.self_path = host_layout::LauncherRequestPath(name);
  Digest present;
  std::string ignore;
  if (!(fs::is_regular_file(fs::symlink_status(target, ec)) && HashFile(target, present, ignore) &&
        present.sha256 == run.launcher.sha256 && present.size == run.launcher.size)) {
    const fs::path temp = run.launcher_dir / TempName(name);
    Digest copied;
    const bool written = CopyDurably(run.launcher_source, temp, copied, error) &&
                         UnchangedSince(copied, run.launcher.sha256, run.launcher.size, run.launcher_source, error);
    if (!MoveTempIntoPlace(temp, target, written, error)) return Fail(run.report, kExitIoError, error);
    run.report.launcher_copied = true;
  }
  run.report.launcher_request_path = run.self_path;
  return kExitOk;
}

// The manifest the run has made, in a fixed order: client, then path.
Manifest RunManifest(const Run& run) {
  Manifest manifest;
  manifest.serial = NextSerial(run.previous.serial, run.now);
  if (run.options.valid_days != 0) manifest.expires = run.now + uint64_t{run.options.valid_days} * 86400;
  if (run.with_launcher) {
    manifest.launcher_version = run.options.launcher_version;
    manifest.launcher_sha256 = run.launcher.sha256;
    manifest.launcher_size = run.launcher.size;
    manifest.launcher_path = Utf8ToWide(run.self_path);
  }
  manifest.files.reserve(run.files.size());
  for (size_t i = 0; i < run.files.size(); ++i) {
    FileEntry& entry = manifest.files.emplace_back();
    entry.client = static_cast<ClientKind>(run.files[i].client);
    entry.sha256 = run.digests[i].sha256;
    entry.size = run.digests[i].size;
    entry.download_size = run.bodies[run.body_of_sha.at(entry.sha256)].body_size;
    entry.keep_existing = run.files[i].keep;
    entry.path = EntryPath(run.files[i].path);
  }
  manifest.patches = run.patches;  // in (base, target) order
  manifest.packs = run.packs;
  return manifest;
}

// The small bodies, grouped into packs once every body is in place.
ExitCode MakePacks(Run& run) {
  if (!run.options.packs) return kExitOk;
  PackCounts counts;
  std::string error;
  if (!PublishPacks(run.packs_dir, run.bodies_dir, RunManifest(run), run.previous, run.packs, counts, error)) {
    return Fail(run.report, kExitIoError, error);
  }
  run.report.packs = run.packs.size();
  run.report.packs_made = counts.made;
  run.report.packs_reused = counts.reused;
  return kExitOk;
}

// Bodies first, durably; then the manifest replaces the old one in one step.
ExitCode WriteManifest(Run& run) {
  PublishReport& report = run.report;
  const Manifest manifest = RunManifest(run);
  std::string text;
  std::string sign_error;
  if (!SignManifestText(run.options.key, FormatManifest(manifest), text, sign_error)) {
    return Fail(report, kExitIoError, sign_error);
  }

  // The launcher's own parser has the last word on what goes out.
  Manifest parsed;
  if (!ParseManifest(text, parsed) || !SameManifest(parsed, manifest)) {
    return Fail(report, kExitIoError, "internal error: the launcher would read the new manifest differently");
  }
  report.serial = manifest.serial;
  report.expires = manifest.expires;
  if (text.size() > kManifestLimit) {
    report.problems.push_back("the manifest would be " + std::to_string(text.size()) +
                              " bytes; the launcher reads at most " + std::to_string(kManifestLimit));
    return kExitProblems;
  }

  if (!SyncDirectory(run.bodies_dir) || !SyncDirectory(run.launcher_dir) ||
      (!run.patches.empty() && !SyncDirectory(run.patches_dir)) || (run.report.packs_made != 0 && !SyncDirectory(run.packs_dir))) {
    return Fail(report, kExitIoError, "cannot flush " + DisplayPath(run.bodies_dir) + ": " + LastErrorText());
  }
  const fs::path temp = run.launcher_dir / TempName(host_layout::kManifestName);
  OutFile out;
  bool written = out.Create(temp) && out.Write(text.data(), text.size()) && out.Sync();
  std::string error = written ? "" : "cannot write " + DisplayPath(temp) + ": " + LastErrorText();
  if (!out.Close() && written) {
    error = "cannot write " + DisplayPath(temp) + ": " + LastErrorText();
    written = false;
  }
  // What players of the old manifest may still fetch stays known to prune; a
  // re-publish that changes nothing but the serial and expiry keeps no copy.
  Manifest same_dates = manifest;
  same_dates.serial = run.previous.serial;
  same_dates.expires = run.previous.expires;
  if (written && !run.previous_text.empty() && !SameManifest(run.previous, same_dates) &&
      !KeepReplacedManifest(run.options.out, run.previous_text, error)) {
    written = false;
  }
  if (!MoveTempIntoPlace(temp, run.manifest_path, written, error)) return Fail(report, kExitIoError, error);
  if (!SyncDirectory(run.launcher_dir)) {
    return Fail(report, kExitIoError, "cannot flush " + DisplayPath(run.launcher_dir) + ": " + LastErrorText());
  }
  return kExitOk;
}

}  // namespace

uint64_t NextSerial(uint64_t previous, uint64_t now) { return now > previous ? now : previous + 1; }

std::string LauncherFileName(int32_t version, const std::string& sha256) {
  return "MorvelGlobalLauncher-" + std::to_string(version) + "-" + sha256.substr(0, 8) + ".exe";
}

ExitCode Publish(const PublishOptions& options, PublishReport& report) {
  report = PublishReport();
  Run run(options, report);
  using Step = ExitCode (*)(Run&);
  for (const Step step : {CheckOptions, ScanSources, LockTree, SignLauncher, ReadPreviousManifest, HashSources,
                          PlanBodies, CompressBodies, MakePatches, MakePacks, PlaceLauncher, WriteManifest}) {
    const ExitCode code = step(run);
    if (code != kExitOk) return code;
  }
  return kExitOk;
}

}  // namespace publish

#include <algorithm>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include "app/client_table.h"
#include "app/text.h"
#include "tools/publish/body.h"
#include "tools/publish/exe_signature.h"
#include "tools/publish/packs.h"
#include "tools/publish/parallel.h"
#include "tools/publish/patches.h"
#include "tools/publish/progress.h"
#include "tools/publish/publish.h"
#include "tools/publish/signing.h"
#include "tools/publish/tree.h"
#include "update/host_layout.h"
#include "update/manifest.h"
#include "update/manifest_trust.h"

namespace publish {

namespace {

// Says, line by line, what the launcher's own parser makes of the text: which
// lines reject the manifest and which it silently ignores.
void ExplainLine(size_t number, LineFate fate, const std::string& why, VerifyReport& report) {
  const std::string at = "manifest line " + std::to_string(number) + ": ";
  switch (fate) {
    case LineFate::Rejects: report.problems.push_back(at + why + "; the launcher rejects the manifest"); break;
    case LineFate::Ignored: report.problems.push_back(at + why + "; the launcher ignores it"); break;
    case LineFate::Unknown: report.warnings.push_back(at + why + ", ignored by the launcher"); break;
  }
}

// The manifest's text, at most a few times the launcher's limit.
ExitCode ReadManifestText(const fs::path& manifest_path, std::string& text, VerifyReport& report) {
  std::error_code ec;
  if (!fs::is_regular_file(manifest_path, ec)) {
    report.problems.push_back("no manifest at " + DisplayPath(manifest_path));
    return kExitProblems;
  }
  InFile in;
  if (!in.Open(manifest_path)) {
    report.problems.push_back("cannot open " + DisplayPath(manifest_path) + ": " + LastErrorText());
    return kExitIoError;
  }
  std::vector<char> buffer(65536);
  int64_t got;
  while ((got = in.Read(buffer.data(), static_cast<uint32_t>(buffer.size()))) > 0) {
    text.append(buffer.data(), static_cast<size_t>(got));
    if (text.size() > 4 * kManifestLimit) break;  // plenty to report; no need to hold all of it
  }
  if (got < 0) {
    report.problems.push_back("cannot read " + DisplayPath(manifest_path) + ": " + LastErrorText());
    return kExitIoError;
  }
  if (text.size() > kManifestLimit) {
    report.problems.push_back("the manifest has more than " + std::to_string(kManifestLimit) +
                              " bytes; the launcher stops reading it and fails");
  }
  return kExitOk;
}

// What Windows will make of the exe's Authenticode signature.
void CheckLauncherSignature(const fs::path& exe, const fs::path& exe_ca, VerifyReport& report) {
  const ExeSignatureCheck check = CheckExeSignature(exe, exe_ca);
  const std::string at = "launcher executable " + DisplayPath(exe.filename()) + ": ";
  switch (check.state) {
    case ExeSignatureState::NoTool:
      report.warnings.push_back(at + "signature not checked: osslsigncode is not installed");
      return;
    case ExeSignatureState::NotPe:
      report.warnings.push_back(at + "not a Windows executable osslsigncode can read; its signature was not checked");
      return;
    case ExeSignatureState::Unsigned:
      report.warnings.push_back(at + "not signed; antivirus programs and SmartScreen distrust unsigned downloads "
                                     "that replace themselves (publish --sign-cert --sign-key)");
      return;
    case ExeSignatureState::Tampered:
      report.problems.push_back(at + "its bytes changed after it was signed; Windows treats it as damaged");
      return;
    case ExeSignatureState::Untrusted:
      report.problems.push_back(at + "signed by " + check.signer + ", a certificate that chains to no trusted CA (" +
                                check.detail + "); Windows treats it as unsigned");
      return;
    case ExeSignatureState::Valid:
      if (!check.timestamped) {
        report.warnings.push_back(at + "signed by " + check.signer + " without a timestamp: the signature stops "
                                       "counting when the certificate expires (publish --timestamp URL)");
      }
      return;
  }
}

// The "self" line and its file.
void CheckLauncherFile(const fs::path& tree, const Manifest& manifest, const fs::path& exe_ca, VerifyReport& report) {
  if (manifest.launcher_sha256.empty()) {
    if (manifest.launcher_version > kFirstLauncherVersion) {
      report.problems.push_back("the manifest announces launcher " + std::to_string(manifest.launcher_version) +
                                " but has no usable \"self\" line; every player start would offer the download page");
    }
    return;
  }
  const fs::path exe = tree / PathFromUtf8(WideToUtf8(manifest.launcher_path).substr(1)).make_preferred();
  std::error_code ec;
  Digest digest;
  std::string error;
  if (manifest.launcher_size == 0) {
    report.problems.push_back("the \"self\" line gives size 0; the launcher never updates itself from it");
  }
  if (!fs::is_regular_file(exe, ec)) {
    report.problems.push_back("launcher executable missing: " + DisplayPath(exe));
  } else if (!HashFile(exe, digest, error)) {
    report.problems.push_back(error);
  } else if (digest.size != manifest.launcher_size || digest.sha256 != manifest.launcher_sha256) {
    report.problems.push_back("launcher executable " + DisplayPath(exe) + " does not match the \"self\" line (size " +
                              std::to_string(digest.size) + ", SHA-256 " + digest.sha256 + ")");
  } else {
    CheckLauncherSignature(exe, exe_ca, report);
  }
}

// Names Windows would refuse or merge.
void CheckNames(const Manifest& manifest, VerifyReport& report) {
  ScanResult names;
  for (const FileEntry& e : manifest.files) {
    SourceFile f;
    f.client = static_cast<int>(e.client);
    f.path = ManifestPath(e.path);
    names.files.push_back(f);
  }
  std::stable_sort(names.files.begin(), names.files.end(), [](const SourceFile& a, const SourceFile& b) {
    return a.client != b.client ? a.client < b.client : a.path < b.path;
  });
  CheckWindowsNames(names);
  report.problems.insert(report.problems.end(), names.problems.begin(), names.problems.end());
  report.warnings.insert(report.warnings.end(), names.warnings.begin(), names.warnings.end());
}

// How the manifest uses one body: every entry naming it must agree on both sizes.
struct BodyUse {
  uint64_t size, download_size;
  std::string first;  // "[client] path" of the first entry, for messages
};
using BodyUses = std::map<std::string, BodyUse>;  // by SHA-256

BodyUses CollectBodyUses(const Manifest& manifest, VerifyReport& report) {
  BodyUses uses;
  for (const FileEntry& e : manifest.files) {
    const std::string who = std::string("[") + InfoOf(e.client).key + "] " + ManifestPath(e.path);
    report.bytes += e.size;
    const auto [it, fresh] = uses.emplace(e.sha256, BodyUse{e.size, e.download_size, who});
    if (!fresh && it->second.size != e.size) {
      report.problems.push_back(who + ": same SHA-256 as " + it->second.first + " but another size");
    } else if (!fresh && it->second.download_size != e.download_size) {
      report.problems.push_back(who + ": same body as " + it->second.first + " but another download size");
    }
  }
  report.files = manifest.files.size();
  report.bodies = uses.size();
  return uses;
}

// Runs check(i) for every item on `jobs` threads and appends the problems it
// returns (empty: none), sorted so that the report does not depend on which
// thread finished first.
void CollectProblems(size_t count, unsigned jobs, Progress& shown, VerifyReport& report,
                     const std::function<std::string(size_t)>& check) {
  std::mutex lock;
  std::vector<std::string> problems;
  ParallelFor(count, jobs, [&](size_t i) {
    std::string problem = check(i);
    shown.AddItem();
    if (!problem.empty()) {
      std::lock_guard<std::mutex> hold(lock);
      problems.push_back(std::move(problem));
    }
    return true;
  });
  std::sort(problems.begin(), problems.end());
  report.problems.insert(report.problems.end(), problems.begin(), problems.end());
}

// One check per body, inflating it as the launcher does.
void CheckBodies(const fs::path& bodies_dir, const BodyUses& uses, bool progress, VerifyReport& report) {
  std::vector<const std::pair<const std::string, BodyUse>*> list;
  uint64_t body_bytes = 0;
  for (const auto& use : uses) {
    list.push_back(&use);
    body_bytes += use.second.download_size;
  }
  Progress shown(progress, "verifying", list.size(), body_bytes);
  CollectProblems(list.size(), JobCount(0), shown, report, [&](size_t i) -> std::string {
    const std::string& sha = list[i]->first;
    const BodyUse& use = list[i]->second;
    const fs::path body = bodies_dir / host_layout::BodyFileName(sha);
    const std::string at = use.first + ": body " + host_layout::kBodiesFolder + "/" + host_layout::BodyFileName(sha) + ": ";
    std::error_code e;
    if (!fs::is_regular_file(body, e)) return at + "missing";
    if (fs::file_size(body, e) != use.download_size) {
      return at + "has " + std::to_string(fs::file_size(body, e)) + " bytes, the manifest says " +
             std::to_string(use.download_size);
    }
    Digest inflated;
    std::string why;
    if (!InflateBody(body, use.size, inflated, why, &shown.bytes())) return at + why;
    if (inflated.size != use.size) {
      return at + "inflates to " + std::to_string(inflated.size) + " bytes, the manifest says " + std::to_string(use.size);
    }
    if (inflated.sha256 != sha) return at + "inflates to content with SHA-256 " + inflated.sha256;
    return "";
  });
}

// Every patch, applied to its base's content as the launcher would, must give
// the file it announces.
void CheckPatches(const fs::path& tree, const fs::path& bodies_dir, const Manifest& manifest, const BodyUses& uses,
                  bool progress, VerifyReport& report) {
  Progress shown(progress, "patches", manifest.patches.size(), 0);
  CollectProblems(manifest.patches.size(), std::min(2u, JobCount(0)), shown, report, [&](size_t i) -> std::string {
    const PatchEntry& p = manifest.patches[i];
    const std::string request = WideToUtf8(p.path);
    const std::string at = "patch " + request + ": ";
    const fs::path file = tree / PathFromUtf8(request.substr(1)).make_preferred();
    const fs::path base = bodies_dir / host_layout::BodyFileName(p.base_sha256);
    const auto use = uses.find(p.sha256);
    std::error_code e;
    if (use == uses.end()) return at + "no file has the content it gives";
    if (!fs::is_regular_file(file, e)) return at + "missing";
    if (fs::file_size(file, e) != p.download_size) {
      return at + "has " + std::to_string(fs::file_size(file, e)) + " bytes, the manifest says " + std::to_string(p.download_size);
    }
    if (!fs::is_regular_file(base, e)) {
      return at + "its base body " + host_layout::kBodiesFolder + "/" + host_layout::BodyFileName(p.base_sha256) +
                  " is missing, so it cannot be checked";
    }
    const std::string why = CheckPatchBody(file, base, p.sha256, use->second.size);
    return why.empty() ? why : at + why;
  });
  report.patches = manifest.patches.size();
}

// What else lies in the bodies folder. The base of a patch counts as named:
// verify needs it to check the patch.
void ListOtherBodies(const fs::path& bodies_dir, const Manifest& manifest, const BodyUses& uses, VerifyReport& report) {
  std::set<std::string> bases;
  for (const PatchEntry& p : manifest.patches) bases.insert(p.base_sha256);
  std::error_code ec;
  for (fs::directory_iterator it(bodies_dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = DisplayPath(it->path().filename());
    if (name.size() > 64 && name == host_layout::BodyFileName(name.substr(0, 64)) && !uses.count(name.substr(0, 64)) &&
        !bases.count(name.substr(0, 64))) {
      ++report.unreferenced_bodies;
    } else if (IsTempName(name)) {
      report.warnings.push_back("leftover of an interrupted publish: " + DisplayPath(it->path()));
    }
  }
}

// The serial and the expiry as launchers with a key judge them.
void CheckFreshness(const Manifest& manifest, uint64_t lowest_serial, VerifyReport& report) {
  report.serial = manifest.serial;
  report.expires = manifest.expires;
  if (manifest.serial == 0) {
    report.warnings.push_back("the manifest has no \"serial\" line; launchers that have accepted one with a serial refuse it");
  }
  if (manifest.serial < lowest_serial) {
    report.problems.push_back("the manifest's serial " + std::to_string(manifest.serial) + " is lower than " +
                              std::to_string(lowest_serial) +
                              " of the older manifest; launchers that accepted that one refuse this one");
  }
  const uint64_t now = static_cast<uint64_t>(std::time(nullptr));
  if (manifest.expires != 0 && manifest.expires < now) {
    report.problems.push_back("the manifest expired " + std::to_string((now - manifest.expires) / 3600) +
                              " hours ago; launchers with a key refuse it once " +
                              std::to_string(kExpiryLeewaySeconds / 3600) + " hours have passed; publish again");
  }
}

// Every pack, member by member; then the pack files no pack line names.
void CheckPacks(const fs::path& tree, const fs::path& launcher_dir, const Manifest& manifest, bool progress,
                VerifyReport& report) {
  Progress shown(progress, "packs", manifest.packs.size(), 0);
  std::mutex lock;
  std::vector<std::string> problems;
  ParallelFor(manifest.packs.size(), JobCount(0), [&](size_t i) {
    std::vector<std::string> found = CheckPack(tree, manifest.packs[i], manifest);
    shown.AddItem();
    std::lock_guard<std::mutex> hold(lock);
    problems.insert(problems.end(), found.begin(), found.end());
    return true;
  });
  std::sort(problems.begin(), problems.end());
  report.problems.insert(report.problems.end(), problems.begin(), problems.end());
  report.packs = manifest.packs.size();
  const std::set<std::string> named = NamedPackFiles(manifest);
  std::error_code ec;
  for (fs::directory_iterator it(launcher_dir / host_layout::kPacksFolder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = DisplayPath(it->path().filename());
    if (!name.empty() && name[0] == '.') {
      report.warnings.push_back("leftover of an interrupted publish: " + DisplayPath(it->path()));
    } else if (!named.count(host_layout::InLauncherFolder(std::string(host_layout::kPacksFolder) + "/" + name))) {
      ++report.unreferenced_packs;
    }
  }
}

}  // namespace

bool ReadManifestSerial(const fs::path& path, uint64_t& serial, std::string& error) {
  std::string text;
  VerifyReport ignored;
  if (ReadManifestText(path, text, ignored) != kExitOk || !ignored.problems.empty()) {
    error = ignored.problems.empty() ? "cannot read " + DisplayPath(path) : ignored.problems.front();
    return false;
  }
  std::string_view signed_part = text;
  ManifestSignature signature;
  SplitSignedManifest(text, signed_part, signature);
  Manifest manifest;
  if (!ParseManifest(std::string(signed_part), manifest)) {
    error = DisplayPath(path) + " is no manifest the launcher would read";
    return false;
  }
  serial = manifest.serial;
  return true;
}

ExitCode Verify(const fs::path& tree, const ManifestPublicKey& key, bool progress, VerifyReport& report,
                const fs::path& exe_ca, uint64_t lowest_serial) {
  report = VerifyReport();
  const fs::path launcher_dir = tree / fs::path(host_layout::kLauncherFolder).make_preferred();
  const fs::path bodies_dir = launcher_dir / host_layout::kBodiesFolder;

  std::string text;
  const ExitCode read = ReadManifestText(launcher_dir / host_layout::kManifestName, text, report);
  if (read != kExitOk) return read;
  // A launcher built with a key reads only what the signature covers.
  std::string_view signed_part;
  ManifestSignature signature;
  const bool split = SplitSignedManifest(text, signed_part, signature);
  if (!split) {
    report.problems.push_back("the manifest's last line is no signature line; launchers built with a key refuse it");
  } else if (!SignatureMatches(signed_part, signature, key)) {
    report.problems.push_back("the manifest's signature does not match the key; launchers built with it refuse it");
  }
  const std::string parsed_text = split ? std::string(signed_part) : text;
  Manifest manifest;
  const bool parsed = ParseManifest(parsed_text, manifest, [&report](size_t number, LineFate fate, const std::string& why) {
    ExplainLine(number, fate, why, report);
  });
  if (!parsed) {
    report.problems.push_back("the launcher's parser rejects this manifest");
    return kExitProblems;
  }
  if (manifest.files.empty()) {
    report.problems.push_back("the manifest lists no files; the launcher treats it as unusable");
  }
  CheckFreshness(manifest, lowest_serial, report);
  CheckLauncherFile(tree, manifest, exe_ca, report);
  CheckNames(manifest, report);
  const BodyUses uses = CollectBodyUses(manifest, report);
  CheckBodies(bodies_dir, uses, progress, report);
  CheckPatches(tree, bodies_dir, manifest, uses, progress, report);
  CheckPacks(tree, launcher_dir, manifest, progress, report);
  ListOtherBodies(bodies_dir, manifest, uses, report);
  return report.problems.empty() ? kExitOk : kExitProblems;
}

}  // namespace publish

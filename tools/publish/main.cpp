// morvel-publish: the server admin's tool for the launcher's file host.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/scoped.h"
#include "tools/publish/check_host.h"
#include "tools/publish/prune.h"
#include "tools/publish/publish.h"
#include "tools/publish/signing.h"


namespace {

using namespace publish;

const char kUsage[] =
    "usage: morvel-publish COMMAND [OPTIONS]\n"
    "\n"
    "Builds and checks the file host's tree for the Morvel Global launcher.\n"
    "\n"
    "commands:\n"
    "  keygen    make the key pair that signs every manifest\n"
    "  publish   build or update TREE/arquivos/launcher/ from the client folders\n"
    "  verify    check a tree the way the launcher will read it\n"
  "  prune     delete the bodies and patches no recent manifest names\n"
  "  check-host read a file host over HTTPS as players' launchers do; name its faults\n"
    "  help      this text; \"morvel-publish COMMAND --help\" for a command\n"
    "\n"
    "exit codes: 0 done; 1 files refused (publish) or faults found (verify);\n"
    "            2 bad command line; 3 read/write failure (the old manifest stays)\n";

const char kPublishUsage[] =
    "usage: morvel-publish publish --out TREE --key KEY [--otc DIR] [--classic DIR]\n"
    "                              [--launcher EXE --launcher-version N\n"
    "                               [--sign-cert FILE --sign-key FILE [--timestamp URL]]]\n"
    "                              [--valid-days N]\n"
    "                              [--keep PATTERN]... [--keep-file FILE]...\n"
    "                              [--exclude PATTERN]... [--level N] [--jobs N] [--progress]\n"
    "                              [--no-packs]\n"
    "\n"
    "Writes one gzip body per distinct content to TREE/arquivos/launcher/files/<sha256>.dl\n"
    "(bodies already there are reused), a patch body from the previous content to the new\n"
    "one for each changed file of at least 1 MiB when it is under half the whole body\n"
    "(TREE/arquivos/launcher/patches/<old sha256>-<sha256>.dl), the launcher exe (if given) as\n"
    "TREE/arquivos/launcher/MorvelGlobalLauncher-N-<sha8>.exe, packs of the bodies under 1 MiB\n"
    "(TREE/arquivos/launcher/packs/<sha256>.pack, about 4 MiB each), and last replaces\n"
    "TREE/arquivos/launcher/manifest.txt in one step. Nothing is written when any file is\n"
    "refused; every refused file is listed. The manifest's serial is the Unix time, or one\n"
    "past the serial of the manifest it replaces if that is not lower: launchers built with\n"
    "a key never go back to a lower serial than they have accepted.\n"
    "\n"
    "  --out TREE            the file host's document root\n"
    "  --key KEY             the private key of morvel-publish keygen; the manifest is\n"
    "                        signed with it (its last line)\n"
    "  --otc DIR             the OTClient folder (\"Morvel Global\" on the player's disk)\n"
    "  --classic DIR         the Tibia 8.60 folder (\"Morvel Global 8.60\"); give one or both\n"
    "  --launcher EXE        the launcher exe to offer as self-update, with\n"
    "  --launcher-version N  its version number (players with a lower one update)\n"
    "  --sign-cert FILE      Authenticode-sign the exe with osslsigncode before it is hashed\n"
    "  --sign-key FILE       and published: the code-signing certificate (with its chain)\n"
    "                        and its private key\n"
    "  --timestamp URL       an RFC 3161 time-stamping service, so the signature outlives\n"
    "                        the certificate (e.g. http://timestamp.digicert.com)\n"
    "  --valid-days N        the manifest expires N days on (1-3650): launchers built with\n"
    "                        a key then refuse it, as if the host were down, unless it is\n"
    "                        published again in time. Off by default: a missed publish would\n"
    "                        cut every player off\n"
    "  --keep PATTERN        files players keep once they have them (their own settings);\n"
    "                        a glob on the \"/\"-path: * within a folder, ** across folders,\n"
    "                        ? one character; otc: or classic: in front limits it to one client\n"
    "                        (e.g. --keep 'otc:config.otml' --keep '**/*.cfg')\n"
    "  --keep-file FILE      more keep patterns, one a line; blank lines and # comments skipped\n"
    "  --exclude PATTERN     leave matching files or folders out (e.g. --exclude '**/.git')\n"
    "  --level N             gzip level 1-9 (default 9)\n"
    "  --jobs N              threads hashing and compressing (default: one per core)\n"
    "  --progress            show progress on stderr even when it is not a terminal\n"
    "  --no-packs            no packs: every file is fetched as its own body\n"
    "\n"
    "Symbolic links are refused, not followed. Names must be valid UTF-8 and valid\n"
    "on Windows. Exit codes: 0 published; 1 files refused; 2 bad command line; 3 I/O error.\n";

const char kVerifyUsage[] =
    "usage: morvel-publish verify TREE --key KEY.pub [--previous MANIFEST] [--sign-ca FILE]\n"
    "                              [--progress]\n"
    "\n"
    "Reads TREE/arquivos/launcher/manifest.txt with the launcher's own parser, then\n"
    "inflates every body as the launcher does (one gzip member) and compares its size\n"
    "and SHA-256 with the manifest, checks every download size against the body file,\n"
    "applies every patch to its base body and compares the result with the file it\n"
    "announces, checks the \"self\" line against the launcher exe and the manifest's\n"
    "signature against the public key. With osslsigncode installed, also checks the\n"
    "exe's Authenticode signature. Lists every fault found.\n"
    "\n"
    "  --key KEY.pub         the public key file of morvel-publish keygen\n"
    "  --previous MANIFEST   an older manifest (a copy kept from before, or the one players\n"
    "                        have now): a fault when the tree's serial is lower than its own,\n"
    "                        since launchers that accepted it refuse the tree\n"
    "  --sign-ca FILE        trust only this CA for the exe's signature (default: the system's)\n"
    "  --progress            show progress on stderr even when it is not a terminal\n"
    "\n"
    "Exit codes: 0 the tree is sound; 1 faults found; 2 bad command line; 3 I/O error.\n";

const char kPruneUsage[] =
    "usage: morvel-publish prune TREE [--keep N] [--min-age AGE] [--dry-run]\n"
    "\n"
    "Deletes from TREE/arquivos/launcher/files/ and patches/ what none of the last N\n"
    "published manifests names (the current one and the copies publish keeps in\n"
    "TREE/manifest-history/ of those it replaced) and what is older than AGE. Never a\n"
    "file the current manifest names, nor the base body of one of its patches. The\n"
    "copies of manifests older than the last N go too, once older than AGE. Refuses a\n"
    "tree with a publish in progress (its .*.tmp files) and one whose manifest the\n"
    "launcher rejects.\n"
    "\n"
    "  --keep N       manifests whose files stay (default 3; 1 = the current one only)\n"
    "  --min-age AGE  spare anything younger, for players still downloading against an\n"
    "                 earlier manifest: a number and s, m, h or d (default 24h)\n"
    "  --dry-run      list what would go, and its bytes; delete nothing\n"
    "\n"
    "Exit codes: 0 done; 1 tree refused; 2 bad command line; 3 a file could not be deleted.\n";

const char kCheckHostUsage[] =
    "usage: morvel-publish check-host https://HOST[:PORT] [--key KEY.pub] [--tree TREE]\n"
    "                                 [--sample N | --all] [--cacert FILE]\n"
    "\n"
    "Reads the file host exactly as the launcher does (TLS 1.2, its user agent, the ?t=\n"
    "query on the manifest and the exe, no redirect followed, nothing decoded) and names\n"
    "every fault, once per kind, with its fix: a status other than 200, a redirect, a\n"
    "Content-Encoding, bodies whose bytes differ from their digest or size, a manifest\n"
    "served from a cache or without no-store, bodies without long-lived caching, no 206\n"
    "for a range request, a soft 404, a bad signature, a manifest older than TREE's.\n"
    "\n"
    "  --key KEY.pub   check the manifest's signature with this public key\n"
    "  --tree TREE     the tree the host should serve: its manifest must be the served one\n"
    "                  (a served serial older than TREE's is a stale manifest)\n"
    "  --sample N      bodies, and as many patches, fetched and checked, chosen at random\n"
    "                  (default 10)\n"
    "  --all           every body and patch\n"
    "  --cacert FILE   trust only the CA certificates in FILE (a staging host's own CA)\n"
    "\n"
    "Exit codes: 0 no fault; 1 faults found; 2 bad command line; 3 no answer from the host.\n";

const char kKeygenUsage[] =
    "usage: morvel-publish keygen --out KEY\n"
    "\n"
    "Makes an ECDSA P-256 key pair: KEY, the private key (PEM, readable by its owner\n"
    "only; an existing file is never replaced), and KEY.pub, the public key as the\n"
    "launcher build takes it (-DMORVEL_MANIFEST_KEY=...). Keep KEY off the file host:\n"
    "whoever holds it decides what every player's launcher runs.\n"
    "\n"
    "Exit codes: 0 made; 2 bad command line; 3 I/O error.\n";

int UsageError(const std::string& message, const char* command) {
  std::fprintf(stderr, "morvel-publish: %s\n(see: morvel-publish %s--help)\n", message.c_str(), command);
  return kExitUsage;
}

// What an option handler returns when it took its option.
constexpr int kTaken = -1;

// Reads the arguments of a command with options and one operand (`what`):
// --help or -h prints `usage` (kExitOk); an option named in `valued` takes the
// argument after it as its value; option(name, value) takes each option (a flag
// with an empty value) and returns kTaken or the exit code of a usage error.
// kTaken once every argument was taken.
template <typename Option>
int ReadArguments(const std::vector<std::string>& args, const char* command, const char* usage,
                  std::initializer_list<const char*> valued, const std::string& what, std::string& operand,
                  Option&& option) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(usage, stdout);
      return kExitOk;
    }
    if (a.rfind("--", 0) != 0) {
      if (!operand.empty()) return UsageError("give one " + what, command);
      operand = a;
      continue;
    }
    const bool takes_value = std::find(valued.begin(), valued.end(), a) != valued.end();
    if (takes_value && i + 1 >= args.size()) return UsageError(a + " needs a value", command);
    const int code = option(a, takes_value ? args[++i] : std::string());
    if (code != kTaken) return code;
  }
  return kTaken;
}

bool ReadNumber(const std::string& text, long long low, long long high, long long& value) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  value = std::stoll(text);
  return value >= low && value <= high;
}

bool ReadPatternFile(const std::string& name, std::vector<std::string>& patterns) {
  const ScopedStdFile f(std::fopen(name.c_str(), "rb"));
  if (!f) return false;
  std::string text;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) text.append(buffer, got);
  const bool ok = !std::ferror(f.get());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    patterns.push_back(line.substr(first));
  }
  return ok;
}

void PrintList(const char* prefix, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::fprintf(stderr, "%s%s\n", prefix, line.c_str());
}

double Mb(uint64_t bytes) { return static_cast<double>(bytes) / 1048576.0; }

// "2026-12-09 15:40 UTC".
std::string UtcTimeText(uint64_t unix_seconds) {
  const std::time_t t = static_cast<std::time_t>(unix_seconds);
  std::tm utc{};
  char text[32];
  if (!gmtime_r(&t, &utc) || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc)) return std::to_string(unix_seconds);
  return text;
}

int RunPublish(const std::vector<std::string>& args) {
  PublishOptions options;
  bool progress_flag = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kPublishUsage, stdout);
      return kExitOk;
    }
    if (a == "--progress") {
      progress_flag = true;
      continue;
    }
    if (a == "--no-packs") {
      options.packs = false;
      continue;
    }
    if (i + 1 >= args.size()) return UsageError(a.rfind("--", 0) == 0 ? a + " needs a value" : "unexpected " + a, "publish ");
    const std::string& v = args[++i];
    long long n = 0;
    if (a == "--out") {
      options.out = PathFromUtf8(v);
    } else if (a == "--key") {
      options.key = PathFromUtf8(v);
    } else if (a == "--otc") {
      options.client_dirs[ClientIndex(ClientKind::OTClient)] = PathFromUtf8(v);
    } else if (a == "--classic") {
      options.client_dirs[ClientIndex(ClientKind::Classic)] = PathFromUtf8(v);
    } else if (a == "--launcher") {
      options.launcher_exe = PathFromUtf8(v);
    } else if (a == "--sign-cert") {
      options.launcher_signing.cert = PathFromUtf8(v);
    } else if (a == "--sign-key") {
      options.launcher_signing.key = PathFromUtf8(v);
    } else if (a == "--timestamp") {
      options.launcher_signing.timestamp_url = v;
    } else if (a == "--launcher-version") {
      if (!ReadNumber(v, 1, INT32_MAX, n)) return UsageError("--launcher-version must be a whole number from 1 to 2147483647", "publish ");
      options.launcher_version = static_cast<int32_t>(n);
    } else if (a == "--valid-days") {
      if (!ReadNumber(v, 1, 3650, n)) return UsageError("--valid-days must be a whole number from 1 to 3650", "publish ");
      options.valid_days = static_cast<uint32_t>(n);
    } else if (a == "--keep") {
      options.keep.push_back(v);
    } else if (a == "--keep-file") {
      if (!ReadPatternFile(v, options.keep)) return UsageError("cannot read " + v, "publish ");
    } else if (a == "--exclude") {
      options.exclude.push_back(v);
    } else if (a == "--level") {
      if (!ReadNumber(v, 1, 9, n)) return UsageError("--level must be 1 to 9", "publish ");
      options.level = static_cast<int>(n);
    } else if (a == "--jobs") {
      if (!ReadNumber(v, 1, 64, n)) return UsageError("--jobs must be 1 to 64", "publish ");
      options.jobs = static_cast<unsigned>(n);
    } else {
      return UsageError("unknown option " + a, "publish ");
    }
  }
  options.progress = progress_flag || StderrIsTerminal();

  PublishReport report;
  const ExitCode code = Publish(options, report);
  PrintList("warning: ", report.warnings);
  if (code == kExitUsage) return UsageError(report.error, "publish ");
  if (code == kExitProblems) {
    PrintList("refused: ", report.problems);
    std::fprintf(stderr, "morvel-publish: nothing published (%zu problem%s)\n", report.problems.size(),
                 report.problems.size() == 1 ? "" : "s");
    return code;
  }
  if (code != kExitOk) {
    std::fprintf(stderr, "morvel-publish: %s\nmorvel-publish: the previous manifest is unchanged\n", report.error.c_str());
    return code;
  }
  std::printf("published %llu files (%.1f MB) in %llu bodies: %llu compressed (%.1f MB -> %.1f MB), %llu reused",
              static_cast<unsigned long long>(report.files), Mb(report.bytes),
              static_cast<unsigned long long>(report.bodies), static_cast<unsigned long long>(report.bodies_compressed),
              Mb(report.compressed_in), Mb(report.compressed_out), static_cast<unsigned long long>(report.bodies_reused));
  if (report.bodies_replaced) std::printf(", %llu damaged ones replaced", static_cast<unsigned long long>(report.bodies_replaced));
  std::printf("\n");
  if (report.patches || report.patches_not_worth_it) {
    std::printf("patches: %llu (%llu made by this run); %llu changed files left whole (a patch was not under half their body)\n",
                static_cast<unsigned long long>(report.patches), static_cast<unsigned long long>(report.patches_made),
                static_cast<unsigned long long>(report.patches_not_worth_it));
  }
  if (report.packs) {
    std::printf("packs: %llu (%llu made by this run, %llu reused)\n", static_cast<unsigned long long>(report.packs),
                static_cast<unsigned long long>(report.packs_made), static_cast<unsigned long long>(report.packs_reused));
  }
  if (!report.launcher_request_path.empty()) {
    std::printf("launcher: %s (%s%s)\n", report.launcher_request_path.c_str(), report.launcher_signed ? "signed, " : "",
                report.launcher_copied ? "copied" : "already there");
  }
  std::printf("manifest: %s (serial %llu", DisplayPath(report.manifest).c_str(),
              static_cast<unsigned long long>(report.serial));
  if (report.expires) std::printf(", expires %s", UtcTimeText(report.expires).c_str());
  std::printf(")\n");
  return kExitOk;
}

// "36h", "90m", "2d", "600s" or "0".
bool ReadAge(const std::string& text, std::chrono::seconds& age) {
  if (text == "0") {
    age = std::chrono::seconds(0);
    return true;
  }
  long long n = 0;
  if (text.size() < 2 || !ReadNumber(text.substr(0, text.size() - 1), 0, 99999999, n)) return false;
  const char unit = text.back();
  const long long scale = unit == 's' ? 1 : unit == 'm' ? 60 : unit == 'h' ? 3600 : unit == 'd' ? 86400 : 0;
  age = std::chrono::seconds(n * scale);
  return scale != 0;
}

int RunPrune(const std::vector<std::string>& args) {
  PruneOptions options;
  std::string tree;
  const int read = ReadArguments(
      args, "prune ", kPruneUsage, {"--keep", "--min-age"}, "TREE", tree,
      [&](const std::string& a, const std::string& v) {
        long long n = 0;
        if (a == "--dry-run") {
          options.dry_run = true;
        } else if (a == "--keep") {
          if (!ReadNumber(v, 1, 1000, n)) return UsageError("--keep must be 1 to 1000", "prune ");
          options.keep = static_cast<unsigned>(n);
        } else if (a == "--min-age") {
          if (!ReadAge(v, options.min_age)) {
            return UsageError("--min-age takes a number and s, m, h or d, such as 24h", "prune ");
          }
        } else {
          return UsageError("unknown option " + a, "prune ");
        }
        return kTaken;
      });
  if (read != kTaken) return read;
  if (tree.empty()) return UsageError("give the TREE to prune", "prune ");
  options.tree = PathFromUtf8(tree);
  PruneReport report;
  const ExitCode code = Prune(options, report);
  if (code == kExitProblems) {
    PrintList("refused: ", report.problems);
    std::fprintf(stderr, "morvel-publish: nothing deleted\n");
    return code;
  }
  for (const PrunedFile& f : report.removed) {
    std::printf("%s%s (%llu bytes)\n", options.dry_run ? "would delete: " : "deleted: ", f.path.c_str(),
                static_cast<unsigned long long>(f.bytes));
  }
  PrintList("fault: ", report.problems);
  std::printf("%s %zu files (%.1f MB); %llu bodies and patches kept\n", options.dry_run ? "would delete" : "deleted",
              report.removed.size(), Mb(report.bytes), static_cast<unsigned long long>(report.kept));
  return code;
}

int RunCheckHost(const std::vector<std::string>& args) {
  CheckHostOptions options;
  std::string url;
  const int read = ReadArguments(
      args, "check-host ", kCheckHostUsage, {"--key", "--tree", "--sample", "--cacert"}, "https://HOST[:PORT]", url,
      [&](const std::string& a, const std::string& v) {
        long long n = 0;
        std::string error;
        if (a == "--all") {
          options.all = true;
        } else if (a == "--key") {
          if (!ReadPublicKeyFile(PathFromUtf8(v), options.key, error)) return UsageError(error, "check-host ");
          options.with_key = true;
        } else if (a == "--tree") {
          options.tree = PathFromUtf8(v);
        } else if (a == "--cacert") {
          options.ca_file = v;
        } else if (a == "--sample") {
          if (!ReadNumber(v, 1, 100000, n)) return UsageError("--sample must be 1 to 100000", "check-host ");
          options.sample = static_cast<size_t>(n);
        } else {
          return UsageError("unknown option " + a, "check-host ");
        }
        return kTaken;
      });
  if (read != kTaken) return read;
  if (url.empty()) return UsageError("give the file host as https://HOST[:PORT]", "check-host ");
  if (!ParseOrigin(url, options.origin)) return UsageError("not https://HOST[:PORT]: " + url, "check-host ");
  CheckHostReport report;
  const ExitCode code = CheckHost(options, report);
  if (code == kExitIoError) {
    std::fprintf(stderr, "morvel-publish: %s\n", report.error.c_str());
    return code;
  }
  for (const HostFault& fault : report.faults) {
    std::printf("fault: %s (%llu request%s)\n", fault.name.c_str(), static_cast<unsigned long long>(fault.count),
                fault.count == 1 ? "" : "s");
    for (const std::string& example : fault.examples) std::printf("  %s\n", example.c_str());
    for (const FaultKind& kind : FaultKinds()) {
      if (fault.name == kind.name) std::printf("  fix: %s\n", kind.fix);
    }
  }
  for (const std::string& note : report.notes) std::printf("note: %s\n", note.c_str());
  std::printf("%s: %zu fault%s in %llu requests\n", options.origin.c_str(), report.faults.size(),
              report.faults.size() == 1 ? "" : "s", static_cast<unsigned long long>(report.requests));
  return code;
}

int RunKeygen(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kKeygenUsage, stdout);
    return kExitOk;
  }
  if (args.size() != 2 || args[0] != "--out") return UsageError("give the key's file with --out", "keygen ");
  std::string public_text, error;
  if (!MakeKeyPair(PathFromUtf8(args[1]), public_text, error)) {
    std::fprintf(stderr, "morvel-publish: %s\n", error.c_str());
    return kExitIoError;
  }
  std::printf("private key: %s\npublic key:  %s.pub\nbuild the launcher with -DMORVEL_MANIFEST_KEY=%s\n",
              args[1].c_str(), args[1].c_str(), public_text.c_str());
  return kExitOk;
}

int RunVerify(const std::vector<std::string>& args) {
  std::string tree, key_file, exe_ca, previous_file;
  bool progress_flag = false;
  const int read = ReadArguments(
      args, "verify ", kVerifyUsage, {"--key", "--sign-ca", "--previous"}, "TREE", tree,
      [&](const std::string& a, const std::string& v) {
        if (a == "--key") {
          key_file = v;
        } else if (a == "--sign-ca") {
          exe_ca = v;
        } else if (a == "--previous") {
          previous_file = v;
        } else if (a == "--progress") {
          progress_flag = true;
        } else {
          return UsageError("unknown option " + a, "verify ");
        }
        return kTaken;
      });
  if (read != kTaken) return read;
  if (tree.empty()) return UsageError("give the TREE to verify", "verify ");
  if (key_file.empty()) return UsageError("give the public key with --key KEY.pub", "verify ");
  ManifestPublicKey key;
  std::string key_error;
  if (!ReadPublicKeyFile(PathFromUtf8(key_file), key, key_error)) return UsageError(key_error, "verify ");
  uint64_t lowest_serial = 0;
  if (!previous_file.empty() && !ReadManifestSerial(PathFromUtf8(previous_file), lowest_serial, key_error)) {
    return UsageError(key_error, "verify ");
  }
  VerifyReport report;
  const ExitCode code =
      Verify(PathFromUtf8(tree), key, progress_flag || StderrIsTerminal(), report, PathFromUtf8(exe_ca), lowest_serial);
  PrintList("warning: ", report.warnings);
  PrintList("fault: ", report.problems);
  if (code == kExitOk) {
    std::printf("verified %llu files (%.1f MB) in %llu bodies, %llu patches and %llu packs; %llu unreferenced bodies, %llu unreferenced packs\n",
                static_cast<unsigned long long>(report.files), Mb(report.bytes),
                static_cast<unsigned long long>(report.bodies), static_cast<unsigned long long>(report.patches),
                static_cast<unsigned long long>(report.packs), static_cast<unsigned long long>(report.unreferenced_bodies),
                static_cast<unsigned long long>(report.unreferenced_packs));
  }
  std::printf("serial %llu", static_cast<unsigned long long>(report.serial));
  if (report.expires) std::printf(", expires %s", UtcTimeText(report.expires).c_str());
  std::printf("\n");
  if (code != kExitOk) {
    std::fprintf(stderr, "morvel-publish: %zu fault%s in %s\n", report.problems.size(),
                 report.problems.size() == 1 ? "" : "s", tree.c_str());
  }
  return code;
}

int Run(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError("give a command", "");
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "keygen") return RunKeygen(rest);
  if (command == "publish") return RunPublish(rest);
  if (command == "verify") return RunVerify(rest);
  if (command == "prune") return RunPrune(rest);
  if (command == "check-host") return RunCheckHost(rest);
  if (command == "help" || command == "--help" || command == "-h") {
    if (!rest.empty() && rest[0] == "publish") return RunPublish({"--help"});
    if (!rest.empty() && rest[0] == "verify") return RunVerify({"--help"});
    if (!rest.empty() && rest[0] == "keygen") return RunKeygen({"--help"});
    if (!rest.empty() && rest[0] == "prune") return RunPrune({"--help"});
    if (!rest.empty() && rest[0] == "check-host") return RunCheckHost({"--help"});
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  return UsageError("unknown command " + command, "");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return Run(args);
}

// morvel-publish: the server admin's tool for the launcher's file host.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/scoped.h"
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
    "  help      this text; \"morvel-publish COMMAND --help\" for a command\n"
    "\n"
    "exit codes: 0 done; 1 files refused (publish) or faults found (verify);\n"
    "            2 bad command line; 3 read/write failure (the old manifest stays)\n";

const char kPublishUsage[] =
    "usage: morvel-publish publish --out TREE --key KEY [--otc DIR] [--classic DIR]\n"
    "                              [--launcher EXE --launcher-version N]\n"
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
    "refused; every refused file is listed.\n"
    "\n"
    "  --out TREE            the file host's document root\n"
    "  --key KEY             the private key of morvel-publish keygen; the manifest is\n"
    "                        signed with it (its last line)\n"
    "  --otc DIR             the OTClient folder (\"Morvel Global\" on the player's disk)\n"
    "  --classic DIR         the Tibia 8.60 folder (\"Morvel Global 8.60\"); give one or both\n"
    "  --launcher EXE        the launcher exe to offer as self-update, with\n"
    "  --launcher-version N  its version number (players with a lower one update)\n"
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
    "usage: morvel-publish verify TREE --key KEY.pub [--progress]\n"
    "\n"
    "Reads TREE/arquivos/launcher/manifest.txt with the launcher's own parser, then\n"
    "inflates every body as the launcher does (one gzip member) and compares its size\n"
    "and SHA-256 with the manifest, checks every download size against the body file,\n"
    "applies every patch to its base body and compares the result with the file it\n"
    "announces, checks the \"self\" line against the launcher exe and the manifest's\n"
    "signature against the public key. Lists every fault found.\n"
    "\n"
    "  --key KEY.pub   the public key file of morvel-publish keygen\n"
    "  --progress   show progress on stderr even when it is not a terminal\n"
    "\n"
    "Exit codes: 0 the tree is sound; 1 faults found; 2 bad command line; 3 I/O error.\n";

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
      options.client_dirs[0] = PathFromUtf8(v);
    } else if (a == "--classic") {
      options.client_dirs[1] = PathFromUtf8(v);
    } else if (a == "--launcher") {
      options.launcher_exe = PathFromUtf8(v);
    } else if (a == "--launcher-version") {
      if (!ReadNumber(v, 1, INT32_MAX, n)) return UsageError("--launcher-version must be a whole number from 1 to 2147483647", "publish ");
      options.launcher_version = static_cast<int32_t>(n);
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
    std::printf("launcher: %s (%s)\n", report.launcher_request_path.c_str(), report.launcher_copied ? "copied" : "already there");
  }
  std::printf("manifest: %s\n", DisplayPath(report.manifest).c_str());
  return kExitOk;
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
  std::string tree, key_file;
  bool progress_flag = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kVerifyUsage, stdout);
      return kExitOk;
    }
    if (a == "--key") {
      if (i + 1 >= args.size()) return UsageError("--key needs a value", "verify ");
      key_file = args[++i];
    } else if (a == "--progress") {
      progress_flag = true;
    } else if (a.rfind("--", 0) == 0) {
      return UsageError("unknown option " + a, "verify ");
    } else if (!tree.empty()) {
      return UsageError("give one TREE", "verify ");
    } else {
      tree = a;
    }
  }
  if (tree.empty()) return UsageError("give the TREE to verify", "verify ");
  if (key_file.empty()) return UsageError("give the public key with --key KEY.pub", "verify ");
  ManifestPublicKey key;
  std::string key_error;
  if (!ReadPublicKeyFile(PathFromUtf8(key_file), key, key_error)) return UsageError(key_error, "verify ");
  VerifyReport report;
  const ExitCode code = Verify(PathFromUtf8(tree), key, progress_flag || StderrIsTerminal(), report);
  PrintList("warning: ", report.warnings);
  PrintList("fault: ", report.problems);
  if (code == kExitOk) {
    std::printf("verified %llu files (%.1f MB) in %llu bodies, %llu patches and %llu packs; %llu unreferenced bodies, %llu unreferenced packs\n",
                static_cast<unsigned long long>(report.files), Mb(report.bytes),
                static_cast<unsigned long long>(report.bodies), static_cast<unsigned long long>(report.patches),
                static_cast<unsigned long long>(report.packs), static_cast<unsigned long long>(report.unreferenced_bodies),
                static_cast<unsigned long long>(report.unreferenced_packs));
  } else {
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
  if (command == "help" || command == "--help" || command == "-h") {
    if (!rest.empty() && rest[0] == "publish") return RunPublish({"--help"});
    if (!rest.empty() && rest[0] == "verify") return RunVerify({"--help"});
    if (!rest.empty() && rest[0] == "keygen") return RunKeygen({"--help"});
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

// morvel-publish: builds the file host's tree (manifest.txt, gzip bodies, the
// launcher exe) from the client folders, and verifies a tree the way the
// launcher will read it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/client_table.h"
#include "tools/publish/exe_signature.h"
#include "tools/publish/platform.h"
#include "update/manifest_signature.h"

namespace publish {

// Exit codes of every command.
enum ExitCode : int {
  kExitOk = 0,
  kExitProblems = 1,  // publish: files refused, nothing published; verify: the tree has faults
  kExitUsage = 2,     // bad command line
  kExitIoError = 3,   // a read, write or rename failed; the old manifest is untouched
};

// The running launcher's version in the first release; a manifest announcing a
// higher one without a usable "self" line makes every player start nag.
constexpr int32_t kFirstLauncherVersion = 2;

struct PublishOptions {
  fs::path out;                 // the tree's root
  fs::path key;                 // the private key every manifest is signed with
  fs::path client_dirs[kClientCount];    // by ClientKind; empty = that client is not published
  fs::path launcher_exe;        // empty = no "launcher"/"self" lines
  int32_t launcher_version = 0;
  ExeSigning launcher_signing;  // cert and key given: the exe is signed before it is hashed
  // With N > 0, an "expires" line N days on: a launcher with a key refuses the
  // manifest once that has passed (plus kExpiryLeewaySeconds). Off by default.
  uint32_t valid_days = 0;
  std::vector<std::string> keep;     // patterns: files players keep once they have them
  std::vector<std::string> exclude;  // patterns: left out entirely
  int level = 9;                     // gzip level, 1-9
  unsigned jobs = 0;                 // compressing threads; 0 = one per core
  bool progress = false;
  bool packs = true;                 // group small bodies into packs
};

struct PublishReport {
  uint64_t files = 0;              // "f" lines written
  uint64_t bytes = 0;              // their total size
  uint64_t bodies = 0;             // distinct contents
  uint64_t bodies_compressed = 0;  // bodies made by this run
  uint64_t bodies_reused = 0;      // bodies already on the host, left as they were
  uint64_t bodies_replaced = 0;    // present but implausible, so made again
  uint64_t compressed_in = 0, compressed_out = 0;  // bytes in and out of the bodies made
  uint64_t patches = 0;                // "p" lines written
  uint64_t patches_made = 0;           // patch bodies made by this run
  uint64_t patches_not_worth_it = 0;   // changed files whose patch was not under half their body
  uint64_t serial = 0;   // of the new manifest
  uint64_t expires = 0;  // 0: none
  uint64_t packs = 0;                  // "k" lines written
  uint64_t packs_made = 0;             // pack files written by this run
  uint64_t packs_reused = 0;           // packs of the previous manifest kept as they were
  bool launcher_copied = false;
  bool launcher_signed = false;
  std::string launcher_request_path;  // the "self" path
  fs::path manifest;
  std::vector<std::string> problems;  // files refused (exit 1)
  std::vector<std::string> warnings;
  std::string error;                  // the I/O failure (exit 3)
};

ExitCode Publish(const PublishOptions& options, PublishReport& report);

struct VerifyReport {
  uint64_t serial = 0, expires = 0;  // the manifest's (0: no such line)
  uint64_t files = 0, bodies = 0, bytes = 0;
  uint64_t patches = 0;
  uint64_t packs = 0;
  uint64_t unreferenced_bodies = 0;
  uint64_t unreferenced_packs = 0;
  std::vector<std::string> problems;
  std::vector<std::string> warnings;
};

// Every problem is listed, not only the first; the manifest's signature is
// checked against key. A serial below lowest_serial (an older manifest's, which
// launchers may have accepted) is a fault: they would refuse the tree.
// The launcher exe's Authenticode signature is checked too when osslsigncode is
// installed, against the system's CAs or exe_ca alone.
ExitCode Verify(const fs::path& tree, const ManifestPublicKey& key, bool progress, VerifyReport& report,
                const fs::path& exe_ca = {}, uint64_t lowest_serial = 0);

// The serial of the manifest file at path (0 when it has none); false with
// error set when it cannot be read or is no manifest.
bool ReadManifestSerial(const fs::path& path, uint64_t& serial, std::string& error);

// A new manifest's serial: the Unix time, or one past the previous serial when
// that is not below it (a clock set back, two runs in one second), so it only
// grows, also in a tree rebuilt from scratch.
uint64_t NextSerial(uint64_t previous, uint64_t now);

// Launcher executable name on the host: the version and the start of its
// SHA-256, so a new build never overwrites a file a player may be fetching.
std::string LauncherFileName(int32_t version, const std::string& sha256);

}  // namespace publish

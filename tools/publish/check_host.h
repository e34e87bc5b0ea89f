// check-host: reads a file host over HTTPS the way players' launchers do and
// names every serving fault it finds, once per kind, with its fix.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/publish/publish.h"
#include "update/manifest_signature.h"

namespace publish {

struct CheckHostOptions {
  std::string origin;         // "https://host[:port]"
  bool with_key = false;
  ManifestPublicKey key{};    // the manifest's signature is checked with it
  fs::path tree;              // the local tree the host should serve; empty = none
  size_t sample = 10;         // bodies (and as many patches) fetched, chosen at random
  bool all = false;           // every body and patch instead
  std::string ca_file;        // trust only this CA (a staging host's); empty = the system's
};

// One kind of fault, however often it was seen.
struct HostFault {
  std::string name;
  uint64_t count = 0;                 // requests that showed it
  std::vector<std::string> examples;  // the first few, each "request path: what came"
};

struct CheckHostReport {
  std::vector<HostFault> faults;   // in the order of FaultKinds()
  std::vector<std::string> notes;  // what was checked, and what could not be
  uint64_t requests = 0;
  std::string error;               // why the host could not be read at all (exit 3)
};

struct FaultKind {
  const char* name;
  const char* fix;  // as docs/publishing.md gives it
};
const std::vector<FaultKind>& FaultKinds();

// "https://host" or "https://host:port", an optional final "/" dropped; false otherwise.
bool ParseOrigin(const std::string& url, std::string& origin);

// The manifest's "serial" line (only ever growing from one publish to the
// next); false when it has none.
bool ManifestSerial(const std::string& text, uint64_t& serial);

// Whether Cache-Control lets every cache keep a body for at least 30 days.
bool CachesForLong(const std::string& cache_control);

// kExitOk: no fault; kExitProblems: faults (all in the report); kExitIoError:
// no answer from the host at all, or the local tree unreadable.
ExitCode CheckHost(const CheckHostOptions& options, CheckHostReport& report);

}  // namespace publish

// The file host and its mirrors, in the order built into the launcher, as one
// task uses them: every request goes to the current host; a host that fails is
// passed over for the rest of the task. With a signed manifest a mirror needs
// no trust: whatever it serves is checked against the manifest, and the
// manifest against the key.
#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "update/file_host.h"
#include "update/http_win32.h"
#include "update/manifest.h"

class FileHosts {
 public:
  // Each host's Http is made when its turn comes. An empty list is one host
  // that can never be reached.
  explicit FileHosts(const std::vector<FileHost>& hosts);
  // The one host of a caller that owns its Http (tests, the benchmarks).
  explicit FileHosts(Http& only);
  FileHosts(const FileHosts&) = delete;
  FileHosts& operator=(const FileHosts&) = delete;

  Http& current();
  // Which host current() is; it only moves forward.
  size_t current_index() const { return current_; }
  // Passes the current host over: true when the next one takes its place,
  // false when it was the last, which then stays (a last host is tried again,
  // as a single host always was).
  bool PassOver();
  // The first host: the server's own site, which also holds the download page.
  const FileHost& primary() const { return hosts_.front(); }

 private:
  std::vector<FileHost> hosts_;
  std::vector<std::unique_ptr<Http>> owned_;  // by host, made on first use
  Http* only_ = nullptr;
  size_t current_ = 0;
};

// The task's manifest: from the first host, in order, whose manifest passes,
// each failing one passed over. Passing means: fetched whole with status 200,
// parsed, with at least one file and, in a build with a key, signed by it, not
// older than the highest serial accepted before (ReadSerialRecord) and not
// expired. A higher serial is then recorded. false when no host passes.
bool FetchTaskManifest(FileHosts& hosts, Manifest& manifest);

#include "update/file_hosts_win32.h"

#include "update/manifest_fetch.h"
#include "update/manifest_trust.h"
#include "update/serial_record_win32.h"

FileHosts::FileHosts(const std::vector<FileHost>& hosts) : hosts_(hosts) {
  if (hosts_.empty()) hosts_.emplace_back();
  owned_.resize(hosts_.size());
}

FileHosts::FileHosts(Http& only) : hosts_{only.host()}, only_(&only) {}

Http& FileHosts::current() {
  if (only_) return *only_;
  if (!owned_[current_]) owned_[current_] = std::make_unique<Http>(hosts_[current_]);
  return *owned_[current_];
}

bool FileHosts::PassOver() {
  if (current_ + 1 >= hosts_.size()) return false;
  // Its Http stays until the end of the task: requests still out on it are
  // closed by their owners first.
  ++current_;
  return true;
}

bool FetchTaskManifest(FileHosts& hosts, Manifest& manifest) {
  // Without a key nothing in a manifest can be trusted beyond TLS, so neither
  // its serial nor its expiry means anything: such a build reads as before.
  const bool keyed = !hosts.primary().manifest_key.empty();
  const uint64_t recorded = keyed ? ReadSerialRecord() : 0;
  const uint64_t now = keyed ? UnixTimeNow() : 0;
  for (;;) {
    manifest = Manifest();
    if (FetchManifest(hosts.current(), manifest) &&
        JudgeManifest(manifest, recorded, now) == ManifestVerdict::Usable) {
      if (keyed && manifest.serial > recorded) WriteSerialRecord(manifest.serial);
      return true;
    }
    if (!hosts.PassOver()) break;
  }
  manifest = Manifest();
  return false;
}

// The verifying half of a patched download: a gzip-wrapped patch inflated chunk
// by chunk as it arrives, applied to the old file, every piece of the new file
// handed to a sink (the ".part" file) and hashed. No Windows header, so the
// same steps run under the sanitizers, the fuzzer and the publishing tool.
#pragma once
#include <cstdint>
#include <string>

#include "update/inflate_verify.h"
#include "update/patch.h"
#include "update/sha256.h"

class PatchedDownload {
 public:
  PatchedDownload(uint64_t base_size, uint64_t target_size, PatchApplier::BaseReader base, InflateVerifier::Sink sink);
  PatchedDownload(const PatchedDownload&) = delete;
  PatchedDownload& operator=(const PatchedDownload&) = delete;

  // false when zlib cannot set up; nothing else may be called then.
  bool Start() { return inflater_.Start(); }
  // One received chunk of the gzip body. After any outcome but Accepted the
  // patch is lost.
  PatchOutcome Feed(const uint8_t* data, uint32_t length);
  void End() { inflater_.End(); }

  uint64_t produced() const { return applier_.produced(); }
  // true only when the gzip member and the patch both ended, with the target
  // size produced and its digest equal to expected_sha256. Call once, last.
  bool Finish(const std::string& expected_sha256);

 private:
  PatchApplier applier_;
  InflateVerifier inflater_;
  PatchOutcome applied_ = PatchOutcome::Accepted;
  InflateVerifier::Sink sink_;
  Sha256 digest_;
};

#include "update/patch_download.h"

#include <limits>

PatchedDownload::PatchedDownload(uint64_t base_size, uint64_t target_size, PatchApplier::BaseReader base,
                                 InflateVerifier::Sink sink)
    : applier_(base_size, target_size, std::move(base),
               [this](const uint8_t* data, uint32_t length) {
                 if (!sink_(data, length)) return false;
                 digest_.Update(data, length);
                 return true;
               }),
      // The inflated patch has no size of its own to check; the applier bounds
      // what it may produce by the target size.
      inflater_(std::numeric_limits<uint64_t>::max(),
                [this](const uint8_t* data, uint32_t length) {
                  applied_ = applier_.Feed(data, length);
                  return applied_ == PatchOutcome::Accepted;
                }),
      sink_(std::move(sink)) {}

PatchOutcome PatchedDownload::Feed(const uint8_t* data, uint32_t length) {
  const ChunkOutcome outcome = inflater_.Feed(data, length);
  if (outcome == ChunkOutcome::Accepted) return PatchOutcome::Accepted;
  if (outcome == ChunkOutcome::WriteFailed) return applied_;  // the applier's own reason
  return PatchOutcome::Corrupt;
}

bool PatchedDownload::Finish(const std::string& expected_sha256) {
  return inflater_.stream_ended() && applied_ == PatchOutcome::Accepted && applier_.Complete() &&
         digest_.FinishHex() == expected_sha256;
}

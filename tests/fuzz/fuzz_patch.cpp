// Feeds any byte stream to the patch applier as a patch, cut into chunks the
// way an inflater hands them on, and compares it with a one-shot reading of the
// format written here from its description.
//
// Input: bytes 0..1 the base size (at most 4096), bytes 2..3 the target size
// the caller expects (at most 65535), byte 4 seeds the chunk lengths, then the
// base's bytes, then the patch. Sizes stay small so that every run is quick.
//
// Invariants: the applier reads the base only inside it, never produces more
// than the target size, produces exactly what the reference produces before
// it stops, fails exactly when the reference finds a fault, and completes
// exactly when the reference reaches a sound end.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "update/patch.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

struct Reference {
  std::string out;
  bool fault = false;     // the stream breaks a rule
  bool complete = false;  // a sound end operation
};

uint64_t Little(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v * 256 + p[i];
  return v;
}

Reference Read(const std::string& base, uint64_t target_size, const uint8_t* p, size_t n) {
  Reference r;
  // The applier judges the header once all 24 bytes are in.
  if (n < 24) return r;
  if (std::memcmp(p, "MGPATCH1", 8) != 0 || Little(p + 8, 8) != base.size() || Little(p + 16, 8) != target_size) {
    r.fault = true;
    return r;
  }
  size_t at = 24;
  while (at < n) {
    const uint8_t tag = p[at++];
    if (tag == 0) {
      r.fault = r.out.size() != target_size || at != n;
      r.complete = !r.fault;
      return r;
    }
    if (tag == 1) {
      if (n - at < 16) return r;
      const uint64_t offset = Little(p + at, 8), length = Little(p + at + 8, 8);
      at += 16;
      if (length == 0 || offset > base.size() || length > base.size() - offset ||
          length > target_size - r.out.size()) {
        r.fault = true;
        return r;
      }
      r.out.append(base, offset, length);
    } else if (tag == 2) {
      if (n - at < 4) return r;
      const uint64_t length = Little(p + at, 4);
      at += 4;
      if (length == 0 || length > target_size - r.out.size()) {
        r.fault = true;
        return r;
      }
      const size_t take = length < n - at ? length : n - at;
      r.out.append(reinterpret_cast<const char*>(p + at), take);
      at += take;
    } else {
      r.fault = true;
      return r;
    }
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const size_t base_size = (data[0] | data[1] << 8) % 4097;
  const uint64_t target_size = data[2] | data[3] << 8;
  uint32_t seed = data[4];
  if (size - 5 < base_size) return 0;
  const std::string base(reinterpret_cast<const char*>(data + 5), base_size);
  const uint8_t* patch = data + 5 + base_size;
  const size_t patch_size = size - 5 - base_size;

  std::string out;
  PatchApplier applier(
      base.size(), target_size,
      [&](uint64_t offset, uint8_t* to, uint32_t length) {
        Check(offset <= base.size() && length <= base.size() - offset, "read outside the base");
        std::memcpy(to, base.data() + offset, length);
        return true;
      },
      [&](const uint8_t* piece, uint32_t length) {
        Check(length > 0, "empty piece");
        out.append(reinterpret_cast<const char*>(piece), length);
        Check(out.size() <= target_size, "more than the target size produced");
        return true;
      });
  PatchOutcome outcome = PatchOutcome::Accepted;
  for (size_t at = 0; at < patch_size && outcome == PatchOutcome::Accepted;) {
    seed = seed * 1103515245u + 12345u;
    const size_t want = 1 + (seed >> 8) % 300;
    const size_t n = want < patch_size - at ? want : patch_size - at;
    outcome = applier.Feed(patch + at, n);
    at += n;
  }
  Check(outcome != PatchOutcome::BaseReadFailed && outcome != PatchOutcome::WriteFailed, "failure without a cause");

  const Reference ref = Read(base, target_size, patch, patch_size);
  Check(out == ref.out, "produced other bytes than the reference");
  Check((outcome == PatchOutcome::Corrupt) == ref.fault, "fault found by one reading only");
  Check(applier.Complete() == ref.complete, "completion differs from the reference");
  Check(applier.produced() == out.size(), "produced count differs from the bytes sunk");
  return 0;
}

// Streaming SHA-256 (FIPS 180-4). A context lives with its caller, owns no memory
// and is used once: fed with Update, then finished with FinishHex.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class Sha256 {
 public:
  Sha256();
  void Update(const void* data, uint32_t length);
  // 64 lower-case hex characters; the context must not be used afterwards.
  std::string FinishHex();

 private:
  uint32_t state_[8];
  uint8_t block_[64];
  uint64_t byte_count_;
  uint32_t fill_;
};

// The one loop that digests a file, or any stream read in chunks: asks
// read(buffer, capacity) for the next chunk (its length; 0 at the end, negative
// on failure), feeds it to digest and hands it to use(data, length), which stops
// the loop by returning false. true once the stream ended with every chunk used.
template <typename Read, typename Use>
bool DigestStream(Sha256& digest, Read&& read, Use&& use) {
  constexpr uint32_t kChunk = 262144;
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunk]);
  for (;;) {
    const int64_t got = read(buffer.get(), kChunk);
    if (got <= 0) return got == 0;
    digest.Update(buffer.get(), static_cast<uint32_t>(got));
    if (!use(buffer.get(), static_cast<uint32_t>(got))) return false;
  }
}

namespace sha256_detail {

// Processes `blocks` consecutive 64-byte blocks into the state.
using TransformFn = void (*)(uint32_t state[8], const uint8_t* data, size_t blocks);

void TransformPortable(uint32_t state[8], const uint8_t* data, size_t blocks);
// The x86 SHA extensions; only call when CpuHasShaExtensions() is true.
void TransformShaExtensions(uint32_t state[8], const uint8_t* data, size_t blocks);
bool CpuHasShaExtensions();
const uint32_t* RoundConstants();

// The transform every context uses: chosen once, on first use, from the CPU.
TransformFn ActiveTransform();
// Tests and benchmarks pin one transform; nullptr returns to the CPU's choice.
void OverrideTransform(TransformFn fn);

}  // namespace sha256_detail

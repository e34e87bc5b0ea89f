// Streaming SHA-256 (FIPS 180-4). A context lives with its caller, owns no memory
// and is used once: fed with Update, then finished with FinishHex.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sha256_detail {

// Processes `blocks` consecutive 64-byte blocks into the state.
using TransformFn = void (*)(uint32_t state[8], const uint8_t* data, size_t blocks);

void TransformPortable(uint32_t state[8], const uint8_t* data, size_t blocks);
// The x86 SHA extensions; only call when CpuHasShaExtensions() is true.
void TransformShaExtensions(uint32_t state[8], const uint8_t* data, size_t blocks);
bool CpuHasShaExtensions();
const uint32_t* RoundConstants();

// The transform a context uses unless told otherwise: chosen once, on first
// use, from the CPU.
TransformFn ActiveTransform();

}  // namespace sha256_detail

class Sha256 {
 public:
  // Tests and benchmarks name the transform to measure or compare.
  explicit Sha256(sha256_detail::TransformFn transform = sha256_detail::ActiveTransform());
  void Update(const void* data, uint32_t length);
  // 64 lower-case hex characters; the context must not be used afterwards.
  std::string FinishHex();

 private:
  sha256_detail::TransformFn transform_;
  uint32_t state_[8];
  uint8_t block_[64];
  uint64_t byte_count_;
  uint32_t fill_;
};

// The size of the chunks DigestStream asks for.
constexpr uint32_t kDigestChunk = 262144;

// The one loop that digests a file, or any stream read in chunks: asks
// read(buffer, kDigestChunk) for the next chunk (its length; 0 at the end,
// negative on failure), feeds it to digest and hands it to use(data, length),
// which stops the loop by returning false. true once the stream ended with
// every chunk used. buffer holds kDigestChunk bytes; a caller that digests many
// streams in a row lends the same one to each (under Wine, a block allocated
// for every file cost about a tenth of a check pass of 1,627 files).
template <typename Read, typename Use>
bool DigestStream(Sha256& digest, uint8_t* buffer, Read&& read, Use&& use) {
  for (;;) {
    const int64_t got = read(buffer, kDigestChunk);
    if (got <= 0) return got == 0;
    digest.Update(buffer, static_cast<uint32_t>(got));
    if (!use(buffer, static_cast<uint32_t>(got))) return false;
  }
}

// The same with a buffer of its own.
template <typename Read, typename Use>
bool DigestStream(Sha256& digest, Read&& read, Use&& use) {
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kDigestChunk]);
  return DigestStream(digest, buffer.get(), read, use);
}

#include "update/sha256.h"

#include <cstdio>
#include <cstring>

namespace sha256_detail {
namespace {

constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

}  // namespace

const uint32_t* RoundConstants() { return kRoundConstants; }

// Fully unrolled, with the variables renamed instead of shifted each round and
// the message schedule kept as a 16-word ring.
#define SHA_CH(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define SHA_MAJ(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))
#define SHA_BIG0(x) (Rotr(x, 2) ^ Rotr(x, 13) ^ Rotr(x, 22))
#define SHA_BIG1(x) (Rotr(x, 6) ^ Rotr(x, 11) ^ Rotr(x, 25))
#define SHA_SMALL0(x) (Rotr(x, 7) ^ Rotr(x, 18) ^ ((x) >> 3))
#define SHA_SMALL1(x) (Rotr(x, 17) ^ Rotr(x, 19) ^ ((x) >> 10))
#define SHA_ROUND(a, b, c, d, e, f, g, h, k, w)                  \
  do {                                                          \
    const uint32_t t1 = h + SHA_BIG1(e) + SHA_CH(e, f, g) + k + w; \
    d += t1;                                                    \
    h = t1 + SHA_BIG0(a) + SHA_MAJ(a, b, c);                    \
  } while (0)
#define SHA_EXPAND(i) \
  (w[i] += SHA_SMALL1(w[((i) + 14) & 15]) + w[((i) + 9) & 15] + SHA_SMALL0(w[((i) + 1) & 15]))
#define SHA_SIXTEEN(K, W)                                       \
  SHA_ROUND(a, b, c, d, e, f, g, h, K[0], W(0));                \
  SHA_ROUND(h, a, b, c, d, e, f, g, K[1], W(1));                \
  SHA_ROUND(g, h, a, b, c, d, e, f, K[2], W(2));                \
  SHA_ROUND(f, g, h, a, b, c, d, e, K[3], W(3));                \
  SHA_ROUND(e, f, g, h, a, b, c, d, K[4], W(4));                \
  SHA_ROUND(d, e, f, g, h, a, b, c, K[5], W(5));                \
  SHA_ROUND(c, d, e, f, g, h, a, b, K[6], W(6));                \
  SHA_ROUND(b, c, d, e, f, g, h, a, K[7], W(7));                \
  SHA_ROUND(a, b, c, d, e, f, g, h, K[8], W(8));                \
  SHA_ROUND(h, a, b, c, d, e, f, g, K[9], W(9));                \
  SHA_ROUND(g, h, a, b, c, d, e, f, K[10], W(10));              \
  SHA_ROUND(f, g, h, a, b, c, d, e, K[11], W(11));              \
  SHA_ROUND(e, f, g, h, a, b, c, d, K[12], W(12));              \
  SHA_ROUND(d, e, f, g, h, a, b, c, K[13], W(13));              \
  SHA_ROUND(c, d, e, f, g, h, a, b, K[14], W(14));              \
  SHA_ROUND(b, c, d, e, f, g, h, a, K[15], W(15))

void TransformPortable(uint32_t state[8], const uint8_t* data, size_t blocks) {
  for (; blocks > 0; --blocks, data += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(data + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
#define SHA_LOADED(i) w[i]
    SHA_SIXTEEN(kRoundConstants, SHA_LOADED);
    SHA_SIXTEEN((kRoundConstants + 16), SHA_EXPAND);
    SHA_SIXTEEN((kRoundConstants + 32), SHA_EXPAND);
    SHA_SIXTEEN((kRoundConstants + 48), SHA_EXPAND);
#undef SHA_LOADED
    state[0] += a; state[1] += b; state[2] += c; state[3] += d;
    state[4] += e; state[5] += f; state[6] += g; state[7] += h;
  }
}

TransformFn ActiveTransform() {
  static const TransformFn chosen = CpuHasShaExtensions() ? TransformShaExtensions : TransformPortable;
  return chosen;
}

}  // namespace sha256_detail

Sha256::Sha256(sha256_detail::TransformFn transform)
    : transform_(transform),
      state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19},
      block_{},
      byte_count_(0),
      fill_(0) {}

void Sha256::Update(const void* data, uint32_t length) {
  const auto transform = transform_;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  byte_count_ += length;
  while (length > 0) {
    if (fill_ != 0) {
      const uint32_t take = length < 64 - fill_ ? length : 64 - fill_;
      std::memcpy(block_ + fill_, p, take);
      fill_ += take;
      p += take;
      length -= take;
      if (fill_ == 64) {
        transform(state_, block_, 1);
        fill_ = 0;
      }
    } else if (length >= 64) {
      // Whole blocks straight from the caller's buffer, as many as there are.
      const uint32_t blocks = length / 64;
      transform(state_, p, blocks);
      p += blocks * 64;
      length -= blocks * 64;
    } else {
      std::memcpy(block_, p, length);
      fill_ = length;
      length = 0;
    }
  }
}

std::string Sha256::FinishHex() {
  const uint64_t bits = byte_count_ * 8;
  static const uint8_t kPadding[64] = {0x80};
  Update(kPadding, fill_ < 56 ? 56 - fill_ : 120 - fill_);
  uint8_t length_bytes[8];
  for (int i = 0; i < 8; ++i) length_bytes[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  Update(length_bytes, 8);
  char hex[65];
  for (int i = 0; i < 8; ++i) std::snprintf(hex + 8 * i, 9, "%08x", static_cast<unsigned>(state_[i]));
  return std::string(hex, 64);
}

// Feeds any byte stream to the download's inflate-and-verify steps, cut into
// chunks the way a network delivers them, and checks what may land on disk.
//
// Input: byte 0 picks what the manifest claims (0 the true size and digest,
// 1 one byte less, 2 one byte more, 3 the true size with another digest,
// 4 the size in bytes 3..6 with the true digest, 5 an absurd size); bytes 1..2
// seed the chunk lengths; the rest is the body.
//
// Invariants: never more than the claimed size reaches the sink, what reaches
// it is a prefix of the body's first gzip member, and the body is accepted
// exactly when that member is complete, of the claimed size, with the claimed
// digest.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "update/inflate_verify.h"

namespace {

constexpr size_t kReferenceCap = 32u << 20;

struct Reference {
  std::string bytes;     // the first gzip member inflated, up to the cap
  bool complete = false; // the member ended within the cap
  bool capped = false;
};

// One-shot reading of the first gzip member into a growing string: a different
// use of zlib from the verifier's chunked one.
Reference Inflate(const uint8_t* data, size_t size) {
  Reference ref;
  z_stream s{};
  if (inflateInit2(&s, 31) != Z_OK) std::abort();
  s.next_in = const_cast<Bytef*>(data);
  s.avail_in = static_cast<uInt>(size);
  std::string out(1 << 16, '\0');
  for (;;) {
    if (ref.bytes.size() > kReferenceCap) {
      ref.capped = true;
      break;
    }
    s.next_out = reinterpret_cast<Bytef*>(&out[0]);
    s.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&s, Z_NO_FLUSH);
    ref.bytes.append(out.data(), out.size() - s.avail_out);
    if (status == Z_STREAM_END) {
      ref.complete = true;
      break;
    }
    if (status != Z_OK) break;  // corrupt, or the input ran out (Z_BUF_ERROR)
  }
  inflateEnd(&s);
  return ref;
}

std::string Sha(const std::string& bytes) {
  Sha256 h;
  h.Update(bytes.data(), static_cast<uint32_t>(bytes.size()));
  return h.FinishHex();
}

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 7) return 0;
  const uint8_t mode = data[0] % 6;
  uint32_t seed = static_cast<uint32_t>(data[1]) | (static_cast<uint32_t>(data[2]) << 8);
  uint32_t given_size;
  std::memcpy(&given_size, data + 3, 4);
  const uint8_t* body = data + 7;
  const size_t body_size = size - 7;

  const Reference ref = Inflate(body, body_size);
  const uint64_t true_size = ref.bytes.size();
  uint64_t claimed_size = true_size;
  std::string claimed_sha = Sha(ref.bytes);
  switch (mode) {
    case 1: claimed_size = true_size == 0 ? 0 : true_size - 1; break;
    case 2: claimed_size = true_size + 1; break;
    case 3: claimed_sha[0] = claimed_sha[0] == '0' ? '1' : '0'; break;
    case 4: claimed_size = given_size; break;
    case 5: claimed_size = std::numeric_limits<uint64_t>::max() - given_size; break;
    default: break;
  }

  std::string sunk;
  InflateVerifier verifier(claimed_size, [&](const uint8_t* piece, uint32_t length) {
    Check(length > 0 && length <= kInflateBufferSize, "piece length out of range");
    sunk.append(reinterpret_cast<const char*>(piece), length);
    return true;
  });
  if (!verifier.Start()) return 0;

  bool stopped = false;
  for (size_t at = 0; at < body_size && !stopped;) {
    seed = seed * 1103515245u + 12345u;
    const size_t want = 1 + (seed >> 8) % 65536;
    const size_t n = want < body_size - at ? want : body_size - at;
    const ChunkOutcome outcome = verifier.Feed(body + at, static_cast<uint32_t>(n));
    Check(outcome != ChunkOutcome::WriteFailed, "write failure without a failing sink");
    Check(sunk.size() <= claimed_size, "more than the claimed size reached the sink");
    Check(verifier.written() == sunk.size(), "written count differs from the bytes sunk");
    stopped = outcome != ChunkOutcome::Accepted;
    at += n;
  }
  verifier.End();

  const size_t common = sunk.size() < ref.bytes.size() ? sunk.size() : ref.bytes.size();
  Check(std::memcmp(sunk.data(), ref.bytes.data(), common) == 0, "the sink got bytes that are not the body's content");
  if (!ref.capped) Check(sunk.size() <= ref.bytes.size(), "the sink got more than the member holds");
  const bool should_accept =
      ref.complete && claimed_size == true_size && claimed_sha == Sha(ref.bytes);
  const bool accepted = verifier.Finish(claimed_sha);
  Check(accepted == should_accept, "accepted a body it should reject, or the other way round");
  if (accepted) Check(sunk == ref.bytes, "accepted bytes differ from the body's content");
  return 0;
}

// Feeds any byte stream to the download's inflate-and-verify steps, cut into
// chunks the way a network delivers them, and checks what may land on disk
// against zlib's one-shot inflate of the same body.
//
// Input: byte 0 picks what the manifest claims (0 the true size and digest,
// 1 one byte less, 2 one byte more, 3 another digest, 4 a size taken from bytes
// 4..7, 5 an absurd size, 6 the digest in capitals, 7 the digest one character
// short, 8 the true size and 9 the size of mode 4, each plus a multiple of
// 4 GiB, which a 32-bit count would miss); bytes 1..2 seed the chunk lengths;
// byte 3 picks the disk budget; the rest is the body.
//
// The disk budget keeps every run small: the sink refuses to grow past it, as a
// full disk would, and the reference inflates one byte more than it. So a bomb
// costs no more than a file of the budget's size, yet is still a body longer
// than its claim, or one that fills the disk.
//
// Invariants: never more than the claimed size reaches the sink, what reaches
// it is a prefix of the body's first gzip member, the body is accepted exactly
// when that member is complete, of the claimed size, with the claimed digest,
// and every way the verifier stops agrees with what the one-shot inflate saw.
#include <zlib.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "update/inflate_verify.h"

namespace {

// One output buffer and a quarter: room for a chunk to inflate in two pieces
// and for the piece that goes past the claim to be the second.
constexpr size_t kMaxBudget = kInflateBufferSize * 5 / 4;

struct Reference {
  const uint8_t* bytes = nullptr;  // the first gzip member, up to the budget and one byte
  size_t size = 0;
  int status = Z_OK;         // of the one inflate call
  size_t consumed = 0;       // body bytes the member took
  bool complete = false;     // the member ended within the budget and one byte
  bool over_budget = false;  // the member holds more than the budget
};

// One inflate call over the whole body with Z_FINISH: zlib's single-step path,
// a different use from the verifier's chunk-by-chunk one.
Reference InflateOnce(const uint8_t* body, size_t body_size, size_t budget) {
  static const std::unique_ptr<uint8_t[]> out(new uint8_t[kMaxBudget + 1]);  // reused, as below
  Reference ref;
  z_stream s{};
  if (inflateInit2(&s, 31) != Z_OK) std::abort();
  s.next_in = const_cast<Bytef*>(body);
  s.avail_in = static_cast<uInt>(body_size);
  s.next_out = out.get();
  s.avail_out = static_cast<uInt>(budget + 1);
  ref.status = inflate(&s, Z_FINISH);
  inflateEnd(&s);
  ref.bytes = out.get();
  ref.size = budget + 1 - s.avail_out;
  ref.consumed = body_size - s.avail_in;
  ref.complete = ref.status == Z_STREAM_END;
  ref.over_budget = ref.size > budget;
  return ref;
}

std::string Sha(const uint8_t* bytes, size_t size) {
  Sha256 h;
  h.Update(bytes, static_cast<uint32_t>(size));
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
  if (size < 8) return 0;
  const uint8_t mode = data[0] % 10;
  uint32_t seed = static_cast<uint32_t>(data[1]) | (static_cast<uint32_t>(data[2]) << 8);
  const size_t budget = kMaxBudget >> (data[3] % 16);
  uint32_t given;
  std::memcpy(&given, data + 4, 4);
  const uint8_t* body = data + 8;
  const size_t body_size = size - 8;

  const Reference ref = InflateOnce(body, body_size, budget);
  const uint64_t true_size = ref.size;
  uint64_t claimed_size = true_size;
  const std::string true_sha = Sha(ref.bytes, ref.size);
  std::string claimed_sha = true_sha;
  const uint64_t gibibytes4 = (static_cast<uint64_t>(given) + 1) << 32;
  switch (mode) {
    case 1: claimed_size = true_size == 0 ? 0 : true_size - 1; break;
    case 2: claimed_size = true_size + 1; break;
    case 3: claimed_sha[given % 64] = claimed_sha[given % 64] == '0' ? '1' : '0'; break;
    case 4: claimed_size = given % (budget + 2); break;
    case 5: claimed_size = std::numeric_limits<uint64_t>::max() - given; break;
    case 6:
      for (char& c : claimed_sha) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      break;
    case 7: claimed_sha.pop_back(); break;
    case 8: claimed_size = true_size + gibibytes4; break;
    case 9: claimed_size = given % (budget + 2) + gibibytes4; break;
    default: break;
  }

  // Reused between runs: under the sanitizer every allocation this large is a
  // fresh mapping, and its page faults cost more than the rest of a run.
  static const auto buffer = std::make_unique<InflateBuffer>();
  static std::string sunk;
  sunk.clear();
  sunk.reserve(kMaxBudget);
  InflateVerifier verifier(claimed_size, *buffer, [&](const uint8_t* piece, uint32_t length) {
    Check(length > 0 && length <= kInflateBufferSize, "piece length out of range");
    if (sunk.size() + length > budget) return false;
    sunk.append(reinterpret_cast<const char*>(piece), length);
    return true;
  });
  if (!verifier.Start()) return 0;

  // Chunk lengths spread evenly over their bit counts, 1 to 65536 bytes, so
  // small bodies are cut too.
  ChunkOutcome outcome = ChunkOutcome::Accepted;
  for (size_t at = 0; at < body_size && outcome == ChunkOutcome::Accepted;) {
    seed = seed * 1103515245u + 12345u;
    const uint32_t bits = (seed >> 24) % 17;
    const size_t want = 1 + ((seed >> 8) & ((1u << bits) - 1));
    const size_t n = want < body_size - at ? want : body_size - at;
    outcome = verifier.Feed(body + at, static_cast<uint32_t>(n));
    Check(sunk.size() <= claimed_size, "more than the claimed size reached the sink");
    Check(verifier.written() == sunk.size(), "written count differs from the bytes sunk");
    at += n;
  }
  verifier.End();

  Check(sunk.size() <= ref.size, "the sink got more than the member holds");
  Check(std::memcmp(sunk.data(), ref.bytes, sunk.size()) == 0, "the sink got bytes that are not the body's content");
  switch (outcome) {
    case ChunkOutcome::Accepted:
      if (!ref.over_budget) {
        Check(verifier.stream_ended() == ref.complete, "the end of the member seen differently");
        Check(ref.complete || ref.status == Z_BUF_ERROR, "a corrupt body went through whole");
        // zlib may hold output back until more input comes, so only a member
        // that ended is sure to be out whole.
        if (ref.complete) Check(sunk.size() == ref.size, "a complete member was not inflated whole");
      }
      if (verifier.stream_ended())
        Check(verifier.saw_trailing_bytes() == (ref.consumed < body_size), "trailing bytes seen differently");
      break;
    case ChunkOutcome::Corrupt:
      Check(ref.over_budget || ref.status == Z_DATA_ERROR, "a body zlib inflates whole was called corrupt");
      break;
    case ChunkOutcome::TooLong:
      Check(ref.over_budget || ref.size > claimed_size, "a body within its claim was called too long");
      break;
    case ChunkOutcome::WriteFailed:
      Check(ref.over_budget, "the sink refused a body within the budget");
      break;
  }

  const bool should_accept =
      ref.complete && !ref.over_budget && claimed_size == true_size && claimed_sha == true_sha;
  const bool accepted = verifier.Finish(claimed_sha);
  Check(accepted == should_accept, "accepted a body it should reject, or the other way round");
  if (accepted) Check(sunk.size() == ref.size, "accepted bytes differ from the body's content");
  return 0;
}

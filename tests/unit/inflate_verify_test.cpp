#include "update/inflate_verify.h"

#include "tests/unit/test_bytes.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// Runs a whole body through a verifier, as the download callback would, and
// keeps what reached the sink.
struct Outcome {
  std::vector<ChunkOutcome> outcomes;
  std::string sunk;
  uint32_t largest_piece = 0;
  uint64_t written = 0;
  bool ended = false;
  bool trailing = false;
  bool verified = false;

  ChunkOutcome last() const { return outcomes.empty() ? ChunkOutcome::Accepted : outcomes.back(); }
};

Outcome Feed(const std::string& body, uint64_t size, const std::string& sha, size_t chunk,
         bool sink_fails_at_second_piece = false) {
  Outcome run;
  int pieces = 0;
  InflateVerifier v(size, [&](const uint8_t* data, uint32_t length) {
    if (sink_fails_at_second_piece && ++pieces == 2) return false;
    run.sunk.append(reinterpret_cast<const char*>(data), length);
    run.largest_piece = std::max(run.largest_piece, length);
    return true;
  });
  EXPECT_TRUE(v.Start());
  for (size_t at = 0; at < body.size(); at += chunk) {
    const size_t n = std::min(chunk, body.size() - at);
    run.outcomes.push_back(v.Feed(reinterpret_cast<const uint8_t*>(body.data() + at), static_cast<uint32_t>(n)));
    if (run.outcomes.back() != ChunkOutcome::Accepted) break;  // the callback stops the transfer
  }
  v.End();
  run.written = v.written();
  run.ended = v.stream_ended();
  run.trailing = v.saw_trailing_bytes();
  run.verified = v.Finish(sha);
  return run;
}

TEST(InflateVerifier, AcceptsAGzipBodyWhateverItsChunking) {
  const std::string file = Mixed(700000, 1);
  const std::string body = Gzip(file);
  for (size_t chunk : {size_t{1}, size_t{7}, size_t{4096}, size_t{65536}}) {
    const Outcome run = Feed(body, file.size(), Sha(file), chunk);
    EXPECT_EQ(run.last(), ChunkOutcome::Accepted) << chunk;
    EXPECT_TRUE(run.ended);
    EXPECT_FALSE(run.trailing);
    EXPECT_EQ(run.written, file.size());
    EXPECT_TRUE(run.sunk == file) << chunk;
    EXPECT_TRUE(run.verified) << chunk;
  }
}

TEST(InflateVerifier, InflatesAHighlyCompressedChunkInBufferSizedPieces) {
  // 3 MiB of zeros: one small chunk yields many full output buffers.
  const std::string file(3 << 20, '\0');
  const std::string body = Gzip(file);
  ASSERT_LT(body.size(), 65536u);
  const Outcome run = Feed(body, file.size(), Sha(file), 65536);
  EXPECT_TRUE(run.verified);
  EXPECT_EQ(run.largest_piece, kInflateBufferSize);
  EXPECT_TRUE(run.sunk == file);
}

TEST(InflateVerifier, EmptyFileIsAnEmptyGzipMember) {
  const Outcome run = Feed(Gzip(""), 0, Sha(""), 65536);
  EXPECT_TRUE(run.ended);
  EXPECT_TRUE(run.verified);
  EXPECT_TRUE(run.sunk.empty());
  // No body at all is not an empty file: the stream never ended.
  EXPECT_FALSE(Feed("", 0, Sha(""), 65536).verified);
}

TEST(InflateVerifier, IgnoresWhateverFollowsTheFirstGzipMember) {
  const std::string file = Mixed(100000, 2);
  const std::string second = Mixed(5000, 3);
  for (const std::string& tail : {std::string("trailing garbage\x01\x02", 18), Gzip(second)}) {
    for (size_t chunk : {size_t{3}, size_t{65536}}) {
      const Outcome run = Feed(Gzip(file) + tail, file.size(), Sha(file), chunk);
      EXPECT_EQ(run.last(), ChunkOutcome::Accepted);
      EXPECT_TRUE(run.verified) << chunk;
      EXPECT_TRUE(run.trailing) << "seen, for the publishing tool to refuse";
      EXPECT_TRUE(run.sunk == file);
    }
  }
}

TEST(InflateVerifier, RejectsZlibAndRawDeflateAtTheFirstChunk) {
  const std::string file = Mixed(20000, 4);
  for (int bits : {15, -15}) {
    const Outcome run = Feed(Deflate(file, bits), file.size(), Sha(file), 65536);
    ASSERT_EQ(run.outcomes.size(), 1u);
    EXPECT_EQ(run.last(), ChunkOutcome::Corrupt) << bits;
    EXPECT_TRUE(run.sunk.empty());
    EXPECT_FALSE(run.verified);
  }
}

TEST(InflateVerifier, TruncatedOrCorruptBodiesFail) {
  const std::string file = Mixed(300000, 5);
  const std::string body = Gzip(file);
  // Cut anywhere, even just before the 8-byte trailer: the stream never ends.
  for (size_t keep : {size_t{5}, body.size() / 2, body.size() - 8, body.size() - 1}) {
    const Outcome run = Feed(body.substr(0, keep), file.size(), Sha(file), 4096);
    EXPECT_FALSE(run.ended) << keep;
    EXPECT_FALSE(run.verified) << keep;
  }
  // A flipped bit in the CRC is a data error at the end.
  std::string bad_crc = body;
  bad_crc[bad_crc.size() - 6] ^= 0x10;
  const Outcome crc = Feed(bad_crc, file.size(), Sha(file), 65536);
  EXPECT_EQ(crc.last(), ChunkOutcome::Corrupt);
  EXPECT_FALSE(crc.verified);
  // Not gzip at all.
  EXPECT_EQ(Feed(file.substr(0, 1000), file.size(), Sha(file), 65536).last(), ChunkOutcome::Corrupt);
}

TEST(InflateVerifier, StopsAtTheFirstPiecePastTheExpectedSize) {
  // A gzip bomb: 16 MiB of zeros announced as a 1000-byte file.
  const std::string bomb = Gzip(std::string(16 << 20, '\0'));
  const Outcome run = Feed(bomb, 1000, Sha(std::string(1000, '\0')), 65536);
  EXPECT_EQ(run.last(), ChunkOutcome::TooLong);
  EXPECT_TRUE(run.sunk.empty());  // the first piece is already too long, nothing lands
  EXPECT_FALSE(run.verified);

  // One byte too many, at the very end of a file larger than one piece.
  const std::string file = Mixed(kInflateBufferSize + 1000, 6);
  const Outcome longer = Feed(Gzip(file), file.size() - 1, Sha(file.substr(0, file.size() - 1)), 65536);
  EXPECT_EQ(longer.last(), ChunkOutcome::TooLong);
  EXPECT_LT(longer.sunk.size(), file.size());
  EXPECT_FALSE(longer.verified);
}

TEST(InflateVerifier, FewerBytesOrAnotherDigestFailTheCheck) {
  const std::string file = Mixed(5000, 7);
  const Outcome shorter = Feed(Gzip(file), file.size() + 1, Sha(file), 65536);
  EXPECT_TRUE(shorter.ended);
  EXPECT_FALSE(shorter.verified);

  const Outcome other = Feed(Gzip(file), file.size(), Sha(file + "x"), 65536);
  EXPECT_TRUE(other.ended);
  EXPECT_FALSE(other.verified);
  // The digest is compared as text: the same value in capitals is another text.
  std::string upper = Sha(file);
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  EXPECT_FALSE(Feed(Gzip(file), file.size(), upper, 65536).verified);
}

TEST(InflateVerifier, HugeManifestSizesDoNotOverflowTheLengthTest) {
  const std::string file = Mixed(10000, 8);
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  const Outcome run = Feed(Gzip(file), max, Sha(file), 65536);
  EXPECT_EQ(run.last(), ChunkOutcome::Accepted);
  EXPECT_TRUE(run.sunk == file);
  EXPECT_FALSE(run.verified);
}

TEST(InflateVerifier, AFailedWriteStopsEverything) {
  const std::string file = Mixed(3 * kInflateBufferSize, 9);
  const Outcome run = Feed(Gzip(file), file.size(), Sha(file), 65536, /*sink_fails_at_second_piece=*/true);
  EXPECT_EQ(run.last(), ChunkOutcome::WriteFailed);
  EXPECT_EQ(run.written, run.sunk.size());  // the failed piece is not counted
  EXPECT_FALSE(run.verified);
}

TEST(InflateVerifier, ABorrowedBufferServesBodyAfterBodyWhateverItHeld) {
  auto buffer = std::make_unique<InflateBuffer>();
  buffer->fill(0xA5);
  // The big file fills the buffer with its own bytes; the small ones follow.
  for (const std::string& file : {Mixed(kInflateBufferSize + 5000, 11), Mixed(300, 12), std::string()}) {
    std::string sunk;
    InflateVerifier v(file.size(), *buffer, [&](const uint8_t* data, uint32_t length) {
      sunk.append(reinterpret_cast<const char*>(data), length);
      return true;
    });
    ASSERT_TRUE(v.Start());
    const std::string body = Gzip(file);
    EXPECT_EQ(v.Feed(reinterpret_cast<const uint8_t*>(body.data()), static_cast<uint32_t>(body.size())),
              ChunkOutcome::Accepted);
    EXPECT_TRUE(sunk == file);
    EXPECT_TRUE(v.Finish(Sha(file)));
  }
}

TEST(InflateVerifier, FeedAfterAFailureKeepsFailing) {
  const std::string file = Mixed(1000, 10);
  const std::string body = Gzip(file);
  InflateVerifier v(file.size(), [](const uint8_t*, uint32_t) { return true; });
  ASSERT_TRUE(v.Start());
  const uint8_t junk[4] = {1, 2, 3, 4};
  EXPECT_EQ(v.Feed(junk, 4), ChunkOutcome::Corrupt);
  EXPECT_EQ(v.Feed(reinterpret_cast<const uint8_t*>(body.data()), static_cast<uint32_t>(body.size())),
            ChunkOutcome::Corrupt);
  EXPECT_FALSE(v.Finish(Sha(file)));
}

}  // namespace

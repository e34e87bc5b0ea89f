// The verifying half of a file download: inflates a gzip body chunk by chunk as
// it arrives, hands every inflated piece to a sink (the ".part" file) and hashes
// it, and tells at the end whether the body was exactly the manifest's file.
// No Windows header, so the same steps run under the sanitizers and the fuzzer.
#pragma once
#include <zlib.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "update/resume_state.h"
#include "update/sha256.h"

constexpr uint32_t kInflateBufferSize = 262144;
// Where each inflate call puts its output.
using InflateBuffer = std::array<uint8_t, kInflateBufferSize>;

enum class ChunkOutcome {
  Accepted,     // every byte of the chunk was taken (bytes after the gzip member are ignored)
  Corrupt,      // inflate reported anything but Z_OK or Z_STREAM_END
  TooLong,      // the body inflates past the expected size
  WriteFailed,  // the sink could not take a piece whole
};

class InflateVerifier {
 public:
  // Takes one inflated piece; false when it could not be written whole.
  using Sink = std::function<bool(const uint8_t* data, uint32_t length)>;

  // Allocates its own zero-filled output buffer at Start.
  InflateVerifier(uint64_t expected_size, Sink sink);
  // Borrows buffer instead, until destroyed; its earlier content does not
  // matter. For a caller that verifies many bodies in a row, such as the
  // fuzzer: under ASan every allocation this large is a fresh mapping, filled
  // page fault by page fault, which costs more than a small body's whole run.
  InflateVerifier(uint64_t expected_size, InflateBuffer& buffer, Sink sink);
  ~InflateVerifier();
  InflateVerifier(const InflateVerifier&) = delete;
  InflateVerifier& operator=(const InflateVerifier&) = delete;

  // Sets up the inflater for the gzip wrapper only (windowBits 31). false when
  // zlib cannot; nothing else may be called then.
  bool Start();
  // Instead of Start: goes on with a body at point, given the inflated bytes
  // just before it (the last kDeflateWindow of them, or all when fewer) and
  // the digest of every inflated byte before it. The body's bytes from
  // point.body_offset on are fed next; its gzip trailer is checked here.
  bool Resume(const ResumePoint& point, const uint8_t* window, uint32_t window_length, const Sha256& digest);

  // Called at a point between two deflate blocks, at least spacing compressed
  // bytes past the last one, once every inflated byte before it has reached
  // the sink. CopyWindow may be called from it.
  using PointSink = std::function<void(const ResumePoint& point)>;
  void ReportPoints(uint64_t spacing, PointSink on_point);
  // The inflated bytes just before the point being reported, up to kDeflateWindow.
  std::string CopyWindow();
  // Feeds one received chunk. After any outcome but Accepted the body is lost.
  ChunkOutcome Feed(const uint8_t* data, uint32_t length);

  // Releases the inflater; the counts and the digest stay usable.
  void End();

  bool stream_ended() const { return ended_; }
  uint64_t written() const { return written_; }
  // Bytes followed the gzip member; they are ignored, not an error, here.
  bool saw_trailing_bytes() const { return trailing_; }
  // zlib's reason after a Corrupt outcome, or nullptr.
  const char* zlib_message() const { return stream_.msg; }

  // true only when the stream ended with exactly the expected size and its
  // digest equals expected_sha256 character for character. Call once, last.
  bool Finish(const std::string& expected_sha256);
  // The digest of everything written so far, for a caller that reports it
  // rather than comparing. Call once, last, instead of Finish.
  std::string FinishDigest() { return digest_.FinishHex(); }

 private:
  ChunkOutcome Fail(ChunkOutcome outcome);
  // After a resumed stream's last block: takes its 8-byte trailer (CRC-32 and
  // size, little-endian) from the input and checks it.
  bool TakeTrailer();

  z_stream stream_;
  bool started_ = false;
  bool raw_ = false;        // resumed: raw deflate, the trailer checked here
  bool deflate_done_ = false;
  uint8_t trailer_[8];
  uint32_t trailer_count_ = 0;
  uint32_t crc_ = 0;        // of the inflated bytes, kept here when raw
  uint64_t consumed_ = 0;   // compressed bytes before the next one fed
  uint8_t last_byte_ = 0;   // the last one inflate took
  uint64_t spacing_ = 0;
  uint64_t last_point_ = 0;
  PointSink on_point_;
  bool ended_ = false;
  bool failed_ = false;
  bool trailing_ = false;
  uint64_t expected_size_;
  uint64_t written_ = 0;
  Sha256 digest_;
  std::unique_ptr<InflateBuffer> own_;  // when none is lent
  InflateBuffer* out_ = nullptr;
  Sink sink_;
};

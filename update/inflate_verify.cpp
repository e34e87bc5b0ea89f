#include "update/inflate_verify.h"

#include <cstring>

InflateVerifier::InflateVerifier(uint64_t expected_size, Sink sink)
    : expected_size_(expected_size), sink_(std::move(sink)) {
  std::memset(&stream_, 0, sizeof stream_);
}

InflateVerifier::InflateVerifier(uint64_t expected_size, InflateBuffer& buffer, Sink sink)
    : InflateVerifier(expected_size, std::move(sink)) {
  out_ = &buffer;
}

InflateVerifier::~InflateVerifier() { End(); }

void InflateVerifier::End() {
  if (started_) inflateEnd(&stream_);
  started_ = false;
}

bool InflateVerifier::Start() {
  // 31 = 15-bit window + 16: the gzip wrapper only; zlib and raw deflate fail.
  if (inflateInit2(&stream_, 31) != Z_OK) return false;
  started_ = true;
  if (!out_) {
    own_ = std::make_unique<InflateBuffer>();  // value-initialised: zero-filled
    out_ = own_.get();
  }
  return true;
}

bool InflateVerifier::Resume(const ResumePoint& point, const uint8_t* window, uint32_t window_length,
                             const Sha256& digest) {
  // The gzip header lies behind the point, so the rest is raw deflate; the
  // bits of the byte before the point that belong after it are primed first.
  if (inflateInit2(&stream_, -15) != Z_OK) return false;
  started_ = true;
  raw_ = true;
  const uint32_t needed = point.inflated < kDeflateWindow ? static_cast<uint32_t>(point.inflated) : kDeflateWindow;
  if (window_length != needed || point.inflated > expected_size_ ||
      (point.bits != 0 && inflatePrime(&stream_, point.bits, point.bit_byte >> (8 - point.bits)) != Z_OK) ||
      (window_length > 0 && inflateSetDictionary(&stream_, window, window_length) != Z_OK)) {
    End();
    return false;
  }
  if (!out_) {
    own_ = std::make_unique<InflateBuffer>();
    out_ = own_.get();
  }
  digest_ = digest;
  written_ = point.inflated;
  crc_ = point.crc;
  consumed_ = last_point_ = point.body_offset;
  last_byte_ = point.bit_byte;
  return true;
}

void InflateVerifier::ReportPoints(uint64_t spacing, PointSink on_point) {
  spacing_ = spacing;
  on_point_ = std::move(on_point);
}

std::string InflateVerifier::CopyWindow() {
  std::string window(kDeflateWindow, '\0');
  uInt length = 0;
  if (!started_ || inflateGetDictionary(&stream_, reinterpret_cast<Bytef*>(&window[0]), &length) != Z_OK) length = 0;
  window.resize(length);
  return window;
}

ChunkOutcome InflateVerifier::Fail(ChunkOutcome outcome) {
  failed_ = true;
  return outcome;
}

bool InflateVerifier::TakeTrailer() {
  while (stream_.avail_in > 0 && trailer_count_ < 8) {
    trailer_[trailer_count_++] = *stream_.next_in++;
    --stream_.avail_in;
    ++consumed_;
  }
  if (trailer_count_ < 8) return true;
  uint32_t crc = 0, size = 0;
  for (int i = 3; i >= 0; --i) {
    crc = crc << 8 | trailer_[i];
    size = size << 8 | trailer_[i + 4];
  }
  ended_ = true;
  return crc == crc_ && size == static_cast<uint32_t>(written_);
}

ChunkOutcome InflateVerifier::Feed(const uint8_t* data, uint32_t length) {
  if (failed_ || !started_) return ChunkOutcome::Corrupt;
  stream_.next_in = const_cast<Bytef*>(data);
  stream_.avail_in = length;
  while (stream_.avail_in > 0) {
    // Whatever follows the first gzip member is not part of the file.
    if (ended_) {
      trailing_ = true;
      break;
    }
    if (deflate_done_) {
      if (!TakeTrailer()) return Fail(ChunkOutcome::Corrupt);
      continue;
    }
    // Stopping at every block boundary costs a return per block; only the one
    // that comes once a point is due.
    const bool point_due = on_point_ && consumed_ - last_point_ >= spacing_;
    const uInt available = stream_.avail_in;
    stream_.next_out = out_->data();
    stream_.avail_out = kInflateBufferSize;
    int status = inflate(&stream_, point_due ? Z_BLOCK : Z_NO_FLUSH);
    const uint32_t taken = available - stream_.avail_in;
    consumed_ += taken;
    if (taken > 0) last_byte_ = stream_.next_in[-1];
    const bool at_boundary = point_due && (stream_.data_type & 128) && !(stream_.data_type & 64);
    // Z_BLOCK at a boundary it already stands on returns at once, having done nothing.
    if (status == Z_BUF_ERROR && at_boundary) status = Z_OK;
    if (status != Z_OK && status != Z_STREAM_END) return Fail(ChunkOutcome::Corrupt);
    const uint32_t produced = kInflateBufferSize - stream_.avail_out;
    // Written this way round the test cannot overflow, whatever size the manifest claims.
    if (produced > expected_size_ - written_) return Fail(ChunkOutcome::TooLong);
    if (produced > 0) {
      if (!sink_(out_->data(), produced)) return Fail(ChunkOutcome::WriteFailed);
      digest_.Update(out_->data(), produced);
      if (raw_) crc_ = static_cast<uint32_t>(crc32(crc_, out_->data(), produced));
    }
    written_ += produced;
    if (status == Z_STREAM_END) {
      if (!raw_) {
        ended_ = true;  // zlib checked the gzip trailer
      } else {
        deflate_done_ = true;
        if (!TakeTrailer()) return Fail(ChunkOutcome::Corrupt);
      }
    } else if (at_boundary) {
      last_point_ = consumed_;
      ResumePoint point;
      point.body_offset = consumed_;
      point.bits = static_cast<uint8_t>(stream_.data_type & 7);
      point.bit_byte = point.bits ? last_byte_ : 0;
      point.inflated = written_;
      // In the gzip wrapper zlib keeps the CRC-32 of the output in adler.
      point.crc = raw_ ? crc_ : static_cast<uint32_t>(stream_.adler);
      on_point_(point);
    }
  }
  stream_.next_in = nullptr;
  stream_.avail_in = 0;
  return ChunkOutcome::Accepted;
}

bool InflateVerifier::Finish(const std::string& expected_sha256) {
  if (failed_ || !ended_ || written_ != expected_size_) return false;
  return digest_.FinishHex() == expected_sha256;
}

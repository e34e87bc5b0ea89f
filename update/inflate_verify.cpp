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
    stream_.next_out = out_->data();
    stream_.avail_out = kInflateBufferSize;
    const int status = inflate(&stream_, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) {
      failed_ = true;
      return ChunkOutcome::Corrupt;
    }
    const uint32_t produced = kInflateBufferSize - stream_.avail_out;
    // Written this way round the test cannot overflow, whatever size the manifest claims.
    if (produced > expected_size_ - written_) {
      failed_ = true;
      return ChunkOutcome::TooLong;
    }
    if (produced > 0) {
      if (!sink_(out_->data(), produced)) {
        failed_ = true;
        return ChunkOutcome::WriteFailed;
      }
      digest_.Update(out_->data(), produced);
    }
    written_ += produced;
    if (status == Z_STREAM_END) ended_ = true;
  }
  stream_.next_in = nullptr;
  stream_.avail_in = 0;
  return ChunkOutcome::Accepted;
}

bool InflateVerifier::Finish(const std::string& expected_sha256) {
  if (failed_ || !ended_ || written_ != expected_size_) return false;
  return digest_.FinishHex() == expected_sha256;
}

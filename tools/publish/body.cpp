#include "tools/publish/body.h"

#include <zlib.h>

#include <cstring>
#include <vector>

#include "update/inflate_verify.h"
#include "update/sha256.h"

namespace publish {

namespace {

constexpr uint32_t kChunk = 262144;

// Upper bound of a gzip member for n input bytes: zlib's deflateBound with
// room for a header carrying a name or extra field written by another tool.
uint64_t MaxBodySize(uint64_t n) { return n + (n >> 12) + (n >> 14) + (n >> 25) + 13 + 4096; }

}  // namespace

bool HashFile(const fs::path& path, Digest& digest, std::string& error, ByteCounter* counter) {
  InFile in;
  if (!in.Open(path)) {
    error = "cannot open " + DisplayPath(path) + ": " + LastErrorText();
    return false;
  }
  return DigestFile(in, path, digest, error, [counter](const uint8_t*, uint32_t length) {
    if (counter) *counter += length;
    return true;
  });
}

bool CompressFile(const fs::path& source, const fs::path& target, int level, Digest& digest, uint64_t& body_size,
                  std::string& error, ByteCounter* counter) {
  InFile in;
  if (!in.Open(source)) {
    error = "cannot open " + DisplayPath(source) + ": " + LastErrorText();
    return false;
  }
  OutFile out;
  if (!out.Create(target)) {
    error = "cannot create " + DisplayPath(target) + ": " + LastErrorText();
    return false;
  }
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
    error = "zlib: deflateInit2 failed";
    return false;
  }
  gz_header header;
  std::memset(&header, 0, sizeof header);
  header.os = 255;  // "unknown": the same bytes whichever system publishes
  deflateSetHeader(&z, &header);

  std::vector<uint8_t> input(kChunk), output(kChunk);
  Sha256 sha;
  digest.size = 0;
  body_size = 0;
  bool ok = true;
  int flush = Z_NO_FLUSH;
  while (ok && flush != Z_FINISH) {
    const int64_t got = in.Read(input.data(), kChunk);
    if (got < 0) {
      error = "cannot read " + DisplayPath(source) + ": " + LastErrorText();
      ok = false;
      break;
    }
    if (got == 0) flush = Z_FINISH;
    sha.Update(input.data(), static_cast<uint32_t>(got));
    digest.size += static_cast<uint64_t>(got);
    z.next_in = input.data();
    z.avail_in = static_cast<uInt>(got);
    int status;
    do {
      z.next_out = output.data();
      z.avail_out = kChunk;
      status = deflate(&z, flush);
      if (status == Z_STREAM_ERROR) {
        error = "zlib: deflate failed";
        ok = false;
        break;
      }
      const size_t produced = kChunk - z.avail_out;
      if (produced > 0 && !out.Write(output.data(), produced)) {
        error = "cannot write " + DisplayPath(target) + ": " + LastErrorText();
        ok = false;
        break;
      }
      body_size += produced;
    } while (z.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    if (counter) *counter += static_cast<uint64_t>(got);
  }
  deflateEnd(&z);
  digest.sha256 = sha.FinishHex();
  if (ok && !out.Sync()) {
    error = "cannot flush " + DisplayPath(target) + ": " + LastErrorText();
    ok = false;
  }
  if (!out.Close() && ok) {
    error = "cannot close " + DisplayPath(target) + ": " + LastErrorText();
    ok = false;
  }
  return ok;
}

bool InflateBody(const fs::path& body, uint64_t expected_size, Digest& inflated, std::string& problem,
                 ByteCounter* counter, std::string* content) {
  InFile in;
  if (!in.Open(body)) {
    problem = "cannot open: " + LastErrorText();
    return false;
  }
  // The launcher's own verifier; it hashes what it inflates itself.
  if (content) content->clear();
  InflateVerifier verifier(expected_size, [content](const uint8_t* data, uint32_t length) {
    if (content) content->append(reinterpret_cast<const char*>(data), length);
    return true;
  });
  if (!verifier.Start()) {
    problem = "zlib: inflateInit2 failed";
    return false;
  }
  std::vector<uint8_t> input(kChunk);
  bool ok = true;
  while (ok) {
    const int64_t got = in.Read(input.data(), kChunk);
    if (got < 0) {
      problem = "cannot read: " + LastErrorText();
      ok = false;
      break;
    }
    if (counter) *counter += static_cast<uint64_t>(got);
    if (got == 0) break;
    const ChunkOutcome outcome = verifier.Feed(input.data(), static_cast<uint32_t>(got));
    if (outcome == ChunkOutcome::TooLong) {
      problem = "inflates to more than the " + std::to_string(expected_size) + " bytes listed";
      ok = false;
    } else if (outcome != ChunkOutcome::Accepted) {
      const char* reason = verifier.zlib_message();
      problem = std::string("not a valid gzip stream (") + (reason ? reason : "zlib error") + ")";
      ok = false;
    } else if (verifier.saw_trailing_bytes()) {
      // The launcher would ignore them; a published body has none.
      problem = "data after the end of the gzip member";
      ok = false;
    }
  }
  verifier.End();
  if (ok && !verifier.stream_ended()) {
    problem = "gzip stream is truncated";
    ok = false;
  }
  inflated.size = verifier.written();
  inflated.sha256 = verifier.FinishDigest();
  return ok;
}

bool BodyLooksPlausible(const fs::path& body, uint64_t content_size, uint64_t& body_size) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(body, ec);
  if (ec || !fs::is_regular_file(status)) return false;
  body_size = fs::file_size(body, ec);
  if (ec || body_size < 20 || body_size > MaxBodySize(content_size)) return false;
  InFile in;
  uint8_t magic[3];
  if (!in.Open(body) || in.Read(magic, 3) != 3) return false;
  return magic[0] == 0x1f && magic[1] == 0x8b && magic[2] == 8;
}

}  // namespace publish

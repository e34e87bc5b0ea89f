// File contents and their gzip bodies on the file host: hashing, compressing
// into one gzip member, and inflating a body back the way the launcher does.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "tools/publish/platform.h"
#include "update/sha256.h"

namespace publish {

// Bytes handled so far, added to as the work goes on (for progress).
using ByteCounter = std::atomic<uint64_t>;

struct Digest {
  std::string sha256;  // 64 lower-case hex characters
  uint64_t size = 0;
};

// Digests the open file `in` (`path` in messages) from where it stands to its
// end, handing every chunk to use(data, length) as it goes. false on a failed
// read, with `error` set, or when use refuses a chunk (use sets its own error).
template <typename Use>
bool DigestFile(InFile& in, const fs::path& path, Digest& digest, std::string& error, Use&& use) {
  Sha256 sha;
  digest.size = 0;
  const bool read_all = DigestStream(
      sha,
      [&](uint8_t* buffer, uint32_t capacity) {
        const int64_t got = in.Read(buffer, capacity);
        if (got < 0) error = "cannot read " + DisplayPath(path) + ": " + LastErrorText();
        return got;
      },
      [&](const uint8_t* data, uint32_t length) {
        digest.size += length;
        return use(data, length);
      });
  if (!read_all) return false;
  digest.sha256 = sha.FinishHex();
  return true;
}

// Reads a whole file once. false with `error` set on a read failure.
bool HashFile(const fs::path& path, Digest& digest, std::string& error, ByteCounter* counter = nullptr);

// Compresses `source` into `target` as one gzip member (no name, time 0, so the
// same content always gives the same body) and fsyncs it. `digest` is the
// source as it was read while compressing, so a caller can tell whether the
// file changed since it was hashed.
bool CompressFile(const fs::path& source, const fs::path& target, int level, Digest& digest, uint64_t& body_size,
                  std::string& error, ByteCounter* counter = nullptr);

// Inflates a body as the launcher does (gzip only, windowBits 31) and digests
// the output. Stops once more than `expected_size` bytes come out. false with a
// reason when it is not exactly one complete gzip member (bytes after the
// member count as a fault here, although the launcher would ignore them).
// With `content`, the inflated bytes are kept there too.
bool InflateBody(const fs::path& body, uint64_t expected_size, Digest& inflated, std::string& problem,
                 ByteCounter* counter = nullptr, std::string* content = nullptr);

// A cheap look at a body already on the host: a regular file whose size could
// come from deflating `content_size` bytes and that starts like a gzip member.
bool BodyLooksPlausible(const fs::path& body, uint64_t content_size, uint64_t& body_size);

}  // namespace publish

// The patch format: a new file's content described as copies of ranges of the
// old file and literal bytes, read as a stream so that memory stays bounded
// whatever the patch claims.
//
// Layout (integers little-endian):
//   "MGPATCH1"                     8-byte magic
//   base size   u64                the old file's exact size
//   target size u64                the new file's exact size
//   then operations, each one tag byte:
//     0x01 copy    u64 offset, u64 length (>= 1)   bytes [offset, offset+length) of the old file
//     0x02 literal u32 length (>= 1), then length bytes
//     0x00 end     nothing may follow
// The operations produce the new file front to back; they must add up to
// exactly the target size.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

constexpr char kPatchMagic[8] = {'M', 'G', 'P', 'A', 'T', 'C', 'H', '1'};
constexpr uint32_t kPatchHeaderSize = 24;
enum PatchTag : uint8_t { kPatchEnd = 0, kPatchCopy = 1, kPatchLiteral = 2 };

// Copies are read from the old file through this buffer, whatever their length.
constexpr uint32_t kPatchCopyBuffer = 65536;

enum class PatchOutcome {
  Accepted,        // every byte of the chunk was taken
  Corrupt,         // bad magic or tag, wrong sizes, a range outside the base, too much output, bytes after the end
  BaseReadFailed,  // the old file could not be read where a copy said
  WriteFailed,     // the sink refused a piece
};

class PatchApplier {
 public:
  // Reads exactly `length` bytes of the old file at `offset`; false on any failure.
  using BaseReader = std::function<bool(uint64_t offset, uint8_t* data, uint32_t length)>;
  // Takes one piece of the new file; false when it could not be written whole.
  using Sink = std::function<bool(const uint8_t* data, uint32_t length)>;

  // The header must announce exactly these sizes.
  PatchApplier(uint64_t base_size, uint64_t target_size, BaseReader base, Sink sink);

  // Feeds the next bytes of the (inflated) patch. After any outcome but
  // Accepted the patch is lost and every later call returns that outcome.
  PatchOutcome Feed(const uint8_t* data, size_t length);

  // The end operation came, with exactly the target size produced.
  bool Complete() const { return state_ == State::Done; }
  uint64_t produced() const { return produced_; }

 private:
  enum class State { Header, Tag, CopyArgs, LiteralLength, LiteralBytes, Done, Failed };
  PatchOutcome Fail(PatchOutcome outcome);
  PatchOutcome Copy(uint64_t offset, uint64_t length);
  PatchOutcome StartLiteral(uint32_t length);
  PatchOutcome Tag(uint8_t tag);
  PatchOutcome Fields();  // acts on the fields gathered in held_

  uint64_t base_size_, target_size_;
  BaseReader base_;
  Sink sink_;
  State state_ = State::Header;
  PatchOutcome failure_ = PatchOutcome::Corrupt;
  uint8_t held_[kPatchHeaderSize];  // the fixed-size fields being gathered
  uint32_t held_count_ = 0, held_need_ = kPatchHeaderSize;
  uint64_t literal_left_ = 0;
  uint64_t produced_ = 0;
  std::unique_ptr<uint8_t[]> copy_buffer_;
};

// A patch in memory, applied to a base in memory: the new content, or false.
// For the publishing tool and the tests; the launcher streams.
bool ApplyPatch(const std::string& base, const std::string& patch, uint64_t target_size, std::string& target);

// Appends the encoded pieces of a patch (for the patch maker and the tests).
void PutPatchHeader(std::string& out, uint64_t base_size, uint64_t target_size);
void PutPatchCopy(std::string& out, uint64_t offset, uint64_t length);
void PutPatchLiteral(std::string& out, const uint8_t* data, uint32_t length);
void PutPatchEnd(std::string& out);

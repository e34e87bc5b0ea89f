#include "update/patch.h"

#include <algorithm>
#include <cstring>

namespace {

uint64_t Get64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void Put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

PatchApplier::PatchApplier(uint64_t base_size, uint64_t target_size, BaseReader base, Sink sink)
    : base_size_(base_size), target_size_(target_size), base_(std::move(base)), sink_(std::move(sink)) {}

PatchOutcome PatchApplier::Fail(PatchOutcome outcome) {
  state_ = State::Failed;
  failure_ = outcome;
  return outcome;
}

PatchOutcome PatchApplier::Copy(uint64_t offset, uint64_t length) {
  // Each test is written so that no sum can overflow, whatever the patch says.
  if (length == 0 || offset > base_size_ || length > base_size_ - offset || length > target_size_ - produced_) {
    return Fail(PatchOutcome::Corrupt);
  }
  if (!copy_buffer_) copy_buffer_.reset(new uint8_t[kPatchCopyBuffer]);
  while (length > 0) {
    const uint32_t n = length < kPatchCopyBuffer ? static_cast<uint32_t>(length) : kPatchCopyBuffer;
    if (!base_(offset, copy_buffer_.get(), n)) return Fail(PatchOutcome::BaseReadFailed);
    if (!sink_(copy_buffer_.get(), n)) return Fail(PatchOutcome::WriteFailed);
    offset += n;
    length -= n;
    produced_ += n;
  }
  state_ = State::Tag;
  return PatchOutcome::Accepted;
}

PatchOutcome PatchApplier::StartLiteral(uint32_t length) {
  if (length == 0 || length > target_size_ - produced_) return Fail(PatchOutcome::Corrupt);
  literal_left_ = length;
  state_ = State::LiteralBytes;
  return PatchOutcome::Accepted;
}

PatchOutcome PatchApplier::Tag(uint8_t tag) {
  held_count_ = 0;
  switch (tag) {
    case kPatchCopy:
      state_ = State::CopyArgs;
      held_need_ = 16;
      return PatchOutcome::Accepted;
    case kPatchLiteral:
      state_ = State::LiteralLength;
      held_need_ = 4;
      return PatchOutcome::Accepted;
    case kPatchEnd:
      if (produced_ != target_size_) return Fail(PatchOutcome::Corrupt);
      state_ = State::Done;
      return PatchOutcome::Accepted;
    default:
      return Fail(PatchOutcome::Corrupt);
  }
}

PatchOutcome PatchApplier::Fields() {
  switch (state_) {
    case State::Header:
      if (std::memcmp(held_, kPatchMagic, 8) != 0 || Get64(held_ + 8) != base_size_ ||
          Get64(held_ + 16) != target_size_) {
        return Fail(PatchOutcome::Corrupt);
      }
      state_ = State::Tag;
      return PatchOutcome::Accepted;
    case State::CopyArgs:
      return Copy(Get64(held_), Get64(held_ + 8));
    case State::LiteralLength:
      return StartLiteral(Get32(held_));
    default:
      return Fail(PatchOutcome::Corrupt);
  }
}

PatchOutcome PatchApplier::Feed(const uint8_t* data, size_t length) {
  size_t at = 0;
  while (at < length) {
    switch (state_) {
      case State::Failed:
        return failure_;
      case State::Done:
        return Fail(PatchOutcome::Corrupt);  // bytes after the end
      case State::Tag: {
        const PatchOutcome outcome = Tag(data[at++]);
        if (outcome != PatchOutcome::Accepted) return outcome;
        break;
      }
      case State::LiteralBytes: {
        const size_t left = length - at;
        const uint32_t n = static_cast<uint32_t>(literal_left_ < left ? literal_left_ : left);
        if (!sink_(data + at, n)) return Fail(PatchOutcome::WriteFailed);
        at += n;
        literal_left_ -= n;
        produced_ += n;
        if (literal_left_ == 0) state_ = State::Tag;
        break;
      }
      default: {  // gathering a fixed-size field
        const size_t n = std::min<size_t>(held_need_ - held_count_, length - at);
        std::memcpy(held_ + held_count_, data + at, n);
        held_count_ += static_cast<uint32_t>(n);
        at += n;
        if (held_count_ == held_need_) {
          const PatchOutcome outcome = Fields();
          if (outcome != PatchOutcome::Accepted) return outcome;
        }
        break;
      }
    }
  }
  return state_ == State::Failed ? failure_ : PatchOutcome::Accepted;
}

bool ApplyPatch(const std::string& base, const std::string& patch, uint64_t target_size, std::string& target) {
  target.clear();
  PatchApplier applier(
      base.size(), target_size,
      [&base](uint64_t offset, uint8_t* data, uint32_t length) {
        std::memcpy(data, base.data() + offset, length);  // the applier checked the range
        return true;
      },
      [&target](const uint8_t* data, uint32_t length) {
        target.append(reinterpret_cast<const char*>(data), length);
        return true;
      });
  return applier.Feed(reinterpret_cast<const uint8_t*>(patch.data()), patch.size()) == PatchOutcome::Accepted &&
         applier.Complete();
}

void PutPatchHeader(std::string& out, uint64_t base_size, uint64_t target_size) {
  out.append(kPatchMagic, 8);
  Put(out, base_size, 8);
  Put(out, target_size, 8);
}

void PutPatchCopy(std::string& out, uint64_t offset, uint64_t length) {
  out.push_back(static_cast<char>(kPatchCopy));
  Put(out, offset, 8);
  Put(out, length, 8);
}

void PutPatchLiteral(std::string& out, const uint8_t* data, uint32_t length) {
  out.push_back(static_cast<char>(kPatchLiteral));
  Put(out, length, 4);
  out.append(reinterpret_cast<const char*>(data), length);
}

void PutPatchEnd(std::string& out) { out.push_back(static_cast<char>(kPatchEnd)); }

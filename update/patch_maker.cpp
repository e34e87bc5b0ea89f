#include "update/patch_maker.h"

#include <cstring>
#include <vector>

#include "update/patch.h"

namespace {

constexpr uint32_t kMultiplier = 0x01000193;
constexpr uint32_t kMaxLiteral = 1u << 30;

uint32_t HashOf(const uint8_t* p, uint32_t n) {
  uint32_t h = 0;
  for (uint32_t i = 0; i < n; ++i) h = h * kMultiplier + p[i];
  return h;
}

// Aligned blocks of the old file by weak hash, open addressing. Only the first
// block of each hash value is kept: runs of equal blocks (zeros) would
// otherwise make long probe chains, and any one of them serves.
class BlockTable {
 public:
  BlockTable(const uint8_t* base, size_t base_size, uint32_t block) {
    const size_t blocks = base_size / block;
    size_t slots = 16;
    while (slots < blocks * 2) slots *= 2;
    mask_ = slots - 1;
    hashes_.assign(slots, 0);
    entries_.assign(slots, 0);
    for (size_t b = 0; b < blocks; ++b) {
      const uint32_t h = HashOf(base + b * block, block);
      for (size_t s = Slot(h);; s = (s + 1) & mask_) {
        if (entries_[s] == 0) {
          hashes_[s] = h;
          entries_[s] = b + 1;
          break;
        }
        if (hashes_[s] == h) break;
      }
    }
  }

  // The block whose weak hash is h, as a byte offset, or -1.
  int64_t Find(uint32_t h) const {
    for (size_t s = Slot(h); entries_[s] != 0; s = (s + 1) & mask_) {
      if (hashes_[s] == h) return static_cast<int64_t>(entries_[s] - 1);
    }
    return -1;
  }

 private:
  size_t Slot(uint32_t h) const { return (static_cast<uint64_t>(h) * 0x9E3779B97F4A7C15ull >> 32) & mask_; }
  size_t mask_ = 0;
  std::vector<uint32_t> hashes_;
  std::vector<uint64_t> entries_;  // block index + 1; 0 = empty
};

// Appends operations, merging a copy that continues the previous one.
struct Writer {
  std::string& out;
  size_t limit;
  uint64_t copy_offset = 0, copy_length = 0;

  void FlushCopy() {
    if (copy_length > 0) PutPatchCopy(out, copy_offset, copy_length);
    copy_length = 0;
  }
  void Literal(const uint8_t* data, size_t length) {
    if (length == 0) return;
    FlushCopy();
    for (size_t at = 0; at < length;) {
      const uint32_t n = static_cast<uint32_t>(length - at < kMaxLiteral ? length - at : kMaxLiteral);
      PutPatchLiteral(out, data + at, n);
      at += n;
    }
  }
  void Copy(uint64_t offset, uint64_t length) {
    if (copy_length > 0 && copy_offset + copy_length == offset) {
      copy_length += length;
      return;
    }
    FlushCopy();
    copy_offset = offset;
    copy_length = length;
  }
  bool Full() const { return out.size() > limit; }
};

}  // namespace

bool MakePatch(const uint8_t* base, size_t base_size, const uint8_t* target, size_t target_size, size_t limit,
               std::string& patch, uint32_t block) {
  patch.clear();
  PutPatchHeader(patch, base_size, target_size);
  Writer writer{patch, limit};
  const BlockTable table(base, base_size, block);
  uint32_t top = 1;  // kMultiplier^(block-1), the weight of the byte leaving the window
  for (uint32_t i = 1; i < block; ++i) top *= kMultiplier;

  size_t p = 0, literal_start = 0;
  uint32_t h = target_size >= block ? HashOf(target, block) : 0;
  while (target_size >= block && p + block <= target_size) {
    const int64_t found = table.Find(h);
    if (found >= 0 && std::memcmp(base + found * static_cast<int64_t>(block), target + p, block) == 0) {
      size_t from = p, old = static_cast<size_t>(found) * block;
      while (from > literal_start && old > 0 && base[old - 1] == target[from - 1]) --from, --old;
      size_t length = p + block - from;
      while (from + length < target_size && old + length < base_size && base[old + length] == target[from + length]) {
        ++length;
      }
      writer.Literal(target + literal_start, from - literal_start);
      writer.Copy(old, length);
      if (writer.Full()) return false;
      p = literal_start = from + length;
      if (p + block <= target_size) h = HashOf(target + p, block);
      continue;
    }
    if (p + block < target_size) h = (h - target[p] * top) * kMultiplier + target[p + block];
    ++p;
  }
  writer.Literal(target + literal_start, target_size - literal_start);
  writer.FlushCopy();
  PutPatchEnd(patch);
  return !writer.Full();
}

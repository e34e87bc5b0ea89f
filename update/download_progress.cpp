#include "update/download_progress.h"

#include <cmath>
#include <limits>
#include <string>

#include "app/texts.h"

namespace {

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

}  // namespace

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return a > kMax - b ? kMax : a + b; }

uint32_t Permille(uint64_t part, uint64_t whole) {
  if (whole == 0 || part >= whole) return 1000;
  if (part <= kMax / 1000) return static_cast<uint32_t>(part * 1000 / whole);
  // part × 1000 would overflow: long division, one decimal digit at a time,
  // with the remainder times ten taken modulo whole by repeated addition.
  uint32_t result = 0;
  uint64_t rest = part;
  for (int place = 0; place < 3; ++place) {
    uint64_t sum = 0;
    uint32_t digit = 0;
    for (int k = 0; k < 10; ++k) {
      if (sum >= whole - rest) {
        sum -= whole - rest;
        ++digit;
      } else {
        sum += rest;
      }
    }
    result = result * 10 + digit;
    rest = sum;
  }
  return result;
}

uint32_t FilePermille(uint64_t received, uint64_t download_size) { return Permille(received, download_size); }

uint64_t TransferCurrent(uint64_t done, uint64_t received, uint64_t download_size) {
  return SaturatingAdd(done, received < download_size ? received : download_size);
}

// "%.1f MB" of bytes × 2^-20 with the "." turned into ",", computed without
// printf so that no C locale can change the separator or the digits. The
// rounding is printf's: the exact binary value, ties to even.
WideString FormatMegabytes(uint64_t bytes) {
  const double megabytes = static_cast<double>(bytes) * (1.0 / 1048576.0);
  const double whole = std::floor(megabytes);
  // Both exact: the fraction of a double, and it scaled by a power of two,
  // is an integer below 2^20 because the double of an integer count is one.
  const uint64_t fraction = static_cast<uint64_t>((megabytes - whole) * 1048576.0);
  uint64_t tenths = static_cast<uint64_t>(whole) * 10;
  const uint64_t scaled = fraction * 10;
  uint64_t digit = scaled >> 20;
  const uint64_t rest = scaled & 0xFFFFF;
  if (rest > 0x80000 || (rest == 0x80000 && (digit & 1) != 0)) ++digit;
  tenths += digit;
  return DecimalText(tenths / 10) + u"," + static_cast<char16_t>(u'0' + tenths % 10) + u" MB";
}

WideString TransferDetail(uint64_t current, uint64_t total_transfer) {
  return TextAmountOfTotal(FormatMegabytes(current), FormatMegabytes(total_transfer));
}

WideString CheckPassTitle(size_t index, size_t count) {
  if (index % 8 != 0) return WideString();
  return TextCheckingFiles(index + 1, count);
}

bool EnoughFreeSpace(uint64_t free_bytes, uint64_t total_size) {
  return free_bytes >= SaturatingAdd(total_size, kFreeSpaceMargin);
}

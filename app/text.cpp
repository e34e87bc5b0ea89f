#include "app/text.h"

#include <cstdint>

namespace {

// What a lead byte c announces: the sequence length n (1 for ASCII, 0 for a
// byte no sequence starts with) and the range of the second byte, which rules
// out overlong forms, surrogates and values past U+10FFFF.
size_t SequenceLength(uint8_t c, uint8_t& lo, uint8_t& hi) {
  lo = 0x80;
  hi = 0xBF;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return 2;
  if (c >= 0xE0 && c <= 0xEF) {
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
    return 4;
  }
  return 0;
}

// How many bytes from s[i] on continue the sequence s[i] starts, up to its length
// n: all n for a valid sequence, else the maximal subpart (one U+FFFD).
size_t ContinuedLength(std::string_view s, size_t i, size_t n, uint8_t lo, uint8_t hi) {
  size_t k = 1;
  while (k < n && i + k < s.size()) {
    const uint8_t t = static_cast<uint8_t>(s[i + k]);
    if (t < (k == 1 ? lo : 0x80) || t > (k == 1 ? hi : 0xBF)) break;
    ++k;
  }
  return k;
}

// Length of a valid sequence starting at s[i] with its code point, or 0 with
// the length of the invalid run to replace.
size_t ValidSequenceLength(std::string_view s, size_t i, char32_t& cp, size_t& invalid_run) {
  const uint8_t c = static_cast<uint8_t>(s[i]);
  uint8_t lo, hi;
  const size_t n = SequenceLength(c, lo, hi);
  const size_t k = n == 0 ? 1 : ContinuedLength(s, i, n, lo, hi);
  if (k != n) {
    invalid_run = k;
    return 0;
  }
  static constexpr uint8_t kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  cp = c & kLeadBits[n];
  for (size_t j = 1; j < n; ++j) cp = (cp << 6) | (static_cast<uint8_t>(s[i + j]) & 0x3F);
  return n;
}

}  // namespace

WideString Utf8ToUtf16(const std::string& utf8) {
  WideString out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp = 0;
    size_t invalid_run = 0;
    const size_t n = ValidSequenceLength(utf8, i, cp, invalid_run);
    if (n == 0) {
      out.push_back(u'\uFFFD');
      i += invalid_run;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    if (static_cast<uint8_t>(text[i]) < 0x80) {  // the common case in paths, without the table
      ++i;
      continue;
    }
    char32_t cp;
    size_t invalid_run;
    const size_t n = ValidSequenceLength(text, i, cp, invalid_run);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

#ifndef _WIN32
WideString Utf8ToWide(const std::string& utf8) { return Utf8ToUtf16(utf8); }
#endif

std::string TrimLineEnds(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

std::string WideToUtf8(const WideString& wide) {
  std::string out;
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t cp = wide[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

WideString DecimalText(uint64_t value) {
  char16_t digits[24];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  WideString out;
  while (n > 0) out.push_back(digits[--n]);
  return out;
}

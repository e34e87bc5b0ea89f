#include "app/text.h"

#include <cstdint>

namespace {

// Length of a valid sequence starting at s[i], or 0 when it is not valid.
size_t ValidSequenceLength(const std::string& s, size_t i, char32_t& cp) {
  const auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t c = b(i);
  size_t n;
  uint8_t lo = 0x80, hi = 0xBF;
  if (c < 0x80) { cp = c; return 1; }
  if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; }
  else if (c >= 0xE0 && c <= 0xEF) {
    n = 3; cp = c & 0x0F;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4; cp = c & 0x07;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (size_t k = 1; k < n; ++k) {
    if (i + k >= s.size()) return 0;
    const uint8_t t = b(i + k);
    if (t < (k == 1 ? lo : 0x80) || t > (k == 1 ? hi : 0xBF)) return 0;
    cp = (cp << 6) | (t & 0x3F);
  }
  return n;
}

// How many bytes of an invalid sequence form one maximal subpart (one U+FFFD).
size_t InvalidRunLength(const std::string& s, size_t i) {
  const uint8_t c = static_cast<uint8_t>(s[i]);
  size_t n = (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 1;
  size_t k = 1;
  while (k < n && i + k < s.size()) {
    const uint8_t t = static_cast<uint8_t>(s[i + k]);
    uint8_t lo = 0x80, hi = 0xBF;
    if (k == 1 && c == 0xE0) lo = 0xA0;
    if (k == 1 && c == 0xED) hi = 0x9F;
    if (k == 1 && c == 0xF0) lo = 0x90;
    if (k == 1 && c == 0xF4) hi = 0x8F;
    if (t < lo || t > hi) break;
    ++k;
  }
  return k;
}

}  // namespace

WideString Utf8ToUtf16(const std::string& utf8) {
  WideString out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp = 0;
    const size_t n = ValidSequenceLength(utf8, i, cp);
    if (n == 0) {
      out.push_back(u'\uFFFD');
      i += InvalidRunLength(utf8, i);
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

std::vector<std::string> SplitText(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    pieces.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return pieces;
    start = end + 1;
  }
}

// Text types and conversions shared by every module. Wide text is UTF-16, as on
// Windows, in every build; Win32 modules pass it to the API through WinText().
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

using WideString = std::u16string;

// UTF-8 to UTF-16. The Win32 build converts with the system (MultiByteToWideChar);
// the host build uses Utf8ToUtf16, which gives the same units for valid UTF-8.
WideString Utf8ToWide(const std::string& utf8);

// Portable converter: invalid sequences become U+FFFD, one per maximal bad run.
WideString Utf8ToUtf16(const std::string& utf8);

// Removes trailing line feeds, carriage returns and spaces (not tabs).
std::string TrimLineEnds(std::string text);

// value in decimal digits, without separators: "1234".
WideString DecimalText(uint64_t value);

// UTF-16 to UTF-8, for messages and tools; never used on the launcher's own paths.
std::string WideToUtf8(const WideString& wide);

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or values
// past U+10FFFF): the sequences Utf8ToUtf16 takes without a U+FFFD.
bool IsValidUtf8(std::string_view text);

// Calls fn(piece) for each piece of text cut at every separator: n separators
// give n + 1 pieces, empty ones too. The pieces point into text.
template <typename Fn>
void ForEachPiece(std::string_view text, char separator, Fn&& fn) {
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      fn(text.substr(start));
      return;
    }
    fn(text.substr(start, end - start));
    start = end + 1;
  }
}

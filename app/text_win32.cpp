// The Win32 build converts with the system, so launcher paths match what
// Windows itself would make of the same bytes.
#include <windows.h>

#include "app/text.h"

WideString Utf8ToWide(const std::string& utf8) {
  if (utf8.empty()) return WideString();
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (units <= 0) return WideString();
  WideString wide(static_cast<size_t>(units), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      reinterpret_cast<wchar_t*>(&wide[0]), units);
  return wide;
}

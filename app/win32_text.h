// Bridges WideString (char16_t) and the Win32 API's wchar_t, both UTF-16 there.
#pragma once
#include <windows.h>

#include "app/text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide text is UTF-16");

inline const wchar_t* WinText(const WideString& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline const wchar_t* WinText(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline WideString FromWinText(const wchar_t* s) { return WideString(reinterpret_cast<const char16_t*>(s)); }

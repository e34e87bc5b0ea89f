#include "shell/dll_search_win32.h"

#include <windows.h>

namespace {

// The exe's delay imports (morvel_delay_imports in app/CMakeLists.txt), those
// that others import first: bcrypt before winhttp, whose crypt32 imports it.
const wchar_t* const kDelayLoaded[] = {L"bcrypt.dll", L"user32.dll", L"ole32.dll",
                                       L"shell32.dll", L"gdiplus.dll", L"winhttp.dll"};

}  // namespace

void RestrictDllSearch() {
  // Looked up: Windows 7 without update KB2533623 lacks it. It covers every
  // later load, the DLLs' own imports included.
  using SetDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const auto set_directories = reinterpret_cast<SetDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (set_directories) set_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryW(L"");  // the current folder leaves the search

  // Each delay import is loaded now by its full System32 path, its own imports
  // searched from there (not every loader applies the default directories to
  // them: Wine does not); a delay import then finds its DLL loaded under its
  // name and searches nowhere.
  wchar_t path[MAX_PATH + 16];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  path[length] = L'\\';
  for (const wchar_t* name : kDelayLoaded) {
    lstrcpynW(path + length + 1, name, 15);
    LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
}

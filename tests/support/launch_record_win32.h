// How a game client was started, recorded into "launch-record.txt" beside its
// exe as UTF-16 lines (command line, then working folder), for the tests.
#pragma once
#include <windows.h>

#include <cwchar>

#include "app/scoped_win32.h"

// 0 when the record is in place; written under a temporary name and moved, so
// a test polling for it never reads half of it.
inline int WriteLaunchRecord() {
  wchar_t own[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 2;
  wchar_t* slash = std::wcsrchr(own, L'\\');
  if (!slash) return 2;
  std::wcscpy(slash + 1, L"launch-record.txt");

  wchar_t folder[MAX_PATH];
  if (!GetCurrentDirectoryW(MAX_PATH, folder)) return 2;
  const wchar_t* line = GetCommandLineW();

  wchar_t temp[MAX_PATH + 8];
  std::swprintf(temp, MAX_PATH + 8, L"%ls.tmp", own);
  ScopedFile file(CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 3;
  DWORD done;
  WriteFile(file.get(), line, static_cast<DWORD>(std::wcslen(line) * sizeof(wchar_t)), &done, nullptr);
  WriteFile(file.get(), L"\n", sizeof(wchar_t), &done, nullptr);
  WriteFile(file.get(), folder, static_cast<DWORD>(std::wcslen(folder) * sizeof(wchar_t)), &done, nullptr);
  file.reset();
  return MoveFileExW(temp, own, MOVEFILE_REPLACE_EXISTING) ? 0 : 3;
}

// File and folder helpers shared by the client, self-update and worker tests.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/text.h"
#include "app/win32_text.h"

namespace tasks_test {

inline WideString SpecialFolder(int csidl) {
  wchar_t folder[MAX_PATH];
  EXPECT_EQ(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
  return FromWinText(folder);
}

inline WideString TibiaFolder() { return SpecialFolder(CSIDL_APPDATA) + u"\\Tibia"; }

// The folder of the running test program, where the build puts fake_client.exe.
inline WideString OwnFolder() {
  wchar_t own[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH);
  WideString path = FromWinText(own).substr(0, n);
  return path.substr(0, path.rfind(u'\\'));
}

inline bool Exists(const WideString& path) { return GetFileAttributesW(WinText(path)) != INVALID_FILE_ATTRIBUTES; }

inline bool IsFolder(const WideString& path) {
  const DWORD a = GetFileAttributesW(WinText(path));
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

inline bool WriteBytes(const WideString& path, const std::string& bytes) {
  FILE* f = _wfopen(WinText(path), L"wb");
  if (!f) return false;
  const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

// The whole file, or "<missing>" when it cannot be opened.
inline std::string ReadBytes(const WideString& path) {
  FILE* f = _wfopen(WinText(path), L"rb");
  if (!f) return "<missing>";
  std::string bytes;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  fclose(f);
  return bytes;
}

// Deletes a folder with everything in it; a missing folder is fine.
inline void RemoveTree(const WideString& path) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(WinText(path + u"\\*"), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const WideString name = FromWinText(found.cFileName);
      if (name == u"." || name == u"..") continue;
      const WideString child = path + u"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesW(WinText(child), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(WinText(child));
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(WinText(path));
}

// Waits (bounded) for a file to appear.
inline bool WaitForFile(const WideString& path, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  while (!Exists(path)) {
    if (GetTickCount() - start > timeout_ms) return false;
    Sleep(20);
  }
  return true;
}

}  // namespace tasks_test

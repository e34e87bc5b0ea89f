// Disk helpers shared by the Win32 tests: small files, folder walks and clean-up
// inside the throwaway prefix.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/paths.h"
#include "app/scoped_win32.h"
#include "app/text.h"
#include "app/win32_text.h"

namespace test_disk {

inline WideString SpecialFolder(int csidl) {
  wchar_t folder[MAX_PATH];
  EXPECT_EQ(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
  return FromWinText(folder);
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
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  fclose(f);
  return bytes;
}

// Calls visit(path, is_folder) for everything below a folder, children first.
template <typename Visit>
void Walk(const WideString& folder, const Visit& visit) {
  WIN32_FIND_DATAW found;
  const ScopedFind search(FindFirstFileW(WinText(folder + u"\\*"), &found));
  if (!search) return;
  do {
    const WideString name = FromWinText(found.cFileName);
    if (name == u"." || name == u"..") continue;
    const WideString child = folder + u"\\" + name;
    const bool is_folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (is_folder) Walk(child, visit);
    visit(child, is_folder);
  } while (FindNextFileW(search.get(), &found));
}

// Copies every file below `from` to the same place below `to`, making the
// folders on the way; false when `from` holds no file or a copy fails.
inline bool CopyTree(const WideString& from, const WideString& to) {
  bool copied = false;
  bool ok = true;
  Walk(from, [&](const WideString& path, bool is_folder) {
    if (is_folder) return;
    const WideString copy = to + path.substr(from.size());
    CreateDirectoryTree(copy.substr(0, copy.rfind(u'\\')));
    ok = CopyFileW(WinText(path), WinText(copy), FALSE) && ok;
    copied = true;
  });
  return copied && ok;
}

// Empties a folder; the folder itself stays (it may be a mount point).
inline void EmptyFolder(const WideString& folder) {
  Walk(folder, [](const WideString& path, bool is_folder) {
    if (is_folder) {
      RemoveDirectoryW(WinText(path));
    } else {
      SetFileAttributesW(WinText(path), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(WinText(path));
    }
  });
}

// Deletes a folder with everything in it; a missing folder is fine.
inline void RemoveTree(const WideString& folder) {
  EmptyFolder(folder);
  RemoveDirectoryW(WinText(folder));
}

// A file's last-write time as a 64-bit FILETIME, or 0 when it cannot be read.
inline uint64_t LastWriteTime(const WideString& path) {
  const ScopedFile file(CreateFileW(WinText(path), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  FILETIME time;
  if (!file || !GetFileTime(file.get(), nullptr, nullptr, &time)) return 0;
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline bool SetLastWriteTime(const WideString& path, uint64_t value) {
  const ScopedFile file(CreateFileW(WinText(path), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(value);
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return file && SetFileTime(file.get(), nullptr, nullptr, &time);
}

// Every byte of the file inverted in place, and its last-write time given back:
// the same size, time and identity around other content, a change no record
// can see.
inline bool ForgeInPlace(const WideString& path) {
  const uint64_t time = LastWriteTime(path);
  std::string bytes = ReadBytes(path);
  if (time == 0 || bytes.empty() || bytes == "<missing>") return false;
  for (char& c : bytes) c = static_cast<char>(~c);
  {
    const ScopedFile file(CreateFileW(WinText(path), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD wrote = 0;
    if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) ||
        wrote != bytes.size()) {
      return false;
    }
  }
  return SetLastWriteTime(path, time) && LastWriteTime(path) == time;
}

// Waits (bounded) for a file to appear and open for reading as ReadBytes opens
// it. Appearing is not enough: a file moved into place is still held by the
// mover's handle (opened for deletion) for a moment after the rename, and an
// open that does not share deletion fails until that handle is closed.
inline bool WaitForFile(const WideString& path, DWORD timeout_ms) {
  const auto readable = [&path] {
    return static_cast<bool>(ScopedFile(CreateFileW(WinText(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
  };
  const DWORD start = GetTickCount();
  while (!readable()) {
    if (GetTickCount() - start > timeout_ms) return false;
    Sleep(20);
  }
  return true;
}

}  // namespace test_disk

#include <windows.h>
#include <shlobj.h>

#include <cstdio>

#include "app/client_table.h"
#include "app/file_win32.h"
#include "app/launcher_state.h"
#include "app/move_file_win32.h"
#include "app/paths.h"
#include "app/scoped.h"
#include "app/win32_text.h"

MoveFileFn g_move_file = MoveFileExW;

WideString InstallDir() {
  wchar_t folder[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return WideString();
  }
  return FromWinText(folder) + u"\\Morvel Global";
}

WideString ClientDir(ClientKind client) { return InstallDir() + u"\\" + InfoOf(client).folderName; }

WideString ClientExePath(ClientKind client) { return ClientDir(client) + u"\\" + InfoOf(client).exeName; }

WideString VerifiedRecordPath(ClientKind client) {
  const WideString dir = InstallDir();
  if (dir.empty()) return WideString();
  return dir + u"\\" + Utf8ToWide(InfoOf(client).key) + u".verified";
}

bool CreateDirectoryTree(const WideString& path) {
  // Position 3 on skips a drive root such as "C:\".
  for (size_t i = 3; i < path.size(); ++i) {
    if (path[i] == u'\\') CreateDirectoryW(WinText(path.substr(0, i)), nullptr);
  }
  return CreateDirectoryW(WinText(path), nullptr) != 0;
}

std::string ReadSmallFile(const WideString& path) {
  const ScopedStdFile f(_wfopen(WinText(path), L"rb"));
  if (!f) return std::string();
  char buffer[255];
  const size_t n = fread(buffer, 1, sizeof buffer, f.get());
  return TrimLineEnds(std::string(buffer, n));
}

bool IsExistingFile(const WideString& path) {
  DWORD attributes;
  return FileAttributesOf(path, attributes);
}

void MakeReplaceable(const WideString& path) {
  DWORD attributes;
  if (!FileAttributesOf(path, attributes) || !(attributes & FILE_ATTRIBUTE_READONLY)) return;
  SetFileAttributesW(WinText(path), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

bool HasLinkBelow(const WideString& base, const WideString& path) {
  for (size_t i = path.find(u'\\', base.size() + 1); i != WideString::npos; i = path.find(u'\\', i + 1)) {
    const DWORD attributes = GetFileAttributesW(WinText(path.substr(0, i)));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  }
  return false;
}

WideString OwnExePath() {
  wchar_t own[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return WideString();
  return FromWinText(own);
}

void RefreshInstalledClients() {
  for (const ClientKind client : kClientKinds) {
    g_state.installed[ClientIndex(client)].store(IsExistingFile(ClientExePath(client)),
                                                      std::memory_order_relaxed);
  }
}

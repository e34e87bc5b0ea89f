#include "app/installed_copy.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "app/com_owner_win32.h"
#include "app/paths.h"
#include "app/win32_text.h"

void InstallLauncherCopy() {
  const WideString running = OwnExePath();
  if (running.empty()) return;
  const WideString dir = InstallDir();
  if (dir.empty()) return;
  CreateDirectoryTree(dir);
  const WideString target = dir + u"\\Morvel Global Launcher.exe";
  if (lstrcmpiW(WinText(running), WinText(target)) == 0) return;

  if (!CopyFileW(WinText(running), WinText(target), FALSE)) {
    // An older copy that could not be overwritten still deserves a shortcut.
    const DWORD attributes = GetFileAttributesW(WinText(target));
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  }
  CreateDesktopShortcut(target, dir);
}

void CreateDesktopShortcut(const WideString& target, const WideString& dir) {
  wchar_t desktop[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop))) return;
  const WideString link_path = FromWinText(desktop) + u"\\Morvel Global.lnk";
  // The player's own shortcut of that name stays, wherever it points.
  const DWORD attributes = GetFileAttributesW(WinText(link_path));
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;

  ComOwner<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, ComSlot(link)))) return;
  link.get()->SetPath(WinText(target));
  link.get()->SetWorkingDirectory(WinText(dir));
  link.get()->SetDescription(L"Morvel Global Launcher");

  ComOwner<IPersistFile> file;
  if (SUCCEEDED(link.get()->QueryInterface(IID_IPersistFile, ComSlot(file)))) file.get()->Save(WinText(link_path), TRUE);
}

void RemovePreviousExecutable() {
  const WideString running = OwnExePath();
  if (!running.empty()) DeleteFileW(WinText(running + u".old"));
}

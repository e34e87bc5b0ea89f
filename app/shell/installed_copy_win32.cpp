#include "shell/installed_copy.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "app/com_owner_win32.h"
#include "app/file_win32.h"
#include "app/paths.h"
#include "app/texts.h"
#include "app/win32_text.h"

namespace {

// The new copy is made whole under a temporary name and only then takes the
// installed copy's name, in one step: a full disk or a failed write leaves the
// old copy as it was, never half a launcher behind the shortcut.
bool ReplaceInstalledCopy(const WideString& running, const WideString& target) {
  const WideString temp = target + u".part";
  DeleteFileW(WinText(temp));
  bool ok = CopyFileW(WinText(running), WinText(temp), TRUE) != 0;
  if (ok) {
    // CopyFileW carries the attributes over: a read-only download cannot be flushed.
    SetFileAttributesW(WinText(temp), FILE_ATTRIBUTE_NORMAL);
    File copy = File::OpenForWrite(temp);
    ok = copy && copy.Flush();
    ok = copy.Close() && ok;
  }
  if (ok) return MoveTempOver(temp, target);
  DeleteFileW(WinText(temp));
  return false;
}

}  // namespace

void InstallLauncherCopy() {
  const WideString running = OwnExePath();
  if (running.empty()) return;
  const WideString dir = InstallDir();
  if (dir.empty()) return;
  CreateDirectoryTree(dir);
  const WideString target = dir + u"\\Morvel Global Launcher.exe";
  if (lstrcmpiW(WinText(running), WinText(target)) == 0) return;

  if (!ReplaceInstalledCopy(running, target)) {
    // An older copy that could not be overwritten still deserves a shortcut.
    if (!IsExistingFile(target)) return;
  }
  CreateDesktopShortcut(target, dir);
}

void CreateDesktopShortcut(const WideString& target, const WideString& dir) {
  wchar_t desktop[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop))) return;
  const WideString link_path = FromWinText(desktop) + u"\\Morvel Global.lnk";
  // The player's own shortcut of that name stays, wherever it points.
  if (IsExistingFile(link_path)) return;

  ComOwner<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, ComSlot(link)))) return;
  link.get()->SetPath(WinText(target));
  link.get()->SetWorkingDirectory(WinText(dir));
  link.get()->SetDescription(WinText(kTextLauncherName));

  ComOwner<IPersistFile> file;
  if (SUCCEEDED(link.get()->QueryInterface(IID_IPersistFile, ComSlot(file)))) file.get()->Save(WinText(link_path), TRUE);
}

void RemovePreviousExecutable() {
  const WideString running = OwnExePath();
  if (!running.empty()) DeleteFileW(WinText(running + u".old"));
}

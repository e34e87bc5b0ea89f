#include "clients/automap.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "app/paths.h"
#include "app/scoped_win32.h"
#include "app/win32_text.h"

namespace {

bool AnyMapFile(const WideString& folder) {
  WIN32_FIND_DATAW found;
  return static_cast<bool>(ScopedFind(FindFirstFileW(WinText(folder + u"\\*.map"), &found)));
}

// Undoes a backup that could not be completed in this run, so that the next run
// takes it again instead of finding a folder that looks complete.
void DiscardBackup(const WideString& backup) {
  WIN32_FIND_DATAW found;
  const ScopedFind search(FindFirstFileW(WinText(backup + u"\\*"), &found));
  if (search) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(WinText(backup + u"\\" + FromWinText(found.cFileName)));
      }
    } while (FindNextFileW(search.get(), &found));
  }
  RemoveDirectoryW(WinText(backup));
}

}  // namespace

bool CopyMapFiles(const WideString& from, const WideString& to) {
  WIN32_FIND_DATAW found;
  const ScopedFind search(FindFirstFileW(WinText(from + u"\\*.map"), &found));
  if (!search) return false;
  bool result = true;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const WideString name = FromWinText(found.cFileName);
    if (!CopyFileW(WinText(from + u"\\" + name), WinText(to + u"\\" + name), FALSE)) result = false;
  } while (FindNextFileW(search.get(), &found));
  return result;
}

void InstallAutomap(int client) {
  const WideString source = ClientDir(client) + u"\\Automap";
  const std::string shipped = ReadSmallFile(source + u"\\versao.txt");
  if (shipped.empty()) return;

  wchar_t roaming[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, roaming))) return;
  const WideString tibia = FromWinText(roaming) + u"\\Tibia";
  const WideString destination = tibia + u"\\Automap";
  const WideString marker = tibia + u"\\morvel_automap.txt";

  if (ReadSmallFile(marker) == shipped) return;

  CreateDirectoryTree(destination);

  // The player's own maps are backed up before the first installation only.
  const WideString backup = tibia + u"\\Automap_backup_antes_morvel";
  if (AnyMapFile(destination) && GetFileAttributesW(WinText(backup)) == INVALID_FILE_ATTRIBUTES) {
    CreateDirectoryTree(backup);
    if (!CopyMapFiles(destination, backup)) {
      // Installing now would overwrite maps that have no copy, and a backup folder
      // left in place would never be taken again.
      DiscardBackup(backup);
      return;
    }
  }

  if (!CopyMapFiles(source, destination)) return;

  FILE* f = _wfopen(WinText(marker), L"wb");
  if (!f) return;
  fwrite(shipped.data(), 1, shipped.size(), f);
  fclose(f);
}

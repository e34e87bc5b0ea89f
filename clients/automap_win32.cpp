#include "clients/automap.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "app/file_win32.h"
#include "app/paths.h"
#include "app/scoped_win32.h"
#include "app/win32_text.h"

namespace {

bool AnyMapFile(const WideString& folder) {
  WIN32_FIND_DATAW found;
  return static_cast<bool>(ScopedFind(FindFirstFileW(WinText(folder + u"\\*.map"), &found)));
}

// Removes a staging folder of an unfinished backup (only map files are copied
// into it); true when none is left.
bool RemoveStaging(const WideString& staging) {
  WIN32_FIND_DATAW found;
  const ScopedFind search(FindFirstFileW(WinText(staging + u"\\*"), &found));
  if (search) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(WinText(staging + u"\\" + FromWinText(found.cFileName)));
      }
    } while (FindNextFileW(search.get(), &found));
  }
  RemoveDirectoryW(WinText(staging));
  return GetFileAttributesW(WinText(staging)) == INVALID_FILE_ATTRIBUTES;
}

// The backup is filled under another name and renamed only once complete: a run
// killed while copying must not leave a folder that passes for the backup.
bool TakeBackup(const WideString& destination, const WideString& backup) {
  const WideString staging = backup + u".parcial";
  if (!RemoveStaging(staging) || !CreateDirectoryW(WinText(staging), nullptr)) return false;
  if (CopyMapFiles(destination, staging) && MoveFileW(WinText(staging), WinText(backup))) return true;
  RemoveStaging(staging);
  return false;
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

namespace {

void InstallUnderLock(const WideString& source, const std::string& shipped, const WideString& tibia) {
  const WideString destination = tibia + u"\\Automap";
  const WideString marker = tibia + u"\\morvel_automap.txt";

  if (ReadSmallFile(marker) == shipped) return;

  // Only a folder there is a backup; a file of that name holds no copy of the
  // player's maps, so they must not be overwritten.
  const WideString backup = tibia + u"\\Automap_backup_antes_morvel";
  if (IsExistingFile(backup)) return;
  const bool backed_up = GetFileAttributesW(WinText(backup)) != INVALID_FILE_ATTRIBUTES;

  CreateDirectoryTree(destination);

  // The player's own maps are backed up before the first installation only.
  // Installing without it would overwrite maps that have no copy.
  if (!backed_up && AnyMapFile(destination) && !TakeBackup(destination, backup)) {
    return;
  }

  if (!CopyMapFiles(source, destination)) return;

  // A marker that is not written whole only makes the next start copy the maps again.
  const File written = File::CreateAlways(marker);
  if (written) written.WriteAll(shipped.data(), shipped.size());
}

}  // namespace

void InstallAutomap(ClientKind client) {
  const WideString source = ClientDir(client) + u"\\Automap";
  const std::string shipped = ReadSmallFile(source + u"\\versao.txt");
  if (shipped.empty()) return;

  wchar_t roaming[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, roaming))) return;

  // Without it a second installation would find the backup folder the first has
  // only begun to fill, skip its own, and overwrite maps not yet copied.
  const ScopedHandle mutex(CreateMutexW(nullptr, FALSE, WinText(kAutomapMutexName)));
  if (!mutex) return;
  const DWORD waited = WaitForSingleObject(mutex.get(), kAutomapWaitMs);
  // Abandoned: its holder ended; what it left on disk is an incomplete installation.
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    InstallUnderLock(source, shipped, FromWinText(roaming) + u"\\Tibia");
    ReleaseMutex(mutex.get());
  }
}

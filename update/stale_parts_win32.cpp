#include "update/stale_parts_win32.h"

#include <windows.h>

#include <vector>

#include "app/scoped_win32.h"
#include "app/win32_text.h"

void DeleteStaleParts(const WideString& client_dir, const std::set<WideString>& keep, const PathKey& key) {
  std::vector<WideString> folders = {client_dir};
  while (!folders.empty()) {
    const WideString folder = folders.back();
    folders.pop_back();
    WIN32_FIND_DATAW found;
    const ScopedFind find(FindFirstFileW(WinText(folder + u"\\*"), &found));
    if (!find) continue;
    do {
      const WideString name = FromWinText(found.cFileName);
      if (name == u"." || name == u"..") continue;
      const WideString path = folder + u"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) folders.push_back(path);
      } else if (IsStagingName(path) && keep.count(key(path)) == 0) {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(WinText(path), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(WinText(path));
      }
    } while (FindNextFileW(find.get(), &found));
  }
}

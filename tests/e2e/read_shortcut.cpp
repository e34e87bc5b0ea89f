// Prints a shortcut's target, working folder and description as three UTF-8
// lines, read through IShellLinkW. Exit code 1 when the file is not a shortcut.
#include <cstdio>

#include "tests/win32/support/shortcut_win32.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const Shortcut link = ReadShortcut(argv[1]);
  CoUninitialize();
  if (!link.read) return 1;
  std::printf("%s\n%s\n%s\n", link.target.c_str(), link.dir.c_str(), link.description.c_str());
  return 0;
}

// Reads a shortcut back through IShellLinkW, as the shell does: prints its
// target, working folder and description as three UTF-8 lines. Exit code 1
// when the file is not a shortcut.
#include <windows.h>
#include <shobjidl.h>

#include <cstdio>

#include "app/com_owner_win32.h"
#include "app/text.h"
#include "app/win32_text.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int result = 1;
  {
    ComOwner<IShellLinkW> link;
    ComOwner<IPersistFile> file;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, ComSlot(link))) &&
        SUCCEEDED(link.get()->QueryInterface(IID_IPersistFile, ComSlot(file))) && SUCCEEDED(file.get()->Load(argv[1], STGM_READ))) {
      wchar_t target[MAX_PATH] = L"", dir[MAX_PATH] = L"", description[MAX_PATH] = L"";
      link.get()->GetPath(target, MAX_PATH, nullptr, 0);
      link.get()->GetWorkingDirectory(dir, MAX_PATH);
      link.get()->GetDescription(description, MAX_PATH);
      for (const wchar_t* text : {target, dir, description}) std::printf("%s\n", WideToUtf8(FromWinText(text)).c_str());
      result = 0;
    }
  }
  CoUninitialize();
  return result;
}

// Reads a shortcut back through IShellLinkW, as the shell does, for the tests
// of the installed copy and the end-to-end suite.
#pragma once
#include <windows.h>
#include <shobjidl.h>

#include <string>

#include "app/com_owner_win32.h"
#include "app/text.h"
#include "app/win32_text.h"

struct Shortcut {
  bool read = false;
  std::string target, dir, description;  // UTF-8
};

// Needs COM initialised on the calling thread.
inline Shortcut ReadShortcut(const wchar_t* path) {
  ComOwner<IShellLinkW> link;
  ComOwner<IPersistFile> file;
  Shortcut out;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, ComSlot(link))) ||
      FAILED(link.get()->QueryInterface(IID_IPersistFile, ComSlot(file))) ||
      FAILED(file.get()->Load(path, STGM_READ))) {
    return out;
  }
  wchar_t text[MAX_PATH] = L"";
  if (SUCCEEDED(link.get()->GetPath(text, MAX_PATH, nullptr, 0))) out.target = WideToUtf8(FromWinText(text));
  text[0] = L'\0';
  if (SUCCEEDED(link.get()->GetWorkingDirectory(text, MAX_PATH))) out.dir = WideToUtf8(FromWinText(text));
  text[0] = L'\0';
  if (SUCCEEDED(link.get()->GetDescription(text, MAX_PATH))) out.description = WideToUtf8(FromWinText(text));
  out.read = true;
  return out;
}

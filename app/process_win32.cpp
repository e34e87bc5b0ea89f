#include "app/process.h"

#include <windows.h>

#include <vector>

#include "app/scoped_win32.h"
#include "app/win32_text.h"

bool StartProcess(const WideString& exe, const WideString& command_line, const WideString& dir) {
  // CreateProcessW may write into the command line, so it gets its own buffer.
  std::vector<wchar_t> line(command_line.begin(), command_line.end());
  line.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(WinText(exe), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      dir.empty() ? nullptr : WinText(dir), &startup, &process)) {
    return false;
  }
  const ScopedHandle owned_process(process.hProcess);
  const ScopedHandle owned_thread(process.hThread);
  return true;
}

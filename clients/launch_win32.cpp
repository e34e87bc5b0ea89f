#include "clients/launch.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "app/client_table.h"
#include "app/launcher_state.h"
#include "app/paths.h"
#include "app/scoped_win32.h"
#include "app/win32_text.h"
#include "clients/automap.h"

bool LaunchClient(int client) {
  // The maps must be in place before the Tibia client can read them.
  if (std::strcmp(ClientTable[client].key, "classic") == 0) InstallAutomap(client);

  const WideString exe = ClientExePath(client);
  const WideString dir = ClientDir(client);

  // CreateProcessW may write into the command line, so it gets its own buffer.
  const WideString quoted = u"\"" + exe + u"\"";
  std::vector<wchar_t> command_line(quoted.begin(), quoted.end());
  command_line.push_back(L'\0');

  STARTUPINFOW startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  std::memset(&process, 0, sizeof process);

  if (CreateProcessW(WinText(exe), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, WinText(dir),
                     &startup, &process)) {
    const ScopedHandle owned_process(process.hProcess);
    const ScopedHandle owned_thread(process.hThread);
    return true;
  }
  SetStatus(u"Não foi possível abrir o client.", u"O antivírus pode ter bloqueado. Use Verificar arquivos.", true);
  return false;
}

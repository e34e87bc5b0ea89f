#include "clients/launch.h"

#include "app/launcher_state.h"
#include "app/paths.h"
#include "app/process.h"
#include "clients/automap.h"

bool LaunchClient(ClientKind client) {
  // The maps must be in place before the Tibia client can read them.
  if (client == ClientKind::Classic) InstallAutomap(client);

  const WideString exe = ClientExePath(client);
  if (StartProcess(exe, u"\"" + exe + u"\"", ClientDir(client))) return true;
  SetStatus(u"Não foi possível abrir o client.", u"O antivírus pode ter bloqueado. Use Verificar arquivos.", true);
  return false;
}

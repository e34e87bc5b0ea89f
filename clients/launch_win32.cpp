#include "clients/launch.h"

#include "app/launcher_state.h"
#include "app/paths.h"
#include "app/process.h"
#include "app/texts.h"
#include "clients/automap.h"

bool LaunchClient(ClientKind client) {
  // The maps must be in place before the Tibia client can read them.
  if (client == ClientKind::Classic) InstallAutomap(client);

  const WideString exe = ClientExePath(client);
  if (StartProcess(exe, u"\"" + exe + u"\"", ClientDir(client))) return true;
  SetStatus(kTextClientNotOpened, kTextAntivirusHint, true);
  return false;
}

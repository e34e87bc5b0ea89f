// Copies the Automap files shipped with the Tibia 8.60 client into the Tibia
// client's own per-user map folder, backing up the player's maps once.
#pragma once
#include "app/client_table.h"
#include "app/text.h"

// Serialises installations across processes (a "--instalar-mapa" run beside a
// launcher starting the client), from the marker check to the marker write.
inline constexpr char16_t kAutomapMutexName[] = u"MorvelGlobalAutomap";
// How long an installation waits for another one; then it skips it.
inline constexpr unsigned kAutomapWaitMs = 3000;

// Silent: a failure, or another installation running, only means the next run
// tries again.
void InstallAutomap(ClientKind client);

// Copies every file matching from\*.map into the existing folder `to`; true only
// when something matched and every copy succeeded.
bool CopyMapFiles(const WideString& from, const WideString& to);

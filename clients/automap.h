// Copies the Automap files shipped with the Tibia 8.60 client into the Tibia
// client's own per-user map folder, backing up the player's maps once.
#pragma once
#include "app/text.h"

// Silent: a failure only means the next run tries again.
void InstallAutomap(int client);

// Copies every file matching from\*.map into the existing folder `to`; true only
// when something matched and every copy succeeded.
bool CopyMapFiles(const WideString& from, const WideString& to);

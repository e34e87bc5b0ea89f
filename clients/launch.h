// Starts the chosen game client as a process of its own, neither waited for nor
// watched.
#pragma once
#include "app/client_table.h"

// true when the client process was created; false with the failure texts set.
bool LaunchClient(ClientKind client);

// Starts the chosen game client as a process of its own, neither waited for nor
// watched.
#pragma once

// true when the client process was created; false with the failure texts set.
bool LaunchClient(int client);

// Where every job begins and where the window's close meets a running job. Both
// run on the window thread only.
#pragma once
#include <windows.h>

#include "app/launcher_state.h"

// Starts a worker thread for the task unless one is already running.
void StartTask(TaskKind kind, ClientKind client);

// Asks a running task to stop, waits at most 3000 ms for it, then destroys the
// window.
void RequestClose(HWND window);

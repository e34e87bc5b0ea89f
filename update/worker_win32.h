// The worker thread's routine: one task from the manifest fetch to the single
// end-of-task message.
#pragma once
#include <windows.h>

#include <cstdint>

#include "update/launcher_version.h"

// Takes ownership of the heap-allocated WorkerTask in `param`; returns 0.
DWORD WINAPI WorkerMain(LPVOID param);

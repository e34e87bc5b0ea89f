// The worker thread's routine: one task from the manifest fetch to the single
// end-of-task message.
#pragma once
#include <windows.h>

#include <cstdint>

// The version of this launcher; a manifest naming a higher one triggers the
// self-update at start-up.
constexpr int32_t kLauncherVersion = 2;

// Takes ownership of the heap-allocated WorkerTask in `param`; returns 0.
DWORD WINAPI WorkerMain(LPVOID param);

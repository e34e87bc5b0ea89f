// The worker thread's routine: one task from the manifest fetch to the single
// end-of-task message.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "update/file_host.h"

// What every task takes from the launcher it runs in: the file host and its
// mirrors, in the order they are tried (the first one's site also holds the
// download page), and the launcher's own version (a manifest naming a higher
// one triggers the self-update).
struct WorkerSettings {
  std::vector<FileHost> file_hosts;
  int32_t launcher_version = 0;
};
// Set by the entry to the values built into the exe before the first task, by
// the tests to their own; workers only read it.
extern WorkerSettings g_worker_settings;

// Takes ownership of the heap-allocated WorkerTask in `param`; returns 0.
DWORD WINAPI WorkerMain(LPVOID param);

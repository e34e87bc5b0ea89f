// Replaces the running launcher executable with the newer one the manifest
// announces: download to ".novo", verify, swap through ".old".
#pragma once
#include <windows.h>

#include <cstdint>

#include "app/launcher_state.h"
#include "app/move_file_win32.h"

class FileHosts;
struct Manifest;

// A launcher executable is a few megabytes; a manifest announcing more than this
// would let the file host fill the disk beside the launcher.
constexpr uint64_t kLauncherSizeLimit = 128ull * 1024 * 1024;

// Makes the verified ".novo" durable before the swap; tests replace it to see
// when it runs and to make it fail.
using FlushFileFn = BOOL(WINAPI*)(HANDLE file);
extern FlushFileFn g_flush_file;  // FlushFileBuffers

// true when the new executable has replaced the running one. It is fetched from
// the hosts' current one, and on failure from each next one.
bool SelfUpdate(FileHosts& hosts, const Manifest& manifest);

// The start-up job once the manifest names a newer launcher: update and ask for a
// restart, or offer the download page. Gives the task's FinishAction.
FinishAction UpdateLauncherOrOfferDownload(FileHosts& hosts, const Manifest& manifest);

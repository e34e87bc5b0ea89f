// What the Win32 download benchmarks share: the manifest and file host they run
// on and the clock they time with.
#pragma once

#include "update/manifest.h"

// Reads and parses a published manifest (a Windows path, e.g. Z:\...\manifest.txt)
// and points the file host at the test nginx; false, with the reason on stderr
// under the program's name, when either fails.
bool PrepareRun(const char* program, const char* manifest_path, Manifest& manifest);

// Waits a second before a timed part. Wine goes on starting its own services
// for a moment after a program starts, and a pass of small file operations
// timed meanwhile waited for it (0.06 s or 0.33 s for the same check pass);
// a launcher has long started when the player presses a button.
void SettleBeforeTiming();

// Seconds on the performance counter, from an arbitrary origin.
double SecondsNow();

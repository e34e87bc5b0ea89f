// What the Win32 download benchmarks share: the manifest and file host they run
// on and the clock they time with.
#pragma once

#include "update/manifest.h"

// Reads and parses a published manifest (a Windows path, e.g. Z:\...\manifest.txt)
// and points the file host at the test nginx; false, with the reason on stderr
// under the program's name, when either fails.
bool PrepareRun(const char* program, const char* manifest_path, Manifest& manifest);

// Seconds on the performance counter, from an arbitrary origin.
double SecondsNow();

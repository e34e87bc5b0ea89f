// What the Win32 download benchmarks share: the manifest they run on and the
// clock they time with.
#pragma once

#include "update/manifest.h"

// Reads and parses a published manifest (a Windows path, e.g. Z:\...\manifest.txt).
bool LoadManifest(const char* path, Manifest& manifest);

// Seconds on the performance counter, from an arbitrary origin.
double SecondsNow();

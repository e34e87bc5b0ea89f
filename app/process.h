// Starting another program: the chosen game client, or the launcher itself
// after it replaced its executable.
#pragma once
#include "app/text.h"

// Starts exe as a process of its own, neither waited for nor watched, with the
// whole command line (the quoted exe first) and the working folder `dir`
// (empty: the launcher's own). true when the process was created.
bool StartProcess(const WideString& exe, const WideString& command_line, const WideString& dir);

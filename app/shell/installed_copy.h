// The first run from anywhere else installs the launcher: a copy in the install
// folder and a desktop shortcut to it. Silent; never changes what the caller
// does next. Needs COM initialised on the calling thread.
#pragma once
#include "app/text.h"

void InstallLauncherCopy();
void CreateDesktopShortcut(const WideString& target, const WideString& dir);

// Deletes the previous executable a self-update left beside the running one
// (running path + ".old"); nothing when the running path is unknown or cut.
void RemovePreviousExecutable();

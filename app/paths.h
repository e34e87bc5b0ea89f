// Where the launcher keeps everything on disk, and the small file helpers the
// other modules share. Failures give empty or false results; callers decide.
#pragma once
#include <string>

#include "app/client_table.h"
#include "app/text.h"

WideString InstallDir();
WideString ClientDir(ClientKind client);
WideString ClientExePath(ClientKind client);
bool CreateDirectoryTree(const WideString& path);
// A file (not a folder) is at path, whether or not it can be opened now.
bool IsExistingFile(const WideString& path);
std::string ReadSmallFile(const WideString& path);
void RefreshInstalledClients();

// The running executable's full path; empty when it cannot be had whole (a path
// that fills the buffer is cut and names some other file).
WideString OwnExePath();

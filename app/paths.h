// Where the launcher keeps everything on disk, and the small file helpers the
// other modules share. Failures give empty or false results; callers decide.
#pragma once
#include <string>

#include "app/text.h"

WideString InstallDir();
WideString ClientDir(int client);
WideString ClientExePath(int client);
bool CreateDirectoryTree(const WideString& path);
// A file (not a folder) is at path, whether or not it can be opened now.
bool IsExistingFile(const WideString& path);
std::string ReadSmallFile(const WideString& path);
void RefreshInstalledClients();

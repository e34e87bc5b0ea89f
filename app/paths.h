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
// Clears a file's read-only attribute: Windows refuses to replace such a file.
void MakeReplaceable(const WideString& path);
// Whether a folder between base and path's last piece (both excluded) is a
// reparse point (a link or junction), which would send writes outside base.
// path must start with base.
bool HasLinkBelow(const WideString& base, const WideString& path);
void RefreshInstalledClients();

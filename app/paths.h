// Where the launcher keeps everything on disk, and the small file helpers the
// other modules share. Failures give empty or false results; callers decide.
#pragma once
#include <string>

#include "app/client_table.h"
#include "app/text.h"

WideString InstallDir();
WideString ClientDir(ClientKind client);
WideString ClientExePath(ClientKind client);
// The record of the client's verified files, beside the client folders (never
// inside one, where the client would see it); empty when there is no install
// folder.
WideString VerifiedRecordPath(ClientKind client);
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

// The running executable's full path; empty when it cannot be had whole (a path
// that fills the buffer is cut and names some other file).
WideString OwnExePath();

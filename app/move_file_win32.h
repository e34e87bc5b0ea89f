// The rename that puts a verified file in place, for every caller that does so.
// Tests replace it to make one move fail, or to refuse a read-only target as
// Windows does (Wine replaces it whoever runs it).
#pragma once
#include <windows.h>

using MoveFileFn = BOOL(WINAPI*)(LPCWSTR from, LPCWSTR to, DWORD flags);
extern MoveFileFn g_move_file;  // MoveFileExW

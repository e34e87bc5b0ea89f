// Where the launcher takes its DLLs from: System32 only. Players start it from
// Downloads, where a browser may have saved anything, and Windows would
// otherwise look for a DLL that is not a KnownDLL in the exe's folder first.
#pragma once

// The entry's first act. The exe imports only kernel32 and msvcrt directly;
// every other system DLL is a delay import, loaded here from System32 before
// anything calls it.
void RestrictDllSearch();

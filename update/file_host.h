// Where the file host is. The release exe links file_host.cpp (build-time
// constants); the Win32 tests link a settable copy so they can reach servers on
// loopback.
#pragma once
#include <cstdint>

#include "app/text.h"

WideString FileHostName();
uint16_t FileHostPort();
// The download page offered when the launcher cannot replace itself.
WideString DownloadPageUrl();

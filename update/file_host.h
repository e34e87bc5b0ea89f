// Where the file host is: the name and HTTPS port every Http connects to. A
// launcher exe has its own built in, which its entry hands to the worker; the
// Win32 tests choose servers on loopback.
#pragma once
#include <cstdint>

#include "app/text.h"

struct FileHost {
  WideString name;
  uint16_t port = 443;
};

// The download page offered when the launcher cannot replace itself.
WideString DownloadPageUrl(const FileHost& host);

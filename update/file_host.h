// Where the file host is: the name and HTTPS port every Http connects to. A
// launcher exe has its own built in, which its entry hands to the worker; the
// Win32 tests choose servers on loopback.
#pragma once
#include <cstdint>
#include <string>

#include "app/text.h"

struct FileHost {
  WideString name;
  uint16_t port = 443;
  // The public key (morvel-publish keygen's .pub text) its manifests must be
  // signed with; empty: manifests are read unsigned.
  std::string manifest_key;
};

// The download page offered when the launcher cannot replace itself.
WideString DownloadPageUrl(const FileHost& host);

// Where the file host is: the name and HTTPS port every Http connects to. A
// launcher exe has its own built in, which its entry hands to the worker; the
// Win32 tests choose servers on loopback.
#pragma once
#include <cstdint>
#include <string>

#include "app/text.h"

// What the launcher says it is, in every build; morvel-publish check-host
// says the same. What it asks for is in update/host_layout.h.
constexpr char16_t kUserAgent[] = u"MorvelGlobal-Launcher/1";

struct FileHost {
  WideString name;
  uint16_t port = 443;
  // The public key (morvel-publish keygen's .pub text) its manifests must be
  // signed with; empty: manifests are read unsigned.
  std::string manifest_key;
};

// The download page offered when the launcher cannot replace itself.
WideString DownloadPageUrl(const FileHost& host);

// The launcher's only way to the network: one HTTPS connection to the file host
// per task, and one GET that streams the body to a callback.
#pragma once
#include <cstdint>
#include <functional>

#include "app/scoped_win32.h"
#include "app/text.h"
#include "update/file_host.h"

// Receives each chunk of a body (1 to 65536 bytes, valid only during the call).
// Returning false stops the transfer and makes HttpGet return false.
using DataCallback = std::function<bool(const uint8_t* data, uint32_t length)>;

class Http {
 public:
  explicit Http(const FileHost& host);

  // Where this connection goes: its site also holds the download page.
  const FileHost& host() const { return host_; }

 private:
  friend bool HttpGet(Http& http, const WideString& path, const DataCallback& callback);
  friend struct HttpTestAccess;  // lets the Win32 tests stand in for a failed WinHttpConnect

  FileHost host_;
  // Declared in this order so the connection closes before its session.
  ScopedInternet session_;     // empty when the session failed to open
  ScopedInternet connection_;  // empty when the session or the connection failed
};

// true only for status 200 with the whole body read and every chunk accepted.
bool HttpGet(Http& http, const WideString& path, const DataCallback& callback);

// "?t=" and the system tick count: makes a request path unique so no cache
// between the launcher and the file host answers with an old body.
WideString CacheDefeatingQuery();

// The launcher's only way to the network: one HTTPS connection to the file host
// per task, and GETs that stream their bodies to a callback.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "app/scoped_win32.h"
#include "app/text.h"
#include "update/file_host.h"

// Receives each chunk of a body (1 to 65536 bytes, valid only during the call).
// Returning false stops the transfer and makes HttpGet return false.
using DataCallback = std::function<bool(const uint8_t* data, uint32_t length)>;

// Streams one body to a callback: a GET of its own, or one sent earlier.
using BodyFetch = std::function<bool(const DataCallback& callback)>;

class Http {
 public:
  explicit Http(const FileHost& host);

  // Where this connection goes: its site also holds the download page.
  const FileHost& host() const { return host_; }

 private:
  friend class SentGet;
  friend struct HttpTestAccess;  // lets the Win32 tests stand in for a failed WinHttpConnect

  FileHost host_;
  // Declared in this order so the connection closes before its session.
  ScopedInternet session_;     // empty when the session failed to open
  ScopedInternet connection_;  // empty when the session or the connection failed
};

// What one request shares with WinHTTP's callback thread (http_win32.cpp).
struct Exchange;
struct ExchangeRelease {
  void operator()(Exchange* exchange) const;
};

// A GET whose request has gone out and whose response is read later. Each one
// holds its own request handle, so WinHTTP gives it a connection of its own (an
// idle one from its pool, or a new one), and the session is asynchronous, so
// the send, the handshake and the wait for the response go on while the worker
// reads another body: several can be under way on one Http. Closing it (or
// moving another over it) ends its transfer.
class SentGet {
 public:
  // Opens and sends a GET for path without waiting for the response. A request
  // that could not be sent shows as a false Receive.
  SentGet(Http& http, const WideString& path);
  SentGet(SentGet&&) = default;
  SentGet& operator=(SentGet&&) = default;

  // Waits for the response and streams its body, as HttpGet does; true only
  // for status 200 with the whole body read and every chunk accepted. Closes
  // the request before it returns: call once.
  bool Receive(const DataCallback& callback);

 private:
  // Declared before the request so that the request closes first.
  std::unique_ptr<Exchange, ExchangeRelease> exchange_;
  ScopedInternet request_;  // empty once received, or when the request was not sent
};

// true only for status 200 with the whole body read and every chunk accepted.
bool HttpGet(Http& http, const WideString& path, const DataCallback& callback);

// "?t=" and the system tick count: makes a request path unique so no cache
// between the launcher and the file host answers with an old body.
WideString CacheDefeatingQuery();

// The launcher's only way to the network: one HTTPS connection to the file host
// per task, and GETs that stream their bodies to a callback.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/scoped_win32.h"
#include "app/text.h"
#include "update/file_host.h"

// Receives each chunk of a body (1 to 65536 bytes, valid only during the call).
// Returning false stops the transfer and makes HttpGet return false.
using DataCallback = std::function<bool(const uint8_t* data, uint32_t length)>;

// Told, before the first chunk, at which byte of the whole body the bytes to
// come begin: 0 for a 200, the range's first byte for a 206. Returning false
// stops the transfer.
using BodyStart = std::function<bool(uint64_t first_byte)>;

// Streams one body to a callback from byte from on (0: all of it): a GET of
// its own, or one sent earlier. A host that ignores the range sends all of it,
// which start is told.
using BodyFetch = std::function<bool(uint64_t from, const BodyStart& start, const DataCallback& callback)>;

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
  // Opens and sends a GET for path without waiting for the response, asking
  // for the bytes from `from` on when it is not 0 ("Range: bytes=N-"). A
  // request that could not be sent shows as a false Receive.
  SentGet(Http& http, const WideString& path, uint64_t from = 0);
  SentGet(SentGet&&) = default;
  SentGet& operator=(SentGet&&) = default;

  // Waits for the response and streams its body, as HttpGet does; true only
  // for status 200 (or, to a range request, a 206 for exactly the range asked)
  // with the whole body read and every chunk accepted. start, when given, is
  // told where the body begins; a 206 that begins elsewhere is told and then
  // fails. With cancel, every wait ends as soon as it is set, whatever the
  // host does, and the request is closed. Closes the request before it
  // returns: call once.
  bool Receive(const DataCallback& callback, const BodyStart& start = nullptr,
               const std::atomic<bool>* cancel = nullptr);

  uint64_t from() const { return from_; }

 private:
  uint64_t from_ = 0;
  // Declared before the request so that the request closes first.
  std::unique_ptr<Exchange, ExchangeRelease> exchange_;
  ScopedInternet request_;  // empty once received, or when the request was not sent
};

// true only for status 200 with the whole body read and every chunk accepted.
bool HttpGet(Http& http, const WideString& path, const DataCallback& callback);

// "?t=" and the system tick count: makes a request path unique so no cache
// between the launcher and the file host answers with an old body.
WideString CacheDefeatingQuery();

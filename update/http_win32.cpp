#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "app/win32_text.h"
#include "update/http_win32.h"
#include "update/resume_state.h"

namespace {

constexpr DWORD kChunkBytes = 65536;
// WinHTTP's own time-outs end every operation well before this; it only keeps a
// completion that never comes from holding the worker for good.
constexpr DWORD kLongestWaitMs = 180000;
// How often a wait that can be cancelled looks at the flag: well inside the
// 200 ms a cancel may take to close every request.
constexpr DWORD kCancelPollMs = 10;

// The response's header `query` as text; false when it is missing or does not fit.
template <size_t N>
bool HeaderText(HINTERNET request, DWORD query, wchar_t (&text)[N]) {
  DWORD size = sizeof text;
  return WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text, &size, WINHTTP_NO_HEADER_INDEX) != 0;
}

// The body length the response announces, when it has a well-formed
// Content-Length header.
bool AnnouncedLength(HINTERNET request, uint64_t& length) {
  wchar_t text[32];
  if (!HeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH, text)) return false;
  uint64_t value = 0;
  const wchar_t* p = text;
  if (*p == L'\0') return false;
  for (; *p != L'\0'; ++p) {
    if (*p < L'0' || *p > L'9' || value > (UINT64_MAX - 9) / 10) return false;
    value = value * 10 + static_cast<uint64_t>(*p - L'0');
  }
  length = value;
  return true;
}

}  // namespace

// The outcome of the one operation under way on a request, and the buffer its
// reads fill. WinHTTP completes operations on threads of its own and may still
// fill the buffer after the request is closed, so the exchange lives until both
// the SentGet and the handle (at WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) have
// let go of it.
struct Exchange {
  std::atomic<int> holders{1};
  ScopedHandle completed{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  DWORD error = 0;  // 0, or why the operation failed
  DWORD bytes = 0;  // what the last read delivered; 0 at the end of the body
  std::vector<uint8_t> buffer;  // made when the body is read: requests sent ahead hold none
};

void ExchangeRelease::operator()(Exchange* exchange) const {
  if (exchange->holders.fetch_sub(1) == 1) delete exchange;
}

namespace {

void Complete(Exchange& exchange, DWORD error, DWORD bytes) {
  exchange.error = error;
  exchange.bytes = bytes;
  SetEvent(exchange.completed.get());
}

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length) {
  Exchange* exchange = reinterpret_cast<Exchange*>(context);
  if (!exchange) return;  // the session and the connection carry none
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      Complete(*exchange, 0, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      Complete(*exchange, 0, length);
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      Complete(*exchange, 0, *static_cast<const DWORD*>(info));
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
      const DWORD error = static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError;
      Complete(*exchange, error ? error : ERROR_WINHTTP_INTERNAL_ERROR, 0);
      break;
    }
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      ExchangeRelease()(exchange);
      break;
    default:
      break;
  }
}

// Waits for the operation just started on the exchange's request; false at
// once when cancel is set. The caller then closes the request, which ends the
// operation on WinHTTP's side.
bool Completed(Exchange& exchange, const std::atomic<bool>* cancel) {
  if (!cancel) return WaitForSingleObject(exchange.completed.get(), kLongestWaitMs) == WAIT_OBJECT_0 && exchange.error == 0;
  for (DWORD waited = 0; waited < kLongestWaitMs; waited += kCancelPollMs) {
    if (cancel->load()) return false;
    if (WaitForSingleObject(exchange.completed.get(), kCancelPollMs) == WAIT_OBJECT_0) return exchange.error == 0;
  }
  return false;
}

// The first byte a 206 says it holds; false when its Content-Range is missing or malformed.
bool RangeStart(HINTERNET request, uint64_t& first) {
  wchar_t text[96];
  if (!HeaderText(request, WINHTTP_QUERY_CONTENT_RANGE, text)) return false;
  std::string narrow;
  for (const wchar_t* p = text; *p; ++p) {
    if (*p > 0x7e) return false;
    narrow.push_back(static_cast<char>(*p));
  }
  uint64_t last = 0;
  return ParseContentRange(narrow, first, last);
}

}  // namespace

Http::Http(const FileHost& host) : host_(host) {
  // Asynchronous, so that requests sent ahead travel while the worker reads
  // another body: a synchronous send waits for its response (it does under
  // Wine, and the worker would pay every round trip again).
  session_.reset(WinHttpOpen(WinText(kUserAgent), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
  if (!session_) return;
  if (WinHttpSetStatusCallback(session_.get(), OnStatus,
                               WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                               0) == WINHTTP_INVALID_STATUS_CALLBACK) {
    session_.reset();  // no request could ever be seen to finish
    return;
  }
  // The results are ignored on purpose: an older system without the option
  // still gets its own protocol set, and the first failing request reports it.
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
  WinHttpSetOption(session_.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
  WinHttpSetTimeouts(session_.get(), 15000, 15000, 30000, 30000);
  // The receive time-out does not cover the wait for the response headers (90 s
  // on Windows, longer under Wine): a host that accepts and never answers would
  // hold the worker that long.
  DWORD response_wait = 30000;
  WinHttpSetOption(session_.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_wait, sizeof response_wait);
  // Only the built-in host may answer: a redirect would hand the manifest, the
  // bodies and the launcher exe to any host the file host names. Every 3xx is
  // then a failed request, as any other status but 200.
  DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(session_.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof redirects);
  connection_.reset(WinHttpConnect(session_.get(), WinText(host_.name), host_.port, 0));
}

SentGet::SentGet(Http& http, const WideString& path, uint64_t from) : from_(from) {
  if (!http.connection_) return;
  request_.reset(WinHttpOpenRequest(http.connection_.get(), L"GET", WinText(path), nullptr, WINHTTP_NO_REFERER,
                                    WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
  if (!request_) return;
  exchange_.reset(new Exchange);
  // From here the handle holds the exchange too, until it closes.
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(exchange_.get());
  ++exchange_->holders;
  if (!WinHttpSetOption(request_.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
    --exchange_->holders;
    request_.reset();
    return;
  }
  if (from_ != 0) {
    wchar_t range[48];
    swprintf(range, 48, L"Range: bytes=%llu-", static_cast<unsigned long long>(from_));
    if (!WinHttpAddRequestHeaders(request_.get(), range, static_cast<DWORD>(-1L), WINHTTP_ADDREQ_FLAG_ADD)) {
      request_.reset();
      return;
    }
  }
  if (!exchange_->completed ||
      !WinHttpSendRequest(request_.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, context)) {
    request_.reset();
  }
}

bool SentGet::Receive(const DataCallback& callback, const BodyStart& start, const std::atomic<bool>* cancel) {
  const std::unique_ptr<Exchange, ExchangeRelease> exchange = std::move(exchange_);
  const ScopedInternet owned_request = std::move(request_);
  const HINTERNET request = owned_request.get();
  if (!request || !Completed(*exchange, cancel)) return false;
  if (!WinHttpReceiveResponse(request, nullptr) || !Completed(*exchange, cancel)) return false;
  // A failed query leaves 0, which is no success either.
  DWORD status = 0;
  DWORD status_size = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &status, &status_size, WINHTTP_NO_HEADER_INDEX);
  // A 206 counts only as the answer to the range asked for; a host that
  // ignores the range answers 200 with the whole body.
  uint64_t first_byte = 0;
  if (status == 206) {
    if (from_ == 0 || !RangeStart(request, first_byte)) return false;
  } else if (status != 200) {
    return false;
  }
  if (start && !start(first_byte)) return false;
  if (first_byte != from_ && status == 206) return false;

  exchange->buffer.resize(kChunkBytes);
  uint8_t* const buffer = exchange->buffer.data();
  uint64_t total = 0;
  for (;;) {
    if (cancel && cancel->load()) return false;
    // Only what has come: a read of a whole chunk may wait for all of it (Wine
    // does), and a cut then loses the bytes that came before it.
    if (!WinHttpQueryDataAvailable(request, nullptr) || !Completed(*exchange, cancel)) return false;
    const DWORD want = exchange->bytes == 0 || exchange->bytes > kChunkBytes ? kChunkBytes : exchange->bytes;
    if (!WinHttpReadData(request, buffer, want, nullptr) || !Completed(*exchange, cancel)) return false;
    const DWORD received = exchange->bytes;
    if (received == 0) {
      // A connection closed before the announced length also reads as 0 bytes
      // (at least under Wine); a cut body must not pass for a whole one.
      uint64_t announced = 0;
      return !AnnouncedLength(request, announced) || total == announced;
    }
    total += received;
    if (!callback(buffer, received)) return false;
  }
}

bool HttpGet(Http& http, const WideString& path, const DataCallback& callback) {
  return SentGet(http, path).Receive(callback);
}

WideString CacheDefeatingQuery() {
  wchar_t query[32];
  swprintf(query, 32, L"?t=%lu", static_cast<unsigned long>(GetTickCount()));
  return FromWinText(query);
}

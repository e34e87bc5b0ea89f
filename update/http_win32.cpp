#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <cwchar>
#include <vector>

#include "app/win32_text.h"
#include "update/http_win32.h"

namespace {

constexpr DWORD kChunkBytes = 65536;

// The body length the response announces, when it has a well-formed
// Content-Length header.
bool AnnouncedLength(HINTERNET request, uint64_t& length) {
  wchar_t text[32];
  DWORD size = sizeof text;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
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

Http::Http(const FileHost& host) : host_(host) {
  session_.reset(WinHttpOpen(L"MorvelGlobal-Launcher/1", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session_) return;
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

bool HttpGet(Http& http, const WideString& path, const DataCallback& callback) {
  if (!http.connection_) return false;
  const ScopedInternet owned_request(WinHttpOpenRequest(http.connection_.get(), L"GET", WinText(path), nullptr,
                                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                        WINHTTP_FLAG_SECURE));
  const HINTERNET request = owned_request.get();
  if (!request) return false;
  if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request, nullptr)) {
    return false;
  }
  // A failed query leaves 0, which is no success either.
  DWORD status = 0;
  DWORD status_size = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &status, &status_size, WINHTTP_NO_HEADER_INDEX);
  if (status != 200) return false;

  std::vector<uint8_t> buffer(kChunkBytes, 0);
  uint64_t total = 0;
  bool result = false;
  for (;;) {
    DWORD received = 0;
    if (!WinHttpReadData(request, buffer.data(), kChunkBytes, &received)) break;
    if (received == 0) {
      // A connection closed before the announced length also reads as 0 bytes
      // (at least under Wine); a cut body must not pass for a whole one.
      uint64_t announced = 0;
      result = !AnnouncedLength(request, announced) || total == announced;
      break;
    }
    total += received;
    if (!callback(buffer.data(), received)) break;
  }
  return result;
}

WideString CacheDefeatingQuery() {
  wchar_t query[32];
  swprintf(query, 32, L"?t=%lu", static_cast<unsigned long>(GetTickCount()));
  return FromWinText(query);
}

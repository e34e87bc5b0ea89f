// HTTPS requests to a file host, made the way the launcher makes them (libcurl
// standing in for WinHTTP): TLS 1.2 only, HTTP/1.1, the launcher's user agent,
// no Accept or Accept-Encoding header of its own, redirects never followed, the
// body as it came (nothing decoded). One connection, kept alive between requests.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace publish {

struct HostResponse {
  bool answered = false;  // a status line came back; otherwise `error` says why
  std::string error;
  long status = 0;
  std::map<std::string, std::string> headers;  // lower-case names; repeated ones joined with ", "
  uint64_t bytes = 0;                          // body bytes received
  std::string Header(const std::string& lower_name) const;
};

class HostClient {
 public:
  // Takes every received chunk; false stops the transfer.
  using Sink = std::function<bool(const uint8_t* data, size_t length)>;

  // origin: "https://host[:port]"; ca_file: trust only the certificates in it
  // (empty: the system's trust store).
  HostClient(const std::string& origin, const std::string& ca_file);
  ~HostClient();
  HostClient(const HostClient&) = delete;
  HostClient& operator=(const HostClient&) = delete;

  // GET origin + path, with extra request headers ("Name: value").
  HostResponse Get(const std::string& path, const std::vector<std::string>& headers, const Sink& sink);
  // The same, keeping the body (at most `limit` bytes; more stops the transfer).
  HostResponse GetText(const std::string& path, const std::vector<std::string>& headers, size_t limit,
                       std::string& body);

 private:
  struct Curl;
  std::unique_ptr<Curl> curl_;
  std::string origin_, ca_file_;
};

}  // namespace publish

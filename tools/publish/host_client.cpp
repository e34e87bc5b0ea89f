#include "tools/publish/host_client.h"

#include <curl/curl.h>

#include <cctype>
#include <mutex>

#include "app/text.h"
#include "update/file_host.h"

namespace publish {

namespace {

// What one transfer's callbacks fill in.
struct Transfer {
  HostResponse* response;
  const HostClient::Sink* sink;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  HostResponse& r = *static_cast<Transfer*>(user)->response;
  std::string line(data, size * count);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  if (line.rfind("HTTP/", 0) == 0) {
    r.headers.clear();  // a new response (after a 100 Continue, say)
    return size * count;
  }
  const size_t colon = line.find(':');
  if (colon == std::string::npos) return size * count;
  std::string name = line.substr(0, colon);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t start = line.find_first_not_of(" \t", colon + 1);
  const std::string value = start == std::string::npos ? "" : line.substr(start);
  std::string& kept = r.headers[name];
  kept = kept.empty() ? value : kept + ", " + value;
  return size * count;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  Transfer& t = *static_cast<Transfer*>(user);
  t.response->bytes += size * count;
  if (size * count == 0 || (*t.sink)(reinterpret_cast<const uint8_t*>(data), size * count)) return size * count;
  return 0;  // stops the transfer
}

}  // namespace

struct HostClient::Curl {
  CURL* handle = nullptr;
  ~Curl() {
    if (handle) curl_easy_cleanup(handle);
  }
};

std::string HostResponse::Header(const std::string& lower_name) const {
  const auto it = headers.find(lower_name);
  return it == headers.end() ? std::string() : it->second;
}

HostClient::HostClient(const std::string& origin, const std::string& ca_file)
    : curl_(std::make_unique<Curl>()), origin_(origin), ca_file_(ca_file) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  curl_->handle = curl_easy_init();
}

HostClient::~HostClient() = default;

HostResponse HostClient::Get(const std::string& path, const std::vector<std::string>& headers, const Sink& sink) {
  HostResponse response;
  CURL* h = curl_->handle;
  if (!h) {
    response.error = "libcurl could not start";
    return response;
  }
  curl_easy_reset(h);  // keeps the connection; forgets the last request's options
  Transfer transfer{&response, &sink};
  const std::string url = origin_ + path;
  const std::string agent = WideToUtf8(kUserAgent);
  curl_slist* list = curl_slist_append(nullptr, "Accept:");  // WinHTTP sends none
  for (const std::string& header : headers) list = curl_slist_append(list, header.c_str());
  char reason[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2 | CURL_SSLVERSION_MAX_TLSv1_2));
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  if (!ca_file_.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, ca_file_.c_str());
  // The launcher's time-outs: 15 s to connect, 30 s for each receive.
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 15L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 30L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, reason);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  const CURLcode code = curl_easy_perform(h);
  curl_slist_free_all(list);
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
  response.answered = response.status != 0;
  if (code != CURLE_OK && code != CURLE_WRITE_ERROR) {
    response.error = reason[0] ? reason : curl_easy_strerror(code);
    if (response.answered) response.error = "the transfer broke off: " + response.error;
  }
  return response;
}

HostResponse HostClient::GetText(const std::string& path, const std::vector<std::string>& headers, size_t limit,
                                 std::string& body) {
  body.clear();
  return Get(path, headers, [&](const uint8_t* data, size_t length) {
    if (body.size() + length > limit) return false;
    body.append(reinterpret_cast<const char*>(data), length);
    return true;
  });
}

}  // namespace publish

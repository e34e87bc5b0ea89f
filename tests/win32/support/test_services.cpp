#include "tests/win32/support/test_services.h"

#include <windows.h>

#include <cstdio>
#include <cctype>
#include <cstdlib>

#include "app/win32_text.h"
#include "tests/support/split_text.h"
#include "tests/win32/support/test_disk.h"
#include "update/worker_win32.h"

namespace {

bool g_chosen = false;

bool PortFromEnv(const char16_t* name, uint16_t& port) {
  const WideString text = TestEnv(name);
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + (c - u'0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

bool UseServicePort(const char16_t* port_variable) {
  const WideString host = TestEnv(u"MORVEL_TEST_HOST");
  uint16_t port = 0;
  if (host.empty() || !PortFromEnv(port_variable, port)) return false;
  UseFileHost(host, port);
  return true;
}

namespace {

WideString FaultFile(const char16_t* name) {
  const WideString dir = TestEnv(u"MORVEL_FAULT_DIR_WIN");
  return dir.empty() ? WideString() : dir + u"\\" + name;
}

// Written beside the target and renamed over it, so the server never reads half a file.
bool ReplaceFile(const WideString& path, const std::string& bytes) {
  const WideString temp = path + u".tmp";
  if (!test_disk::WriteBytes(temp, bytes)) return false;
  return MoveFileExW(WinText(temp), WinText(path), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace

WideString TestEnv(const char16_t* name) {
  wchar_t value[1024];
  const DWORD n = GetEnvironmentVariableW(WinText(name), value, 1024);
  if (n == 0 || n >= 1024) return WideString();
  return FromWinText(value);
}

namespace {

std::string g_manifest_key;

}  // namespace

void UseFileHosts(const std::vector<FileHost>& hosts) {
  g_chosen = true;
  g_worker_settings = {hosts, 2};
  for (FileHost& host : g_worker_settings.file_hosts) host.manifest_key = g_manifest_key;
}

void UseFileHost(const WideString& host, uint16_t port) { UseFileHosts({{host, port, ""}}); }

bool ServicePort(const char16_t* port_variable, uint16_t& port) { return PortFromEnv(port_variable, port); }

const char kTestManifestKey[] = MORVEL_TEST_MANIFEST_KEY;

void UseManifestKey(const std::string& key_text) {
  g_manifest_key = key_text;
  for (FileHost& host : g_worker_settings.file_hosts) host.manifest_key = key_text;
}

const FileHost& TestFileHost() {
  if (!g_chosen && !UseNginx()) UseFileHost(u"localhost", 1);  // nothing listens on port 1
  return g_worker_settings.file_hosts.front();
}

bool UseNginx() { return UseServicePort(u"MORVEL_NGINX_PORT"); }
bool UseFaultServer() { return UseServicePort(u"MORVEL_FAULT_PORT"); }

WideString ServedRoot() { return TestEnv(u"MORVEL_WWW_WIN"); }

bool WriteServedFile(const WideString& relative_path, const std::string& bytes) {
  const WideString root = ServedRoot();
  if (root.empty()) return false;
  const WideString path = root + u"\\" + relative_path;
  for (size_t i = root.size() + 1; i < path.size(); ++i) {
    if (path[i] == u'\\') CreateDirectoryW(WinText(path.substr(0, i)), nullptr);
  }
  return ReplaceFile(path, bytes);
}

bool SetFaultRules(const std::vector<std::string>& lines) {
  const WideString path = FaultFile(u"rules.txt");
  if (path.empty()) return false;
  // A fresh generation line makes even identical rules count their uses anew.
  static unsigned generation = 0;
  char head[96];
  snprintf(head, sizeof head, "# generation %lu-%lu-%u\n", static_cast<unsigned long>(GetCurrentProcessId()),
           static_cast<unsigned long>(GetTickCount()), ++generation);
  std::string text = head;
  for (const auto& line : lines) text += line + "\n";
  return ReplaceFile(path, text);
}

bool ClearFaultRules() { return SetFaultRules({}); }

const std::string* LoggedRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (SameNameIgnoringCase(key, name)) return &value;
  }
  return nullptr;
}

std::vector<LoggedRequest> ReadRequestLog() {
  std::vector<LoggedRequest> requests;
  // A missing log reads as "<missing>", which has no line end: no requests.
  const std::string text = test_disk::ReadBytes(FaultFile(u"requests.log"));

  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // a line still being written
    const std::vector<std::string> fields = SplitText(text.substr(start, end - start), '\t');
    start = end + 1;
    if (fields.size() < 3) continue;
    LoggedRequest request{fields[0], fields[1], fields[2], {}};
    for (size_t i = 3; i < fields.size(); ++i) {
      const size_t colon = fields[i].find(": ");
      if (colon == std::string::npos) continue;
      request.headers.emplace_back(fields[i].substr(0, colon), fields[i].substr(colon + 2));
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

void ClearRequestLog() {
  for (const char16_t* name : {u"requests.log", u"bytes.log"}) {
    const WideString path = FaultFile(name);
    if (!path.empty()) DeleteFileW(WinText(path));
  }
}

uint64_t SentBodyBytes(const std::string& prefix) {
  // The server counts a piece once it has written it, which may be just after
  // the client has read it: the sum once it has stood still for 100 ms.
  uint64_t last = UINT64_MAX;
  for (int wait = 0; wait < 100; ++wait) {
    const std::string text = test_disk::ReadBytes(FaultFile(u"bytes.log"));
    uint64_t total = 0;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::vector<std::string> fields = SplitText(text.substr(start, end - start), '\t');
      if (fields.size() == 2 && fields[0].compare(0, prefix.size(), prefix) == 0) total += std::stoull(fields[1]);
    }
    if (total == last) return total;
    last = total;
    Sleep(100);
  }
  return last;
}

std::string PatternBytes(uint64_t offset, uint64_t length) {
  std::string bytes(static_cast<size_t>(length), '\0');
  for (uint64_t i = 0; i < length; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>((offset + i) % 251);
  return bytes;
}

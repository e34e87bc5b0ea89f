// The test servers started by tests/support/services.sh, as the Win32 tests see
// them: which one the Http under test connects to, the served root, and the
// fault server's rules and request log. Everything comes from the environment
// the test command exports (services.env).
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/text.h"
#include "update/file_host.h"

// The variable's value, or empty when it is not set.
WideString TestEnv(const char16_t* name);

// Chooses the file host of TestFileHost() and of the tasks started from now on,
// which also take version 2, the one the fixtures' manifests call current.
void UseFileHost(const WideString& host, uint16_t port);
// The same with mirrors: the tasks try them in this order (TestFileHost() is
// the first). Their keys are the one UseManifestKey chose.
void UseFileHosts(const std::vector<FileHost>& hosts);
// The port a services.env variable names (e.g. u"MORVEL_NGINX_PORT").
bool ServicePort(const char16_t* port_variable, uint16_t& port);
// The chosen file host, for an Http made by the test; nginx until one is chosen.
const FileHost& TestFileHost();
// false (and the choice unchanged) when the services' variables are missing.
bool UseNginx();
bool UseFaultServer();
// The test host on the port a services.env variable names, e.g.
// u"MORVEL_FAULT_TLS11_PORT" (the fault server speaking only TLS 1.0/1.1).
bool UseServicePort(const char16_t* port_variable);

// The manifest key of the test file host from now on, whichever host is
// chosen; empty, as until one is chosen, reads manifests unsigned.
void UseManifestKey(const std::string& key_text);
// The public key that tests/support/test_signing.key signs for (the .pub text).
extern const char kTestManifestKey[];

// The served root of both servers as a Z:\ path (MORVEL_WWW_WIN), or empty.
WideString ServedRoot();

// Writes (or replaces) a file below the served root; path uses backslashes.
bool WriteServedFile(const WideString& relative_path, const std::string& bytes);

// Fault server rules (format at the top of tests/support/fault_server.py),
// replaced as a whole; use counts start over with every call.
bool SetFaultRules(const std::vector<std::string>& lines);
bool ClearFaultRules();

// Clears the rules when it goes out of scope, so a failing test leaves none behind.
class ScopedFaultRules {
 public:
  explicit ScopedFaultRules(const std::vector<std::string>& lines) { ok = SetFaultRules(lines); }
  ~ScopedFaultRules() { ClearFaultRules(); }
  ScopedFaultRules(const ScopedFaultRules&) = delete;
  ScopedFaultRules& operator=(const ScopedFaultRules&) = delete;
  bool ok = false;
};

struct LoggedRequest {
  std::string tls;     // e.g. "TLSv1.2"
  std::string method;
  std::string target;  // path and query as sent
  std::vector<std::pair<std::string, std::string>> headers;

  // The first header of that name (case-insensitive), or null.
  const std::string* Header(const std::string& name) const;
};

// Every request the fault server logged since the last ClearRequestLog().
std::vector<LoggedRequest> ReadRequestLog();
// Clears the request log and the count of body bytes sent.
void ClearRequestLog();
// Body bytes the fault server sent since the last ClearRequestLog(), over the
// requests whose target starts with prefix.
uint64_t SentBodyBytes(const std::string& prefix);

// The fault server's generated bodies: byte i is i % 251.
std::string PatternBytes(uint64_t offset, uint64_t length);

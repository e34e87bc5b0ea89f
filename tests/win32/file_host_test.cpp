// The file host as the launcher meets it: nginx with server/nginx.conf over the
// test CA. A published manifest fetched and parsed, bodies passed on as opaque
// bytes, the caching headers, and the download page address.
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/scoped_win32.h"
#include "app/win32_text.h"
#include "tests/win32/support/test_disk.h"
#include "tests/win32/support/test_services.h"
#include "update/file_host.h"
#include "update/http_win32.h"
#include "update/manifest.h"
#include "update/manifest_fetch.h"

namespace {

struct RawResponse {
  DWORD status = 0;
  std::string body;
  WideString content_type, content_encoding, cache_control;
};

WideString QueryText(HINTERNET request, DWORD what) {
  wchar_t value[512];
  DWORD size = sizeof value;
  if (!WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, value, &size, WINHTTP_NO_HEADER_INDEX)) {
    return WideString();
  }
  return FromWinText(value);
}

// A request the launcher would never make (extra headers, headers read back),
// to see what the server does for browsers and caches too.
RawResponse RawGet(const WideString& path, const wchar_t* extra_headers = nullptr) {
  RawResponse r;
  const ScopedInternet session(WinHttpOpen(L"file-host-test", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
  const ScopedInternet connection(
      session ? WinHttpConnect(session.get(), WinText(TestFileHost().name), TestFileHost().port, 0) : nullptr);
  const ScopedInternet owned_request(connection ? WinHttpOpenRequest(connection.get(), L"GET", WinText(path), nullptr,
                                                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                                     WINHTTP_FLAG_SECURE)
                                                : nullptr);
  const HINTERNET request = owned_request.get();
  if (request &&
      WinHttpSendRequest(request, extra_headers ? extra_headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                         extra_headers ? static_cast<DWORD>(-1) : 0, nullptr, 0, 0, 0) &&
      WinHttpReceiveResponse(request, nullptr)) {
    DWORD size = sizeof r.status;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr, &r.status, &size,
                        nullptr);
    r.content_type = QueryText(request, WINHTTP_QUERY_CONTENT_TYPE);
    r.content_encoding = QueryText(request, WINHTTP_QUERY_CONTENT_ENCODING);
    r.cache_control = QueryText(request, WINHTTP_QUERY_CACHE_CONTROL);
    char block[65536];
    DWORD n = 0;
    while (WinHttpReadData(request, block, sizeof block, &n) && n > 0) r.body.append(block, n);
  }
  return r;
}

bool Contains(const WideString& text, const char16_t* part) { return text.find(part) != WideString::npos; }

bool GetAll(const WideString& path, std::string& body) {
  Http http(TestFileHost());
  body.clear();
  return HttpGet(http, path, [&body](const uint8_t* data, uint32_t length) {
    body.append(reinterpret_cast<const char*>(data), length);
    return true;
  });
}

// Bytes that look like a gzip stream, the kind a server might be tempted to
// decompress or wrap again.
std::string GzipLookingBytes(size_t size) {
  std::string bytes = {'\x1f', '\x8b', '\x08', '\0', '\0', '\0', '\0', '\0', '\x02', '\xff'};
  uint32_t x = 12345;
  while (bytes.size() < size) {
    x = x * 1103515245u + 12345u;
    bytes.push_back(static_cast<char>(x >> 24));
  }
  return bytes;
}

class FileHostTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(UseNginx()) << "the test services are not running (services.env)"; }
};

// With a published tree in place (the publishing fixture) its manifest is
// fetched; without one, a small manifest of this test's own stands in.
TEST_F(FileHostTest, ManifestFetchedFromNginxEqualsTheServedFile) {
  const WideString file = ServedRoot() + u"\\arquivos\\launcher\\manifest.txt";
  std::string text = test_disk::ReadBytes(file);
  const bool own = text.empty() || text == "<missing>";
  if (own) {
    const std::string sha(64, 'b');
    text = "morvel-launcher\t1\nlauncher\t2\nf\tclassic\t" + sha + "\t5\t3\t1\tMapas/\xC3\xA1rea.map\n";
    ASSERT_TRUE(WriteServedFile(u"arquivos\\launcher\\manifest.txt", text));
  }
  Manifest expected;
  ASSERT_TRUE(ParseManifest(text, expected));

  Http http(TestFileHost());
  Manifest fetched;
  ASSERT_TRUE(FetchManifest(http, fetched));
  EXPECT_EQ(fetched.launcher_version, expected.launcher_version);
  EXPECT_EQ(fetched.launcher_sha256, expected.launcher_sha256);
  EXPECT_EQ(fetched.launcher_size, expected.launcher_size);
  EXPECT_EQ(fetched.launcher_path, expected.launcher_path);
  ASSERT_EQ(fetched.files.size(), expected.files.size());
  for (size_t i = 0; i < expected.files.size(); ++i) {
    EXPECT_EQ(fetched.files[i].client, expected.files[i].client);
    EXPECT_EQ(fetched.files[i].sha256, expected.files[i].sha256);
    EXPECT_EQ(fetched.files[i].size, expected.files[i].size);
    EXPECT_EQ(fetched.files[i].download_size, expected.files[i].download_size);
    EXPECT_EQ(fetched.files[i].keep_existing, expected.files[i].keep_existing);
    EXPECT_EQ(fetched.files[i].path, expected.files[i].path);
  }

  const RawResponse raw = RawGet(u"/arquivos/launcher/manifest.txt");
  EXPECT_EQ(raw.status, 200u);
  EXPECT_TRUE(Contains(raw.cache_control, u"no-cache") && Contains(raw.cache_control, u"no-store"))
      << WideToUtf8(raw.cache_control);
  if (own) {
    EXPECT_EQ(fetched.files[0].path, u"Mapas\\\u00e1rea.map");
    DeleteFileW(WinText(file));
  }
}

TEST_F(FileHostTest, BodiesReachTheLauncherExactlyAsStored) {
  const std::string name(64, 'c');
  const std::string bytes = GzipLookingBytes(200000);
  const WideString relative = u"arquivos\\launcher\\files\\" + Utf8ToWide(name) + u".dl";
  ASSERT_TRUE(WriteServedFile(relative, bytes));
  const WideString path = u"/arquivos/launcher/files/" + Utf8ToWide(name) + u".dl";

  std::string body;
  EXPECT_TRUE(GetAll(path, body));
  EXPECT_TRUE(body == bytes) << "body of " << body.size() << " bytes differs";

  // Even a client that offers compression gets the stored bytes, unlabelled.
  const RawResponse raw = RawGet(path, L"Accept-Encoding: gzip, deflate\r\n");
  EXPECT_EQ(raw.status, 200u);
  EXPECT_EQ(raw.content_type, u"application/octet-stream");
  EXPECT_EQ(raw.content_encoding, u"");
  EXPECT_TRUE(raw.body == bytes);
  EXPECT_TRUE(Contains(raw.cache_control, u"immutable")) << WideToUtf8(raw.cache_control);
  DeleteFileW(WinText(ServedRoot() + u"\\" + relative));
}

TEST_F(FileHostTest, LauncherExecutableIsServedWhateverTheQuery) {
  const std::string exe = "MZ" + GzipLookingBytes(70000);
  const WideString relative = u"arquivos\\launcher\\MorvelGlobalLauncher-test.exe";
  ASSERT_TRUE(WriteServedFile(relative, exe));
  std::string body;
  EXPECT_TRUE(GetAll(u"/arquivos/launcher/MorvelGlobalLauncher-test.exe" + CacheDefeatingQuery(), body));
  EXPECT_TRUE(body == exe);
  const RawResponse raw = RawGet(u"/arquivos/launcher/MorvelGlobalLauncher-test.exe");
  EXPECT_EQ(raw.content_type, u"application/octet-stream");
  EXPECT_TRUE(Contains(raw.cache_control, u"no-cache")) << WideToUtf8(raw.cache_control);
  DeleteFileW(WinText(ServedRoot() + u"\\" + relative));
}

TEST_F(FileHostTest, NothingOutsideThePublishedNamesIsServed) {
  ASSERT_TRUE(WriteServedFile(u"arquivos\\launcher\\files\\notes.txt", "private"));
  ASSERT_TRUE(WriteServedFile(u"secret.txt", "private"));
  std::string body;
  for (const char16_t* path : {u"/arquivos/launcher/files/notes.txt", u"/secret.txt", u"/",
                               u"/arquivos/launcher/files/" u"CCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCC.dl",
                               u"/arquivos/launcher/nothing-here.exe"}) {
    EXPECT_FALSE(GetAll(path, body)) << WideToUtf8(path);
    EXPECT_EQ(RawGet(path).status, 404u) << WideToUtf8(path);
  }
  DeleteFileW(WinText(ServedRoot() + u"\\arquivos\\launcher\\files\\notes.txt"));
  DeleteFileW(WinText(ServedRoot() + u"\\secret.txt"));
}

TEST_F(FileHostTest, DownloadPageIsOnTheFileHostOverHttps) {
  UseFileHost(u"arquivos.example.com.br", 443);
  EXPECT_EQ(DownloadPageUrl(TestFileHost()), u"https://arquivos.example.com.br/downloads");
  UseFileHost(u"localhost", 8443);
  EXPECT_EQ(DownloadPageUrl(TestFileHost()), u"https://localhost:8443/downloads");
  UseFileHost(u"h", 1);
  EXPECT_EQ(DownloadPageUrl(TestFileHost()), u"https://h:1/downloads");
  UseFileHost(u"h", 65535);
  EXPECT_EQ(DownloadPageUrl(TestFileHost()), u"https://h:65535/downloads");

  // The placeholder location serves a page once the admin puts one there.
  ASSERT_TRUE(UseNginx());
  EXPECT_EQ(RawGet(u"/downloads").status, 404u);
  ASSERT_TRUE(WriteServedFile(u"downloads\\index.html", "<p>Baixe o launcher</p>"));
  const RawResponse page = RawGet(u"/downloads");
  EXPECT_EQ(page.status, 200u);
  EXPECT_TRUE(Contains(page.content_type, u"text/html")) << WideToUtf8(page.content_type);
  EXPECT_EQ(page.body, "<p>Baixe o launcher</p>");
  DeleteFileW(WinText(ServedRoot() + u"\\downloads\\index.html"));
  RemoveDirectoryW(WinText(ServedRoot() + u"\\downloads"));
}

}  // namespace

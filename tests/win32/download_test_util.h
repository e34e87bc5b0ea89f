// Shared by the file check and download tests: the scenario manifests of
// tests/support/fixtures/download.sh, the published source files, the disk of
// the throwaway prefix, and the fault server's record of fetched bodies.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "app/paths.h"
#include "app/win32_text.h"
#include "tests/win32/support/expect_status.h"
#include "tests/win32/support/test_disk.h"
#include "tests/win32/support/test_services.h"
#include "update/download.h"
#include "update/download_progress.h"
#include "update/file_hosts_win32.h"
#include "update/http_win32.h"
#include "update/manifest.h"

namespace download_test {

using namespace test_disk;

// Every ".part" file left below the install folder.
inline std::vector<WideString> PartFiles() {
  std::vector<WideString> found;
  Walk(InstallDir(), [&found](const WideString& path, bool is_folder) {
    if (!is_folder && path.size() > 5 && path.compare(path.size() - 5, 5, u".part") == 0) found.push_back(path);
  });
  return found;
}

// A scenario manifest as the fixture published it.
inline Manifest LoadScenario(const char16_t* name) {
  Manifest manifest;
  const WideString path = ServedRoot() + u"\\arquivos\\launcher\\manifest-download-" + name + u".txt";
  const std::string text = ReadBytes(path);
  EXPECT_TRUE(ParseManifest(text, manifest)) << WideToUtf8(path);
  return manifest;
}

// The published copy of an entry: what the installed file must equal.
inline std::string SourceBytes(const char16_t* scenario, const FileEntry& entry) {
  return ReadBytes(ServedRoot() + u"\\download-src\\" + scenario + (entry.client == ClientKind::OTClient ? u"\\otc\\" : u"\\classic\\") +
                   entry.path);
}

inline const FileEntry& EntryAt(const Manifest& manifest, const WideString& path) {
  for (const FileEntry& entry : manifest.files) {
    if (entry.path == path) return entry;
  }
  ADD_FAILURE() << "no manifest entry " << WideToUtf8(path);
  static const FileEntry none;
  return none;
}

inline std::string BodyPath(const FileEntry& entry) { return "/arquivos/launcher/files/" + entry.sha256 + ".dl"; }

// Digests of the bodies the fault server was asked for, in order.
inline std::vector<std::string> FetchedBodies() {
  std::vector<std::string> bodies;
  const std::string prefix = "/arquivos/launcher/files/";
  for (const LoggedRequest& request : ReadRequestLog()) {
    if (request.target.compare(0, prefix.size(), prefix) == 0) {
      bodies.push_back(request.target.substr(prefix.size(), 64));
    }
  }
  return bodies;
}

// The fetched bodies without those of files after a failing one: their requests
// may have gone out ahead of it (each once, at most kBodiesInFlight - 1 of them),
// but their bodies are never read.
inline std::vector<std::string> WithoutRequestsAhead(const std::vector<std::string>& bodies,
                                                     const std::vector<const FileEntry*>& later) {
  std::vector<std::string> kept;
  size_t ahead = 0;
  for (const std::string& body : bodies) {
    const bool is_later = std::any_of(later.begin(), later.end(), [&](const FileEntry* e) { return e->sha256 == body; });
    if (is_later) {
      ++ahead;
    } else {
      kept.push_back(body);
    }
  }
  EXPECT_LT(ahead, kBodiesInFlight) << "requests for files after the failing one";
  return kept;
}

// Requests under way together reach the file host in no fixed order.
inline std::vector<std::string> Sorted(std::vector<std::string> items) {
  std::sort(items.begin(), items.end());
  return items;
}

inline std::vector<std::string> Digests(const std::vector<const FileEntry*>& entries) {
  std::vector<std::string> digests;
  for (const FileEntry* entry : entries) digests.push_back(entry->sha256);
  return digests;
}

// A fresh worker state, as a task start leaves it.
inline void ResetState() {
  g_state.cancel_requested = false;
  g_state.status_is_error = false;
  g_state.file_permille = 0;
  g_state.total_permille = 0;
  SetStatus(u"", u"");
}

// Where the entry's file is installed.
inline WideString ClientFilePath(const FileEntry& entry) { return ClientDir(entry.client) + u"\\" + entry.path; }

// The full check of "Verificar arquivos" unless told otherwise.
inline bool Update(const Manifest& manifest, bool otc, bool classic, TaskKind task = TaskKind::VerifyFiles) {
  Http http(TestFileHost());
  FileHosts only(http);
  const bool selection[kClientCount] = {otc, classic};
  return UpdateClientFiles(only, manifest, selection, task, kBodiesInFlight);
}

// Every entry of the selected clients is on disk with its published content.
inline void ExpectInstalled(const char16_t* scenario, const Manifest& manifest, bool otc, bool classic) {
  for (const FileEntry& entry : manifest.files) {
    const bool selected = entry.client == ClientKind::OTClient ? otc : classic;
    if (!selected) continue;
    EXPECT_TRUE(ReadBytes(ClientFilePath(entry)) == SourceBytes(scenario, entry)) << WideToUtf8(entry.path);
  }
}

// A test against the fault server with an empty install folder and fresh
// state, its fault rules and request log cleared; any cancel ends with it.
class FaultServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ServedRoot().empty()) << "run through scripts/test: no test servers";
    EmptyFolder(InstallDir());
    ClearFaultRules();
    ClearRequestLog();
    ResetState();
    ASSERT_TRUE(UseFaultServer());
  }
  void TearDown() override {
    ClearFaultRules();
    g_state.cancel_requested = false;
  }
};

}  // namespace download_test

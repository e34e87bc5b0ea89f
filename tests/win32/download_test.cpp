// The file check and download under Wine, against nginx and the fault server
// over TLS 1.2, on the real disk of a throwaway prefix. The trees come from
// tests/support/fixtures/download.sh.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "app/file_win32.h"
#include "app/move_file_win32.h"
#include "app/scoped_win32.h"
#include "app/texts.h"
#include "tests/win32/download_test_util.h"
#include "update/download_plan.h"
#include "update/resume_state.h"

using namespace download_test;

namespace {

using Download = FaultServerTest;

// The two amounts of a download detail ("A de B"), in megabytes.
bool ParseAmounts(const WideString& detail, double& first, double& second) {
  std::string text = WideToUtf8(detail);
  for (char& c : text) {
    if (c == ',') c = '.';
  }
  return std::sscanf(text.c_str(), "%lf MB de %lf MB", &first, &second) == 2;
}

uint64_t TotalTransfer(const Manifest& manifest, bool otc, bool classic) {
  uint64_t total = 0;
  for (const FileEntry& e : manifest.files) {
    if (e.client == ClientKind::OTClient ? otc : classic) total += e.download_size;
  }
  return total;
}

TEST_F(Download, FirstInstallOfOneClientFromNginx) {
  const Manifest manifest = LoadScenario(u"install");
  ASSERT_TRUE(UseNginx());

  // Sample what the window would paint while the worker runs.
  std::atomic<bool> running{true};
  std::vector<std::pair<uint32_t, uint32_t>> bars;
  std::vector<WideString> details;
  std::thread painter([&] {
    while (running) {
      bars.emplace_back(g_state.file_permille.load(), g_state.total_permille.load());
      details.push_back(CopyStatus().detail);
      Sleep(2);
    }
  });
  const bool ok = Update(manifest, true, false);
  running = false;
  painter.join();

  EXPECT_TRUE(ok);
  ExpectInstalled(u"install", manifest, true, false);
  EXPECT_FALSE(Exists(ClientDir(ClientKind::Classic))) << "the other client is not touched";
  EXPECT_TRUE(PartFiles().empty());
  EXPECT_EQ(g_state.file_permille.load(), 1000u);
  EXPECT_EQ(g_state.total_permille.load(), 1000u);
  // The last title and amount stay for the task flow to replace.
  const uint64_t total = TotalTransfer(manifest, true, false);
  ExpectStatus(TextDownloading(u"modules\\game\\ui\\b.otui"), TransferDetail(total, total), false);

  ASSERT_FALSE(bars.empty());
  size_t amounts = 0;
  for (const auto& [file, whole] : bars) {
    EXPECT_LE(file, 1000u);
    EXPECT_LE(whole, 1000u);
  }
  for (const WideString& detail : details) {
    double first = 0, second = 0;
    if (detail.empty()) continue;
    ASSERT_TRUE(ParseAmounts(detail, first, second)) << WideToUtf8(detail);
    EXPECT_LE(first, second) << WideToUtf8(detail);
    ++amounts;
  }
  EXPECT_GT(amounts, 0u) << "the detail never showed an amount";

  // Everything in place: the next run checks every file and fetches nothing.
  ASSERT_TRUE(UseFaultServer());
  ResetState();
  EXPECT_TRUE(Update(manifest, true, false));
  EXPECT_TRUE(FetchedBodies().empty());
  ExpectStatus(TextCheckingFiles(9, 11), u"", false);
  EXPECT_EQ(g_state.file_permille.load(), 1000u);
  EXPECT_EQ(g_state.total_permille.load(), 1000u);
}

TEST_F(Download, RepairsMissingAndDifferentFilesAndLeavesKeptOnesAlone) {
  const Manifest manifest = LoadScenario(u"install");
  ASSERT_TRUE(Update(manifest, true, true));
  const FileEntry& things = EntryAt(manifest, u"data\\things\\860.dat");
  const FileEntry& module = EntryAt(manifest, u"modules\\game\\game.otmod");
  const FileEntry& sprites = EntryAt(manifest, u"Tibia.spr");
  const FileEntry& config = EntryAt(manifest, u"config.otml");

  ASSERT_TRUE(DeleteFileW(WinText(ClientFilePath(things))));
  ASSERT_TRUE(WriteBytes(ClientFilePath(module), std::string(module.size, 'x')));  // same size, other bytes
  ASSERT_TRUE(WriteBytes(ClientFilePath(sprites), "short"));
  ASSERT_TRUE(WriteBytes(ClientFilePath(config), "volume = 1\nmine\n"));  // the player's own

  ClearRequestLog();
  ResetState();
  EXPECT_TRUE(Update(manifest, true, true));
  EXPECT_EQ(Sorted(FetchedBodies()), Sorted(Digests({&things, &module, &sprites})));
  ExpectInstalled(u"install", manifest, false, true);
  EXPECT_TRUE(ReadBytes(ClientFilePath(things)) == SourceBytes(u"install", things));
  EXPECT_TRUE(ReadBytes(ClientFilePath(module)) == SourceBytes(u"install", module));
  EXPECT_EQ(ReadBytes(ClientFilePath(config)), "volume = 1\nmine\n");

  // Kept, even while something holds it open without sharing.
  ScopedFile held(CreateFileW(WinText(ClientFilePath(config)), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  ClearRequestLog();
  EXPECT_TRUE(Update(manifest, true, true));
  held.reset();
  EXPECT_TRUE(FetchedBodies().empty());
  EXPECT_EQ(ReadBytes(ClientFilePath(config)), "volume = 1\nmine\n");

  // A kept file that is missing is fetched like any other.
  ASSERT_TRUE(DeleteFileW(WinText(ClientFilePath(config))));
  ClearRequestLog();
  EXPECT_TRUE(Update(manifest, true, true));
  EXPECT_EQ(FetchedBodies(), Digests({&config}));
  EXPECT_TRUE(ReadBytes(ClientFilePath(config)) == SourceBytes(u"install", config));
}

TEST_F(Download, CancelDuringTheSecondOfFiveKeepsTheFirstAndResumesWithTheRest) {
  const Manifest manifest = LoadScenario(u"five");
  ASSERT_EQ(manifest.files.size(), 5u);
  const FileEntry& second = manifest.files[1];
  // The second body never arrives whole: the server stops after 100000 bytes and
  // holds the connection half a second, long enough to cancel while it is under way.
  ScopedFaultRules rules({BodyPath(second) + " drop 100000"});
  ASSERT_TRUE(rules.ok);

  std::atomic<bool> cancelled_under_way{false};
  std::thread player([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      if (CopyStatus().headline == TextDownloading(u"pack\\02.dat") && g_state.file_permille.load() > 0) {
        g_state.cancel_requested = true;  // the Cancel button
        cancelled_under_way = true;
        return;
      }
      Sleep(1);
    }
  });
  const bool ok = Update(manifest, true, false);
  player.join();

  ASSERT_TRUE(cancelled_under_way) << "the second file's transfer was never seen under way";
  EXPECT_FALSE(ok);
  ExpectStatus(kTextCancelledResumable, u"", false);
  EXPECT_TRUE(ReadBytes(ClientFilePath(manifest.files[0])) == SourceBytes(u"five", manifest.files[0]));
  for (size_t i = 1; i < 5; ++i) EXPECT_FALSE(Exists(ClientFilePath(manifest.files[i]))) << i;
  EXPECT_TRUE(PartFiles().empty());

  // The next run skips the first file and fetches two to five.
  ClearFaultRules();
  ClearRequestLog();
  ResetState();
  EXPECT_TRUE(Update(manifest, true, false));
  EXPECT_EQ(Sorted(FetchedBodies()),
            Sorted(Digests({&manifest.files[1], &manifest.files[2], &manifest.files[3], &manifest.files[4]})));
  ExpectInstalled(u"five", manifest, true, false);
}

TEST_F(Download, ADroppedConnectionIsTriedAgainAfterAPause) {
  const Manifest manifest = LoadScenario(u"install");
  const FileEntry& things = EntryAt(manifest, u"data\\things\\860.dat");
  ScopedFaultRules rules({BodyPath(things) + " drop 100000 rst times=1"});
  ASSERT_TRUE(rules.ok);

  const DWORD start = GetTickCount();
  EXPECT_TRUE(Update(manifest, true, false));
  EXPECT_GE(GetTickCount() - start, 1500u);
  ExpectInstalled(u"install", manifest, true, false);
  std::vector<std::string> things_requests;
  for (const std::string& body : FetchedBodies()) {
    if (body == things.sha256) things_requests.push_back(body);
  }
  EXPECT_EQ(things_requests.size(), 2u);
  EXPECT_TRUE(PartFiles().empty());
}

TEST_F(Download, ThreeFailedAttemptsStopTheUpdateAndKeepTheOldFile) {
  const Manifest manifest = LoadScenario(u"install");
  const FileEntry& things = EntryAt(manifest, u"data\\things\\860.dat");
  ScopedFaultRules rules({BodyPath(things) + " status 500"});
  ASSERT_TRUE(rules.ok);
  CreateDirectoryTree(ClientFilePath(things).substr(0, ClientFilePath(things).rfind(u'\\')));
  ASSERT_TRUE(WriteBytes(ClientFilePath(things), "an older 860.dat"));

  const DWORD start = GetTickCount();
  EXPECT_FALSE(Update(manifest, true, false));
  EXPECT_GE(GetTickCount() - start, 3000u);
  ExpectStatus(kTextDownloadFailed, kTextCheckConnection, true);

  // The files before it stay in place, the ones after it are never written
  // (those already asked for ahead of it are never read).
  std::vector<const FileEntry*> expected;
  std::vector<const FileEntry*> later;
  bool after = false;
  for (const FileEntry& entry : manifest.files) {
    if (entry.client != ClientKind::OTClient) continue;
    if (&entry == &things) {
      after = true;
      continue;
    }
    if (after) {
      EXPECT_FALSE(Exists(ClientFilePath(entry))) << WideToUtf8(entry.path);
      later.push_back(&entry);
    } else {
      EXPECT_TRUE(ReadBytes(ClientFilePath(entry)) == SourceBytes(u"install", entry)) << WideToUtf8(entry.path);
      expected.push_back(&entry);
    }
  }
  expected.insert(expected.end(), {&things, &things, &things});
  EXPECT_EQ(Sorted(WithoutRequestsAhead(FetchedBodies(), later)), Sorted(Digests(expected)));
  EXPECT_EQ(ReadBytes(ClientFilePath(things)), "an older 860.dat");
  EXPECT_TRUE(PartFiles().empty());
}

TEST_F(Download, BodiesThatAreNotTheirFileFailAfterThreeAttempts) {
  // Another digest; one byte more than the line says; zlib instead of gzip.
  for (const char16_t* scenario : {u"digest", u"toolong", u"zlib"}) {
    SCOPED_TRACE(WideToUtf8(scenario));
    EmptyFolder(InstallDir());
    ClearRequestLog();
    ResetState();
    const Manifest manifest = LoadScenario(scenario);
    ASSERT_EQ(manifest.files.size(), 3u);
    const FileEntry& good = manifest.files[0];
    const FileEntry& bad = manifest.files[1];

    EXPECT_FALSE(Update(manifest, true, false));
    ExpectStatus(kTextDownloadFailed, kTextCheckConnection, true);
    EXPECT_EQ(Sorted(WithoutRequestsAhead(FetchedBodies(), {&manifest.files[2]})),
              Sorted(Digests({&good, &bad, &bad, &bad})));
    EXPECT_TRUE(ReadBytes(ClientFilePath(good)) == SourceBytes(u"install", good));
    EXPECT_FALSE(Exists(ClientFilePath(bad)));
    EXPECT_FALSE(Exists(ClientFilePath(manifest.files[2])));
    EXPECT_TRUE(PartFiles().empty());
  }
}

TEST_F(Download, ATargetHeldOpenAsksToCloseTheClient) {
  const Manifest manifest = LoadScenario(u"install");
  ASSERT_TRUE(Update(manifest, true, false));
  const FileEntry& module = EntryAt(manifest, u"modules\\game\\game.otmod");
  ASSERT_TRUE(WriteBytes(ClientFilePath(module), "an open, changed module"));

  // A running client keeps its file open without FILE_SHARE_DELETE.
  ScopedFile held(CreateFileW(WinText(ClientFilePath(module)), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr));
  ASSERT_TRUE(held);
  ClearRequestLog();
  ResetState();
  const DWORD start = GetTickCount();
  const bool ok = Update(manifest, true, false);
  const DWORD elapsed = GetTickCount() - start;
  held.reset();

  EXPECT_FALSE(ok);
  ExpectStatus(kTextCloseOpenClient, u"modules\\game\\game.otmod", true);
  EXPECT_EQ(FetchedBodies(), Digests({&module}));  // not tried again
  EXPECT_LT(elapsed, 1500u);
  EXPECT_EQ(ReadBytes(ClientFilePath(module)), "an open, changed module");
  EXPECT_TRUE(PartFiles().empty());

  // Closed: the next run replaces it.
  ResetState();
  EXPECT_TRUE(Update(manifest, true, false));
  EXPECT_TRUE(ReadBytes(ClientFilePath(module)) == SourceBytes(u"install", module));
}

TEST_F(Download, ATargetThatIsAFolderIsNeverReplaced) {
  const Manifest manifest = LoadScenario(u"small");
  const FileEntry& font = manifest.files[0];
  ASSERT_TRUE(CreateDirectoryTree(ClientFilePath(font)));
  ASSERT_TRUE(WriteBytes(ClientFilePath(font) + u"\\inside.txt", "player data"));

  EXPECT_FALSE(Update(manifest, true, false));
  ExpectStatus(kTextCloseOpenClient, u"data\\fonts\\verdana.otfont", true);
  EXPECT_TRUE(IsFolder(ClientFilePath(font)));
  EXPECT_EQ(ReadBytes(ClientFilePath(font) + u"\\inside.txt"), "player data");
  EXPECT_TRUE(PartFiles().empty());
}

TEST_F(Download, APartFileLeftByACrashIsTruncated) {
  const Manifest manifest = LoadScenario(u"small");
  const FileEntry& font = manifest.files[0];
  CreateDirectoryTree(ClientFilePath(font).substr(0, ClientFilePath(font).rfind(u'\\')));
  ASSERT_TRUE(WriteBytes(ClientFilePath(font) + u".part", std::string(3 * font.size, '#')));

  EXPECT_TRUE(Update(manifest, true, false));
  EXPECT_TRUE(ReadBytes(ClientFilePath(font)) == SourceBytes(u"install", font));
  EXPECT_TRUE(PartFiles().empty());
}

TEST_F(Download, APartFileThatCannotBeMadeIsAWriteFailure) {
  const Manifest manifest = LoadScenario(u"small");
  const FileEntry& font = manifest.files[0];
  ASSERT_TRUE(CreateDirectoryTree(ClientFilePath(font) + u".part"));

  const DWORD start = GetTickCount();
  EXPECT_FALSE(Update(manifest, true, false));
  EXPECT_LT(GetTickCount() - start, 1500u);  // not tried again
  ExpectStatus(kTextWriteFailed, kTextCheckDiskAndAntivirus, true);
  EXPECT_TRUE(FetchedBodies().empty());
  EXPECT_FALSE(Exists(ClientFilePath(font)));
}

TEST_F(Download, APathNamedTwiceEndsWithItsLastLineAndStaysValid) {
  const Manifest manifest = LoadScenario(u"dup");
  ASSERT_EQ(manifest.files.size(), 3u);
  const Manifest install = LoadScenario(u"install");
  const FileEntry& b = EntryAt(install, u"modules\\game\\ui\\b.otui");

  EXPECT_TRUE(Update(manifest, true, false));
  // One file on disk (the file system ignores case), holding the later line's content.
  EXPECT_TRUE(ReadBytes(ClientFilePath(manifest.files[0])) == SourceBytes(u"install", b));
  EXPECT_EQ(Sorted(FetchedBodies()), Sorted(Digests({&manifest.files[1], &manifest.files[2]})));

  ClearRequestLog();
  ResetState();
  EXPECT_TRUE(Update(manifest, true, false));
  EXPECT_TRUE(FetchedBodies().empty()) << "a run after a complete update fetched again";
}

TEST_F(Download, StagingNeverOverwritesAFileNamedLikeAPartFile) {
  const Manifest manifest = LoadScenario(u"partname");
  ASSERT_EQ(manifest.files.size(), 2u);
  const FileEntry& x = manifest.files[0];
  const FileEntry& x_part = manifest.files[1];
  ASSERT_EQ(x_part.path, x.path + u".part");
  ASSERT_TRUE(Update(manifest, true, false));
  ExpectInstalled(u"partname", manifest, true, false);

  ASSERT_TRUE(WriteBytes(ClientFilePath(x), "changed"));
  ClearRequestLog();
  ResetState();
  EXPECT_TRUE(Update(manifest, true, false));
  EXPECT_EQ(FetchedBodies(), Digests({&x}));
  ExpectInstalled(u"partname", manifest, true, false);
  EXPECT_FALSE(Exists(ClientFilePath(x) + u".part.part"));
}

TEST_F(Download, NothingSelectedOrAnEarlyCancel) {
  const Manifest manifest = LoadScenario(u"install");
  SetStatus(u"before", u"untouched");
  EXPECT_TRUE(Update(manifest, false, false));
  EXPECT_EQ(g_state.file_permille.load(), 1000u);
  EXPECT_EQ(g_state.total_permille.load(), 1000u);
  ExpectStatus(u"before", u"untouched", false);
  EXPECT_FALSE(Exists(ClientDir(ClientKind::OTClient)));

  g_state.cancel_requested = true;
  EXPECT_FALSE(Update(manifest, false, false));
  ExpectStatus(kTextCancelled, u"", false);

  ResetState();
  g_state.cancel_requested = true;
  EXPECT_FALSE(Update(manifest, true, true));
  ExpectStatus(kTextCancelled, u"", false);
  EXPECT_TRUE(FetchedBodies().empty());
  EXPECT_FALSE(Exists(ClientDir(ClientKind::OTClient)));
}

TEST_F(Download, ZeroDownloadSizesShowFullFileBarsAndCountNothing) {
  const Manifest manifest = LoadScenario(u"zerosize");
  EXPECT_TRUE(Update(manifest, true, true));
  ExpectInstalled(u"install", manifest, true, true);
  EXPECT_EQ(g_state.file_permille.load(), 1000u);
  EXPECT_EQ(g_state.total_permille.load(), 1000u);
  ExpectStatus(TextDownloading(u"Tibia.spr"), TransferDetail(0, 0), false);
}

TEST_F(Download, SingleAttemptMakesAndMovesItsPartFile) {
  const Manifest manifest = LoadScenario(u"small");
  const FileEntry& font = manifest.files[0];
  Http http(TestFileHost());
  EXPECT_EQ(DownloadFile(http, font, font.download_size, 4 * font.download_size), DownloadResult::Ok);
  EXPECT_TRUE(ReadBytes(ClientFilePath(font)) == SourceBytes(u"install", font));
  // Half of the whole transfer: the bytes done before plus this body.
  EXPECT_EQ(g_state.total_permille.load(), 500u);
  EXPECT_EQ(g_state.file_permille.load(), 1000u);
  EXPECT_TRUE(PartFiles().empty());
  EXPECT_EQ(FetchedBodies(), Digests({&font}));

  g_state.cancel_requested = true;
  EXPECT_EQ(DownloadFile(http, font, 0, font.download_size), DownloadResult::Cancelled);
  g_state.cancel_requested = false;
  {
    ScopedFaultRules rules({BodyPath(font) + " status 404"});
    EXPECT_EQ(DownloadFile(http, font, 0, font.download_size), DownloadResult::NetworkError);
  }
  EXPECT_TRUE(ReadBytes(ClientFilePath(font)) == SourceBytes(u"install", font));
  EXPECT_TRUE(PartFiles().empty());
}

// --- Links and read-only files under the client folders ------------------------

// The Unix side of a prefix path (Wine's own export).
std::string UnixPath(const WideString& path) {
  using Fn = char*(CDECL*)(LPCWSTR);
  const auto to_unix = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!to_unix) return std::string();
  char* unix_path = to_unix(WinText(path));
  const std::string result = unix_path ? unix_path : "";
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

// A Linux link at `link` to `target`, made by a Unix program (Wine's
// CreateSymbolicLinkW makes nothing): symbolic, which Wine shows as a reparse
// point when it names a folder, or hard. (A symbolic link to a file looks like a
// plain file to Wine, which deletes the file it names where Windows deletes the
// link.) The link goes again when this goes out of scope; nothing follows it.
class UnixLink {
 public:
  UnixLink(const WideString& target, const WideString& link, bool symbolic) : link_(link) {
    ok = Run(std::string(symbolic ? "ln -s '" : "ln '") + UnixPath(target) + "' '" + UnixPath(link) + "'", true);
  }
  ~UnixLink() { Run("rm -f '" + UnixPath(link_) + "'", false); }
  UnixLink(const UnixLink&) = delete;
  UnixLink& operator=(const UnixLink&) = delete;
  bool ok = false;

 private:
  // Wine cannot wait for a Unix process: the link's presence is the sign.
  bool Run(const std::string& command, bool present) {
    std::wstring line = L"/bin/sh -c \"" + std::wstring(WinText(Utf8ToWide(command))) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(L"Z:\\bin\\sh", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      return false;
    }
    const ScopedHandle owned_process(process.hProcess), owned_thread(process.hThread);
    for (int i = 0; i < 250; ++i) {
      if (Exists(link_) == present) return true;
      Sleep(20);
    }
    return false;
  }
  WideString link_;
};

WideString OutsideFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const WideString folder = FromWinText(temp) + u"morvel-outside";
  RemoveTree(folder);
  CreateDirectoryTree(folder);
  return folder;
}

// A hard link as the old ".part": written through, it would overwrite the file
// elsewhere and then move it into the client folder.
TEST_F(Download, AnOldPartThatLinksElsewhereIsRemovedNeverWrittenThrough) {
  const Manifest manifest = LoadScenario(u"small");
  const FileEntry& font = manifest.files[0];
  const WideString target = ClientFilePath(font);
  CreateDirectoryTree(target.substr(0, target.rfind(u'\\')));
  const WideString secret = OutsideFolder() + u"\\secret.txt";
  ASSERT_TRUE(WriteBytes(secret, "the player's own file"));
  {
    UnixLink link(secret, target + u".part", false);
    ASSERT_TRUE(link.ok);
    EXPECT_TRUE(Update(manifest, true, false));
  }
  EXPECT_EQ(ReadBytes(secret), "the player's own file");
  EXPECT_TRUE(ReadBytes(target) == SourceBytes(u"install", font));
  EXPECT_TRUE(PartFiles().empty());
}

TEST_F(Download, AFolderLinkBelowTheClientFolderIsAWriteFailure) {
  const Manifest manifest = LoadScenario(u"small");
  const FileEntry& font = manifest.files[0];  // data\fonts\...
  const WideString outside = OutsideFolder();
  CreateDirectoryTree(ClientDir(ClientKind::OTClient));
  {
    UnixLink link(outside, ClientDir(ClientKind::OTClient) + u"\\data", true);
    ASSERT_TRUE(link.ok);
    ASSERT_NE(GetFileAttributesW(WinText(ClientDir(ClientKind::OTClient) + u"\\data")) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    EXPECT_FALSE(Update(manifest, true, false));
    ExpectStatus(kTextWriteFailed, kTextCheckDiskAndAntivirus, true);
  }
  int written = 0;
  Walk(outside, [&written](const WideString&, bool is_folder) { written += is_folder ? 0 : 1; });
  EXPECT_EQ(written, 0) << "nothing is written through the link";
  EXPECT_EQ(ReadBytes(ClientFilePath(font)), "<missing>");
}

// Closes as one on a full network drive does: the handle goes all the same,
// but what was written may not be on disk.
BOOL WINAPI CloseReportingLostWrite(HANDLE file) {
  CloseHandle(file);
  SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

// A ".part" whose close fails is a write failure however its bytes came (a
// whole body, a pack's member, a patch and then the whole body), and it never
// takes the target's place.
TEST_F(Download, AFailedCloseOfAPartIsAWriteFailure) {
  const struct {
    const char16_t* before;  // the version in place first, if any
    const char16_t* scenario;
  } cases[] = {{nullptr, u"small"}, {nullptr, u"packs1"}, {u"patch1", u"patch2"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.scenario));
    EmptyFolder(InstallDir());
    const Manifest before = c.before ? LoadScenario(c.before) : Manifest();
    if (c.before) {
      ASSERT_TRUE(Update(before, true, false));
    }
    ResetState();
    g_close_file = CloseReportingLostWrite;
    const bool updated = Update(LoadScenario(c.scenario), true, false);
    g_close_file = CloseHandle;
    EXPECT_FALSE(updated);
    ExpectStatus(kTextWriteFailed, kTextCheckDiskAndAntivirus, true);
    EXPECT_TRUE(PartFiles().empty());
    int files = 0;
    Walk(ClientDir(ClientKind::OTClient), [&files](const WideString&, bool is_folder) { files += is_folder ? 0 : 1; });
    EXPECT_EQ(files, static_cast<int>(before.files.size()));
    if (c.before) ExpectInstalled(c.before, before, true, false);
  }
}

// Windows refuses to move a file over a read-only one; Wine replaces it, as
// root or not. This move refuses as Windows does.
BOOL WINAPI MoveRefusingReadOnly(LPCWSTR from, LPCWSTR to, DWORD flags) {
  const DWORD attributes = GetFileAttributesW(to);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return MoveFileExW(from, to, flags);
}

TEST_F(Download, AReadOnlyClientFileIsReplaced) {
  const Manifest manifest = LoadScenario(u"small");
  const FileEntry& font = manifest.files[0];
  const WideString target = ClientFilePath(font);
  CreateDirectoryTree(target.substr(0, target.rfind(u'\\')));
  ASSERT_TRUE(WriteBytes(target, "an older font"));
  ASSERT_TRUE(SetFileAttributesW(WinText(target), FILE_ATTRIBUTE_READONLY));
  ASSERT_NE(GetFileAttributesW(WinText(target)) & FILE_ATTRIBUTE_READONLY, 0u);
  g_move_file = MoveRefusingReadOnly;
  const bool updated = Update(manifest, true, false);
  g_move_file = MoveFileExW;
  EXPECT_TRUE(updated);
  EXPECT_TRUE(ReadBytes(target) == SourceBytes(u"install", font));
  EXPECT_EQ(GetFileAttributesW(WinText(target)) & FILE_ATTRIBUTE_READONLY, 0u);
}

}  // namespace

namespace {

// The request paths the fault server was asked for under patches/, in order.
std::vector<std::string> FetchedPatches() {
  std::vector<std::string> paths;
  const std::string prefix = "/arquivos/launcher/patches/";
  for (const LoggedRequest& request : ReadRequestLog()) {
    if (request.target.compare(0, prefix.size(), prefix) == 0) paths.push_back(request.target);
  }
  return paths;
}

const PatchEntry& PatchOf(const Manifest& manifest, const FileEntry& entry) {
  for (const PatchEntry& patch : manifest.patches) {
    if (patch.sha256 == entry.sha256) return patch;
  }
  ADD_FAILURE() << "no patch for " << WideToUtf8(entry.path);
  static const PatchEntry none;
  return none;
}

class PatchDownload : public Download {
 protected:
  void SetUp() override {
    Download::SetUp();
    v1_ = LoadScenario(u"patch1");
    v2_ = LoadScenario(u"patch2");
    ASSERT_EQ(v2_.patches.size(), 2u);
    ASSERT_TRUE(Update(v1_, true, false));
    ClearRequestLog();
    ResetState();
  }
  // Version 2 in place, and the detail's two amounts equal at the end.
  void ExpectVersion2(uint64_t total) {
    ExpectInstalled(u"patch2", v2_, true, false);
    EXPECT_TRUE(PartFiles().empty());
    if (total != 0) ExpectStatus(TextDownloading(u"leia-me.txt"), TransferDetail(total, total), false);
    EXPECT_EQ(g_state.total_permille.load(), 1000u);
  }
  std::string PatchPath(const char16_t* path) { return WideToUtf8(PatchOf(v2_, EntryAt(v2_, path)).path); }
  WideString kept() const { return KeptPatchPath(ClientFilePath(EntryAt(v2_, u"data\\a.spr")) + u".part"); }
  // The Range header of every request for a patch ("" for none), in order.
  static std::vector<std::string> PatchRanges(const std::string& path) {
    std::vector<std::string> ranges;
    for (const LoggedRequest& request : ReadRequestLog()) {
      if (request.target != path) continue;
      const std::string* range = request.Header("Range");
      ranges.push_back(range ? *range : "");
    }
    return ranges;
  }
  // A task cancelled while a.spr's patch stalls after `after` bytes: they stay kept.
  void CancelAfter(uint64_t after) {
    ScopedFaultRules faults({PatchPath(u"data\\a.spr") + " stall 3 " + std::to_string(after)});
    ASSERT_TRUE(faults.ok);
    std::thread canceller([] {
      Sleep(1000);
      g_state.cancel_requested = true;
    });
    EXPECT_FALSE(Update(v2_, true, false));
    canceller.join();
    ASSERT_TRUE(Exists(kept()));
  }
  Manifest v1_, v2_;
};

TEST_F(PatchDownload, ChangedFilesComeAsPatchesAndOnlyThePatchesCount) {
  const FileEntry& a = EntryAt(v2_, u"data\\a.spr");
  const FileEntry& b = EntryAt(v2_, u"data\\b.dat");
  const FileEntry& readme = EntryAt(v2_, u"leia-me.txt");
  EXPECT_TRUE(Update(v2_, true, false));
  const uint64_t total = PatchOf(v2_, a).download_size + PatchOf(v2_, b).download_size + readme.download_size;
  ExpectVersion2(total);
  EXPECT_LT(total * 10, a.download_size + b.download_size) << "the patches are the small part";
  EXPECT_EQ(Sorted(FetchedPatches()), Sorted({PatchPath(u"data\\a.spr"), PatchPath(u"data\\b.dat")}));
  EXPECT_EQ(FetchedBodies(), std::vector<std::string>{readme.sha256}) << "no whole body of a patched file";
}

// Whatever goes wrong on the patch path, the file comes whole in the same task.
TEST_F(PatchDownload, AFailedPatchFallsBackToTheWholeBodySilently) {
  const FileEntry& a = EntryAt(v2_, u"data\\a.spr");
  const FileEntry& readme = EntryAt(v2_, u"leia-me.txt");
  const std::string a_patch = PatchPath(u"data\\a.spr");
  const std::string b_patch = PatchPath(u"data\\b.dat");
  const std::vector<std::string> rules[] = {
      {a_patch + " status 404"},
      {a_patch + " body 5000"},                      // not gzip
      {a_patch + " drop 300"},                       // cut short, every try
      {a_patch + " file " + b_patch},                // a sound patch for another base
      {a_patch + " status 500", b_patch + " status 500"},  // every patch refused
  };
  const long patch_requests[] = {1, 1, 3, 1, 1};  // a cut patch goes on twice before the body
  for (size_t row = 0; row < 5; ++row) {
    const std::vector<std::string>& rule = rules[row];
    SCOPED_TRACE(rule[0]);
    EmptyFolder(InstallDir());
    ASSERT_TRUE(Update(v1_, true, false));
    ClearRequestLog();
    ResetState();
    ScopedFaultRules faults(rule);
    ASSERT_TRUE(faults.ok);
    EXPECT_TRUE(Update(v2_, true, false));
    ExpectVersion2(0);
    EXPECT_FALSE(g_state.status_is_error.load());
    const std::vector<std::string> bodies = FetchedBodies();
    EXPECT_EQ(std::count(bodies.begin(), bodies.end(), a.sha256), 1) << "a.spr whole, once";
    EXPECT_EQ(std::count(bodies.begin(), bodies.end(), readme.sha256), 1);
    const std::vector<std::string> patches = FetchedPatches();
    EXPECT_EQ(std::count(patches.begin(), patches.end(), a_patch), patch_requests[row]);
    EXPECT_FALSE(Exists(KeptPatchPath(ClientFilePath(a) + u".part"))) << "nothing kept once the body came";
    double first = 0, second = 0;
    ASSERT_TRUE(ParseAmounts(CopyStatus().detail, first, second));
    EXPECT_EQ(first, second) << "done and total agree at the end";
    // Amounts have one decimal: the whole body, give or take the rounding.
    EXPECT_GE(second + 0.05, static_cast<double>(a.download_size) / 1048576) << "the whole body is counted";
  }
}

TEST_F(PatchDownload, AFileThatIsNotThePatchBaseComesWhole) {
  const FileEntry& a = EntryAt(v2_, u"data\\a.spr");
  const FileEntry& b = EntryAt(v2_, u"data\\b.dat");
  ASSERT_TRUE(WriteBytes(ClientFilePath(a), std::string(1500000, 'z')));  // the old size, other bytes
  ASSERT_TRUE(DeleteFileW(WinText(ClientFilePath(b))));
  EXPECT_TRUE(Update(v2_, true, false));
  ExpectVersion2(a.download_size + b.download_size + EntryAt(v2_, u"leia-me.txt").download_size);
  EXPECT_TRUE(FetchedPatches().empty());
}

TEST_F(PatchDownload, ACancelDuringAPatchStopsTheTaskAndTheNextGoesOn) {
  CancelAfter(100);
  ExpectStatus(kTextCancelledResumable, u"", false);
  EXPECT_TRUE(PartFiles().empty());
  const std::vector<std::string> bodies = FetchedBodies();
  EXPECT_EQ(std::count(bodies.begin(), bodies.end(), EntryAt(v2_, u"data\\a.spr").sha256), 0) << "no fall-back after a cancel";
  EXPECT_TRUE(ReadBytes(ClientFilePath(EntryAt(v1_, u"data\\a.spr"))) == SourceBytes(u"patch1", EntryAt(v1_, u"data\\a.spr")));
  ClearRequestLog();
  ResetState();
  EXPECT_TRUE(Update(v2_, true, false));
  ExpectVersion2(0);
  EXPECT_EQ(PatchRanges(PatchPath(u"data\\a.spr")), std::vector<std::string>{"bytes=100-"});
  EXPECT_EQ(SentBodyBytes(PatchPath(u"data\\a.spr")), PatchOf(v2_, EntryAt(v2_, u"data\\a.spr")).download_size - 100);
  EXPECT_FALSE(Exists(kept()));
  EXPECT_FALSE(Exists(ResumeStatePath(kept())));
}

// Each try after a cut asks for the rest of the patch; what the host answers
// to that decides how much comes again, never which file ends up in place.
TEST_F(PatchDownload, ACutPatchIsTakenUpByTheNextTry) {
  const std::string a_patch = PatchPath(u"data\\a.spr");
  const uint64_t size = PatchOf(v2_, EntryAt(v2_, u"data\\a.spr")).download_size;
  const uint64_t half = size / 2;
  const std::string cut = a_patch + " drop " + std::to_string(half) + " times=1";
  struct Case {
    std::vector<std::string> rules;
    std::vector<bool> ranged;  // each request for the patch: with a Range or not
    uint64_t more;             // bytes sent after the cut, beyond the rest of the patch
  } cases[] = {
      {{cut}, {false, true}, 0},
      {{cut, a_patch + " norange"}, {false, true}, half},  // the whole patch again
      {{cut, a_patch + " badrange 7 times=1"}, {false, true, false}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules.back());
    EmptyFolder(InstallDir());
    ASSERT_TRUE(Update(v1_, true, false));
    ClearRequestLog();
    ResetState();
    ScopedFaultRules faults(c.rules);
    ASSERT_TRUE(faults.ok);
    EXPECT_TRUE(Update(v2_, true, false));
    ExpectVersion2(0);
    const std::vector<std::string> ranges = PatchRanges(a_patch);
    ASSERT_EQ(ranges.size(), c.ranged.size());
    for (size_t i = 0; i < ranges.size(); ++i) EXPECT_EQ(!ranges[i].empty(), c.ranged[i]) << i;
    unsigned long long from = 0;
    ASSERT_EQ(std::sscanf(ranges[1].c_str(), "bytes=%llu-", &from), 1);
    EXPECT_GT(from, 0u);
    EXPECT_LE(from, half);
    if (c.ranged.size() == 2) {
      EXPECT_EQ(SentBodyBytes(a_patch), half + (size - from) + c.more);
    }
    const std::vector<std::string> bodies = FetchedBodies();
    EXPECT_EQ(std::count(bodies.begin(), bodies.end(), EntryAt(v2_, u"data\\a.spr").sha256), 0) << "no whole body";
    EXPECT_FALSE(Exists(kept()));
  }
}

// Kept bytes that do not agree with their record, or a record that is not this
// patch's, are never replayed: the patch comes from its first byte.
TEST_F(PatchDownload, InconsistentKeptBytesStartFromTheFirstByte) {
  const std::function<void()> spoil[] = {
      [this] {  // the record names another patch
        ResumeState s;
        ASSERT_TRUE(ParseResumeState(ReadBytes(ResumeStatePath(kept())), s));
        s.request_path = PatchPath(u"data\\b.dat");
        ASSERT_TRUE(WriteBytes(ResumeStatePath(kept()), FormatResumeState(s)));
      },
      [this] { ASSERT_TRUE(WriteBytes(kept(), ReadBytes(kept()).substr(0, 99))); },  // shorter than its record
      [this] {  // a changed byte
        std::string bytes = ReadBytes(kept());
        bytes[50] ^= 1;
        ASSERT_TRUE(WriteBytes(kept(), bytes));
      },
      [this] {  // a record that does not parse
        const std::string text = ReadBytes(ResumeStatePath(kept()));
        ASSERT_TRUE(WriteBytes(ResumeStatePath(kept()), text.substr(0, text.size() - 2)));
      },
  };
  int index = 0;
  for (const auto& damage : spoil) {
    SCOPED_TRACE(index++);
    EmptyFolder(InstallDir());
    ASSERT_TRUE(Update(v1_, true, false));
    ResetState();
    CancelAfter(100);
    damage();
    ClearRequestLog();
    ResetState();
    EXPECT_TRUE(Update(v2_, true, false));
    ExpectVersion2(0);
    EXPECT_EQ(PatchRanges(PatchPath(u"data\\a.spr")), std::vector<std::string>{""});
    const std::vector<std::string> bodies = FetchedBodies();
    EXPECT_EQ(std::count(bodies.begin(), bodies.end(), EntryAt(v2_, u"data\\a.spr").sha256), 0);
  }
}

TEST_F(PatchDownload, TheCheckPassDeletesKeptBytesNoPatchGoesOnWith) {
  CancelAfter(100);
  ASSERT_TRUE(Exists(kept()));
  ResetState();
  EXPECT_TRUE(Update(v1_, true, false));  // a.spr in place: no patch to go on with
  EXPECT_FALSE(Exists(kept()));
  EXPECT_FALSE(Exists(ResumeStatePath(kept())));
}

std::vector<WideString> g_moved_to;
BOOL WINAPI RecordedMoveRefusingReadOnly(LPCWSTR from, LPCWSTR to, DWORD flags) {
  g_moved_to.push_back(FromWinText(to));
  return MoveRefusingReadOnly(from, to, flags);
}

// The patch's copy is moved over a read-only file as the whole body's is: by
// the move that refuses as Windows does (Wine's own would replace it anyway).
TEST_F(PatchDownload, AReadOnlyTargetIsPatched) {
  const FileEntry& a = EntryAt(v2_, u"data\\a.spr");
  ASSERT_TRUE(SetFileAttributesW(WinText(ClientFilePath(a)), FILE_ATTRIBUTE_READONLY));
  g_moved_to.clear();
  g_move_file = RecordedMoveRefusingReadOnly;
  const bool updated = Update(v2_, true, false);
  g_move_file = MoveFileExW;
  EXPECT_TRUE(updated);
  ExpectVersion2(0);
  const std::vector<std::string> bodies = FetchedBodies();
  EXPECT_EQ(std::count(bodies.begin(), bodies.end(), a.sha256), 0) << "patched, not fetched whole";
  EXPECT_EQ(std::count(g_moved_to.begin(), g_moved_to.end(), ClientFilePath(a)), 1);
}

std::vector<std::string> FetchedPacks() {
  std::vector<std::string> paths;
  const std::string prefix = "/arquivos/launcher/packs/";
  for (const LoggedRequest& request : ReadRequestLog()) {
    if (request.target.compare(0, prefix.size(), prefix) == 0) paths.push_back(request.target);
  }
  return paths;
}

// packs1: sixteen small files in one pack, and data/big.spr alone.
class PackDownload : public Download {
 protected:
  void SetUp() override {
    Download::SetUp();
    v1_ = LoadScenario(u"packs1");
    ASSERT_EQ(v1_.packs.size(), 1u);
    ASSERT_EQ(v1_.packs[0].members.size(), 16u);
    pack_ = WideToUtf8(v1_.packs[0].path);
  }
  const FileEntry& Member(size_t m) {
    for (const FileEntry& e : v1_.files) {
      if (e.sha256 == v1_.packs[0].members[m].sha256) return e;
    }
    ADD_FAILURE() << "no file of member " << m;
    return v1_.files[0];
  }
  // Every file of packs1 in place, or, where the task ended early, absent:
  // never half-written.
  void ExpectWholeOrAbsent() {
    for (const FileEntry& e : v1_.files) {
      if (Exists(ClientFilePath(e))) {
        EXPECT_TRUE(ReadBytes(ClientFilePath(e)) == SourceBytes(u"packs1", e)) << WideToUtf8(e.path);
      }
    }
    EXPECT_TRUE(PartFiles().empty());
  }
  Manifest v1_;
  std::string pack_;
};

TEST_F(PackDownload, AFreshInstallFetchesThePackAndNoBodyOfAPackedFile) {
  EXPECT_TRUE(Update(v1_, true, false));
  ExpectInstalled(u"packs1", v1_, true, false);
  EXPECT_TRUE(PartFiles().empty());
  EXPECT_EQ(FetchedPacks(), std::vector<std::string>{pack_});
  EXPECT_EQ(FetchedBodies(), std::vector<std::string>{EntryAt(v1_, u"data\\big.spr").sha256});
  // The pack's bytes count, not its members' bodies.
  const uint64_t total = v1_.packs[0].size + EntryAt(v1_, u"data\\big.spr").download_size;
  ExpectStatus(TextDownloading(u"ui\\p16.png"), TransferDetail(total, total), false);
  EXPECT_EQ(g_state.file_permille.load(), 1000u);
  EXPECT_EQ(g_state.total_permille.load(), 1000u);
}

TEST_F(PackDownload, AnUpdateOfOneSmallFileFetchesItsBodyNotItsPack) {
  ASSERT_TRUE(Update(v1_, true, false));
  ClearRequestLog();
  ResetState();
  const Manifest v2 = LoadScenario(u"packs2");
  ASSERT_EQ(v2.packs.size(), 1u);
  EXPECT_NE(v2.packs[0].sha256, v1_.packs[0].sha256);
  EXPECT_TRUE(Update(v2, true, false));
  ExpectInstalled(u"packs2", v2, true, false);
  EXPECT_TRUE(FetchedPacks().empty());
  EXPECT_EQ(FetchedBodies(), std::vector<std::string>{EntryAt(v2, u"ui\\p07.png").sha256});
}

// Cut once, the pack comes again; cut every time, what it did not bring
// comes alone; either way every file is right and none is half-written.
TEST_F(PackDownload, ACutPackIsFetchedAgainOrItsFilesComeAlone) {
  const uint64_t cut = 500000;
  for (const int times : {1, 3}) {
    SCOPED_TRACE(times);
    EmptyFolder(InstallDir());
    ClearRequestLog();
    ResetState();
    ScopedFaultRules faults({pack_ + " drop " + std::to_string(cut) + " times=" + std::to_string(times)});
    ASSERT_TRUE(faults.ok);
    EXPECT_TRUE(Update(v1_, true, false));
    ExpectInstalled(u"packs1", v1_, true, false);
    EXPECT_TRUE(PartFiles().empty());
    EXPECT_FALSE(g_state.status_is_error.load());
    EXPECT_EQ(FetchedPacks().size(), times == 1 ? 2u : 3u);
    std::vector<std::string> alone;
    for (size_t m = 0; m < 16; ++m) {
      const PackMember& member = v1_.packs[0].members[m];
      if (times == 3 && member.offset + member.length > cut) alone.push_back(member.sha256);
    }
    alone.push_back(EntryAt(v1_, u"data\\big.spr").sha256);
    EXPECT_EQ(Sorted(FetchedBodies()), Sorted(alone)) << "the members the cut pack brought come no more";
    double first = 0, second = 0;
    ASSERT_TRUE(ParseAmounts(CopyStatus().detail, first, second));
    EXPECT_EQ(first, second) << "done and total agree at the end";
  }
}

TEST_F(PackDownload, ACorruptMemberFallsBackToItsBody) {
  ScopedFaultRules faults({pack_ + " file /download-src/corrupt.pack"});
  ASSERT_TRUE(faults.ok);
  EXPECT_TRUE(Update(v1_, true, false));
  ExpectInstalled(u"packs1", v1_, true, false);
  EXPECT_TRUE(PartFiles().empty());
  EXPECT_FALSE(g_state.status_is_error.load());
  EXPECT_EQ(FetchedPacks().size(), 1u) << "one missing member is not worth the pack again";
  EXPECT_EQ(Sorted(FetchedBodies()), Sorted({Member(1).sha256, EntryAt(v1_, u"data\\big.spr").sha256}));
}

TEST_F(PackDownload, ACancelDuringAPackLeavesNoPartialFile) {
  ScopedFaultRules faults({pack_ + " stall 3 300000 " + pack_});
  ASSERT_TRUE(faults.ok);
  std::thread canceller([] {
    Sleep(1000);
    g_state.cancel_requested = true;
  });
  EXPECT_FALSE(Update(v1_, true, false));
  canceller.join();
  ExpectStatus(kTextCancelledResumable, u"", false);
  ExpectWholeOrAbsent();
  EXPECT_TRUE(Exists(ClientFilePath(Member(0)))) << "the members before the stall stay";
  EXPECT_FALSE(Exists(ClientFilePath(Member(15))));
  EXPECT_EQ(FetchedPacks().size(), 1u) << "no fall-back after a cancel";
}

}  // namespace

// Every way through the worker's three jobs and the task hand-off, against
// nginx and the fault server serving the trees of tests/support/fixtures/tasks.sh.
// Each task is started with StartTask and ends at a hidden message-only window
// that stands in for the launcher window.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "app/paths.h"
#include "app/scoped_win32.h"
#include "app/task_handoff_win32.h"
#include "app/texts.h"
#include "app/win32_text.h"
#include "tasks_test_util.h"
#include "tests/win32/support/expect_status.h"
#include "task_runner.h"
#include "tests/win32/support/test_services.h"
#include "update/file_host.h"
#include "update/manifest.h"

namespace {

using namespace tasks_test;

WideString SourceFolder(ClientKind client) {
  return ServedRoot() + (client == ClientKind::OTClient ? u"\\tasks-src\\otc" : u"\\tasks-src\\classic");
}

class WorkerTest : public TasksTest {
 protected:
  void SetUp() override {
    TasksTest::SetUp();
    if (HasFatalFailure()) return;
    Fresh();
    window_ = MakeMainWindow();
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    if (IsWindow(window_)) DestroyWindow(window_);
    ClearFaultRules();
    RemoveTree(InstallDir());
    RemoveTree(TibiaFolder());
  }

  // No client, no faults, no answers, stale progress and texts: as before each test and each case of a table.
  static void Fresh() {
    ClearFaultRules();
    RemoveTree(InstallDir());
    RemoveTree(TibiaFolder());
    ResetPlayer(IDNO);
    g_state.busy = false;
    g_state.status_is_error = false;
    g_state.total_permille = 7;
    g_state.file_permille = 7;
    SetStatus(kTextConnecting, u"");
  }
  static void UseManifest(const char16_t* name) {
    ASSERT_TRUE(ServeTasksManifest(name));
  }
  // The file host does not answer the manifest with 200.
  static void GoOffline() {
    ASSERT_TRUE(UseFaultServer());
    ASSERT_TRUE(SetFaultRules({"* status 503"}));
  }
  // A published source tree put in place, as an earlier installation would have.
  static void Install(ClientKind client) {
    ASSERT_TRUE(CopyTree(SourceFolder(client), ClientDir(client)))
        << "no published source at " << WideToUtf8(SourceFolder(client));
  }

  static void ExpectOneFinish(const Finished& f, FinishAction action) {
    EXPECT_EQ(f.count, 1);
    EXPECT_EQ(f.action, static_cast<WPARAM>(action));
    EXPECT_EQ(f.lparam, 0);
    EXPECT_FALSE(g_state.busy);
  }
  static void ExpectNoQuestion() { EXPECT_TRUE(ThePlayer().questions.empty()); }
  static bool Launched(ClientKind client) { return WaitForFile(ClientDir(client) + u"\\launch-record.txt", 15000); }
  // Closing while the worker is held waits for it about three seconds, then the window goes.
  void ExpectCloseWaitsAboutThreeSeconds() {
    const DWORD start = GetTickCount();
    RequestClose(window_);
    const DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 2900u);
    EXPECT_LT(waited, 4500u);
    EXPECT_FALSE(IsWindow(window_));
  }

  HWND window_ = nullptr;
};

// --- Start-up ------------------------------------------------------------------

TEST_F(WorkerTest, StartUpOnlineIsReadyAndKeepsTheWindowOpen) {
  UseManifest(u"ready");
  const Finished f = RunTask(TaskKind::CheckUpdates, ClientKind::None);
  ExpectOneFinish(f, FinishKeepOpen);
  ExpectStatus(kTextReady, u"", false);
  EXPECT_EQ(g_state.total_permille, 0u) << "progress starts at 0 and start-up moves nothing";
  EXPECT_EQ(g_state.file_permille, 0u);
  EXPECT_FALSE(Exists(InstallDir())) << "start-up checks no client file";
  ExpectNoQuestion();
}

// Offline, a task that cannot go on without the file host says so in the error
// colours, and asks nothing even of a player who would answer Yes.
TEST_F(WorkerTest, OfflineATaskThatNeedsTheHostSaysSoWithoutAsking) {
  const struct {
    TaskKind kind;
    ClientKind client;
    void (*prepare)();
    const char16_t* detail;
  } cases[] = {
      {TaskKind::CheckUpdates, ClientKind::None, [] {}, kTextInstalledStillOpen},
      {TaskKind::VerifyFiles, ClientKind::None, [] { Install(ClientKind::OTClient); }, kTextCheckInternet},
      // A folder named like the executable is not an installed client.
      {TaskKind::Play, ClientKind::OTClient,
       [] { ASSERT_TRUE(CreateDirectoryTree(ClientExePath(ClientKind::OTClient))); }, kTextCheckInternet},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    Fresh();
    c.prepare();
    GoOffline();
    ResetPlayer(IDYES);
    ExpectOneFinish(RunTask(c.kind, c.client), FinishKeepOpen);
    ExpectStatus(kTextNoConnection, c.detail, true);
    ExpectNoQuestion();
  }
}

TEST_F(WorkerTest, AManifestWithoutFilesCountsAsOffline) {
  UseManifest(u"nofiles");
  ExpectOneFinish(RunTask(TaskKind::CheckUpdates, ClientKind::None), FinishKeepOpen);
  ExpectStatus(kTextNoConnection, kTextInstalledStillOpen, true);

  Install(ClientKind::OTClient);
  ExpectOneFinish(RunTask(TaskKind::Play, ClientKind::OTClient), FinishKeepOpen);
  ASSERT_EQ(ThePlayer().questions.size(), 1u) << "Play treats it as offline and asks";
}

TEST_F(WorkerTest, ANewerLauncherThatCannotBeFetchedOffersTheDownloadPage) {
  // Version 3 without a "self" line: nothing to download.
  UseManifest(u"newer-noself");
  ResetPlayer(IDNO);
  ExpectOneFinish(RunTask(TaskKind::CheckUpdates, ClientKind::None), FinishKeepOpen);
  ExpectStatus(kTextNewLauncherVersion, u"", false);
  ASSERT_EQ(ThePlayer().questions.size(), 1u);
  const Question& q = ThePlayer().questions[0];
  EXPECT_EQ(q.owner, window_);
  EXPECT_EQ(q.text, kTextAskOpenDownloadPage);
  EXPECT_EQ(q.caption, kTextLauncherName);
  EXPECT_EQ(q.type, static_cast<UINT>(MB_YESNO | MB_ICONINFORMATION));
  EXPECT_TRUE(ThePlayer().pages.empty()) << "No opens nothing";

  ResetPlayer(IDYES);
  ExpectOneFinish(RunTask(TaskKind::CheckUpdates, ClientKind::None), FinishKeepOpen);
  ASSERT_EQ(ThePlayer().pages.size(), 1u);
  EXPECT_EQ(ThePlayer().pages[0], DownloadPageUrl(TestFileHost()));
  ExpectStatus(kTextNewLauncherVersion, u"", false);
}

TEST_F(WorkerTest, AnAnnouncedLauncherOfAbsurdSizeIsNotDownloaded) {
  UseManifest(u"newer-huge");
  ASSERT_TRUE(UseFaultServer());  // same tree, but its request log shows what was fetched
  ClearRequestLog();
  ExpectOneFinish(RunTask(TaskKind::CheckUpdates, ClientKind::None), FinishKeepOpen);
  ExpectStatus(kTextNewLauncherVersion, u"", false);
  for (const LoggedRequest& r : ReadRequestLog()) {
    EXPECT_EQ(r.target.find("/arquivos/launcher/tasks/"), std::string::npos) << r.target;
  }
  wchar_t own[MAX_PATH];
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  EXPECT_FALSE(Exists(FromWinText(own) + u".novo"));
  EXPECT_EQ(ThePlayer().questions.size(), 1u);
}

// --- "Jogar" ---------------------------------------------------------------------

// Online, "Jogar" brings the chosen client's files up to date (those of an
// installed OTClient, or all of a missing classic client), opens it (the classic
// one with its maps) and closes the launcher; the other client is not checked.
TEST_F(WorkerTest, PlayOnlineOpensTheClientAndClosesTheLauncher) {
  const struct {
    ClientKind client, other;
    bool installed;
    const char16_t* label;
    const char16_t* file;  // one of its files, as published
  } cases[] = {
      {ClientKind::OTClient, ClientKind::Classic, true, u"OTClient", u"\\data\\things.dat"},
      {ClientKind::Classic, ClientKind::OTClient, false, u"Tibia 8.60", u"\\Tibia.spr"},
  };
  const WideString map = u"\\Automap\\00000001.map";
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.label));
    Fresh();
    UseManifest(u"ready");
    if (c.installed) Install(c.client);
    ExpectOneFinish(RunTask(TaskKind::Play, c.client), FinishCloseLauncher);
    ExpectStatus(TextOpening(c.label), u"", false);
    EXPECT_EQ(g_state.total_permille, 1000u);
    EXPECT_EQ(g_state.file_permille, 1000u);
    EXPECT_EQ(ReadBytes(ClientDir(c.client) + c.file), ReadBytes(SourceFolder(c.client) + c.file));
    if (c.client == ClientKind::Classic) {
      EXPECT_EQ(ReadBytes(TibiaFolder() + map), ReadBytes(SourceFolder(c.client) + map));
    } else {
      EXPECT_FALSE(Exists(TibiaFolder())) << "only the classic client gets the maps";
    }
    EXPECT_TRUE(Launched(c.client));
    EXPECT_FALSE(Exists(ClientDir(c.other))) << "only the chosen client is checked";
    ExpectNoQuestion();
  }
}

TEST_F(WorkerTest, ASecondPlayReadsNoFileItsRecordVouchesForAndVerifyReadsThemAll) {
  UseManifest(u"ready");
  ExpectOneFinish(RunTask(TaskKind::Play, ClientKind::OTClient), FinishCloseLauncher);
  ASSERT_TRUE(Launched(ClientKind::OTClient));
  ASSERT_TRUE(DeleteFileW(WinText(ClientDir(ClientKind::OTClient) + u"\\launch-record.txt")));
  // Other bytes under the same size, time and identity: read, it would be fetched again.
  const WideString things = ClientDir(ClientKind::OTClient) + u"\\data\\things.dat";
  const std::string published = ReadBytes(SourceFolder(ClientKind::OTClient) + u"\\data\\things.dat");
  ASSERT_TRUE(ForgeInPlace(things));

  ExpectOneFinish(RunTask(TaskKind::Play, ClientKind::OTClient), FinishCloseLauncher);
  ExpectStatus(TextOpening(u"OTClient"), u"", false);
  EXPECT_TRUE(Launched(ClientKind::OTClient));
  EXPECT_NE(ReadBytes(things), published);

  ExpectOneFinish(RunTask(TaskKind::VerifyFiles, ClientKind::None), FinishKeepOpen);
  ExpectStatus(kTextAllFilesCurrent, u"", false);
  EXPECT_EQ(ReadBytes(things), published);
}

TEST_F(WorkerTest, PlayWhenADownloadFailsKeepsItsTextsAndStartsNothing) {
  UseManifest(u"ready");
  Install(ClientKind::OTClient);
  Manifest published;
  ASSERT_TRUE(ParseManifest(ReadBytes(ManifestFolder() + u"\\manifest.txt"), published));
  std::string sha;
  for (const FileEntry& e : published.files) {
    if (e.client == ClientKind::OTClient && e.path == u"data\\things.dat") sha = e.sha256;
  }
  ASSERT_FALSE(sha.empty());
  ASSERT_TRUE(WriteBytes(ClientDir(ClientKind::OTClient) + u"\\data\\things.dat", "damaged"));
  ASSERT_TRUE(UseFaultServer());
  ASSERT_TRUE(SetFaultRules({"/arquivos/launcher/files/" + sha + ".dl status 500"}));

  const Finished f = RunTask(TaskKind::Play, ClientKind::OTClient);
  ExpectOneFinish(f, FinishKeepOpen);
  ExpectStatus(kTextDownloadFailed, kTextCheckConnection, true);
  EXPECT_FALSE(Exists(ClientDir(ClientKind::OTClient) + u"\\launch-record.txt"));
}

TEST_F(WorkerTest, PlayOfflineAsksAndNoLeavesTheLauncherReady) {
  Install(ClientKind::OTClient);
  GoOffline();
  ResetPlayer(IDNO);
  const Finished f = RunTask(TaskKind::Play, ClientKind::OTClient);
  ExpectOneFinish(f, FinishKeepOpen);
  ExpectStatus(kTextReady, u"", false);
  ASSERT_EQ(ThePlayer().questions.size(), 1u);
  const Question& q = ThePlayer().questions[0];
  EXPECT_EQ(q.owner, window_);
  EXPECT_EQ(q.text, kTextAskOpenClientAnyway);
  EXPECT_EQ(q.caption, kTextLauncherName);
  EXPECT_EQ(q.type, static_cast<UINT>(MB_YESNO | MB_ICONWARNING));
  Sleep(300);
  EXPECT_FALSE(Exists(ClientDir(ClientKind::OTClient) + u"\\launch-record.txt"));
}

TEST_F(WorkerTest, PlayOfflineAsksAndYesOpensTheInstalledClient) {
  Install(ClientKind::Classic);
  GoOffline();
  ResetPlayer(IDYES);
  const Finished f = RunTask(TaskKind::Play, ClientKind::Classic);
  ExpectOneFinish(f, FinishCloseLauncher);
  EXPECT_EQ(ThePlayer().questions.size(), 1u);
  EXPECT_TRUE(Launched(ClientKind::Classic));
  EXPECT_TRUE(Exists(TibiaFolder() + u"\\morvel_automap.txt")) << "the maps come first offline too";
}

TEST_F(WorkerTest, PlayOfflineYesWithABrokenClientStaysOpenWithTheLaunchTexts) {
  ASSERT_TRUE(CreateDirectoryTree(ClientDir(ClientKind::OTClient)));
  ASSERT_TRUE(WriteBytes(ClientExePath(ClientKind::OTClient), "not a program"));
  GoOffline();
  ResetPlayer(IDYES);
  ExpectOneFinish(RunTask(TaskKind::Play, ClientKind::OTClient), FinishKeepOpen);
  ExpectStatus(kTextClientNotOpened, kTextAntivirusHint, true);
}

TEST_F(WorkerTest, AQuestionIsNotAskedOnceTheWindowIsGone) {
  Install(ClientKind::OTClient);
  GoOffline();
  ResetPlayer(IDYES);
  DestroyWindow(window_);  // the player closed the launcher; main_window now names no window
  StartTask(TaskKind::Play, ClientKind::OTClient);
  ASSERT_EQ(WaitForSingleObject(g_worker_thread.get(), 30000), WAIT_OBJECT_0);
  ExpectNoQuestion();
  ExpectStatus(kTextReady, u"", false);
  Sleep(300);
  EXPECT_FALSE(Exists(ClientDir(ClientKind::OTClient) + u"\\launch-record.txt"))
      << "nothing starts behind a closed launcher";
  g_state.busy = false;
}

// --- "Verificar arquivos" --------------------------------------------------------

TEST_F(WorkerTest, VerifyWithNothingInstalledFetchesNoClientFile) {
  UseManifest(u"ready");
  ASSERT_TRUE(UseFaultServer());
  ClearRequestLog();
  ExpectOneFinish(RunTask(TaskKind::VerifyFiles, ClientKind::None), FinishKeepOpen);
  ExpectStatus(kTextNoClientInstalled, u"", false);
  const std::vector<LoggedRequest> requests = ReadRequestLog();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target.rfind("/arquivos/launcher/manifest.txt?t=", 0), 0u) << requests[0].target;
  EXPECT_FALSE(Exists(ClientDir(ClientKind::OTClient)) || Exists(ClientDir(ClientKind::Classic)));
}

TEST_F(WorkerTest, VerifyWithEverythingValid) {
  UseManifest(u"ready");
  Install(ClientKind::OTClient);
  Install(ClientKind::Classic);
  ExpectOneFinish(RunTask(TaskKind::VerifyFiles, ClientKind::None), FinishKeepOpen);
  ExpectStatus(kTextAllFilesCurrent, u"", false);
  EXPECT_EQ(g_state.total_permille, 1000u);
  EXPECT_EQ(g_state.file_permille, 1000u);
  EXPECT_FALSE(Exists(ClientDir(ClientKind::OTClient) + u"\\launch-record.txt")) << "verifying starts no client";
}

TEST_F(WorkerTest, VerifyRepairsTheInstalledClientAndInstallsNoOther) {
  UseManifest(u"ready");
  Install(ClientKind::OTClient);
  ASSERT_TRUE(WriteBytes(ClientDir(ClientKind::OTClient) + u"\\data\\things.dat", "damaged"));
  DeleteFileW(WinText(ClientDir(ClientKind::OTClient) + u"\\modules\\game.otmod"));
  // The buttons may show a stale state; the job reads its own.
  g_state.installed[0] = false;
  g_state.installed[1] = true;
  ExpectOneFinish(RunTask(TaskKind::VerifyFiles, ClientKind::None), FinishKeepOpen);
  ExpectStatus(kTextAllFilesCurrent, u"", false);
  EXPECT_EQ(ReadBytes(ClientDir(ClientKind::OTClient) + u"\\data\\things.dat"),
            ReadBytes(SourceFolder(ClientKind::OTClient) + u"\\data\\things.dat"));
  EXPECT_EQ(ReadBytes(ClientDir(ClientKind::OTClient) + u"\\modules\\game.otmod"),
            ReadBytes(SourceFolder(ClientKind::OTClient) + u"\\modules\\game.otmod"));
  EXPECT_FALSE(Exists(ClientDir(ClientKind::Classic)));
  EXPECT_TRUE(g_state.installed[0]);
  EXPECT_FALSE(g_state.installed[1]);
}

// --- Hand-off ----------------------------------------------------------------------

TEST_F(WorkerTest, ASecondStartWhileBusyStartsNothing) {
  Install(ClientKind::OTClient);
  GoOffline();
  ResetPlayer(IDNO);
  ThePlayer().hold.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ThePlayer().asked.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  TheFinished() = Finished();

  g_state.cancel_requested = true;
  g_state.status_is_error = true;
  StartTask(TaskKind::Play, ClientKind::OTClient);
  EXPECT_FALSE(g_state.cancel_requested) << "a new task starts without the old cancel";
  const HANDLE first = g_worker_thread.get();
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(WaitForSingleObject(ThePlayer().asked.get(), 30000), WAIT_OBJECT_0);
  EXPECT_TRUE(g_state.busy);

  StartTask(TaskKind::VerifyFiles, ClientKind::None);
  StartTask(TaskKind::Play, ClientKind::Classic);
  EXPECT_EQ(g_worker_thread.get(), first) << "no second worker";
  SetEvent(ThePlayer().hold.get());
  const Finished f = AwaitFinish();
  ExpectOneFinish(f, FinishKeepOpen);
  EXPECT_EQ(ThePlayer().questions.size(), 1u);
  ExpectStatus(kTextReady, u"", false);

  // The next start closes the finished thread's handle and starts anew.
  ThePlayer().hold.reset();
  ExpectOneFinish(RunTask(TaskKind::Play, ClientKind::OTClient), FinishKeepOpen);
  EXPECT_TRUE(g_worker_thread);
  EXPECT_EQ(ThePlayer().questions.size(), 2u);
}

TEST_F(WorkerTest, CloseWhileAQuestionBlocksTheWorkerWaitsAboutThreeSeconds) {
  Install(ClientKind::OTClient);
  GoOffline();
  ThePlayer().hold.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ThePlayer().asked.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  TheFinished() = Finished();
  StartTask(TaskKind::Play, ClientKind::OTClient);
  ASSERT_EQ(WaitForSingleObject(ThePlayer().asked.get(), 30000), WAIT_OBJECT_0);

  ExpectCloseWaitsAboutThreeSeconds();
  EXPECT_TRUE(g_state.cancel_requested);

  // Let the worker end; its message goes nowhere.
  SetEvent(ThePlayer().hold.get());
  EXPECT_EQ(WaitForSingleObject(g_worker_thread.get(), 30000), WAIT_OBJECT_0);
  Pump(100);
  EXPECT_EQ(TheFinished().count, 0);
  g_state.busy = false;
}

TEST_F(WorkerTest, CloseWhileTheServerStallsWaitsAboutThreeSeconds) {
  ASSERT_TRUE(UseFaultServer());
  ASSERT_TRUE(SetFaultRules({"/arquivos/launcher/manifest.txt stall 6"}));
  TheFinished() = Finished();
  StartTask(TaskKind::VerifyFiles, ClientKind::None);
  Sleep(300);
  ExpectCloseWaitsAboutThreeSeconds();
  // The worker runs into the stall's end and finishes on its own.
  EXPECT_EQ(WaitForSingleObject(g_worker_thread.get(), 60000), WAIT_OBJECT_0);
  g_state.busy = false;
}

DWORD WINAPI Stuck(LPVOID event) {
  WaitForSingleObject(static_cast<HANDLE>(event), 60000);
  return 0;
}

TEST_F(WorkerTest, CloseWhileIdleDoesNotWait) {
  // A previous worker still in its last clean-up: its handle is kept, busy is clear.
  const ScopedHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const HANDLE thread = CreateThread(nullptr, 0, Stuck, release.get(), 0, nullptr);
  ASSERT_NE(thread, nullptr);
  g_worker_thread.reset(thread);
  g_state.busy = false;
  const DWORD start = GetTickCount();
  RequestClose(window_);
  EXPECT_LT(GetTickCount() - start, 1000u);
  EXPECT_FALSE(IsWindow(window_));
  SetEvent(release.get());
  WaitForSingleObject(thread, 10000);
}

TEST_F(WorkerTest, AThreadThatCannotBeCreatedReportsItAndFreesTheButtons) {
  UseManifest(u"ready");
  TheFinished() = Finished();
  g_worker_thread.reset();
  const StartThreadFn usual = g_task_hooks.start_thread;
  g_task_hooks.start_thread = [](LPTHREAD_START_ROUTINE, void*) -> HANDLE {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  };
  StartTask(TaskKind::CheckUpdates, ClientKind::None);
  g_task_hooks.start_thread = usual;
  EXPECT_FALSE(g_worker_thread);
  EXPECT_FALSE(g_state.busy);
  ExpectStatus(kTextTaskNotStarted, u"", true);
  Pump(300);
  EXPECT_EQ(TheFinished().count, 0) << "no task, no end message";

  // The buttons work again.
  ExpectOneFinish(RunTask(TaskKind::CheckUpdates, ClientKind::None), FinishKeepOpen);
  ExpectStatus(kTextReady, u"", false);
}

}  // namespace

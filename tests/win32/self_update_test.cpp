// The launcher's self-update replaces the running executable, so each scenario
// runs in a copy of this program in a scratch folder: the copy, started with
// "--as-launcher SCENARIO", plays the launcher (its own path is the one that gets
// replaced), runs the start-up task against nginx and writes what it saw to
// result.txt beside itself. The tests here check the files and that result.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "app/file_win32.h"
#include "app/launcher_state.h"
#include "app/scoped_win32.h"
#include "app/texts.h"
#include "app/win32_text.h"
#include "tasks_test_util.h"
#include "task_runner.h"
#include "tests/win32/support/test_services.h"
#include "update/file_host.h"
#include "update/manifest.h"
#include "update/self_update_win32.h"
#include "update/sha256.h"

namespace {

using namespace tasks_test;

WideString PublishedLauncher() { return ManifestFolder() + u"\\tasks\\launcher-v3.exe"; }

WideString OwnPath() {
  wchar_t own[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH);
  return FromWinText(own).substr(0, n);
}

// --- The copy that plays the launcher ---------------------------------------------

int novo_moves_to_fail = 0;
bool flush_fails = false;
bool close_after_flush_fails = false;  // the .novo's close, which comes right after its flush
bool next_close_fails = false;
std::string calls;  // the flushes (with the file's size), renames and failed closes, in order

BOOL WINAPI RecordFlush(HANDLE file) {
  LARGE_INTEGER size = {};
  GetFileSizeEx(file, &size);
  calls += "flush " + std::to_string(size.QuadPart) + ";";
  next_close_fails = close_after_flush_fails;
  if (flush_fails) {
    SetLastError(ERROR_IO_DEVICE);
    return FALSE;
  }
  return FlushFileBuffers(file);
}

// A close that fails as one on a full network drive does, the handle closed
// all the same.
BOOL WINAPI CloseFailingAfterFlush(HANDLE file) {
  CloseHandle(file);
  if (!next_close_fails) return TRUE;
  next_close_fails = false;
  calls += "close fails;";
  SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

BOOL WINAPI MoveFailingIntoPlace(LPCWSTR from, LPCWSTR to, DWORD flags) {
  const size_t n = std::wcslen(from);
  calls += "move;";
  if (novo_moves_to_fail > 0 && n > 5 && std::wcscmp(from + n - 5, L".novo") == 0) {
    --novo_moves_to_fail;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return MoveFileExW(from, to, flags);
}

int RunAsLauncher(const std::string& scenario) {
  if (!UseNginx()) return 3;
  if (scenario == "mirror") {
    // The fault server first, nginx as its mirror, and a key as in a release.
    uint16_t fault = 0, nginx = 0;
    if (!ServicePort(u"MORVEL_FAULT_PORT", fault) || !ServicePort(u"MORVEL_NGINX_PORT", nginx)) return 3;
    const WideString host = TestEnv(u"MORVEL_TEST_HOST");
    UseManifestKey(kTestManifestKey);
    UseFileHosts({{host, fault, ""}, {host, nginx, ""}});
  }
  ResetPlayer(scenario == "longer" ? IDYES : IDNO);
  novo_moves_to_fail = scenario == "second-move-fails" ? 1 : 0;
  flush_fails = scenario == "flush-fails";
  close_after_flush_fails = scenario == "close-fails";
  g_close_file = CloseFailingAfterFlush;
  g_move_file = MoveFailingIntoPlace;
  g_flush_file = RecordFlush;
  const HWND window = MakeMainWindow();
  if (!window) return 4;
  const Finished f = RunTask(TaskKind::CheckUpdates, ClientKind::None);
  const StatusTexts texts = CopyStatus();

  const WideString own = OwnPath();
  FILE* out = _wfopen(WinText(own.substr(0, own.rfind(u'\\')) + u"\\result.txt"), L"wb");
  if (!out) return 5;
  std::fprintf(out, "messages=%d\naction=%u\nheadline=%s\ndetail=%s\nerror=%d\ntotal=%u\nquestions=%u\n", f.count,
               static_cast<unsigned>(f.action), WideToUtf8(texts.headline).c_str(), WideToUtf8(texts.detail).c_str(),
               g_state.status_is_error ? 1 : 0, g_state.total_permille.load(),
               static_cast<unsigned>(ThePlayer().questions.size()));
  if (!ThePlayer().questions.empty()) {
    std::fprintf(out, "question=%s\ntype=%u\n", WideToUtf8(ThePlayer().questions[0].text).c_str(),
                 ThePlayer().questions[0].type);
  }
  std::fprintf(out, "calls=%s\n", calls.c_str());
  std::fprintf(out, "pages=%u\n", static_cast<unsigned>(ThePlayer().pages.size()));
  if (!ThePlayer().pages.empty()) std::fprintf(out, "page=%s\n", WideToUtf8(ThePlayer().pages[0]).c_str());
  std::fclose(out);
  return 0;
}

// --- The tests ----------------------------------------------------------------------

// The copy's result.txt, field by field; a field it did not write reads as "".
using Fields = std::map<std::string, std::string>;

void ExpectFields(Fields& result, const Fields& expected) {
  for (const auto& [field, value] : expected) EXPECT_EQ(result[field], value) << field;
}

class SelfUpdateTest : public TasksTest {
 protected:
  void SetUp() override {
    TasksTest::SetUp();
    if (HasFatalFailure()) return;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = FromWinText(temp) + u"morvel-self-update";
    RemoveTree(folder_);
    ASSERT_TRUE(CreateDirectoryW(WinText(folder_), nullptr));
    launcher_ = folder_ + u"\\Morvel Global Launcher.exe";
    ASSERT_TRUE(CopyFileW(WinText(OwnPath()), WinText(launcher_), FALSE));
    original_ = ReadBytes(launcher_);
    published_ = ReadBytes(PublishedLauncher());
    ASSERT_NE(published_, "<missing>");
  }
  void TearDown() override { RemoveTree(folder_); }

  // Serves the scenario's manifest, runs the copy and reads its result.
  Fields Run(const char16_t* manifest, const char* scenario) {
    Fields result;
    EXPECT_TRUE(ServeTasksManifest(manifest));
    std::wstring line = L"\"" + std::wstring(WinText(launcher_)) + L"\" --as-launcher ";
    line += std::wstring(scenario, scenario + std::strlen(scenario));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(WinText(launcher_), &line[0], nullptr, nullptr, FALSE, 0, nullptr, WinText(folder_),
                        &startup, &process)) {
      ADD_FAILURE() << "the copy did not start";
      return result;
    }
    const ScopedHandle child(process.hProcess);
    const ScopedHandle child_thread(process.hThread);
    EXPECT_EQ(WaitForSingleObject(child.get(), 120000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(child.get(), &code);
    EXPECT_EQ(code, 0u);

    const std::string text = ReadBytes(folder_ + u"\\result.txt");
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      const std::string row = text.substr(at, end - at);
      const size_t eq = row.find('=');
      if (eq != std::string::npos) result[row.substr(0, eq)] = row.substr(eq + 1);
      at = end + 1;
    }
    EXPECT_EQ(result["messages"], "1") << "exactly one end message";
    return result;
  }

  void ExpectUntouched() {
    EXPECT_EQ(ReadBytes(launcher_), original_);
    EXPECT_FALSE(Exists(launcher_ + u".novo"));
    EXPECT_FALSE(Exists(launcher_ + u".old"));
  }

  WideString folder_, launcher_;
  std::string original_, published_;
};

TEST_F(SelfUpdateTest, ANewerLauncherReplacesTheRunningOneAndAsksForARestart) {
  // Leftovers of earlier attempts: a longer ".novo" and an old ".old".
  ASSERT_TRUE(WriteBytes(launcher_ + u".novo", published_ + std::string(4096, 'x')));
  ASSERT_TRUE(WriteBytes(launcher_ + u".old", "previous"));

  auto r = Run(u"update", "update");
  ExpectFields(r, {{"action", "2"}, {"headline", WideToUtf8(kTextLauncherUpdated)}, {"detail", ""}, {"error", "0"},
                   {"total", "1000"}, {"questions", "0"}});
  EXPECT_EQ(r["calls"], "flush " + std::to_string(published_.size()) + ";move;move;")
      << "the whole verified file reaches the disk before the swap";

  EXPECT_EQ(ReadBytes(launcher_), published_) << "the own path holds the new bytes, exactly";
  EXPECT_EQ(ReadBytes(launcher_ + u".old"), original_) << "\".old\" holds the previous executable";
  EXPECT_FALSE(Exists(launcher_ + u".novo"));
}

// A body longer than announced, answered Yes; a wrong digest, answered No: the
// unverified file is neither flushed nor swapped in, and the page is offered.
TEST_F(SelfUpdateTest, ARefusedExeLeavesTheRunningFileUntouchedAndOffersTheDownloadPage) {
  const struct {
    const char* scenario;  // also the manifest's name
    Fields expected;
  } cases[] = {
      {"longer", {{"pages", "1"}, {"page", WideToUtf8(DownloadPageUrl(TestFileHost()))}}},
      {"digest", {{"pages", "0"}, {"calls", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    auto r = Run(Utf8ToWide(c.scenario).c_str(), c.scenario);
    ExpectFields(r, {{"action", "0"}, {"headline", WideToUtf8(kTextNewLauncherVersion)}, {"error", "0"},
                     {"questions", "1"}, {"question", WideToUtf8(kTextAskOpenDownloadPage)},
                     {"type", std::to_string(MB_YESNO | MB_ICONINFORMATION)}});
    ExpectFields(r, c.expected);
    ExpectUntouched();
  }
}

TEST_F(SelfUpdateTest, AFailedSwapFlushOrCloseLeavesTheRunningFileInPlace) {
  const struct {
    const char* scenario;
    std::string calls;
  } cases[] = {
      {"second-move-fails", "flush " + std::to_string(published_.size()) + ";move;move;move;"},
      {"flush-fails", "flush " + std::to_string(published_.size()) + ";"},
      {"close-fails", "flush " + std::to_string(published_.size()) + ";close fails;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    auto r = Run(u"update", c.scenario);
    ExpectFields(r, {{"action", "0"}, {"headline", WideToUtf8(kTextNewLauncherVersion)}, {"calls", c.calls}});
    ExpectUntouched();
  }
}

// The first host serves an exe of the announced size with other bytes: it is
// refused by the signed manifest's digest, and the mirror's is the one taken.
TEST_F(SelfUpdateTest, TheExeIsCheckedAgainstTheSignedManifestWhicheverHostServesIt) {
  Manifest update;
  ASSERT_TRUE(ParseManifest(ReadBytes(ManifestFolder() + u"\\manifest-tasks-update.txt"), update));
  const std::string exe = WideToUtf8(update.launcher_path);
  const ScopedFaultRules rules({exe + " body " + std::to_string(update.launcher_size)});
  ASSERT_TRUE(rules.ok);
  ClearRequestLog();
  auto r = Run(u"update", "mirror");
  ExpectFields(r, {{"action", "2"}, {"headline", WideToUtf8(kTextLauncherUpdated)}});
  EXPECT_EQ(ReadBytes(launcher_), published_) << "the mirror's exe, exactly";
  size_t asked = 0;
  for (const LoggedRequest& request : ReadRequestLog()) asked += request.target.rfind(exe + "?t=", 0) == 0;
  EXPECT_EQ(asked, 1u) << "the first host's wrong exe was fetched once, then the mirror's";
}

// A publishing slip: the version raised, but the "self" exe is the one already
// running. Fetching and restarting into it would repeat at every start.
TEST_F(SelfUpdateTest, AnAnnouncedExeThatIsTheRunningOneLeavesNothingToUpdate) {
  Sha256 digest;
  digest.Update(original_.data(), static_cast<uint32_t>(original_.size()));
  ASSERT_TRUE(WriteBytes(ManifestFolder() + u"\\tasks\\same.exe", original_));
  const std::string text = "morvel-launcher\t1\nlauncher\t3\nself\t" + digest.FinishHex() + "\t" +
                           std::to_string(original_.size()) + "\t/arquivos/launcher/tasks/same.exe\nf\totc\t" +
                           std::string(64, 'a') + "\t1\t1\t0\tx.dat\n";
  ASSERT_TRUE(WriteBytes(ManifestFolder() + u"\\manifest-tasks-same.txt", text));
  auto r = Run(u"same", "same");
  ExpectFields(r, {{"action", "0"}, {"headline", WideToUtf8(kTextReady)}, {"error", "0"}, {"questions", "0"}});
  EXPECT_EQ(r["calls"], "") << "nothing downloaded, flushed or swapped";
  ExpectUntouched();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--as-launcher") == 0) return RunAsLauncher(argv[2]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// The entry's last step, in copies of this program started with "--as-entry
// WORKER CODE MARKER": WORKER is "running" (a worker that keeps writing the
// status, as one that outlived the close's wait) or "ended". A static object's
// destructor writes MARKER, so the marker shows whether static destructors ran.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/launcher_state.h"
#include "app/task_handoff_win32.h"
#include "app/win32_text.h"
#include "tests/win32/support/test_disk.h"

namespace {

const char* g_marker = nullptr;

struct DestructionMarker {
  ~DestructionMarker() {
    if (g_marker) test_disk::WriteBytes(Utf8ToWide(g_marker), "destroyed");
  }
} g_destruction_marker;

DWORD WINAPI KeepWritingStatus(LPVOID) {
  for (unsigned i = 0;; ++i) SetStatus(u"Baixando arquivos...", WideString(i % 200, u'x'));
}

DWORD WINAPI EndAtOnce(LPVOID) { return 0; }

int RunAsEntry(bool keeps_running, int code, const char* marker) {
  g_marker = marker;
  g_state.busy = keeps_running;
  const HANDLE worker = CreateThread(nullptr, 0, keeps_running ? KeepWritingStatus : EndAtOnce, nullptr, 0, nullptr);
  if (!worker) return 90;
  g_worker_thread.reset(worker);
  Sleep(keeps_running ? 100 : 0);
  if (!keeps_running) WaitForSingleObject(g_worker_thread.get(), 5000);
  return FinishProcess(code);
}

TEST(FinishProcess, ALiveWorkerNeverSeesStaticStateTornDown) {
  wchar_t own[MAX_PATH], temp[MAX_PATH];
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  GetTempPathW(MAX_PATH, temp);
  const struct {
    const wchar_t* worker;
    int code;
    bool destroyed;  // static destructors ran
  } cases[] = {{L"running", 0, false}, {L"running", 1, false}, {L"ended", 0, true}, {L"ended", 1, true}};
  for (const auto& c : cases) {
    // Repeated: a use after free need not show at once.
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE(WideToUtf8(FromWinText(c.worker)) + " " + std::to_string(c.code));
      const std::wstring marker = std::wstring(temp) + L"finish-marker.txt";
      DeleteFileW(marker.c_str());
      std::wstring line = L"\"" + std::wstring(own) + L"\" --as-entry " + c.worker + L" " + std::to_wstring(c.code) +
                          L" \"" + marker + L"\"";
      STARTUPINFOW startup = {};
      startup.cb = sizeof startup;
      PROCESS_INFORMATION process = {};
      ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
      DWORD exit_code = 999;
      EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
      GetExitCodeProcess(process.hProcess, &exit_code);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
      EXPECT_EQ(exit_code, static_cast<DWORD>(c.code));
      EXPECT_EQ(test_disk::Exists(FromWinText(marker.c_str())), c.destroyed);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::strcmp(argv[1], "--as-entry") == 0) {
    return RunAsEntry(std::strcmp(argv[2], "running") == 0, std::atoi(argv[3]), argv[4]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

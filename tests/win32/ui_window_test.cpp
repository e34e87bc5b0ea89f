// The real window under Wine on the private display, driven by real mouse
// events from xdotool. A stand-in worker plays the task: it waits for a cancel
// or stays stuck. Started again with "--atualizado", the program records its
// command line and ends: that is the launcher restarting itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "app/paths.h"
#include "app/task_handoff_win32.h"
#include "app/texts.h"
#include "app/win32_text.h"
#include "ui/assets_win32.h"
#include "ui/input.h"
#include "ui/layout.h"
#include "ui/main_window_win32.h"
#include "ui/paint_win32.h"
#include "tests/win32/ui_window_util.h"

namespace {

enum class WorkerMode { UntilCancelled, Stuck };
std::atomic<WorkerMode> g_mode{WorkerMode::UntilCancelled};
// A cancelled stand-in ends only once the test has read the window's own text.
std::atomic<bool> g_workerMayEnd{false};
std::mutex g_tasksLock;
std::vector<WorkerTask> g_tasks;

std::vector<WorkerTask> Tasks() {
  std::lock_guard<std::mutex> hold(g_tasksLock);
  return g_tasks;
}

// When the last left-button release was taken off the queue and when
// DestroyWindow began (its hiding step): the close's own time, without the
// shell's start-up or Wine's wait for a window manager that Xvfb lacks.
DWORD g_releaseTick = 0, g_destroyTick = 0;
LRESULT CALLBACK OnGetMessage(int code, WPARAM removed, LPARAM lParam) {
  const MSG* msg = reinterpret_cast<const MSG*>(lParam);
  if (code >= 0 && removed == PM_REMOVE && msg->message == WM_LBUTTONUP) g_releaseTick = GetTickCount();
  return CallNextHookEx(nullptr, code, removed, lParam);
}
LRESULT CALLBACK OnCallWindow(int code, WPARAM sent, LPARAM lParam) {
  const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code >= 0 && call->message == WM_WINDOWPOSCHANGING && !g_destroyTick &&
      (reinterpret_cast<const WINDOWPOS*>(call->lParam)->flags & SWP_HIDEWINDOW)) {
    g_destroyTick = GetTickCount();
  }
  return CallNextHookEx(nullptr, code, sent, lParam);
}

class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    g_mode = WorkerMode::UntilCancelled;
    g_workerMayEnd = true;
    { std::lock_guard<std::mutex> hold(g_tasksLock); g_tasks.clear(); }
    g_widgets = WidgetState{};
    g_releaseTick = g_destroyTick = 0;
    g_state.busy = false;
    g_state.cancel_requested = false;
    SetStatus(kTextConnecting, u"", false);
    window_ = CreateMainWindow(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
    ASSERT_TRUE(window_);
    Pump(200);
    RECT r;
    GetWindowRect(window_, &r);
    left_ = r.left;
    top_ = r.top;
  }
  void TearDown() override {
    g_workerMayEnd = true;
    if (IsWindow(window_)) DestroyWindow(window_);
    Pump(100);
    if (g_worker_thread) WaitForSingleObject(g_worker_thread.get(), 10000);
    Pump(100);
  }
  // Screen coordinates of a client point, for xdotool.
  std::string At(int x, int y) const {
    return std::to_string(left_ + x) + " " + std::to_string(top_ + y);
  }
  std::string AtButton(int b) const {
    const ButtonRect& r = ButtonRects[b];
    return At((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  }
  // From off the window, so the window sees the pointer arrive.
  void Click(int b) { Shell("xdotool mousemove 5 5 sleep 0.1 mousemove " + AtButton(b) + " sleep 0.1 click 1"); }
  DWORD CloseTime() const { return g_destroyTick - g_releaseTick; }
  HWND window_ = nullptr;
  int left_ = 0, top_ = 0;
};

TEST_F(Window, OpensCentredWithItsClassAndPaints) {
  RECT r;
  GetWindowRect(window_, &r);
  EXPECT_EQ(r.right - r.left, 688);
  EXPECT_EQ(r.bottom - r.top, 506);
  EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 688) / 2);
  EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - 506) / 2);
  EXPECT_EQ(g_state.main_window, window_);
  wchar_t name[64];
  GetClassNameW(window_, name, 64);
  EXPECT_STREQ(name, L"MorvelGlobalLauncherWnd");
  EXPECT_EQ(GetClassLongW(window_, GCL_STYLE), static_cast<DWORD>(CS_DROPSHADOW));
  EXPECT_EQ(GetClassLongPtrW(window_, GCLP_HICON), GetClassLongPtrW(window_, GCLP_HICONSM));
  EXPECT_NE(GetClassLongPtrW(window_, GCLP_HICON), 0);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window_, GWL_STYLE)) & ~(WS_VISIBLE | WS_CLIPSIBLINGS),
            static_cast<DWORD>(WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX));
  // The screen shows the painted scene: the box outline at the close box.
  HDC screen = GetDC(nullptr);
  const COLORREF outline = GetPixel(screen, r.left + 642, r.top + 40);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(outline, RGB(0xD9, 0xA4, 0x41));
  EXPECT_EQ(SendMessageW(window_, WM_NCHITTEST, 0, MAKELPARAM(r.left + 200, r.top + 200)), HTCAPTION);
  EXPECT_EQ(SendMessageW(window_, WM_NCHITTEST, 0, MAKELPARAM(r.left + 650, r.top + 40)), HTCLIENT);
  EXPECT_EQ(SendMessageW(window_, WM_ERASEBKGND, 0, 0), 1);
}

// Idle ticks show the kept frame again; a change of the state or of the widget
// state shows at the next tick, and undoing it brings the first look back.
TEST_F(Window, TicksShowEachChangeAndNothingElse) {
  auto pixel = [&](int x, int y) {
    HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, left_ + x, top_ + y);
    ReleaseDC(nullptr, screen);
    return colour;
  };
  struct Case { const char* what; int x, y; void (*set)(bool on); };
  const Case cases[] = {
      {"file bar", 200, 437, [](bool on) { g_state.file_permille = on ? 1000 : 0; }},
      {"close box hover", 644, 35, [](bool on) { g_widgets.hoverButton = on ? ButtonClose : ButtonNone; }},
      {"busy", 440, 470, [](bool on) { g_state.busy = on; }},
  };
  for (const Case& c : cases) {
    const COLORREF before = pixel(c.x, c.y);
    Pump(200);
    EXPECT_EQ(pixel(c.x, c.y), before) << c.what;
    c.set(true);
    Pump(200);
    const COLORREF changed = pixel(c.x, c.y);
    EXPECT_NE(changed, before) << c.what;
    Pump(200);
    EXPECT_EQ(pixel(c.x, c.y), changed) << c.what;
    c.set(false);
    Pump(200);
    EXPECT_EQ(pixel(c.x, c.y), before) << c.what;
  }
  // Between changes the screen holds exactly the frame every step draws.
  SetStatus(u"Baixando atualização do OTClient...", u"12,5 de 40,0 MB", false);
  g_state.file_permille = 420;
  g_widgets.hoverButton = ButtonExit;
  Pump(200);
  const std::vector<uint32_t> shown = ScreenOfWindow(left_, top_), drawn = FrameOfEveryStep();
  ASSERT_EQ(shown.size(), drawn.size());
  size_t first = 0;
  while (first < shown.size() && shown[first] == drawn[first]) ++first;
  EXPECT_EQ(first, shown.size()) << "first difference at x " << first % WindowWidth << " y " << first / WindowWidth;
  g_state.file_permille = 0;
  g_widgets.hoverButton = ButtonNone;
}

TEST_F(Window, HoverPressAndReleaseElsewhereStartNothing) {
  Shell("xdotool mousemove " + AtButton(ButtonClient0));
  EXPECT_EQ(g_widgets.hoverButton, ButtonClient0);
  Shell("xdotool mousedown 1");
  EXPECT_EQ(g_widgets.pressedButton, ButtonClient0);
  Shell("xdotool mousemove " + AtButton(ButtonClient1) + " sleep 0.1 mouseup 1");
  EXPECT_EQ(g_widgets.pressedButton, -1);
  EXPECT_EQ(g_widgets.hoverButton, ButtonClient1);
  // Pressed, dragged off onto the painted area while captured, released there.
  Shell("xdotool mousemove " + AtButton(ButtonVerify) + " sleep 0.1 mousedown 1 sleep 0.1 mousemove " +
        At(200, 200));
  EXPECT_EQ(g_widgets.pressedButton, ButtonVerify);
  EXPECT_EQ(g_widgets.hoverButton, -1);
  Shell("xdotool mouseup 1");
  EXPECT_EQ(g_widgets.pressedButton, -1);
  EXPECT_TRUE(Tasks().empty());
  EXPECT_FALSE(g_state.busy);
  EXPECT_EQ(GetCapture(), nullptr);
  // Off a button onto the draggable area, then off the window.
  Shell("xdotool mousemove " + AtButton(ButtonExit) + " sleep 0.2 mousemove " + At(300, 300));
  EXPECT_EQ(g_widgets.hoverButton, -1);
  Shell("xdotool mousemove " + AtButton(ButtonMinimize));
  EXPECT_EQ(g_widgets.hoverButton, ButtonMinimize);
  Shell("xdotool mousemove 5 5 sleep 0.6");  // the leave notice polls the pointer
  EXPECT_EQ(g_widgets.hoverButton, -1);
}

TEST_F(Window, ClicksWhileBusyAreIgnoredAndCancelarCancels) {
  g_workerMayEnd = false;
  Click(ButtonClient0);
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_EQ(Tasks()[0].kind, TaskKind::Play);
  EXPECT_EQ(Tasks()[0].client, ClientKind::OTClient);
  EXPECT_TRUE(g_state.busy);
  SetStatus(u"Baixando arquivos...", u"1,0 de 2,0 MB", true);
  Click(ButtonClient1);
  Click(ButtonVerify);
  EXPECT_EQ(Tasks().size(), 1u);
  EXPECT_TRUE(IsWindow(window_));
  Shell(Artefact("") + "window_busy.png");

  Click(ButtonExit);  // "Cancelar": the worker ends the task
  const StatusTexts texts = CopyStatus();
  EXPECT_EQ(texts.headline, kTextCancelling);
  EXPECT_EQ(texts.detail, u"");
  EXPECT_FALSE(g_state.status_is_error);
  EXPECT_TRUE(g_state.busy);  // until the worker's end
  g_workerMayEnd = true;
  Pump(500);
  EXPECT_FALSE(g_state.busy);
  EXPECT_TRUE(IsWindow(window_));

  Click(ButtonVerify);
  ASSERT_EQ(Tasks().size(), 2u);
  EXPECT_EQ(Tasks()[1].kind, TaskKind::VerifyFiles);
  EXPECT_EQ(Tasks()[1].client, ClientKind::None);
  g_state.cancel_requested = true;
  Pump(500);
  Click(ButtonClient1);
  ASSERT_EQ(Tasks().size(), 3u);
  EXPECT_EQ(Tasks()[2].client, ClientKind::Classic);
  g_state.cancel_requested = true;
}

TEST_F(Window, CloseBoxDuringAStuckTaskClosesWithinAboutThreeSeconds) {
  g_mode = WorkerMode::Stuck;
  Click(ButtonClient1);
  ASSERT_TRUE(g_state.busy) << Tasks().size() << " hover " << g_widgets.hoverButton;
  Click(ButtonClose);
  EXPECT_FALSE(IsWindow(window_));
  EXPECT_GE(CloseTime(), 2900u);
  EXPECT_LE(CloseTime(), 4000u);
  EXPECT_TRUE(g_state.cancel_requested);
}

TEST_F(Window, SairClosesAtOnceWhenIdle) {
  Click(ButtonExit);
  EXPECT_FALSE(IsWindow(window_));
  EXPECT_LT(CloseTime(), 1000u);  // no wait: there is no task
  EXPECT_TRUE(Tasks().empty());
}

TEST_F(Window, MinimizesAndMovesByItsPaintedArea) {
  Click(ButtonMinimize);
  EXPECT_TRUE(IsIconic(window_));
  ShowWindow(window_, SW_RESTORE);
  Pump(300);
  EXPECT_FALSE(IsIconic(window_));
  RECT before, after;
  GetWindowRect(window_, &before);
  Shell("xdotool mousemove " + At(200, 150) + " sleep 0.2 mousedown 1 sleep 0.2 mousemove " + At(220, 160) +
        " sleep 0.2 mousemove " + At(260, 180) + " sleep 0.3 mouseup 1");
  Pump(300);
  GetWindowRect(window_, &after);
  EXPECT_EQ(after.left - before.left, 60);
  EXPECT_EQ(after.top - before.top, 30);
  EXPECT_TRUE(Tasks().empty());
}

TEST_F(Window, TaskEndsKeepOpenCloseOrRestart) {
  // A client that is now on disk shows "Jogar" from the task's end on.
  const WideString exe = ClientExePath(ClientKind::OTClient);
  CreateDirectoryTree(ClientDir(ClientKind::OTClient));
  FILE* f = _wfopen(WinText(exe), L"wb");
  ASSERT_TRUE(f);
  fclose(f);
  for (WPARAM action : {WPARAM(0), WPARAM(3), WPARAM(77)}) {
    g_state.busy = true;
    g_state.installed[0] = false;
    PostMessageW(window_, MsgTaskFinished, action, 0);
    ASSERT_TRUE(Pump(150)) << action;
    EXPECT_TRUE(IsWindow(window_)) << action;
    EXPECT_FALSE(g_state.busy) << action;
    EXPECT_TRUE(g_state.installed[0]) << action;
  }
  DeleteFileW(WinText(exe));

  const std::string record = Scratch() + "/restarted.txt";
  PostMessageW(window_, MsgTaskFinished, FinishRestartLauncher, 0);
  EXPECT_FALSE(Pump(1000));
  EXPECT_FALSE(IsWindow(window_));
  std::string line;
  for (int i = 0; i < 100 && line.empty(); ++i) {
    Sleep(100);
    if (FILE* r = _wfopen(WinPath(record).c_str(), L"rb")) {
      char buffer[1024];
      line.assign(buffer, fread(buffer, 1, sizeof buffer, r));
      fclose(r);
    }
  }
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_EQ(line, "\"" + WideToUtf8(FromWinText(self)) + "\" --atualizado");
}

TEST_F(Window, FinishCloseLauncherDestroysTheWindow) {
  g_state.busy = true;
  PostMessageW(window_, MsgTaskFinished, FinishCloseLauncher, 0);
  EXPECT_FALSE(Pump(500));
  EXPECT_FALSE(IsWindow(window_));
  EXPECT_FALSE(g_state.busy);
}

TEST_F(Window, EveryPortugueseTextOnScreen) {
  g_state.installed[1] = true;
  SetStatus(kTextTaskNotStarted, u"Atenção: verificação e instalação concluídas à tarde", true);
  const std::string crop = "-crop 688x506+" + std::to_string(left_) + "+" + std::to_string(top_);
  Shell("xdotool mousemove 5 5 sleep 0.2; " + Artefact(crop.c_str()) + "window_texts.png");
  EXPECT_TRUE(IsWindow(window_));
  g_state.installed[1] = false;
}

// The task body: records the task and plays it as above.
DWORD WINAPI StandInWorker(LPVOID param) {
  WorkerTask* task = static_cast<WorkerTask*>(param);
  {
    std::lock_guard<std::mutex> hold(g_tasksLock);
    g_tasks.push_back(*task);
  }
  delete task;
  if (g_mode == WorkerMode::Stuck) {
    Sleep(6000);
  } else {
    for (int i = 0; i < 2000 && !g_state.cancel_requested; ++i) Sleep(10);
    for (int i = 0; i < 2000 && !g_workerMayEnd; ++i) Sleep(10);
    SetStatus(kTextCancelled, u"", false);
  }
  PostMessageW(static_cast<HWND>(g_state.main_window), MsgTaskFinished, FinishKeepOpen, 0);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"--atualizado") {
    const char* scratch = std::getenv("MORVEL_TEST_SCRATCH");
    if (FILE* f = scratch ? _wfopen(WinPath(std::string(scratch) + "/restarted.txt").c_str(), L"wb") : nullptr) {
      const std::string line = WideToUtf8(FromWinText(GetCommandLineW()));
      fwrite(line.data(), 1, line.size(), f);
      fclose(f);
    }
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  GdiplusSession session;
  SetWindowsHookExW(WH_GETMESSAGE, OnGetMessage, nullptr, GetCurrentThreadId());
  SetWindowsHookExW(WH_CALLWNDPROC, OnCallWindow, nullptr, GetCurrentThreadId());
  LoadUiAssets(GetModuleHandleW(nullptr));
  g_task_hooks.body = StandInWorker;
  const int result = RUN_ALL_TESTS();
  ReleaseUiAssets();
  return result;
}

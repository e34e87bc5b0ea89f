#include "ui/main_window_win32.h"

#include <vector>

#include "app/launcher_state.h"
#include "app/paths.h"
#include "app/process.h"
#include "app/scoped_win32.h"
#include "app/task_handoff_win32.h"
#include "app/win32_text.h"
#include "ui/input.h"
#include "ui/layout.h"
#include "ui/paint_win32.h"
#include "ui/resource_ids.h"

namespace {

constexpr wchar_t kClassName[] = L"MorvelGlobalLauncherWnd";

int PointX(LPARAM lParam) { return static_cast<short>(LOWORD(lParam)); }
int PointY(LPARAM lParam) { return static_cast<short>(HIWORD(lParam)); }

void RestartLauncher(HWND window) {
  // Empty when the path was cut, which would start some other program.
  const WideString own = OwnExePath();
  if (!own.empty()) StartProcess(own, RestartCommandLine(own), WideString());
  DestroyWindow(window);
}

void OnTaskFinished(HWND window, WPARAM action) {
  g_state.busy.exchange(false);
  RefreshInstalledClients();
  switch (ReactionToFinish(action)) {
    case FinishReaction::Close: DestroyWindow(window); break;
    case FinishReaction::Restart: RestartLauncher(window); break;
    case FinishReaction::StayOpen: break;
  }
}

void OnButtonUp(HWND window, LPARAM lParam) {
  const int b = HitTestButtons(PointX(lParam), PointY(lParam));
  const ClickAction action = OnButtonRelease(g_widgets, b, g_state.busy);
  ReleaseCapture();
  switch (action) {
    case ClickAction::PlayOTClient: StartTask(TaskKind::Play, ClientKind::OTClient); break;
    case ClickAction::PlayClassic: StartTask(TaskKind::Play, ClientKind::Classic); break;
    case ClickAction::VerifyFiles: StartTask(TaskKind::VerifyFiles, ClientKind::None); break;
    case ClickAction::Cancel: CancelRunningTask(); break;
    case ClickAction::Close: RequestClose(window); break;
    case ClickAction::Minimize: ShowWindow(window, SW_MINIMIZE); break;
    case ClickAction::None: break;
  }
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_PAINT:
      PaintWindow(window);
      return 0;
    case WM_CLOSE:
      RequestClose(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_NCHITTEST: {
      POINT point = {PointX(lParam), PointY(lParam)};
      ScreenToClient(window, &point);
      return HitTestButtons(point.x, point.y) != ButtonNone ? HTCLIENT : HTCAPTION;
    }
    case WM_NCMOUSEMOVE:
      g_widgets.hoverButton = ButtonNone;
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_TIMER:
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_MOUSEMOVE: {
      g_widgets.hoverButton = HitTestButtons(PointX(lParam), PointY(lParam));
      TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, window, 0};
      TrackMouseEvent(&track);
      return 0;
    }
    case WM_LBUTTONDOWN:
      g_widgets.pressedButton = HitTestButtons(PointX(lParam), PointY(lParam));
      SetCapture(window);
      return 0;
    case WM_LBUTTONUP:
      OnButtonUp(window, lParam);
      return 0;
    case WM_MOUSELEAVE:
      g_widgets.hoverButton = ButtonNone;
      return 0;
    case MsgTaskFinished:
      OnTaskFinished(window, wParam);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateMainWindow(HINSTANCE instance, int show_command) {
  HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LAUNCHER));
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_DROPSHADOW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = icon;
  windowClass.hIconSm = icon;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);

  const int x = (GetSystemMetrics(SM_CXSCREEN) - WindowWidth) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - WindowHeight) / 2;
  HWND window = CreateWindowExW(0, kClassName, L"Morvel Global Launcher", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX,
                                x, y, WindowWidth, WindowHeight, nullptr, nullptr, instance, nullptr);
  g_state.main_window = window;
  if (!window) return nullptr;
  ShowWindow(window, show_command);
  UpdateWindow(window);
  SetTimer(window, 1, 50, nullptr);
  return window;
}

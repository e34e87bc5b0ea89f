#include "ui/main_window_win32.h"

#include <vector>

#include "app/launcher_state.h"
#include "app/paths.h"
#include "app/process.h"
#include "app/scoped_win32.h"
#include "app/task_handoff_win32.h"
#include "app/texts.h"
#include "app/win32_text.h"
#include "ui/assets_win32.h"
#include "ui/input.h"
#include "ui/layout.h"
#include "ui/paint_win32.h"
#include "ui/resource_ids.h"

namespace {

// Sent to per-monitor aware windows (Windows 8.1 and 10); older headers lack them.
constexpr UINT kDpiChanged = 0x02E0;         // WM_DPICHANGED
constexpr UINT kGetDpiScaledSize = 0x02E4;   // WM_GETDPISCALEDSIZE

// The DPI of the monitor the window is on. GetDpiForWindow is looked up:
// Windows 7 and 8.1 lack it, and there the system's DPI is the window's.
int WindowDpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto forWindow = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  const UINT dpi = forWindow ? forWindow(window) : 0;
  return dpi ? static_cast<int>(dpi) : SystemDpi();
}

// The window at a new scale, at the given place: everything kept is drawn
// again first, and the whole new frame is painted before the call returns, so
// no stretched or half-drawn frame is ever shown. The size is the layout's:
// the place Windows suggests has it where the system asked for it
// (WM_GETDPISCALEDSIZE, Windows 10), and Windows 8.1 scales the old size,
// which may round to a pixel more or less.
void MoveToDpi(HWND window, int dpi, const RECT& place) {
  if (dpi != g_assets.layout.dpi) UseDpi(dpi);
  SetWindowPos(window, nullptr, place.left, place.top, g_assets.layout.width, g_assets.layout.height,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

// Centred on the primary screen at the layout's size.
RECT CentredPlace() {
  const Layout& layout = g_assets.layout;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - layout.width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - layout.height) / 2;
  return {x, y, x + layout.width, y + layout.height};
}

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

int HitTest(LPARAM lParam) { return HitTestButtons(g_assets.layout, PointX(lParam), PointY(lParam)); }

void OnButtonUp(HWND window, LPARAM lParam) {
  const int b = HitTest(lParam);
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

int SystemDpi() {
  HDC screen = GetDC(nullptr);
  GdipGraphics graphics;
  GdipCreateFromHDC(screen, graphics.put());
  REAL dpi = BaseDpi;
  if (graphics) GdipGetDpiX(graphics.get(), &dpi);
  graphics.reset();
  ReleaseDC(nullptr, screen);
  return static_cast<int>(dpi + 0.5f);
}

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
      return HitTestButtons(g_assets.layout, point.x, point.y) != ButtonNone ? HTCLIENT : HTCAPTION;
    }
    case WM_NCMOUSEMOVE:
      g_widgets.hoverButton = ButtonNone;
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_TIMER:
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_MOUSEMOVE: {
      g_widgets.hoverButton = HitTest(lParam);
      TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, window, 0};
      TrackMouseEvent(&track);
      return 0;
    }
    case WM_LBUTTONDOWN:
      g_widgets.pressedButton = HitTest(lParam);
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
    case kGetDpiScaledSize: {
      // The size the layout gives, not the old one scaled: the two round differently.
      const Layout scaled = LayoutForDpi(LOWORD(wParam));
      *reinterpret_cast<SIZE*>(lParam) = {scaled.width, scaled.height};
      return TRUE;
    }
    case kDpiChanged:
      MoveToDpi(window, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
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
  windowClass.lpszClassName = kMainWindowClass;
  RegisterClassExW(&windowClass);

  // At the system's scale first; the monitor the window lands on may have another.
  if (const int dpi = SystemDpi(); dpi != g_assets.layout.dpi) UseDpi(dpi);
  const RECT place = CentredPlace();
  HWND window = CreateWindowExW(0, kMainWindowClass, WinText(kTextLauncherName), WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX,
                                place.left, place.top, place.right - place.left, place.bottom - place.top, nullptr,
                                nullptr, instance, nullptr);
  g_state.main_window = window;
  if (!window) return nullptr;
  if (const int dpi = WindowDpi(window); dpi != g_assets.layout.dpi) {
    UseDpi(dpi);
    MoveToDpi(window, dpi, CentredPlace());
  }
  ShowWindow(window, show_command);
  UpdateWindow(window);
  SetTimer(window, 1, 50, nullptr);
  return window;
}

// One paint of the window under Wine: a paint that copies the kept frame and
// one that composes it (interleaved), one with every step, and the cost of
// each step. "idle", "idle-composing" and "idle-floor" instead run a window at
// the 50 ms timer for the script to read its CPU time: the launcher's window;
// the same with an input changing at every tick, so that every paint composes;
// and a bare window whose paint draws nothing, Wine's own cost of the ticks.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "app/launcher_state.h"
#include "app/texts.h"
#include "app/win32_text.h"
#include "tests/win32/support/compose_frame.h"
#include "ui/assets_win32.h"
#include "ui/layout.h"
#include "ui/main_window_win32.h"
#include "ui/paint_win32.h"

namespace {

constexpr int kRuns = 100;  // every-step paints: a third of that

double Millis(LARGE_INTEGER from, LARGE_INTEGER to) {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  return 1000.0 * double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

double At(const std::vector<double>& sorted, int percent) { return sorted[sorted.size() * percent / 100]; }

void Report(const char* name, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-26s median %7.2f ms   p95 %7.2f ms\n", name, At(ms, 50), At(ms, 95));
}

// Median with the middle half and the 5th to 95th percentile around it.
double ReportSpread(const char* name, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-26s median %7.2f ms   quartiles %.2f-%.2f   p5-p95 %.2f-%.2f ms\n", name, At(ms, 50), At(ms, 25),
              At(ms, 75), At(ms, 5), At(ms, 95));
  return At(ms, 50);
}

std::vector<double> Time(const std::function<void()>& run, int runs = kRuns) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    run();
    QueryPerformanceCounter(&b);
    ms.push_back(Millis(a, b));
  }
  return ms;
}

void Downloading() {
  SetStatus(u"Baixando atualização do OTClient...", u"12,5 de 40,0 MB", false);
  g_state.busy = true;
  g_state.file_permille = 420;
  g_state.total_permille = 135;
}

// For 90 s at most (the script ends it sooner); with changing set, an input
// of the paint changes at every tick.
void RunMessages(bool changing) {
  const UINT_PTR end = SetTimer(nullptr, 0, 90000, nullptr);
  const UINT_PTR change = changing ? SetTimer(nullptr, 0, 50, nullptr) : 0;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && !msg.hwnd && msg.wParam == end) break;
    // One thousandth more or less each tick, as a download moves the bar.
    if (msg.message == WM_TIMER && !msg.hwnd && msg.wParam == change) g_state.file_permille ^= 1;
    DispatchMessageW(&msg);
  }
}

LRESULT CALLBACK FloorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER) {
    InvalidateRect(window, nullptr, FALSE);
    return 0;
  }
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A window of the same size and timer whose paint draws nothing.
int IdleFloor(HINSTANCE instance) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = FloorProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"PaintBenchFloor";
  RegisterClassExW(&windowClass);
  const Layout size = LayoutForDpi(SystemDpi());  // the launcher's window at this display's scale
  HWND window = CreateWindowExW(0, L"PaintBenchFloor", L"floor", WS_POPUP | WS_VISIBLE, 100, 100, size.width,
                                size.height, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  SetTimer(window, 1, 50, nullptr);
  RunMessages(false);
  return 0;
}

int Idle(HINSTANCE instance, bool composing) {
  HWND window = CreateMainWindow(instance, SW_SHOWNORMAL);
  if (!window) return 1;
  RunMessages(composing);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  GdiplusSession session;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  LoadUiAssets(instance);
  if (argc > 1 && std::wcscmp(argv[1], L"idle") == 0) return Idle(instance, false);
  if (argc > 1 && std::wcscmp(argv[1], L"idle-composing") == 0) return Idle(instance, true);
  if (argc > 1 && std::wcscmp(argv[1], L"idle-floor") == 0) return IdleFloor(instance);

  Downloading();
  HWND window = CreateMainWindow(instance, SW_SHOWNORMAL);
  if (!window) return 1;
  std::printf("window at %d DPI: %d x %d\n", g_assets.layout.dpi, g_assets.layout.width, g_assets.layout.height);
  const WidgetState widgets{ButtonExit, -1};

  std::printf("one paint through WM_PAINT (downloading state, exit button under the mouse), %d pairs\n", kRuns);
  g_widgets = widgets;
  std::vector<double> copying, composing;
  int composed = 0;
  auto paint = [&] { RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); };
  for (int i = 0; i < kRuns; ++i) {
    copying.push_back(Time(paint, 1)[0]);
    g_state.file_permille ^= 1;
    composing.push_back(Time(paint, 1)[0]);
    // The kept inputs change only when the frame is composed.
    composed += g_assets.KeptFrameInputs.filePermille == static_cast<int32_t>(g_state.file_permille.load());
  }
  const double copy = ReportSpread("paint, copying kept frame", copying);
  const double compose = ReportSpread("paint, composing", composing);
  std::printf("composing / copying: %.1fx   (%d of %d composing paints composed)\n", compose / copy, composed, kRuns);
  HDC dc = GetDC(window);
  Report("paint, every step", Time([&] {
    GdipBitmap frame = ComposeFrame(CurrentFrameInputs(widgets), false);
    GdipGraphics screen;
    GdipCreateFromHDC(dc, screen.put());
    GdipSetCompositingMode(screen.get(), CompositingModeSourceCopy);
    GdipDrawImageI(screen.get(), frame.get(), 0, 0);
  }, kRuns / 3));

  const Layout& layout = g_assets.layout;
  std::printf("steps\n");
  GdipBitmap bitmap;
  GdipCreateBitmapFromScan0(layout.width, layout.height, 0, PixelFormat32bppPARGB, nullptr, bitmap.put());
  GdipGraphics g;
  GdipGetImageGraphicsContext(bitmap.get(), g.put());
  SetUpGraphics(g.get());
  GpGraphics* graphics = g.get();
  Report("new bitmap and graphics", Time([&] {
    GdipBitmap b;
    GdipCreateBitmapFromScan0(layout.width, layout.height, 0, PixelFormat32bppPARGB, nullptr, b.put());
    GdipGraphics h;
    GdipGetImageGraphicsContext(b.get(), h.put());
    SetUpGraphics(h.get());
  }));
  Report("static layer (copied in)", Time([&] {
    CopyStaticLayer(g_assets.KeptFrame.get());
    GdipGraphics h;
    GdipGetImageGraphicsContext(g_assets.KeptFrame.get(), h.put());
    SetUpGraphics(h.get());
  }));
  Report("  backdrop", Time([&] {
    GdipSolidBrush brush;
    GdipCreateSolidFill(ColorBackdrop, brush.put());
    GdipFillRectangleI(graphics, brush.get(), 0, 0, layout.width, layout.height);
  }));
  Report("  centre slice", Time([&] { DrawFrameSlices(graphics, true); }, kRuns / 3));
  GpBitmap* scene = layout.pictureScale == 2 ? g_assets.BackgroundImage2x.get() : g_assets.BackgroundImage.get();
  const PixelBox& place = layout.scene;
  Report("  scene", Time([&] {
    GdipDrawImageRectI(graphics, scene, place.left, place.top, place.width(), place.height());
  }));
  Report("  border slices", Time([&] { DrawFrameSlices(graphics, false); }));
  Report("status lines", Time([&] {
    const StatusTexts texts = CopyStatus();
    DrawLabel(graphics, reinterpret_cast<const wchar_t*>(texts.headline.c_str()), false, layout.headline, ColorGold,
              StringAlignmentNear);
    DrawLabel(graphics, reinterpret_cast<const wchar_t*>(texts.detail.c_str()), false, layout.detail, ColorMuted,
              StringAlignmentNear);
  }));
  Report("bar labels", Time([&] {
    DrawLabel(graphics, WinText(kTextFileBar), true, layout.fileLabel, ColorLight, StringAlignmentNear);
    DrawLabel(graphics, WinText(kTextTotalBar), true, layout.totalLabel, ColorLight, StringAlignmentNear);
  }));
  Report("bars", Time([&] {
    DrawProgressBar(graphics, layout.fileBar, 420, ColorGold, ColorFileBarBottom);
    DrawProgressBar(graphics, layout.totalBar, 135, ColorTotalBarTop, ColorTotalBarBottom);
  }));
  for (bool kept : {true, false}) {
    Report(kept ? "buttons, kept looks" : "buttons, every step", Time([&] {
      DrawButton(graphics, ButtonClient0, L"OTClient", WinText(kTextInstallAndPlay), ButtonLook::Disabled, kept);
      DrawButton(graphics, ButtonClient1, L"Tibia 8.60", WinText(kTextPlay), ButtonLook::Disabled, kept);
      DrawButton(graphics, ButtonVerify, WinText(kTextVerifyFiles), nullptr, ButtonLook::Disabled, kept);
      DrawButton(graphics, ButtonExit, WinText(kTextCancel), nullptr, ButtonLook::Hover, kept);
    }));
  }
  Report("reading the inputs", Time([&] { CurrentFrameInputs(widgets); }));
  const PixelBox& exit = layout.buttons[ButtonExit];
  const PixelBox& client = layout.buttons[ButtonClient0];
  Report("  one kept look", Time([&] {
    GdipSetCompositingMode(graphics, CompositingModeSourceCopy);
    GdipDrawImageI(graphics, g_assets.ButtonLooks[ButtonExit][int(ButtonLook::Hover)].get(), exit.left, exit.top);
    GdipSetCompositingMode(graphics, CompositingModeSourceOver);
  }));
  GpBitmap* face = layout.pictureScale == 2 ? g_assets.ButtonImage2x.get() : g_assets.ButtonImage.get();
  UINT faceWidth = 0, faceHeight = 0;
  GdipGetImageWidth(face, &faceWidth);
  GdipGetImageHeight(face, &faceHeight);
  Report("  one stretched face", Time([&] {
    GdipImageAttributes attributes;
    GdipCreateImageAttributes(attributes.put());
    GdipSetImageAttributesWrapMode(attributes.get(), WrapModeTileFlipXY, ColorAttributes, FALSE);
    GdipDrawImageRectRectI(graphics, face, client.left, client.top, client.width(), client.height(), 0, 0,
                           INT(faceWidth), INT(faceHeight), UnitPixel, attributes.get(), nullptr, nullptr);
  }));
  Report("  one button's labels", Time([&] {
    DrawLabel(graphics, L"OTClient", true, layout.captions[0], ColorGold, StringAlignmentCenter);
    DrawLabel(graphics, WinText(kTextPlay), false, layout.secondLines[0], ColorLight, StringAlignmentCenter);
  }));
  Report("  dim layer", Time([&] {
    GdipSolidBrush brush;
    GdipCreateSolidFill(ColorDimLayer, brush.put());
    GdipFillRectangleI(graphics, brush.get(), client.left, client.top, client.width(), client.height());
  }));
  Report("  one label's families", Time([&] { ChooseLabelFamily(false); }));
  Report("window boxes", Time([&] {
    DrawWindowBox(graphics, ButtonMinimize, widgets);
    DrawWindowBox(graphics, ButtonClose, widgets);
  }));
  // The kept frame has no alpha; a premultiplied one of the same pixels, for comparison.
  for (GpBitmap* frame : {static_cast<GpBitmap*>(g_assets.KeptFrame.get()), bitmap.get()}) {
    Report(frame == bitmap.get() ? "copy, premultiplied frame" : "copy to the window", Time([&] {
      GdipGraphics screen;
      GdipCreateFromHDC(dc, screen.put());
      GdipSetCompositingMode(screen.get(), CompositingModeSourceCopy);
      GdipDrawImageI(screen.get(), frame, 0, 0);
    }));
  }
  ReleaseDC(window, dc);
  DestroyWindow(window);
  ReleaseUiAssets();
  return 0;
}

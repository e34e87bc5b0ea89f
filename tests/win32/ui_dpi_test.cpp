// The real window in a prefix whose display is set to MORVEL_TEST_DPI (its
// hook writes the prefix's LogPixels): built once for each of 96, 120, 144
// and 192 DPI. The window must come up at that scale, its buttons hit and look
// at their scaled places, its outlines one scaled pixel wide, its texts at the
// scaled size and as sharp as at 96 DPI, and it must take another scale when
// it meets a monitor of one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/launcher_state.h"
#include "ui/assets_win32.h"
#include "ui/input.h"
#include "ui/layout.h"
#include "ui/main_window_win32.h"
#include "ui/paint_win32.h"
#include "tests/win32/ui_window_util.h"

namespace {

constexpr int kDpi = MORVEL_TEST_DPI;
constexpr UINT kDpiChanged = 0x02E0, kGetDpiScaledSize = 0x02E4;

struct Frame {
  int width = 0, height = 0;
  std::vector<uint32_t> rgb;  // 0x00RRGGBB
  uint32_t at(int x, int y) const { return rgb[size_t(y) * width + x]; }
};

Frame OfBitmap(GpBitmap* bitmap) {
  Frame f;
  UINT w = 0, h = 0;
  GdipGetImageWidth(bitmap, &w);
  GdipGetImageHeight(bitmap, &h);
  f.width = int(w);
  f.height = int(h);
  f.rgb = PixelsOf(bitmap);
  return f;
}

// The same state composed at another scale, off screen; the window's own
// scale is restored after.
Frame ComposedAt(int dpi) {
  const int own = g_assets.layout.dpi;
  UseDpi(dpi);
  GdipBitmap frame = ComposeFrame(CurrentFrameInputs(g_widgets), true);
  Frame f = OfBitmap(frame.get());
  UseDpi(own);
  return f;
}

// A frame stretched by the platform's best filter, as a program that declares
// no DPI awareness is shown on a scaled display.
Frame Stretched(const Frame& from, int width, int height) {
  GdipBitmap source, target;
  GdipCreateBitmapFromScan0(from.width, from.height, from.width * 4, PixelFormat32bppRGB,
                            reinterpret_cast<BYTE*>(const_cast<uint32_t*>(from.rgb.data())), source.put());
  GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppRGB, nullptr, target.put());
  {
    GdipGraphics graphics;
    GdipGetImageGraphicsContext(target.get(), graphics.put());
    GdipSetInterpolationMode(graphics.get(), InterpolationModeHighQualityBicubic);
    GdipDrawImageRectI(graphics.get(), source.get(), 0, 0, width, height);
  }
  return OfBitmap(target.get());
}

int Green(uint32_t rgb) { return int((rgb >> 8) & 0xFF); }

// The grey levels at a text's edges: of the box's pixels in the text's ink
// (against the same box drawn without the text, in the green channel: gold
// ink on a dark panel), how many lie between background and full ink, per
// edge crossed along the rows. About one pixel wherever the glyphs are drawn
// at the display's scale; a stretched frame widens every edge by the stretch.
double EdgeGreys(const Frame& text, const Frame& blank, const PixelBox& box, uint32_t ink) {
  int greys = 0, crossings = 0;
  for (int y = box.top; y < box.bottom; ++y) {
    bool wasInk = false;
    for (int x = box.left; x < box.right; ++x) {
      const int bg = Green(blank.at(x, y)), span = Green(ink) - bg;
      const double t = span >= 64 ? double(Green(text.at(x, y)) - bg) / span : 0.0;
      greys += t >= 0.1 && t < 0.9;
      const bool isInk = t >= 0.5;
      crossings += isInk != wasInk;
      wasInk = isInk;
    }
  }
  return crossings ? double(greys) / crossings : 0.0;
}

// Rows of a box from the first to the last holding a pixel at least half way
// from the blank frame to the ink colour.
int InkRows(const Frame& text, const Frame& blank, const PixelBox& box, uint32_t ink) {
  int first = -1, last = -1;
  for (int y = box.top; y < box.bottom; ++y) {
    for (int x = box.left; x < box.right; ++x) {
      const int bg = Green(blank.at(x, y));
      if (2 * (Green(text.at(x, y)) - bg) >= Green(ink) - bg && Green(ink) - bg >= 64) {
        if (first < 0) first = y;
        last = y;
        break;
      }
    }
  }
  return first < 0 ? 0 : last - first + 1;
}

bool Near(uint32_t a, uint32_t b, int tolerance) {
  for (int shift = 0; shift < 24; shift += 8)
    if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) return false;
  return true;
}

class Dpi : public ::testing::Test {
 protected:
  void SetUp() override {
    g_widgets = WidgetState{};
    g_state.busy = false;
    SetStatus(u"Verificação concluída.", u"Nenhum arquivo alterado.", false);
    window_ = CreateMainWindow(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
    ASSERT_TRUE(window_);
    Pump(200);
    GetWindowRect(window_, &place_);
  }
  void TearDown() override {
    if (IsWindow(window_)) DestroyWindow(window_);
    Pump(100);
    g_state.file_permille = g_state.total_permille = 0;
  }
  Frame Screen() const {
    Frame f;
    f.width = g_assets.layout.width;
    f.height = g_assets.layout.height;
    f.rgb = ScreenOfWindow(place_.left, place_.top);
    return f;
  }
  std::string At(int x, int y) const {
    return std::to_string(place_.left + x) + " " + std::to_string(place_.top + y);
  }
  LRESULT HitAt(int x, int y) const {
    return SendMessageW(window_, WM_NCHITTEST, 0, MAKELPARAM(place_.left + x, place_.top + y));
  }
  HWND window_ = nullptr;
  RECT place_ = {};
};

TEST_F(Dpi, OpensAtTheDisplaysScaleAndShowsTheFrameUnstretched) {
  const Layout want = LayoutForDpi(kDpi);
  EXPECT_EQ(g_assets.layout.dpi, kDpi);
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  const auto forWindow = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  ASSERT_TRUE(forWindow);
  EXPECT_EQ(forWindow(window_), UINT(kDpi));
  RECT client;
  GetClientRect(window_, &client);
  EXPECT_EQ(client.right * 10000 + client.bottom, want.width * 10000 + want.height);
  EXPECT_EQ(place_.right - place_.left, want.width);
  EXPECT_EQ(place_.bottom - place_.top, want.height);
  EXPECT_EQ(place_.left, (GetSystemMetrics(SM_CXSCREEN) - want.width) / 2);
  EXPECT_EQ(place_.top, (GetSystemMetrics(SM_CYSCREEN) - want.height) / 2);
  // The screen holds the frame drawn at this scale, pixel for pixel.
  const std::vector<uint32_t> shown = ScreenOfWindow(place_.left, place_.top), drawn = FrameOfEveryStep();
  ASSERT_EQ(shown.size(), size_t(want.width) * want.height);
  size_t first = 0;
  while (first < shown.size() && shown[first] == drawn[first]) ++first;
  EXPECT_EQ(first, shown.size()) << "first difference at x " << first % want.width << " y " << first / want.width;
}

TEST_F(Dpi, ButtonsHitAndLightUpAtTheirScaledPlaces) {
  const Layout& l = g_assets.layout;
  for (int b = 0; b < 6; ++b) {
    const PixelBox& r = l.buttons[b];
    EXPECT_EQ(HitAt(r.left, r.top), HTCLIENT) << b;
    EXPECT_EQ(HitAt(r.right - 1, r.bottom - 1), HTCLIENT) << b;
    EXPECT_EQ(HitAt(r.left - 1, r.top), HTCAPTION) << b;
    EXPECT_EQ(HitAt(r.left, r.bottom), HTCAPTION) << b;
  }
  EXPECT_EQ(HitAt(l.width / 2, l.height / 3), HTCAPTION);
  for (int b : {ButtonClient1, ButtonVerify, ButtonClose}) {
    Shell("xdotool mousemove 5 5 sleep 0.2");
    // The look of the button hovered before has gone once two shots agree
    // (on a loaded machine its repaint can come after the sleep).
    Frame before = Screen();
    for (int tries = 0; tries < 20; ++tries) {
      Pump(100);
      Frame again = Screen();
      if (again.rgb == before.rgb) break;
      before = std::move(again);
    }
    const PixelBox& r = l.buttons[b];
    Shell("xdotool mousemove 5 5 sleep 0.1 mousemove " + At((r.left + r.right) / 2, (r.top + r.bottom) / 2) +
          " sleep 0.2");
    EXPECT_EQ(g_widgets.hoverButton, b);
    const Frame after = Screen();
    // The hover look changes the button's own pixels and no others.
    int inside = 0, outside = 0;
    for (int y = 0; y < l.height; ++y)
      for (int x = 0; x < l.width; ++x)
        if (before.at(x, y) != after.at(x, y)) ++(r.left <= x && x < r.right && r.top <= y && y < r.bottom ? inside : outside);
    EXPECT_GT(inside, r.width() * r.height() / 4) << b;
    EXPECT_EQ(outside, 0) << b;
  }
  Shell("xdotool mousemove 5 5 sleep 0.6");
}

TEST_F(Dpi, OutlinesAreOneScaledPixelWide) {
  const Layout& l = g_assets.layout;
  const Frame f = Screen();
  auto run = [&](int x, int y, int dx, int dy, uint32_t colour) {
    int n = 0;
    while (Near(f.at(x + n * dx, y + n * dy), colour, 6)) ++n;
    return n;
  };
  for (int box : {ButtonMinimize, ButtonClose}) {
    const PixelBox& r = l.buttons[box];
    const int middle = (r.top + r.bottom) / 2;
    EXPECT_EQ(run(r.left, middle, 1, 0, ColorBoxOutline & 0xFFFFFF), l.outline) << box;
    EXPECT_FALSE(Near(f.at(r.left - 1, middle), ColorBoxOutline & 0xFFFFFF, 6)) << box;
    EXPECT_EQ(run(r.right - 1, middle, -1, 0, ColorBoxOutline & 0xFFFFFF), l.outline) << box;
  }
  for (const BarLayout* bar : {&l.fileBar, &l.totalBar}) {
    const int column = (bar->trough.left + bar->trough.right) / 2;
    EXPECT_EQ(run(column, bar->trough.top, 0, 1, ColorBarOutline & 0xFFFFFF), l.outline);
    EXPECT_EQ(run(column, bar->trough.bottom - 1, 0, -1, ColorBarOutline & 0xFFFFFF), l.outline);
    EXPECT_EQ(run(bar->trough.left, (bar->trough.top + bar->trough.bottom) / 2, 1, 0, ColorBarOutline & 0xFFFFFF),
              l.outline);
  }
}

// The headline's letters stand as many scaled pixels tall as at 96 DPI, and
// their edges hold no more grey levels than there: a stretched frame would.
TEST_F(Dpi, TextsAtTheScaledSizeAndAsSharpAsAt96) {
  const Layout& l = g_assets.layout;
  const uint32_t gold = ColorGold & 0xFFFFFF;
  SetStatus(u"TUDO PRONTO", u"Nenhum arquivo alterado.", false);  // capitals: the rows are the cap height
  Pump(200);
  const Frame shown = Screen();
  const Frame base = ComposedAt(96);
  SetStatus(u"", u"Nenhum arquivo alterado.", false);
  Pump(200);
  const Frame blankShown = Screen(), blankBase = ComposedAt(96);
  const Layout b = LayoutForDpi(96);

  const int rows = InkRows(shown, blankShown, l.headline.box, gold);
  const int baseRows = InkRows(base, blankBase, b.headline.box, gold);
  ASSERT_GT(baseRows, 5);
  EXPECT_NEAR(rows, baseRows * kDpi / 96.0, 2.0) << rows << " rows at " << kDpi << ", " << baseRows << " at 96";

  const double greys = EdgeGreys(shown, blankShown, l.headline.box, gold);
  const double baseGreys = EdgeGreys(base, blankBase, b.headline.box, gold);
  std::printf("grey pixels per edge of the headline: %.3f at %d DPI, %.3f at 96 DPI\n", greys, kDpi, baseGreys);
  EXPECT_LE(greys, baseGreys * 1.1);
  if (kDpi != 96) {
    // The measure sees a stretch: the 96-DPI frame enlarged to this scale.
    const double stretched = EdgeGreys(Stretched(base, l.width, l.height), Stretched(blankBase, l.width, l.height),
                                       l.headline.box, gold);
    std::printf("the same, the 96-DPI frame stretched to %d DPI: %.3f\n", kDpi, stretched);
    EXPECT_GE(stretched, 2 * baseGreys);
  }
}

// WM_GETDPISCALEDSIZE asks for the size at the new scale; WM_DPICHANGED then
// brings the suggested place, whose size Windows 8.1 rounds from the old one
// (here a pixel off each way): the window takes its place at the layout's
// size. Once the message is handled the screen already shows the whole frame
// at the new scale.
TEST_F(Dpi, TakesAnotherScaleWhenMovedToAnotherMonitor) {
  const int other = kDpi == 96 ? 144 : 96;
  for (int dpi : {other, kDpi}) {
    const Layout want = LayoutForDpi(dpi);
    SIZE size = {0, 0};
    EXPECT_TRUE(SendMessageW(window_, kGetDpiScaledSize, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&size)));
    EXPECT_EQ(size.cx * 10000 + size.cy, want.width * 10000 + want.height);
    RECT suggested = {40, 30, 40 + size.cx + 1, 30 + size.cy - 1};
    SendMessageW(window_, kDpiChanged, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    GetWindowRect(window_, &place_);
    EXPECT_EQ(place_.left * 10000 + place_.top, 40 * 10000 + 30) << dpi;
    EXPECT_EQ(place_.right - place_.left, want.width) << dpi;
    EXPECT_EQ(place_.bottom - place_.top, want.height) << dpi;
    EXPECT_EQ(g_assets.layout.dpi, dpi);
    const std::vector<uint32_t> shown = ScreenOfWindow(place_.left, place_.top), drawn = FrameOfEveryStep();
    size_t first = 0;
    while (first < shown.size() && shown[first] == drawn[first]) ++first;
    EXPECT_EQ(first, shown.size()) << dpi << ": first difference at x " << first % want.width << " y "
                                   << first / want.width;
    const PixelBox& close = want.buttons[ButtonClose];
    EXPECT_EQ(SendMessageW(window_, WM_NCHITTEST, 0, MAKELPARAM(40 + close.left, 30 + close.top)), HTCLIENT);
    EXPECT_EQ(SendMessageW(window_, WM_NCHITTEST, 0, MAKELPARAM(40 + close.left - 1, 30 + close.top)), HTCAPTION);
  }
}

TEST_F(Dpi, WindowAsAPictureForTheEye) {
  SetStatus(u"Baixando atualização do OTClient...", u"12,5 de 40,0 MB", false);
  g_state.busy = true;
  g_state.file_permille = 420;
  g_state.total_permille = 135;
  const Layout& l = g_assets.layout;
  const std::string crop = "-crop " + std::to_string(l.width) + "x" + std::to_string(l.height) + "+" +
                           std::to_string(place_.left) + "+" + std::to_string(place_.top);
  const PixelBox& exit = l.buttons[ButtonExit];
  Shell("xdotool mousemove " + At((exit.left + exit.right) / 2, (exit.top + exit.bottom) / 2) + " sleep 0.3; " +
        Artefact(crop.c_str()) + "window_" + std::to_string(kDpi * 100 / 96) + "_percent.png");
  g_state.busy = false;
  EXPECT_TRUE(IsWindow(window_));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  GdiplusSession session;
  LoadUiAssets(GetModuleHandleW(nullptr));
  const int result = RUN_ALL_TESTS();
  ReleaseUiAssets();
  return result;
}

// The paint, read back from the off-screen bitmap: bar fills, outlines, looks,
// status colours, the window boxes and missing assets, against the layout's
// numbers. Built twice: for a bare prefix and for one holding Wine's Tahoma.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "app/texts.h"
#include "ui/assets_win32.h"
#include "tests/win32/support/compose_frame.h"
#include "ui/paint_win32.h"

namespace {

struct Pixels {
  int width = 0, height = 0;
  std::vector<uint32_t> argb;
  uint32_t at(int x, int y) const { return argb[static_cast<size_t>(y) * width + x]; }
};

Pixels Read(GdipBitmap& bitmap) {
  Pixels p;
  UINT w = 0, h = 0;
  GdipGetImageWidth(bitmap.get(), &w);
  GdipGetImageHeight(bitmap.get(), &h);
  p.width = static_cast<int>(w);
  p.height = static_cast<int>(h);
  p.argb.resize(static_cast<size_t>(w) * h);
  GpRect all(0, 0, p.width, p.height);
  BitmapData data = {};
  data.Width = w;
  data.Height = h;
  data.Stride = p.width * 4;
  data.PixelFormat = PixelFormat32bppPARGB;
  data.Scan0 = p.argb.data();
  EXPECT_EQ(GdipBitmapLockBits(bitmap.get(), &all, ImageLockModeRead | ImageLockModeUserInputBuf,
                               PixelFormat32bppPARGB, &data),
            Ok);
  GdipBitmapUnlockBits(bitmap.get(), &data);
  return p;
}

struct Scene {
  bool busy = false, error = false, installed0 = false, installed1 = false;
  uint32_t file = 0, total = 0;
  int hover = -1, pressed = -1;
  const char16_t* headline = u"Tudo pronto.";
  const char16_t* detail = u"Escolha um cliente para jogar.";
};

void Apply(const Scene& s) {
  g_state.busy = s.busy;
  g_state.installed[0] = s.installed0;
  g_state.installed[1] = s.installed1;
  g_state.file_permille = s.file;
  g_state.total_permille = s.total;
  SetStatus(s.headline, s.detail, s.error);
}

Pixels Render(const Scene& s, bool fromStaticLayer = true) {
  Apply(s);
  GdipBitmap frame = ComposeFrame(CurrentFrameInputs(WidgetState{s.hover, s.pressed}), fromStaticLayer);
  EXPECT_TRUE(frame);
  return Read(frame);
}

// The index of the first pixel that differs; the size when none does.
size_t FirstDifference(const Pixels& a, const Pixels& b) {
  size_t first = 0;
  while (first < a.argb.size() && a.argb[first] == b.argb[first]) ++first;
  return first;
}
std::string Where(size_t index) {
  return "x " + std::to_string(index % WindowWidth) + " y " + std::to_string(index / WindowWidth);
}

// Source-over of an ARGB colour onto an opaque premultiplied pixel, as 8-bit
// arithmetic rounds it; channels compared within 2.
uint32_t Over(uint32_t below, uint32_t colour) {
  const uint32_t a = colour >> 24;
  uint32_t out = 0xFF000000;
  for (int shift = 0; shift < 24; shift += 8) {
    const uint32_t c = (colour >> shift) & 0xFF, b = (below >> shift) & 0xFF;
    out |= ((c * a + b * (255 - a) + 127) / 255) << shift;
  }
  return out;
}

bool Near(uint32_t a, uint32_t b, int tolerance = 2) {
  for (int shift = 0; shift < 32; shift += 8) {
    if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) return false;
  }
  return true;
}

// How many pixels of a rectangle are (nearly) the colour: glyph cores reach it.
int CountNear(const Pixels& p, int x, int y, int w, int h, uint32_t colour) {
  int n = 0;
  for (int j = y; j < y + h; ++j)
    for (int i = x; i < x + w; ++i) n += Near(p.at(i, j), colour, 3);
  return n;
}

int DifferingColumns(const Pixels& a, const Pixels& b, int x, int y, int w, int h) {
  int n = 0;
  for (int i = x; i < x + w; ++i) {
    for (int j = y; j < y + h; ++j) {
      if (a.at(i, j) != b.at(i, j)) { ++n; break; }
    }
  }
  return n;
}

void SavePng(GdipBitmap& bitmap, const char* name) {
  // PNG encoder of GDI+.
  const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
  CreateDirectoryW(L"build\\mingw\\artefacts", nullptr);
  CreateDirectoryW(L"build\\mingw\\artefacts\\ui", nullptr);
  const std::wstring path = L"build\\mingw\\artefacts\\ui\\" + std::wstring(name, name + std::strlen(name)) +
#ifdef MORVEL_PREFIX_HAS_TAHOMA
                            L"_tahoma.png";
#else
                            L"_bare.png";
#endif
  EXPECT_EQ(GdipSaveImageToFile(bitmap.get(), path.c_str(), &png, nullptr), Ok) << name;
}

class Paint : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    session_ = new GdiplusSession;
    LoadUiAssets(GetModuleHandleW(nullptr));
  }
  static void TearDownTestSuite() {
    ReleaseUiAssets();
    delete session_;
  }
  void TearDown() override { Apply(Scene{}); }
  static GdiplusSession* session_;
};
GdiplusSession* Paint::session_ = nullptr;

TEST_F(Paint, AssetsLoadFromTheProgramsResources) {
  ASSERT_TRUE(*session_);
  EXPECT_TRUE(g_assets.BackgroundImage && g_assets.FrameImage && g_assets.ButtonImage && g_assets.ButtonHoverImage);
  EXPECT_TRUE(g_assets.DisplayFontCollection && g_assets.DisplayFontFamily);
  EXPECT_TRUE(g_assets.StaticLayer);
  UINT w = 0, h = 0;
  GdipGetImageWidth(g_assets.FrameImage.get(), &w);
  GdipGetImageHeight(g_assets.FrameImage.get(), &h);
  EXPECT_EQ(w * 1000 + h, 222u * 1000 + 359u);
  EXPECT_FALSE(LoadResourceImage(GetModuleHandleW(nullptr), 99));
}

// The scenes show every kept look: normal, hover and pressed on each text
// button, and the three that dim while busy.
TEST_F(Paint, StaticLayerAndKeptLooksGiveTheSameBytesAsEveryStep) {
  std::vector<Scene> scenes = {
      {},
      {true, false, false, true, 500, 250, 3, -1, u"Baixando arquivos...", u"12,5 de 40,0 MB"},
      {false, true, true, true, 1000, 1000, 0, 0, u"Falha na conexão.", u"Verifique sua internet."},
      {false, false, false, false, 4, 3, 5, 5},
      {true, false, true, false, 1500, 0, 4, 4},
  };
  for (int button = 0; button < 4; ++button) {
    for (int pressed : {-1, button}) {
      Scene s;
      s.hover = button;
      s.pressed = pressed;
      scenes.push_back(s);
    }
  }
  auto compareAll = [&](const char* assets) {
    for (const auto& looks : g_assets.ButtonLooks)
      for (const GdipBitmap& look : looks) ASSERT_TRUE(look) << assets;
    for (const Scene& s : scenes) {
      const Pixels kept = Render(s, true), full = Render(s, false);
      const size_t first = FirstDifference(kept, full);
      EXPECT_EQ(first, kept.argb.size()) << assets << ": hover " << s.hover << " pressed " << s.pressed
                                         << ", first difference at " << Where(first);
    }
  };
  compareAll("every picture");
  // Without the hover picture a hot button keeps its normal face.
  GdipBitmap hover = std::move(g_assets.ButtonHoverImage);
  KeepStaticLayers();
  compareAll("no hover picture");
  g_assets.ButtonHoverImage = std::move(hover);
  KeepStaticLayers();
}

// The paint keeps its last frame: while nothing it shows changes, the frame it
// copies is byte for byte the one every step draws, and a change of any one
// input shows at the next paint.
TEST_F(Paint, KeptFrameIsCopiedUntilAnyOneInputChanges) {
  struct Step { const char* what; void (*change)(Scene&); bool visible; };
  const Step steps[] = {
      {"hover on", [](Scene& s) { s.hover = ButtonClient0; }, true},
      {"pressed", [](Scene& s) { s.pressed = ButtonClient0; }, true},
      {"hover off, still pressed", [](Scene& s) { s.hover = -1; }, true},
      {"press ends", [](Scene& s) { s.pressed = -1; }, false},
      {"hover on the close box", [](Scene& s) { s.hover = ButtonClose; }, true},
      {"hover off", [](Scene& s) { s.hover = -1; }, true},
      {"file bar at 3", [](Scene& s) { s.file = 3; }, false},
      {"file bar at 4", [](Scene& s) { s.file = 4; }, true},  // its first pixel
      {"total bar at 500", [](Scene& s) { s.total = 500; }, true},
      {"total bar at 501", [](Scene& s) { s.total = 501; }, false},  // still 162 pixels
      {"headline", [](Scene& s) { s.headline = u"Verificação concluída."; }, true},
      {"detail", [](Scene& s) { s.detail = u"Nenhum arquivo alterado."; }, true},
      {"error on", [](Scene& s) { s.error = true; }, true},
      {"error off", [](Scene& s) { s.error = false; }, true},
      {"busy on", [](Scene& s) { s.busy = true; }, true},
      {"hover over a dimmed button", [](Scene& s) { s.hover = ButtonVerify; }, false},
      {"busy off", [](Scene& s) { s.busy = false; }, true},
      {"installed", [](Scene& s) { s.installed1 = true; }, true},
  };
  Scene s;
  Apply(s);
  UpdateKeptFrame(WidgetState{});  // whatever an earlier test left is replaced
  Pixels before = Read(g_assets.KeptFrame);
  for (const Step& step : steps) {
    step.change(s);
    Apply(s);
    const WidgetState widgets{s.hover, s.pressed};
    const Pixels full = Render(s, false);
    EXPECT_TRUE(UpdateKeptFrame(widgets)) << step.what;
    ASSERT_TRUE(g_assets.KeptFrame) << step.what;
    const Pixels composed = Read(g_assets.KeptFrame);
    EXPECT_EQ(FirstDifference(composed, full), full.argb.size()) << step.what;
    EXPECT_EQ(FirstDifference(before, composed) != full.argb.size(), step.visible) << step.what;
    for (int again = 0; again < 2; ++again) {
      EXPECT_FALSE(UpdateKeptFrame(widgets)) << step.what;
      const Pixels copied = Read(g_assets.KeptFrame);
      const size_t first = FirstDifference(copied, full);
      EXPECT_EQ(first, full.argb.size()) << step.what << ": first difference at " << Where(first);
    }
    before = composed;
  }
  // Without a static layer the frame is drawn with every step over the one it
  // replaces, and covers it.
  GdipBitmap layer = std::move(g_assets.StaticLayer);
  s.hover = ButtonExit;
  Apply(s);
  EXPECT_TRUE(UpdateKeptFrame(WidgetState{s.hover, s.pressed}));
  g_assets.StaticLayer = std::move(layer);
  const size_t first = FirstDifference(Read(g_assets.KeptFrame), Render(s, false));
  EXPECT_EQ(first, before.argb.size()) << "no static layer: first difference at " << Where(first);
  // New static layers (the assets changed) drop the kept frame.
  KeepStaticLayers();
  EXPECT_TRUE(UpdateKeptFrame(WidgetState{s.hover, s.pressed}));
}

// The static layer goes into a frame of either 32-bit format as its bytes,
// and into no other.
TEST_F(Paint, StaticLayerCopiesIntoThirtyTwoBitFramesOnly) {
  const Pixels layer = Read(g_assets.StaticLayer);
  struct Case { PixelFormat format; bool copies; };
  const Case cases[] = {{PixelFormat32bppRGB, true}, {PixelFormat32bppPARGB, true}, {PixelFormat24bppRGB, false}};
  for (const Case& c : cases) {
    GdipBitmap frame;
    ASSERT_EQ(GdipCreateBitmapFromScan0(WindowWidth, WindowHeight, 0, c.format, nullptr, frame.put()), Ok);
    EXPECT_EQ(CopyStaticLayer(frame.get()), c.copies) << std::hex << c.format;
    if (c.copies) {
      EXPECT_EQ(FirstDifference(Read(frame), layer), layer.argb.size()) << std::hex << c.format;
    }
  }
}

TEST_F(Paint, BarsFillExactlyTheirWidthAndKeepTheOutline) {
  const Pixels empty = Render(Scene{});
  struct Case { int32_t permille; int width; };
  const Case cases[] = {{0, 0}, {3, 0}, {4, 1}, {500, 162}, {1000, 324}, {1500, 324}, {-5, 0}};
  for (const Case& c : cases) {
    Scene s;
    s.file = static_cast<uint32_t>(c.permille);
    s.total = static_cast<uint32_t>(c.permille);
    const Pixels p = Render(s);
    for (int top : {431, 457}) {
      // Every changed column is a filled one: 93 up to the last filled column.
      EXPECT_EQ(DifferingColumns(p, empty, 93, top + 1, 324, 12), c.width) << c.permille << " bar " << top;
      if (c.width > 0) {
        EXPECT_NE(p.at(93 + c.width - 1, top + 6), empty.at(93 + c.width - 1, top + 6)) << c.permille;
      }
      if (c.width < 324) {
        EXPECT_EQ(p.at(93 + c.width, top + 6), empty.at(93 + c.width, top + 6)) << c.permille;
      }
      EXPECT_TRUE(Near(p.at(200, top), ColorBarOutline)) << std::hex << p.at(200, top);
      EXPECT_TRUE(Near(p.at(92, top + 7), ColorBarOutline)) << std::hex << p.at(92, top + 7);
      EXPECT_TRUE(Near(p.at(417, top + 7), ColorBarOutline)) << std::hex << p.at(417, top + 7);
      EXPECT_TRUE(Near(p.at(300, top + 13), ColorBarOutline)) << std::hex << p.at(300, top + 13);
    }
  }
  // The gradient is fixed to the rows: a column's colour does not depend on the progress.
  Scene half, full;
  half.file = 500;
  full.file = 1000;
  const Pixels a = Render(half), b = Render(full);
  for (int y = 432; y < 444; ++y) EXPECT_EQ(a.at(150, y), b.at(150, y)) << y;
  EXPECT_TRUE(Near(b.at(200, 432), ColorGold, 24)) << std::hex << b.at(200, 432);
  EXPECT_TRUE(Near(b.at(200, 443), ColorFileBarBottom, 24)) << std::hex << b.at(200, 443);
}

TEST_F(Paint, BusyDimsTheClientAndVerifyButtonsOnlyAndTheExitReadsCancelar) {
  Scene idle, busy;
  busy.busy = true;
  busy.hover = ButtonClient0;  // disabled buttons show no hover
  busy.pressed = ButtonClient0;
  const Pixels a = Render(idle), b = Render(busy);
  for (int button : {0, 1, 2}) {
    const ButtonRect& r = ButtonRects[button];
    const int x = r.left + 10, y = r.bottom - 3;
    EXPECT_TRUE(Near(b.at(x, y), Over(a.at(x, y), ColorDimLayer))) << button << std::hex << " " << b.at(x, y);
    const int w = r.right - r.left, h = r.bottom - r.top;
    EXPECT_EQ(CountNear(b, r.left, r.top, w, h, ColorGold), 0) << button;
    EXPECT_GT(CountNear(b, r.left, r.top, w, h, ColorMuted), 3) << button;
    EXPECT_GT(CountNear(a, r.left, r.top, w, h, ColorGold), 3) << button;
  }
  const ButtonRect& exit = ButtonRects[ButtonExit];
  EXPECT_EQ(a.at(exit.left + 10, exit.bottom - 3), b.at(exit.left + 10, exit.bottom - 3));
  // "Cancelar" inks more columns in gold than "Sair".
  auto inkedColumns = [&](const Pixels& p) {
    int n = 0;
    for (int x = exit.left; x < exit.right; ++x) n += CountNear(p, x, exit.top, 1, 34, ColorGold) > 0;
    return n;
  };
  EXPECT_GT(inkedColumns(b), inkedColumns(a) * 3 / 2);
  EXPECT_GT(inkedColumns(a), 5);
}

TEST_F(Paint, HoverAndPressedLayers) {
  for (bool busy : {false, true}) {
    Scene normal, hover, pressed, pressedElsewhere;
    normal.busy = hover.busy = pressed.busy = pressedElsewhere.busy = busy;
    hover.hover = pressed.hover = pressed.pressed = ButtonExit;
    pressedElsewhere.pressed = ButtonExit;  // pressed, then dragged off: normal look
    const Pixels n = Render(normal), h = Render(hover), p = Render(pressed), e = Render(pressedElsewhere);
    const ButtonRect& r = ButtonRects[ButtonExit];
    const int x = r.left + 10, y = r.bottom - 3;
    EXPECT_NE(n.at(x, y), h.at(x, y));
    EXPECT_TRUE(Near(p.at(x, y), Over(h.at(x, y), ColorPressedLayer))) << std::hex << p.at(x, y);
    EXPECT_EQ(e.at(x, y), n.at(x, y));
  }
  Scene hover;
  hover.hover = ButtonClient1;
  const Pixels h = Render(hover), n = Render(Scene{});
  EXPECT_NE(h.at(560, 437), n.at(560, 437));
  EXPECT_EQ(h.at(440, 437), n.at(440, 437));
}

TEST_F(Paint, StatusLinesTakeTheErrorColourTogether) {
  for (bool error : {false, true}) {
    Scene s;
    s.error = error;
    s.headline = u"Falha na conexão com o servidor.";
    s.detail = u"Tente novamente em instantes.";
    const Pixels p = Render(s);
    EXPECT_EQ(CountNear(p, 30, 391, 390, 18, ColorError) > 3, error);
    EXPECT_EQ(CountNear(p, 30, 391, 390, 18, ColorGold) > 3, !error);
    EXPECT_EQ(CountNear(p, 30, 409, 390, 16, ColorError) > 3, error);
    EXPECT_EQ(CountNear(p, 30, 409, 390, 16, ColorMuted) > 3, !error);
  }
}

TEST_F(Paint, WindowBoxesFillUnderTheMouseOnly) {
  struct Case { int hover; uint32_t minimize, close; };
  const Case cases[] = {
      {-1, ColorBoxFill, ColorBoxFill},
      {ButtonMinimize, ColorMinimizeHot, ColorBoxFill},
      {ButtonClose, ColorBoxFill, ColorCloseHot},
      {ButtonExit, ColorBoxFill, ColorBoxFill},
  };
  const Pixels below = Read(g_assets.StaticLayer);
  for (const Case& c : cases) {
    for (bool busy : {false, true}) {
      Scene s;
      s.hover = c.hover;
      s.busy = busy;
      const Pixels p = Render(s);
      EXPECT_TRUE(Near(p.at(624, 35), Over(below.at(624, 35), c.minimize))) << c.hover << std::hex << " " << p.at(624, 35);
      EXPECT_TRUE(Near(p.at(644, 35), Over(below.at(644, 35), c.close))) << c.hover << std::hex << " " << p.at(644, 35);
      for (int x : {622, 642}) {
        EXPECT_TRUE(Near(p.at(x, 40), ColorBoxOutline)) << std::hex << p.at(x, 40);
        EXPECT_TRUE(Near(p.at(x + 8, 32), ColorBoxOutline)) << std::hex << p.at(x + 8, 32);
      }
      EXPECT_TRUE(Near(p.at(630, 45), ColorGold, 40)) << std::hex << p.at(630, 45);
      EXPECT_TRUE(Near(p.at(650, 40), ColorGold, 60)) << std::hex << p.at(650, 40);  // centre of the cross
    }
  }
}

TEST_F(Paint, StatesAsPicturesForTheEye) {
  struct Shot { const char* name; Scene scene; };
  const Shot shots[] = {
      {"idle", {false, false, true, false, 0, 0, -1, -1, u"Tudo pronto.", u"Escolha um cliente para jogar."}},
      {"busy", {true, false, false, false, 0, 0, 3, -1, kTextConnecting, u""}},
      {"error", {false, true, false, false, 0, 0, -1, -1, kTextTaskNotStarted,
                 u"Verificação de arquivos: conexão recusada (ação necessária)"}},
      {"downloading", {true, false, false, false, 420, 135, -1, -1, u"Baixando atualização do OTClient...",
                       u"12,5 de 40,0 MB"}},
  };
  for (const Shot& shot : shots) {
    Apply(shot.scene);
    GdipBitmap frame = ComposeFrame(CurrentFrameInputs(WidgetState{shot.scene.hover, shot.scene.pressed}), true);
    SavePng(frame, shot.name);
  }
}

TEST_F(Paint, FontChoiceOfThisPrefix) {
  const LabelFamily display = ChooseLabelFamily(true), system = ChooseLabelFamily(false);
  EXPECT_EQ(display.pick, FontPick::Display);
#ifdef MORVEL_PREFIX_HAS_TAHOMA
  EXPECT_EQ(system.pick, FontPick::Tahoma);
#else
  EXPECT_EQ(system.pick, FontPick::Display);  // no installed family: the fourth rule
#endif
  EXPECT_TRUE(system.family);
}

// At every scale the kept layer and looks give the bytes every step draws,
// and a bar fills exactly the scaled columns of its progress.
TEST_F(Paint, EveryScaleKeepsWhatEveryStepDraws) {
  std::vector<Scene> scenes = {{}, {true, false, false, true, 500, 4, 3, 3}, {false, true, true, true, 1000, 0, 5, -1}};
  for (int button = 0; button < 4; ++button) scenes.push_back({false, false, false, false, 0, 0, button, button});
  for (int dpi : {120, 144, 192}) {
    UseDpi(dpi);
    const Layout& l = g_assets.layout;
    for (const Scene& s : scenes) {
      const Pixels kept = Render(s, true), full = Render(s, false);
      ASSERT_EQ(kept.width * 10000 + kept.height, l.width * 10000 + l.height) << dpi;
      const size_t first = FirstDifference(kept, full);
      EXPECT_EQ(first, kept.argb.size()) << dpi << " DPI, hover " << s.hover << ": first difference at x "
                                         << first % l.width << " y " << first / l.width;
    }
    Scene half;
    half.file = 500;
    const Pixels empty = Render(Scene{}), filled = Render(half);
    const PixelBox fill = ProgressFill(l, l.fileBar, 500);
    const int row = (fill.top + fill.bottom) / 2;
    for (int x = l.fileBar.full.left; x < l.fileBar.full.right; ++x)
      EXPECT_EQ(filled.at(x, row) != empty.at(x, row), x < fill.right) << dpi << " DPI, column " << x;
  }
  UseDpi(96);
}

// A frame picture whose nine slices are each one flat colour, at either
// size: drawn at any scale, every pixel of a slice's place is exactly that
// slice's colour, so none is left undrawn (the dark lines that once cut the
// frame at its joins) and none mixes in a pixel from beyond its slice.
TEST_F(Paint, FrameSlicesDrawEveryPixelFromTheirOwnSliceOnly) {
  const uint32_t colours[9] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF,
                               0xFFFF00FF, 0xFF808080, 0xFFFFFFFF, 0xFF804000};
  auto flat = [&](int scale) {
    const int w = 222 * scale, h = 359 * scale, border = 30 * scale;
    GdipBitmap bitmap;
    GdipCreateBitmapFromScan0(w, h, 0, PixelFormat32bppARGB, nullptr, bitmap.put());
    GpRect all(0, 0, w, h);
    BitmapData data = {};
    GdipBitmapLockBits(bitmap.get(), &all, ImageLockModeWrite, PixelFormat32bppARGB, &data);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int column = x < border ? 0 : x < w - border ? 1 : 2, row = y < border ? 0 : y < h - border ? 1 : 2;
        static_cast<uint32_t*>(data.Scan0)[y * data.Stride / 4 + x] = colours[row * 3 + column];
      }
    GdipBitmapUnlockBits(bitmap.get(), &data);
    return bitmap;
  };
  GdipBitmap once = std::move(g_assets.FrameImage), twice = std::move(g_assets.FrameImage2x);
  g_assets.FrameImage = flat(1);
  g_assets.FrameImage2x = flat(2);
  for (int dpi : {96, 120, 144, 168, 192, 216, 240, 288}) {
    UseDpi(dpi);
    const Layout& l = g_assets.layout;
    GdipBitmap canvas;
    GdipCreateBitmapFromScan0(l.width, l.height, 0, PixelFormat32bppPARGB, nullptr, canvas.put());
    {
      GdipGraphics graphics;
      GdipGetImageGraphicsContext(canvas.get(), graphics.put());
      SetUpGraphics(graphics.get());
      DrawFrameSlices(graphics.get(), true);
      DrawFrameSlices(graphics.get(), false);
    }
    const Pixels p = Read(canvas);
    const auto cells = FrameSliceCells(l, 222 * l.pictureScale, 359 * l.pictureScale, 30 * l.pictureScale);
    int wrong = 0;
    std::string first;
    for (int i = 0; i < 9; ++i) {
      const SliceCell& c = cells[i];
      for (int y = c.dy; y < c.dy + c.dh; ++y)
        for (int x = c.dx; x < c.dx + c.dw; ++x)
          if (p.at(x, y) != colours[i] && wrong++ == 0) first = std::to_string(p.at(x, y)) + " in cell " + std::to_string(i) + " x " +
                                                                  std::to_string(x) + " y " + std::to_string(y);
    }
    EXPECT_EQ(wrong, 0) << dpi << " DPI, first at " << first;
  }
  g_assets.FrameImage = std::move(once);
  g_assets.FrameImage2x = std::move(twice);
  UseDpi(96);
}

// Last: takes the frame and the font away from the assets.
TEST_F(Paint, ZMissingFrameAndFontResources) {
  const Pixels framed = Render(Scene{});
  EXPECT_NE(framed.at(5, 5), ColorBackdrop);

  g_assets.FrameImage.reset();
  KeepStaticLayers();
  const Pixels bare = Render(Scene{});
  EXPECT_EQ(bare.at(5, 5), ColorBackdrop);
  EXPECT_EQ(bare.at(680, 500), ColorBackdrop);
  EXPECT_EQ(bare.at(344, 200), framed.at(344, 200));  // the scene is still drawn

  // A module without RCDATA 6 leaves the display font empty.
  UpdateKeptFrame(WidgetState{});
  g_assets.DisplayFontFamily.reset();
  g_assets.DisplayFontCollection.reset();
  LoadDisplayFont(GetModuleHandleW(L"kernel32.dll"));
  EXPECT_FALSE(g_assets.DisplayFontCollection || g_assets.DisplayFontFamily);
  // The labels fall back to another family: the kept frame is not shown again.
  EXPECT_TRUE(UpdateKeptFrame(WidgetState{}));
  EXPECT_EQ(FirstDifference(Read(g_assets.KeptFrame), Render(Scene{}, false)), framed.argb.size());

  Scene blank;
  blank.headline = u"";
  Scene titled;
  titled.headline = u"Verificação concluída.";
  const Pixels a = Render(blank), b = Render(titled);
  const bool anyFamily = bool(ChooseLabelFamily(false).family);
#ifdef MORVEL_PREFIX_HAS_TAHOMA
  EXPECT_TRUE(anyFamily);
#endif
  // With no family at all a label draws nothing; with one, the title shows.
  EXPECT_EQ(DifferingColumns(a, b, 30, 391, 390, 19) > 0, anyFamily);
}

}  // namespace

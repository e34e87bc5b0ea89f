#include <gtest/gtest.h>

#include "app/launcher_state.h"
#include "app/texts.h"
#include "ui/frame_inputs.h"
#include "ui/input.h"
#include "ui/layout.h"

namespace {

TEST(UiLayout, HitTestFindsEachButtonAtItsEdgesAndNothingOutside) {
  struct Case { int x, y, want; };
  const Case cases[] = {
      {430, 394, 0}, {543, 439, 0}, {544, 394, -1}, {430, 440, -1}, {429, 400, -1},
      {550, 394, 1}, {663, 439, 1}, {664, 439, -1}, {547, 420, -1},
      {430, 446, 2}, {543, 479, 2}, {430, 480, -1},
      {550, 446, 3}, {663, 479, 3}, {600, 443, -1},
      {622, 32, 4}, {639, 49, 4}, {640, 40, -1}, {641, 40, -1},
      {642, 32, 5}, {659, 49, 5}, {660, 49, -1}, {650, 31, -1}, {650, 50, -1},
      {0, 0, -1}, {-5, -5, -1}, {344, 200, -1}, {687, 505, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(HitTestButtons(LayoutForDpi(96), c.x, c.y), c.want) << c.x << "," << c.y;
}

TEST(UiLayout, LooksFollowBusyHoverAndPress) {
  using L = ButtonLook;
  struct Case { int button; bool busy; int hover, pressed; L want; };
  const Case cases[] = {
      {0, false, -1, -1, L::Normal}, {0, false, 0, -1, L::Hover}, {0, false, 0, 0, L::Pressed},
      {0, false, 1, 0, L::Normal},   {0, false, -1, 0, L::Normal}, {0, false, 0, 1, L::Hover},
      {0, true, 0, 0, L::Disabled},  {1, true, -1, -1, L::Disabled}, {2, true, 2, -1, L::Disabled},
      {2, false, 2, 2, L::Pressed},  {3, true, -1, -1, L::Normal}, {3, true, 3, -1, L::Hover},
      {3, true, 3, 3, L::Pressed},   {3, false, 3, 3, L::Pressed}, {1, false, 1, -1, L::Hover},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LookOfButton(c.button, c.busy, c.hover, c.pressed), c.want)
        << c.button << " busy=" << c.busy << " hover=" << c.hover << " pressed=" << c.pressed;
  }
}

TEST(UiLayout, EachLookHasItsFaceLayerAndColours) {
  struct Case { ButtonLook look; bool hoverFace; uint32_t layer, caption, second; };
  const Case cases[] = {
      {ButtonLook::Normal, false, 0, ColorGold, ColorLight},
      {ButtonLook::Hover, true, 0, ColorGold, ColorLight},
      {ButtonLook::Pressed, true, 0x46000000, ColorGold, ColorLight},
      {ButtonLook::Disabled, false, 0x9608090B, ColorMuted, ColorMuted},
  };
  for (const Case& c : cases) {
    const ButtonStyle s = StyleOfLook(c.look);
    EXPECT_EQ(s.hoverFace, c.hoverFace);
    EXPECT_EQ(s.layer, c.layer);
    EXPECT_EQ(s.caption, c.caption);
    EXPECT_EQ(s.secondLine, c.second);
  }
  EXPECT_EQ(WindowBoxFill(ButtonMinimize, -1), 0xD7111517u);
  EXPECT_EQ(WindowBoxFill(ButtonMinimize, ButtonClose), 0xD7111517u);
  EXPECT_EQ(WindowBoxFill(ButtonMinimize, ButtonMinimize), 0xEB46381Eu);
  EXPECT_EQ(WindowBoxFill(ButtonClose, ButtonClose), 0xEB963223u);
  EXPECT_EQ(WindowBoxFill(ButtonClose, ButtonMinimize), 0xD7111517u);
}

TEST(UiLayout, ProgressFillStartsAtOnePixelAndStopsAtFull) {
  struct Case { int32_t permille; int width; };
  const Case cases[] = {
      {0, 0}, {3, 0}, {4, 1}, {6, 1}, {7, 2}, {500, 162}, {999, 323}, {1000, 324}, {1001, 324},
      {1500, 324}, {-5, 0}, {INT32_MIN, 0}, {INT32_MAX, 324}, {10000000, 324},
  };
  for (const Case& c : cases) EXPECT_EQ(ProgressFillWidth(c.permille), c.width) << c.permille;
}

TEST(UiLayout, FrameSlicesMapThirtyPixelBordersOntoTwentySix) {
  const auto cells = FrameSliceCells(LayoutForDpi(96), 222, 359, 30);
  struct Case { int index; SliceCell want; };
  const Case cases[] = {
      {0, {0, 0, 30, 30, 0, 0, 26, 26}},
      {1, {30, 0, 162, 30, 26, 0, 636, 26}},
      {2, {192, 0, 30, 30, 662, 0, 26, 26}},
      {3, {0, 30, 30, 299, 0, 26, 26, 454}},
      {4, {30, 30, 162, 299, 26, 26, 636, 454}},
      {5, {192, 30, 30, 299, 662, 26, 26, 454}},
      {6, {0, 329, 30, 30, 0, 480, 26, 26}},
      {7, {30, 329, 162, 30, 26, 480, 636, 26}},
      {8, {192, 329, 30, 30, 662, 480, 26, 26}},
  };
  for (const Case& c : cases) {
    const SliceCell& g = cells[c.index];
    const SliceCell& w = c.want;
    EXPECT_EQ((std::array<int, 8>{g.sx, g.sy, g.sw, g.sh, g.dx, g.dy, g.dw, g.dh}),
              (std::array<int, 8>{w.sx, w.sy, w.sw, w.sh, w.dx, w.dy, w.dw, w.dh}))
        << "cell " << c.index;
  }
}

TEST(UiLayout, ScalingRoundsAsMulDiv) {
  struct Case { int value, dpi, want; };
  const Case cases[] = {
      {688, 96, 688}, {688, 120, 860}, {506, 120, 633},  // 632.5 rounds up
      {506, 144, 759}, {688, 192, 1376}, {1, 120, 1}, {1, 144, 2}, {1, 192, 2},
      {26, 120, 33}, {-3, 144, -5}, {-1, 120, -1}, {0, 144, 0}, {30, 168, 53},
  };
  for (const Case& c : cases) EXPECT_EQ(ScaleToDpi(c.value, c.dpi), c.want) << c.value << " at " << c.dpi;
}

// At 96 DPI the layout is the window's own numbers; at any other scale each
// edge is scaled on its own, so what met still meets and nothing overlaps.
TEST(UiLayout, LayoutAtEachScale) {
  const Layout base = LayoutForDpi(96);
  EXPECT_EQ(base.width * 1000 + base.height, 688 * 1000 + 506);
  for (size_t b = 0; b < ButtonRects.size(); ++b) {
    EXPECT_EQ((std::array<int, 4>{base.buttons[b].left, base.buttons[b].top, base.buttons[b].right,
                                  base.buttons[b].bottom}),
              (std::array<int, 4>{ButtonRects[b].left, ButtonRects[b].top, ButtonRects[b].right,
                                  ButtonRects[b].bottom}));
  }
  struct Case { int dpi, width, height, outline, pictures; float headlineEm; PixelBox close, trough; };
  const Case cases[] = {
      {96, 688, 506, 1, 1, 13.0f, {642, 32, 660, 50}, {92, 431, 418, 445}},
      {120, 860, 633, 1, 1, 16.25f, {803, 40, 825, 63}, {115, 539, 523, 556}},
      {144, 1032, 759, 2, 2, 19.5f, {963, 48, 990, 75}, {138, 647, 627, 668}},
      {192, 1376, 1012, 2, 2, 26.0f, {1284, 64, 1320, 100}, {184, 862, 836, 890}},
      {72, 688, 506, 1, 1, 13.0f, {642, 32, 660, 50}, {92, 431, 418, 445}},  // never below the window's own size
  };
  for (const Case& c : cases) {
    const Layout l = LayoutForDpi(c.dpi);
    EXPECT_EQ(l.width, c.width) << c.dpi;
    EXPECT_EQ(l.height, c.height) << c.dpi;
    EXPECT_EQ(l.outline, c.outline) << c.dpi;
    EXPECT_EQ(l.pictureScale, c.pictures) << c.dpi;
    EXPECT_FLOAT_EQ(l.headline.emSize, c.headlineEm) << c.dpi;
    const PixelBox& close = l.buttons[ButtonClose];
    EXPECT_EQ((std::array<int, 4>{close.left, close.top, close.right, close.bottom}),
              (std::array<int, 4>{c.close.left, c.close.top, c.close.right, c.close.bottom})) << c.dpi;
    EXPECT_EQ((std::array<int, 4>{l.fileBar.trough.left, l.fileBar.trough.top, l.fileBar.trough.right,
                                  l.fileBar.trough.bottom}),
              (std::array<int, 4>{c.trough.left, c.trough.top, c.trough.right, c.trough.bottom})) << c.dpi;
    // The two client buttons stand 6 scaled pixels apart, the verify button below the first.
    EXPECT_EQ(l.buttons[ButtonClient1].left - l.buttons[ButtonClient0].right,
              ScaleToDpi(550, l.dpi) - ScaleToDpi(544, l.dpi));
    EXPECT_EQ(l.buttons[ButtonVerify].left, l.buttons[ButtonClient0].left);
    // Every button is found at its scaled corners and not one pixel outside them.
    for (int b = 0; b < 6; ++b) {
      const PixelBox& r = l.buttons[b];
      EXPECT_EQ(HitTestButtons(l, r.left, r.top), b) << c.dpi;
      EXPECT_EQ(HitTestButtons(l, r.right - 1, r.bottom - 1), b) << c.dpi;
      EXPECT_NE(HitTestButtons(l, r.right, r.top), b) << c.dpi << " button " << b;
      EXPECT_EQ(HitTestButtons(l, r.left - 1, r.bottom - 1), -1) << c.dpi << " button " << b;
      EXPECT_EQ(HitTestButtons(l, r.left, r.bottom), -1) << c.dpi << " button " << b;
    }
    // The text boxes of a client button lie inside it; the second line under the caption.
    for (int b = 0; b < 2; ++b) {
      EXPECT_GE(l.captions[b].box.top, l.buttons[b].top);
      EXPECT_LE(l.secondLines[b].box.bottom, l.buttons[b].bottom);
      EXPECT_GT(l.secondLines[b].box.top, l.captions[b].box.top);
    }
    // A started bar shows a fill, a full one covers its span, an empty one nothing.
    EXPECT_EQ(ProgressFill(l, l.fileBar, 3).right, l.fileBar.full.left);
    EXPECT_GE(ProgressFill(l, l.fileBar, 4).width(), 1);
    EXPECT_EQ(ProgressFill(l, l.fileBar, 1000).right, l.fileBar.full.right);
    EXPECT_EQ(ProgressFill(l, l.totalBar, 5000).right, l.totalBar.full.right);
    EXPECT_EQ(l.fileBar.full.left, l.fileBar.trough.left + ScaleToDpi(93, l.dpi) - ScaleToDpi(92, l.dpi));
  }
}

TEST(UiLayout, FrameSlicesTileTheWindowAtEachScale) {
  struct Case { int dpi, width, height, border; };
  const Case cases[] = {{96, 222, 359, 30}, {120, 222, 359, 30}, {144, 444, 718, 60}, {192, 444, 718, 60}};
  for (const Case& c : cases) {
    const Layout l = LayoutForDpi(c.dpi);
    const auto cells = FrameSliceCells(l, c.width, c.height, c.border);
    long area = 0;
    for (int i = 0; i < 9; ++i) {
      const SliceCell& s = cells[i];
      area += long(s.dw) * s.dh;
      // Each cell starts where the one to its left and the one above it end.
      EXPECT_EQ(s.dx, i % 3 ? cells[i - 1].dx + cells[i - 1].dw : 0) << c.dpi << " cell " << i;
      EXPECT_EQ(s.dy, i >= 3 ? cells[i - 3].dy + cells[i - 3].dh : 0) << c.dpi << " cell " << i;
      EXPECT_TRUE(s.sx + s.sw <= c.width && s.sy + s.sh <= c.height) << c.dpi << " cell " << i;
    }
    EXPECT_EQ(area, long(l.width) * l.height) << c.dpi;
    EXPECT_EQ(cells[0].sw, c.border);
    EXPECT_EQ(cells[0].dw, ScaleToDpi(26, c.dpi));
    EXPECT_EQ(cells[8].dx + cells[8].dw, l.width);
  }
}

TEST(UiLayout, FontChoiceOrder) {
  using F = FontPick;
  struct Case { bool useDisplay, display, segoe, tahoma; F want; };
  const Case cases[] = {
      {true, true, true, true, F::Display},   {true, false, true, true, F::SegoeUi},
      {true, false, false, true, F::Tahoma},  {true, false, false, false, F::Generic},
      {false, true, true, true, F::SegoeUi},  {false, true, false, true, F::Tahoma},
      {false, true, false, false, F::Display}, {false, false, false, false, F::Generic},
      {false, false, true, false, F::SegoeUi}, {true, true, false, false, F::Display},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseFont(c.useDisplay, c.display, c.segoe, c.tahoma), c.want);
}

TEST(UiInput, ReleaseActsOnlyOnThePressedEnabledButton) {
  using A = ClickAction;
  struct Case { int pressed, released; bool busy; A want; };
  const Case cases[] = {
      {0, 0, false, A::PlayOTClient}, {1, 1, false, A::PlayClassic}, {2, 2, false, A::VerifyFiles},
      {3, 3, false, A::Close},        {3, 3, true, A::Cancel},       {4, 4, false, A::Minimize},
      {4, 4, true, A::Minimize},      {5, 5, true, A::Close},        {5, 5, false, A::Close},
      {0, 0, true, A::None},          {1, 1, true, A::None},         {2, 2, true, A::None},
      {0, 1, false, A::None},         {0, -1, false, A::None},       {-1, -1, false, A::None},
      {-1, 3, false, A::None},        {5, 4, false, A::None},
  };
  for (const Case& c : cases) {
    WidgetState widgets{c.released, c.pressed};
    EXPECT_EQ(OnButtonRelease(widgets, c.released, c.busy), c.want) << c.pressed << "->" << c.released;
    EXPECT_EQ(widgets.pressedButton, -1);
    EXPECT_EQ(widgets.hoverButton, c.released);  // a release never touches the hover
  }
}

TEST(UiInput, FinishActionsAndTexts) {
  struct Case { uintptr_t action; FinishReaction want; };
  const Case cases[] = {
      {0, FinishReaction::StayOpen}, {1, FinishReaction::Close}, {2, FinishReaction::Restart},
      {3, FinishReaction::StayOpen}, {0xFFFFFFFF, FinishReaction::StayOpen},
  };
  for (const Case& c : cases) EXPECT_EQ(ReactionToFinish(c.action), c.want) << c.action;

  EXPECT_EQ(RestartCommandLine(u"C:\\Jogos\\Morvel Global\\Morvel-Global-Launcher.exe"),
            u"\"C:\\Jogos\\Morvel Global\\Morvel-Global-Launcher.exe\" --atualizado");
  EXPECT_EQ(RestartCommandLine(u""), u"\"\" --atualizado");
  EXPECT_EQ(WideString(ClientSecondLine(true)), kTextPlay);
  EXPECT_EQ(WideString(ClientSecondLine(false)), kTextInstallAndPlay);
  EXPECT_EQ(WideString(ExitCaption(true)), kTextCancel);
  EXPECT_EQ(WideString(ExitCaption(false)), kTextExit);
}

TEST(UiInput, CancelAsksTheWorkerAndClearsTheErrorLook) {
  SetStatus(u"Falha no download", u"12 de 40 MB", true);
  g_state.cancel_requested = false;
  CancelRunningTask();
  const StatusTexts texts = CopyStatus();
  EXPECT_TRUE(g_state.cancel_requested);
  EXPECT_FALSE(g_state.status_is_error);
  EXPECT_EQ(texts.headline, kTextCancelling);
  EXPECT_EQ(texts.detail, u"");
  g_state.cancel_requested = false;
}

TEST(UiFrameInputs, ReadsEveryValueAPaintDrawsFrom) {
  SetStatus(u"Baixando atualização...", u"1,5 de 40,0 MB", true);
  g_state.busy = true;
  g_state.installed[0] = false;
  g_state.installed[1] = true;
  g_state.file_permille = 420;
  g_state.total_permille = 1500;
  const FrameInputs in = ReadFrameInputs(WidgetState{ButtonExit, ButtonClient1}, FontPick::Tahoma, FontPick::Generic);
  EXPECT_EQ(in.headline, u"Baixando atualização...");
  EXPECT_EQ(in.detail, u"1,5 de 40,0 MB");
  EXPECT_TRUE(in.statusIsError && in.busy && !in.installed[0] && in.installed[1]);
  EXPECT_EQ(in.filePermille, 420);
  EXPECT_EQ(in.totalPermille, 1500);
  EXPECT_EQ(in.widgets.hoverButton, ButtonExit);
  EXPECT_EQ(in.widgets.pressedButton, ButtonClient1);
  EXPECT_EQ(in.displayLabels, FontPick::Tahoma);
  EXPECT_EQ(in.systemLabels, FontPick::Generic);
  // A value past the signed range reads as negative, as the bar takes it.
  g_state.file_permille = 0xFFFFFFFBu;
  EXPECT_EQ(ReadFrameInputs(WidgetState{}, FontPick::Display, FontPick::Display).filePermille, -5);
  SetStatus(kTextConnecting, u"", false);
  g_state.busy = false;
  g_state.installed[1] = false;
  g_state.file_permille = g_state.total_permille = 0;
}

TEST(UiFrameInputs, AnyOneChangeMakesAnotherFrame) {
  FrameInputs base;
  base.headline = u"Pronto.";
  base.detail = u"Escolha o client.";
  base.filePermille = base.totalPermille = 500;
  struct Case { const char* what; void (*change)(FrameInputs&); };
  const Case cases[] = {
      {"headline", [](FrameInputs& f) { f.headline += u"."; }},
      {"detail", [](FrameInputs& f) { f.detail = u"Escolha o client"; }},
      {"error", [](FrameInputs& f) { f.statusIsError = true; }},
      {"busy", [](FrameInputs& f) { f.busy = true; }},
      {"installed 0", [](FrameInputs& f) { f.installed[0] = true; }},
      {"installed 1", [](FrameInputs& f) { f.installed[1] = true; }},
      {"file bar", [](FrameInputs& f) { f.filePermille = 501; }},
      {"total bar", [](FrameInputs& f) { f.totalPermille = 499; }},
      {"hover", [](FrameInputs& f) { f.widgets.hoverButton = ButtonClose; }},
      {"pressed", [](FrameInputs& f) { f.widgets.pressedButton = ButtonClient0; }},
      {"display labels", [](FrameInputs& f) { f.displayLabels = FontPick::SegoeUi; }},
      {"system labels", [](FrameInputs& f) { f.systemLabels = FontPick::Tahoma; }},
  };
  const FrameInputs same = base;
  EXPECT_TRUE(same == base);
  EXPECT_FALSE(same != base);
  for (const Case& c : cases) {
    FrameInputs changed = base;
    c.change(changed);
    EXPECT_FALSE(changed == base) << c.what;
    EXPECT_TRUE(changed != base) << c.what;
  }
}

}  // namespace

#include "ui/layout.h"

const std::array<ButtonRect, 6> ButtonRects = {{
    {430, 394, 544, 440},
    {550, 394, 664, 440},
    {430, 446, 544, 480},
    {550, 446, 664, 480},
    {622, 32, 640, 50},
    {642, 32, 660, 50},
}};

int HitTestButtons(int x, int y) {
  for (int i = 0; i < static_cast<int>(ButtonRects.size()); ++i) {
    const ButtonRect& r = ButtonRects[i];
    if (r.left <= x && x < r.right && r.top <= y && y < r.bottom) return i;
  }
  return ButtonNone;
}

ButtonLook LookOfButton(int button, bool busy, int hoverButton, int pressedButton) {
  const bool enabled = button == ButtonExit || !busy;
  if (!enabled) return ButtonLook::Disabled;
  if (hoverButton != button) return ButtonLook::Normal;
  return pressedButton == button ? ButtonLook::Pressed : ButtonLook::Hover;
}

ButtonStyle StyleOfLook(ButtonLook look) {
  switch (look) {
    case ButtonLook::Hover: return {true, 0, ColorGold, ColorLight};
    case ButtonLook::Pressed: return {true, ColorPressedLayer, ColorGold, ColorLight};
    case ButtonLook::Disabled: return {false, ColorDimLayer, ColorMuted, ColorMuted};
    case ButtonLook::Normal: break;
  }
  return {false, 0, ColorGold, ColorLight};
}

uint32_t WindowBoxFill(int box, int hoverButton) {
  if (hoverButton != box) return ColorBoxFill;
  return box == ButtonMinimize ? ColorMinimizeHot : ColorCloseHot;
}

int ProgressFillWidth(int32_t permille) {
  if (permille > 1000) return BarFillWidth;
  // 64-bit product: the test stays exact for any tolerated value.
  if (permille <= 0 || int64_t{permille} * BarFillWidth <= 999) return 0;
  return permille * BarFillWidth / 1000;
}

std::array<SliceCell, 9> FrameSliceCells(int width, int height) {
  const int sxs[4] = {0, 30, width - 30, width};
  const int sys[4] = {0, 30, height - 30, height};
  const int dxs[4] = {0, 26, WindowWidth - 26, WindowWidth};
  const int dys[4] = {0, 26, WindowHeight - 26, WindowHeight};
  std::array<SliceCell, 9> cells{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      cells[i * 3 + j] = {sxs[j], sys[i], sxs[j + 1] - sxs[j], sys[i + 1] - sys[i],
                          dxs[j], dys[i], dxs[j + 1] - dxs[j], dys[i + 1] - dys[i]};
    }
  }
  return cells;
}

FontPick ChooseFont(bool useDisplayFont, bool haveDisplay, bool haveSegoeUi, bool haveTahoma) {
  if (useDisplayFont && haveDisplay) return FontPick::Display;
  if (haveSegoeUi) return FontPick::SegoeUi;
  if (haveTahoma) return FontPick::Tahoma;
  if (haveDisplay) return FontPick::Display;
  return FontPick::Generic;
}

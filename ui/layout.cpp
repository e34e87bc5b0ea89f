#include "ui/layout.h"

#include <cstddef>

const std::array<ButtonRect, 6> ButtonRects = {{
    {430, 394, 544, 440},
    {550, 394, 664, 440},
    {430, 446, 544, 480},
    {550, 446, 664, 480},
    {622, 32, 640, 50},
    {642, 32, 660, 50},
}};

int ScaleToDpi(int value, int dpi) {
  const int64_t product = int64_t{value} * dpi;
  const int64_t half = BaseDpi / 2;
  return static_cast<int>(product >= 0 ? (product + half) / BaseDpi : -((-product + half) / BaseDpi));
}

namespace {

// Each edge scaled on its own: boxes that meet at 96 DPI still meet.
PixelBox Scaled(const PixelBox& b, int dpi) {
  return {ScaleToDpi(b.left, dpi), ScaleToDpi(b.top, dpi), ScaleToDpi(b.right, dpi), ScaleToDpi(b.bottom, dpi)};
}
PixelBox At(int x, int y, int w, int h) { return {x, y, x + w, y + h}; }
TextBox Text(const PixelBox& b, float emSize, int dpi) {
  return {Scaled(b, dpi), emSize * static_cast<float>(dpi) / BaseDpi};
}
BarLayout Bar(int top, int dpi) {
  return {Scaled(At(BarLeft, top, BarFillWidth + 2, BarHeight), dpi),
          Scaled(At(BarLeft + 1, top, BarFillWidth, BarHeight), dpi),
          Scaled(At(BarLeft + 1, top + 1, BarFillWidth, BarHeight - 2), dpi)};
}

}  // namespace

Layout LayoutForDpi(int dpi) {
  if (dpi < BaseDpi) dpi = BaseDpi;  // no display draws smaller than the window itself
  Layout l;
  l.dpi = dpi;
  l.width = ScaleToDpi(WindowWidth, dpi);
  l.height = ScaleToDpi(WindowHeight, dpi);
  for (std::size_t i = 0; i < ButtonRects.size(); ++i) l.buttons[i] = Scaled(ButtonRects[i], dpi);
  l.scene = Scaled(At(24, 24, 640, 360), dpi);
  l.frameColumns = {0, ScaleToDpi(26, dpi), ScaleToDpi(WindowWidth - 26, dpi), l.width};
  l.frameRows = {0, ScaleToDpi(26, dpi), ScaleToDpi(WindowHeight - 26, dpi), l.height};
  l.headline = Text(At(30, 391, 390, 19), 13.0f, dpi);
  l.detail = Text(At(30, 409, 390, 16), 11.5f, dpi);
  l.fileLabel = Text(At(30, 428, 60, 20), 14.0f, dpi);
  l.totalLabel = Text(At(30, 454, 60, 20), 14.0f, dpi);
  l.fileBar = Bar(FileBarTop, dpi);
  l.totalBar = Bar(TotalBarTop, dpi);
  for (int b = 0; b < 4; ++b) {
    const ButtonRect& r = ButtonRects[b];
    if (b < kClientCount) {
      l.captions[b] = Text(At(r.left, r.top + 4, r.width(), 22), 18.0f, dpi);
      l.secondLines[b] = Text(At(r.left, r.top + 25, r.width(), 15), 11.5f, dpi);
    } else {
      l.captions[b] = Text(r, 13.0f, dpi);
    }
  }
  const auto point = [dpi](int x0, int y0, int x1, int y1) {
    return std::array<int, 4>{ScaleToDpi(x0, dpi), ScaleToDpi(y0, dpi), ScaleToDpi(x1, dpi), ScaleToDpi(y1, dpi)};
  };
  const ButtonRect& m = ButtonRects[ButtonMinimize];
  const ButtonRect& c = ButtonRects[ButtonClose];
  l.minimizeGlyph = point(m.left + 4, m.top + 13, m.left + 13, m.top + 13);
  l.closeGlyph = {point(c.left + 5, c.top + 5, c.left + 12, c.top + 12),
                  point(c.left + 12, c.top + 5, c.left + 5, c.top + 12)};
  l.outline = ScaleToDpi(1, dpi);
  l.glyphPen = 1.5f * static_cast<float>(dpi) / BaseDpi;
  // The nearer of the two picture sets; at 1.5 the larger one, as shrinking
  // keeps detail that enlarging cannot make.
  l.pictureScale = 2 * dpi >= 3 * BaseDpi ? 2 : 1;
  return l;
}

int HitTestButtons(const Layout& layout, int x, int y) {
  for (int i = 0; i < static_cast<int>(layout.buttons.size()); ++i) {
    const PixelBox& r = layout.buttons[i];
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

PixelBox ProgressFill(const Layout& layout, const BarLayout& bar, int32_t permille) {
  PixelBox fill = bar.full;
  fill.right = ScaleToDpi(BarLeft + 1 + ProgressFillWidth(permille), layout.dpi);
  return fill;
}

std::array<SliceCell, 9> FrameSliceCells(const Layout& layout, int width, int height, int sourceBorder) {
  const int sxs[4] = {0, sourceBorder, width - sourceBorder, width};
  const int sys[4] = {0, sourceBorder, height - sourceBorder, height};
  const auto& dxs = layout.frameColumns;
  const auto& dys = layout.frameRows;
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

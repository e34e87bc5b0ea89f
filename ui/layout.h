// The window's geometry and the choices the paint makes from the widget state:
// which button a point hits, how each button looks, how far a bar fills, how
// the frame picture is cut, which font family a text gets. No platform here.
//
// The numbers below are the window at 96 DPI. A display of another scale gets
// the same window scaled by dpi / 96, computed once by LayoutForDpi; nothing
// else multiplies.
#pragma once
#include <array>
#include <cstdint>

#include "app/client_table.h"

constexpr int WindowWidth = 688;
constexpr int WindowHeight = 506;
constexpr int BaseDpi = 96;

enum ButtonId : int {
  ButtonNone = -1,
  ButtonClient0 = 0,
  ButtonClient1 = 1,  // a button per client, in table order, before the others
  ButtonVerify = 2,
  ButtonExit = 3,
  ButtonMinimize = 4,
  ButtonClose = 5,
};
static_assert(ButtonClient1 - ButtonClient0 + 1 == kClientCount, "a client button per client");

// Right and bottom excluded, as the platform's point-in-rectangle test has them.
struct PixelBox {
  int left, top, right, bottom;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};
using ButtonRect = PixelBox;
// The buttons at 96 DPI, in hit-test order.
extern const std::array<ButtonRect, 6> ButtonRects;

// Palette (ARGB).
constexpr uint32_t ColorGold = 0xFFF2D38A;
constexpr uint32_t ColorLight = 0xFFEFE6D2;
constexpr uint32_t ColorMuted = 0xFFB8AD98;
constexpr uint32_t ColorError = 0xFFFF9C78;
constexpr uint32_t ColorBarOutline = 0xFF5C4824;
constexpr uint32_t ColorBoxOutline = 0xFFD9A441;
constexpr uint32_t ColorBackdrop = 0xFF050709;
constexpr uint32_t ColorTrough = 0xC8000000;
constexpr uint32_t ColorFileBarBottom = 0xFFB08032;
constexpr uint32_t ColorTotalBarTop = 0xFFF0BE5A;
constexpr uint32_t ColorTotalBarBottom = 0xFFA06419;
constexpr uint32_t ColorDimLayer = 0x9608090B;
constexpr uint32_t ColorPressedLayer = 0x46000000;
constexpr uint32_t ColorBoxFill = 0xD7111517;
constexpr uint32_t ColorMinimizeHot = 0xEB46381E;
constexpr uint32_t ColorCloseHot = 0xEB963223;
constexpr uint32_t ColorAttributes = 0xFF000000;

enum class ButtonLook { Normal, Hover, Pressed, Disabled };
constexpr int ButtonLookCount = 4;

// Look of a text button (0..3): only busy and the widget state decide it.
ButtonLook LookOfButton(int button, bool busy, int hoverButton, int pressedButton);

struct ButtonStyle {
  bool hoverFace;       // the hover picture in place of the normal one
  uint32_t layer;       // 0 for no layer over the face
  uint32_t caption;
  uint32_t secondLine;
};
ButtonStyle StyleOfLook(ButtonLook look);

// Fill of the minimize (4) or close (5) box; busy plays no part.
uint32_t WindowBoxFill(int box, int hoverButton);

// The two progress bars: a trough BarHeight high from BarLeft, outlined, and a
// fill of up to BarFillWidth pixels one pixel inside it.
constexpr int BarLeft = 92;
constexpr int BarFillWidth = 324;
constexpr int BarHeight = 14;
constexpr int FileBarTop = 431;
constexpr int TotalBarTop = 457;

// Filled width in pixels of a bar's fill at 96 DPI for a progress in
// thousandths; values outside 0..1000 are tolerated.
int ProgressFillWidth(int32_t permille);

// A length of the 96-DPI window at dpi, rounded to the nearest pixel with
// halves away from zero, as the platform's MulDiv(value, dpi, 96) rounds.
int ScaleToDpi(int value, int dpi);

struct TextBox {
  PixelBox box;
  float emSize;  // pixels
};

struct BarLayout {
  PixelBox trough;  // filled with the trough colour, outlined
  PixelBox span;    // the gradient's rows and columns
  PixelBox full;    // the fill at full progress, inside the outline
};

// Everything the paint and the hit-test place, at one DPI, as LayoutForDpi
// makes it. At 96 it holds the numbers above exactly.
struct Layout {
  int dpi = 0;
  int width = 0, height = 0;           // the client area, the whole window
  std::array<PixelBox, 6> buttons{};  // by ButtonId
  PixelBox scene{};
  // Destination grid of the nine-slice frame: columns and rows.
  std::array<int, 4> frameColumns{}, frameRows{};
  TextBox headline{}, detail{}, fileLabel{}, totalLabel{};
  BarLayout fileBar{}, totalBar{};
  // The two lines of a client button (0, 1) and the one line of the others (2, 3).
  std::array<TextBox, 4> captions{};
  std::array<TextBox, kClientCount> secondLines{};
  // The minimize bar and the two strokes of the close cross, as x0, y0, x1, y1.
  std::array<int, 4> minimizeGlyph{};
  std::array<std::array<int, 4>, 2> closeGlyph{};
  int outline = 0;        // width of every outline, whole pixels
  float glyphPen = 0;     // width of the window boxes' strokes
  int pictureScale = 0;   // 1 or 2: which set of pictures suits this scale best
};

Layout LayoutForDpi(int dpi);

// The first button, in table order, whose rectangle holds the point; -1 if none.
int HitTestButtons(const Layout& layout, int x, int y);

// The part of a bar's full fill that a progress in thousandths covers; empty
// (right = left) when there is no fill.
PixelBox ProgressFill(const Layout& layout, const BarLayout& bar, int32_t permille);

// One cell of the nine-slice frame: source and destination rectangles.
struct SliceCell {
  int sx, sy, sw, sh;
  int dx, dy, dw, dh;
};
// Cells row by row for a frame picture of width x height whose borders are
// sourceBorder pixels, onto the layout's grid; index 4 is the centre.
std::array<SliceCell, 9> FrameSliceCells(const Layout& layout, int width, int height, int sourceBorder);

enum class FontPick { Display, SegoeUi, Tahoma, Generic };
FontPick ChooseFont(bool useDisplayFont, bool haveDisplay, bool haveSegoeUi, bool haveTahoma);

#include "ui/paint_win32.h"

#include <algorithm>
#include <cstring>

#include "app/client_table.h"
#include "app/texts.h"
#include "app/win32_text.h"
#include "ui/assets_win32.h"
#include "ui/layout.h"

namespace {

GdipImageAttributes TileFlipAttributes() {
  GdipImageAttributes attributes;
  GdipCreateImageAttributes(attributes.put());
  GdipSetImageAttributesWrapMode(attributes.get(), WrapModeTileFlipXY, ColorAttributes, FALSE);
  return attributes;
}

void FillRect(GpGraphics* graphics, ARGB colour, int x, int y, int width, int height) {
  GdipSolidBrush brush;
  GdipCreateSolidFill(colour, brush.put());
  GdipFillRectangleI(graphics, brush.get(), x, y, width, height);
}

void FillBox(GpGraphics* graphics, ARGB colour, const PixelBox& b) {
  FillRect(graphics, colour, b.left, b.top, b.width(), b.height());
}

// An outline of the given width lying inside the box: the pen runs down the
// middle of the outline's pixels, so each is covered whole.
void DrawOutline(GpGraphics* graphics, ARGB colour, const PixelBox& b, int width) {
  GdipPen pen;
  GdipCreatePen1(colour, static_cast<REAL>(width), UnitPixel, pen.put());
  const REAL inset = (width - 1) / 2.0f;
  GdipDrawRectangle(graphics, pen.get(), b.left + inset, b.top + inset, static_cast<REAL>(b.width() - width),
                    static_cast<REAL>(b.height() - width));
}

RectF ToRectF(const PixelBox& b) {
  return RectF(static_cast<REAL>(b.left), static_cast<REAL>(b.top), static_cast<REAL>(b.width()),
               static_cast<REAL>(b.height()));
}

}  // namespace

GdipBitmap NewFrameBitmap(PixelFormat format) {
  GdipBitmap bitmap;
  GdipCreateBitmapFromScan0(g_assets.layout.width, g_assets.layout.height, 0, format, nullptr, bitmap.put());
  return bitmap;
}

namespace {

// The picture of the size the layout's scale wants; the first size when the
// second is missing (the first missing is drawn around, as always).
GpBitmap* Picture(const GdipBitmap& once, const GdipBitmap& twice) {
  return g_assets.layout.pictureScale == 2 && twice ? twice.get() : once.get();
}

// A graphics on a frame with the settings of every composition; empty on failure.
GdipGraphics FrameGraphics(GpBitmap* frame) {
  GdipGraphics graphics;
  if (frame) GdipGetImageGraphicsContext(frame, graphics.put());
  if (graphics) SetUpGraphics(graphics.get());
  return graphics;
}

// A text button's face picture stretched onto its rectangle, then its layer.
void DrawButtonFace(GpGraphics* graphics, int button, const ButtonStyle& style) {
  const PixelBox& r = g_assets.layout.buttons[button];
  const int x = r.left, y = r.top, w = r.width(), h = r.height();
  GpBitmap* hover = Picture(g_assets.ButtonHoverImage, g_assets.ButtonHoverImage2x);
  GpBitmap* face = style.hoverFace && hover ? hover : Picture(g_assets.ButtonImage, g_assets.ButtonImage2x);
  if (face) {
    UINT faceWidth = 0, faceHeight = 0;
    GdipGetImageWidth(face, &faceWidth);
    GdipGetImageHeight(face, &faceHeight);
    GdipImageAttributes attributes = TileFlipAttributes();
    GdipDrawImageRectRectI(graphics, face, x, y, w, h, 0, 0, static_cast<INT>(faceWidth),
                           static_cast<INT>(faceHeight), UnitPixel, attributes.get(), nullptr, nullptr);
  }
  if (style.layer) FillRect(graphics, style.layer, x, y, w, h);
}

// One cell of the nine-slice frame. The platform's filter reads one source
// pixel past the slice wherever it enlarges, and its single-precision mapping
// can put a cell's first row or column a hair before the slice and drop it
// (the dark lines that cut the frame at its joins). So a slice's outermost
// pixels, as many as one source pixel covers, are drawn from a copy of the
// slice alone, whose tile-flip wrap mirrors its own edge, from a quarter
// pixel early: more than the rounding's error at any scale the pixel test
// walks (up to 300%). The inside keeps the direct mapping from the whole
// picture, as it has always been drawn.
void DrawSlice(GpGraphics* graphics, GpBitmap* frame, const SliceCell& c, GpImageAttributes* attributes) {
  const int rimX = std::max(1, (c.dw + c.sw - 1) / c.sw), rimY = std::max(1, (c.dh + c.sh - 1) / c.sh);
  const bool hasInside = c.dw > 2 * rimX && c.dh > 2 * rimY;
  if (hasInside) {
    GdipSetClipRectI(graphics, c.dx + rimX, c.dy + rimY, c.dw - 2 * rimX, c.dh - 2 * rimY, CombineModeReplace);
    GdipDrawImageRectRectI(graphics, frame, c.dx, c.dy, c.dw, c.dh, c.sx, c.sy, c.sw, c.sh, UnitPixel, attributes,
                           nullptr, nullptr);
  }
  GdipBitmap slice;
  if (GdipCloneBitmapAreaI(c.sx, c.sy, c.sw, c.sh, PixelFormat32bppARGB, frame, slice.put()) == Ok) {
    GdipSetClipRectI(graphics, c.dx, c.dy, c.dw, c.dh, CombineModeReplace);
    if (hasInside) {
      GdipSetClipRectI(graphics, c.dx + rimX, c.dy + rimY, c.dw - 2 * rimX, c.dh - 2 * rimY, CombineModeExclude);
    }
    // Both rectangles start early by the same share, so the mapping stays the
    // inside's; the source's start lies in the wrap's mirror of the slice.
    constexpr REAL early = 0.25f;
    const REAL sx = early * c.sw / c.dw, sy = early * c.sh / c.dh;
    GdipDrawImageRectRect(graphics, slice.get(), c.dx - early, c.dy - early, c.dw + early, c.dh + early, -sx, -sy,
                          c.sw + sx, c.sh + sy, UnitPixel, attributes, nullptr, nullptr);
  }
  GdipResetClip(graphics);
}

}  // namespace

bool DrawFrame(GpBitmap* frame, const FrameInputs& inputs, bool fromStaticLayer) {
  const bool overStaticLayer = fromStaticLayer && CopyStaticLayer(frame);
  GdipGraphics graphics = FrameGraphics(frame);
  if (!graphics) return false;
  if (!overStaticLayer) DrawStaticLayers(graphics.get());
  DrawStateLayers(graphics.get(), inputs, overStaticLayer);
  return true;
}

namespace {

GpFontFamily* GenericFamily() {
  if (!g_assets.genericLookedUp) {
    g_assets.genericLookedUp = true;
    GdipGetGenericFontFamilySansSerif(g_assets.GenericFontFamily.put());
  }
  return g_assets.GenericFontFamily.get();
}

}  // namespace

bool CopyStaticLayer(GpBitmap* frame) {
  GpBitmap* layer = g_assets.StaticLayer.get();
  PixelFormat format = 0;
  if (!layer || GdipGetImagePixelFormat(frame, &format) != Ok || GetPixelFormatSize(format) != 32) return false;
  const int width = g_assets.layout.width, height = g_assets.layout.height;
  UINT frameWidth = 0, frameHeight = 0;
  GdipGetImageWidth(frame, &frameWidth);
  GdipGetImageHeight(frame, &frameHeight);
  if (frameWidth != static_cast<UINT>(width) || frameHeight != static_cast<UINT>(height)) return false;
  GpRect all(0, 0, width, height);
  BitmapData from = {}, to = {};
  if (GdipBitmapLockBits(layer, &all, ImageLockModeRead, PixelFormat32bppPARGB, &from) != Ok) return false;
  const bool copied = GdipBitmapLockBits(frame, &all, ImageLockModeWrite, format, &to) == Ok;
  if (copied) {
    for (int y = 0; y < height; ++y)
      std::memcpy(static_cast<BYTE*>(to.Scan0) + static_cast<ptrdiff_t>(to.Stride) * y,
                  static_cast<const BYTE*>(from.Scan0) + static_cast<ptrdiff_t>(from.Stride) * y,
                  static_cast<size_t>(width) * 4);
    GdipBitmapUnlockBits(frame, &to);
  }
  GdipBitmapUnlockBits(layer, &from);
  return copied;
}

void SetUpGraphics(GpGraphics* graphics) {
  GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);
  GdipSetInterpolationMode(graphics, InterpolationModeHighQualityBicubic);
  GdipSetTextRenderingHint(graphics, TextRenderingHintAntiAliasGridFit);
}

void DrawFrameSlices(GpGraphics* graphics, bool centreOnly) {
  GpBitmap* frame = Picture(g_assets.FrameImage, g_assets.FrameImage2x);
  if (!frame) return;
  UINT width = 0, height = 0;
  GdipGetImageWidth(frame, &width);
  GdipGetImageHeight(frame, &height);
  // 30 pixels of border in the picture of 222 pixels' width, twice that in the larger one.
  const int border = frame == g_assets.FrameImage2x.get() ? 60 : 30;
  const auto cells = FrameSliceCells(g_assets.layout, static_cast<int>(width), static_cast<int>(height), border);
  GdipImageAttributes attributes = TileFlipAttributes();
  for (int index = 0; index < 9; ++index) {
    if ((index == 4) == centreOnly) DrawSlice(graphics, frame, cells[index], attributes.get());
  }
}

LabelFamily ChooseLabelFamily(bool useDisplayFont) {
  LabelFamily label;
  GdipCreateFontFamilyFromName(L"Segoe UI", nullptr, label.segoeUi.put());
  GdipCreateFontFamilyFromName(L"Tahoma", nullptr, label.tahoma.put());
  label.pick = ChooseFont(useDisplayFont, bool(g_assets.DisplayFontFamily), bool(label.segoeUi), bool(label.tahoma));
  switch (label.pick) {
    case FontPick::Display: label.family = g_assets.DisplayFontFamily.get(); break;
    case FontPick::SegoeUi: label.family = label.segoeUi.get(); break;
    case FontPick::Tahoma: label.family = label.tahoma.get(); break;
    case FontPick::Generic: label.family = GenericFamily(); break;
  }
  return label;
}

void DrawLabel(GpGraphics* graphics, const wchar_t* text, bool useDisplayFont, const TextBox& box, ARGB colour,
               StringAlignment alignment) {
  const LabelFamily label = ChooseLabelFamily(useDisplayFont);
  // With no family at all there is nothing to draw the text with.
  if (!label.family) return;

  GdipFont font;
  GdipCreateFont(label.family, box.emSize, FontStyleRegular, UnitPixel, font.put());
  GdipSolidBrush brush;
  GdipCreateSolidFill(colour, brush.put());
  GdipStringFormat format;
  GdipCreateStringFormat(0, LANG_NEUTRAL, format.put());
  GdipSetStringFormatAlign(format.get(), alignment);
  GdipSetStringFormatLineAlign(format.get(), StringAlignmentCenter);
  GdipSetStringFormatTrimming(format.get(), StringTrimmingEllipsisCharacter);
  GdipSetStringFormatFlags(format.get(), StringFormatFlagsNoWrap);
  const RectF layout = ToRectF(box.box);
  GdipDrawString(graphics, text, -1, font.get(), &layout, format.get(), brush.get());
}

void DrawProgressBar(GpGraphics* graphics, const BarLayout& bar, int32_t permille, ARGB topColour,
                     ARGB bottomColour) {
  FillBox(graphics, ColorTrough, bar.trough);
  const PixelBox fill = ProgressFill(g_assets.layout, bar, permille);
  if (fill.width() > 0) {
    // Spans the whole bar, so a pixel's colour depends on its row only.
    const RectF span = ToRectF(bar.span);
    GdipGradientBrush gradient;
    GdipCreateLineBrushFromRect(&span, topColour, bottomColour, LinearGradientModeVertical, WrapModeTile,
                                gradient.put());
    GdipFillRectangleI(graphics, gradient.get(), fill.left, fill.top, fill.width(), fill.height());
  }
  DrawOutline(graphics, ColorBarOutline, bar.trough, g_assets.layout.outline);
}

void DrawButton(GpGraphics* graphics, int button, const wchar_t* caption, const wchar_t* secondLine,
                ButtonLook look, bool overStaticLayer) {
  const Layout& layout = g_assets.layout;
  const PixelBox& r = layout.buttons[button];
  const ButtonStyle style = StyleOfLook(look);

  GpBitmap* kept = overStaticLayer ? g_assets.ButtonLooks[button][static_cast<int>(look)].get() : nullptr;
  if (kept) {
    // Opaque, and byte for byte what the face and layer give over these pixels.
    GdipSetCompositingMode(graphics, CompositingModeSourceCopy);
    GdipDrawImageI(graphics, kept, r.left, r.top);
    GdipSetCompositingMode(graphics, CompositingModeSourceOver);
  } else {
    DrawButtonFace(graphics, button, style);
  }

  DrawLabel(graphics, caption, true, layout.captions[button], style.caption, StringAlignmentCenter);
  if (secondLine) {
    DrawLabel(graphics, secondLine, false, layout.secondLines[button], style.secondLine, StringAlignmentCenter);
  }
}

void DrawWindowBox(GpGraphics* graphics, int box, const WidgetState& widgets) {
  const Layout& layout = g_assets.layout;
  const PixelBox& r = layout.buttons[box];
  FillBox(graphics, WindowBoxFill(box, widgets.hoverButton), r);
  DrawOutline(graphics, ColorBoxOutline, r, layout.outline);
  GdipPen glyph;
  GdipCreatePen1(ColorGold, layout.glyphPen, UnitPixel, glyph.put());
  auto stroke = [&](const std::array<int, 4>& p) { GdipDrawLineI(graphics, glyph.get(), p[0], p[1], p[2], p[3]); };
  if (box == ButtonMinimize) {
    stroke(layout.minimizeGlyph);
  } else {
    for (const auto& line : layout.closeGlyph) stroke(line);
  }
}

void DrawStaticLayers(GpGraphics* graphics) {
  const Layout& layout = g_assets.layout;
  FillRect(graphics, ColorBackdrop, 0, 0, layout.width, layout.height);
  DrawFrameSlices(graphics, true);
  if (GpBitmap* scene = Picture(g_assets.BackgroundImage, g_assets.BackgroundImage2x)) {
    const PixelBox& b = layout.scene;
    GdipDrawImageRectI(graphics, scene, b.left, b.top, b.width(), b.height());
  }
  DrawFrameSlices(graphics, false);
}

void DrawStateLayers(GpGraphics* graphics, const FrameInputs& in, bool overStaticLayer) {
  const Layout& layout = g_assets.layout;
  DrawLabel(graphics, WinText(in.headline), false, layout.headline, in.statusIsError ? ColorError : ColorGold,
            StringAlignmentNear);
  DrawLabel(graphics, WinText(in.detail), false, layout.detail, in.statusIsError ? ColorError : ColorMuted,
            StringAlignmentNear);
  DrawLabel(graphics, WinText(kTextFileBar), true, layout.fileLabel, ColorLight, StringAlignmentNear);
  DrawProgressBar(graphics, layout.fileBar, in.filePermille, ColorGold, ColorFileBarBottom);
  DrawLabel(graphics, WinText(kTextTotalBar), true, layout.totalLabel, ColorLight, StringAlignmentNear);
  DrawProgressBar(graphics, layout.totalBar, in.totalPermille, ColorTotalBarTop, ColorTotalBarBottom);
  auto look = [&](int button) {
    return LookOfButton(button, in.busy, in.widgets.hoverButton, in.widgets.pressedButton);
  };
  DrawButton(graphics, ButtonClient0, WinText(InfoOf(ClientKind::OTClient).label),
             WinText(ClientSecondLine(in.installed[0])), look(ButtonClient0), overStaticLayer);
  DrawButton(graphics, ButtonClient1, WinText(InfoOf(ClientKind::Classic).label),
             WinText(ClientSecondLine(in.installed[1])), look(ButtonClient1), overStaticLayer);
  DrawButton(graphics, ButtonVerify, WinText(kTextVerifyFiles), nullptr, look(ButtonVerify), overStaticLayer);
  DrawButton(graphics, ButtonExit, WinText(ExitCaption(in.busy)), nullptr, look(ButtonExit), overStaticLayer);
  DrawWindowBox(graphics, ButtonMinimize, in.widgets);
  DrawWindowBox(graphics, ButtonClose, in.widgets);
}

void KeepStaticLayers() {
  g_assets.KeptFrame.reset();
  {
    GdipBitmap bitmap = NewFrameBitmap(PixelFormat32bppPARGB);
    GdipGraphics graphics = FrameGraphics(bitmap.get());
    if (graphics) DrawStaticLayers(graphics.get());
    g_assets.StaticLayer = graphics ? std::move(bitmap) : GdipBitmap();
  }
  for (auto& looks : g_assets.ButtonLooks)
    for (GdipBitmap& look : looks) look.reset();
  if (!g_assets.StaticLayer) return;  // the buttons are then drawn with every step
  for (int look = 0; look < ButtonLookCount; ++look) {
    // The four buttons do not overlap: one canvas holds them all.
    GdipBitmap canvas = NewFrameBitmap(PixelFormat32bppPARGB);
    if (!canvas || !CopyStaticLayer(canvas.get())) continue;
    {
      GdipGraphics graphics = FrameGraphics(canvas.get());
      if (!graphics) continue;
      const ButtonStyle style = StyleOfLook(static_cast<ButtonLook>(look));
      for (int button = 0; button < 4; ++button) DrawButtonFace(graphics.get(), button, style);
    }
    for (int button = 0; button < 4; ++button) {
      const PixelBox& r = g_assets.layout.buttons[button];
      GdipCloneBitmapAreaI(r.left, r.top, r.width(), r.height(), PixelFormat32bppPARGB, canvas.get(),
                           g_assets.ButtonLooks[button][look].put());
    }
  }
}

void UseDpi(int dpi) {
  g_assets.layout = LayoutForDpi(dpi);
  KeepStaticLayers();
}

FrameInputs CurrentFrameInputs(const WidgetState& widgets) {
  // Read at every paint: the installed families are looked up once for both picks.
  GdipFontFamily segoeUi, tahoma;
  GdipCreateFontFamilyFromName(L"Segoe UI", nullptr, segoeUi.put());
  GdipCreateFontFamilyFromName(L"Tahoma", nullptr, tahoma.put());
  const bool display = bool(g_assets.DisplayFontFamily);
  return ReadFrameInputs(widgets, ChooseFont(true, display, bool(segoeUi), bool(tahoma)),
                         ChooseFont(false, display, bool(segoeUi), bool(tahoma)));
}

bool UpdateKeptFrame(const WidgetState& widgets) {
  FrameInputs inputs = CurrentFrameInputs(widgets);
  if (g_assets.KeptFrame && inputs == g_assets.KeptFrameInputs) return false;
  // Kept without its alpha: the frame is opaque throughout, so the colours
  // are the same, and Wine copies such a bitmap to the window as it is where
  // it blends a premultiplied one pixel by pixel. Composed in place, from
  // this one reading of the inputs, so the frame never shows a value its
  // inputs do not hold and a paint allocates no new frame.
  if (!g_assets.KeptFrame) g_assets.KeptFrame = NewFrameBitmap(PixelFormat32bppRGB);
  if (g_assets.KeptFrame && !DrawFrame(g_assets.KeptFrame.get(), inputs, true))
    g_assets.KeptFrame.reset();
  g_assets.KeptFrameInputs = std::move(inputs);
  return true;
}

void PaintWindow(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  UpdateKeptFrame(g_widgets);
  GdipGraphics screen;
  GdipCreateFromHDC(dc, screen.put());
  // The frame is opaque throughout: copied, not blended, it shows the same.
  GdipSetCompositingMode(screen.get(), CompositingModeSourceCopy);
  if (g_assets.KeptFrame) GdipDrawImageI(screen.get(), g_assets.KeptFrame.get(), 0, 0);
  screen.reset();
  EndPaint(window, &paint);
}

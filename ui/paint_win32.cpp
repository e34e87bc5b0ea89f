#include "ui/paint_win32.h"

#include <cstring>

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

GdipBitmap NewFrameBitmap(PixelFormat format) {
  GdipBitmap bitmap;
  GdipCreateBitmapFromScan0(WindowWidth, WindowHeight, 0, format, nullptr, bitmap.put());
  return bitmap;
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
  const ButtonRect& r = ButtonRects[button];
  const int x = r.left, y = r.top, w = r.right - r.left, h = r.bottom - r.top;
  GpBitmap* face = style.hoverFace && g_assets.ButtonHoverImage ? g_assets.ButtonHoverImage.get()
                                                                 : g_assets.ButtonImage.get();
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

// One frame drawn onto a bitmap of the window's size: from the kept static
// layer when there is one and fromStaticLayer is set, else with every step.
// Whatever the bitmap held before is covered.
bool DrawFrame(GpBitmap* frame, const FrameInputs& inputs, bool fromStaticLayer) {
  const bool overStaticLayer = fromStaticLayer && CopyStaticLayer(frame);
  GdipGraphics graphics = FrameGraphics(frame);
  if (!graphics) return false;
  if (!overStaticLayer) DrawStaticLayers(graphics.get());
  DrawStateLayers(graphics.get(), inputs, overStaticLayer);
  return true;
}

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
  GpRect all(0, 0, WindowWidth, WindowHeight);
  BitmapData from = {}, to = {};
  if (GdipBitmapLockBits(layer, &all, ImageLockModeRead, PixelFormat32bppPARGB, &from) != Ok) return false;
  const bool copied = GdipBitmapLockBits(frame, &all, ImageLockModeWrite, format, &to) == Ok;
  if (copied) {
    for (int y = 0; y < WindowHeight; ++y)
      std::memcpy(static_cast<BYTE*>(to.Scan0) + static_cast<ptrdiff_t>(to.Stride) * y,
                  static_cast<const BYTE*>(from.Scan0) + static_cast<ptrdiff_t>(from.Stride) * y, WindowWidth * 4);
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
  if (!g_assets.FrameImage) return;
  UINT width = 0, height = 0;
  GdipGetImageWidth(g_assets.FrameImage.get(), &width);
  GdipGetImageHeight(g_assets.FrameImage.get(), &height);
  const auto cells = FrameSliceCells(static_cast<int>(width), static_cast<int>(height));
  GdipImageAttributes attributes = TileFlipAttributes();
  for (int index = 0; index < 9; ++index) {
    if ((index == 4) != centreOnly) continue;
    const SliceCell& c = cells[index];
    GdipDrawImageRectRectI(graphics, g_assets.FrameImage.get(), c.dx, c.dy, c.dw, c.dh, c.sx, c.sy, c.sw, c.sh,
                           UnitPixel, attributes.get(), nullptr, nullptr);
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

void DrawLabel(GpGraphics* graphics, const wchar_t* text, bool useDisplayFont, float emSize, ARGB colour,
               RectF layout, StringAlignment alignment) {
  const LabelFamily label = ChooseLabelFamily(useDisplayFont);
  // With no family at all there is nothing to draw the text with.
  if (!label.family) return;

  GdipFont font;
  GdipCreateFont(label.family, emSize, FontStyleRegular, UnitPixel, font.put());
  GdipSolidBrush brush;
  GdipCreateSolidFill(colour, brush.put());
  GdipStringFormat format;
  GdipCreateStringFormat(0, LANG_NEUTRAL, format.put());
  GdipSetStringFormatAlign(format.get(), alignment);
  GdipSetStringFormatLineAlign(format.get(), StringAlignmentCenter);
  GdipSetStringFormatTrimming(format.get(), StringTrimmingEllipsisCharacter);
  GdipSetStringFormatFlags(format.get(), StringFormatFlagsNoWrap);
  GdipDrawString(graphics, text, -1, font.get(), &layout, format.get(), brush.get());
}

void DrawProgressBar(GpGraphics* graphics, int top, int32_t permille, ARGB topColour, ARGB bottomColour) {
  FillRect(graphics, ColorTrough, BarLeft, top, BarFillWidth + 2, BarHeight);
  const int width = ProgressFillWidth(permille);
  if (width > 0) {
    // Spans the whole bar, so a pixel's colour depends on its row only.
    const RectF span(BarLeft + 1, static_cast<REAL>(top), BarFillWidth, BarHeight);
    GdipGradientBrush gradient;
    GdipCreateLineBrushFromRect(&span, topColour, bottomColour, LinearGradientModeVertical, WrapModeTile,
                                gradient.put());
    GdipFillRectangleI(graphics, gradient.get(), BarLeft + 1, top + 1, width, BarHeight - 2);
  }
  GdipPen pen;
  GdipCreatePen1(ColorBarOutline, 1.0f, UnitPixel, pen.put());
  GdipDrawRectangleI(graphics, pen.get(), BarLeft, top, BarFillWidth + 1, BarHeight - 1);
}

void DrawButton(GpGraphics* graphics, int button, const wchar_t* caption, const wchar_t* secondLine,
                ButtonLook look, bool overStaticLayer) {
  const ButtonRect& r = ButtonRects[button];
  const int x = r.left, y = r.top, w = r.right - r.left, h = r.bottom - r.top;
  const ButtonStyle style = StyleOfLook(look);

  GpBitmap* kept = overStaticLayer ? g_assets.ButtonLooks[button][static_cast<int>(look)].get() : nullptr;
  if (kept) {
    // Opaque, and byte for byte what the face and layer give over these pixels.
    GdipSetCompositingMode(graphics, CompositingModeSourceCopy);
    GdipDrawImageI(graphics, kept, x, y);
    GdipSetCompositingMode(graphics, CompositingModeSourceOver);
  } else {
    DrawButtonFace(graphics, button, style);
  }

  const float fx = static_cast<float>(x), fy = static_cast<float>(y), fw = static_cast<float>(w);
  if (secondLine) {
    DrawLabel(graphics, caption, true, 18.0f, style.caption, RectF(fx, fy + 4, fw, 22), StringAlignmentCenter);
    DrawLabel(graphics, secondLine, false, 11.5f, style.secondLine, RectF(fx, fy + 25, fw, 15),
              StringAlignmentCenter);
  } else {
    DrawLabel(graphics, caption, true, 13.0f, style.caption, RectF(fx, fy, fw, static_cast<float>(h)),
              StringAlignmentCenter);
  }
}

void DrawWindowBox(GpGraphics* graphics, int box, const WidgetState& widgets) {
  const ButtonRect& r = ButtonRects[box];
  const int x = r.left, y = r.top, w = r.right - r.left, h = r.bottom - r.top;
  FillRect(graphics, WindowBoxFill(box, widgets.hoverButton), x, y, w, h);
  GdipPen outline;
  GdipCreatePen1(ColorBoxOutline, 1.0f, UnitPixel, outline.put());
  GdipDrawRectangleI(graphics, outline.get(), x, y, w - 1, h - 1);
  GdipPen glyph;
  GdipCreatePen1(ColorGold, 1.5f, UnitPixel, glyph.put());
  if (box == ButtonMinimize) {
    GdipDrawLineI(graphics, glyph.get(), x + 4, y + 13, x + 13, y + 13);
  } else {
    GdipDrawLineI(graphics, glyph.get(), x + 5, y + 5, x + 12, y + 12);
    GdipDrawLineI(graphics, glyph.get(), x + 12, y + 5, x + 5, y + 12);
  }
}

void DrawStaticLayers(GpGraphics* graphics) {
  FillRect(graphics, ColorBackdrop, 0, 0, WindowWidth, WindowHeight);
  DrawFrameSlices(graphics, true);
  if (g_assets.BackgroundImage) GdipDrawImageRectI(graphics, g_assets.BackgroundImage.get(), 24, 24, 640, 360);
  DrawFrameSlices(graphics, false);
}

void DrawStateLayers(GpGraphics* graphics, const FrameInputs& in, bool overStaticLayer) {
  DrawLabel(graphics, WinText(in.headline), false, 13.0f, in.statusIsError ? ColorError : ColorGold,
            RectF(30, 391, 390, 19), StringAlignmentNear);
  DrawLabel(graphics, WinText(in.detail), false, 11.5f, in.statusIsError ? ColorError : ColorMuted,
            RectF(30, 409, 390, 16), StringAlignmentNear);
  DrawLabel(graphics, L"Arquivo", true, 14.0f, ColorLight, RectF(30, 428, 60, 20), StringAlignmentNear);
  DrawProgressBar(graphics, FileBarTop, in.filePermille, ColorGold, ColorFileBarBottom);
  DrawLabel(graphics, L"Total", true, 14.0f, ColorLight, RectF(30, 454, 60, 20), StringAlignmentNear);
  DrawProgressBar(graphics, TotalBarTop, in.totalPermille, ColorTotalBarTop, ColorTotalBarBottom);
  auto look = [&](int button) {
    return LookOfButton(button, in.busy, in.widgets.hoverButton, in.widgets.pressedButton);
  };
  DrawButton(graphics, ButtonClient0, L"OTClient", WinText(ClientSecondLine(in.installed[0])), look(ButtonClient0),
             overStaticLayer);
  DrawButton(graphics, ButtonClient1, L"Tibia 8.60", WinText(ClientSecondLine(in.installed[1])),
             look(ButtonClient1), overStaticLayer);
  DrawButton(graphics, ButtonVerify, L"Verificar arquivos", nullptr, look(ButtonVerify), overStaticLayer);
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
      const ButtonRect& r = ButtonRects[button];
      GdipCloneBitmapAreaI(r.left, r.top, r.right - r.left, r.bottom - r.top, PixelFormat32bppPARGB, canvas.get(),
                           g_assets.ButtonLooks[button][look].put());
    }
  }
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

GdipBitmap ComposeFrame(const FrameInputs& inputs, bool fromStaticLayer) {
  GdipBitmap bitmap = NewFrameBitmap(PixelFormat32bppPARGB);
  if (bitmap && !DrawFrame(bitmap.get(), inputs, fromStaticLayer)) bitmap.reset();
  return bitmap;
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

// The window's paint: every frame is composed off screen and copied in one go.
#pragma once
#include "ui/gdiplus_win32.h"
#include "ui/input.h"
#include "ui/layout.h"

// The off-screen graphics settings of every composition.
void SetUpGraphics(GpGraphics* graphics);
void DrawFrameSlices(GpGraphics* graphics, bool centreOnly);
// The installed families a label may use, created for one label, and the one
// chosen (nullptr when every family is missing).
struct LabelFamily {
  GdipFontFamily segoeUi, tahoma;
  FontPick pick = FontPick::Generic;
  GpFontFamily* family = nullptr;
};
LabelFamily ChooseLabelFamily(bool useDisplayFont);
void DrawLabel(GpGraphics* graphics, const wchar_t* text, bool useDisplayFont, float emSize, ARGB colour,
               RectF layout, StringAlignment alignment);
void DrawProgressBar(GpGraphics* graphics, int top, int32_t permille, ARGB topColour, ARGB bottomColour);
// Over the kept static layer a button shows its kept look; elsewhere it
// stretches the face picture and fills the layer.
void DrawButton(GpGraphics* graphics, int button, const wchar_t* caption, const wchar_t* secondLine,
                const WidgetState& widgets, bool overStaticLayer);
void DrawWindowBox(GpGraphics* graphics, int box, const WidgetState& widgets);

// Backdrop, centre slice, scene, border slices: the layers that cannot change.
void DrawStaticLayers(GpGraphics* graphics);
// Everything drawn from the launcher's state and the widget state.
void DrawStateLayers(GpGraphics* graphics, const WidgetState& widgets, bool overStaticLayer);

// Composes the static layer (688 x 506, premultiplied; empty on failure) and
// the button looks over it into the assets, after the pictures are loaded.
void KeepStaticLayers();
// One frame off screen: from the kept static layer when there is one and
// fromStaticLayer is set, else with every step.
GdipBitmap ComposeFrame(const WidgetState& widgets, bool fromStaticLayer);

void PaintWindow(HWND window);

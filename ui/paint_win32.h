// The window's paint: every frame is composed off screen and copied in one go.
#pragma once
#include "ui/frame_inputs.h"
#include "ui/gdiplus_win32.h"
#include "ui/input.h"
#include "ui/layout.h"

// The off-screen graphics settings of every composition.
void SetUpGraphics(GpGraphics* graphics);
// Each slice is drawn from a copy of its own pixels, so that the filter at
// its edges mirrors the slice instead of reading what lies beyond it.
void DrawFrameSlices(GpGraphics* graphics, bool centreOnly);
// The installed families a label may use, created for one label, and the one
// chosen (nullptr when every family is missing).
struct LabelFamily {
  GdipFontFamily segoeUi, tahoma;
  FontPick pick = FontPick::Generic;
  GpFontFamily* family = nullptr;
};
LabelFamily ChooseLabelFamily(bool useDisplayFont);
void DrawLabel(GpGraphics* graphics, const wchar_t* text, bool useDisplayFont, const TextBox& box, ARGB colour,
               StringAlignment alignment);
void DrawProgressBar(GpGraphics* graphics, const BarLayout& bar, int32_t permille, ARGB topColour,
                     ARGB bottomColour);
// Over the kept static layer a button shows its kept look; elsewhere it
// stretches the face picture and fills the layer.
void DrawButton(GpGraphics* graphics, int button, const wchar_t* caption, const wchar_t* secondLine,
                ButtonLook look, bool overStaticLayer);
void DrawWindowBox(GpGraphics* graphics, int box, const WidgetState& widgets);

// Backdrop, centre slice, scene, border slices: the layers that cannot change.
void DrawStaticLayers(GpGraphics* graphics);
// Everything drawn from the launcher's state and the widget state, as read once.
void DrawStateLayers(GpGraphics* graphics, const FrameInputs& inputs, bool overStaticLayer);
// The kept static layer's bytes copied into a 32-bit frame of the layout's
// size, each bitmap locked in its own format so that neither is converted:
// the pixels drawing the layer would give, without Wine resampling the whole
// frame. The layer is opaque, so its bytes mean the same colours in a frame
// without alpha. False when there is no layer or a lock fails.
bool CopyStaticLayer(GpBitmap* frame);

// Composes the static layer (the layout's size, premultiplied; empty on
// failure) and the button looks over it into the assets, after the pictures
// are loaded. Drops the kept frame, which was drawn over the old ones.
void KeepStaticLayers();
// The window at another display scale: the layout and everything kept at it.
void UseDpi(int dpi);
// The launcher's state and the widget state as this paint sees them, with the
// families this prefix gives each kind of label.
FrameInputs CurrentFrameInputs(const WidgetState& widgets);
// A bitmap of the layout's size; empty on failure.
GdipBitmap NewFrameBitmap(PixelFormat format);
// One frame drawn onto a bitmap of the window's size: from the kept static
// layer when there is one and fromStaticLayer is set, else with every step.
// Whatever the bitmap held before is covered.
bool DrawFrame(GpBitmap* frame, const FrameInputs& inputs, bool fromStaticLayer);
// Brings the kept frame up to the current inputs; composes only when one of
// them differs from what the kept frame was drawn from, and then into the
// kept frame itself. Says whether it did.
bool UpdateKeptFrame(const WidgetState& widgets);

void PaintWindow(HWND window);

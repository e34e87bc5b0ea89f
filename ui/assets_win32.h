// The pictures and the display font from the executable's own resources, loaded
// once before the window exists and released after the message loop ends.
#pragma once
#include "ui/frame_inputs.h"
#include "ui/gdiplus_win32.h"
#include "ui/layout.h"

struct UiAssets {
  GdipBitmap BackgroundImage;   // IDR_SCENE
  GdipBitmap FrameImage;        // IDR_FRAME
  GdipBitmap ButtonImage;       // IDR_BUTTON
  GdipBitmap ButtonHoverImage;  // IDR_BUTTON_HOVER
  // The same four painted at twice the size, for displays of 150% and more.
  GdipBitmap BackgroundImage2x;   // IDR_SCENE_2X
  GdipBitmap FrameImage2x;        // IDR_FRAME_2X
  GdipBitmap ButtonImage2x;       // IDR_BUTTON_2X
  GdipBitmap ButtonHoverImage2x;  // IDR_BUTTON_HOVER_2X
  GdipPrivateFonts DisplayFontCollection;
  GdipFontFamily DisplayFontFamily;
  // The last resort of every label, looked up once when first needed.
  GdipFontFamily GenericFontFamily;
  bool genericLookedUp = false;
  // The display's scale everything below is drawn at; the window's thread
  // changes it when the window meets a monitor of another scale.
  Layout layout = LayoutForDpi(BaseDpi);
  // Backdrop, centre slice, scene and border slices: nothing in them changes
  // while the scale stays, so every paint starts from this copy.
  GdipBitmap StaticLayer;
  // Each text button's face and layer in each look (by ButtonLook) over the
  // static layer beneath it: Wine stretches a face far slower than it copies
  // one, and neither the pictures nor what lies under them ever change.
  GdipBitmap ButtonLooks[4][ButtonLookCount];
  // The last frame composed and what it was drawn from: an idle window shows
  // the same frame twenty times a second, and copying it costs far less than
  // composing it.
  GdipBitmap KeptFrame;
  FrameInputs KeptFrameInputs;
};
extern UiAssets g_assets;

// A bitmap decoded from RCDATA id (ui/resource_ids.h); empty when the resource is missing.
GdipBitmap LoadResourceImage(HINSTANCE instance, int id);
void LoadDisplayFont(HINSTANCE instance);
// The pictures (both sizes), then the font, then the static layer and button
// looks at 96 DPI.
void LoadUiAssets(HINSTANCE instance);
void ReleaseUiAssets();

// The pictures and the display font from the executable's own resources, loaded
// once before the window exists and released after the message loop ends.
#pragma once
#include "ui/gdiplus_win32.h"

struct UiAssets {
  GdipBitmap BackgroundImage;   // RCDATA 2
  GdipBitmap FrameImage;        // RCDATA 3
  GdipBitmap ButtonImage;       // RCDATA 4
  GdipBitmap ButtonHoverImage;  // RCDATA 5
  GdipPrivateFonts DisplayFontCollection;
  GdipFontFamily DisplayFontFamily;
  // The last resort of every label, looked up once when first needed.
  GdipFontFamily GenericFontFamily;
  bool genericLookedUp = false;
  // Backdrop, centre slice, scene and border slices: nothing in them changes
  // after start-up, so every paint starts from this copy.
  GdipBitmap StaticLayer;
  // Each text button's normal [0] and hover [1] face picture, stretched onto
  // the static layer beneath it: Wine scales a face far slower than it copies
  // one, and neither the picture nor what lies under it ever changes.
  GdipBitmap ButtonFaces[4][2];
};
extern UiAssets g_assets;

// A bitmap decoded from RCDATA id; empty when the resource is missing.
GdipBitmap LoadResourceImage(HINSTANCE instance, int id);
void LoadDisplayFont(HINSTANCE instance);
// The four pictures, then the font, then the static layer and button faces.
void LoadUiAssets(HINSTANCE instance);
void ReleaseUiAssets();

// One frame off screen, premultiplied, composed the way the paint composes its
// kept frame: from the kept static layer when there is one and fromStaticLayer
// is set, else with every step; empty on failure. The tests and the paint
// benchmark compare and time such frames.
#pragma once
#include "ui/paint_win32.h"

inline GdipBitmap ComposeFrame(const FrameInputs& inputs, bool fromStaticLayer) {
  GdipBitmap bitmap = NewFrameBitmap(PixelFormat32bppPARGB);
  if (bitmap && !DrawFrame(bitmap.get(), inputs, fromStaticLayer)) bitmap.reset();
  return bitmap;
}

// GDI+ for the window: the flat API, owners for its objects on the template of
// app/scoped_win32.h, and the session that must outlive every one of them.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "app/scoped_win32.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

template <typename T, auto Free>
struct GdipTraits {
  using Handle = T*;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle object) { return Free(object) == Ok; }
};

inline GpStatus WINGDIPAPI DeletePrivateFonts(GpFontCollection* fonts) {
  return GdipDeletePrivateFontCollection(&fonts);
}

using GdipBitmap = Scoped<GdipTraits<GpBitmap, GdipDisposeImage>>;
using GdipGraphics = Scoped<GdipTraits<GpGraphics, GdipDeleteGraphics>>;
using GdipBrush = Scoped<GdipTraits<GpBrush, GdipDeleteBrush>>;
using GdipSolidBrush = Scoped<GdipTraits<GpSolidFill, GdipDeleteBrush>>;
using GdipGradientBrush = Scoped<GdipTraits<GpLineGradient, GdipDeleteBrush>>;
using GdipPen = Scoped<GdipTraits<GpPen, GdipDeletePen>>;
using GdipFont = Scoped<GdipTraits<GpFont, GdipDeleteFont>>;
using GdipFontFamily = Scoped<GdipTraits<GpFontFamily, GdipDeleteFontFamily>>;
using GdipStringFormat = Scoped<GdipTraits<GpStringFormat, GdipDeleteStringFormat>>;
using GdipImageAttributes = Scoped<GdipTraits<GpImageAttributes, GdipDisposeImageAttributes>>;
using GdipPrivateFonts = Scoped<GdipTraits<GpFontCollection, DeletePrivateFonts>>;

// Version 1, default options; held by the entry around the assets and the window.
class GdiplusSession {
 public:
  GdiplusSession() {
    GdiplusStartupInput input;  // version 1, no debug callback, nothing suppressed
    ok_ = GdiplusStartup(&token_, &input, nullptr) == Ok;
  }
  ~GdiplusSession() {
    if (ok_) GdiplusShutdown(token_);
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  explicit operator bool() const { return ok_; }

 private:
  ULONG_PTR token_ = 0;
  bool ok_ = false;
};

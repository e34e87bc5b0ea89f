#include "ui/assets_win32.h"

#include <cstring>

#include "ui/paint_win32.h"
#include "ui/resource_ids.h"

UiAssets g_assets;

namespace {

struct GlobalMemoryTraits {
  using Handle = HGLOBAL;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle memory) { return GlobalFree(memory) == nullptr; }
};
struct StreamTraits {
  using Handle = IStream*;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle stream) { return stream->Release(), true; }
};

}  // namespace

GdipBitmap LoadResourceImage(HINSTANCE instance, int id) {
  HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!resource) return {};
  const DWORD size = SizeofResource(instance, resource);
  const void* bytes = LockResource(LoadResource(instance, resource));
  if (!bytes) return {};

  Scoped<GlobalMemoryTraits> memory(GlobalAlloc(GMEM_MOVEABLE, size));
  if (!memory) return {};
  void* block = GlobalLock(memory.get());
  if (!block) return {};
  std::memcpy(block, bytes, size);
  GlobalUnlock(memory.get());

  Scoped<StreamTraits> stream;
  if (CreateStreamOnHGlobal(memory.get(), TRUE, stream.put()) < 0) return {};
  memory.release();  // the stream frees the block with its last reference

  GdipBitmap bitmap;
  GdipCreateBitmapFromStream(stream.get(), bitmap.put());
  return bitmap;
}

void LoadDisplayFont(HINSTANCE instance) {
  HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(IDR_DISPLAY_FONT), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!resource) return;
  GdipNewPrivateFontCollection(g_assets.DisplayFontCollection.put());
  // Used in place: the resource stays mapped for the life of the process.
  const DWORD size = SizeofResource(instance, resource);
  const void* bytes = LockResource(LoadResource(instance, resource));
  if (bytes) GdipPrivateAddMemoryFont(g_assets.DisplayFontCollection.get(), bytes, static_cast<INT>(size));

  INT count = 0;
  GdipGetFontCollectionFamilyCount(g_assets.DisplayFontCollection.get(), &count);
  if (count == 0) return;
  GpFontFamily* first = nullptr;
  INT found = 0;
  GdipGetFontCollectionFamilyList(g_assets.DisplayFontCollection.get(), 1, &first, &found);
  if (found > 0 && first) GdipCloneFontFamily(first, g_assets.DisplayFontFamily.put());
}

void LoadUiAssets(HINSTANCE instance) {
  g_assets.BackgroundImage = LoadResourceImage(instance, IDR_SCENE);
  g_assets.FrameImage = LoadResourceImage(instance, IDR_FRAME);
  g_assets.ButtonImage = LoadResourceImage(instance, IDR_BUTTON);
  g_assets.ButtonHoverImage = LoadResourceImage(instance, IDR_BUTTON_HOVER);
  g_assets.BackgroundImage2x = LoadResourceImage(instance, IDR_SCENE_2X);
  g_assets.FrameImage2x = LoadResourceImage(instance, IDR_FRAME_2X);
  g_assets.ButtonImage2x = LoadResourceImage(instance, IDR_BUTTON_2X);
  g_assets.ButtonHoverImage2x = LoadResourceImage(instance, IDR_BUTTON_HOVER_2X);
  LoadDisplayFont(instance);
  KeepStaticLayers();
}

void ReleaseUiAssets() {
  g_assets.BackgroundImage.reset();
  g_assets.FrameImage.reset();
  g_assets.ButtonImage.reset();
  g_assets.ButtonHoverImage.reset();
  g_assets.BackgroundImage2x.reset();
  g_assets.FrameImage2x.reset();
  g_assets.ButtonImage2x.reset();
  g_assets.ButtonHoverImage2x.reset();
  g_assets.DisplayFontCollection.reset();
  g_assets.DisplayFontFamily.reset();
  g_assets.GenericFontFamily.reset();
  g_assets.genericLookedUp = false;
  g_assets.StaticLayer.reset();
  for (auto& looks : g_assets.ButtonLooks)
    for (GdipBitmap& look : looks) look.reset();
  g_assets.KeptFrame.reset();
}

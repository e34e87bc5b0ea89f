// What the window tests share: the message pump, shell commands on the Linux
// side (xdotool, xwd) while the window runs, and the window's pixels as the
// screen shows them and as the paint draws them, at the layout's size.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/scoped_win32.h"
#include "ui/assets_win32.h"
#include "tests/win32/support/compose_frame.h"
#include "ui/paint_win32.h"

inline std::string Scratch() {
  const char* scratch = std::getenv("MORVEL_TEST_SCRATCH");
  return scratch ? scratch : "/tmp";
}
// The screenshots' folder, made by the shell command that writes into it.
inline std::string Artefact(const char* convertOptions) {
  const char* root = std::getenv("MORVEL_ROOT");
  const std::string dir = std::string(root ? root : ".") + "/build/mingw/artefacts/ui";
  return "mkdir -p " + dir + " && xwd -root -silent | /usr/bin/convert xwd:- " + convertOptions + " png:" + dir + "/";
}
inline std::wstring WinPath(const std::string& unixPath) {
  std::wstring path = L"Z:";
  for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

// Runs messages until the time is up or the window is gone (its quit message).
inline bool Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return false;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (GetTickCount() - start >= ms) return true;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

// A shell command on the Linux side (xdotool, xwd), run while the window keeps
// handling its messages; a Unix process gives Wine no handle to wait on, so it
// leaves a file behind when done.
inline void Shell(const std::string& command) {
  static int n = 0;  // one counter per program: each includes this once
  const std::string done = Scratch() + "/shell_done_" + std::to_string(++n);
  std::wstring line = L"/bin/sh -c \"";
  for (char c : command + "; touch " + done) line += static_cast<wchar_t>(c);
  line += L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  ASSERT_TRUE(CreateProcessW(L"Z:\\bin\\sh", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &started));
  ScopedHandle thread(started.hThread), process(started.hProcess);
  for (int i = 0; i < 1000 && GetFileAttributesW(WinPath(done).c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
    if (!Pump(10)) break;
  }
  Pump(120);  // the last events and one repaint tick
}

using ScopedGdiObject = Scoped<HandleTraits<HGDIOBJ, DeleteObject, false>>;
struct MemoryDcTraits {
  using Handle = HDC;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle dc) { return DeleteDC(dc) != 0; }
};
using ScopedMemoryDc = Scoped<MemoryDcTraits>;

// The window's pixels as the screen shows them, 0x00RRGGBB, row by row, at
// the layout's size.
inline std::vector<uint32_t> ScreenOfWindow(int left, int top) {
  const int width = g_assets.layout.width, height = g_assets.layout.height;
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  HDC screen = GetDC(nullptr);
  ScopedMemoryDc memory(CreateCompatibleDC(screen));
  void* bits = nullptr;
  ScopedGdiObject dib(CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  std::vector<uint32_t> pixels;
  if (dib && bits) {
    HGDIOBJ before = SelectObject(memory.get(), dib.get());
    BitBlt(memory.get(), 0, 0, width, height, screen, left, top, SRCCOPY);
    SelectObject(memory.get(), before);
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    for (size_t i = 0; i < size_t(width) * height; ++i) pixels.push_back(p[i] & 0xFFFFFF);
  }
  ReleaseDC(nullptr, screen);
  return pixels;
}

// A bitmap's pixels, 0x00RRGGBB, row by row.
inline std::vector<uint32_t> PixelsOf(GpBitmap* frame) {
  UINT width = 0, height = 0;
  GdipGetImageWidth(frame, &width);
  GdipGetImageHeight(frame, &height);
  std::vector<uint32_t> pixels(size_t(width) * height);
  GpRect all(0, 0, INT(width), INT(height));
  BitmapData data = {width, height, INT(width) * 4, PixelFormat32bppRGB, pixels.data(), 0};
  GdipBitmapLockBits(frame, &all, ImageLockModeRead | ImageLockModeUserInputBuf, PixelFormat32bppRGB, &data);
  GdipBitmapUnlockBits(frame, &data);
  for (uint32_t& p : pixels) p &= 0xFFFFFF;
  return pixels;
}

// The frame every step of the paint draws for the current state, 0x00RRGGBB.
inline std::vector<uint32_t> FrameOfEveryStep() {
  GdipBitmap frame = ComposeFrame(CurrentFrameInputs(g_widgets), false);
  return PixelsOf(frame.get());
}

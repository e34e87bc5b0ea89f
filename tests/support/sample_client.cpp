// A sample game client for the demo and the end-to-end suite: records how it
// was started (as the tests' stand-in does), then opens a window that shows its
// name (SAMPLE_CLIENT_NAME) until it is closed.
#include <windows.h>

#include <memory>
#include <type_traits>

#include "tests/support/launch_record_win32.h"

namespace {

const wchar_t kName[] = SAMPLE_CLIENT_NAME;

LRESULT CALLBACK SampleWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(window, &paint);
      RECT area;
      GetClientRect(window, &area);
      FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH)));
      const std::unique_ptr<std::remove_pointer_t<HFONT>, decltype(&DeleteObject)> font(
          CreateFontW(48, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial"), DeleteObject);
      const HGDIOBJ previous = SelectObject(dc, font.get());
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(230, 190, 90));
      DrawTextW(dc, kName, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      SelectObject(dc, previous);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  if (WriteLaunchRecord() != 0) return 2;
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = SampleWindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  window_class.lpszClassName = L"MorvelSampleClient";
  RegisterClassW(&window_class);
  const HWND window = CreateWindowW(L"MorvelSampleClient", kName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                    640, 360, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show_command);
  UpdateWindow(window);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

// The launcher's only window: a 688 x 506 popup painted by the program, scaled
// by the display's DPI / 96.
#pragma once
#include <windows.h>

// The window's class: a second launcher finds the first one's window by it.
constexpr wchar_t kMainWindowClass[] = L"MorvelGlobalLauncherWnd";

// The system's DPI, as its screen reports it to GDI+ (the exe imports no GDI).
int SystemDpi();

// Registers the class, creates and shows the window, stores it in the launcher
// state and starts the 50 ms repaint timer; nullptr when creation failed.
HWND CreateMainWindow(HINSTANCE instance, int show_command);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Prints the state of the launcher's window as another process sees it:
// "iconic=N foreground=N" (1 or 0), or "none" with exit code 1 when there is
// no such window.
#include <windows.h>

#include <cstdio>

int main() {
  const HWND window = FindWindowW(L"MorvelGlobalLauncherWnd", nullptr);
  if (!window) {
    std::printf("none\n");
    return 1;
  }
  std::printf("iconic=%d foreground=%d\n", IsIconic(window) ? 1 : 0, GetForegroundWindow() == window ? 1 : 0);
  return 0;
}

// A bare GUI program carrying the launcher's resource table, so the table can be
// checked (tests/support/check_resources.py) and loaded under Wine before and
// apart from the real window. Exits with the number of resources it could not load.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  int missing = LoadIconW(instance, MAKEINTRESOURCEW(1)) ? 0 : 1;
  for (int id = 2; id <= 7; ++id) {
    if (!FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10)))  // RT_RCDATA
      ++missing;
  }
  return missing;
}

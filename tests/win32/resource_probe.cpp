// A bare GUI program carrying the launcher's resource table, so the table can be
// checked (tests/support/check_resources.py) and loaded under Wine before and
// apart from the real window. Exits with the number of resources it could not load.
#include <windows.h>

#include "ui/resource_ids.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  int missing = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LAUNCHER)) ? 0 : 1;
  for (int id = IDR_SCENE; id <= IDR_BUTTON_HOVER_2X; ++id) {
    if (!FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10)))  // RT_RCDATA
      ++missing;
  }
  return missing;
}

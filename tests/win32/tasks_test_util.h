// File and folder helpers shared by the client, self-update and worker tests.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/text.h"
#include "app/win32_text.h"
#include "tests/win32/support/test_disk.h"

namespace tasks_test {

using namespace test_disk;

inline WideString TibiaFolder() { return SpecialFolder(CSIDL_APPDATA) + u"\\Tibia"; }

// The folder of the running test program, where the build puts fake_client.exe.
inline WideString OwnFolder() {
  wchar_t own[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH);
  WideString path = FromWinText(own).substr(0, n);
  return path.substr(0, path.rfind(u'\\'));
}

}  // namespace tasks_test

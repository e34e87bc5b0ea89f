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
#include "tests/win32/support/test_services.h"

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

inline WideString ManifestFolder() { return ServedRoot() + u"\\arquivos\\launcher"; }

// Serves one of the tasks fixture's scenario manifests as manifest.txt.
inline bool ServeTasksManifest(const char16_t* scenario) {
  return CopyFileW(WinText(ManifestFolder() + u"\\manifest-tasks-" + scenario + u".txt"),
                   WinText(ManifestFolder() + u"\\manifest.txt"), FALSE) != 0;
}

// A suite that serves the tasks fixture's scenarios against nginx: the served
// manifest.txt of other tests' fixtures is kept across it. A SetUp of a derived
// suite calls this one first and stops on its fatal failure.
class TasksTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Saved() = ReadBytes(ManifestFolder() + u"\\manifest.txt"); }
  static void TearDownTestSuite() {
    if (Saved() != "<missing>") WriteBytes(ManifestFolder() + u"\\manifest.txt", Saved());
  }
  void SetUp() override {
    ASSERT_FALSE(ServedRoot().empty()) << "the test services are not running";
    ASSERT_TRUE(UseNginx());
  }

 private:
  static std::string& Saved() {
    static std::string saved = "<missing>";
    return saved;
  }
};

}  // namespace tasks_test

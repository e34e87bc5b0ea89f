// The installed copy and the desktop shortcut, in the throwaway prefix's real
// shell folders, with the install folder on a small tmpfs (the hook
// installed_copy_tests.hook.sh). Runs that need another running path start a
// copy of this program with "--as-launcher" (it does what the entry does with them).
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "shell/installed_copy.h"
#include "app/paths.h"
#include "app/scoped_win32.h"
#include "app/texts.h"
#include "app/win32_text.h"
#include "tests/win32/support/shortcut_win32.h"
#include "tests/win32/support/test_disk.h"

namespace {

using test_disk::Exists;
using test_disk::ReadBytes;
using test_disk::WriteBytes;

WideString Target() { return InstallDir() + u"\\Morvel Global Launcher.exe"; }
WideString LinkPath() { return test_disk::SpecialFolder(CSIDL_DESKTOPDIRECTORY) + u"\\Morvel Global.lnk"; }

// Starts `exe` with "--as-launcher" and returns its exit code.
DWORD RunAsLauncher(const WideString& exe) {
  std::wstring line = L"\"" + std::wstring(WinText(exe)) + L"\" --as-launcher";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start " << WideToUtf8(exe) << ": " << GetLastError();
    return 999;
  }
  const ScopedHandle thread(process.hThread), owned(process.hProcess);
  DWORD code = 998;
  if (WaitForSingleObject(owned.get(), 30000) == WAIT_OBJECT_0) GetExitCodeProcess(owned.get(), &code);
  return code;
}

class InstalledCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    test_disk::RemoveTree(InstallDir());
    DeleteFileW(WinText(LinkPath()));
    self_ = ReadBytes(OwnExePath());
    ASSERT_GT(self_.size(), 1000u);
  }
  void TearDown() override { CoUninitialize(); }
  void ExpectOurLink() {
    const Shortcut link = ReadShortcut(WinText(LinkPath()));
    EXPECT_TRUE(link.read);
    EXPECT_EQ(link.target, WideToUtf8(Target()));
    EXPECT_EQ(link.dir, WideToUtf8(InstallDir()));
    EXPECT_EQ(link.description, WideToUtf8(kTextLauncherName));
  }
  std::string self_;
};

TEST_F(InstalledCopyTest, FirstRunCopiesByteForByteAndLinksTheCopy) {
  InstallLauncherCopy();
  EXPECT_EQ(ReadBytes(Target()), self_);
  ExpectOurLink();
}

TEST_F(InstalledCopyTest, ALaterRunOverwritesTheCopyAndRecreatesAMissingLink) {
  CreateDirectoryTree(InstallDir());
  ASSERT_TRUE(WriteBytes(Target(), "an older launcher"));
  InstallLauncherCopy();
  EXPECT_EQ(ReadBytes(Target()), self_);
  ExpectOurLink();
}

// On the small disk of installed_copy_tests.hook.sh, filled until the new copy
// cannot fit: the old copy stays whole, and so does what points at it.
TEST_F(InstalledCopyTest, AFullDiskLeavesTheOldCopyWhole) {
  CreateDirectoryTree(InstallDir());
  const std::string old_copy(200000, 'o');
  ASSERT_TRUE(WriteBytes(Target(), old_copy));
  ULARGE_INTEGER free_bytes, total_bytes;
  ASSERT_TRUE(GetDiskFreeSpaceExW(WinText(InstallDir()), &free_bytes, &total_bytes, nullptr));
  ASSERT_LE(total_bytes.QuadPart, uint64_t{64} << 20) << "the install folder is not on the small tmpfs";
  const WideString filler = InstallDir() + u"\\filler";
  {
    FILE* f = _wfopen(WinText(filler), L"wb");
    ASSERT_NE(f, nullptr);
    const std::string mib(1 << 20, 'f');
    uint64_t left = free_bytes.QuadPart - self_.size() / 2;
    while (left > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, mib.size()));
      ASSERT_EQ(fwrite(mib.data(), 1, n, f), n);
      left -= n;
    }
    ASSERT_EQ(fclose(f), 0);
  }
  InstallLauncherCopy();
  EXPECT_TRUE(ReadBytes(Target()) == old_copy) << "the installed copy was cut";
  EXPECT_FALSE(Exists(Target() + u".part"));
  ExpectOurLink();
  DeleteFileW(WinText(filler));
  InstallLauncherCopy();
  EXPECT_TRUE(ReadBytes(Target()) == self_) << "with room again the copy is made";
}

TEST_F(InstalledCopyTest, ADesktopFileOfThatNameIsNeverRewritten) {
  const struct {
    const char* name;
    bool link;  // a real shortcut pointing elsewhere, or plain bytes
  } cases[] = {{"shortcut elsewhere", true}, {"not a shortcut", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(WinText(LinkPath()));
    if (c.link) {
      CreateDesktopShortcut(u"C:\\windows\\notepad.exe", u"C:\\windows");
    } else {
      ASSERT_TRUE(WriteBytes(LinkPath(), "player's own file"));
    }
    const std::string before = ReadBytes(LinkPath());
    InstallLauncherCopy();
    EXPECT_EQ(ReadBytes(Target()), self_);
    EXPECT_EQ(ReadBytes(LinkPath()), before);
    if (c.link) {
      EXPECT_EQ(ReadShortcut(WinText(LinkPath())).target, "C:\\windows\\notepad.exe");
    }
  }
}

TEST_F(InstalledCopyTest, NoCopyAndNoLinkWhenTheTargetIsAFolder) {
  CreateDirectoryTree(Target());
  InstallLauncherCopy();
  EXPECT_TRUE(test_disk::IsFolder(Target()));
  EXPECT_FALSE(Exists(LinkPath()));
}

TEST_F(InstalledCopyTest, RunningTheInstalledCopyTouchesNeitherCopyNorLink) {
  CreateDirectoryTree(InstallDir());
  ASSERT_TRUE(CopyFileW(WinText(OwnExePath()), WinText(Target()), FALSE));
  const WideString other_case = InstallDir() + u"\\MORVEL global launcher.EXE";
  for (const WideString& path : {Target(), other_case}) {
    SCOPED_TRACE(WideToUtf8(path));
    EXPECT_EQ(RunAsLauncher(path), 0u);
    EXPECT_FALSE(Exists(LinkPath())) << "a deleted shortcut stays deleted";
    EXPECT_EQ(ReadBytes(Target()), self_);
  }
}

// (A cut running path is the end-to-end suite's: a process started from here gets
// Wine's short form of a long path, never a cut one.)
TEST_F(InstalledCopyTest, TheOldFileBesideTheRunningPathIsRemoved) {
  const WideString folder = test_disk::SpecialFolder(CSIDL_LOCAL_APPDATA) + u"\\elsewhere";
  CreateDirectoryTree(folder);
  const WideString exe = folder + u"\\launcher.exe";
  ASSERT_TRUE(CopyFileW(WinText(OwnExePath()), WinText(exe), FALSE));
  for (const char* content : {"the previous launcher", ""}) {
    ASSERT_TRUE(WriteBytes(exe + u".old", content));
    EXPECT_EQ(RunAsLauncher(exe), 0u);
    EXPECT_FALSE(Exists(exe + u".old"));
  }
  EXPECT_EQ(RunAsLauncher(exe), 0u) << "no \".old\" is no error";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--as-launcher") == 0) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RemovePreviousExecutable();
    InstallLauncherCopy();
    return OwnExePath().empty() ? 10 : 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

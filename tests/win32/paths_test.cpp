// Install locations and file helpers, against the real shell folders of the
// throwaway Wine prefix the test runs in.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/client_table.h"
#include "app/file_win32.h"
#include "app/launcher_state.h"
#include "app/move_file_win32.h"
#include "app/paths.h"
#include "app/win32_text.h"
#include "tests/win32/support/test_disk.h"

namespace {

using test_disk::IsFolder;

// A folder of its own under the prefix's temp folder.
WideString ScratchFolder(const char16_t* name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  WideString dir = FromWinText(temp) + u"morvel-paths-" + name;
  CreateDirectoryW(WinText(dir), nullptr);
  return dir;
}

TEST(Paths, InstallAndClientFoldersLieUnderLocalAppData) {
  const WideString base = test_disk::SpecialFolder(CSIDL_LOCAL_APPDATA);
  EXPECT_EQ(InstallDir(), base + u"\\Morvel Global");
  EXPECT_EQ(ClientDir(ClientKind::OTClient), base + u"\\Morvel Global\\Morvel Global");
  EXPECT_EQ(ClientDir(ClientKind::Classic), base + u"\\Morvel Global\\Morvel Global 8.60");
  EXPECT_EQ(ClientExePath(ClientKind::OTClient), base + u"\\Morvel Global\\Morvel Global\\Morvel Global.exe");
  EXPECT_EQ(ClientExePath(ClientKind::Classic), base + u"\\Morvel Global\\Morvel Global 8.60\\Tibia.exe");
  // The records of verified files lie beside the client folders, never in one.
  EXPECT_EQ(VerifiedRecordPath(ClientKind::OTClient), base + u"\\Morvel Global\\otc.verified");
  EXPECT_EQ(VerifiedRecordPath(ClientKind::Classic), base + u"\\Morvel Global\\classic.verified");
}

TEST(Paths, CreateDirectoryTreeMakesEveryMissingParent) {
  const WideString root = ScratchFolder(u"tree");
  const WideString deep = root + u"\\a\\b c\\d";
  EXPECT_TRUE(CreateDirectoryTree(deep));
  EXPECT_TRUE(IsFolder(root + u"\\a") && IsFolder(root + u"\\a\\b c") && IsFolder(deep));
  // An existing tree: the last creation fails, nothing else happens.
  EXPECT_FALSE(CreateDirectoryTree(deep));
  EXPECT_TRUE(IsFolder(deep));
  // Forward slashes are not separators.
  EXPECT_FALSE(CreateDirectoryTree(root + u"\\x/y\\z"));
}

TEST(Paths, ReadSmallFileTrimsLineEndsAndCutsAt255Bytes) {
  const WideString dir = ScratchFolder(u"read");
  const std::pair<std::string, std::string> cases[] = {
      {"7\r\n", "7"},
      {" 7 \n", " 7"},
      {"7\t", "7\t"},
      {"", ""},
      {std::string("a\0b\n", 4), std::string("a\0b", 3)},
  };
  int i = 0;
  for (const auto& [bytes, expected] : cases) {
    const WideString file = dir + u"\\case" + static_cast<char16_t>(u'0' + i++) + u".txt";
    ASSERT_TRUE(test_disk::WriteBytes(file, bytes));
    EXPECT_EQ(ReadSmallFile(file), expected);
  }
  std::string long_text(300, 'x');
  long_text[254] = ' ';  // the cut text ends in a space, which is trimmed too
  ASSERT_TRUE(test_disk::WriteBytes(dir + u"\\long.txt", long_text));
  EXPECT_EQ(ReadSmallFile(dir + u"\\long.txt"), std::string(254, 'x'));
  EXPECT_EQ(ReadSmallFile(dir + u"\\missing.txt"), "");
}

TEST(Files, ReadWholeFileTakesFilesUpToItsLimitOnly) {
  const WideString dir = ScratchFolder(u"whole");
  const struct {
    std::string bytes;
    uint64_t limit;
    bool read;
  } cases[] = {{"12345", 5, true}, {"12345", 4, false}, {"", 5, false}, {std::string("a\0b", 3), 3, true}};
  int i = 0;
  for (const auto& c : cases) {
    const WideString file = dir + u"\\case" + static_cast<char16_t>(u'0' + i++);
    ASSERT_TRUE(test_disk::WriteBytes(file, c.bytes));
    EXPECT_EQ(ReadWholeFile(file, c.limit), c.read ? c.bytes : "") << i;
  }
  EXPECT_EQ(ReadWholeFile(dir + u"\\missing", 5), "");
  EXPECT_EQ(ReadWholeFile(dir, 5), "") << "a folder";
}

TEST(Files, CreateNewRefusesWhatIsThereAndCreateAlwaysEmptiesIt) {
  const WideString dir = ScratchFolder(u"create");
  const WideString path = dir + u"\\file";
  DeleteFileW(WinText(path));
  {
    File made = File::CreateNew(path);
    ASSERT_TRUE(made);
    EXPECT_FALSE(File::OpenForRead(path, kShareAll)) << "shared with no one";
    EXPECT_TRUE(made.WriteAll("abcdef", 6));
    EXPECT_TRUE(made.TruncateAt(2));
    EXPECT_TRUE(made.WriteAll("Z", 1));  // the next write goes to the cut
    EXPECT_TRUE(made.Flush());
    EXPECT_TRUE(made.Close());
    EXPECT_TRUE(made.Close()) << "closing nothing";
  }
  EXPECT_EQ(test_disk::ReadBytes(path), "abZ");
  EXPECT_FALSE(File::CreateNew(path)) << "a file is there";
  File again = File::CreateAlways(path);
  ASSERT_TRUE(again);
  uint64_t size = 99;
  EXPECT_TRUE(again.Size(size));
  EXPECT_EQ(size, 0u);
}

TEST(Files, FileAttributesOfTellsAFileFromAFolderOrNothing) {
  const WideString dir = ScratchFolder(u"attributes");
  ASSERT_TRUE(test_disk::WriteBytes(dir + u"\\file", "x"));
  ASSERT_TRUE(SetFileAttributesW(WinText(dir + u"\\file"), FILE_ATTRIBUTE_READONLY));
  const std::pair<WideString, bool> cases[] = {{dir + u"\\file", true}, {dir, false}, {dir + u"\\none", false}};
  for (const auto& [path, file] : cases) {
    DWORD attributes = 0;
    EXPECT_EQ(FileAttributesOf(path, attributes), file) << WideToUtf8(path);
    EXPECT_EQ(IsExistingFile(path), file) << WideToUtf8(path);
  }
  DWORD attributes = 0;
  ASSERT_TRUE(FileAttributesOf(dir + u"\\file", attributes));
  EXPECT_NE(attributes & FILE_ATTRIBUTE_READONLY, 0u);
  MakeReplaceable(dir + u"\\file");
  ASSERT_TRUE(FileAttributesOf(dir + u"\\file", attributes));
  EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
}

BOOL WINAPI CloseButFail(HANDLE file) {
  CloseHandle(file);
  SetLastError(ERROR_DISK_FULL);  // as after a delayed write error
  return FALSE;
}
BOOL WINAPI RefuseMove(LPCWSTR, LPCWSTR, DWORD) { return FALSE; }

// A whole write either replaces the old file or leaves it as it was, and never
// leaves its temporary behind; what lay at the temporary name goes first.
TEST(Files, WriteFileWholeReplacesTheOldFileOrLeavesIt) {
  const WideString dir = ScratchFolder(u"whole-write");
  const WideString path = dir + u"\\record", temp = dir + u"\\record.tmp";
  const CloseFileFn real_close = g_close_file;
  const MoveFileFn real_move = g_move_file;
  const struct {
    const char* fails;
    CloseFileFn close;
    MoveFileFn move;
  } cases[] = {
      {"nothing", real_close, real_move},
      {"the close", CloseButFail, real_move},
      {"the move", real_close, RefuseMove},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fails);
    ASSERT_TRUE(test_disk::WriteBytes(path, "old"));
    ASSERT_TRUE(test_disk::WriteBytes(temp, "left over from a crash"));
    g_close_file = c.close;
    g_move_file = c.move;
    const bool written = WriteFileWhole(path, temp, "new");
    g_close_file = real_close;
    g_move_file = real_move;
    const bool fails = c.close != real_close || c.move != real_move;
    EXPECT_EQ(written, !fails);
    EXPECT_EQ(test_disk::ReadBytes(path), fails ? "old" : "new");
    EXPECT_FALSE(IsExistingFile(temp));
  }
}

TEST(Paths, SystemConversionMatchesThePortableOneOnValidText) {
  const std::string samples[] = {"", "n\xC3\xA3o", "Morvel Global 8.60\\Automap\\\xE2\x82\xAC.map",
                                 "\xF0\x9F\x98\x80 x", std::string("a\0b", 3)};
  for (const auto& s : samples) EXPECT_EQ(Utf8ToWide(s), Utf8ToUtf16(s));
  EXPECT_EQ(Utf8ToWide("n\xC3\xA3o").size(), 3u);
}

TEST(Paths, InstalledMeansTheExecutableFileExists) {
  CreateDirectoryTree(ClientDir(ClientKind::OTClient));
  CreateDirectoryTree(ClientDir(ClientKind::Classic));
  RefreshInstalledClients();
  EXPECT_FALSE(g_state.installed[0]);
  EXPECT_FALSE(g_state.installed[1]);

  ASSERT_TRUE(test_disk::WriteBytes(ClientExePath(ClientKind::OTClient), "MZ"));
  CreateDirectoryW(WinText(ClientExePath(ClientKind::Classic)), nullptr);  // a folder named like the exe
  RefreshInstalledClients();
  EXPECT_TRUE(g_state.installed[0]);
  EXPECT_FALSE(g_state.installed[1]);

  DeleteFileW(WinText(ClientExePath(ClientKind::OTClient)));
  RemoveDirectoryW(WinText(ClientExePath(ClientKind::Classic)));
  ASSERT_TRUE(test_disk::WriteBytes(ClientExePath(ClientKind::Classic), "MZ"));
  RefreshInstalledClients();
  EXPECT_FALSE(g_state.installed[0]);
  EXPECT_TRUE(g_state.installed[1]);
  DeleteFileW(WinText(ClientExePath(ClientKind::Classic)));
}

}  // namespace

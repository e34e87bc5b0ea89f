// Automap installer and client launch, against the real shell folders of the
// throwaway Wine prefix the test runs in.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "app/launcher_state.h"
#include "app/paths.h"
#include "app/scoped_win32.h"
#include "app/texts.h"
#include "app/win32_text.h"
#include "clients/automap.h"
#include "clients/launch.h"
#include "tasks_test_util.h"

namespace {

using namespace tasks_test;

constexpr ClientKind kClassic = ClientKind::Classic;

class AutomapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveTree(TibiaFolder());
    RemoveTree(InstallDir());
    source_ = ClientDir(kClassic) + u"\\Automap";
    ASSERT_TRUE(CreateDirectoryTree(source_));
    dest_ = TibiaFolder() + u"\\Automap";
    backup_ = TibiaFolder() + u"\\Automap_backup_antes_morvel";
    marker_ = TibiaFolder() + u"\\morvel_automap.txt";
    staging_ = backup_ + u".parcial";
  }
  void TearDown() override {
    RemoveTree(TibiaFolder());
    RemoveTree(InstallDir());
  }

  void Ship(const std::string& version, const std::string& a_map, const std::string& b_map) {
    ASSERT_TRUE(WriteBytes(source_ + u"\\versao.txt", version));
    ASSERT_TRUE(WriteBytes(source_ + u"\\00000001.map", a_map));
    ASSERT_TRUE(WriteBytes(source_ + u"\\00000002.map", b_map));
  }
  void PlayerMaps(const std::string& a_map, const std::string& own_map) {
    ASSERT_TRUE(CreateDirectoryTree(dest_));
    ASSERT_TRUE(WriteBytes(dest_ + u"\\00000001.map", a_map));
    ASSERT_TRUE(WriteBytes(dest_ + u"\\00000099.map", own_map));
  }

  // Enough maps that a copy of them takes a while.
  static constexpr int kMaps = 300;
  static WideString Many(int i) { return u"\\" + Utf8ToWide(std::to_string(10000000 + i)) + u".map"; }
  static std::string ManyBytes(const char* whose, int i) { return whose + std::to_string(i) + std::string(4096, 'm'); }
  void ShipManyOverManyPlayerMaps(const std::string& version) {
    RemoveTree(TibiaFolder());
    ASSERT_TRUE(CreateDirectoryTree(dest_));
    ASSERT_TRUE(WriteBytes(source_ + u"\\versao.txt", version));
    for (int i = 0; i < kMaps; ++i) {
      ASSERT_TRUE(WriteBytes(dest_ + Many(i), ManyBytes("player ", i)));
      ASSERT_TRUE(WriteBytes(source_ + Many(i), ManyBytes("server ", i)));
    }
  }
  static int WrongMaps(const WideString& folder, const char* whose) {
    int wrong = 0;
    for (int i = 0; i < kMaps; ++i) wrong += ReadBytes(folder + Many(i)) != ManyBytes(whose, i);
    return wrong;
  }

  WideString source_, dest_, backup_, marker_, staging_;
};

// A file as a step should leave it: its bytes, or kNone where nothing (no file,
// no folder) may be; `why` says what a mismatch means.
constexpr const char* kNone = nullptr;
struct Holds {
  WideString path;
  const char* bytes;
  const char* why = "";
};
void ExpectFiles(std::initializer_list<Holds> files) {
  for (const Holds& f : files) {
    SCOPED_TRACE(WideToUtf8(f.path));
    if (f.bytes == kNone) {
      EXPECT_FALSE(Exists(f.path)) << f.why;
    } else {
      EXPECT_EQ(ReadBytes(f.path), f.bytes) << f.why;
    }
  }
}

TEST_F(AutomapTest, FirstInstallCreatesTheTibiaFolderAndWritesTheBareVersion) {
  ASSERT_FALSE(Exists(TibiaFolder()));
  Ship("7.1\r\n", "map one", "map two");
  ASSERT_TRUE(WriteBytes(source_ + u"\\leia-me.txt", "not a map"));
  ASSERT_TRUE(CreateDirectoryTree(source_ + u"\\pasta.map"));  // a folder named like a map

  InstallAutomap(kClassic);

  ExpectFiles({{dest_ + u"\\00000001.map", "map one"}, {dest_ + u"\\00000002.map", "map two"},
               {dest_ + u"\\leia-me.txt", kNone}, {dest_ + u"\\pasta.map", kNone}, {marker_, "7.1"},
               {backup_, kNone, "nothing of the player's to back up"}});
}

TEST_F(AutomapTest, PlayerMapsAreBackedUpOnceAndTheBackupIsNeverRewritten) {
  PlayerMaps("player one", "player own");
  Ship("1", "server one v1", "server two v1");
  InstallAutomap(kClassic);

  ExpectFiles({{backup_ + u"\\00000001.map", "player one"}, {backup_ + u"\\00000099.map", "player own"},
               {dest_ + u"\\00000001.map", "server one v1"},
               {dest_ + u"\\00000099.map", "player own", "maps of other names stay"}, {marker_, "1"}});

  // A new set: copied over, no second backup of what is now the server's map.
  Ship("2", "server one v2", "server two v2");
  InstallAutomap(kClassic);
  ExpectFiles({{dest_ + u"\\00000001.map", "server one v2"}, {backup_ + u"\\00000001.map", "player one"},
               {backup_ + u"\\00000002.map", kNone}, {marker_, "2"}});

  // A step back is a change too.
  Ship("1", "server one v1", "server two v1");
  InstallAutomap(kClassic);
  ExpectFiles({{dest_ + u"\\00000001.map", "server one v1"}, {marker_, "1"}});
}

TEST_F(AutomapTest, TheSameVersionWithALineBreakCopiesNothing) {
  Ship("v9\n", "server one", "server two");
  ASSERT_TRUE(CreateDirectoryTree(dest_));
  ASSERT_TRUE(WriteBytes(marker_, "v9"));
  ASSERT_TRUE(WriteBytes(dest_ + u"\\00000001.map", "player edited"));

  InstallAutomap(kClassic);
  ExpectFiles({{dest_ + u"\\00000001.map", "player edited"}, {dest_ + u"\\00000002.map", kNone}, {backup_, kNone},
               {marker_, "v9"}});
}

TEST_F(AutomapTest, NoVersionTextOrNoMapsInstallsNothing) {
  ASSERT_TRUE(WriteBytes(source_ + u"\\00000001.map", "server one"));
  InstallAutomap(kClassic);  // no versao.txt
  EXPECT_FALSE(Exists(TibiaFolder()));

  ASSERT_TRUE(WriteBytes(source_ + u"\\versao.txt", " \r\n"));  // trims to nothing
  InstallAutomap(kClassic);
  EXPECT_FALSE(Exists(TibiaFolder()));

  ASSERT_TRUE(WriteBytes(source_ + u"\\versao.txt", "3"));
  DeleteFileW(WinText(source_ + u"\\00000001.map"));
  InstallAutomap(kClassic);
  EXPECT_FALSE(Exists(marker_)) << "a shipped set without maps is retried at every launch";
}

TEST_F(AutomapTest, AFailedCopyLeavesNoMarkerAndTheNextRunCompletesIt) {
  PlayerMaps("player one", "player own");
  ASSERT_TRUE(CreateDirectoryTree(backup_));  // backed up by an earlier installation
  Ship("4", "server one", "server two");

  // The Tibia client holds one map open and lets nobody write it.
  ScopedFile held(CreateFileW(WinText(dest_ + u"\\00000001.map"), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  InstallAutomap(kClassic);
  held.reset();

  ExpectFiles({{dest_ + u"\\00000001.map", "player one"},
               {dest_ + u"\\00000002.map", "server two", "the other files are still copied"}, {marker_, kNone}});

  InstallAutomap(kClassic);
  ExpectFiles({{dest_ + u"\\00000001.map", "server one"}, {marker_, "4"}});
}

TEST_F(AutomapTest, MapsThatCannotBeBackedUpAreNotOverwritten) {
  PlayerMaps("player one", "player own");
  Ship("5", "server one", "server two");
  ASSERT_TRUE(WriteBytes(source_ + u"\\00000099.map", "server ninety-nine"));

  // Nobody may read the player's map: its backup cannot be taken.
  ScopedFile held(CreateFileW(WinText(dest_ + u"\\00000001.map"), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  InstallAutomap(kClassic);
  held.reset();

  ExpectFiles({{dest_ + u"\\00000099.map", "player own"}, {dest_ + u"\\00000002.map", kNone},
               {backup_, kNone, "an incomplete backup must not pass for a complete one"}, {staging_, kNone},
               {marker_, kNone}});

  // Released: the backup is taken in full, then the set is installed.
  InstallAutomap(kClassic);
  ExpectFiles({{backup_ + u"\\00000001.map", "player one"}, {backup_ + u"\\00000099.map", "player own"},
               {dest_ + u"\\00000099.map", "server ninety-nine"}, {marker_, "5"}});
}

TEST_F(AutomapTest, AFileWhereTheBackupBelongsIsNoBackup) {
  PlayerMaps("player one", "player own");
  Ship("6", "server one", "server two");
  ASSERT_TRUE(WriteBytes(backup_, "stray"));

  InstallAutomap(kClassic);
  ExpectFiles({{dest_ + u"\\00000001.map", "player one", "no copy of it exists anywhere"},
               {dest_ + u"\\00000002.map", kNone}, {marker_, kNone}, {backup_, "stray"}});
}

TEST_F(AutomapTest, AKilledRunsPartialBackupIsTakenAgainInFull) {
  PlayerMaps("player one", "player own");
  Ship("9", "server one", "server two");
  ASSERT_TRUE(CreateDirectoryTree(staging_));
  ASSERT_TRUE(WriteBytes(staging_ + u"\\00000001.map", "play"));
  ASSERT_TRUE(WriteBytes(staging_ + u"\\00000042.map", "since deleted by the player"));

  InstallAutomap(kClassic);
  ExpectFiles({{backup_ + u"\\00000001.map", "player one"}, {backup_ + u"\\00000099.map", "player own"},
               {backup_ + u"\\00000042.map", kNone}, {staging_, kNone}, {dest_ + u"\\00000001.map", "server one"},
               {marker_, "9"}});
}

// Holds the installation's mutex on a thread of its own (a mutex is recursive
// for its owner), then either releases it or ends holding it.
struct MutexHolder {
  ScopedHandle taken{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  ScopedHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  bool abandon = false;

  static DWORD WINAPI Hold(void* self) {
    auto& h = *static_cast<MutexHolder*>(self);
    const ScopedHandle mutex(CreateMutexW(nullptr, TRUE, WinText(kAutomapMutexName)));
    SetEvent(h.taken.get());
    WaitForSingleObject(h.done.get(), INFINITE);
    if (!h.abandon) ReleaseMutex(mutex.get());
    return 0;
  }
};

TEST_F(AutomapTest, AnInstallationThatCannotGetTheMutexSkipsUntilTheNextRun) {
  Ship("7", "server one", "server two");
  MutexHolder holder;
  const ScopedHandle thread(CreateThread(nullptr, 0, MutexHolder::Hold, &holder, 0, nullptr));
  ASSERT_EQ(WaitForSingleObject(holder.taken.get(), 10000), WAIT_OBJECT_0);

  InstallAutomap(kClassic);  // waits a moment, then gives up
  EXPECT_FALSE(Exists(TibiaFolder()));

  // Its holder ends without releasing it: the next run takes it over.
  holder.abandon = true;
  SetEvent(holder.done.get());
  EXPECT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
  InstallAutomap(kClassic);
  ExpectFiles({{dest_ + u"\\00000002.map", "server two"}, {marker_, "7"}});
}

// A copy of this program in its "--instalar-mapa" run, suspended: process, main thread.
std::pair<ScopedHandle, ScopedHandle> SuspendedInstallation() {
  wchar_t own[MAX_PATH];
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(own) + L"\" --instalar-mapa";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION p = {};
  if (!CreateProcessW(own, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup, &p)) return {};
  return {ScopedHandle(p.hProcess), ScopedHandle(p.hThread)};
}

// Starts copies of this program with "--instalar-mapa" at the same moment.
std::vector<DWORD> InstallInProcessesTogether(int count) {
  std::vector<std::pair<ScopedHandle, ScopedHandle>> processes;
  for (int i = 0; i < count; ++i) processes.push_back(SuspendedInstallation());
  for (const auto& p : processes) ResumeThread(p.second.get());
  std::vector<DWORD> codes;
  for (const auto& p : processes) {
    DWORD code = 99;
    if (WaitForSingleObject(p.first.get(), 120000) == WAIT_OBJECT_0) GetExitCodeProcess(p.first.get(), &code);
    codes.push_back(code);
  }
  return codes;
}

TEST_F(AutomapTest, TwoInstallationsAtOnceLeaveThePlayersOwnBytesInTheBackup) {
  for (int trial = 0; trial < 3; ++trial) {
    ShipManyOverManyPlayerMaps("8");
    EXPECT_EQ(InstallInProcessesTogether(2), (std::vector<DWORD>{0, 0}));
    EXPECT_EQ(WrongMaps(backup_, "player "), 0) << "trial " << trial;
    EXPECT_EQ(WrongMaps(dest_, "server "), 0) << "trial " << trial;
    EXPECT_EQ(ReadBytes(marker_), "8");
  }
}

TEST_F(AutomapTest, ARunKilledWhileBackingUpLeavesTheBackupWholeOrAbsent) {
  ShipManyOverManyPlayerMaps("10");
  const auto [process, thread] = SuspendedInstallation();
  ASSERT_TRUE(process);
  ResumeThread(thread.get());
  // Killed as soon as the first map lands in the backup, under either name.
  const DWORD start = GetTickCount();
  const auto copying = [](const WideString& folder) {
    WIN32_FIND_DATAW found;
    return static_cast<bool>(ScopedFind(FindFirstFileW(WinText(folder + u"\\*.map"), &found)));
  };
  while (!copying(staging_) && !copying(backup_) && GetTickCount() - start < 30000) Sleep(1);
  ASSERT_TRUE(TerminateProcess(process.get(), 1));
  ASSERT_EQ(WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
  if (Exists(backup_)) {
    EXPECT_EQ(WrongMaps(backup_, "player "), 0) << "a partial backup passes for the whole";
  }

  InstallAutomap(kClassic);  // the next run, past the abandoned mutex
  EXPECT_EQ(WrongMaps(backup_, "player "), 0);
  EXPECT_EQ(WrongMaps(dest_, "server "), 0);
  EXPECT_EQ(ReadBytes(marker_), "10");
}

TEST_F(AutomapTest, CopyMapFilesNeedsAMatchAndEverySuccess) {
  const WideString to = TibiaFolder() + u"\\copia";
  EXPECT_FALSE(CopyMapFiles(source_, to)) << "no map in the source";
  EXPECT_FALSE(CopyMapFiles(source_ + u"\\nada", to)) << "no source folder";

  ASSERT_TRUE(WriteBytes(source_ + u"\\a.map", "a"));
  EXPECT_FALSE(CopyMapFiles(source_, to)) << "the destination is not created";
  ASSERT_TRUE(CreateDirectoryTree(to));
  EXPECT_TRUE(CopyMapFiles(source_, to));
  EXPECT_EQ(ReadBytes(to + u"\\a.map"), "a");

  ASSERT_TRUE(CreateDirectoryTree(source_ + u"\\z.map"));
  EXPECT_TRUE(CopyMapFiles(source_, to)) << "a folder named *.map is skipped, not a failure";
  EXPECT_FALSE(Exists(to + u"\\z.map"));

  ASSERT_TRUE(WriteBytes(source_ + u"\\b.map", "b"));
  ASSERT_TRUE(CreateDirectoryTree(to + u"\\b.map"));  // cannot be overwritten by a file
  EXPECT_FALSE(CopyMapFiles(source_, to));
  EXPECT_EQ(ReadBytes(to + u"\\a.map"), "a");
}

// --- Client launch ------------------------------------------------------------

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveTree(TibiaFolder());
    RemoveTree(InstallDir());
    g_state.status_is_error = false;
    SetStatus(u"Abrindo", u"");
  }
  void TearDown() override {
    RemoveTree(TibiaFolder());
    RemoveTree(InstallDir());
  }

  // Puts the recording stand-in where the client's executable belongs.
  void InstallFakeClient(ClientKind client) {
    ASSERT_TRUE(CreateDirectoryTree(ClientDir(client)));
    ASSERT_TRUE(CopyFileW(WinText(OwnFolder() + u"\\fake_client.exe"), WinText(ClientExePath(client)), FALSE));
  }
  void ShipMaps(ClientKind client) {
    const WideString source = ClientDir(client) + u"\\Automap";
    ASSERT_TRUE(CreateDirectoryTree(source));
    ASSERT_TRUE(WriteBytes(source + u"\\versao.txt", "1"));
    ASSERT_TRUE(WriteBytes(source + u"\\00000001.map", "server map"));
  }

  // The stand-in's command line and working folder.
  static std::pair<WideString, WideString> Record(ClientKind client) {
    const WideString path = ClientDir(client) + u"\\launch-record.txt";
    EXPECT_TRUE(WaitForFile(path, 15000));
    const std::string bytes = ReadBytes(path);
    const WideString text(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
    const size_t cut = text.find(u'\n');
    if (cut == WideString::npos) return {text, u""};
    return {text.substr(0, cut), text.substr(cut + 1)};
  }
};

TEST_F(LaunchTest, TheQuotedPathAloneInTheClientFolderWithoutTheAutomap) {
  InstallFakeClient(ClientKind::OTClient);
  ShipMaps(ClientKind::OTClient);
  ShipMaps(ClientKind::Classic);
  // Once in many runs under Wine this start has failed; the error says why.
  EXPECT_TRUE(LaunchClient(ClientKind::OTClient)) << "last error " << GetLastError();
  const auto [command_line, folder] = Record(ClientKind::OTClient);
  EXPECT_EQ(command_line, u"\"" + ClientExePath(ClientKind::OTClient) + u"\"");
  EXPECT_EQ(folder, ClientDir(ClientKind::OTClient));
  EXPECT_FALSE(Exists(TibiaFolder())) << "only the classic client gets the Automap";
  EXPECT_FALSE(g_state.status_is_error);
  EXPECT_EQ(CopyStatus().headline, u"Abrindo");
}

TEST_F(LaunchTest, TheClassicClientGetsItsAutomapFirst) {
  InstallFakeClient(ClientKind::Classic);
  ShipMaps(ClientKind::Classic);
  EXPECT_TRUE(LaunchClient(ClientKind::Classic));
  // Installed before the process was created: already there when LaunchClient returns.
  ExpectFiles({{TibiaFolder() + u"\\Automap\\00000001.map", "server map"},
               {TibiaFolder() + u"\\morvel_automap.txt", "1"}});
  const auto [command_line, folder] = Record(ClientKind::Classic);
  EXPECT_EQ(command_line, u"\"" + ClientExePath(ClientKind::Classic) + u"\"");
  EXPECT_EQ(folder, ClientDir(ClientKind::Classic));
}

TEST_F(LaunchTest, AMissingExecutableReportsTheFailureInErrorColours) {
  ASSERT_TRUE(CreateDirectoryTree(ClientDir(ClientKind::Classic)));
  ShipMaps(ClientKind::Classic);
  EXPECT_FALSE(LaunchClient(ClientKind::Classic));
  const StatusTexts texts = CopyStatus();
  EXPECT_EQ(texts.headline, kTextClientNotOpened);
  EXPECT_EQ(texts.detail, kTextAntivirusHint);
  EXPECT_TRUE(g_state.status_is_error);
  EXPECT_EQ(ReadBytes(TibiaFolder() + u"\\morvel_automap.txt"), "1") << "the maps are installed all the same";

  g_state.status_is_error = false;
  RemoveTree(InstallDir());  // not even the folder
  EXPECT_FALSE(LaunchClient(ClientKind::OTClient));
  EXPECT_TRUE(g_state.status_is_error);
}

}  // namespace

int main(int argc, char** argv) {
  // Plays the "--instalar-mapa" run of the launcher.
  if (argc == 2 && std::strcmp(argv[1], "--instalar-mapa") == 0) {
    InstallAutomap(kClassic);
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

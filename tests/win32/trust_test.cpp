// What a launcher with a manifest key asks beyond the signature, and the file
// host's mirrors, through whole worker tasks against nginx and the fault server
// serving the trees of tests/support/fixtures/trust.sh: an older manifest than
// the one recorded counts as none, the record lives on disk, and a task takes
// everything from the first host that passes, moving on when one fails.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "app/paths.h"
#include "app/texts.h"
#include "app/win32_text.h"
#include "tasks_test_util.h"
#include "task_runner.h"
#include "tests/win32/support/expect_status.h"
#include "tests/win32/support/test_services.h"
#include "update/manifest.h"
#include "update/serial_record_win32.h"

namespace {

using namespace tasks_test;

const char16_t* const kFiles[] = {u"Morvel Global.exe", u"data\\pack\\01.dat", u"data\\pack\\02.dat",
                                  u"data\\pack\\03.dat", u"data\\pack\\04.dat", u"data\\pack\\05.dat",
                                  u"data\\things.dat"};

WideString Source(const char16_t* version) { return ServedRoot() + u"\\trust-src\\" + version + u"\\otc"; }

Manifest Published(const char16_t* version) {
  Manifest m;
  EXPECT_TRUE(ParseManifest(ReadBytes(ManifestFolder() + u"\\manifest-trust-" + version + u".txt"), m));
  return m;
}

// The sha256 of a file of the published new version, by its path.
std::string BodyOf(const char16_t* path) {
  for (const FileEntry& e : Published(u"new").files) {
    if (e.path == path) return "/arquivos/launcher/files/" + e.sha256 + ".dl";
  }
  ADD_FAILURE() << "no entry " << WideToUtf8(path);
  return "";
}

FileHost Host(const char16_t* port_variable) {
  uint16_t port = 0;
  EXPECT_TRUE(ServicePort(port_variable, port)) << WideToUtf8(port_variable);
  return {TestEnv(u"MORVEL_TEST_HOST"), port, ""};
}
FileHost Nginx() { return Host(u"MORVEL_NGINX_PORT"); }
FileHost Fault() { return Host(u"MORVEL_FAULT_PORT"); }
FileHost Refused() { return {u"localhost", 1, ""}; }  // nothing listens on port 1

class TrustTest : public TasksTest {
 protected:
  void SetUp() override {
    TasksTest::SetUp();
    if (HasFatalFailure()) return;
    ClearFaultRules();
    ClearRequestLog();
    RemoveTree(InstallDir());
    ResetPlayer(IDNO);
    g_state.busy = false;
    UseManifestKey(kTestManifestKey);
    UseFileHosts({Nginx()});
    window_ = MakeMainWindow();
    ASSERT_NE(window_, nullptr);
    ASSERT_LT(Published(u"old").serial, Published(u"new").serial) << "the fixture publishes old, then new";
  }
  void TearDown() override {
    if (IsWindow(window_)) DestroyWindow(window_);
    ClearFaultRules();
    RemoveTree(InstallDir());
    UseManifestKey("");
  }

  static void Serve(const char16_t* version) {
    ASSERT_TRUE(CopyFileW(WinText(ManifestFolder() + u"\\manifest-trust-" + version + u".txt"),
                          WinText(ManifestFolder() + u"\\manifest.txt"), FALSE));
  }
  static Finished Task(TaskKind kind) {
    return RunTask(kind, kind == TaskKind::Play ? ClientKind::OTClient : ClientKind::None);
  }
  // Every file of the client as in that version.
  static void ExpectInstalled(const char16_t* version) {
    for (const char16_t* file : kFiles) {
      EXPECT_EQ(ReadBytes(ClientDir(ClientKind::OTClient) + u"\\" + file), ReadBytes(Source(version) + u"\\" + file))
          << WideToUtf8(file) << " as in " << WideToUtf8(version);
    }
  }
  static void ExpectOffline(TaskKind kind) {
    if (kind == TaskKind::CheckUpdates) {
      ExpectStatus(kTextNoConnection, kTextInstalledStillOpen, true);
    } else if (kind == TaskKind::VerifyFiles) {
      ExpectStatus(kTextNoConnection, kTextCheckInternet, true);
    } else {
      ASSERT_EQ(ThePlayer().questions.size(), 1u) << "an installed client: the player is asked";
      EXPECT_EQ(ThePlayer().questions[0].text, kTextAskOpenClientAnyway);
      ExpectStatus(kTextReady, u"", false);
    }
  }
  static void Install(const char16_t* version) {
    Serve(version);
    ASSERT_EQ(Task(TaskKind::Play).action, static_cast<WPARAM>(FinishCloseLauncher));
    ExpectInstalled(version);
  }
  static std::vector<std::string> FaultServerPaths() {
    std::vector<std::string> paths;
    for (const LoggedRequest& r : ReadRequestLog()) paths.push_back(r.target.substr(0, r.target.find('?')));
    return paths;
  }

  HWND window_ = nullptr;
};

TEST_F(TrustTest, AnOlderManifestAfterANewerOneIsNoManifestAndChangesNothing) {
  Install(u"new");
  EXPECT_EQ(ReadBytes(SerialRecordPath()), std::to_string(Published(u"new").serial) + "\n");
  Serve(u"old");
  for (const TaskKind kind : {TaskKind::CheckUpdates, TaskKind::VerifyFiles, TaskKind::Play}) {
    SCOPED_TRACE(static_cast<int>(kind));
    ResetPlayer(IDNO);
    DeleteFileW(WinText(ClientDir(ClientKind::OTClient) + u"\\launch-record.txt"));
    EXPECT_EQ(Task(kind).action, static_cast<WPARAM>(FinishKeepOpen));
    ExpectOffline(kind);
    ExpectInstalled(u"new");
    EXPECT_FALSE(Exists(ClientDir(ClientKind::OTClient) + u"\\launch-record.txt"));
  }
  EXPECT_EQ(ReadSerialRecord(), Published(u"new").serial) << "a refused manifest records nothing";
}

// What a process before this one left on disk is what counts: no task of this
// process has seen the new manifest. The same manifest again is fine.
TEST_F(TrustTest, TheRecordOnDiskOutlivesTheProcessAndAnEqualSerialPasses) {
  ASSERT_TRUE(CreateDirectoryTree(InstallDir()));
  ASSERT_TRUE(WriteBytes(SerialRecordPath(), std::to_string(Published(u"new").serial) + "\n"));
  Serve(u"old");
  Task(TaskKind::CheckUpdates);
  ExpectOffline(TaskKind::CheckUpdates);
  Serve(u"new");
  for (int again = 0; again < 2; ++again) {
    Task(TaskKind::CheckUpdates);
    ExpectStatus(kTextReady, u"", false);
  }
  EXPECT_EQ(ReadSerialRecord(), Published(u"new").serial);
}

// The record is the player's, and other programs of the player can change it;
// whatever it says, once a newer manifest has been accepted the older one is
// refused again.
TEST_F(TrustTest, AForgedOrMissingRecordLetsNoOlderManifestInOnceRewritten) {
  const char* records[] = {nullptr, "", "garbage\n", "0\n", "1\n", "-5\n", "12345678901234567890123\n", "12 34\n"};
  for (const char* record : records) {
    SCOPED_TRACE(record ? record : "(missing)");
    RemoveTree(InstallDir());
    if (record) {
      ASSERT_TRUE(CreateDirectoryTree(InstallDir()));
      ASSERT_TRUE(WriteBytes(SerialRecordPath(), record));
    }
    Serve(u"new");
    Task(TaskKind::CheckUpdates);
    ExpectStatus(kTextReady, u"", false);
    EXPECT_EQ(ReadSerialRecord(), Published(u"new").serial);
    EXPECT_FALSE(Exists(SerialRecordPath() + u".part"));
    Serve(u"old");
    Task(TaskKind::CheckUpdates);
    ExpectOffline(TaskKind::CheckUpdates);
  }
}

// A build without a key has nothing to trust a serial by: it keeps no record
// and takes an older manifest as it always did.
TEST_F(TrustTest, AnUnsignedBuildKeepsNoRecordAndTakesAnyManifest) {
  UseManifestKey("");
  Install(u"new");
  Serve(u"old");
  Task(TaskKind::VerifyFiles);
  ExpectStatus(kTextAllFilesCurrent, u"", false);
  ExpectInstalled(u"old");
  EXPECT_FALSE(Exists(SerialRecordPath()));
}

// A first host that refuses the connection, answers 503, or serves a manifest
// older than the record: the second host serves the whole install, and the
// first is asked nothing more once passed over.
TEST_F(TrustTest, TheFirstHostThatPassesServesTheWholeTask) {
  Serve(u"new");
  const std::string manifest = "/arquivos/launcher/manifest.txt";
  const struct {
    const char* name;
    FileHost first;
    std::vector<std::string> rules;
    std::vector<std::string> first_saw;
  } cases[] = {
      {"connection refused", Refused(), {}, {}},
      {"status 503", Fault(), {"* status 503"}, {manifest}},
      {"an older manifest", Fault(), {manifest + " file /arquivos/launcher/manifest-trust-old.txt"}, {manifest}},
      {"a manifest signed by another key", Fault(), {manifest + " file /arquivos/launcher/manifest-other-key.txt"},
       {manifest}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTree(InstallDir());
    ASSERT_TRUE(CreateDirectoryTree(InstallDir()));
    ASSERT_TRUE(WriteBytes(SerialRecordPath(), std::to_string(Published(u"new").serial) + "\n"));
    ASSERT_TRUE(SetFaultRules(c.rules));
    ClearRequestLog();
    UseFileHosts({c.first, Nginx()});
    EXPECT_EQ(Task(TaskKind::Play).action, static_cast<WPARAM>(FinishCloseLauncher));
    ExpectInstalled(u"new");
    EXPECT_EQ(FaultServerPaths(), c.first_saw);
  }
}

TEST_F(TrustTest, WhenEveryHostFailsThereIsNoManifest) {
  Serve(u"new");
  ASSERT_TRUE(SetFaultRules({"* status 503"}));
  UseFileHosts({Refused(), Fault()});
  Task(TaskKind::CheckUpdates);
  ExpectOffline(TaskKind::CheckUpdates);
}

// The first host cuts a body in the middle: its next try goes to the mirror at
// once, and so do the requests already out for the files after it.
TEST_F(TrustTest, AHostFailingMidDownloadHandsTheRestToTheMirror) {
  Serve(u"new");
  const std::string cut = BodyOf(u"data\\pack\\02.dat");
  ASSERT_TRUE(SetFaultRules({cut + " drop 50000"}));
  UseFileHosts({Fault(), Nginx()});
  EXPECT_EQ(Task(TaskKind::Play).action, static_cast<WPARAM>(FinishCloseLauncher));
  ExpectInstalled(u"new");
  std::map<std::string, int> asked;
  for (const std::string& path : FaultServerPaths()) ++asked[path];
  EXPECT_EQ(asked[cut], 1) << "one try on the failing host, the others on the mirror";
  EXPECT_EQ(asked[BodyOf(u"Morvel Global.exe")], 1) << "what came before the failure came from the first host";
  for (const auto& [path, count] : asked) EXPECT_EQ(count, 1) << path << ": asked of the passed-over host again";
}

// A build without a key walks its mirrors too, trusting them as far as TLS
// goes; with the first host up it behaves as before: everything from there.
TEST_F(TrustTest, AnUnsignedBuildWithMirrorsTakesEverythingFromAWorkingFirstHost) {
  UseManifestKey("");
  Serve(u"new");
  UseFileHosts({Fault(), Refused()});
  EXPECT_EQ(Task(TaskKind::Play).action, static_cast<WPARAM>(FinishCloseLauncher));
  ExpectInstalled(u"new");
  std::vector<std::string> expected = {"/arquivos/launcher/manifest.txt"};
  for (const char16_t* file : kFiles) expected.push_back(BodyOf(file));
  std::vector<std::string> seen = FaultServerPaths();
  std::sort(seen.begin() + 1, seen.end());
  std::sort(expected.begin() + 1, expected.end());
  EXPECT_EQ(seen, expected);
}

}  // namespace

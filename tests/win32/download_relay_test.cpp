// The download with several body requests under way, against the fault server
// behind bench/delay_relay.py (25 ms each way, started by the test's hook), so
// that a request's round trip is long enough to be seen overlapping others.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "app/texts.h"
#include "tests/win32/download_test_util.h"

using namespace download_test;

namespace {

// The relay's port, from the file its hook wrote into the test's scratch folder.
uint16_t RelayPort() {
  WideString path = u"Z:" + TestEnv(u"MORVEL_TEST_SCRATCH") + u"/relay.port";
  std::replace(path.begin(), path.end(), u'/', u'\\');
  return static_cast<uint16_t>(std::atoi(ReadBytes(path).c_str()));
}

class DownloadRelay : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ServedRoot().empty()) << "run through scripts/test: no test servers";
    const uint16_t port = RelayPort();
    ASSERT_NE(port, 0) << "no relay: run through scripts/test, which starts it with the hook";
    UseFileHost(TestEnv(u"MORVEL_TEST_HOST"), port);
    EmptyFolder(InstallDir());
    ClearFaultRules();
    ClearRequestLog();
    ResetState();
    manifest_ = LoadScenario(u"install");
    for (const FileEntry& entry : manifest_.files) {
      if (entry.client == ClientKind::OTClient) otc_.push_back(&entry);
    }
  }
  void TearDown() override {
    ClearFaultRules();
    g_state.cancel_requested = false;
  }

  // The position of a file in the download list.
  size_t IndexOf(const char16_t* path) const {
    for (size_t i = 0; i < otc_.size(); ++i) {
      if (otc_[i]->path == path) return i;
    }
    ADD_FAILURE() << "no " << WideToUtf8(path);
    return otc_.size();
  }

  // Requests logged for the files after the one at index cut.
  size_t LaterRequests(const std::vector<std::string>& bodies, size_t cut) const {
    std::set<std::string> later;
    for (size_t i = cut + 1; i < otc_.size(); ++i) later.insert(otc_[i]->sha256);
    return static_cast<size_t>(std::count_if(bodies.begin(), bodies.end(),
                                             [&later](const std::string& b) { return later.count(b) != 0; }));
  }

  Manifest manifest_;
  std::vector<const FileEntry*> otc_;  // the download list of a fresh install, in manifest order
};

TEST_F(DownloadRelay, RequestsOverlapWhileFilesLandInManifestOrder) {
  // The first file (300 kB) has a full window of files after it.
  const size_t cut_at = IndexOf(u"Morvel Global.exe");
  ASSERT_LT(cut_at + kBodiesInFlight, otc_.size());
  const FileEntry& cut = *otc_[cut_at];
  ScopedFaultRules rules({BodyPath(cut) + " drop 100000 rst times=1"});
  ASSERT_TRUE(rules.ok);

  // Watch the disk while the worker runs: the installed files are always the
  // first ones of the list. Looked at from the last to the first, so a file
  // that lands during one look cannot pass for one that came too early.
  std::atomic<bool> running{true};
  std::vector<std::string> faults;
  std::thread watcher([&] {
    std::vector<bool> present(otc_.size());
    while (running) {
      for (size_t i = otc_.size(); i-- > 0;) present[i] = Exists(ClientFilePath(*otc_[i]));
      const auto gap = std::find(present.begin(), present.end(), false);
      const auto early = std::find(gap, present.end(), true);
      if (early != present.end()) faults.push_back(WideToUtf8(otc_[early - present.begin()]->path));
      Sleep(1);
    }
  });
  const bool ok = Update(manifest_, true, false);
  running = false;
  watcher.join();

  EXPECT_TRUE(ok);
  EXPECT_TRUE(faults.empty()) << faults.front() << " landed before an earlier file";
  ExpectInstalled(u"install", manifest_, true, false);
  EXPECT_TRUE(PartFiles().empty());

  // The cut body was asked for again only after it failed; by then the next
  // files' requests were already out (in no fixed order: they travel together),
  // and none of them was asked for twice.
  const std::vector<std::string> bodies = FetchedBodies();
  std::vector<size_t> logged_at;
  for (size_t i = 0; i < bodies.size(); ++i) {
    if (bodies[i] == cut.sha256) logged_at.push_back(i);
  }
  ASSERT_EQ(logged_at.size(), 2u);
  const std::set<std::string> before_retry(bodies.begin(), bodies.begin() + logged_at[1]);
  for (size_t i = cut_at + 1; i < cut_at + kBodiesInFlight; ++i) {
    EXPECT_EQ(before_retry.count(otc_[i]->sha256), 1u) << "not out while the cut body was read: " << i;
  }
  EXPECT_EQ(LaterRequests(bodies, cut_at), otc_.size() - cut_at - 1);
}

TEST_F(DownloadRelay, ACancelWhileSeveralBodiesAreUnderWayLeavesNoPartialFile) {
  // A large file in the middle: files in place before it, requests out after it.
  const size_t cut_at = IndexOf(u"data\\things\\860.dat");
  ASSERT_LT(cut_at + 1, otc_.size());
  const FileEntry& cut = *otc_[cut_at];
  // The body stops after 100000 bytes and the connection stays half a second.
  ScopedFaultRules rules({BodyPath(cut) + " drop 100000 rst"});
  ASSERT_TRUE(rules.ok);

  std::atomic<bool> cancelled{false};
  std::thread player([&] {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 30000) {
      if (CopyStatus().headline == TextDownloading(cut.path) && g_state.file_permille.load() > 0) {
        g_state.cancel_requested = true;  // the Cancel button
        cancelled = true;
        return;
      }
      Sleep(1);
    }
  });
  const bool ok = Update(manifest_, true, false);
  player.join();

  ASSERT_TRUE(cancelled) << "the cut file's transfer was never seen under way";
  EXPECT_FALSE(ok);
  ExpectStatus(kTextCancelledResumable, u"", false);
  const std::vector<std::string> bodies = FetchedBodies();
  EXPECT_EQ(std::count(bodies.begin(), bodies.end(), cut.sha256), 1) << "a cancel is no failure to try again";
  EXPECT_GT(LaterRequests(bodies, cut_at), 0u) << "no later body was under way at the cancel";
  for (size_t i = 0; i < otc_.size(); ++i) {
    if (i < cut_at) {
      EXPECT_TRUE(ReadBytes(ClientFilePath(*otc_[i])) == SourceBytes(u"install", *otc_[i])) << i;
    } else {
      EXPECT_FALSE(Exists(ClientFilePath(*otc_[i]))) << WideToUtf8(otc_[i]->path);
    }
  }
  EXPECT_TRUE(PartFiles().empty());
}

}  // namespace

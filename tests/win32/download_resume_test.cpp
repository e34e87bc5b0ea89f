// A body cut part-way is taken up again with a range request: by the next try of
// the same task, or by the next task (after a cancel, a crash or a kill, which
// all leave the ".part" and its record on disk). Anything the record and the
// ".part" do not agree on starts over from byte 0; the file at the end is
// verified as always. Also: a cancel ends the task at once however the host
// stalls, and the check pass deletes staging files no download goes on with.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

#include "app/texts.h"
#include "tests/win32/download_test_util.h"
#include "update/resume_state.h"

using namespace download_test;

namespace {

class Resume : public FaultServerTest {
 protected:
  void SetUp() override {
    FaultServerTest::SetUp();
    if (HasFatalFailure()) return;
    manifest_ = LoadScenario(u"resume");
    ASSERT_EQ(manifest_.files.size(), 2u);
  }
  const FileEntry& big() const { return EntryAt(manifest_, u"big.bin"); }
  WideString part() const { return ClientFilePath(big()) + u".part"; }
  WideString state() const { return ResumeStatePath(part()); }

  // The Range header of every request for the big body, in order ("" for none).
  std::vector<std::string> BigRanges() const {
    std::vector<std::string> ranges;
    for (const LoggedRequest& request : ReadRequestLog()) {
      if (request.target != BodyPath(big())) continue;
      const std::string* range = request.Header("Range");
      ranges.push_back(range ? *range : "");
    }
    return ranges;
  }

  // A task cancelled part-way through the big body, its ".part" and record
  // left as a killed process leaves them: the host stalls after `after` bytes.
  void CancelAfter(uint64_t after) {
    ScopedFaultRules rules({BodyPath(big()) + " stall 30 " + std::to_string(after)});
    ASSERT_TRUE(rules.ok);
    std::thread player([&] {
      for (int i = 0; i < 3000 && !Exists(state()); ++i) Sleep(10);
      const uint32_t wanted = static_cast<uint32_t>(after * 1000 / big().download_size) - 5;
      for (int i = 0; i < 3000 && g_state.file_permille.load() < wanted; ++i) Sleep(10);
      Sleep(200);
      g_state.cancel_requested = true;
    });
    EXPECT_FALSE(Update(manifest_, true, false));
    player.join();
    ExpectStatus(kTextCancelledResumable, u"", false);
    ASSERT_TRUE(Exists(part()));
    ASSERT_TRUE(Exists(state()));
    ClearRequestLog();
    ResetState();
  }

  Manifest manifest_;
};

uint64_t RangeStart(const std::string& header) {
  uint64_t start = 0;
  EXPECT_EQ(std::sscanf(header.c_str(), "bytes=%llu-", reinterpret_cast<unsigned long long*>(&start)), 1) << header;
  return start;
}

TEST_F(Resume, ACutBodyIsTakenUpByTheNextTryWithARangeRequest) {
  const uint64_t cut = big().download_size * 3 / 4;
  ScopedFaultRules rules({BodyPath(big()) + " drop " + std::to_string(cut) + " times=1"});
  ASSERT_TRUE(rules.ok);
  EXPECT_TRUE(Update(manifest_, true, false));
  ExpectInstalled(u"resume", manifest_, true, false);
  const std::vector<std::string> ranges = BigRanges();
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0], "");
  const uint64_t from = RangeStart(ranges[1]);
  EXPECT_LE(from, cut);
  EXPECT_GE(from + kResumeSpacing + 131072, cut) << "resumed from the last point before the cut";
  EXPECT_EQ(SentBodyBytes(BodyPath(big())), cut + (big().download_size - from));
  EXPECT_TRUE(PartFiles().empty());
  EXPECT_FALSE(Exists(state()));
}

TEST_F(Resume, ACancelledTaskIsTakenUpByTheNextOne) {
  const uint64_t cut = big().download_size * 3 / 4;
  CancelAfter(cut);
  EXPECT_TRUE(Update(manifest_, true, false));
  ExpectInstalled(u"resume", manifest_, true, false);
  const std::vector<std::string> ranges = BigRanges();
  ASSERT_EQ(ranges.size(), 1u);
  const uint64_t from = RangeStart(ranges[0]);
  EXPECT_GE(from + kResumeSpacing + 131072, cut);
  EXPECT_EQ(SentBodyBytes(BodyPath(big())), big().download_size - from);
  EXPECT_FALSE(Exists(state()));
}

// The record and the ".part" must agree with each other and with the entry;
// whatever is off, the download starts from byte 0 and ends with the right file.
TEST_F(Resume, AnythingInconsistentStartsFromTheFirstByte) {
  const WideString outside = InstallDir() + u"\\..\\morvel-resume-outside.bin";
  const std::function<void()> spoil[] = {
      [this] {  // the record names another file
        ResumeState s;
        ASSERT_TRUE(ParseResumeState(ReadBytes(state()), s));
        s.sha256 = std::string(64, 'c');
        ASSERT_TRUE(WriteBytes(state(), FormatResumeState(s)));
      },
      [this] {  // the ".part" shorter than the record says
        ResumeState s;
        ASSERT_TRUE(ParseResumeState(ReadBytes(state()), s));
        ASSERT_TRUE(WriteBytes(part(), ReadBytes(part()).substr(0, s.part_size - 1)));
      },
      [this] {  // a changed byte before the point
        std::string bytes = ReadBytes(part());
        bytes[1000] ^= 1;
        ASSERT_TRUE(WriteBytes(part(), bytes));
      },
      [this] {  // a record that does not parse
        std::string text = ReadBytes(state());
        ASSERT_TRUE(WriteBytes(state(), text.substr(0, text.size() - 2)));
      },
      [this, &outside] {  // a second name of a file elsewhere in the ".part"'s place
        ASSERT_TRUE(WriteBytes(outside, ReadBytes(part())));
        ASSERT_TRUE(DeleteFileW(WinText(part())));
        ASSERT_TRUE(CreateHardLinkW(WinText(part()), WinText(outside), nullptr));
      },
  };
  int index = 0;
  for (const auto& damage : spoil) {
    SCOPED_TRACE(index++);
    EmptyFolder(InstallDir());
    CancelAfter(big().download_size / 2);
    const std::string before_outside = ReadBytes(part());
    damage();
    ClearRequestLog();
    EXPECT_TRUE(Update(manifest_, true, false));
    ExpectInstalled(u"resume", manifest_, true, false);
    EXPECT_EQ(BigRanges(), std::vector<std::string>{""});
    EXPECT_TRUE(PartFiles().empty());
    if (Exists(outside)) {
      EXPECT_TRUE(ReadBytes(outside) == before_outside) << "written through the link";
      DeleteFileW(WinText(outside));
    }
  }
}

TEST_F(Resume, AHostThatIgnoresRangeStillGivesTheRightFile) {
  CancelAfter(big().download_size / 2);
  ScopedFaultRules rules({BodyPath(big()) + " norange"});
  ASSERT_TRUE(rules.ok);
  EXPECT_TRUE(Update(manifest_, true, false));
  ExpectInstalled(u"resume", manifest_, true, false);
  const std::vector<std::string> ranges = BigRanges();
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_NE(ranges[0], "");
  EXPECT_EQ(SentBodyBytes(BodyPath(big())), big().download_size) << "the whole body, once";
}

TEST_F(Resume, A206ForAnotherRangeIsAFailedTryAndTheNextStartsOver) {
  CancelAfter(big().download_size / 2);
  ScopedFaultRules rules({BodyPath(big()) + " badrange 1000 times=1"});
  ASSERT_TRUE(rules.ok);
  EXPECT_TRUE(Update(manifest_, true, false));
  ExpectInstalled(u"resume", manifest_, true, false);
  const std::vector<std::string> ranges = BigRanges();
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_NE(ranges[0], "");
  EXPECT_EQ(ranges[1], "");
}

// Cancelar while the host holds back the handshake, the headers or the body:
// the texts change and the task ends at once, not when a time-out fires.
TEST_F(Resume, ACancelDuringAnyStallEndsTheTaskAtOnce) {
  // A handshake happens on a new connection only, and WinHTTP keeps those of
  // the tests before: the handshake stall is met on a port none of them used.
  const struct {
    const char* what;
    std::string rule;
    const char16_t* port;
  } stalls[] = {
      {"handshake", "@handshake stall 60", u"MORVEL_FAULT_TLS13_PORT"},
      {"headers", BodyPath(big()) + " stall 60", u"MORVEL_FAULT_PORT"},
      {"body", BodyPath(big()) + " stall 60 1048576", u"MORVEL_FAULT_PORT"},
  };
  for (const auto& stall : stalls) {
    SCOPED_TRACE(stall.what);
    EmptyFolder(InstallDir());
    ResetState();
    ASSERT_TRUE(UseServicePort(stall.port));
    ScopedFaultRules rules({stall.rule});
    ASSERT_TRUE(rules.ok);
    std::atomic<DWORD> clicked{0}, shown{0};
    std::atomic<bool> running{true};
    std::thread player([&] {
      while (running && CopyStatus().headline != TextDownloading(u"big.bin")) Sleep(1);
      Sleep(1500);  // well into the stall
      clicked = GetTickCount();
      g_state.cancel_requested = true;
      while (running && CopyStatus().headline != kTextCancelledResumable) Sleep(1);
      shown = GetTickCount();
    });
    const bool ok = Update(manifest_, true, false);
    const DWORD ended = GetTickCount();
    running = false;
    player.join();
    EXPECT_FALSE(ok);
    ExpectStatus(kTextCancelledResumable, u"", false);
    ASSERT_NE(clicked.load(), 0u);
    EXPECT_LT(shown - clicked, 250u) << "to the text";
    EXPECT_LT(ended - clicked, 500u) << "to the end of the task";
    std::printf("cancel during a stalled %s: text after %lu ms, task ended after %lu ms\n", stall.what,
                static_cast<unsigned long>(shown - clicked), static_cast<unsigned long>(ended - clicked));
  }
  ASSERT_TRUE(UseFaultServer());
}

TEST_F(Resume, TheCheckPassDeletesStagingFilesNoDownloadTakesUp) {
  CancelAfter(big().download_size / 2);
  const WideString dir = ClientDir(ClientKind::OTClient);
  ASSERT_TRUE(CreateDirectoryTree(dir + u"\\old\\deep"));
  const WideString stale[] = {dir + u"\\dropped.dat.part", dir + u"\\old\\deep\\gone.bin.part",
                              dir + u"\\old\\deep\\gone.bin.part.state", dir + u"\\gone.part.state.new"};
  for (const WideString& path : stale) ASSERT_TRUE(WriteBytes(path, std::string(100000, 'p')));
  ASSERT_TRUE(WriteBytes(dir + u"\\notes.txt", "the player's"));
  // The check pass of a run with the big body still to come keeps its ".part".
  ClearRequestLog();
  EXPECT_TRUE(Update(manifest_, true, false));
  for (const WideString& path : stale) EXPECT_FALSE(Exists(path)) << WideToUtf8(path);
  EXPECT_EQ(ReadBytes(dir + u"\\notes.txt"), "the player's");
  EXPECT_NE(BigRanges(), std::vector<std::string>{""}) << "its own .part was taken up, not deleted";
  // With nothing to fetch, the left-over ".part" of a file in place goes too.
  ASSERT_TRUE(WriteBytes(part(), "left over"));
  EXPECT_TRUE(Update(manifest_, true, false));
  EXPECT_TRUE(PartFiles().empty());
  // A client file named like a ".part" is the manifest's, never deleted.
  const Manifest named = LoadScenario(u"partname");
  EXPECT_TRUE(Update(named, true, false));
  EXPECT_TRUE(Update(named, true, false));
  ExpectInstalled(u"partname", named, true, false);
}

// What a cut costs at 90% of a 100 MiB body: at most 12 MiB more, within the
// task and in the next one; printed with the time each run took.
TEST_F(Resume, ACut100MiBBodyFetchesAtMost12MiBMore) {
  const Manifest huge = LoadScenario(u"huge");
  const FileEntry& entry = huge.files[0];
  const uint64_t cut = entry.download_size * 9 / 10;
  const uint64_t allowed = cut + (12u << 20);
  {
    ScopedFaultRules rules({BodyPath(entry) + " drop " + std::to_string(cut) + " times=1"});
    const DWORD start = GetTickCount();
    EXPECT_TRUE(Update(huge, true, false));
    const uint64_t sent = SentBodyBytes(BodyPath(entry));
    EXPECT_LE(sent, allowed);
    std::printf("same task: %llu body bytes for a %llu-byte body cut at %llu (%.2f MiB to finish, %.2f MiB more than the rest), %lu ms\n",
                static_cast<unsigned long long>(sent), static_cast<unsigned long long>(entry.download_size),
                static_cast<unsigned long long>(cut), (sent - cut) / 1048576.0,
                (sent - entry.download_size) / 1048576.0, static_cast<unsigned long>(GetTickCount() - start));
  }
  EmptyFolder(InstallDir());
  ClearRequestLog();
  ResetState();
  {
    ScopedFaultRules rules({BodyPath(entry) + " stall 60 " + std::to_string(cut)});
    std::thread player([&] {
      for (int i = 0; i < 12000 && g_state.file_permille.load() < 899; ++i) Sleep(5);
      Sleep(300);
      g_state.cancel_requested = true;
    });
    EXPECT_FALSE(Update(huge, true, false));
    player.join();
  }
  const uint64_t before = SentBodyBytes(BodyPath(entry));
  EXPECT_EQ(before, cut);
  ClearRequestLog();
  ResetState();
  const DWORD start = GetTickCount();
  EXPECT_TRUE(Update(huge, true, false));
  const DWORD took = GetTickCount() - start;
  const uint64_t sent = SentBodyBytes(BodyPath(entry));
  EXPECT_LE(before + sent, allowed);
  EXPECT_TRUE(ReadBytes(ClientFilePath(entry)) == SourceBytes(u"huge", entry));
  std::printf("next task: %llu body bytes after %llu (%.2f MiB to finish, %.2f MiB more than the rest), %lu ms with the re-read\n",
              static_cast<unsigned long long>(sent), static_cast<unsigned long long>(before), sent / 1048576.0,
              (before + sent - entry.download_size) / 1048576.0, static_cast<unsigned long>(took));
}

}  // namespace

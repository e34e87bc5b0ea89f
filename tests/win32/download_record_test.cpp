// The records of verified files under Wine: what a "Jogar" check pass takes
// from them without reading, what makes it read again, and when they are
// written. Built into download_tests, over the fixtures of download_test.cpp.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/texts.h"
#include "tests/win32/download_test_util.h"
#include "update/verified_record.h"

using namespace download_test;

namespace {

class DownloadRecord : public FaultServerTest {
 protected:
  void SetUp() override {
    FaultServerTest::SetUp();
    if (HasFatalFailure()) return;
    manifest_ = LoadScenario(u"install");
    ASSERT_TRUE(Play());  // the first "Jogar" installs
    ClearRequestLog();
    ResetState();
  }

  bool Play() { return Update(manifest_, true, false, TaskKind::Play); }
  WideString PathOf(const char16_t* path) { return ClientFilePath(EntryAt(manifest_, path)); }
  std::vector<VerifiedFile> Recorded() {
    std::vector<VerifiedFile> files;
    EXPECT_TRUE(ParseRecord(ReadBytes(VerifiedRecordPath(ClientKind::OTClient)), "otc", files));
    return files;
  }

  Manifest manifest_;
};

// Every file of the first client but the kept one, which is never compared.
std::vector<const FileEntry*> Compared(const Manifest& manifest) {
  std::vector<const FileEntry*> entries;
  for (const FileEntry& entry : manifest.files) {
    if (entry.client == ClientKind::OTClient && !entry.keep_existing) entries.push_back(&entry);
  }
  return entries;
}

TEST_F(DownloadRecord, ASecondPlayReadsNoFileAndVerifyCatchesAForgery) {
  const std::vector<const FileEntry*> compared = Compared(manifest_);
  ASSERT_EQ(Recorded().size(), compared.size()) << "every downloaded file, nothing else";
  EXPECT_FALSE(Exists(ClientDir(ClientKind::OTClient) + u"\\otc.verified")) << "not inside the client folder";

  // Other content under every file's facts: a pass that read any of them would
  // fetch it again.
  std::vector<const FileEntry*> forged;
  for (const FileEntry* entry : compared) {
    if (entry->size == 0) continue;  // nothing to forge
    ASSERT_TRUE(ForgeInPlace(ClientFilePath(*entry))) << WideToUtf8(entry->path);
    forged.push_back(entry);
  }
  ASSERT_GE(forged.size(), compared.size() - 1);
  EXPECT_TRUE(Play());
  EXPECT_TRUE(FetchedBodies().empty());
  // The pass looks as it always did.
  ExpectStatus(TextCheckingFiles(9, 11), u"", false);
  EXPECT_EQ(g_state.file_permille.load(), 1000u);
  EXPECT_EQ(g_state.total_permille.load(), 1000u);

  // "Verificar arquivos" reads every file and repairs them all.
  ResetState();
  EXPECT_TRUE(Update(manifest_, true, false, TaskKind::VerifyFiles));
  EXPECT_EQ(Sorted(FetchedBodies()), Sorted(Digests(forged)));
  ExpectInstalled(u"install", manifest_, true, false);
  // Rewritten: the files fetched again. The empty one, hashed moments after
  // its download, waits for a later pass.
  EXPECT_EQ(Recorded().size(), forged.size());
}

TEST_F(DownloadRecord, AFileChangedInPlaceOrReplacedIsHashedAndFetched) {
  // Rewritten with the same size, its time moved on.
  const FileEntry& module = EntryAt(manifest_, u"modules\\game\\game.otmod");
  const uint64_t time = LastWriteTime(ClientFilePath(module));
  ASSERT_TRUE(WriteBytes(ClientFilePath(module), std::string(module.size, 'x')));
  ASSERT_TRUE(SetLastWriteTime(ClientFilePath(module), time + 10000000));
  // Replaced by another file of the same size and time: only its identity differs.
  const FileEntry& things = EntryAt(manifest_, u"data\\things\\860.dat");
  const WideString other = ClientFilePath(things) + u".other";
  ASSERT_TRUE(WriteBytes(other, std::string(things.size, 'y')));
  ASSERT_TRUE(SetLastWriteTime(other, LastWriteTime(ClientFilePath(things))));
  ASSERT_TRUE(MoveFileExW(WinText(other), WinText(ClientFilePath(things)), MOVEFILE_REPLACE_EXISTING));

  EXPECT_TRUE(Play());
  EXPECT_EQ(Sorted(FetchedBodies()), Sorted(Digests({&module, &things})));
  ExpectInstalled(u"install", manifest_, true, false);
}

TEST_F(DownloadRecord, ADamagedOrForeignRecordIsIgnored) {
  const WideString record = VerifiedRecordPath(ClientKind::OTClient);
  const std::string whole = ReadBytes(record);
  ASSERT_TRUE(Update(manifest_, false, true, TaskKind::Play));
  const std::string classic = ReadBytes(VerifiedRecordPath(ClientKind::Classic));
  std::string flipped = whole;
  flipped[whole.size() / 2] ^= 1;
  const std::string records[] = {
      whole.substr(0, whole.size() - 1), flipped, classic, "", std::string(100000, 'x'),
      FormatRecord("otc", {}) + whole,
  };
  const FileEntry& module = EntryAt(manifest_, u"modules\\game\\game.otmod");
  for (const std::string& text : records) {
    SCOPED_TRACE(text.substr(0, 40));
    ASSERT_TRUE(WriteBytes(record, text));
    ASSERT_TRUE(ForgeInPlace(ClientFilePath(module)));
    ClearRequestLog();
    EXPECT_TRUE(Play());
    EXPECT_EQ(FetchedBodies(), Digests({&module}));
    // Written anew: files hashed within moments of their download are left
    // out, the one fetched again is in.
    const std::vector<VerifiedFile> recorded = Recorded();
    EXPECT_TRUE(std::any_of(recorded.begin(), recorded.end(),
                            [&](const VerifiedFile& file) { return file.path == module.path; }));
  }
}

TEST_F(DownloadRecord, TheRecordIsWrittenRightAfterAFailedDownload) {
  // A file fetched before the one that fails: a new file, which only the
  // record written after the failure knows.
  const FileEntry& things = EntryAt(manifest_, u"data\\things\\860.dat");
  const FileEntry& before = *Compared(manifest_)[0];
  ASSERT_LT(&before, &things);
  ASSERT_TRUE(DeleteFileW(WinText(ClientFilePath(before))));
  ASSERT_TRUE(DeleteFileW(WinText(ClientFilePath(things))));
  {
    ScopedFaultRules rules({BodyPath(things) + " status 500"});
    ASSERT_TRUE(rules.ok);
    EXPECT_FALSE(Play());
    ExpectStatus(kTextDownloadFailed, kTextCheckConnection, true);
  }
  ASSERT_TRUE(ForgeInPlace(ClientFilePath(before)));
  ClearRequestLog();
  ResetState();
  EXPECT_TRUE(Play());
  EXPECT_EQ(FetchedBodies(), Digests({&things}));
}

TEST_F(DownloadRecord, TheRecordIsWrittenRightAfterACancelledDownload) {
  manifest_ = LoadScenario(u"five");
  ASSERT_EQ(manifest_.files.size(), 5u);
  const FileEntry& second = manifest_.files[1];
  ScopedFaultRules rules({BodyPath(second) + " drop 100000"});
  ASSERT_TRUE(rules.ok);
  std::thread player([] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      if (CopyStatus().headline == TextDownloading(u"pack\\02.dat") && g_state.file_permille.load() > 0) {
        g_state.cancel_requested = true;
        return;
      }
      Sleep(1);
    }
  });
  EXPECT_FALSE(Play());
  player.join();
  ExpectStatus(kTextCancelledResumable, u"", false);

  // The first file is in the record: forged, it is not read again.
  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0].path, manifest_.files[0].path);
  ASSERT_TRUE(ForgeInPlace(ClientFilePath(manifest_.files[0])));
  ClearFaultRules();
  ClearRequestLog();
  ResetState();
  EXPECT_TRUE(Play());
  EXPECT_EQ(Sorted(FetchedBodies()),
            Sorted(Digests({&manifest_.files[1], &manifest_.files[2], &manifest_.files[3], &manifest_.files[4]})));
}

// A file hashed just after its last write is not recorded: a second write in
// the same tick of the file system's clock would leave its time unchanged.
TEST_F(DownloadRecord, OnlyFilesWhoseLastWriteHadSettledAreRecordedWhenHashed) {
  const FileEntry& module = EntryAt(manifest_, u"modules\\game\\game.otmod");
  const FileEntry& things = EntryAt(manifest_, u"data\\things\\860.dat");
  ASSERT_TRUE(WriteBytes(ClientFilePath(module), SourceBytes(u"install", module)));  // just now
  ASSERT_TRUE(WriteBytes(ClientFilePath(things), SourceBytes(u"install", things)));
  ASSERT_TRUE(SetLastWriteTime(ClientFilePath(things), LastWriteTime(ClientFilePath(things)) - 2 * kSettleTime));
  EXPECT_TRUE(Play());
  EXPECT_TRUE(FetchedBodies().empty());
  std::vector<WideString> paths;
  for (const VerifiedFile& file : Recorded()) paths.push_back(file.path);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), module.path), 0);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), things.path), 1);
  EXPECT_EQ(paths.size(), Compared(manifest_).size() - 1);
}

}  // namespace

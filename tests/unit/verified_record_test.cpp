// The record of verified files: its text read back whole or not at all, and
// what one check pass takes from it and gives it.
#include "update/verified_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/sha256.h"

namespace {

const std::string kA(64, 'a');
const std::string kB(64, 'b');
constexpr uint64_t kMax64 = UINT64_MAX;

VerifiedFile File(const char16_t* path, const std::string& sha, FileFacts facts) { return {path, sha, facts}; }

const std::vector<VerifiedFile> kFiles = {
    File(u"data\\things.dat", kA, {10, 133000000000000000, 0x1234ABCD, 77}),
    File(u"m\u00fasica\\tema.ogg", kB, {kMax64, kMax64, UINT32_MAX, kMax64}),  // accented, every field at its top
    File(u"empty.txt", kA, {0, 1, 0, 1}),
};

// A body with the final line a writer would give it.
std::string Sealed(const std::string& body) {
  Sha256 digest;
  digest.Update(body.data(), static_cast<uint32_t>(body.size()));
  return body + "end\t" + digest.FinishHex() + "\n";
}

bool Parses(const std::string& text, const std::string& key = "otc") {
  std::vector<VerifiedFile> files;
  const bool ok = ParseRecord(text, key, files);
  if (!ok) {
    EXPECT_TRUE(files.empty()) << "nothing of a record that is not whole";
  }
  return ok;
}

void ExpectSame(const std::vector<VerifiedFile>& a, const std::vector<VerifiedFile>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].path, b[i].path) << i;
    EXPECT_EQ(a[i].sha256, b[i].sha256) << i;
    EXPECT_TRUE(a[i].facts == b[i].facts) << i;
  }
}

TEST(VerifiedRecordText, ReadsBackWhatItWrote) {
  for (const std::vector<VerifiedFile>& files : {kFiles, std::vector<VerifiedFile>()}) {
    std::vector<VerifiedFile> read;
    ASSERT_TRUE(ParseRecord(FormatRecord("classic", files), "classic", read));
    ExpectSame(read, files);
  }
}

TEST(VerifiedRecordText, EveryDamagedByteOrCutIsCaught) {
  const std::string text = FormatRecord("otc", kFiles);
  for (size_t i = 0; i < text.size(); ++i) {
    std::string damaged = text;
    damaged[i] = static_cast<char>(damaged[i] ^ 0x20);
    EXPECT_FALSE(Parses(damaged)) << "byte " << i;
    EXPECT_FALSE(Parses(text.substr(0, i))) << "cut at " << i;
  }
  EXPECT_FALSE(Parses(text + "\n"));
  EXPECT_FALSE(Parses(text + text));
}

TEST(VerifiedRecordText, SealedButInconsistentRecordsAreIgnored) {
  const std::string line = kA + "\t10\t5\t7\t9\tdata\\a.dat\n";
  const std::string header = "morvel-verified\t1\totc\t";
  ASSERT_TRUE(Parses(Sealed(header + "1\n" + line)));
  const std::string bodies[] = {
      "morvel-verified\t2\totc\t1\n" + line,                        // a later version
      "morvel-verified\t1\tclassic\t1\n" + line,                    // the other client's
      "morvel-launcher\t1\totc\t1\n" + line,                        // not a record
      "morvel-verified\t1\totc\t1\textra\n" + line,
      header + "2\n" + line,                                        // fewer lines than counted
      header + "0\n" + line,                                        // more
      header + "01\n" + line,
      header + "1\n" + line.substr(0, line.size() - 1),             // no line end before the final line
      header + "1\r\n" + line,
      header + "2\n" + line + line,                                 // a path twice
      header + "1\n" + std::string(64, 'A') + "\t10\t5\t7\t9\tx\n",   // upper-case digest
      header + "1\n" + std::string(63, 'a') + "\t10\t5\t7\t9\tx\n",
      header + "1\n" + kA + "\t10\t5\t7\t9\t\n",                    // no path
      header + "1\n" + kA + "\t10\t5\t7\t9\tx\ty\n",                // seven fields
      header + "1\n" + kA + "\t10\t5\t7\tx\n",                      // five
      header + "1\n" + kA + "\t010\t5\t7\t9\tx\n",                  // a leading zero
      header + "1\n" + kA + "\t-1\t5\t7\t9\tx\n",
      header + "1\n" + kA + "\t 1\t5\t7\t9\tx\n",
      header + "1\n" + kA + "\t\t5\t7\t9\tx\n",
      header + "1\n" + kA + "\t18446744073709551616\t5\t7\t9\tx\n",  // 2^64
      header + "1\n" + kA + "\t10\t99999999999999999999\t7\t9\tx\n",
      header + "1\n" + kA + "\t10\t5\t4294967296\t9\tx\n",          // a serial past 32 bits
      header + "1\n" + kA + "\t10\t5\t7\t9\t\xC3(\n",               // invalid UTF-8
      header + "1\n" + kA + "\t10\t5\t7\t9\t" + std::string(1001, 'p') + "\n",
  };
  for (const std::string& body : bodies) EXPECT_FALSE(Parses(Sealed(body))) << body;
  EXPECT_FALSE(Parses(Sealed(header + "1\n" + line), "classic"));
  EXPECT_FALSE(Parses(""));
  EXPECT_FALSE(Parses("garbage"));
}

TEST(VerifiedRecordText, TheLargestRecordOfAManifestFitsItsLimit) {
  for (size_t n : {0, 1, 50}) {
    std::vector<VerifiedFile> files;
    for (size_t i = 0; i < n; ++i) {
      WideString path(1000 - 4, u'p');
      path += Utf8ToUtf16(std::to_string(1000 + i));
      files.push_back({path, kA, {kMax64, kMax64, UINT32_MAX, kMax64}});
    }
    const std::string text = FormatRecord("classic", files);
    EXPECT_LE(text.size(), MaxRecordBytes(n)) << n;
    EXPECT_GT(text.size() + 256, MaxRecordBytes(n)) << "the limit is not far above the largest: " << n;
  }
}

TEST(VerifiedRecordTime, AFileIsRecordedOnlyOnceItsLastWriteHasSettled) {
  struct Case {
    uint64_t last_write, read_start;
    bool settled;
  };
  const Case cases[] = {
      {0, kSettleTime, true},
      {100, 100 + kSettleTime, true},
      {101, 100 + kSettleTime, false},
      {100, 100, false},
      {200, 100, false},          // a time in the future
      {0, kSettleTime - 1, false},
      {kMax64, kMax64, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SettledBefore(c.last_write, c.read_start), c.settled) << c.last_write << " " << c.read_start;
  }
}

// --- One check pass ---------------------------------------------------------

FileEntry Entry(ClientKind client, const char16_t* path, const std::string& sha, uint64_t size) {
  FileEntry entry;
  entry.client = client;
  entry.path = path;
  entry.sha256 = sha;
  entry.size = size;
  return entry;
}

constexpr FileFacts kFacts{10, 5000, 7, 9};

TEST(VerifiedRecordPass, VouchesOnlyForTheSameFactsAndTheManifestsDigestAndSize) {
  const std::vector<FileEntry> files = {Entry(ClientKind::OTClient, u"a", kA, 10),
                                        Entry(ClientKind::OTClient, u"b", kB, 10),  // the record has kA
                                        Entry(ClientKind::OTClient, u"c", kA, 11),  // the record has size 10
                                        Entry(ClientKind::Classic, u"a", kA, 10),   // the other client's path
                                        Entry(ClientKind::OTClient, u"z", kA, 10)}; // not recorded
  struct Case {
    size_t index;
    FileFacts facts;
    bool vouches;
  };
  const Case cases[] = {
      {0, kFacts, true},
      {0, {11, 5000, 7, 9}, false},
      {0, {10, 5001, 7, 9}, false},
      {0, {10, 5000, 8, 9}, false},
      {0, {10, 5000, 7, 10}, false},
      {1, kFacts, false},
      {2, kFacts, false},
      {3, kFacts, false},
      {4, kFacts, false},
  };
  for (const Case& c : cases) {
    PassRecord pass(files);
    pass.Trust(ClientKind::OTClient, {File(u"a", kA, kFacts), File(u"b", kA, kFacts), File(u"c", kA, kFacts)});
    EXPECT_EQ(pass.Vouches(c.index, c.facts), c.vouches) << c.index << " " << c.facts.last_write;
  }
  // A file system that gives no identity cannot tell a file from its replacement.
  PassRecord pass(files);
  pass.Trust(ClientKind::OTClient, {File(u"a", kA, {10, 5000, 7, 0})});
  EXPECT_FALSE(pass.Vouches(0, {10, 5000, 7, 0}));
}

TEST(VerifiedRecordPass, TheNewRecordHoldsWhatThePassSawAndNothingBeyondTheManifest) {
  std::vector<FileEntry> files = {
      Entry(ClientKind::OTClient, u"kept", kA, 10),     // vouched for
      Entry(ClientKind::OTClient, u"changed", kA, 10),  // other facts now
      Entry(ClientKind::OTClient, u"hashed", kB, 10),   // hashed, noted
      Entry(ClientKind::OTClient, u"unseen", kA, 10),   // the pass stopped before it
      Entry(ClientKind::Classic, u"kept", kA, 10),      // another client's record
      Entry(ClientKind::OTClient, u"twice", kA, 10),    // named twice: the last line counts
      Entry(ClientKind::OTClient, u"new", kB, 10),      // noted without an identity
      Entry(ClientKind::OTClient, u"twice", kB, 10),
      Entry(ClientKind::OTClient, u"kept file", kB, 10),  // the player's: never recorded
  };
  files.back().keep_existing = true;
  PassRecord pass(files);
  pass.Trust(ClientKind::OTClient,
             {File(u"gone", kA, kFacts), File(u"unseen", kA, kFacts), File(u"changed", kA, kFacts),
              File(u"hashed", kA, kFacts), File(u"kept", kA, kFacts), File(u"twice", kA, kFacts)});
  EXPECT_TRUE(pass.Vouches(0, kFacts));
  EXPECT_FALSE(pass.Vouches(1, {10, 6000, 7, 9}));
  EXPECT_FALSE(pass.Vouches(2, kFacts));  // the recorded digest is not the manifest's
  pass.Note(2, {10, 7000, 7, 9});
  pass.Note(6, {10, 7000, 7, 0});
  pass.Note(7, {10, 8000, 7, 9});
  pass.Note(8, {10, 8000, 7, 9});

  ExpectSame(pass.Result(ClientKind::OTClient), {File(u"kept", kA, kFacts), File(u"hashed", kB, {10, 7000, 7, 9}),
                                                 File(u"unseen", kA, kFacts), File(u"twice", kB, {10, 8000, 7, 9})});
  EXPECT_TRUE(pass.Result(ClientKind::Classic).empty()) << "no record was trusted for it";

  // The last line of a path seen with other facts drops the record of an earlier one.
  PassRecord dropped(files);
  dropped.Trust(ClientKind::OTClient, {File(u"twice", kA, kFacts)});
  EXPECT_FALSE(dropped.Vouches(7, {10, 1, 7, 9}));
  EXPECT_TRUE(dropped.Result(ClientKind::OTClient).empty());
}

}  // namespace

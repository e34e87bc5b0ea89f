// Progress arithmetic, amounts and titles of the file check and download, and
// the choice of entries and staging paths.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "app/texts.h"
#include "update/download_plan.h"
#include "update/download_progress.h"

namespace {

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

TEST(DownloadProgress, PermilleTruncatesCapsAndTreatsAnEmptyWholeAsDone) {
  EXPECT_EQ(Permille(0, 0), 1000u);
  EXPECT_EQ(Permille(5, 0), 1000u);
  EXPECT_EQ(Permille(0, 3), 0u);
  EXPECT_EQ(Permille(1, 3), 333u);
  EXPECT_EQ(Permille(2, 3), 666u);
  EXPECT_EQ(Permille(999, 1000), 999u);
  EXPECT_EQ(Permille(3, 3), 1000u);
  EXPECT_EQ(Permille(4, 3), 1000u);
  // Where part × 1000 no longer fits in 64 bits the result is still sane.
  EXPECT_EQ(Permille(kMax / 2, kMax), 499u);
  EXPECT_EQ(Permille(kMax - 1, kMax), 999u);
  EXPECT_EQ(Permille(kMax, kMax), 1000u);
  EXPECT_EQ(Permille(kMax / 1000 + 1, kMax / 1000 * 2), 500u);
}

#ifdef __SIZEOF_INT128__
TEST(DownloadProgress, PermilleIsExactBeyondSixtyFourBitProducts) {
  std::mt19937_64 rng(5);
  for (int i = 0; i < 100000; ++i) {
    uint64_t whole = rng() | (uint64_t{1} << 60);
    uint64_t part = rng() % whole;
    if (i % 2) part = whole - 1 - (rng() & 0xFFFF) % whole;
    const auto exact = static_cast<uint32_t>(static_cast<unsigned __int128>(part) * 1000 / whole);
    ASSERT_EQ(Permille(part, whole), exact) << part << " / " << whole;
  }
}
#endif

TEST(DownloadProgress, FileAndTotalFollowTheReceivedBytes) {
  EXPECT_EQ(FilePermille(0, 200), 0u);
  EXPECT_EQ(FilePermille(100, 200), 500u);
  EXPECT_EQ(FilePermille(250, 200), 1000u);  // a body longer than announced
  EXPECT_EQ(FilePermille(1, 0), 1000u);      // a download size of 0 shows full at once

  EXPECT_EQ(TransferCurrent(1000, 50, 200), 1050u);
  EXPECT_EQ(TransferCurrent(1000, 500, 200), 1200u);  // never beyond this file's share
  EXPECT_EQ(TransferCurrent(1000, 500, 0), 1000u);    // a size of 0 counts nothing
  EXPECT_EQ(TransferCurrent(kMax - 10, 100, 100), kMax);
  EXPECT_EQ(SaturatingAdd(kMax, 1), kMax);
  EXPECT_EQ(SaturatingAdd(kMax - 1, 1), kMax);
  EXPECT_EQ(SaturatingAdd(2, 3), 5u);
}

TEST(DownloadProgress, TotalNeverPassesTheWholeEvenForAbsurdManifestSizes) {
  // Two bodies announced at 2^63 each: the sum saturates instead of wrapping to 0.
  const uint64_t half = uint64_t{1} << 63;
  const uint64_t total = SaturatingAdd(half, half);
  EXPECT_EQ(total, kMax);
  uint64_t done = 0;
  uint32_t last = 0;
  for (uint64_t received : {uint64_t{0}, uint64_t{1} << 40, half}) {
    const uint32_t p = Permille(TransferCurrent(done, received, half), total);
    EXPECT_LE(p, 1000u);
    EXPECT_GE(p, last);
    last = p;
  }
  done = SaturatingAdd(done, half);
  EXPECT_EQ(Permille(TransferCurrent(done, half, half), total), 1000u);
}

TEST(DownloadProgress, FormatMegabytesUsesOneDecimalAndADecimalComma) {
  EXPECT_EQ(FormatMegabytes(0), u"0,0 MB");
  EXPECT_EQ(FormatMegabytes(1572864), u"1,5 MB");
  EXPECT_EQ(FormatMegabytes(1048576), u"1,0 MB");
  EXPECT_EQ(FormatMegabytes(104857), u"0,1 MB");   // 0.099999...
  EXPECT_EQ(FormatMegabytes(52428800), u"50,0 MB");
  EXPECT_EQ(FormatMegabytes(478884659), u"456,7 MB");
  EXPECT_EQ(FormatMegabytes(uint64_t{1073741824} * 1024 - 1), u"1048576,0 MB");
  // Exact halves round to even, as printf does with the exact binary value.
  EXPECT_EQ(FormatMegabytes(262144), u"0,2 MB");   // 0.25
  EXPECT_EQ(FormatMegabytes(786432), u"0,8 MB");   // 0.75
  EXPECT_EQ(FormatMegabytes(262145), u"0,3 MB");
  EXPECT_EQ(FormatMegabytes(kMax), u"17592186044416,0 MB");
}

#ifndef _WIN32
// The native C library prints "%.1f" correctly rounded; ours must agree on
// every value, whatever locale the process runs in.
TEST(DownloadProgress, FormatMegabytesAgreesWithPrintf) {
  std::mt19937_64 rng(11);
  for (int i = 0; i < 200000; ++i) {
    uint64_t bytes = rng();
    switch (i % 4) {
      case 0: bytes >>= 24; break;                                  // up to ~1 TB
      case 1: bytes = (bytes >> 44) * 52429 + (i % 3); break;       // near tenth boundaries
      case 2: bytes = (bytes >> 40) | ((bytes & 1) << 19); break;   // halves
      default: break;
    }
    char reference[64];
    std::snprintf(reference, sizeof reference, "%.1f MB", static_cast<double>(bytes) * (1.0 / 1048576.0));
    std::u16string expected;
    for (const char* c = reference; *c; ++c) expected.push_back(*c == '.' ? u',' : static_cast<char16_t>(*c));
    ASSERT_EQ(FormatMegabytes(bytes), expected) << bytes;
  }
}
#endif

TEST(DownloadProgress, TransferDetailJoinsTheTwoAmounts) {
  EXPECT_EQ(TransferDetail(12897485, 478884659), u"12,3 MB de 456,7 MB");
  EXPECT_EQ(TransferDetail(0, 0), u"0,0 MB de 0,0 MB");
}

TEST(DownloadProgress, CheckTitleEveryEighthFile) {
  std::u16string shown;
  for (size_t i = 0; i < 17; ++i) {
    const WideString title = CheckPassTitle(i, 17);
    if (!title.empty()) shown += title + u"|";
  }
  EXPECT_EQ(shown, TextCheckingFiles(1, 17) + u"|" + TextCheckingFiles(9, 17) + u"|" + TextCheckingFiles(17, 17) + u"|");
  EXPECT_EQ(CheckPassTitle(0, 1), TextCheckingFiles(1, 1));
  EXPECT_EQ(CheckPassTitle(7, 8), u"");
  EXPECT_EQ(CheckPassTitle(100000, 123456), TextCheckingFiles(100001, 123456));
}

TEST(DownloadProgress, FreeSpaceNeedsTheFilesPlusFiftyMebibytes) {
  const uint64_t size = 1572864;
  EXPECT_TRUE(EnoughFreeSpace(size + 52428800, size));
  EXPECT_FALSE(EnoughFreeSpace(size + 52428800 - 1, size));
  EXPECT_TRUE(EnoughFreeSpace(52428800, 0));
  EXPECT_FALSE(EnoughFreeSpace(52428799, 0));
  // A total that would wrap past 2^64 with the margin needs everything.
  EXPECT_FALSE(EnoughFreeSpace(kMax - 1, kMax - 10));
  EXPECT_TRUE(EnoughFreeSpace(kMax, kMax - 10));
}

// --- Selection and staging paths ---------------------------------------------

FileEntry Entry(int32_t client, const char16_t* path, const char* sha = "a") {
  FileEntry e;
  e.client = static_cast<ClientKind>(client);  // out-of-range values too
  e.path = path;
  e.sha256 = sha;
  return e;
}

WideString Target(const FileEntry& e) { return (e.client == ClientKind::OTClient ? u"C:\\otc\\" : u"C:\\classic\\") + e.path; }

WideString AsciiUpper(const WideString& s) {
  WideString out = s;
  for (char16_t& c : out) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return out;
}

TEST(DownloadPlan, SelectsTheChosenClientsInManifestOrder) {
  const std::vector<FileEntry> files = {Entry(0, u"a"), Entry(1, u"b"), Entry(0, u"c"), Entry(1, u"d")};
  const bool otc[2] = {true, false};
  const bool classic[2] = {false, true};
  const bool both[2] = {true, true};
  const bool none[2] = {false, false};
  EXPECT_EQ(SelectEntries(files, otc, Target, AsciiUpper), (std::vector<size_t>{0, 2}));
  EXPECT_EQ(SelectEntries(files, classic, Target, AsciiUpper), (std::vector<size_t>{1, 3}));
  EXPECT_EQ(SelectEntries(files, both, Target, AsciiUpper), (std::vector<size_t>{0, 1, 2, 3}));
  EXPECT_TRUE(SelectEntries(files, none, Target, AsciiUpper).empty());
  EXPECT_TRUE(SelectEntries({}, both, Target, AsciiUpper).empty());
}

TEST(DownloadPlan, ATargetNamedTwiceIsKeptOnceWithItsLastLine) {
  const std::vector<FileEntry> files = {
      Entry(0, u"data\\x.dat", "first"), Entry(0, u"y"), Entry(1, u"data\\x.dat", "other client"),
      Entry(0, u"DATA\\X.DAT", "last"),  Entry(0, u"z"),
  };
  const bool both[2] = {true, true};
  // The same path in the other client's folder is another file.
  EXPECT_EQ(SelectEntries(files, both, Target, AsciiUpper), (std::vector<size_t>{1, 2, 3, 4}));
  // With a case-sensitive key the two spellings are two files.
  const PathKey exact = [](const WideString& s) { return s; };
  EXPECT_EQ(SelectEntries(files, both, Target, exact), (std::vector<size_t>{0, 1, 2, 3, 4}));
}

TEST(DownloadPlan, EntriesOfNoKnownClientAreNeverSelected) {
  std::vector<FileEntry> files = {Entry(0, u"a"), Entry(2, u"b"), Entry(-1, u"c")};
  const bool both[2] = {true, true};
  EXPECT_EQ(SelectEntries(files, both, Target, AsciiUpper), (std::vector<size_t>{0}));
  EXPECT_EQ(TargetKeys(files, Target, AsciiUpper), (std::set<WideString>{u"C:\\OTC\\A"}));
}

TEST(DownloadPlan, StagingNeverTakesTheNameOfAnInstalledFile) {
  const std::vector<FileEntry> files = {Entry(0, u"a.dat"),           Entry(0, u"b.dat"),
                                        Entry(0, u"B.DAT.PART"),       Entry(0, u"c.dat"),
                                        Entry(0, u"c.dat.part"),       Entry(0, u"c.dat.part.part"),
                                        Entry(1, u"a.dat.part")};
  const std::set<WideString> keys = TargetKeys(files, Target, AsciiUpper);
  EXPECT_EQ(PartPathFor(u"C:\\otc\\a.dat", keys, AsciiUpper), u"C:\\otc\\a.dat.part");
  EXPECT_EQ(PartPathFor(u"C:\\otc\\b.dat", keys, AsciiUpper), u"C:\\otc\\b.dat.part.part");
  EXPECT_EQ(PartPathFor(u"C:\\otc\\c.dat", keys, AsciiUpper), u"C:\\otc\\c.dat.part.part.part");
  EXPECT_EQ(PartPathFor(u"C:\\classic\\a.dat", keys, AsciiUpper), u"C:\\classic\\a.dat.part.part");
}

TEST(DownloadPlan, AResumeRecordNeverTakesAManifestFilesName) {
  const std::set<WideString> keys = {u"C:\\OTC\\B.DAT.PART.STATE", u"C:\\OTC\\C.DAT.PART.STATE.NEW"};
  EXPECT_EQ(StatePathFor(u"C:\\otc\\a.dat.part", keys, AsciiUpper), u"C:\\otc\\a.dat.part.state");
  EXPECT_EQ(StatePathFor(u"C:\\otc\\b.dat.part", keys, AsciiUpper), u"") << "the record's own name";
  EXPECT_EQ(StatePathFor(u"C:\\otc\\c.dat.part", keys, AsciiUpper), u"") << "the name it is written under";
}

TEST(DownloadPlan, KeptPatchBytesNeverTakeAManifestFilesName) {
  const std::set<WideString> keys = {u"C:\\OTC\\B.DAT.PART.PATCH", u"C:\\OTC\\C.DAT.PART.PATCH.STATE",
                                     u"C:\\OTC\\D.DAT.PART.PATCH.STATE.NEW"};
  EXPECT_EQ(KeptPatchPath(u"C:\\otc\\a.dat.part"), u"C:\\otc\\a.dat.part.patch");
  EXPECT_TRUE(KeptPatchNamesFree(u"C:\\otc\\a.dat.part", keys, AsciiUpper));
  for (const char16_t* part : {u"C:\\otc\\b.dat.part", u"C:\\otc\\c.dat.part", u"C:\\otc\\d.dat.part"}) {
    EXPECT_FALSE(KeptPatchNamesFree(part, keys, AsciiUpper)) << WideToUtf8(part);
  }
}

TEST(DownloadPlan, StagingNamesAreThePartsAndTheirRecords) {
  const std::pair<const char16_t*, bool> cases[] = {
      {u"C:\\otc\\a.dat.part", true},       {u"C:\\otc\\a.dat.part.part", true},
      {u"C:\\otc\\a.dat.part.state", true}, {u"C:\\otc\\a.dat.part.state.new", true},
      {u"C:\\otc\\a.dat.part.patch", true}, {u"C:\\otc\\a.dat.part.patch.state", true},
      {u"C:\\otc\\a.dat.part.patch.state.new", true}, {u"C:\\otc\\a.dat.patch", false},
      {u"C:\\otc\\a.dat", false},           {u"C:\\otc\\a.state", false},
      {u"C:\\otc\\a.part.txt", false},      {u".part", false},
      {u"C:\\otc\\a.dat.PART", false},  // not a name the launcher makes
  };
  for (const auto& [path, staging] : cases) EXPECT_EQ(IsStagingName(path), staging) << WideToUtf8(path);
}

}  // namespace

namespace {

TEST(DownloadPlan, RequestWindowHoldsAtMostInFlightItemsAndBytesAhead) {
  constexpr uint64_t kMiB = 1 << 20;
  const std::vector<uint64_t> small(10, 4096);
  const std::vector<uint64_t> mixed = {100, 6 * kMiB, 100, 100, 9 * kMiB, 100, 100};
  const std::vector<uint64_t> huge = {uint64_t{1} << 63, uint64_t{1} << 63, 1, 1};
  struct Case {
    const std::vector<uint64_t>* sizes;
    size_t current, in_flight;
    uint64_t bytes_ahead;
    size_t end;
  } cases[] = {
      {&small, 0, 1, 16 * kMiB, 1},   // one in flight: the sequential order
      {&small, 0, 6, 16 * kMiB, 6},   {&small, 3, 6, 16 * kMiB, 9},
      {&small, 7, 6, 16 * kMiB, 10},  // the list's end
      {&small, 9, 6, 16 * kMiB, 10},  {&small, 10, 6, 16 * kMiB, 10},
      {&small, 0, 6, 4096, 2},        // exactly the budget in front still goes
      {&small, 0, 6, 4095, 1},        // the body being read alone fills it
      {&mixed, 0, 6, 16 * kMiB, 6},   // 15 MiB + 300 in front of item 5: within 16 MiB
      {&mixed, 0, 6, 12 * kMiB, 5},   // but not within 12 MiB
      {&mixed, 1, 6, 12 * kMiB, 5},
      {&mixed, 2, 6, 16 * kMiB, 7},
      {&mixed, 4, 6, 8 * kMiB, 5},    // a body larger than the budget is read alone
      {&huge, 0, 6, uint64_t{1} << 63, 2},  // the sum saturates rather than wrapping to 0
      {&huge, 2, 6, 1, 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RequestWindowEnd(*c.sizes, c.current, c.in_flight, c.bytes_ahead), c.end)
        << "current " << c.current << ", in flight " << c.in_flight << ", bytes " << c.bytes_ahead;
  }
}

}  // namespace

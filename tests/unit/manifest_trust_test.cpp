// The serial and expiry lines, and what a launcher with a key makes of them.
#include "update/manifest_trust.h"

#include <gtest/gtest.h>

#include <string>

#include "update/manifest.h"
#include "update/manifest_rules.h"

namespace {

const std::string kHeader = "morvel-launcher\t1\n";
const std::string kFile = "f\totc\t" + std::string(64, 'a') + "\t10\t7\t0\ta.dat\n";

TEST(ManifestSerialLines, OnlyAPlainDecimalNumberIsRead) {
  const struct {
    const char* field;
    bool read;
    uint64_t value;
  } cases[] = {
      {"1733758800", true, 1733758800},
      {"0", true, 0},
      {"007", true, 7},
      {"18446744073709551615", true, UINT64_MAX},
      {"18446744073709551616", false, 0},  // one past the maximum
      {"99999999999999999999", false, 0},
      {"000000000000000000001", false, 0},  // 21 digits
      {"", false, 0},
      {" 5", false, 0},
      {"+5", false, 0},
      {"-5", false, 0},
      {"5x", false, 0},
      {"5\r", false, 0},  // a CR LF manifest's last field
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    uint64_t value = 12345;
    EXPECT_EQ(ReadStrictUnsigned64(c.field, value), c.read);
    EXPECT_EQ(value, c.read ? c.value : 12345u) << "a refused field leaves the value as it was";
    for (const char* kind : {"serial", "expires"}) {
      Manifest m;
      ASSERT_TRUE(ParseManifest(kHeader + kind + "\t" + c.field + "\n" + kFile, m)) << "never rejects the manifest";
      EXPECT_EQ(std::string(kind) == "serial" ? m.serial : m.expires, c.read ? c.value : 0u);
      EXPECT_EQ(m.files.size(), 1u);
    }
  }
}

TEST(ManifestSerialLines, WrongFieldCountsAreIgnoredAndLinesAreNotedLikeOthers) {
  Manifest m;
  std::vector<std::string> notes;
  const std::string text = kHeader + "serial\t5\t6\n" + "expires\n" + "serial\tx\n" + "serial\t9\n" + kFile;
  ASSERT_TRUE(ParseManifest(text, m, [&notes](size_t number, LineFate fate, const std::string& why) {
    notes.push_back(std::to_string(number) + (fate == LineFate::Ignored ? " ignored: " : " other: ") + why);
  }));
  EXPECT_EQ(m.serial, 9u);
  EXPECT_EQ(m.expires, 0u);
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[0], "2 ignored: \"serial\" line with 3 fields");
  EXPECT_EQ(notes[1], "3 ignored: \"expires\" line with 1 fields");
  EXPECT_EQ(notes[2], "4 ignored: \"serial\" value is not a plain decimal number");
}

TEST(ManifestSerialLines, WrittenAfterTheHeaderAndReadBack) {
  Manifest m;
  ASSERT_TRUE(ParseManifest(kHeader + kFile, m));
  EXPECT_EQ(FormatManifest(m), kHeader + kFile) << "no lines for what is not set";
  m.serial = 1733758800;
  m.expires = 1734363600;
  const std::string text = FormatManifest(m);
  EXPECT_EQ(text, kHeader + "serial\t1733758800\nexpires\t1734363600\n" + kFile);
  Manifest back;
  ASSERT_TRUE(ParseManifest(text, back));
  EXPECT_TRUE(SameManifest(back, m));
  back.serial = 1;
  EXPECT_FALSE(SameManifest(back, m));
  back = m;
  back.expires = 1;
  EXPECT_FALSE(SameManifest(back, m));
}

TEST(ManifestVerdicts, OlderExpiredOrEmptyIsNoManifest) {
  Manifest m;
  ASSERT_TRUE(ParseManifest(kHeader + kFile, m));
  const uint64_t now = 1733758800;
  const struct {
    const char* name;
    uint64_t serial, expires, recorded, now;
    bool files;
    ManifestVerdict verdict;
  } cases[] = {
      {"first manifest ever", 100, 0, 0, now, true, ManifestVerdict::Usable},
      {"newer than recorded", 101, 0, 100, now, true, ManifestVerdict::Usable},
      {"equal: the same manifest again", 100, 0, 100, now, true, ManifestVerdict::Usable},
      {"older", 99, 0, 100, now, true, ManifestVerdict::Older},
      {"no serial after one with", 0, 0, 1, now, true, ManifestVerdict::Older},
      {"no serial, none recorded", 0, 0, 0, now, true, ManifestVerdict::Usable},
      {"no files", 100, 0, 0, now, false, ManifestVerdict::NoFiles},
      {"expiry ahead", 100, now + 10, 0, now, true, ManifestVerdict::Usable},
      {"expired within the leeway", 100, now - kExpiryLeewaySeconds, 0, now, true, ManifestVerdict::Usable},
      {"expired past the leeway", 100, now - kExpiryLeewaySeconds - 1, 0, now, true, ManifestVerdict::Expired},
      {"a clock before 1970", 100, 5, 0, 0, true, ManifestVerdict::Usable},
      {"older and expired", 99, 1, 100, now, true, ManifestVerdict::Older},
  };
  for (const auto& c : cases) {
    Manifest judged = m;
    judged.serial = c.serial;
    judged.expires = c.expires;
    if (!c.files) judged.files.clear();
    EXPECT_EQ(JudgeManifest(judged, c.recorded, c.now), c.verdict) << c.name;
  }
}

TEST(SerialRecord, ReadsBackWhatItWritesAndNothingElse) {
  for (const uint64_t serial : {uint64_t{0}, uint64_t{1733758800}, UINT64_MAX}) {
    EXPECT_EQ(ReadSerialRecordText(SerialRecordText(serial)), serial);
  }
  EXPECT_EQ(SerialRecordText(42), "42\n");
  const struct {
    const char* text;
    uint64_t serial;
  } cases[] = {
      {"42", 42}, {"42\n", 42}, {"", 0}, {"\n", 0}, {"42\n\n", 0}, {"4 2\n", 0}, {"-1\n", 0},
      {"42x\n", 0}, {"99999999999999999999\n", 0}, {"\xEF\xBB\xBF" "42\n", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadSerialRecordText(c.text), c.serial) << c.text;
}

}  // namespace

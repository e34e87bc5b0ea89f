#include "update/manifest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "update/manifest_rules.h"
#include "update/manifest_signature.h"

namespace {

const std::string kHeader = "morvel-launcher\t1\n";
const std::string kSha(64, 'a');
const std::string kSha2 = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::string FLine(const std::string& client, const std::string& sha, const std::string& path,
                  const std::string& keep = "0", const std::string& size = "10", const std::string& dl = "7") {
  return "f\t" + client + "\t" + sha + "\t" + size + "\t" + dl + "\t" + keep + "\t" + path + "\n";
}

// Parses with one "f" line for the given path; true when the launcher accepts it.
bool AcceptsPath(const std::string& path) {
  Manifest m;
  return ParseManifest(kHeader + FLine("otc", kSha, path), m);
}

TEST(ManifestLines, HeaderMustBeExact) {
  Manifest m;
  EXPECT_TRUE(ParseManifest("morvel-launcher\t1", m));
  EXPECT_TRUE(ParseManifest(kHeader, m));
  EXPECT_FALSE(ParseManifest("", m));
  EXPECT_FALSE(ParseManifest("\n", m));
  EXPECT_FALSE(ParseManifest("\n" + kHeader, m));  // an empty first line is the header
  EXPECT_FALSE(ParseManifest("morvel-launcher\t1\t\n", m));
  EXPECT_FALSE(ParseManifest("morvel-launcher\t2\n", m));
  EXPECT_FALSE(ParseManifest("morvel-launcher\t01\n", m));
  EXPECT_FALSE(ParseManifest("Morvel-launcher\t1\n", m));
  EXPECT_FALSE(ParseManifest("morvel-launcher 1\n", m));
  EXPECT_FALSE(ParseManifest("morvel-launcher\t1\r\n", m));  // CR LF: the version reads "1\r"
  EXPECT_FALSE(ParseManifest(std::string("morvel-launcher\t1\0", 18) + "\n", m));
}

TEST(ManifestLines, FinalLineFeedAndEmptyLinesChangeNothing) {
  const std::string body = kHeader + "launcher\t5\n\n" + FLine("otc", kSha, "a.txt") + "\n" + FLine("classic", kSha2, "b.txt");
  Manifest with, without;
  ASSERT_TRUE(ParseManifest(body + "\n", with));
  ASSERT_TRUE(ParseManifest(body, without));
  EXPECT_EQ(with.launcher_version, 5);
  ASSERT_EQ(with.files.size(), 2u);
  ASSERT_EQ(without.files.size(), 2u);
  EXPECT_EQ(with.files[1].path, without.files[1].path);
  EXPECT_EQ(with.files[1].sha256, kSha2);
}

TEST(ManifestLines, CarriageReturnIsKeptInTheLastField) {
  // A CR LF line after a valid LF header: the keep flag reads "1\r", which is not "1".
  Manifest m;
  ASSERT_TRUE(ParseManifest(kHeader + "f\totc\t" + kSha + "\t1\t1\t1\r\nlauncher\t4\r\n", m));
  EXPECT_EQ(m.launcher_version, 4);  // atoi stops at the CR
  EXPECT_TRUE(m.files.empty());      // six fields: ignored
  // With seven, the path ends in a CR, which Windows cannot store in a name.
  EXPECT_FALSE(ParseManifest(kHeader + "f\totc\t" + kSha + "\t1\t1\t1\ta.txt\r\n", m));
}

TEST(ManifestLines, UnknownLinesAndWrongFieldCountsAreSkipped) {
  Manifest m;
  const std::string text = kHeader + "comment\tanything\n" + "f\totc\t" + kSha + "\t1\t1\t0\n" +  // six fields
                           "f\totc\t" + kSha + "\t1\t1\t0\ta\tb\n" +                                 // eight fields
                           "F\totc\t" + kSha + "\t1\t1\t0\ta\n" + "launcher\t3\t4\n" + "self\t" + kSha + "\t1\n" +
                           "f\n";
  ASSERT_TRUE(ParseManifest(text, m));
  EXPECT_TRUE(m.files.empty());
  EXPECT_EQ(m.launcher_version, 0);
  EXPECT_TRUE(m.launcher_sha256.empty());
}

TEST(ManifestLines, ParsingStartsFromAnEmptyRecord) {
  Manifest m;
  ASSERT_TRUE(ParseManifest(kHeader + "launcher\t9\n" + FLine("otc", kSha, "a"), m));
  ASSERT_TRUE(ParseManifest(kHeader + FLine("otc", kSha, "b"), m));
  EXPECT_EQ(m.launcher_version, 0);
  ASSERT_EQ(m.files.size(), 1u);
  EXPECT_EQ(m.files[0].path, u"b");
}

TEST(ManifestLauncherLine, ReadsLikeAtoi) {
  const struct {
    const char* field;
    int32_t version;
  } cases[] = {
      {"3", 3}, {"abc", 0}, {"", 0}, {"  7", 7}, {"+8x", 8}, {"-2", -2}, {"12abc", 12}, {"\v\f\r 4", 4},
      {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX}, {"99999999999999999999", INT32_MAX},
      {"-2147483648", INT32_MIN}, {"-99999999999999999999", INT32_MIN}, {"- 3", 0}, {"0x10", 0},
  };
  for (const auto& c : cases) {
    Manifest m;
    ASSERT_TRUE(ParseManifest(kHeader + "launcher\t" + c.field + "\n", m)) << c.field;
    EXPECT_EQ(m.launcher_version, c.version) << c.field;
  }
  Manifest m;
  ASSERT_TRUE(ParseManifest(kHeader + "launcher\t3\nlauncher\t5\n", m));
  EXPECT_EQ(m.launcher_version, 5);
}

TEST(ManifestSelfLine, AcceptedLineFillsTheLauncherData) {
  Manifest m;
  ASSERT_TRUE(ParseManifest(kHeader + "self\t" + kSha2 + "\t 123456789012x\t/arquivos/launcher/L\xC3\xA1.exe\n", m));
  EXPECT_EQ(m.launcher_sha256, kSha2);
  EXPECT_EQ(m.launcher_size, 123456789012u);
  EXPECT_EQ(m.launcher_path, u"/arquivos/launcher/Lá.exe");
  ASSERT_TRUE(ParseManifest(kHeader + "self\t" + kSha + "\t5\t/arquivos/\n", m));  // exactly the prefix
  EXPECT_EQ(m.launcher_path, u"/arquivos/");
}

TEST(ManifestSelfLine, BadLineIsIgnoredAndKeepsTheEarlierOne) {
  const std::string good = "self\t" + kSha + "\t10\t/arquivos/a.exe\n";
  const std::string bad[] = {
      "self\t" + std::string(63, 'a') + "A\t11\t/arquivos/b.exe\n",  // upper-case hex
      "self\t" + std::string(63, 'a') + "\t11\t/arquivos/b.exe\n",   // 63 characters
      "self\t" + kSha2 + "\t11\t/arquivo/b.exe\n",
      "self\t" + kSha2 + "\t11\t/Arquivos/b.exe\n",
      "self\t" + kSha2 + "\t11\t/arquivos\n",
      "self\t" + kSha2 + "\t11\tarquivos/b.exe\n",
      "self\t" + kSha2 + "\t11\t/arquivos/../b.exe\n",
      "self\t" + kSha2 + "\t11\t/arquivos/x..y.exe\n",  // any "..", not only a piece
      "self\t" + kSha2 + "\t11\t/arquivos/a\\b.exe\n",
  };
  for (const std::string& line : bad) {
    Manifest m;
    ASSERT_TRUE(ParseManifest(kHeader + good + line + FLine("otc", kSha, "x"), m)) << line;
    EXPECT_EQ(m.launcher_sha256, kSha) << line;
    EXPECT_EQ(m.launcher_size, 10u) << line;
    EXPECT_EQ(m.launcher_path, u"/arquivos/a.exe") << line;
    EXPECT_EQ(m.files.size(), 1u) << line;
  }
  Manifest m;
  ASSERT_TRUE(ParseManifest(kHeader + good + "self\t" + kSha2 + "\t20\t/arquivos/b.exe\n", m));
  EXPECT_EQ(m.launcher_sha256, kSha2);
  EXPECT_EQ(m.launcher_size, 20u);
}

TEST(ManifestFileLine, AcceptedLineBecomesAnEntry) {
  Manifest m;
  ASSERT_TRUE(ParseManifest(kHeader + FLine("classic", kSha2, "Automap/sub/Ma\xC3\xA7\xC3\xA3.map", "1", "5000000000", "4294967296"), m));
  ASSERT_EQ(m.files.size(), 1u);
  const FileEntry& e = m.files[0];
  EXPECT_EQ(e.client, ClientKind::Classic);
  EXPECT_EQ(e.sha256, kSha2);
  EXPECT_EQ(e.size, 5000000000u);  // past 32 bits
  EXPECT_EQ(e.download_size, 4294967296u);
  EXPECT_TRUE(e.keep_existing);
  EXPECT_EQ(e.path, u"Automap\\sub\\Maçã.map");
}

TEST(ManifestFileLine, OrderAndDuplicatesAreKept) {
  Manifest m;
  ASSERT_TRUE(ParseManifest(kHeader + FLine("otc", kSha, "z") + FLine("classic", kSha2, "a") + FLine("otc", kSha2, "z"), m));
  ASSERT_EQ(m.files.size(), 3u);
  EXPECT_EQ(m.files[0].client, ClientKind::OTClient);
  EXPECT_EQ(m.files[1].client, ClientKind::Classic);
  EXPECT_EQ(m.files[2].path, u"z");
  EXPECT_EQ(m.files[2].sha256, kSha2);
}

TEST(ManifestFileLine, KeepFlagOnlyForExactlyOne) {
  const struct {
    const char* field;
    bool keep;
  } cases[] = {{"1", true}, {"0", false}, {"", false}, {"11", false}, {"sim", false}, {" 1", false}, {"1 ", false}};
  for (const auto& c : cases) {
    Manifest m;
    ASSERT_TRUE(ParseManifest(kHeader + FLine("otc", kSha, "a", c.field), m)) << c.field;
    EXPECT_EQ(m.files.at(0).keep_existing, c.keep) << c.field;
  }
}

TEST(ManifestFileLine, OneBadLineRejectsTheWholeManifest) {
  const std::string good = FLine("otc", kSha, "a.txt");
  const std::string bad[] = {
      FLine("OTC", kSha, "a"),
      FLine("", kSha, "a"),
      FLine("tibia", kSha, "a"),
      FLine("1", kSha, "a"),  // a client is named by its key, never by a number
      FLine("-1", kSha, "a"),
      FLine("2", kSha, "a"),
      FLine("otc", std::string(63, 'a') + "A", "a"),
      FLine("otc", std::string(63, 'a'), "a"),
      FLine("otc", std::string(65, 'a'), "a"),
      FLine("otc", std::string(63, 'a') + "g", "a"),
      FLine("otc", kSha, ""),
  };
  for (const std::string& line : bad) {
    Manifest m;
    EXPECT_FALSE(ParseManifest(kHeader + good + line + good, m)) << line;
  }
}

TEST(ManifestFileLine, PathRulesOfTheFormat) {
  EXPECT_TRUE(AcceptsPath("a"));
  EXPECT_TRUE(AcceptsPath("dir/sub/file.dat"));
  EXPECT_TRUE(AcceptsPath(".hidden/x..y/.z"));  // dots inside a piece are fine
  for (const char* path : {"/a", "\\a", "a//b", "a/", "./a", "a/./b", "../a", "a/../b", "a/..", "C:/a", "a:b",
                           "data::$DATA", "a\\b", "/"}) {
    EXPECT_FALSE(AcceptsPath(path)) << path;
  }
}

TEST(ManifestFileLine, PiecesWindowsWouldRenameAreRefused) {
  // Windows strips trailing dots and spaces from a piece, so ".. " and "..." are
  // ".." or worse once written; "a." would silently become "a".
  for (const char* path : {".. /x", "a/.. ", "...", "a/.../b", ". /x", "a.", "dir./x", "a ", "dir /x", "a/b. "}) {
    EXPECT_FALSE(AcceptsPath(path)) << path;
  }
  EXPECT_FALSE(AcceptsPath(std::string("a\0/../x", 7)));
  EXPECT_FALSE(AcceptsPath(std::string("ok.txt\0", 7)));
  EXPECT_TRUE(AcceptsPath(" lead/ space"));
}

TEST(ManifestFileLine, DeviceNamesAreRefused) {
  for (const char* path : {"CON", "con", "nul.txt", "dir/Aux.log", "AUX .log", "PRN/x", "COM1", "com9.ini", "LPT0",
                           "lpt\xC2\xB9", "COM\xC2\xB2.dat", "CONIN$", "conout$.txt"}) {
    EXPECT_FALSE(AcceptsPath(path)) << path;
  }
  for (const char* path : {"CONSOLE", "COM10", "NULL.txt", "x.con", "lpt", "comx", "AUXILIAR/a", "LPT\xC2\xB4"}) {
    EXPECT_TRUE(AcceptsPath(path)) << path;
  }
}

TEST(ManifestFileLine, CharactersWindowsCannotStoreAreRefused) {
  for (const char* c : {"*", "?", "<", ">", "|", "\"", "\x01", "\x1F", "\r", "\x0B", "\x1B"}) {
    for (const std::string& path : {std::string(c), "dir/a" + std::string(c) + "b.txt", std::string(c) + "dir/x"}) {
      EXPECT_FALSE(AcceptsPath(path)) << path;
      const char* problem = ManifestPathProblem(path);
      ASSERT_NE(problem, nullptr) << path;
      EXPECT_NE(std::string(problem).find("Windows does not allow"), std::string::npos) << path;
    }
  }
  for (const char* path : {"a\x7F", "[x]{y}", "a'b#c%d&e+f=g;h,i!j@k$l^m~n`", "caf\xC3\xA9 (1).txt"}) {
    EXPECT_TRUE(AcceptsPath(path)) << path;
  }
}

TEST(ManifestFileLine, InvalidUtf8PathsAreRefused) {
  // Converted, these would turn into U+FFFD (or be dropped), so the name on disk
  // would differ from the one the checks saw.
  for (const char* path : {"a\xFF", "\xC3", "\xE2\x82", "\xED\xA0\x80", "\xC0\xAF", "\xF4\x90\x80\x80"}) {
    EXPECT_FALSE(AcceptsPath(path)) << path;
  }
  EXPECT_TRUE(AcceptsPath("\xF0\x9F\x98\x80/\xE2\x82\xAC"));
}

// The form with notes tells the fate of exactly the lines the launcher does not
// take, and accepts exactly what the plain form accepts.
TEST(ManifestNotes, EveryLineNotTakenIsToldWithItsFate) {
  const std::string good = FLine("otc", kSha, "a.txt");
  const struct {
    std::string text;
    bool accepted;
    std::string notes;  // "number:fate:why;" per note (fate R, I or U)
  } cases[] = {
      {kHeader + good, true, ""},
      {kHeader + "\n" + good + "launcher\t3\n", true, ""},
      {"morvel-launcher\t1\r\n" + good, false,
       "1:R:the header must be \"morvel-launcher<TAB>1\" (the file has CR LF line ends);"},
      {"morvel\n", false, "1:R:the header must be \"morvel-launcher<TAB>1\";"},
      {kHeader + FLine("web", kSha, "a") + FLine("otc", "ABC", "b") + FLine("otc", kSha, "CON") + good, false,
       "2:R:unknown client \"web\";3:R:SHA-256 is not 64 lower-case hex digits;4:R:" +
           std::string(ManifestPathProblem("CON")) + ";"},
      {kHeader + "f\totc\n" + "self\t" + kSha + "\t5\t/elsewhere/l.exe\n" + "launcher\n" + "next\t1\n" + good, true,
       "2:I:\"f\" line with 2 fields;3:I:bad hash or path in the \"self\" line;4:I:\"launcher\" line with 1 "
       "fields;5:U:unknown line;"},
  };
  for (const auto& c : cases) {
    std::string notes;
    Manifest with_notes, plain;
    const bool accepted = ParseManifest(c.text, with_notes, [&](size_t number, LineFate fate, const std::string& why) {
      notes += std::to_string(number) + ":" + "RIU"[static_cast<int>(fate)] + ":" + why + ";";
    });
    EXPECT_EQ(accepted, c.accepted) << c.text;
    EXPECT_EQ(ParseManifest(c.text, plain), c.accepted) << c.text;
    EXPECT_EQ(notes, c.notes) << c.text;
    if (accepted) {
      EXPECT_TRUE(SameManifest(with_notes, plain)) << c.text;
    }
  }
}

TEST(ManifestRules, ReadUnsigned64LikeStrtoull) {
  const struct {
    const char* field;
    uint64_t value;
  } cases[] = {
      {"0", 0},
      {"", 0},
      {"x", 0},
      {"  42", 42},
      {"42abc", 42},
      {"+7", 7},
      {"-1", UINT64_MAX},
      {"-0", 0},
      {"4294967296", 4294967296u},
      {"18446744073709551615", UINT64_MAX},
      {"18446744073709551616", UINT64_MAX},  // saturates, as strtoull does
      {"99999999999999999999999", UINT64_MAX},
      {"-18446744073709551615", 1},
      {"-18446744073709551616", UINT64_MAX},
      {"\r\v\f 9", 9},
      {"0x1f", 0},
      {"1 2", 1},
      {"- 1", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadUnsigned64(c.field), c.value) << c.field;
#ifndef _WIN32
    EXPECT_EQ(ReadUnsigned64(c.field), std::strtoull(c.field, nullptr, 10)) << c.field;
#endif
  }
}

TEST(ManifestRules, HexCheck) {
  EXPECT_TRUE(IsLowerHex64(kSha2));
  EXPECT_FALSE(IsLowerHex64(""));
  EXPECT_FALSE(IsLowerHex64(kSha2 + "0"));
  std::string upper = kSha2;
  upper[63] = 'F';
  EXPECT_FALSE(IsLowerHex64(upper));
  std::string nul = kSha2;
  nul[10] = '\0';
  EXPECT_FALSE(IsLowerHex64(nul));
}

TEST(ManifestRules, PathProblemExplainsTheRefusal) {
  EXPECT_EQ(ManifestPathProblem("a/b.txt"), nullptr);
  ASSERT_NE(ManifestPathProblem("a/con"), nullptr);
  EXPECT_NE(std::string(ManifestPathProblem("a/con")).find("device"), std::string::npos);
  EXPECT_NE(std::string(ManifestPathProblem("a:b")).find(":"), std::string::npos);
}

// --- The signature line ------------------------------------------------------

ManifestSignature Counting() {
  ManifestSignature signature;
  for (size_t i = 0; i < signature.size(); ++i) signature[i] = static_cast<uint8_t>(i * 7 + 1);
  return signature;
}

TEST(ManifestSignatureLine, ReadsBackWhatItWritesAndSignsEverythingBefore) {
  const std::string body = kHeader + "launcher\t3\n" + FLine("otc", kSha, "a.dat");
  const std::string line = SignatureLine(Counting());
  EXPECT_EQ(line.size(), 4u + 128u + 1u);
  for (const std::string& text : {body + line, body + line.substr(0, line.size() - 1)}) {
    std::string_view signed_part;
    ManifestSignature read{};
    ASSERT_TRUE(SplitSignedManifest(text, signed_part, read));
    EXPECT_EQ(signed_part, body);
    EXPECT_EQ(read, Counting());
  }
  // Launchers without a key skip it: the same manifest with or without it.
  Manifest plain, signed_manifest;
  ASSERT_TRUE(ParseManifest(body, plain));
  ASSERT_TRUE(ParseManifest(body + line, signed_manifest));
  EXPECT_TRUE(SameManifest(plain, signed_manifest));
}

TEST(ManifestSignatureLine, OnlyAWellFormedLastLineIsASignature) {
  const std::string body = kHeader + FLine("otc", kSha, "a.dat");
  const std::string line = SignatureLine(Counting());
  std::string upper = line;
  upper[10] = 'A';
  const std::string cases[] = {
      body,                                              // none
      body + line + FLine("otc", kSha, "b.dat"),         // a line after it
      body + line + "\n",                                // an empty line after it
      body + line.substr(0, 131) + "\n",                 // one digit short
      body + line.substr(0, 132) + "0\n",                // one digit more
      body + upper,                                      // upper case
      body + "sig\t" + std::string(127, '0') + "g\n",     // not hex
      body + "sig " + line.substr(4),                    // not a tab
      body + line.substr(0, 132) + "\r\n",               // CR LF
  };
  for (const std::string& text : cases) {
    std::string_view signed_part;
    ManifestSignature read{};
    EXPECT_FALSE(SplitSignedManifest(text, signed_part, read)) << text.substr(body.size());
  }
}

TEST(ManifestSignatureLine, PublicKeyIsTheUncompressedPointInHex) {
  ManifestPublicKey key{};
  const std::string good = "04" + std::string(64, 'a') + std::string(64, 'B');
  ASSERT_TRUE(ParsePublicKey(good, key));
  EXPECT_EQ(key[0], 0xaa);
  EXPECT_EQ(key[63], 0xbb);
  EXPECT_EQ(PublicKeyText(key), "04" + std::string(64, 'a') + std::string(64, 'b'));
  for (const std::string& bad : {std::string(), good.substr(0, 129), good + "0", "03" + good.substr(2),
                                 "04" + std::string(127, '0') + "x"}) {
    EXPECT_FALSE(ParsePublicKey(bad, key)) << bad;
  }
}

}  // namespace

// The writer's text is exactly what the parser reads back, field for field, and
// the parser's record written again gives the same text.
TEST(ManifestFormat, RoundTripsThroughTheParser) {
  const std::string self = "self\t" + kSha2 + "\t123456\t/arquivos/launcher/MorvelGlobalLauncher-3-01234567.exe\n";
  const std::string texts[] = {
      kHeader + FLine("otc", kSha, "a.dat"),
      kHeader + "launcher\t3\n" + self + FLine("otc", kSha, "data/things.dat") +
          FLine("classic", kSha2, "Mapas/\xC3\xA1rea.map", "1", "0", "20") + FLine("otc", kSha, "data/things.dat"),
      kHeader + "launcher\t-2\n" + FLine("classic", kSha2, "x", "0", "18446744073709551615", "1"),
  };
  for (const std::string& text : texts) {
    Manifest parsed;
    ASSERT_TRUE(ParseManifest(text, parsed)) << text;
    EXPECT_EQ(FormatManifest(parsed), text);
  }
  Manifest m;
  ASSERT_TRUE(ParseManifest(texts[1], m));
  EXPECT_EQ(m.files[1].path, u"Mapas\\\u00E1rea.map");
  EXPECT_EQ(ManifestPath(m.files[1].path), "Mapas/\xC3\xA1rea.map");
  EXPECT_EQ(EntryPath("a/b/c"), u"a\\b\\c");
}

namespace {

std::string PLine(const std::string& sha, const std::string& base, const std::string& size, const std::string& path) {
  return "p\t" + sha + "\t" + base + "\t" + size + "\t" + path + "\n";
}
const std::string kPatchPath = "/arquivos/launcher/patches/x.dl";

// A bad patch line only loses that patch: the manifest and its files stay.
TEST(ManifestPatchLine, ReadOrSkippedNeverRejecting) {
  struct Case {
    const char* name;
    std::string line;
    bool kept;
  };
  const Case cases[] = {
      {"sound", PLine(kSha, kSha2, "4096", kPatchPath), true},
      {"size read like strtoull", PLine(kSha, kSha2, " 12x", kPatchPath), true},
      {"upper-case digest", PLine(std::string(63, 'a') + "A", kSha2, "1", kPatchPath), false},
      {"short base digest", PLine(kSha, kSha2.substr(1), "1", kPatchPath), false},
      {"path outside /arquivos/", PLine(kSha, kSha2, "1", "/etc/x.dl"), false},
      {"path with ..", PLine(kSha, kSha2, "1", "/arquivos/../x.dl"), false},
      {"path with a backslash", PLine(kSha, kSha2, "1", "/arquivos/a\\x.dl"), false},
      {"four fields", "p\t" + kSha + "\t" + kSha2 + "\t1\n", false},
      {"six fields", "p\t" + kSha + "\t" + kSha2 + "\t1\t" + kPatchPath + "\tx\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Manifest m;
    ASSERT_TRUE(ParseManifest(kHeader + FLine("otc", kSha, "a.dat") + c.line + FLine("otc", kSha2, "b.dat"), m));
    EXPECT_EQ(m.files.size(), 2u);
    ASSERT_EQ(m.patches.size(), c.kept ? 1u : 0u);
    if (!c.kept) continue;
    EXPECT_EQ(m.patches[0].sha256, kSha);
    EXPECT_EQ(m.patches[0].base_sha256, kSha2);
    EXPECT_EQ(m.patches[0].path, u"/arquivos/launcher/patches/x.dl");
    EXPECT_EQ(FindPatch(m, kSha, kSha2), &m.patches[0]);
    EXPECT_EQ(FindPatch(m, kSha2, kSha), nullptr);
    EXPECT_EQ(PatchTargets(m), std::set<std::string>{kSha});
  }
}

TEST(ManifestPatchLine, RoundTripsAfterTheFileLines) {
  const std::string text = kHeader + "launcher\t3\n" + FLine("otc", kSha, "a.dat") + FLine("classic", kSha2, "b.dat") +
                           PLine(kSha, kSha2, "4096", kPatchPath) + PLine(kSha2, kSha, "0", "/arquivos/y.dl");
  Manifest parsed;
  ASSERT_TRUE(ParseManifest(text, parsed));
  ASSERT_EQ(parsed.patches.size(), 2u);
  EXPECT_EQ(parsed.patches[0].download_size, 4096u);
  EXPECT_EQ(FormatManifest(parsed), text);
  Manifest other = parsed;
  other.patches[1].download_size = 1;
  EXPECT_TRUE(SameManifest(parsed, parsed));
  EXPECT_FALSE(SameManifest(parsed, other));
}

}  // namespace

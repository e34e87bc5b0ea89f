#include "app/texts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>

namespace {

struct NamedText {
  const char* name;
  const char16_t* text;
};

#define NAMED(t) {#t, t}
const NamedText kTexts[] = {
    NAMED(kTextConnecting),        NAMED(kTextReady),
    NAMED(kTextTaskNotStarted),    NAMED(kTextCancelling),
    NAMED(kTextCancelled),         NAMED(kTextCancelledResumable),
    NAMED(kTextAllFilesCurrent),   NAMED(kTextNoClientInstalled),
    NAMED(kTextNoConnection),      NAMED(kTextInstalledStillOpen),
    NAMED(kTextCheckInternet),     NAMED(kTextDownloadFailed),
    NAMED(kTextCheckConnection),   NAMED(kTextWriteFailed),
    NAMED(kTextCheckDiskAndAntivirus), NAMED(kTextCloseOpenClient),
    NAMED(kTextNoDiskSpace),       NAMED(kTextClientNotOpened),
    NAMED(kTextAntivirusHint),     NAMED(kTextUpdatingLauncher),
    NAMED(kTextLauncherUpdated),   NAMED(kTextNewLauncherVersion),
    NAMED(kTextAskOpenDownloadPage), NAMED(kTextAskOpenClientAnyway),
    NAMED(kTextLauncherName),      NAMED(kTextPlay),
    NAMED(kTextInstallAndPlay),    NAMED(kTextVerifyFiles),
    NAMED(kTextCancel),            NAMED(kTextExit),
    NAMED(kTextFileBar),           NAMED(kTextTotalBar),
};
#undef NAMED

// The characters tests/support/check_resources.py finds in the display font:
// letters and digits, the space, "!?.,:;-()" and the accented letters of
// Portuguese. A typographic quote or ellipsis would draw as a box; a source read
// in another encoding than UTF-8 turns "ã" into "Ã£", a decomposing editor into
// "a" and U+0303: all of them leave this set.
bool IsPlayerCharacter(char16_t c) {
  // áâãàéêíóôõúç and the capitals, as escapes: they must not depend on the
  // source encoding this test is there to catch.
  static const std::u16string others =
      u" !?.,:;-()"
      u"\u00E1\u00E2\u00E3\u00E0\u00E9\u00EA\u00ED\u00F3\u00F4\u00F5\u00FA\u00E7"
      u"\u00C1\u00C2\u00C3\u00C0\u00C9\u00CA\u00CD\u00D3\u00D4\u00D5\u00DA\u00C7";
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         others.find(c) != std::u16string::npos;
}

TEST(Texts, EachIsTrimmedTextInCharactersTheDisplayFontHas) {
  for (const NamedText& t : kTexts) {
    SCOPED_TRACE(t.name);
    const std::u16string text = t.text;
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.front(), u' ');
    EXPECT_NE(text.back(), u' ');
    EXPECT_EQ(text.find(u"  "), std::u16string::npos);
    for (const char16_t c : text) EXPECT_TRUE(IsPlayerCharacter(c)) << "U+" << std::hex << unsigned{c};
  }
}

TEST(Texts, NoTwoNamesHoldTheSameText) {
  std::set<std::u16string> seen;
  for (const NamedText& t : kTexts) EXPECT_TRUE(seen.insert(t.text).second) << t.name;
}

TEST(Texts, TextsAroundANameOrNumberKeepTheirPiecesInPlace) {
  const struct {
    std::u16string made, expected;
  } cases[] = {
      {TextOpening(u"Tibia 8.60"), u"Abrindo Tibia 8.60..."},
      {TextDownloading(u"data\\things\\1.dat"), u"Baixando data\\things\\1.dat"},
      {TextCheckingFiles(1, 1), u"Conferindo arquivos (1 de 1)..."},
      {TextCheckingFiles(100001, 123456), u"Conferindo arquivos (100001 de 123456)..."},
      {TextSpaceNeeded(u"20,0 MB"), u"São necessários 20,0 MB."},
      {TextAmountOfTotal(u"12,3 MB", u"456,7 MB"), u"12,3 MB de 456,7 MB"},
      {TextDownloading(u""), u"Baixando "},
  };
  for (const auto& c : cases) EXPECT_EQ(c.made, c.expected);
}

TEST(DecimalText, WritesEveryDigitInOrder) {
  const struct {
    uint64_t value;
    std::u16string expected;
  } cases[] = {
      {0, u"0"}, {7, u"7"}, {10, u"10"}, {1234567890, u"1234567890"},
      {std::numeric_limits<uint64_t>::max(), u"18446744073709551615"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecimalText(c.value), c.expected) << c.value;
}

}  // namespace

#include "app/text.h"

#include <gtest/gtest.h>

#include "tests/support/split_text.h"

namespace {

TEST(Utf8ToWide, ConvertsValidTextUnitForUnit) {
  EXPECT_TRUE(Utf8ToWide("").empty());
  EXPECT_EQ(Utf8ToWide("n\xC3\xA3o"), u"não");  // 4 bytes, 3 units
  EXPECT_EQ(Utf8ToWide("n\xC3\xA3o").size(), 3u);
  EXPECT_EQ(Utf8ToWide("\xE2\x82\xAC"), u"\u20AC");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), u"\U0001F600");  // a surrogate pair
  EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf8ToWide, ReplacesInvalidSequencesInsteadOfFailing) {
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");                  // truncated at the end
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82" "x"), u"\uFFFDx");         // one U+FFFD for the maximal subpart
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // an encoded surrogate
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");        // overlong
}

TEST(WideToUtf8, RoundTripsThroughUtf8ToWide) {
  const std::string text = "Ol\xC3\xA1, C:\\Morvel Global 8.60\\\xF0\x9F\x98\x80.map";
  EXPECT_EQ(WideToUtf8(Utf8ToWide(text)), text);
}

TEST(TrimLineEnds, RemovesOnlyTrailingLineEndsAndSpaces) {
  EXPECT_EQ(TrimLineEnds("7\r\n"), "7");
  EXPECT_EQ(TrimLineEnds(" 7 \n"), " 7");
  EXPECT_EQ(TrimLineEnds("7\t"), "7\t");
  EXPECT_EQ(TrimLineEnds("\r\n \n"), "");
  EXPECT_EQ(TrimLineEnds(""), "");
}

TEST(SplitText, KeepsEmptyPiecesAtBothEndsAndBetween) {
  EXPECT_EQ(SplitText("", '\t'), std::vector<std::string>{""});
  EXPECT_EQ(SplitText("a\t\tb\t", '\t'), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(SplitText("\nx", '\n'), (std::vector<std::string>{"", "x"}));
}

}  // namespace

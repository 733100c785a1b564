#include "text/decode.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_helpers/case_table.h"
#include "test_helpers/hex_bytes.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

using test::Hex;
using test::HexOf;

TEST(UrlDecodeTest, EscapesThenUtf8ToGbk) {
  const test::Cases<std::string, std::string> cases = {
      {"%41", "A"},
      {"%4a", "J"},
      {"%4A%4b", "JK"},
      {"%", ""},
      {"a%", "a"},
      {"a%4", "a@"},
      {"%00", ""},
      {"a%00b", "ab"},
      {"a+b%20c", "a+b c"},
      {"Hello, world! /path?x=1&y=~", "Hello, world! /path?x=1&y=~"},
      {"%E4%B8%AD%E5%9B%BD", Hex("D6 D0 B9 FA")},
      {"%e4%b8%ad", Hex("D6 D0")},
      {"中国", Hex("D6 D0 B9 FA")},
      // Intended: a digit that is no hex digit counts as -2: (16 × -2 + 4) mod 256 is
      // E4, the lead byte of 中 in UTF-8.
      {"%G4%B8%AD", Hex("D6 D0")},
      {"%g4%B8%AD", Hex("D6 D0")},
      // Both digits foreign: (16 × -2 − 2) mod 256 is DE, which with 80
      // forms U+0780, a character GBK lacks.
      {"%zz%80", "?"},
      // ¢ by its best fit, and an emoji GBK lacks as one "?".
      {"%C2%A2%F0%9F%98%80", Hex("A1 E9 3F")},
      // GBK bytes are no UTF-8 and pass through as malformed sequences.
      {Hex("D6 D0"), "??"},
      {"", ""},
  };
  test::ExpectEachBytes(UrlDecode, cases);
}

TEST(UrlDecodeTest, StopsAtFirstZeroByte) { EXPECT_EQ(UrlDecode(std::string("a\0b", 3)), "a"); }

TEST(Utf8ToAnsiTest, WholeBufferUpToZero) {
  EXPECT_EQ(HexOf(Utf8ToAnsi(ByteSet{0xE4, 0xB8, 0xAD, 'x'})), "D6 D0 78");
  EXPECT_EQ(Utf8ToAnsi(ByteSet{}), "");
  EXPECT_EQ(Utf8ToAnsi(ByteSet{'a', 0, 'b'}), "a");
}

TEST(WideToAnsiTest, StopsAtZeroUnitAndMarksMissingCharacters) {
  EXPECT_EQ(HexOf(WideToAnsi(std::u16string(u"\u4E2D\0x", 3))), "D6 D0");
  EXPECT_EQ(WideToAnsi(u"\u0E01a"), "?a");
  EXPECT_EQ(WideToAnsi(u""), "");
}

struct BetweenCase {
  std::string text;
  std::string left;
  std::string right;
  std::optional<int> startPos;
  bool caseSensitive;
  std::string expected;
};

TEST(TextBetweenTest, CutsBetweenMarkers) {
  const std::vector<BetweenCase> cases = {
      {"<a href=\"x.zip\">", "href=\"", "\"", {}, false, "x.zip"},
      // Intended: "#引号" in a marker stands for a double quote.
      {"<a href=\"x.zip\">", Utf8ToGbk("href=#引号"), Utf8ToGbk("#引号"), {}, false, "x.zip"},
      {"<a href=\"x\">", "src=", "\"", {}, false, ""},
      {"<a href=\"x>", "href=\"", "\"", {}, false, ""},
      {"abc;def", "a", "", {}, false, ""},
      {"abc;def", "", ";", {}, false, "abc"},
      {"<A HREF=x>", "href=", ">", {}, false, "x"},
      {"<A HREF=x>", "href=", ">", {}, true, ""},
      {"<a href=aXb>", "HREF=", "x", {}, false, "a"},
      {"<a href=aXb>", "href=", "x", {}, true, ""},
      {"abc", "bc", ">", {}, false, ""},
      {"abc", "bc", "", {}, false, ""},
      {"", "", "", {}, false, ""},
      {"a=1;a=2;", "a=", ";", 2, false, "2"},
      // Intended: the start position also applies within the text after the
      // left marker.
      {"xxa=1;2;3;", "a=", ";", 3, false, "1;2"},
      {"a=1;a=2;", "a=", ";", 3, false, ""},
      // 臺灣 is C5 5F 9E B3: the "_" inside 臺 is no marker.
      {Hex("C5 5F 9E B3 5F 78 5F"), "_", "_", {}, false, "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(HexOf(c.text) + " | " + c.left + " | " + c.right);
    EXPECT_EQ(HexOf(TextBetween(c.text, c.left, c.right, c.startPos, c.caseSensitive)),
              HexOf(c.expected));
  }
}

}  // namespace
}  // namespace sorrel

#include "text/convert.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_helpers/case_table.h"
#include "test_helpers/hex_bytes.h"

namespace sorrel {
namespace {

using test::Hex;
using test::HexOf;

// LCMapStringA's simplified-Chinese mapping does nothing under wine.
bool PlatformSimplifies() { return ToSimplifiedChinese(Hex("87 F8")) != Hex("87 F8"); }

struct ConvertCase {
  std::string input;
  std::string expected;
};

TEST(Utf8ToGbkTest, ConvertsUpToFirstZeroByte) {
  const test::Cases<std::string, std::string> cases = {
      {"中国abc", Hex("D6 D0 B9 FA 61 62 63")},
      {"€ ０", Hex("80 20 A3 B0")},
      {"plain", "plain"},
      {Hex("61 FF 62"), "a?b"},
      {"\u0E01", "?"},
      // Best fits, and one "?" for a character beyond the BMP.
      {"\u00A2\U0001F600x", Hex("A1 E9 3F 78")},
      {std::string("a\0b", 3), "a"},
      {"", ""},
  };
  test::ExpectEachBytes(Utf8ToGbk, cases);
}

TEST(Big5Test, ToGbkAndToSimplifiedGbk) {
  struct Case {
    std::string big5;
    std::string gbk;
    std::string simplified;
  };
  const std::vector<Case> cases = {
      // 中國
      {Hex("A4 A4 B0 EA"), Hex("D6 D0 87 F8"), Hex("D6 D0 B9 FA")},
      // 臺灣 and ASCII
      {Hex("BB 4F C6 57 20 61"), Hex("C5 5F 9E B3 20 61"), Hex("CC A8 CD E5 20 61")},
      {"abc", "abc", "abc"},
      // The macron (U+00AF), which GBK has only as a best fit.
      {Hex("A1 C2"), Hex("A1 A5"), Hex("A1 A5")},
      {Hex("A4 A4 00 B0 EA"), Hex("D6 D0"), Hex("D6 D0")},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(HexOf(c.big5));
    EXPECT_EQ(HexOf(Big5ToGbk(c.big5)), HexOf(c.gbk));
    if (PlatformSimplifies()) {
      EXPECT_EQ(HexOf(Big5ToSimplifiedGbk(c.big5)), HexOf(c.simplified));
    }
  }
}

TEST(ToSimplifiedChineseTest, SameByteLength) {
  if (!PlatformSimplifies())
    GTEST_SKIP() << "LCMapStringA maps no traditional characters here (wine)";
  const std::vector<ConvertCase> cases = {
      {Hex("D6 D0 87 F8"), Hex("D6 D0 B9 FA")},
      {"ASCII text: 1 + 1 = 2", "ASCII text: 1 + 1 = 2"},
      {Hex("C5 5F 9E B3 5F"), Hex("CC A8 CD E5 5F")},
      // Already simplified text is left alone.
      {Hex("D6 D0 B9 FA"), Hex("D6 D0 B9 FA")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(HexOf(c.input));
    const Text simplified = ToSimplifiedChinese(c.input);
    EXPECT_EQ(HexOf(simplified), HexOf(c.expected));
    EXPECT_EQ(simplified.size(), c.input.size());
  }
}

TEST(Utf16Test, DefaultCodePages) {
  EXPECT_EQ(MultiByteToUtf16("中a"), u"\u4E2Da");
  EXPECT_EQ(MultiByteToUtf16(Hex("D6 D0"), kCodePageGbk), u"\u4E2D");
  EXPECT_EQ(MultiByteToUtf16(std::string("a\0b", 3)), u"a");
  EXPECT_EQ(HexOf(Utf16ToMultiByte(u"\u4E2D\u20AC")), "D6 D0 80");
  EXPECT_EQ(Utf16ToMultiByte(u"\u4E2D", kCodePageUtf8), "中");
  EXPECT_EQ(Utf16ToMultiByte(std::u16string(u"a\0b", 3)), "a");
}

TEST(BufferTest, ZeroBytesAndSpaceText) {
  EXPECT_TRUE(ZeroBytes(0).empty());
  EXPECT_TRUE(ZeroBytes(-3).empty());
  EXPECT_EQ(ZeroBytes(3), (ByteSet{0, 0, 0}));
  EXPECT_EQ(SpaceText(0), "");
  EXPECT_EQ(SpaceText(-1), "");
  EXPECT_EQ(SpaceText(3), "   ");
}

}  // namespace
}  // namespace sorrel

#include "text/codepage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "test_helpers/case_table.h"
#include "test_helpers/hex_bytes.h"

namespace sorrel {
namespace {

using test::Hex;
using test::HexOf;

std::string UnitsOf(std::u16string_view wide) {
  std::string out;
  char unit[8];
  for (const char16_t c : wide) {
    std::snprintf(unit, sizeof unit, out.empty() ? "%04X" : " %04X", static_cast<unsigned>(c));
    out += unit;
  }
  return out;
}

// LCMapStringA's simplified-Chinese mapping does nothing under wine.
bool PlatformSimplifies() { return MapToSimplifiedChinese(Hex("87 F8")) != Hex("87 F8"); }

struct DecodeCase {
  unsigned codePage;
  std::string bytes;
  std::string units;
};

TEST(DecodeCodePageTest, MatchesWindowsTables) {
  const std::vector<DecodeCase> cases = {
      {936, Hex("D6 D0 B9 FA"), "4E2D 56FD"},
      {936, Hex("80"), "20AC"},
      {936, Hex("FF"), "F8F5"},
      {936, Hex("A1 A1"), "3000"},
      {936, Hex("87 F8"), "570B"},
      {936, Hex("41 00 42"), "0041 0000 0042"},
  // A lead byte with nothing after it is one malformed sequence; the
  // system's own converter gives the code page's default character.
#ifdef _WIN32
      {936, Hex("41 D6"), "0041 003F"},
#else
      {936, Hex("41 D6"), "0041 FFFD"},
#endif
      {0, Hex("80 D6 D0"), "20AC 4E2D"},
      {950, Hex("A4 A4 B0 EA"), "4E2D 570B"},
      {950, Hex("80"), "0080"},
      {65001, Hex("E4 B8 AD 41"), "4E2D 0041"},
      {65001, Hex("F0 9F 98 80"), "D83D DE00"},
      {65001, Hex("FF"), "FFFD"},
      {65001, Hex("80 80"), "FFFD FFFD"},
      // A truncated sequence is one malformed sequence, and does not swallow
      // the byte that interrupts it.
      {65001, Hex("E4 B8 41"), "FFFD 0041"},
      {65001, Hex("61 C3"), "0061 FFFD"},
      {65001, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.codePage) + ": " + HexOf(c.bytes));
    EXPECT_EQ(UnitsOf(DecodeCodePage(c.bytes, c.codePage)), c.units);
  }
}

struct EncodeCase {
  unsigned codePage;
  std::u16string text;
  std::string bytes;
};

TEST(EncodeCodePageTest, MissingCharactersBecomeQuestionMarks) {
  const std::vector<EncodeCase> cases = {
      {936, u"\u4E2D\u56FD", "D6 D0 B9 FA"},
      {936, u"\u20AC", "80"},
      {936, u"\uF8F5", "FF"},
      {936, u"\u3000", "A1 A1"},
      {936, u"\u0E01x", "3F 78"},
      {936, u"\uFFFD", "3F"},
      {936, u"\U0001F600", "3F"},
      {936,
       u"\xD800"
       u"a",
       "3F 61"},
      {936, std::u16string(u"a\0b", 3), "61 00 62"},
      {0, u"\u4E2D", "D6 D0"},
      {950, u"\u4E2D\u570B", "A4 A4 B0 EA"},
      {950, u"\u56FD", "3F"},
      {65001, u"\u4E2D", "E4 B8 AD"},
      {65001, u"\U0001F600", "F0 9F 98 80"},
      {65001, u"\xDC00", "EF BF BD"},
      {936, u"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.codePage) + ": " + UnitsOf(c.text));
    EXPECT_EQ(HexOf(EncodeCodePage(c.text, c.codePage)), c.bytes);
  }
}

// WideCharToMultiByte with flags 0 applies the code page's best-fit table
// before it gives up with "?"; the same table runs in both builds.
TEST(EncodeCodePageTest, BestFitsAndCharactersBeyondTheBmp) {
  const std::vector<EncodeCase> cases = {
      {936, u"\u00A2", "A1 E9"},  // ¢ -> ￠
      {936, u"\u00A3\u00A5", "A1 EA A3 A4"},
      {936, u"\u00B5", "A6 CC"},  // µ -> μ
      {936, u"\u00C0\u00A6\u00AA", "A8 A4 7C 61"},
      {936, u"\uF900", "D8 4D"},  // compatibility ideograph -> 豈
      {0, u"\u00A2", "A1 E9"},
      {950, u"\u00A2\u00A3\u00A5", "A2 46 A2 47 A2 44"},
      {950, u"\u2022\u00C0", "A1 45 41"},
      {950, u"\uF900", "B0 5A"},
      // No best fit: one "?" per character, a surrogate pair being one.
      {936, u"\u2122", "3F"},
      {936, u"a\U0001F600b", "61 3F 62"},
      {936, u"\U0001F600\U00020000", "3F 3F"},
      {950, u"\U0001F600", "3F"},
      {936, u"\xDC00\xD800", "3F 3F"},
      {936, u"\xD83D\xD83D\xDE00", "3F 3F"},
      {65001, u"\U00020000", "F0 A0 80 80"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.codePage) + ": " + UnitsOf(c.text));
    EXPECT_EQ(HexOf(EncodeCodePage(c.text, c.codePage)), c.bytes);
  }
}

// A best fit is one way only: its bytes read back as the character they
// stand for.
TEST(DecodeCodePageTest, BestFitBytesReadBackAsTheirOwnCharacter) {
  const std::vector<DecodeCase> cases = {
      {936, Hex("A1 E9 D8 4D A6 CC"), "FFE0 8C48 03BC"},
      {950, Hex("A2 46 B0 5A"), "FFE0 8C48"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.codePage) + ": " + HexOf(c.bytes));
    EXPECT_EQ(UnitsOf(DecodeCodePage(c.bytes, c.codePage)), c.units);
  }
  EXPECT_EQ(HexOf(Utf8ToGbk("\u00A2\U0001F600")), "A1 E9 3F");
}

TEST(CodePageTest, GbkRoundTripsThroughUtf16) {
  const std::string gbk = Hex("80 FF A1 A1 D6 D0 87 F8 41 A3 B0 FE 50");
  EXPECT_EQ(HexOf(EncodeCodePage(DecodeCodePage(gbk, 936), 936)), HexOf(gbk));
}

TEST(CodePageTest, FixedTextsFromUtf8Sources) {
  EXPECT_EQ(HexOf(Utf8ToGbk("真")), "D5 E6");
  EXPECT_EQ(HexOf(Utf8ToGbk("中国abc€")), "D6 D0 B9 FA 61 62 63 80");
  EXPECT_EQ(GbkToUtf8(Hex("D5 E6 BC D9")), "真假");
  EXPECT_EQ(HexOf(Utf8ToGbk("\xFF")), "3F");
}

TEST(MapToSimplifiedChineseTest, KeepsByteLength) {
  if (!PlatformSimplifies())
    GTEST_SKIP() << "LCMapStringA maps no traditional characters here (wine)";
  const test::Cases<std::string, std::string> cases = {
      {Hex("D6 D0 87 F8"), Hex("D6 D0 B9 FA")},        // 中國 -> 中国
      {Hex("C5 5F 9E B3 61"), Hex("CC A8 CD E5 61")},  // 臺灣a -> 台湾a
      {"plain ASCII, 123", "plain ASCII, 123"},
      {Hex("80 41 FF"), Hex("80 41 FF")},
      {Hex("61 87"), Hex("61 87")},
      {"", ""},
  };
  test::ExpectEachBytes(MapToSimplifiedChinese, cases);
}

TEST(CodePageTest, ConvertersAreSafeOnWorkerThreads) {
  const std::string gbk = Utf8ToGbk("中國臺灣 abc €");
  const std::string utf8 = "中國臺灣 abc €";
  const std::string simplified = PlatformSimplifies() ? Utf8ToGbk("中国台湾 abc €") : gbk;
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        if (Utf8ToGbk(utf8) != gbk || GbkToUtf8(gbk) != utf8) ++failures[t];
        if (MapToSimplifiedChinese(gbk) != simplified) ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace sorrel

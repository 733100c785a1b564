#include "text/text.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_helpers/hex_bytes.h"

namespace sorrel {
namespace {

using test::Hex;
using test::HexOf;

struct FindCase {
  std::string text;
  std::string sought;
  int start;
  bool ignoreCase;
  int expected;
};

// Among the rows: an empty sought text is at 1 whenever the searched part is
// not empty.
TEST(FindTest, PositionsStartsAndCase) {
  const std::vector<FindCase> cases = {
      {"abcabc", "c", 1, false, 3},  {"abcabc", "c", 4, false, 6},  {"abcabc", "c", 0, false, 3},
      {"abcabc", "c", -7, false, 3}, {"abcabc", "bc", 3, false, 5}, {"abc", "d", 1, false, -1},
      {"abc", "abcd", 1, false, -1}, {"abc", "c", 4, false, -1},    {"ABC", "b", 1, false, -1},
      {"ABC", "b", 1, true, 2},      {"abc", "BC", 1, true, 2},     {"a[c", "{", 1, true, -1},
      {"abc", "", 1, false, 1},      {"abc", "", 3, false, 1},      {"abc", "", 4, false, -1},
      {"", "", 1, false, -1},        {"", "a", 1, false, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " / " + c.sought);
    EXPECT_EQ(Find(c.text, c.sought, c.start, c.ignoreCase), c.expected);
  }
}

TEST(FindTest, NeverMatchesFromATrailByte) {
  const std::vector<FindCase> cases = {
      // 中 is D6 D0; D0 41 is a character of its own only after it.
      {Hex("D6 D0 41"), Hex("D0 41"), 1, false, -1},
      {Hex("D6 D0 D0 41"), Hex("D0 41"), 1, false, 3},
      // 臺 is C5 5F: its trail byte is "_".
      {Hex("C5 5F 9E B3 5F"), "_", 1, false, 5},
      // A start inside a character moves on to the next character.
      {Hex("D6 41 41"), "A", 2, false, 3},
      {Hex("D6 41 41"), "A", 1, false, 3},
      // Ignoring case folds single-byte letters only, never trail bytes.
      {Hex("81 41"), "a", 1, true, -1},
      {Hex("81 41"), Hex("81 61"), 1, true, -1},
      {Hex("81 41 61"), "A", 1, true, 3},
      {Hex("81 41"), Hex("81 41"), 1, true, 1},
      // A lone lead byte at the end is a character of one byte.
      {Hex("41 D6"), Hex("D6"), 1, false, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(HexOf(c.text) + " / " + HexOf(c.sought));
    EXPECT_EQ(Find(c.text, c.sought, c.start, c.ignoreCase), c.expected);
  }
}

struct ReplaceCase {
  std::string text;
  std::string from;
  std::string to;
  int start;
  int count;
  bool caseSensitive;
  std::string expected;
};

TEST(ReplaceTest, StartCountAndCase) {
  const std::vector<ReplaceCase> cases = {
      {"aXbxc", "x", "-", 1, -1, false, "a-b-c"},
      {"aXbxc", "x", "-", 1, -1, true, "aXb-c"},
      {"aXbxc", "x", "-", 3, -1, false, "aXb-c"},
      {"aXbxc", "x", "-", 1, 1, false, "a-bxc"},
      {"aXbxc", "x", "-", 1, 0, false, "aXbxc"},
      {"aXbxc", "", "-", 1, -1, false, "aXbxc"},
      {"abab", "ab", "abab", 1, -1, false, "abababab"},
      {"aaa", "aa", "b", 1, -1, false, "ba"},
      {"a b", " ", "", 1, -1, false, "ab"},
      {"", "a", "b", 1, -1, false, ""},
      {Hex("81 41 41"), "A", "b", 1, -1, true, Hex("81 41 62")},
      {Hex("81 61 41"), "a", "-", 1, -1, false, Hex("81 61 2D")},
      {Hex("C5 5F 9E B3 5F"), "_", "", 1, -1, false, Hex("C5 5F 9E B3")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(HexOf(c.text) + " / " + c.from);
    EXPECT_EQ(HexOf(Replace(c.text, c.from, c.to, c.start, c.count, c.caseSensitive)),
              HexOf(c.expected));
  }
}

TEST(PartTest, LeftRightMidClip) {
  struct Case {
    Text actual;
    Text expected;
  };
  const std::vector<Case> cases = {
      {Left("abc", 2), "ab"},     {Left("abc", 5), "abc"},   {Left("abc", 0), ""},
      {Left("abc", -1), ""},      {Right("abc", 2), "bc"},   {Right("abc", 9), "abc"},
      {Right("abc", 0), ""},      {Right("abc", -2), ""},    {Mid("abcde", 2, 3), "bcd"},
      {Mid("abcde", 4, 9), "de"}, {Mid("abcde", 5, 1), "e"}, {Mid("abcde", 6, 1), ""},
      {Mid("abcde", 0, 2), ""},   {Mid("abcde", 2, 0), ""},  {Mid("abcde", 2, -1), ""},
      {Left("", 1), ""},          {Right("", 1), ""},        {Mid("", 1, 1), ""},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cases[i].actual, cases[i].expected);
  }
}

TEST(SpaceTest, TrimAndRemoveTreatFullWidthSpaceAsSpace) {
  struct Case {
    std::string text;
    std::string trimmed;
    std::string removed;
  };
  const std::vector<Case> cases = {
      {"  a b  ", "a b", "ab"},
      {Hex("A1 A1 20 61 A1 A1 62 20 A1 A1"), Hex("61 A1 A1 62"), "ab"},
      {"\ta\t", "\ta\t", "\ta\t"},
      {Hex("20 A1 A1 20"), "", ""},
      {"", "", ""},
      // B0 A1 is a character; the space is only the A1 A1 after it.
      {Hex("B0 A1 A1 A1 A1"), Hex("B0 A1 A1 A1 A1"), Hex("B0 A1 A1")},
      {Hex("20 B0 A1 A1 A1"), Hex("B0 A1"), Hex("B0 A1")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(HexOf(c.text));
    EXPECT_EQ(HexOf(TrimSpaces(c.text)), HexOf(c.trimmed));
    EXPECT_EQ(HexOf(RemoveSpaces(c.text)), HexOf(c.removed));
  }
}

TEST(CaseTest, ChangesAsciiLettersOfSingleByteCharactersOnly) {
  EXPECT_EQ(ToUpperAscii("aZ09z{"), "AZ09Z{");
  EXPECT_EQ(ToLowerAscii("Az@[Z"), "az@[z");
  EXPECT_EQ(HexOf(ToUpperAscii(Hex("81 61 61"))), "81 61 41");
  EXPECT_EQ(HexOf(ToLowerAscii(Hex("81 41 41"))), "81 41 61");
}

TEST(BoolTextTest, ChineseTrueAndFalse) {
  EXPECT_EQ(HexOf(BoolText(true)), "D5 E6");
  EXPECT_EQ(HexOf(BoolText(false)), "BC D9");
}

TEST(ByteSetTest, TextStopsAtFirstZeroByte) {
  EXPECT_EQ(TextOf(ByteSet{'a', 'b', 0, 'c'}), "ab");
  EXPECT_EQ(TextOf(ByteSet{}), "");
  EXPECT_EQ(BytesOf("a\xD6"), (ByteSet{'a', 0xD6}));
}

}  // namespace
}  // namespace sorrel

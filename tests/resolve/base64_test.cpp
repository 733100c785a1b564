#include "resolve/base64.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_helpers/case_table.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/hex_bytes.h"

namespace sorrel {
namespace {

using test::Hex;
using test::HexOf;

std::string Decoded(std::string text) { return HexOf(ViewOf(Base64Decode(text))); }

using Cases = test::Cases<std::string, std::string>;

TEST(Base64DecodeTest, StandardInput) {
  const Cases cases = {
      {"YWJj", "61 62 63"},
      {"YWI=", "61 62"},
      {"YQ==", "61"},
      {"YWJjYQ==", "61 62 63 61"},
      {"aGVsbG8gd29ybGQ=", "68 65 6C 6C 6F 20 77 6F 72 6C 64"},
      {"yWjJ", "C9 68 C9"},
      {"////", "FF FF FF"},
      {"", ""},
  };
  test::ExpectEach(Decoded, cases);
}

// Intended, like the foreign characters below: every link decodes to the
// address it always gave, odd input included.
TEST(Base64DecodeTest, ShortAndPaddedInput) {
  const Cases cases = {
      // Missing positions read as zero and all three bytes stay.
      {"YQ", "61 00 00"},
      {"YWJjYQ", "61 62 63 61 00 00"},
      // Four bytes dropped from a result of three.
      {"====", ""},
      {"=", ""},
      // The "=" stops the last group at position 5, which drops nothing.
      {"YWJj=", "61 62"},
  };
  test::ExpectEach(Decoded, cases);
}

TEST(Base64DecodeTest, BlanksAndLineBreaksAreCleaned) {
  const std::vector<std::string> texts = {
      "YW Jj", " YWJj ", "Y\r\nWJj", "YWJj\r\n", "Y W\r\nJ j", "YW" + Hex("A1 A1") + "Jj",
  };
  for (const auto& text : texts) {
    SCOPED_TRACE(HexOf(text));
    std::string variable = text;
    EXPECT_EQ(HexOf(ViewOf(Base64Decode(variable))), "61 62 63");
    EXPECT_EQ(variable, "YWJj");
  }
}

TEST(Base64DecodeTest, ForeignCharactersKeepValuesOfThePreviousGroup) {
  const Cases cases = {
      // The tab stops the first group at position 3 and "J" is never read.
      {"YW\tJj", "61 62 40 8C 00 00"},
      // A lone LF stops the last group at position 1: its other positions keep
      // W, J and j from the group before, and four bytes are dropped.
      {"YWJj\n", "61 62"},
      {"YWJj\r", "61 62"},
      // The tab ends the second group at position 2; positions 3 and 4 keep J
      // and j, so that group gives 60 92 63, not 60 90 00.
      {"YWJjY\tAAAAAA", "61 62 63 60 92 63 00 00 00"},
      // Half of a double-byte character is a foreign byte with its raw code.
      {"YW" + Hex("D6 D0") + "Jj", "61 75 80 26 30 00"},
      {"Y=xxYWJj", "63 D0 00 61 62 63"},
  };
  test::ExpectEach(Decoded, cases);
}

TEST(Base64DecodeTest, TabsAndLoneLineBreaksStayInTheCleanedText) {
  std::string text = "Y W\tJ\rj\n";
  Base64Decode(text);
  EXPECT_EQ(text, "YW\tJ\rj\n");
}

TEST(Base64DecodeTest, PumpsOncePerGroup) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"", 0}, {"YQ", 1}, {"YWJj", 1}, {"YWJjY", 2}, {"YWJj YWJj\r\nYWJj", 3}, {"====", 1},
  };
  test::ExpectEach(
      [](std::string text) {
        test::CountingPump pump;
        Base64Decode(text, pump);
        return pump.count;
      },
      cases);
}

}  // namespace
}  // namespace sorrel

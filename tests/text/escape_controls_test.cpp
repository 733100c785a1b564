#include "text/escape_controls.h"

#include <gtest/gtest.h>

namespace sorrel {
namespace {

TEST(EscapeControlsTest, ControlsAndDirectionMarksBecomeVisible) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"样本 数据.bin", "样本 数据.bin"},
      {"a\x1b]0;title\x07z", "a\\x1b]0;title\\x07z"},
      {"\x1b[2J\nforged\r\t\x7f", "\\x1b[2J\\x0aforged\\x0d\\x09\\x7f"},
      {"c1 \xC2\x80 \xC2\x9B \xC2\x9F \xC2\xA0", "c1 \\u0080 \\u009b \\u009f \xC2\xA0"},
      {"\xE2\x80\xAA\xE2\x80\xAE\xE2\x81\xA6\xE2\x81\xA9", "\\u202a\\u202e\\u2066\\u2069"},
      // Neighbours of the ranges are ordinary characters.
      {"\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA",
       "\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
      // Bytes outside valid UTF-8, an 8-bit CSI among them.
      {"x\x9b"
       "1m\xC0\xAF\xE2\x80",
       "x\\x9b1m\\xc0\\xaf\\xe2\\x80"},
      {"C:\\dir\\f", "C:\\dir\\f"},
      {std::string("nul\0!", 5), "nul\\x00!"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EscapeControls(c.in), c.out) << c.in;
    EXPECT_EQ(HasControlCharacters(c.in), c.in != c.out) << c.in;
  }
}

}  // namespace
}  // namespace sorrel

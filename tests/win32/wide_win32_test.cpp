// The two conversions at the edge of the Windows user interface, pinned to
// the bytes a Chinese system's A functions give, whatever this process's
// own code page is (the suite runs under a Chinese and a Western one).
#include "text/wide_win32.h"

#include <gtest/gtest.h>

#include <string>

namespace sorrel {
namespace {

TEST(WideEdgeTest, CodePage936TextBecomesItsCharacters) {
  struct Case {
    const char* label;
    std::string gbk;
    std::wstring wide;
  };
  for (const Case& c : {
           Case{"empty", "", L""},
           Case{"Chinese", "\xD1\xE9\xD6\xA4\xC2\xEB\xA3\xBA", L"\u9A8C\u8BC1\u7801\uFF1A"},
           Case{"full-width space and middle dot", "a\xA1\xA1\xA1\xA4z", L"a\u3000\u00B7z"},
           Case{"ASCII", "http://127.0.0.1/file/1", L"http://127.0.0.1/file/1"},
       }) {
    EXPECT_EQ(GbkToWide(c.gbk), c.wide) << c.label;
    EXPECT_EQ(WideToGbk(c.wide), c.gbk) << c.label;
  }
}

TEST(WideEdgeTest, CharactersCodePage936LacksTakeTheBestFitOrAQuestionMark) {
  struct Case {
    const char* label;
    std::wstring wide;
    std::string gbk;
  };
  for (const Case& c : {
           Case{"micro sign as Greek mu", L"\u00B5", "\xA6\xCC"},
           Case{"feminine ordinal as a", L"\u00AA", "a"},
           Case{"A with diaeresis", L"\u00C4", "?"},
           Case{"Hangul syllable", L"\uD55C", "?"},
           Case{"beyond the Basic Multilingual Plane", L"\U0001F600", "?"},
           Case{"mixed", L"\u9A8C\u00B5\uD55C\u00AA1", "\xD1\xE9\xA6\xCC?a1"},
       }) {
    EXPECT_EQ(WideToGbk(c.wide), c.gbk) << c.label;
  }
}

}  // namespace
}  // namespace sorrel

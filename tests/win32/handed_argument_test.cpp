// The argument a start takes from its command line: the shapes the shell's
// "%1" command, a typed line and a program without argument give.
#include <gtest/gtest.h>

#include "app/win32/single_window.h"

namespace sorrel {
namespace {

TEST(HandedArgument, TakesTheFirstArgumentWithoutItsQuotes) {
  const struct {
    const wchar_t* line;
    const wchar_t* argument;
  } cases[] = {
      {L"\"C:\\Program Files\\s r\\sorrel-resolver.exe\" \"thunder://QUFaWg==\"",
       L"thunder://QUFaWg=="},
      {L"sorrel-resolver.exe thunder://QUFaWg==  ", L"thunder://QUFaWg=="},
      {L"\"C:\\a b\\sorrel-resolver.exe\"", L""},
      {L"sorrel-resolver.exe", L""},
      {L"sorrel-resolver.exe   ", L""},
      {L"\"x.exe\"\t\"http://h/file/1 2\" extra", L"http://h/file/1 2"},
      {L"x.exe \"qqdl://unterminated", L"qqdl://unterminated"},
      {L"x.exe \"\"", L""},
      {L"x.exe 链接 地址", L"链接 地址"},
      {nullptr, L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HandedArgument(c.line), std::wstring(c.argument)) << (c.line ? "" : "null line");
  }
}

}  // namespace
}  // namespace sorrel

// The fault matrix's file pages through the whole resolution over the
// platform's regular-expression engine: each posts exactly the login body of
// its row, the same bytes in every build.
#include <gtest/gtest.h>

#include "http/web_access.h"
#include "resolve/resolver.h"
#include "resolve/texts.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/fake_view.h"
#include "test_helpers/page_rows.h"
#include "test_helpers/platform_engines.h"

namespace sorrel {
namespace {

class PageRowTest : public ::testing::TestWithParam<test::PageRow> {};

TEST_P(PageRowTest, PostsTheBodyOfItsRow) {
  const test::PageRow& row = GetParam();
  test::FakeHttpStack stack;
  stack.script.body = row.page;
  stack.script.rawHeaders =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
      "Content-Length: " +
      std::to_string(row.page.size()) + "\r\n\r\n";
  ProgramState state{test::PlatformRegexObject()};
  test::FakeView view;
  test::RecordingWindows windows;
  WebClient web{stack, view, windows};
  Resolver resolver{state, web, view, test::PlatformPictures(), "http://127.0.0.1:1"};
  view.address = "http://127.0.0.1:1/file/1";
  view.captcha = "k7p2";
  view.picture = BytesOf("GIF89a shown");

  resolver.ResolveDownloadAddresses();
  EXPECT_TRUE(view.buttonEnabled);
  EXPECT_EQ(view.buttonCaption, texts::RestCaption());
  if (row.loginBody.empty()) {
    EXPECT_EQ(view.messages, std::vector<Text>{texts::BadAddressNotice()});
    EXPECT_EQ(stack.sentBody(), "");
  } else {
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(stack.sentBody(), row.loginBody);
    EXPECT_EQ(view.result, texts::ProgramFailedAddressText());
    EXPECT_EQ(view.outcomes, std::vector<ResolveOutcome>{ResolveOutcome::kNoAddress});
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, PageRowTest, ::testing::ValuesIn(test::PageRows()),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace sorrel

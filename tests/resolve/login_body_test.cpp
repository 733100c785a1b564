// The field harvest and the login body, over the platform regex engine.
#include <gtest/gtest.h>

#include "http/http_stack.h"
#include "http/web_access.h"
#include "resolve/resolver.h"
#include "support/notice.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/fake_view.h"
#include "test_helpers/platform_engines.h"

namespace sorrel {
namespace {

// A stack that never connects: the body builder must not reach it.
class NoNetwork : public HttpStack {
 public:
  std::unique_ptr<HttpSession> Open(std::string_view, std::string_view, EventPump*) override {
    ADD_FAILURE() << "the body builder opened a session";
    return nullptr;
  }
  bool SetCookie(std::string_view, std::string_view, std::string_view) override { return false; }
  std::string CookieLine(std::string_view) override { return {}; }
  bool LimitsTime() override { return false; }
};

struct Harness {
  ProgramState state{test::PlatformRegexObject()};
  test::FakeView view;
  test::RecordingWindows windows;
  NoNetwork stack;
  WebClient web{stack, view, windows};
  Resolver resolver{state, web, view, test::PlatformPictures(), "http://127.0.0.1:1"};
};

Text Input(const Text& name, const Text& value) {
  return "<input type=\"hidden\" name=\"" + name + "\" value=\"" + value + "\" />\n";
}

struct BodyCase {
  const char* label;
  Text page;
  Text captcha;
  Text body;
};

class LoginBodyTest : public ::testing::TestWithParam<BodyCase> {};

TEST_P(LoginBodyTest, JoinsTheKeptFieldsAndTheCaptcha) {
  Harness h;
  EXPECT_EQ(h.resolver.BuildLoginBody(GetParam().page, GetParam().captcha), GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoginBodyTest,
    ::testing::Values(
        // Intended: "Comfirm" is the spelling the service expects.
        BodyCase{"blanked fields at both ends",
                 Input("a", "1") + Input("file_id", "123") + Input("hash_key", "abc") +
                     Input("authtype", "0") + Input("hash_info", "xyz") + Input("b", "2"),
                 "k7p2",
                 "=&file_id=123&hash_key=abc&authtype=0&hash_info=xyz&randcode=k7p2&Comfirm=yes"},
        BodyCase{"kept empty value before a blanked field",
                 Input("file_id", "") + Input("other", "9"), "x",
                 "file_id=&randcode=x&Comfirm=yes"},
        // Intended: the service knows the four names only as written.
        BodyCase{"names compare exactly", Input("File_ID", "5") + Input("hash_key", "k"), "q",
                 "=&hash_key=k&randcode=q&Comfirm=yes"},
        BodyCase{"no field at all", "<html><body>nothing here</body></html>", "k7p2",
                 "randcode=k7p2&Comfirm=yes"},
        BodyCase{"captcha goes in unencoded", Input("file_id", "1"), "a b&c",
                 "file_id=1&randcode=a b&c&Comfirm=yes"},
        BodyCase{"upper-case tag and blank value", "<INPUT NAME=\"hash_info\" VALUE=\"  \">\n", "z",
                 "hash_info=  &randcode=z&Comfirm=yes"}),
    [](const auto& info) {
      std::string name = info.param.label;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

TEST(LoginBody, MoreThanEightFieldsAllReachTheBody) {
  Harness h;
  ProgramState& state = h.state;
  Resolver& resolver = h.resolver;
  Text page;
  for (int i = 0; i < 10; ++i) page += Input("pad" + std::to_string(i), "v");
  page += Input("file_id", "77") + Input("hash_key", "hk") + Input("authtype", "1") +
          Input("hash_info", "hi");
  const Text body = resolver.BuildLoginBody(page, "c0de");
  EXPECT_EQ(body, "=&file_id=77&hash_key=hk&authtype=1&hash_info=hi&randcode=c0de&Comfirm=yes");
  ASSERT_EQ(state.FieldNames.size(), 14u);
  EXPECT_EQ(state.FieldNames[10], "file_id");
  EXPECT_EQ(state.FieldValues[13], "hi");
  EXPECT_EQ(state.FieldNames[0], "");
}

TEST(LoginBody, SlotsAboveTheMatchCountKeepEarlierValues) {
  Harness h;
  ProgramState& state = h.state;
  Resolver& resolver = h.resolver;
  resolver.BuildLoginBody(Input("file_id", "1") + Input("hash_key", "2"), "c");
  resolver.BuildLoginBody(Input("authtype", "3"), "c");
  EXPECT_EQ(state.FieldNames[0], "authtype");
  EXPECT_EQ(state.FieldNames[1], "hash_key");
  EXPECT_EQ(state.FieldValues[1], "2");
}

}  // namespace
}  // namespace sorrel

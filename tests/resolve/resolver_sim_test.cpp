// The two workflows against the demo service, through a view without a
// window and the platform's own HTTP stack and engines.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "http/curl_stack.h"
#include "http/decode.h"
#include "resolve/base64.h"
#include "resolve/fake_view.h"
#include "resolve/resolver.h"
#include "resolve/texts.h"
#include "sim/sim_process.h"
#include "support/notice.h"
#include "support/picture.h"
#include "support/regex_object.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

constexpr const char* kCode = "k7p2";

// Abandoned request workers may outlive a test, so the stack lives on.
HttpStack& Stack() {
  static auto* stack = new CurlHttpStack();
  return *stack;
}

// A port on loopback where nothing listens.
Text ClosedOrigin() { return "http://127.0.0.1:9"; }

struct Road {
  explicit Road(std::vector<std::string> simArgs = {}, std::optional<Text> origin = {})
      : sim(WithTestMode(std::move(simArgs))),
        resolver(state, web, view, PlatformPictureCodec(), origin.value_or(sim.baseUrl())) {
    ProcessCookieStore().Clear();
  }

  static std::vector<std::string> WithTestMode(std::vector<std::string> args) {
    args.insert(args.begin(), {"--test-mode", "--fixed-code", kCode});
    return args;
  }

  test::SimProcess sim;
  ProgramState state{MakePlatformRegexObject()};
  testing::FakeView view;
  WindowSystem windows;
  WebClient web{Stack(), view, windows};
  Resolver resolver;
};

bool IsGif(const ByteSet& bytes) { return bytes.size() > 6 && TextOf(bytes).rfind("GIF8", 0) == 0; }

Text After(const Text& text, const Text& heading) {
  const int at = Find(text, heading);
  return at < 0 ? Text() : text.substr(static_cast<size_t>(at - 1) + heading.size());
}

TEST(Resolution, FullRoadGivesThreeAddressesAndTheNormalOneDownloadsTheFile) {
  const std::string path = ::testing::TempDir() + "sorrel-road.bin";
  std::string content(70000, '\0');
  std::mt19937 random(7);
  for (char& c : content) c = static_cast<char>(random());
  std::ofstream(path, std::ios::binary) << content;

  Road road({"--file", "99=" + path});
  ASSERT_TRUE(road.sim.ok()) << road.sim.error();
  road.view.address = "  " + road.sim.url("/file/99");
  road.resolver.RefreshCaptcha();
  ASSERT_TRUE(IsGif(road.view.picture));
  EXPECT_EQ(road.state.CaptchaUrl.rfind(road.sim.baseUrl() + "/", 0), 0u);
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(road.state.CaptchaUrl.back())));

  road.view.captcha = kCode;
  road.resolver.ResolveDownloadAddresses();
  EXPECT_TRUE(road.view.messages.empty());
  ASSERT_EQ(road.view.buttonHistory.size(), 2u);
  EXPECT_EQ(road.view.buttonHistory.front(), std::make_pair(false, texts::BusyCaption()));
  EXPECT_EQ(road.view.buttonHistory.back(), std::make_pair(true, texts::RestCaption()));
  EXPECT_TRUE(road.state.LoginBody.empty());

  const Text& result = road.view.result;
  ASSERT_EQ(result.rfind(texts::NormalHeading(), 0), 0u) << Utf8FromGbk(result);
  EXPECT_EQ(result, texts::NormalHeading() + road.state.NormalLink + texts::ThunderHeading() +
                        road.state.ThunderLink + texts::FlashGetHeading() +
                        road.state.FlashGetLink);
  EXPECT_EQ(road.state.ThunderLink.rfind("thunder://", 0), 0u);
  EXPECT_EQ(road.state.FlashGetLink.rfind("flashget://", 0), 0u);

  Text thunder = road.state.ThunderLink.substr(10);
  EXPECT_EQ(TextOf(Base64Decode(thunder)), "AA" + road.state.NormalLink + "ZZ");

  Text normal = road.state.NormalLink;
  const ByteSet downloaded = road.web.WebAccess(normal);
  EXPECT_EQ(std::string(downloaded.begin(), downloaded.end()), content);
  std::remove(path.c_str());
}

TEST(Resolution, PagesWithMoreThanEightFieldsStillResolve) {
  Road road({"--extra-fields", "12"});
  ASSERT_TRUE(road.sim.ok()) << road.sim.error();
  road.view.address = road.sim.url("/file/83264445");
  road.resolver.RefreshCaptcha();
  road.view.captcha = kCode;
  road.resolver.ResolveDownloadAddresses();
  EXPECT_TRUE(road.view.messages.empty());
  EXPECT_GT(road.state.FieldNames.size(), 8u);
  EXPECT_EQ(road.view.result.rfind(texts::NormalHeading(), 0), 0u) << Utf8FromGbk(road.view.result);
}

TEST(Resolution, ThirdWrongCaptchaAndEveryOneAfterWritesTheFirstNotice) {
  Road road;
  ASSERT_TRUE(road.sim.ok()) << road.sim.error();
  road.view.address = road.sim.url("/file/83264445");
  road.view.result = "earlier";
  road.resolver.RefreshCaptcha();
  road.view.captcha = "zzzz";
  for (int attempt = 1; attempt <= 4; ++attempt) {
    road.resolver.ResolveDownloadAddresses();
    ASSERT_EQ(road.view.messages.size(), static_cast<size_t>(attempt));
    EXPECT_EQ(road.view.messages.back(), texts::WrongCaptchaNotice());
    EXPECT_TRUE(IsGif(road.view.picture)) << "a new captcha is fetched";
    EXPECT_EQ(road.state.CaptchaFailures, attempt);
    EXPECT_EQ(road.view.result, attempt < 3 ? Text("earlier") : texts::ProgramFailedCaptchaText());
    EXPECT_TRUE(road.view.buttonEnabled);
    EXPECT_EQ(road.view.buttonCaption, texts::RestCaption());
  }
  EXPECT_EQ(road.view.captcha, "zzzz");

  // A success in between does not reset the count.
  road.view.captcha = kCode;
  road.resolver.ResolveDownloadAddresses();
  EXPECT_EQ(road.view.result.rfind(texts::NormalHeading(), 0), 0u);
  road.view.captcha = "zzzz";
  road.resolver.ResolveDownloadAddresses();
  EXPECT_EQ(road.view.result, texts::ProgramFailedCaptchaText());
}

struct RefusedPage {
  const char* label;
  std::string path;  // on the demo service; empty for a closed port
};

class RefusedPageTest : public ::testing::TestWithParam<RefusedPage> {};

TEST_P(RefusedPageTest, ShowsTheAddressNoticeAndRestoresTheButton) {
  Road road;
  ASSERT_TRUE(road.sim.ok()) << road.sim.error();
  road.view.address =
      GetParam().path.empty() ? ClosedOrigin() + "/file/1" : road.sim.url(GetParam().path);
  road.view.captcha = kCode;
  road.view.picture = BytesOf("GIF89a-placeholder");
  road.view.result = "unchanged";
  road.resolver.ResolveDownloadAddresses();
  ASSERT_EQ(road.view.messages.size(), 1u);
  EXPECT_EQ(road.view.messages[0], texts::BadAddressNotice());
  EXPECT_EQ(road.view.result, "unchanged");
  EXPECT_EQ(road.view.buttonHistory.back(), std::make_pair(true, texts::RestCaption()));
  EXPECT_EQ(road.view.captcha, kCode);
}

INSTANTIATE_TEST_SUITE_P(Pages, RefusedPageTest,
                         ::testing::Values(RefusedPage{"removed", "/file/40400404"},
                                           RefusedPage{"unknown", "/file/11111111"},
                                           RefusedPage{"no_captcha_form", "/dl/none/x"},
                                           RefusedPage{"connection_refused", ""}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(Resolution, EmptyInputsStopBeforeAnyRequest) {
  Road road({}, ClosedOrigin());
  ASSERT_TRUE(road.sim.ok()) << road.sim.error();
  road.view.address = road.sim.url("/file/83264445");
  // With an empty captcha box the notice is the same whether or not a
  // picture is shown.
  road.resolver.ResolveDownloadAddresses();
  road.view.address.clear();
  road.view.captcha = " ";
  road.view.picture = BytesOf("GIF89a-placeholder");
  road.resolver.ResolveDownloadAddresses();
  EXPECT_EQ(road.view.messages,
            (std::vector<Text>{texts::EmptyInputNotice(), texts::EmptyInputNotice()}));
  EXPECT_TRUE(road.view.buttonHistory.empty());
  EXPECT_TRUE(road.state.PageText.empty());
}

TEST(Resolution, WithoutAPictureFetchesACaptchaFirst) {
  Road road;
  ASSERT_TRUE(road.sim.ok()) << road.sim.error();
  road.view.address = road.sim.url("/file/83264445");
  road.view.captcha = kCode;
  road.resolver.ResolveDownloadAddresses();
  EXPECT_EQ(road.view.messages, std::vector<Text>{texts::CaptchaFirstNotice()});
  EXPECT_TRUE(IsGif(road.view.picture));
  EXPECT_TRUE(road.view.buttonHistory.empty());
  EXPECT_EQ(road.view.captcha, kCode);
}

TEST(Resolution, NoNormalLinkWritesTheSecondNotice) {
  // The page comes from the service, the login goes nowhere.
  Road road({}, ClosedOrigin());
  ASSERT_TRUE(road.sim.ok()) << road.sim.error();
  road.view.address = road.sim.url("/file/83264445");
  road.view.captcha = kCode;
  road.view.picture = BytesOf("GIF89a-placeholder");
  road.resolver.ResolveDownloadAddresses();
  EXPECT_TRUE(road.view.messages.empty());
  EXPECT_EQ(road.view.result, texts::ProgramFailedAddressText());
  EXPECT_EQ(road.view.buttonHistory.back(), std::make_pair(true, texts::RestCaption()));
}

TEST(Resolution, ACaptchaRefreshNestedInAResolutionLeavesItWhole) {
  Road road;
  ASSERT_TRUE(road.sim.ok()) << road.sim.error();
  road.view.address = road.sim.url("/file/83264445");
  road.resolver.RefreshCaptcha();
  road.view.captcha = kCode;
  const Text firstCaptchaUrl = road.state.CaptchaUrl;
  bool nestedRan = false;
  road.view.onPump = [&] {
    nestedRan = true;
    road.resolver.RefreshCaptcha();
  };
  road.resolver.ResolveDownloadAddresses();
  EXPECT_TRUE(nestedRan);
  EXPECT_NE(road.state.CaptchaUrl, firstCaptchaUrl);
  EXPECT_TRUE(IsGif(road.view.picture));
  EXPECT_EQ(road.view.result.rfind(texts::NormalHeading(), 0), 0u) << Utf8FromGbk(road.view.result);
  EXPECT_EQ(road.view.buttonHistory.back(), std::make_pair(true, texts::RestCaption()));
}

TEST(CaptchaRetrieval, EmptyAddressOrPageWithoutMarkerLeavesTheBoxEmpty) {
  Road road;
  ASSERT_TRUE(road.sim.ok()) << road.sim.error();
  road.view.picture = BytesOf("GIF89a-placeholder");
  road.resolver.RefreshCaptcha();
  EXPECT_TRUE(road.view.picture.empty());
  EXPECT_TRUE(road.view.messages.empty());
  // No marker: the address is the origin followed directly by the digits.
  EXPECT_EQ(road.state.CaptchaUrl.rfind(road.sim.baseUrl(), 0), 0u);
  EXPECT_TRUE(std::all_of(road.state.CaptchaUrl.begin() + road.sim.baseUrl().size(),
                          road.state.CaptchaUrl.end(), [](char c) { return std::isdigit(c); }));

  road.view.address = road.sim.url("/file/40400404");
  road.view.picture = BytesOf("GIF89a-placeholder");
  road.resolver.RefreshCaptcha();
  EXPECT_TRUE(road.view.picture.empty());
}

TEST(CaptchaRetrieval, TwoRefreshesUseTwoRandomNumbers) {
  Road road;
  ASSERT_TRUE(road.sim.ok()) << road.sim.error();
  road.view.address = road.sim.url("/file/83264445");
  road.resolver.RefreshCaptcha();
  const Text first = road.state.CaptchaUrl;
  road.resolver.RefreshCaptcha();
  EXPECT_NE(road.state.CaptchaUrl, first);
  // The generator is the C library's, unseeded: 41 and 18467 come first.
  EXPECT_EQ(first.substr(first.size() - 2), "41");
  EXPECT_EQ(road.state.CaptchaUrl.substr(road.state.CaptchaUrl.size() - 5), "18467");
}

}  // namespace
}  // namespace sorrel

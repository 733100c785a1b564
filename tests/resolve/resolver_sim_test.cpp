// The two workflows against the demo service, through a view without a
// window and the platform's own HTTP stack and engines.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "http/http_stack.h"
#include "http/http_stack_curl.h"
#include "http/request_steps.h"
#include "http/worker_thread.h"
#include "resolve/base64.h"
#include "resolve/resolver.h"
#include "resolve/texts.h"
#include "support/notice.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/fake_view.h"
#include "test_helpers/platform_engines.h"
#include "test_helpers/sim_process.h"
#include "text/codepage.h"
#include "text/decode.h"

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
  explicit Road(std::vector<std::string> simArgs = {}, std::optional<Text> origin = {},
                ThreadSystem& threads = PlatformThreads())
      : sim(WithTestMode(std::move(simArgs))),
        web(Stack(), view, windows, threads),
        resolver(state, web, view, test::PlatformPictures(), origin.value_or(sim.baseUrl())) {
    ProcessCookieStore().Clear();
  }

  static std::vector<std::string> WithTestMode(std::vector<std::string> args) {
    args.insert(args.begin(), {"--test-mode", "--fixed-code", kCode});
    return args;
  }

  test::SimProcess sim;
  ProgramState state{test::PlatformRegexObject()};
  test::FakeView view;
  test::RecordingWindows windows;
  WebClient web;
  Resolver resolver;
};

bool IsGif(const ByteSet& bytes) { return bytes.size() > 6 && TextOf(bytes).rfind("GIF8", 0) == 0; }

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
  ASSERT_EQ(result.rfind(texts::NormalHeading(), 0), 0u) << GbkToUtf8(result);
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
  EXPECT_EQ(road.view.result.rfind(texts::NormalHeading(), 0), 0u) << GbkToUtf8(road.view.result);
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
  EXPECT_EQ(road.view.result.rfind(texts::NormalHeading(), 0), 0u) << GbkToUtf8(road.view.result);
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

enum class Run { kRefresh, kResolve, kRefreshThenResolve };

struct OutcomeCase {
  const char* label;
  Run run;
  // A path on the demo service, "closed" for a port where nothing listens,
  // anything else typed as it stands.
  std::string address;
  Text captcha;
  bool pictureShown;
  bool closedOrigin;  // the picture and the login go to a port where nothing listens
  std::vector<std::string> simArgs;
  std::vector<ResolveOutcome> outcomes;
};

using O = ResolveOutcome;
constexpr Run kRefresh = Run::kRefresh;
constexpr Run kResolve = Run::kResolve;
constexpr Run kBoth = Run::kRefreshThenResolve;
const std::string kPage = "/file/83264445";

class OutcomeTest : public ::testing::TestWithParam<OutcomeCase> {};

// Each run reports once why it ended; a refresh that a resolution runs
// itself does not report.
TEST_P(OutcomeTest, EachRunReportsWhyItEnded) {
  const OutcomeCase& c = GetParam();
  Road road(c.simArgs, c.closedOrigin ? std::optional<Text>(ClosedOrigin()) : std::nullopt);
  ASSERT_TRUE(road.sim.ok()) << road.sim.error();
  road.view.address = c.address.rfind('/', 0) == 0 ? Text(road.sim.url(c.address))
                      : c.address == "closed"      ? ClosedOrigin() + "/file/1"
                                                   : Text(c.address);
  if (c.pictureShown) road.view.picture = BytesOf("GIF89a-placeholder");
  if (c.run != Run::kResolve) road.resolver.RefreshCaptcha();
  road.view.captcha = c.captcha;
  if (c.run != Run::kRefresh) road.resolver.ResolveDownloadAddresses();
  EXPECT_EQ(road.view.outcomes, c.outcomes);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, OutcomeTest,
    ::testing::Values(
        OutcomeCase{
            "refresh_shows_a_picture", kRefresh, kPage, "", false, false, {}, {O::kResolved}},
        OutcomeCase{
            "refresh_removed", kRefresh, "/file/40400404", "", false, false, {}, {O::kRemoved}},
        OutcomeCase{
            "refresh_unknown", kRefresh, "/file/11111111", "", false, false, {}, {O::kRemoved}},
        OutcomeCase{
            "refresh_no_form", kRefresh, "/dl/none/x", "", false, false, {}, {O::kNoCaptchaForm}},
        OutcomeCase{
            "refresh_unreachable", kRefresh, "closed", "", false, false, {}, {O::kUnreachable}},
        OutcomeCase{
            "refresh_picture_unreachable", kRefresh, kPage, "", false, true, {}, {O::kUnreachable}},
        OutcomeCase{"refresh_no_picture",
                    kRefresh,
                    kPage + "?captcha_fault=html-captcha",
                    "",
                    false,
                    false,
                    {},
                    {O::kBadCaptcha}},
        OutcomeCase{"refresh_empty_address", kRefresh, "", "", false, false, {}, {O::kInvalid}},
        OutcomeCase{
            "resolved", kBoth, kPage, kCode, false, false, {}, {O::kResolved, O::kResolved}},
        OutcomeCase{"wrong_captcha",
                    kBoth,
                    kPage,
                    "zzzz",
                    false,
                    false,
                    {},
                    {O::kResolved, O::kWrongCaptcha}},
        OutcomeCase{"empty_captcha", kResolve, kPage, "", true, false, {}, {O::kInvalid}},
        OutcomeCase{"empty_address", kResolve, "", kCode, true, false, {}, {O::kInvalid}},
        OutcomeCase{"address_without_host",
                    kResolve,
                    "http:///file/1",
                    kCode,
                    true,
                    false,
                    {},
                    {O::kInvalid}},
        OutcomeCase{"no_picture_yet", kResolve, kPage, kCode, false, false, {}, {O::kInvalid}},
        OutcomeCase{"no_picture_unreachable",
                    kResolve,
                    "closed",
                    kCode,
                    false,
                    false,
                    {},
                    {O::kUnreachable}},
        OutcomeCase{"removed", kResolve, "/file/40400404", kCode, true, false, {}, {O::kRemoved}},
        OutcomeCase{"unknown", kResolve, "/file/11111111", kCode, true, false, {}, {O::kRemoved}},
        OutcomeCase{
            "no_captcha_form", kResolve, "/dl/none/x", kCode, true, false, {}, {O::kNoCaptchaForm}},
        OutcomeCase{
            "page_unreachable", kResolve, "closed", kCode, true, false, {}, {O::kUnreachable}},
        OutcomeCase{"login_unreachable", kResolve, kPage, kCode, true, true, {}, {O::kUnreachable}},
        OutcomeCase{"no_address",
                    kBoth,
                    kPage,
                    kCode,
                    false,
                    false,
                    {"--fault", "redirect:/@/guest_loginV2.php"},
                    {O::kResolved, O::kNoAddress}}),
    [](const auto& info) { return std::string(info.param.label); });

// Timed requests that never end in time: workers never end, and the clock
// passes any limit between two readings.
class StalledThreads : public ThreadSystem {
 public:
  std::unique_ptr<WorkerThread> Start(std::function<void()>) override {
    return std::make_unique<WorkerThread>();
  }
  WaitResult Wait(WorkerThread*, std::uint32_t) override { return WaitResult::kTimedOut; }
  std::uint32_t TickCount() override { return tick_ += 100000; }

 private:
  std::uint32_t tick_ = 0;
};

TEST(Outcome, TimedRequestsThatRunOutOfTimeReportIt) {
  StalledThreads stalled;
  Road road({}, {}, stalled);
  ASSERT_TRUE(road.sim.ok()) << road.sim.error();
  road.view.address = road.sim.url(kPage);
  road.resolver.RefreshCaptcha();
  EXPECT_TRUE(road.view.picture.empty());
  road.view.picture = BytesOf("GIF89a-placeholder");
  road.view.captcha = kCode;
  road.resolver.ResolveDownloadAddresses();
  EXPECT_EQ(road.view.result, texts::ProgramFailedAddressText());
  EXPECT_EQ(road.view.outcomes, (std::vector<O>{O::kTimedOut, O::kTimedOut}));
}

// A service whose every answer is a body without end.
class EndlessStack : public test::OneAnswerStack<EndlessStack> {
 public:
  bool Send(std::string_view, std::string_view) override { return true; }
  std::size_t Read(std::uint8_t* buffer, std::size_t size) override {
    std::fill(buffer, buffer + size, 'x');
    return size;
  }
};

TEST(Outcome, AnAnswerBeyondTheBodyCapReportsItAndKeepsTheTexts) {
  static auto* stack = new EndlessStack();
  ProgramState state{test::PlatformRegexObject()};
  test::FakeView view;
  test::RecordingWindows windows;
  WebClient web{*stack, view, windows};
  Resolver resolver{state, web, view, test::PlatformPictures(), "http://127.0.0.1:9"};
  view.address = "http://127.0.0.1:9/file/1";
  resolver.RefreshCaptcha();
  view.picture = BytesOf("GIF89a-placeholder");
  view.captcha = kCode;
  resolver.ResolveDownloadAddresses();
  EXPECT_EQ(view.messages, std::vector<Text>{texts::BadAddressNotice()});
  EXPECT_EQ(view.outcomes, (std::vector<O>{O::kTooLarge, O::kTooLarge}));
}

}  // namespace
}  // namespace sorrel

// The two workflows over bad captcha answers and bad file pages: each ends
// with its sound notice or result, the view keeps being pumped and no other
// program is started.
#include <gtest/gtest.h>

#include "fault_harness.h"
#include "http/web_access.h"
#include "resolve/resolver.h"
#include "resolve/texts.h"
#include "test_helpers/fake_view.h"
#include "test_helpers/loopback_server.h"
#include "test_helpers/page_rows.h"
#include "test_helpers/platform_engines.h"
#include "test_helpers/sim_process.h"

namespace sorrel::test {
namespace {

// A view whose event processing is timed like the pump of the request tests.
class TimedView : public test::FakeView {
 public:
  GapPump gaps;
  void ProcessPendingEvents() override {
    gaps.ProcessPendingEvents();
    FakeView::ProcessPendingEvents();
  }
};

struct Workflow {
  explicit Workflow(Text origin)
      : resolver(state, web, view, test::PlatformPictures(), std::move(origin)) {
    ProcessCookieStore().Clear();
  }
  ProgramState state{test::PlatformRegexObject()};
  TimedView view;
  SilentWindows windows;
  WebClient web{Stack(), view, windows};
  Resolver resolver;
};

class BadCaptcha : public ::testing::TestWithParam<const char*> {};

// Every bad captcha answer, in every picture format the service offers:
// the picture box stays empty and nothing is started.
TEST_P(BadCaptcha, LeavesThePictureBoxEmpty) {
  test::SimProcess sim({"--test-mode", "--fixed-code", "k7p2"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  const long peakBefore = PeakResidentKb();
  const int forksBefore = ForkCount().load();
  for (const char* format : {"png", "gif", "jpeg", "bmp"}) {
    SCOPED_TRACE(format);
    Workflow w(sim.baseUrl());
    w.view.address =
        sim.url(std::string("/file/83264445?picture=") + format + "&captcha_fault=" + GetParam());
    w.view.picture = BytesOf("previous picture");
    w.view.gaps.Begin();
    w.resolver.RefreshCaptcha();
    EXPECT_LT(w.view.gaps.End(), kLivenessBound);
    EXPECT_NE(w.state.CaptchaUrl.find(std::string("fault=") + GetParam()), Text::npos);
    EXPECT_TRUE(w.view.picture.empty());
    EXPECT_TRUE(w.view.messages.empty());
  }
  EXPECT_EQ(ForkCount().load(), forksBefore);
  // A picture that claims 50000 x 50000 pixels is refused before decoding.
  EXPECT_LT(PeakResidentKb() - peakBefore, kMemoryScale * 256 * 1024) << "kB more at peak";
}

INSTANTIATE_TEST_SUITE_P(Faults, BadCaptcha,
                         ::testing::Values("html-captcha", "truncated-picture", "huge-picture"),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::erase(name, '-');
                           return name;
                         });

// A service on loopback that serves `page` (as sent) for every GET and
// answers every login POST with a page that holds no link.
struct PageService {
  explicit PageService(std::string page)
      : server([page = std::move(page)](const std::string& request, LoopbackServer::Connection& c) {
          c.Write(request.rfind("POST ", 0) == 0
                      ? HttpResponse("<html>no links today</html>")
                      : HttpResponse(page, "Content-Type: text/html; charset=utf-8\r\n"));
        }) {}

  // The body of the login POST, or "" when none was sent.
  std::string LoginBody() const {
    for (const std::string& request : server.requests()) {
      if (request.rfind("POST /guest_loginV2.php ", 0) != 0) continue;
      return request.substr(request.find("\r\n\r\n") + 4);
    }
    return "";
  }

  LoopbackServer server;
};

// Resolves the page that `service` serves, with a picture already shown.
void Resolve(Workflow& w, const PageService& service) {
  w.view.address = "http://" + service.server.authority() + "/file/1";
  w.view.captcha = "k7p2";
  w.view.picture = BytesOf("GIF89a shown");
  w.view.gaps.Begin();
  w.resolver.ResolveDownloadAddresses();
  EXPECT_LT(w.view.gaps.End(), kLivenessBound);
  EXPECT_TRUE(w.view.buttonEnabled);
  EXPECT_EQ(w.view.buttonCaption, texts::RestCaption());
}

// Every page row of the matrix, served over loopback: the body posted is the
// row's, the same bytes the Windows build posts for it.
class PageRows : public ::testing::TestWithParam<test::PageRow> {};

TEST_P(PageRows, PostTheBodyOfTheirRow) {
  PageService service(GetParam().page);
  Workflow w("http://" + service.server.authority());
  Resolve(w, service);
  if (GetParam().loginBody.empty()) {
    EXPECT_EQ(w.view.messages, std::vector<Text>{texts::BadAddressNotice()});
    EXPECT_EQ(service.LoginBody(), "");
    EXPECT_TRUE(w.view.result.empty());
  } else {
    EXPECT_TRUE(w.view.messages.empty());
    EXPECT_EQ(service.LoginBody(), GetParam().loginBody);
    EXPECT_EQ(w.view.result, texts::ProgramFailedAddressText());
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, PageRows, ::testing::ValuesIn(test::PageRows()),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace sorrel::test

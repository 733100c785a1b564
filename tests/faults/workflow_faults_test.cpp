// The two workflows over bad captcha answers and bad file pages: each ends
// with its sound notice or result, the view keeps being pumped and no other
// program is started.
#include <gtest/gtest.h>

#include "faults/fault_harness.h"
#include "http/loopback_server.h"
#include "http/web_access.h"
#include "resolve/fake_view.h"
#include "resolve/resolver.h"
#include "resolve/texts.h"
#include "sim/sim_process.h"
#include "support/picture.h"
#include "support/regex_object.h"
#include "text/codepage.h"

namespace sorrel::faults {
namespace {

using test::HttpResponse;
using test::LoopbackServer;

// A view whose event processing is timed like the pump of the request tests.
class TimedView : public testing::FakeView {
 public:
  GapPump gaps;
  void ProcessPendingEvents() override {
    gaps.ProcessPendingEvents();
    FakeView::ProcessPendingEvents();
  }
};

struct Workflow {
  explicit Workflow(Text origin)
      : resolver(state, web, view, PlatformPictureCodec(), std::move(origin)) {
    ProcessCookieStore().Clear();
  }
  ProgramState state{MakePlatformRegexObject()};
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

std::string Field(const std::string& name, const std::string& value) {
  return "<input type=\"hidden\" name=\"" + name + "\" value=\"" + value + "\" />\n";
}

const std::string kMarker = "请在输入上方的验证码";

TEST(HostilePage, MegabyteSingleLineIsHarvestedWithinItsBudget) {
  std::string page = "<html><body><p>" + kMarker + "</p>";
  while (page.size() < (1u << 20)) page += "<input name=\"";
  PageService service(page + "\n" + Field("file_id", "7") + "</body></html>");
  Workflow w("http://" + service.server.authority());
  Resolve(w, service);
  EXPECT_TRUE(w.view.messages.empty());
  EXPECT_EQ(w.view.result, texts::ProgramFailedAddressText());
  // Whatever the bounded scan found, the body is still well formed.
  const std::string body = service.LoginBody();
  ASSERT_FALSE(body.empty());
  EXPECT_EQ(body.substr(body.size() - 25), "randcode=k7p2&Comfirm=yes");
  EXPECT_EQ(body.find('\0'), std::string::npos);
}

struct PageCase {
  const char* label;
  std::string page;
  std::string loginBody;  // "" when the page is refused
};

void PrintTo(const PageCase& c, std::ostream* out) { *out << c.label; }

class MalformedPage : public ::testing::TestWithParam<PageCase> {};

TEST_P(MalformedPage, EndsWithTheSoundOutcome) {
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

const std::string kKept = Field("file_id", "1") + Field("hash_key", "2");

INSTANTIATE_TEST_SUITE_P(
    Pages, MalformedPage,
    ::testing::Values(
        PageCase{"InvalidUtf8AroundTheFields",
                 kMarker + "\xC3\x28 \xFF\xFE \x80 \xC0\xAF \xED\xA0\x80\n" + kKept +
                     "\xF4\x90\x80\x80\xE2\x82\n",
                 "file_id=1&hash_key=2&randcode=k7p2&Comfirm=yes"},
        PageCase{"GbkPageLosesItsMarker", GbkFromUtf8(kMarker + " 文件名：说明.txt\n") + kKept, ""},
        PageCase{"GbkBytesAfterTheMarker", kMarker + GbkFromUtf8("文件名：说明.txt\n") + kKept,
                 "file_id=1&hash_key=2&randcode=k7p2&Comfirm=yes"},
        PageCase{"PercentZeroIsDroppedAnywhere",
                 "%00" + kMarker + Field("file_id", "1") + "%00" + Field("hash_key", "2%00"),
                 "file_id=1&hash_key=2&randcode=k7p2&Comfirm=yes"},
        PageCase{"ZeroByteEndsThePageText",
                 kMarker + Field("file_id", "1") + std::string(1, '\0') + Field("hash_key", "2"),
                 "file_id=1&randcode=k7p2&Comfirm=yes"},
        PageCase{"ZeroByteBeforeTheMarker", std::string(1, '\0') + kMarker + kKept, ""},
        PageCase{"MalformedEscapesOnTheirOwnLine",
                 kMarker + "%E8%BE% %G1 %%\n" + Field("file_id", "%41") + "%",
                 "file_id=A&randcode=k7p2&Comfirm=yes"},
        // A stray "%" takes the next two bytes with it, here the value's
        // closing quote: the field no longer matches.
        PageCase{"EscapeSwallowsAClosingQuote", kMarker + Field("file_id", "1%") + Field("x", "2"),
                 "=&randcode=k7p2&Comfirm=yes"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace sorrel::faults

// The window logic both windows share, without any window: a fake view, a
// scripted HTTP stack and fake engine items.
#include "app/window_controller.h"

#include <gtest/gtest.h>

#include "fake_window_view.h"
#include "http/worker_thread.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/platform_engines.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

using Role = ControlRole;

const std::string kPage =
    "<img id='vfcode' src='/randcodeV2.php?rand=\" 输入上方\n<input name=\"file_id\" "
    "value=\"7\">\n";
// The page and the login answer in one: the fake stack serves one body.
const std::string kResolved =
    kPage +
    "<a class=\"local\" href=\"aHR0cDovL2RsLmV4YW1wbGUvZi9hLnppcA==\" id=\"local_free\" "
    "onclick=\"logClickST();\">普通不限速下载</a>\n"
    "thunderHref=\"thunder://QUFodHRwOi8vZGwuZXhhbXBsZS9mL2EuemlwWlo=\">迅雷不限速下载\n"
    "fg=\"flashget://W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL2YvYS56aXBbRkxBU0hHRVRd&sorrel\">"
    "快车不限速下载\n";
const std::u16string kResultText =
    u"普通下载地址：\r\n\r\nhttp://dl.example/f/a.zip\r\n\r\n"
    u"迅雷下载地址：\r\n\r\nthunder://QUFodHRwOi8vZGwuZXhhbXBsZS9mL2EuemlwWlo=\r\n\r\n"
    u"快车下载地址：\r\n\r\n"
    u"flashget://W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL2YvYS56aXBbRkxBU0hHRVRd&sorrel";

// Any picture becomes the same one, in the format asked for.
class FixedPictures : public PictureCodec {
 public:
  std::vector<PictureFormat> asked;
  ByteSet Reencode(const ByteSet&, PictureFormat format) override {
    asked.push_back(format);
    return BytesOf(format == PictureFormat::kGif ? "GIF89a-fixed" : "BM-fixed");
  }
};

class RecordingEngine : public EngineItems {
 public:
  std::vector<std::string> sent, checked;
  std::optional<CheckReport> report;
  bool sendsOpened = false;
  int settings = 0;
  void Send(const std::string& normal, const std::string& page) override {
    sent.push_back(normal + " " + page);
  }
  void Check(const std::string& normal, std::function<void(const CheckReport&)> done) override {
    checked.push_back(normal);
    if (report) done(*report);
  }
  bool Checking() const override { return false; }
  void EditSettings() override { ++settings; }
  bool SendsOpenedLinks() override { return sendsOpened; }
  std::string Proxy(std::string_view address) override {
    asked.emplace_back(address);
    return proxy;
  }
  std::string proxy;
  std::vector<std::string> asked;
};

// Abandoned request workers may outlive a test, so the stack lives on.
test::FakeHttpStack& Stack() {
  static auto* stack = new test::FakeHttpStack();
  return *stack;
}

struct Harness {
  Harness() {
    Serve(kResolved);
    controller.SetEngine(&engine);
  }
  void Serve(const std::string& body, bool reachable = true) {
    Stack().script = {false, !reachable, false, body, "HTTP/1.1 200 OK\r\n\r\n"};
  }
  std::size_t Requests() const { return Stack().Calls().size(); }
  // A captcha for the page in the address box, then `code` typed and sent.
  void Resolve(const std::u16string& code = u"k7p2") {
    view.texts[Role::kAddressBox] = u"http://127.0.0.1:9/file/1";
    controller.RefreshClicked();
    view.texts[Role::kCaptchaBox] = code;
    controller.ResolveClicked();
  }
  std::vector<bool> Enabled() {
    std::vector<bool> enabled;
    for (const ResultMenuItem& item : controller.ResultMenu()) enabled.push_back(item.enabled);
    return enabled;
  }

  FixedPictures pictures;
  const OwnBase64 base64;
  test::RecordingWindows windows;
  test::FakeWindowView view;
  RecordingEngine engine;
  WindowController controller{
      {Stack(), PlatformThreads(), test::TestEngines().regexEngines, pictures, base64, windows},
      view,
      "http://127.0.0.1:9"};
};

TEST(WindowController, ItemsActOnlyOnTheAddressesTheResultBoxShows) {
  const struct {
    const char* later;
    std::string body;
    bool reachable;
    int runs;
    std::u16string box;
    bool offered;
  } rows[] = {
      {"the third wrong captcha", kPage + "验证码输入错误", true, 3,
       u"如果您确定您的验证码输入正确，而程序依然提示错误，则说明程序已经失效。请联系作者"
       u"support@sorrel-resolver.example，10分钟解决。",
       false},
      {"an answer without addresses (a file removed at the login)", kPage, true, 1,
       u"如果您输入的网址没有出错，那么就是软件失效了，请联系作者support@sorrel-resolver.example"
       u"更新软件，只需10分钟更新完毕。",
       false},
      // The box still shows the addresses, and they are what the items give.
      {"an unreachable page (a notice, the box unchanged)", kPage, false, 1, kResultText, true},
  };
  const std::vector<bool> all = {true, true, true, true, true, true};
  const std::vector<bool> none = {false, false, false, false, false, true};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.later);
    Harness h;
    h.Resolve();
    ASSERT_EQ(h.view.texts[Role::kResultBox], kResultText);
    EXPECT_EQ(h.Enabled(), all);

    h.Serve(row.body, row.reachable);
    for (int i = 0; i < row.runs; ++i) h.Resolve(u"wxyz");
    EXPECT_EQ(h.view.texts[Role::kResultBox], row.box);
    EXPECT_EQ(h.Enabled(), row.offered ? all : none);
    h.view.clipboard = u"untouched";
    for (ResultAction action :
         {ResultAction::kCopyNormal, ResultAction::kCopyThunder, ResultAction::kCopyFlashGet,
          ResultAction::kSendToAria2, ResultAction::kCheckLink}) {
      h.controller.Choose(action);
    }
    if (row.offered) {
      EXPECT_EQ(h.view.clipboard,
                u"flashget://W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL2YvYS56aXBbRkxBU0hHRVRd&sorrel");
      EXPECT_EQ(h.engine.sent, std::vector<std::string>{"http://dl.example/f/a.zip "
                                                        "http://127.0.0.1:9/file/1"});
    } else {
      EXPECT_EQ(h.view.clipboard, u"untouched");
      EXPECT_TRUE(h.engine.sent.empty());
      EXPECT_TRUE(h.engine.checked.empty());
    }
  }
}

TEST(WindowController, APastedLinkKeepsItsOwnForm) {
  const struct {
    std::u16string pasted;
    std::u16string normal, thunder, flashget;
  } rows[] = {
      // Wrapped around code page 936 bytes: its own form stays, the other is
      // made from the decoded address.
      {u"thunder://QUFodHRwOi8vZGwuZXhhbXBsZS/OxLz+LnppcFpa", u"http://dl.example/文件.zip",
       u"thunder://QUFodHRwOi8vZGwuZXhhbXBsZS/OxLz+LnppcFpa",
       u"flashget://W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL+aWh+S7ti56aXBbRkxBU0hHRVRd&sorrel"},
      {u" flashget://W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL87EvP4uemlw W0ZMQVNIR0VUXQ==",
       u"http://dl.example/文件.zip", u"thunder://QUFodHRwOi8vZGwuZXhhbXBsZS/mlofku7YuemlwWlo=",
       u"flashget://W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL87EvP4uemlwW0ZMQVNIR0VUXQ=="},
      {u"qqdl://aHR0cDovL2RsLmV4YW1wbGUvZi9hLnppcA==", u"http://dl.example/f/a.zip",
       u"thunder://QUFodHRwOi8vZGwuZXhhbXBsZS9mL2EuemlwWlo=",
       u"flashget://W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL2YvYS56aXBbRkxBU0hHRVRd&sorrel"},
  };
  for (const auto& row : rows) {
    Harness h;
    const std::size_t before = h.Requests();
    ASSERT_TRUE(h.controller.OpenAddress(row.pasted));
    EXPECT_EQ(h.Requests(), before);
    EXPECT_EQ(h.view.texts[Role::kResultBox], u"普通下载地址：\r\n\r\n" + row.normal +
                                                  u"\r\n\r\n迅雷下载地址：\r\n\r\n" + row.thunder +
                                                  u"\r\n\r\n快车下载地址：\r\n\r\n" + row.flashget);
    const std::pair<ResultAction, std::u16string> copies[] = {
        {ResultAction::kCopyNormal, row.normal},
        {ResultAction::kCopyThunder, row.thunder},
        {ResultAction::kCopyFlashGet, row.flashget}};
    for (const auto& [action, copied] : copies) {
      h.controller.Choose(action);
      EXPECT_EQ(h.view.clipboard, copied);
    }
  }
}

TEST(WindowController, KeysStartNothingInsideARun) {
  const struct {
    const char* key;
    void (WindowController::*press)();
    bool runs;
  } rows[] = {
      {"F5 or a click on the picture", &WindowController::RefreshKey, false},
      {"Enter in the address box", &WindowController::EnterInAddressBox, false},
      {"Enter in the captcha box", &WindowController::EnterInCaptchaBox, false},
      // The button runs nested, as it always has, and its run ends the
      // request of the run it replaces.
      {"the refresh button", &WindowController::RefreshClicked, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.key);
    Harness h;
    h.view.texts[Role::kAddressBox] = u"http://127.0.0.1:9/file/1";
    std::size_t before = h.Requests();
    h.controller.RefreshClicked();
    const std::size_t alone = h.Requests() - before;
    h.view.onPump = [&] { (h.controller.*row.press)(); };
    before = h.Requests();
    h.controller.RefreshClicked();
    if (row.runs) {
      EXPECT_GT(h.Requests() - before, alone);
      EXPECT_LT(h.Requests() - before, 2 * alone);
    } else {
      EXPECT_EQ(h.Requests() - before, alone);
    }
  }
}

TEST(WindowController, OnlyAPasteOfALinkShowsItAtOnce) {
  const std::u16string link = u"qqdl://aHR0cDovL2RsLmV4YW1wbGUvZi9hLnppcA==";
  const struct {
    const char* change;
    std::u16string before, after;
    bool typed;
    bool shown;
  } rows[] = {
      {"a paste", u"", link, true, true},
      {"a paste over a page address", u"http://127.0.0.1:9/file/1", link, true, true},
      {"the last key of a typed link", link.substr(0, link.size() - 1), link, true, false},
      {"a change the user did not make", u"", link, false, false},
      {"a paste of words", u"", u"not a link", true, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.change);
    Harness h;
    h.controller.AddressChanged(row.before, false);
    h.controller.AddressChanged(row.after, row.typed);
    // A toolkit that tells the change a second time adds nothing.
    h.controller.AddressChanged(row.after, false);
    EXPECT_EQ(!h.view.texts[Role::kResultBox].empty(), row.shown);
  }

  // Typed key by key, the link waits for Enter, or for the focus to move on.
  for (void (WindowController::*done)() :
       {&WindowController::EnterInAddressBox, &WindowController::AddressLeft}) {
    Harness h;
    std::u16string typed;
    for (char16_t c : link) {
      h.controller.AddressChanged(typed += c, true);
      h.view.texts[Role::kAddressBox] = typed;
    }
    EXPECT_TRUE(h.view.texts[Role::kResultBox].empty());
    (h.controller.*done)();
    EXPECT_EQ(h.view.texts[Role::kResultBox], kResultText);
  }
}

TEST(WindowController, OpensWhatItIsHanded) {
  Harness h;
  const std::size_t before = h.Requests();
  EXPECT_TRUE(h.controller.OpenAddress(u"  http://127.0.0.1:9/file/1\r\n"));
  EXPECT_EQ(h.view.texts[Role::kAddressBox], u"http://127.0.0.1:9/file/1");
  EXPECT_GT(h.Requests(), before);
  EXPECT_EQ(h.view.shownPicture, BytesOf("GIF89a-fixed"));
  EXPECT_EQ(h.view.focus, Role::kCaptchaBox);

  EXPECT_FALSE(h.controller.OpenAddress(u"http://elsewhere.example/x"));
  ASSERT_EQ(h.view.boxes.size(), 1u);
  EXPECT_EQ(h.view.boxes[0].substr(0, 12), u"信息：|无法识别的链接：");
  EXPECT_EQ(h.view.texts[Role::kAddressBox], u"http://127.0.0.1:9/file/1");

  // A later start's link goes on to the engine when the settings say so.
  h.controller.OpenHanded(u" \r\n");
  EXPECT_TRUE(h.engine.sent.empty());
  h.engine.sendsOpened = true;
  h.controller.OpenHanded(u"qqdl://aHR0cDovL2RsLmV4YW1wbGUvZi9hLnppcA==");
  EXPECT_EQ(h.engine.sent,
            std::vector<std::string>{
                "http://dl.example/f/a.zip qqdl://aHR0cDovL2RsLmV4YW1wbGUvZi9hLnppcA=="});
}

TEST(WindowController, ClipboardIsOfferedOnceTheActivationHasSettled) {
  Harness h;
  h.view.clipboard = u"http://127.0.0.1:9/file/2";
  h.controller.Activated();
  EXPECT_TRUE(h.view.texts[Role::kAddressBox].empty());
  h.view.RunLater();
  EXPECT_EQ(h.view.texts[Role::kAddressBox], u"http://127.0.0.1:9/file/2");

  // Its own copy is no news, nor is a text the window is not active for.
  h.controller.CopyToClipboard(u"http://127.0.0.1:9/file/3");
  h.controller.Activated();
  h.view.RunLater();
  h.view.clipboard = u"http://127.0.0.1:9/file/4";
  h.view.active = false;
  h.controller.Activated();
  h.view.RunLater();
  EXPECT_EQ(h.view.texts[Role::kAddressBox], u"http://127.0.0.1:9/file/2");
}

// Every request of a click takes the road the engine items name at that
// click, asked for the service.
TEST(WindowController, EachClickTakesTheRoadTheSettingsNameThen) {
  Harness h;
  const std::size_t before = Stack().Calls().size();
  h.engine.proxy = "http://p.lan:3128";
  h.Resolve();
  h.engine.proxy.clear();
  h.view.texts[Role::kAddressBox] = u"http://127.0.0.1:9/file/1";
  h.controller.RefreshClicked();
  std::vector<std::string> opened;
  const std::vector<std::string> calls = Stack().Calls();
  for (std::size_t i = before; i < calls.size(); ++i) {
    if (calls[i].rfind("open ", 0) == 0) opened.push_back(calls[i].substr(calls[i].find('|') + 1));
  }
  // The resolution's page, picture and login, then the refresh's page and
  // picture.
  EXPECT_EQ(opened, (std::vector<std::string>{"http://p.lan:3128", "http://p.lan:3128",
                                              "http://p.lan:3128", "http://p.lan:3128", "", ""}));
  EXPECT_EQ(h.engine.asked, std::vector<std::string>(3, "http://127.0.0.1:9"));
}

// A proxy that fails a run speaks for it, in place of the service's notice
// and where the run would otherwise say nothing; without a proxy, and
// outside a run, the window's own texts stay.
TEST(WindowController, AProxysFailureGivesTheProxysSentence) {
  struct Row {
    const char* proxy;
    RequestFailure failure;
    std::u16string refresh;  // the boxes after a failed refresh
    std::u16string resolve;  // after a resolution whose page request failed
  };
  const Row rows[] = {
      {"http://p.lan:3128", RequestFailure::kProxyNeedsPassword,
       u"信息：|代理服务器要求用户名和密码（407）。",
       u"信息：|代理服务器要求用户名和密码（407）。"},
      {"socks4://10.0.0.9:1080", RequestFailure::kProxyUnreachable,
       u"信息：|无法连接代理服务器 10.0.0.9:1080。", u"信息：|无法连接代理服务器 10.0.0.9:1080。"},
      {"http://p.lan:3128", RequestFailure::kProxyRefused, u"信息：|代理服务器拒绝了连接。",
       u"信息：|代理服务器拒绝了连接。"},
      {"", RequestFailure::kUnreachable, u"", u"信息：|您的地址输入有误，或者分享的文件已被删除。"},
  };
  for (const Row& row : rows) {
    Harness h;
    h.engine.proxy = row.proxy;
    h.view.texts[Role::kAddressBox] = u"http://127.0.0.1:9/file/1";
    h.controller.RefreshClicked();
    Stack().script.failSend = row.failure;
    h.controller.RefreshClicked();
    EXPECT_EQ(h.view.boxes, row.refresh.empty() ? std::vector<std::u16string>{}
                                                : std::vector<std::u16string>{row.refresh})
        << row.proxy;
    h.view.boxes.clear();
    // The first refresh's picture is still shown: the page request fails.
    h.controller.SetPicture(BytesOf("GIF89a-sent"));
    h.view.texts[Role::kCaptchaBox] = u"k7p2";
    h.controller.ResolveClicked();
    EXPECT_EQ(h.view.boxes, std::vector<std::u16string>{row.resolve}) << row.proxy;
    h.view.boxes.clear();
    h.controller.OpenAddress(u"nonsense");
    ASSERT_EQ(h.view.boxes.size(), 1u);
    EXPECT_EQ(h.view.boxes[0].rfind(u"信息：|无法识别的链接", 0), 0u) << row.proxy;
  }
  Stack().script.failSend = RequestFailure::kNone;
}

TEST(WindowController, PictureIsDrawnInTheWindowsFormatAndReadBackAsSent) {
  Harness h;
  h.view.drawnFormat = PictureFormat::kBmp;
  h.view.texts[Role::kCaptchaBox] = u"old";
  h.controller.SetPicture(BytesOf("GIF89a-sent"));
  EXPECT_EQ(h.pictures.asked, std::vector<PictureFormat>{PictureFormat::kBmp});
  EXPECT_EQ(h.view.shownPicture, BytesOf("BM-fixed"));
  EXPECT_EQ(h.controller.Picture(), BytesOf("GIF89a-sent"));
  EXPECT_TRUE(h.view.texts[Role::kCaptchaBox].empty());

  h.view.drawnFormat.reset();
  h.controller.SetPicture(BytesOf("undrawable"));
  EXPECT_TRUE(h.controller.Picture().empty());
  EXPECT_TRUE(h.view.shownPicture.empty());
}

TEST(WindowController, BusyButtonHandsTheKeyboardToTheCaptchaBox) {
  Harness h;
  h.view.focus = Role::kResolveButton;
  h.controller.SetResolveButton(false, Utf8ToGbk("正在获取中..."));
  EXPECT_EQ(h.view.focus, Role::kCaptchaBox);
  EXPECT_TRUE(h.view.disabled[Role::kResolveButton]);
  EXPECT_EQ(h.view.texts[Role::kResolveButton], u"正在获取中...");
}

TEST(WindowController, CheckSaysWhatItFoundAndOffersACaptchaForAnExpiredAddress) {
  for (bool expired : {false, true}) {
    Harness h;
    h.Resolve();
    h.engine.report = CheckReport{u"文件名：a.zip", expired};
    const std::size_t before = h.Requests();
    h.controller.Choose(ResultAction::kCheckLink);
    EXPECT_EQ(h.engine.checked, std::vector<std::string>{"http://dl.example/f/a.zip"});
    ASSERT_EQ(h.view.boxes.size(), 1u);
    EXPECT_EQ(h.view.boxes[0], expired ? u"检查链接|文件名：a.zip\r\n\r\n要重新获取验证码吗？"
                                       : u"检查链接|文件名：a.zip");
    EXPECT_EQ(h.Requests() > before, expired);
  }
}

TEST(WindowController, MenuWithoutAnEngineHasTheCopyItemsOnly) {
  Harness h;
  h.controller.SetEngine(nullptr);
  std::vector<std::u16string> texts;
  for (const ResultMenuItem& item : h.controller.ResultMenu()) texts.push_back(item.text);
  EXPECT_EQ(texts, (std::vector<std::u16string>{u"复制普通下载地址", u"复制迅雷下载地址",
                                                u"复制快车下载地址"}));
  h.controller.Choose(ResultAction::kSettings);
  EXPECT_EQ(h.engine.settings, 0);
}

}  // namespace
}  // namespace sorrel

// Every fixed text the user sees, written out once here as the user reads
// it, against what the code shows. The workflow tests compare with the
// code's own constants, so a slip in a constant would pass them all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main_window_layout.h"
#include "http/web_access.h"
#include "resolve/texts.h"
#include "support/notice.h"
#include "test_helpers/fake_stack.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

struct VisibleText {
  const char* where;
  Text shown;  // code page 936, as the code shows it
  std::string expected;
};

// The notice and its title that WebAccess shows for a bad method.
std::pair<Text, Text> BadMethodNotice() {
  test::FakeHttpStack stack;
  test::CountingPump pump;
  test::RecordingWindows windows;
  WebClient client(stack, pump, windows);
  Text url = "h/";
  client.WebAccess(url, {.method = 2});
  return windows.messages.size() == 1 ? std::pair(windows.messages[0], windows.titles[0])
                                      : std::pair<Text, Text>();
}

// What a timed request that runs out of time gives in place of a body.
Text TimeoutText() {
  // An abandoned worker may still use the stack after the call.
  static auto* stack = new test::FakeHttpStack();
  test::CountingPump pump;
  test::RecordingWindows windows;
  WebClient client(*stack, pump, windows);
  Text url = "h/";
  return TextOf(client.TimedWebAccess(url, {.timeoutSeconds = 0}));
}

// The controls as the layout names them.
Text ShownIn(const char* control, const Text& origin) {
  return InitialText(ControlNamed(control)->role, origin);
}

TEST(VisibleTextsTest, AreTheSystemsOwn) {
  const Text origin = "http://o.test";
  const auto [notice, noticeTitle] = BadMethodNotice();
  const std::vector<VisibleText> table = {
      {"window caption", WindowCaption(),
       "Sorrel网盘下载地址解析工具【Orrinwood专版   www.sorrel-resolver.example】"},
      {"Label1", ShownIn("Label1", origin), "地址："},
      {"Label2", ShownIn("Label2", origin), "验证码："},
      {"Label3", ShownIn("Label3", origin), "请输入左边的验证码"},
      {"Label4", ShownIn("Label4", origin),
       "地址示例：\r\n\r\n    http://o.test/file/83264445\r\n\r\n"
       "    http://o.test/file/83264445\r\n\r\n"
       "    *目前Sorrel网盘的下载格式基本统一了，输入上面类型的地址基本不会出错."},
      {"Label5", ShownIn("Label5", origin), "sorrel-resolver 1.0 · 仅供学习交流"},
      {"Button1", ShownIn("Button1", origin), "获取下载地址"},
      {"Button2", ShownIn("Button2", origin), "刷新验证码"},
      {"EditBox1", ShownIn("EditBox1", origin), ""},
      {"EditBox2", ShownIn("EditBox2", origin), ""},
      {"EditBox3", ShownIn("EditBox3", origin), ""},
      {"Button1 at rest", texts::RestCaption(), "获取下载地址"},
      {"Button1 busy", texts::BusyCaption(), "正在获取中..."},
      {"message box title", texts::MessageBoxTitle(), "信息："},
      {"empty input", texts::EmptyInputNotice(), "地址或验证码不得为空"},
      {"captcha first", texts::CaptchaFirstNotice(), "请先输入验证码。"},
      {"bad address", texts::BadAddressNotice(), "您的地址输入有误，或者分享的文件已被删除。"},
      {"wrong captcha", texts::WrongCaptchaNotice(), "验证码输入错误，请重新输入。"},
      {"normal heading", texts::NormalHeading(), "普通下载地址：\r\n\r\n"},
      {"thunder heading", texts::ThunderHeading(), "\r\n\r\n迅雷下载地址：\r\n\r\n"},
      {"flashget heading", texts::FlashGetHeading(), "\r\n\r\n快车下载地址：\r\n\r\n"},
      {"program failed (captcha)", texts::ProgramFailedCaptchaText(),
       "如果您确定您的验证码输入正确，而程序依然提示错误，则说明程序已经失效。"
       "请联系作者support@sorrel-resolver.example，10分钟解决。"},
      {"program failed (address)", texts::ProgramFailedAddressText(),
       "如果您输入的网址没有出错，那么就是软件失效了，"
       "请联系作者support@sorrel-resolver.example更新软件，只需10分钟更新完毕。"},
      {"bad method notice", notice, "【网页_访问】命令的第二个【访问方式】参数有误,请返回修改"},
      {"notice title", noticeTitle, "友情提醒"},
      {"time-out text", TimeoutText(),
       "超时返回，指定网站不能访问，或者你的网络出现问题，"
       "你可以把参数中的＂超时返回＂的值设置长一些。"},
      // Not shown, but the service's page must carry them exactly.
      {"removed-file marker", texts::RemovedFileMarker(), "这个文件已到期或被删除"},
      {"captcha form marker", texts::CaptchaFormMarker(), "输入上方"},
      {"wrong captcha marker", texts::WrongCaptchaMarker(), "验证码输入错误"},
      {"normal link end", texts::NormalLinkRight(),
       "\" id=\"local_free\" onclick=\"logClickST();\">普通不限速下载</a>"},
      {"thunder link end", texts::ThunderLinkRight(), "\">迅雷不限速下载"},
      {"flashget link end", texts::FlashGetLinkRight(), "\">快车不限速下载"},
  };
  for (const VisibleText& row : table) {
    SCOPED_TRACE(row.where);
    // Back to UTF-8 for a readable failure; a character that code page 936
    // lacks would come back as "?" and differ.
    EXPECT_EQ(GbkToUtf8(row.shown), row.expected);
    EXPECT_EQ(row.shown, Utf8ToGbk(row.expected));
  }
}

}  // namespace
}  // namespace sorrel

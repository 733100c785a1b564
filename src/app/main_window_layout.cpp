#include "app/main_window_layout.h"

#include <string>

#include "text/codepage.h"

namespace sorrel {

Text WindowCaption() {
  return Utf8ToGbk(std::string("Sorrel网盘下载地址解析工具【Orrinwood专版   ") + kMakerAddress +
                   "】");
}

Text InitialText(ControlRole role, const Text& serviceOrigin) {
  switch (role) {
    case ControlRole::kCredit:
      return Utf8ToGbk("sorrel-resolver 1.0 · 仅供学习交流");
    case ControlRole::kAddressExample: {
      const Text example = "    " + serviceOrigin + "/file/83264445";
      return Utf8ToGbk("地址示例：\r\n\r\n") + example + "\r\n\r\n" + example + "\r\n\r\n" +
             Utf8ToGbk("    *目前Sorrel网盘的下载格式基本统一了，输入上面类型的地址基本不会出错.");
    }
    case ControlRole::kRefreshButton:
      return Utf8ToGbk("刷新验证码");
    case ControlRole::kCaptchaPrompt:
      return Utf8ToGbk("请输入左边的验证码");
    case ControlRole::kCaptchaCaption:
      return Utf8ToGbk("验证码：");
    case ControlRole::kAddressCaption:
      return Utf8ToGbk("地址：");
    case ControlRole::kResolveButton:
      return Utf8ToGbk("获取下载地址");
    case ControlRole::kCaptchaBox:
    case ControlRole::kAddressBox:
    case ControlRole::kCaptchaPicture:
    case ControlRole::kResultBox:
      break;
  }
  return {};
}

}  // namespace sorrel

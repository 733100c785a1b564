#include "resolve/texts.h"

#include <string>

#include "text/codepage.h"

namespace sorrel::texts {

#define SORREL_TEXT(name, utf8)               \
  const Text& name() {                        \
    static const Text text = Utf8ToGbk(utf8); \
    return text;                              \
  }

SORREL_TEXT(RemovedFileMarker, "这个文件已到期或被删除")
SORREL_TEXT(CaptchaFormMarker, "输入上方")
SORREL_TEXT(WrongCaptchaMarker, "验证码输入错误")
SORREL_TEXT(NormalLinkRight, "\" id=\"local_free\" onclick=\"logClickST();\">普通不限速下载</a>")
SORREL_TEXT(ThunderLinkRight, "\">迅雷不限速下载")
SORREL_TEXT(FlashGetLinkRight, "\">快车不限速下载")
SORREL_TEXT(NormalHeading, "普通下载地址：\r\n\r\n")
SORREL_TEXT(ThunderHeading, "\r\n\r\n迅雷下载地址：\r\n\r\n")
SORREL_TEXT(FlashGetHeading, "\r\n\r\n快车下载地址：\r\n\r\n")
SORREL_TEXT(EmptyInputNotice, "地址或验证码不得为空")
SORREL_TEXT(CaptchaFirstNotice, "请先输入验证码。")
SORREL_TEXT(BadAddressNotice, "您的地址输入有误，或者分享的文件已被删除。")
SORREL_TEXT(WrongCaptchaNotice, "验证码输入错误，请重新输入。")
SORREL_TEXT(
    ProgramFailedCaptchaText,
    std::string(
        "如果您确定您的验证码输入正确，而程序依然提示错误，则说明程序已经失效。请联系作者") +
        kAuthorContact + "，10分钟解决。")
SORREL_TEXT(ProgramFailedAddressText,
            std::string("如果您输入的网址没有出错，那么就是软件失效了，请联系作者") +
                kAuthorContact + "更新软件，只需10分钟更新完毕。")
SORREL_TEXT(BusyCaption, "正在获取中...")
SORREL_TEXT(RestCaption, "获取下载地址")
SORREL_TEXT(MessageBoxTitle, "信息：")

#undef SORREL_TEXT

}  // namespace sorrel::texts

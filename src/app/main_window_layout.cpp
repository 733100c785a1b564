#include "app/main_window_layout.h"

#include <cstring>
#include <string>

#include "text/codepage.h"

namespace sorrel {

Text WindowCaption() {
  return GbkFromUtf8(std::string("Sorrel网盘下载地址解析工具【Orrinwood专版   ") + kMakerAddress +
                     "】");
}

Text InitialText(const char* controlName, const Text& serviceOrigin) {
  const std::string name = controlName;
  if (name == "Label5") return GbkFromUtf8("sorrel-resolver 1.0 · 仅供学习交流");
  if (name == "Label4") {
    const Text example = "    " + serviceOrigin + "/file/83264445";
    return GbkFromUtf8("地址示例：\r\n\r\n") + example + "\r\n\r\n" + example + "\r\n\r\n" +
           GbkFromUtf8("    *目前Sorrel网盘的下载格式基本统一了，输入上面类型的地址基本不会出错.");
  }
  if (name == "Button2") return GbkFromUtf8("刷新验证码");
  if (name == "Label3") return GbkFromUtf8("请输入左边的验证码");
  if (name == "Label2") return GbkFromUtf8("验证码：");
  if (name == "Label1") return GbkFromUtf8("地址：");
  if (name == "Button1") return GbkFromUtf8("获取下载地址");
  return {};
}

}  // namespace sorrel

// Free text split into the addresses the tool takes.
#include "app/address_split.h"

#include <gtest/gtest.h>

#include "resolve/link_codec.h"

namespace sorrel {
namespace {

constexpr const char* kOrigin = "http://127.0.0.1:8017";

// The workflow's own Base64, which both builds have.
const OwnBase64 kBase64;
constexpr AddressKind kPage = AddressKind::kFilePage;
constexpr AddressKind kLink = AddressKind::kWrappedLink;

// http://example.com/a.txt, and http://dl.example/f/文件.zip?k=>>? in the
// three forms, whose Base64 holds "+", "/" and "=".
constexpr const char* kExampleThunder = "thunder://QUFodHRwOi8vZXhhbXBsZS5jb20vYS50eHRaWg==";
constexpr const char* kSignsThunder =
    "thunder://QUFodHRwOi8vZGwuZXhhbXBsZS9mL+aWh+S7ti56aXA/az0+Pj9aWg==";
constexpr const char* kSignsFlashGet =
    "flashget://"
    "W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL2Yv5paH5Lu2LnppcD9rPT4+P1tGTEFTSEdFVF0=&sorrel";
constexpr const char* kSignsQqdl = "qqdl://aHR0cDovL2RsLmV4YW1wbGUvZi/mlofku7YuemlwP2s9Pj4/";

std::string Page(const std::string& name) { return std::string(kOrigin) + "/file/" + name; }

struct Case {
  const char* name;
  std::string text;
  std::vector<std::pair<AddressKind, std::string>> found;
};

void ExpectSplits(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<FoundAddress> found = SplitAddresses(kBase64, c.text, kOrigin);
    ASSERT_EQ(found.size(), c.found.size()) << c.text;
    for (size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(found[i].kind, c.found[i].first) << i;
      EXPECT_EQ(found[i].text, c.found[i].second) << i;
    }
  }
}

TEST(AddressSplitTest, FindsPagesAndLinksInOrderOnce) {
  const std::vector<Case> cases = {
      {"a forum post in Chinese",
       "各位好，分享几个文件：\n1. 样本数据 " + Page("83264445") + " 提取码见楼下\n2. 迅雷：" +
           kExampleThunder + "\n别的网站 http://other.example/file/1 " +
           "和 ftp://127.0.0.1:8017/file/2 不算。\n",
       {{kPage, Page("83264445")}, {kLink, kExampleThunder}}},
      {"full-width punctuation ends an address",
       "地址：" + Page("1") + "，" + Page("2") + "。（" + Page("3") + "）【" + Page("4") + "】“" +
           Page("5") + "”《" + Page("6") + "》、" + Page("7") + "！" + Page("8") + "？" +
           Page("9") + "；\u3000" + Page("10") + "：" + kExampleThunder + "。",
       {{kPage, Page("1")},
        {kPage, Page("2")},
        {kPage, Page("3")},
        {kPage, Page("4")},
        {kPage, Page("5")},
        {kPage, Page("6")},
        {kPage, Page("7")},
        {kPage, Page("8")},
        {kPage, Page("9")},
        {kPage, Page("10")},
        {kLink, kExampleThunder}}},
      {"glued to text and to each other",
       "下载" + Page("11") + "下载" + kSignsThunder + "链接" + kSignsQqdl + "结束 " + Page("12") +
           Page("13") + " " + kExampleThunder + kSignsFlashGet,
       {{kPage, Page("11")},
        {kLink, kSignsThunder},
        {kPage, Page("12")},
        {kPage, Page("13")},
        {kLink, kExampleThunder}}},
      {"duplicates once, in the place first seen",
       Page("14") + "\nHTTP://127.0.0.1:8017/file/14\n" + kSignsFlashGet + "\n" + Page("15") +
           "\n" + Page("14") + "\n" + kSignsThunder + " " + kSignsQqdl + "\n",
       {{kPage, Page("14")}, {kLink, kSignsFlashGet}, {kPage, Page("15")}}},
      {"ASCII quotes, brackets, forum tags and sentence ends",
       "[url=" + Page("20") + "]文件[/url] [url]" + Page("21") + "[/url] <a href=\"" + Page("22") +
           "\">x</a> (see " + Page("23") + "). **" + Page("24") + "**, '" + Page("25") + "' and " +
           Page("26") + "?! then " + kSignsQqdl + ".",
       {{kPage, Page("20")},
        {kPage, Page("21")},
        {kPage, Page("22")},
        {kPage, Page("23")},
        {kPage, Page("24")},
        {kPage, Page("25")},
        {kPage, Page("26")},
        {kLink, kSignsQqdl}}},
      {"a page behind a redirect and other services' pages",
       "http://go.example/?to=" + Page("27") + " https://127.0.0.1:8017/file/28 " +
           "http://127.0.0.1:80171/file/29 " + kOrigin + "/other/30 " + kOrigin + "/file/",
       {{kPage, Page("27")}, {kPage, "https://127.0.0.1:8017/file/28"}}},
      {"a link that does not decode is kept to say why",
       "thunder://QUFodHRw 后面没了\nqqdl://!!!",
       {{kLink, "thunder://QUFodHRw"}, {kLink, "qqdl://"}}},
      {"nothing", "没有地址，只有 :// 和 http:// 本身。", {}},
  };
  ExpectSplits(cases);
}

TEST(AddressSplitTest, SignsInBase64StayInTheLink) {
  const std::string text = std::string("迅雷：") + kSignsThunder + "，快车：" + kSignsFlashGet;
  const std::vector<FoundAddress> found = SplitAddresses(kBase64, text, kOrigin);
  ASSERT_EQ(found.size(), 1u);  // the same file twice
  EXPECT_EQ(DecodeWrappedLink(kBase64, found[0].text).address,
            "http://dl.example/f/文件.zip?k=>>?");
  const std::vector<FoundAddress> three =
      SplitAddresses(kBase64,
                     std::string("qqdl://aHR0cDovL2RsLmV4YW1wbGUvJUU2JTk2JTg3P3g9fn4+，") +
                         "thunder://QUFodHRwOi8vZGwuZXhhbXBsZS9hfmI/Yz0+Pj4mZD0/P1pa。" +
                         "flashget://W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL2F+Yj9jPT4+PiZkPT8/"
                         "W0ZMQVNIR0VUXQ==&sorrel",
                     kOrigin);
  ASSERT_EQ(three.size(), 2u);
  EXPECT_EQ(DecodeWrappedLink(kBase64, three[0].text).address, "http://dl.example/%E6%96%87?x=~~>");
  EXPECT_EQ(DecodeWrappedLink(kBase64, three[1].text).address, "http://dl.example/a~b?c=>>>&d=??");
}

TEST(AddressSplitTest, AddressesBrokenByAMailClientAreMendedOnlyOnFullEvidence) {
  const std::string longThunder =
      "thunder://"
      "QUFodHRwOi8vZGwuZXhhbXBsZS9hLXZlcnktbG9uZy1maWxlLW5hbWUtdGhhdC1tYWtlcy10aGUtbGluay13cmFwLXR3"
      "aWNlLyVFNiU5NiU4NyVFNCVCQiVCNi56aXBaWg==";
  const std::vector<Case> cases = {
      {"a page's name on the next line",
       "文件：" + Page("") + "\r\n83264445 密码 1234\n",
       {{kPage, Page("83264445")}}},
      {"a thunder link's wrapping closes on the next line",
       "> 下载：\nthunder://QUFodHRwOi8vZGwuZXhhbXBsZS9m\nL+aWh+S7ti56aXA/az0+Pj9aWg==\n谢谢",
       {{kLink, kSignsThunder}}},
      {"a flowed soft break before the rest of a flashget link",
       "flashget://W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL2Yv5paH5Lu2 \r\n"
       "LnppcD9rPT4+P1tGTEFTSEdFVF0=&sorrel。",
       {{kLink, kSignsFlashGet}}},
      {"a link over three lines",
       longThunder.substr(0, 60) + "\n" + longThunder.substr(60, 60) + "\n" +
           longThunder.substr(120) + "\n",
       {{kLink, longThunder}}},
      {"a whole page is never extended",
       Page("30") + "\n2nd: " + Page("31") + "\n" + Page("32") + "\nabc",
       {{kPage, Page("30")}, {kPage, Page("31")}, {kPage, Page("32")}}},
      {"an indented line, a blank line or a new scheme is no continuation",
       Page("") + "\n  83264445\n" + Page("") + "\n\n83264445\n" + Page("") + "\n" + Page("33"),
       {{kPage, Page("33")}}},
      {"a qqdl link that decodes on its own stays as it is",
       "qqdl://aHR0cDovL2RsLmV4YW1wbGUv\nZi9hLnppcA==",
       {{kLink, "qqdl://aHR0cDovL2RsLmV4YW1wbGUv"}}},
      {"a qqdl link whose first part does not decode",
       "qqdl://aHR0cDovL2RsLmV4YW1wbGUvZ\ni9hLnppcA==",
       {{kLink, "qqdl://aHR0cDovL2RsLmV4YW1wbGUvZi9hLnppcA=="}}},
      {"a broken link whose next line does not mend it",
       "thunder://QUFodHRwOi8vZGwuZXhhbXBsZS9m\n谢谢\n",
       {{kLink, "thunder://QUFodHRwOi8vZGwuZXhhbXBsZS9m"}}},
  };
  ExpectSplits(cases);
}

}  // namespace
}  // namespace sorrel

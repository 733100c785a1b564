// The file pages of the fault matrix, as the service sends them (UTF-8), and
// the login body each must make the workflow post, written out once: both
// builds' tests compare what they post with these bytes. An empty body means
// the page is refused.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "text/codepage.h"

namespace sorrel::test {

struct PageRow {
  const char* label;
  std::string page;
  std::string loginBody;
};

inline void PrintTo(const PageRow& row, std::ostream* out) { *out << row.label; }

inline const std::string kPageMarker = "请在输入上方的验证码";

inline std::string HiddenField(const std::string& name, const std::string& value) {
  return "<input type=\"hidden\" name=\"" + name + "\" value=\"" + value + "\" />\n";
}

// One line of `unit` repeated to about 1 MB.
inline std::string MegabyteLine(const std::string& unit) {
  std::string line;
  while (line.size() < (1u << 20)) line += unit;
  return line + "\n";
}

inline const std::string kRealForm =
    "<form id=\"down\" method=\"post\">\n" + HiddenField("referer", "/file/83264445") +
    HiddenField("file_id", "83264445") + HiddenField("hash_key", "9f3c2a7e") +
    HiddenField("authtype", "0") + HiddenField("hash_info", "") +
    "<input type=\"text\" name=\"randcode\" value=\"\" />\n</form>\n";
// Intended: "Comfirm" is the spelling the service expects.
inline const std::string kRealFormBody =
    "=&file_id=83264445&hash_key=9f3c2a7e&authtype=0&hash_info=&randcode=k7p2&Comfirm=yes";

// A file page as the service builds one, about 1 MB: styles, scripts,
// navigation with a search box, Chinese text, comments, and the form in the
// middle.
inline std::string RealisticPage() {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>文件下载</title>\n<style>\n";
  for (int i = 0; i < 400; ++i) {
    page += ".c" + std::to_string(i) + " { margin: " + std::to_string(i % 9) + "px; }\n";
  }
  page +=
      "</style>\n</head><body>\n<div class=\"nav\"><form action=\"/search\">"
      "<input type=\"text\" name=\"q\" value=\"\" class=\"search\" /></form></div>\n";
  int line = 0;
  auto filler = [&](std::size_t until) {
    while (page.size() < until) {
      ++line;
      const std::string n = std::to_string(line);
      if (line % 40 == 0) {
        page += "<script>\nfunction f" + n +
                "(a, b) { var s = \"\"; for (var i = 0; i < a.length; i++) { s += "
                "String.fromCharCode(a.charCodeAt(i) ^ b); } return s; }\n</script>\n";
      } else if (line % 7 == 0) {
        page += "<li class=\"comment\"><a href=\"/u/" + n + "\">user" + n +
                "</a><p>文件分享说明：请在验证码后点击下载，</p></li>\n";
      } else {
        page += "<div class=\"c" + std::to_string(line % 400) +
                "\"><span>相关文件</span><a href=\"/file/" + std::to_string(10000000 + line) +
                "\">文件" + n + "</a></div>\n";
      }
    }
  };
  filler(1u << 19);
  page += "<p>" + kPageMarker + "</p>\n" + kRealForm;
  filler(1u << 20);
  return page + "</body></html>\n";
}

inline std::vector<PageRow> PageRows() {
  const std::string kept = HiddenField("file_id", "1") + HiddenField("hash_key", "2");
  const std::string keptBody = "file_id=1&hash_key=2&randcode=k7p2&Comfirm=yes";
  return {
      {"HostileLineAlone", kPageMarker + "\n" + MegabyteLine("<input name=\""),
       "randcode=k7p2&Comfirm=yes"},
      {"HostileLineBeforeTheForm", kPageMarker + "\n" + MegabyteLine("<input name=\"") + kRealForm,
       kRealFormBody},
      {"HostileValuesBeforeTheForm",
       kPageMarker + "\n" + MegabyteLine("<input name=\"value=\"") + kRealForm, kRealFormBody},
      {"RealisticMegabytePage", RealisticPage(), kRealFormBody},
      {"InvalidUtf8AroundTheFields",
       kPageMarker + "\xC3\x28 \xFF\xFE \x80 \xC0\xAF \xED\xA0\x80\n" + kept +
           "\xF4\x90\x80\x80\xE2\x82\n",
       keptBody},
      {"GbkPageLosesItsMarker", Utf8ToGbk(kPageMarker + " 文件名：说明.txt\n") + kept, ""},
      {"GbkBytesAfterTheMarker", kPageMarker + Utf8ToGbk("文件名：说明.txt\n") + kept, keptBody},
      // Intended: the whole page is percent-decoded, as the service's pages
      // have always been read.
      {"PercentZeroIsDroppedAnywhere",
       "%00" + kPageMarker + HiddenField("file_id", "1") + "%00" + HiddenField("hash_key", "2%00"),
       keptBody},
      {"ZeroByteEndsThePageText",
       kPageMarker + HiddenField("file_id", "1") + std::string(1, '\0') +
           HiddenField("hash_key", "2"),
       "file_id=1&randcode=k7p2&Comfirm=yes"},
      {"ZeroByteBeforeTheMarker", std::string(1, '\0') + kPageMarker + kept, ""},
      {"MalformedEscapesOnTheirOwnLine",
       kPageMarker + "%E8%BE% %G1 %%\n" + HiddenField("file_id", "%41") + "%",
       "file_id=A&randcode=k7p2&Comfirm=yes"},
      // A stray "%" takes the next two bytes with it, here the value's
      // closing quote: the field no longer matches.
      {"EscapeSwallowsAClosingQuote",
       kPageMarker + HiddenField("file_id", "1%") + HiddenField("x", "2"),
       "=&randcode=k7p2&Comfirm=yes"},
  };
}

}  // namespace sorrel::test

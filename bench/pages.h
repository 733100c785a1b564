// Pages of about 1 MB for the field-harvest figures, as code page 936 text.
#pragma once

#include <string>

#include "text/codepage.h"
#include "text/text.h"

namespace sorrel::bench {

constexpr size_t kPageBytes = 1 << 20;

// The form of a file page: six hidden fields and the captcha box.
inline Text FormLines() {
  Text form = "<form id=\"down\" method=\"post\">\n";
  for (const char* name : {"file_id", "hash_key", "authtype", "hash_info", "action", "ref"}) {
    form += "<input type=\"hidden\" name=\"" + std::string(name) + "\" value=\"v_" +
            std::string(name) + "_83264445\" />\n";
  }
  return form + "<input type=\"text\" name=\"randcode\" value=\"\" />\n</form>\n";
}

// A file page as a real one is built: styles, scripts, navigation, Chinese
// text, comment threads, a search box and a handful of hidden form fields
// somewhere in the middle of about 1 MB.
inline Text RealisticPage() {
  const Text chinese = Utf8ToGbk("文件分享说明：请在输入上方的验证码后点击下载，");
  Text page = "<!DOCTYPE html>\n<html><head><meta charset=\"gbk\"><title>" + Utf8ToGbk("文件下载") +
              "</title>\n<style>\n";
  for (int i = 0; i < 400; ++i) {
    page += ".c" + std::to_string(i) + " { margin: " + std::to_string(i % 9) + "px; color: #3a" +
            std::to_string(i % 10) + "; }\n";
  }
  page +=
      "</style>\n</head><body>\n<div class=\"nav\"><form action=\"/search\">"
      "<input type=\"text\" name=\"q\" value=\"\" class=\"search\" /></form></div>\n";
  int line = 0;
  auto filler = [&](size_t until) {
    while (page.size() < until) {
      ++line;
      if (line % 40 == 0) {
        page += "<script type=\"text/javascript\">\nfunction f" + std::to_string(line) +
                "(a, b) { var s = \"\"; for (var i = 0; i < a.length; i++) { s += "
                "String.fromCharCode(a.charCodeAt(i) ^ b); } return s; }\n</script>\n";
      } else if (line % 7 == 0) {
        page += "<li class=\"comment\"><a href=\"/u/" + std::to_string(line) + "\">user" +
                std::to_string(line) + "</a><p>" + chinese + chinese + "</p></li>\n";
      } else {
        page += "<div class=\"c" + std::to_string(line % 400) + "\"><span>" + chinese +
                "</span><a href=\"/file/" + std::to_string(10000000 + line) + "\">" +
                Utf8ToGbk("相关文件") + std::to_string(line) + "</a></div>\n";
      }
    }
  };
  filler(kPageBytes / 2);
  page += FormLines();
  filler(kPageBytes);
  return page + "</body></html>\n";
}

// The old stand-in for a page: a field on every other line, about 9,800 of
// them. No service page looks like this; it shows the cost per field.
inline Text DenseFieldsPage() {
  Text page = "<html><head><title>" + Utf8ToGbk("文件下载") + "</title></head><body>\n";
  for (int i = 0; page.size() < kPageBytes; ++i) {
    page += "<div class=\"row\"><p>" + Utf8ToGbk("说明文字") + " lorem ipsum " + std::to_string(i) +
            "</p></div>\n<input type=\"hidden\" name=\"f" + std::to_string(i) + "\" value=\"v" +
            std::to_string(i) + "\" />\n";
  }
  return page + "</body></html>\n";
}

// One line of field openings that never close: the greedy start of the
// pattern backtracks over the whole line from every one of them.
inline Text HostileLine() {
  Text line;
  while (line.size() < kPageBytes) line += "<input name=\"";
  return line;
}

inline Text HostileLines() {
  Text page;
  while (page.size() < kPageBytes) {
    for (int i = 0; i < 150; ++i) page += "<input name=\"";
    page += "\n";
  }
  return page;
}

// Lines of openings that never close, each ending in a value that never
// closes either: every line can begin a match and none holds one, so a
// backtracking engine tries every opening against every name. Each line is
// within the budget of a line; together they spend the page's budget, so
// that the engine is handed as much work as the harvest allows. The form
// comes last.
inline Text BudgetSpendingPage() {
  Text page;
  while (page.size() < kPageBytes) {
    for (int j = 0; j < 30; ++j) page += "<input name=\"";
    page += "x\" value=\"\n";
  }
  return page + FormLines();
}

}  // namespace sorrel::bench

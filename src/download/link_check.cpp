#include "download/link_check.h"

#include <cstdio>

#include "download/file_name.h"
#include "http/http_call.h"
#include "http/proxy.h"

namespace sorrel {

namespace {

// Enough of an error page to recognise the service's expiry notice; a file
// is never read beyond its first byte.
constexpr std::size_t kPageBytes = 16 * 1024;

bool ContainsNoCase(std::string_view text, std::string_view sought) {
  if (sought.size() > text.size()) return false;
  for (std::size_t i = 0; i + sought.size() <= text.size(); ++i) {
    bool same = true;
    for (std::size_t k = 0; k < sought.size() && same; ++k) {
      char a = text[i + k];
      if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
      same = a == sought[k];
    }
    if (same) return true;
  }
  return false;
}

long long ParseCount(std::string_view digits) {
  if (digits.empty() || digits.size() > 18) return -1;
  long long n = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

LinkCheck CheckLink(HttpStack& stack, ThreadSystem& threads, std::string_view address,
                    std::string_view agent, std::uint32_t timeoutMs, std::string_view proxy) {
  HttpCall call;
  call.proxy = std::string(proxy);
  call.address = std::string(address);
  call.agent = std::string(agent);
  call.headers = "Range: bytes=0-0\r\n";
  call.storedCookies = true;
  call.followRedirects = true;
  call.timeoutMs = timeoutMs;
  call.maxBody = kPageBytes;
  call.bodyOfPagesOnly = true;
  const HttpCallResult answer = PerformHttpCall(stack, threads, std::move(call));
  LinkCheck check;
  check.httpStatus = answer.status;
  check.name = FileNameFromAddress(address);
  switch (answer.failure) {
    case HttpCallFailure::kBadAddress:
    case HttpCallFailure::kUnreachable:
      check.status = LinkStatus::kUnreachable;
      check.proxyProblem =
          ProxyFailureSentence(answer.proxyFailure, proxy, address, ProcessEnvironment());
      return check;
    case HttpCallFailure::kTimedOut:
      check.status = LinkStatus::kTimedOut;
      return check;
    case HttpCallFailure::kNone:
      break;
  }
  const std::string type = HeaderValue(answer.headers, "Content-Type");
  const bool page = ContainsNoCase(type, "text/html");
  if (answer.status == 403 || (page && (answer.body.find("已失效") != std::string::npos ||
                                        answer.body.find("已过期") != std::string::npos))) {
    check.status = LinkStatus::kExpired;
  } else if (answer.status == 404 || answer.status == 410) {
    check.status = LinkStatus::kGone;
  } else if (page) {
    check.status = LinkStatus::kHtml;
  } else if (answer.status == 200 || answer.status == 206) {
    check.status = LinkStatus::kOk;
  } else {
    check.status = LinkStatus::kUnreachable;
  }
  if (check.status != LinkStatus::kOk) return check;

  const std::string disposition =
      DispositionFileName(HeaderValue(answer.headers, "Content-Disposition"));
  if (!disposition.empty()) check.name = SafeFileName(disposition);
  const std::string range = HeaderValue(answer.headers, "Content-Range");
  const std::size_t slash = range.rfind('/');
  if (answer.status == 206 && slash != std::string::npos) {
    check.size = ParseCount(std::string_view(range).substr(slash + 1));
  } else if (answer.status == 200) {
    check.size = ParseCount(HeaderValue(answer.headers, "Content-Length"));
  }
  return check;
}

namespace {

// Each status's name in reports and its sentence for the user.
struct LinkStatusTexts {
  LinkStatus status;
  std::string_view name;
  const char* sentence;
};

constexpr LinkStatusTexts kLinkStatusTexts[] = {
    {LinkStatus::kOk, "ok", "下载地址有效。"},
    {LinkStatus::kExpired, "expired", "下载地址已过期，请重新获取。"},
    {LinkStatus::kGone, "gone", "文件已不存在。"},
    {LinkStatus::kHtml, "html", "下载地址返回的是网页，不是文件。"},
    {LinkStatus::kUnreachable, "unreachable", "下载地址无法访问。"},
    {LinkStatus::kTimedOut, "timeout", "下载地址没有及时应答。"},
};

const LinkStatusTexts* TextsOf(LinkStatus status) {
  for (const LinkStatusTexts& texts : kLinkStatusTexts) {
    if (texts.status == status) return &texts;
  }
  return nullptr;
}

}  // namespace

std::string_view LinkStatusName(LinkStatus status) {
  const LinkStatusTexts* texts = TextsOf(status);
  return texts != nullptr ? texts->name : "unreachable";
}

std::string LinkStatusSentence(LinkStatus status) {
  const LinkStatusTexts* texts = TextsOf(status);
  return texts != nullptr ? texts->sentence : std::string();
}

std::string HumanSize(long long bytes) {
  if (bytes < 0) return "未知";
  if (bytes < 1024) return std::to_string(bytes) + " 字节";
  const char* units[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024.0;
  int unit = 0;
  while (value >= 1024.0 && unit < 3) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

}  // namespace sorrel

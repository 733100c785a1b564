#include "http/url.h"

#include <climits>

#include "text/codepage.h"

namespace sorrel {

namespace {

// The part after user information ("user:password@"), RFC 3986 section
// 3.2.1, so a password never passes for a host or a port.
// "@" is also a GBK trail byte, hence the walk over characters. One pass:
// an address cut from a page can hold a megabyte of "@".
std::string_view WithoutUserInfo(std::string_view authority) {
  size_t after = 0;
  for (size_t at = 0; at < authority.size();) {
    if (authority[at] == '@') after = at + 1;
    at +=
        IsLeadByte(static_cast<unsigned char>(authority[at])) && at + 1 < authority.size() ? 2 : 1;
  }
  return authority.substr(after);
}

std::string_view BeforeFirst(std::string_view text, std::string_view sought) {
  const int at = Find(text, sought);
  return at > 0 ? text.substr(0, static_cast<size_t>(at - 1)) : text;
}

// The value of an ASCII or full-width (A3 B0 to A3 B9) decimal digit at
// `at`, with its width, or -1.
int DigitAt(std::string_view text, size_t at, size_t* width) {
  const auto c = static_cast<unsigned char>(text[at]);
  if (c >= '0' && c <= '9') {
    *width = 1;
    return c - '0';
  }
  if (c == 0xA3 && at + 1 < text.size()) {
    const auto d = static_cast<unsigned char>(text[at + 1]);
    if (d >= 0xB0 && d <= 0xB9) {
      *width = 2;
      return d - 0xB0;
    }
  }
  return -1;
}

// The leading decimal number of `text`, sign included, truncated toward
// zero (digits after a decimal point are ignored); 0 when there is none.
int LeadingNumber(std::string_view text) {
  static const Text kFullWidthPlus = GbkFromUtf8("＋");
  static const Text kFullWidthMinus = GbkFromUtf8("－");
  size_t at = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    at = 1;
  } else if (text.substr(0, 2) == kFullWidthPlus || text.substr(0, 2) == kFullWidthMinus) {
    negative = text.substr(0, 2) == kFullWidthMinus;
    at = 2;
  }
  long long value = 0;
  size_t width = 0;
  for (int digit; at < text.size() && (digit = DigitAt(text, at, &width)) >= 0; at += width) {
    value = value * 10 + digit;
    if (value > INT_MAX) value = INT_MAX;
  }
  return static_cast<int>(negative ? -value : value);
}

}  // namespace

Text UrlHost(std::string_view address) {
  // The schemes go wherever they stand, not only at the start.
  const Text bare = Replace(Replace(address, "https://", ""), "http://", "");
  std::string_view host = WithoutUserInfo(BeforeFirst(bare, "/"));
  host = BeforeFirst(host, ":");
  return ToLowerAscii(host);
}

Text UrlPath(std::string_view address) {
  const Text host = UrlHost(address);
  const int h = Find(address, host, 1, true);
  const int s = Find(address, "/", h);
  return s > 0 ? Text(address.substr(static_cast<size_t>(s - 1))) : Text("/");
}

int UrlPort(std::string_view address) {
  std::string_view authority;
  if (Find(Left(address, 7), "http://", 1, true) != 1) {
    authority = BeforeFirst(address, "/");
  } else {
    const int s = Find(address, "/", 8);
    authority = s > 0 ? address.substr(7, static_cast<size_t>(s - 8)) : address.substr(7);
  }
  authority = WithoutUserInfo(authority);
  const int colon = Find(authority, ":");
  if (colon < 0) return 80;
  return LeadingNumber(authority.substr(static_cast<size_t>(colon)));
}

}  // namespace sorrel

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
  static const Text kFullWidthPlus = Utf8ToGbk("＋");
  static const Text kFullWidthMinus = Utf8ToGbk("－");
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

bool IsSchemeCharacter(char c, bool first) {
  const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return letter || (!first && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
}

// The length of the scheme name before a "://" at the very start (RFC 3986
// section 3.1), 0 when the address does not begin with one.
size_t SchemeLength(std::string_view address) {
  size_t at = 0;
  while (at < address.size() && IsSchemeCharacter(address[at], at == 0)) ++at;
  return at > 0 && address.substr(at, 3) == "://" ? at : 0;
}

// The address after its "scheme://", or the whole address without one.
std::string_view AfterScheme(std::string_view address) {
  const size_t scheme = SchemeLength(address);
  return scheme > 0 ? address.substr(scheme + 3) : address;
}

}  // namespace

Text UrlScheme(std::string_view address) {
  return ToLowerAscii(address.substr(0, SchemeLength(address)));
}

bool UrlIsSecure(std::string_view address) { return UrlScheme(address) == "https"; }

Text WithScheme(std::string_view address) {
  return SchemeLength(address) > 0 ? Text(address) : "http://" + Text(address);
}

Text UrlHost(std::string_view address) {
  std::string_view host = WithoutUserInfo(BeforeFirst(AfterScheme(address), "/"));
  host = BeforeFirst(host, ":");
  return ToLowerAscii(host);
}

Text UrlPath(std::string_view address) {
  const std::string_view rest = AfterScheme(address);
  const Text host = UrlHost(address);
  // The host is sought after the scheme, so that a host such as "h" is not
  // found inside "http".
  const int h = host.empty() ? 1 : Find(rest, host, 1, true);
  const int s = Find(rest, "/", h);
  return s > 0 ? Text(rest.substr(static_cast<size_t>(s - 1))) : Text("/");
}

int UrlPort(std::string_view address) {
  const std::string_view authority = WithoutUserInfo(BeforeFirst(AfterScheme(address), "/"));
  const int colon = Find(authority, ":");
  const int port = colon < 0 ? 0 : LeadingNumber(authority.substr(static_cast<size_t>(colon)));
  if (UrlIsSecure(address)) return port == 0 ? 443 : port;
  return colon < 0 ? 80 : port;
}

}  // namespace sorrel

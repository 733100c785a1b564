// What both cookie stores need to tell whose domain a cookie may name.
#pragma once

#include <algorithm>
#include <string_view>

#include "text/ascii.h"

namespace sorrel {

// An IPv6 literal, or a name whose last label is a number, which URLs take
// for an IPv4 address.
inline bool IsIpAddress(std::string_view host) {
  if (host.find(':') != host.npos || (!host.empty() && host.front() == '[')) return true;
  std::string_view last = host.substr(host.rfind('.') == host.npos ? 0 : host.rfind('.') + 1);
  if (last.size() > 2 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X'))
    last.remove_prefix(2);
  const auto hex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  return !last.empty() && std::all_of(last.begin(), last.end(), hex) &&
         std::any_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The value of the Domain attribute in `data` (a Set-Cookie value after the
// name's "="), without leading dots; empty when there is none.
inline std::string_view CookieDomainAttribute(std::string_view data) {
  std::string_view domain;
  for (std::size_t semicolon = data.find(';'); semicolon != data.npos;) {
    const std::size_t next = data.find(';', semicolon + 1);
    const std::string_view attribute = TrimAscii(data.substr(semicolon + 1, next - semicolon - 1));
    semicolon = next;
    const std::size_t eq = attribute.find('=');
    if (eq != attribute.npos && EqualsIgnoreCase(TrimAscii(attribute.substr(0, eq)), "domain")) {
      domain = TrimAscii(attribute.substr(eq + 1));
    }
  }
  while (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  return domain;
}

}  // namespace sorrel

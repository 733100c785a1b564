// The road every request of the program takes: straight to the server, the
// proxy the system names, or a proxy the user gives. The setting travels as
// one text through the requests' `proxy` parameters, so that the page, the
// captcha picture, the login and the link check all take the same road.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "http/http_stack.h"

namespace sorrel {

// SOCKS4 is the only SOCKS the Windows stack has; SOCKS5 the Linux one's.
enum class ProxyKind { kDirect, kSystem, kHttp, kSocks5, kSocks4 };

struct ProxySetting {
  ProxyKind kind = ProxyKind::kDirect;
  std::string host = {};  // a name, an IPv4 address or a bracketed IPv6 one
  int port = 0;
  std::string user = {};  // HTTP only; empty: none
  std::string password = {};
  bool operator==(const ProxySetting&) const = default;
};

// The proxy text of the system's setting.
inline constexpr std::string_view kSystemProxyText = "system";

// "http://[user[:password]@]host:port" (user and password may carry percent
// escapes), "socks5h://host:port" or "socks4://host:port"; nothing for any
// other text.
std::optional<ProxySetting> ParseProxyUrl(std::string_view url);

// The text the requests carry: "" for a direct connection, "system", or the
// URL form with user and password escaped.
std::string ProxyText(const ProxySetting& setting);

// Reads one environment variable; null when it is not set.
using EnvironmentLookup = std::function<const char*(const char*)>;
EnvironmentLookup ProcessEnvironment();

// How one request goes out.
struct ProxyRoute {
  std::string url;  // "http://host:port", "socks4://host:port", ...; empty: direct
  std::string user;
  std::string password;
  bool Direct() const { return url.empty(); }
};

// The route of a request to `address` under the proxy text `proxyText`. A
// text without a scheme is the old "host:port" of an HTTP proxy for plain
// HTTP only. "system" takes http_proxy, https_proxy, all_proxy and no_proxy,
// in small or capital letters, from `environment`; a host that no_proxy
// names goes direct.
ProxyRoute RouteFor(std::string_view proxyText, std::string_view address,
                    const EnvironmentLookup& environment);

// The "host:port" of a route's proxy.
std::string ProxyAuthority(const ProxyRoute& route);

// True for the failures that are the proxy's rather than the server's.
bool IsProxyFailure(RequestFailure failure);

// True for the SOCKS kinds, which carry no user or password.
bool IsSocks(ProxyKind kind);

// The sentence for a proxy's failure on the way to `address`, UTF-8; empty
// for any other failure.
std::string ProxyFailureSentence(RequestFailure failure, std::string_view proxyText,
                                 std::string_view address, const EnvironmentLookup& environment);

}  // namespace sorrel

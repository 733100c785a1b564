#include "http/proxy.h"

#include <cstdlib>

namespace sorrel {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> Unescaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int h = HexValue(text[i + 1]);
    const int l = HexValue(text[i + 2]);
    if (h < 0 || l < 0) return std::nullopt;
    out += static_cast<char>(h * 16 + l);
    i += 2;
  }
  return out;
}

std::string Escaped(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool HostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

// "host:port" with a port from 1 to 65535.
bool SplitAuthority(std::string_view authority, std::string& host, int& port) {
  const std::size_t colon = authority.rfind(':');
  if (colon == authority.npos || colon == 0) return false;
  const std::string_view name = authority.substr(0, colon);
  const std::string_view digits = authority.substr(colon + 1);
  if (digits.empty() || digits.size() > 5) return false;
  int value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  if (name.front() == '[') {
    if (name.size() < 3 || name.back() != ']') return false;
    for (const char c : name.substr(1, name.size() - 2)) {
      if (HexValue(c) < 0 && c != ':' && c != '.') return false;
    }
  } else {
    for (const char c : name) {
      if (!HostCharacter(c)) return false;
    }
  }
  host = std::string(name);
  port = value;
  return true;
}

// Appends rather than "literal" + string, which GCC 12's -O3 misreads as an
// overlapping copy.
std::string Joined(std::string_view first, std::string_view second) {
  std::string text(first);
  text += second;
  return text;
}

std::string Authority(const ProxySetting& setting) {
  std::string authority = setting.host;
  authority += ':';
  authority += std::to_string(setting.port);
  return authority;
}

const char* Lookup(const EnvironmentLookup& environment, const char* small, const char* capital) {
  const char* value = environment(small);
  if (value == nullptr || *value == '\0') value = environment(capital);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// An environment's proxy value: "host:port" or a URL of any scheme the stack
// knows, with a user and password, and perhaps a closing "/".
ProxyRoute EnvironmentRoute(std::string_view value) {
  ProxyRoute route;
  std::string scheme = "http";
  if (const std::size_t mark = value.find("://"); mark != value.npos) {
    scheme = std::string(value.substr(0, mark));
    value.remove_prefix(mark + 3);
  }
  while (!value.empty() && value.back() == '/') value.remove_suffix(1);
  if (const std::size_t at = value.rfind('@'); at != value.npos) {
    const std::string_view credentials = value.substr(0, at);
    const std::size_t colon = credentials.find(':');
    route.user = Unescaped(credentials.substr(0, colon)).value_or("");
    if (colon != credentials.npos) {
      route.password = Unescaped(credentials.substr(colon + 1)).value_or("");
    }
    value.remove_prefix(at + 1);
  }
  route.url = scheme;
  route.url += "://";
  route.url += value;
  return route;
}

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The host of an http(s) address, lower-cased, without brackets or port.
std::string HostOf(std::string_view address) {
  if (const std::size_t mark = address.find("://"); mark != address.npos) {
    address.remove_prefix(mark + 3);
  }
  address = address.substr(0, address.find_first_of("/?#"));
  if (const std::size_t at = address.rfind('@'); at != address.npos) address.remove_prefix(at + 1);
  if (!address.empty() && address.front() == '[') {
    return Lowered(address.substr(1, address.find(']') - 1));
  }
  return Lowered(address.substr(0, address.find(':')));
}

// As the Unix commands read no_proxy: "*" is every host; otherwise a comma
// list of names, each the host itself or a domain above it.
bool BypassesProxy(std::string_view host, std::string_view list) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == list.npos) end = list.size();
    std::string_view entry = list.substr(start, end - start);
    while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t'))
      entry.remove_prefix(1);
    while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t')) entry.remove_suffix(1);
    if (entry == "*") return true;
    if (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
    if (!entry.empty() && entry.front() == '[' && entry.back() == ']') {
      entry = entry.substr(1, entry.size() - 2);
    }
    const std::string name = Lowered(entry);
    if (!name.empty() && (host == name || (host.size() > name.size() && host.ends_with(name) &&
                                           host[host.size() - name.size() - 1] == '.'))) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace

std::optional<ProxySetting> ParseProxyUrl(std::string_view url) {
  ProxySetting setting;
  if (StartsWithNoCase(url, "http://")) {
    setting.kind = ProxyKind::kHttp;
    url.remove_prefix(7);
  } else if (StartsWithNoCase(url, "socks5h://")) {
    setting.kind = ProxyKind::kSocks5;
    url.remove_prefix(10);
  } else if (StartsWithNoCase(url, "socks4://")) {
    setting.kind = ProxyKind::kSocks4;
    url.remove_prefix(9);
  } else {
    return std::nullopt;
  }
  if (!url.empty() && url.back() == '/') url.remove_suffix(1);
  if (const std::size_t at = url.rfind('@'); at != url.npos) {
    if (setting.kind != ProxyKind::kHttp) return std::nullopt;
    const std::string_view credentials = url.substr(0, at);
    const std::size_t colon = credentials.find(':');
    const auto user = Unescaped(credentials.substr(0, colon));
    const auto password = colon == credentials.npos ? std::optional<std::string>("")
                                                    : Unescaped(credentials.substr(colon + 1));
    if (!user || !password || user->empty()) return std::nullopt;
    setting.user = *user;
    setting.password = *password;
    url.remove_prefix(at + 1);
  }
  if (!SplitAuthority(url, setting.host, setting.port)) return std::nullopt;
  return setting;
}

std::string ProxyText(const ProxySetting& setting) {
  switch (setting.kind) {
    case ProxyKind::kDirect:
      return {};
    case ProxyKind::kSystem:
      return std::string(kSystemProxyText);
    case ProxyKind::kSocks5:
      return Joined("socks5h://", Authority(setting));
    case ProxyKind::kSocks4:
      return Joined("socks4://", Authority(setting));
    case ProxyKind::kHttp:
      break;
  }
  std::string text = "http://";
  if (!setting.user.empty()) {
    text += Escaped(setting.user);
    if (!setting.password.empty()) {
      text += ':';
      text += Escaped(setting.password);
    }
    text += "@";
  }
  return text + Authority(setting);
}

EnvironmentLookup ProcessEnvironment() {
  return [](const char* name) { return std::getenv(name); };
}

ProxyRoute RouteFor(std::string_view proxyText, std::string_view address,
                    const EnvironmentLookup& environment) {
  const bool secure = StartsWithNoCase(address, "https://");
  if (proxyText.empty()) return {};
  if (proxyText == kSystemProxyText) {
    const char* value = secure ? Lookup(environment, "https_proxy", "HTTPS_PROXY")
                               : Lookup(environment, "http_proxy", "HTTP_PROXY");
    if (value == nullptr) value = Lookup(environment, "all_proxy", "ALL_PROXY");
    if (value == nullptr) return {};
    const char* skip = Lookup(environment, "no_proxy", "NO_PROXY");
    if (skip != nullptr && BypassesProxy(HostOf(address), skip)) return {};
    return EnvironmentRoute(value);
  }
  if (const auto setting = ParseProxyUrl(proxyText)) {
    ProxyRoute route;
    ProxySetting bare = *setting;
    bare.user.clear();
    route.url = ProxyText(bare);
    route.user = setting->user;
    route.password = setting->password;
    return route;
  }
  if (secure) return {};
  ProxyRoute route;
  route.url = Joined("http://", proxyText);
  return route;
}

std::string ProxyAuthority(const ProxyRoute& route) {
  std::string_view rest = route.url;
  if (const std::size_t mark = rest.find("://"); mark != rest.npos) rest.remove_prefix(mark + 3);
  return std::string(rest.substr(0, rest.find('/')));
}

bool IsSocks(ProxyKind kind) { return kind == ProxyKind::kSocks5 || kind == ProxyKind::kSocks4; }

bool IsProxyFailure(RequestFailure failure) {
  return failure == RequestFailure::kProxyUnreachable || failure == RequestFailure::kProxyRefused ||
         failure == RequestFailure::kProxyNeedsPassword ||
         failure == RequestFailure::kProxyUnsupported;
}

std::string ProxyFailureSentence(RequestFailure failure, std::string_view proxyText,
                                 std::string_view address, const EnvironmentLookup& environment) {
  const ProxyRoute route = RouteFor(proxyText, address, environment);
  switch (failure) {
    case RequestFailure::kProxyUnreachable:
      return Joined(Joined("无法连接代理服务器 ", ProxyAuthority(route)), "。");
    case RequestFailure::kProxyRefused:
      return "代理服务器拒绝了连接。";
    case RequestFailure::kProxyNeedsPassword:
      return route.user.empty() ? "代理服务器要求用户名和密码（407）。"
                                : "代理服务器不接受所给的用户名和密码（407）。";
    case RequestFailure::kProxyUnsupported:
      if (const auto setting = ParseProxyUrl(proxyText);
          setting && setting->kind == ProxyKind::kSocks4) {
        return "代理服务器无法使用：这个系统的网络组件不支持 SOCKS4 代理，请改用 HTTP 代理。";
      }
      return "代理服务器无法使用：Windows 版不支持 SOCKS5 代理，请改用 HTTP 或 SOCKS4 代理。";
    default:
      return {};
  }
}

}  // namespace sorrel

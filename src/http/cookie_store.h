// The one cookie store of the process, shared by every transfer on every
// thread; its lasting cookies can be kept in a cookie file between runs.
//
// It keeps cookies as browsers do: a server sets them for its own host, or
// for a domain above it that is no public suffix; each registrable domain
// holds at most kCookiesPerDomain and the store kCookiesInAll, the least
// recently used going first, but never one that the exchange now ending
// set. Every operation takes time in proportion to the cookies it touches.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "http/cookie_file.h"
#include "http/cookie_jar.h"

namespace sorrel {

inline constexpr std::size_t kCookiesPerDomain = 180;
inline constexpr std::size_t kCookiesInAll = 3000;

// Where a cookie comes from: the host that answered, the path it was asked
// for (the default path is that path's folder) and the exchange, from
// BeginExchange, that the answer belongs to (0 for none).
struct CookieSource {
  std::string_view host;
  std::string_view path = "/";
  std::uint64_t exchange = 0;
};

class CookieStore {
 public:
  struct Cookie;

  CookieStore();
  ~CookieStore();
  CookieStore(const CookieStore&) = delete;
  CookieStore& operator=(const CookieStore&) = delete;

  // Stores a cookie as an answer from `source` sets it; `data` is the value
  // with its attributes, as after the "=" of a "Set-Cookie: " line. False
  // when the cookie is refused (a domain that is not the host's own, a
  // malformed name or value).
  bool Set(const CookieSource& source, std::string_view name, std::string_view data);
  // The same for the whole value of a Set-Cookie header line.
  bool SetFromHeader(const CookieSource& source, std::string_view value);

  // The "name=value; name=value" pairs a request to `url` carries: longer
  // paths first, then the older cookies first. They count as used now.
  std::string CookieHeader(std::string_view url);

  // Every stored cookie, one Netscape cookie-file line each.
  std::vector<std::string> List();
  void Clear();

  // A number for the cookies of one exchange; EndExchange then keeps the
  // store within its limits, never dropping a cookie set under that number
  // or another one still open, and writes the cookie file when the lasting
  // cookies changed (by this exchange or by Set outside any).
  std::uint64_t BeginExchange();
  void EndExchange(std::uint64_t exchange);

  // From now on keeps the lasting cookies in the file at `path`: reads it
  // into the store at once, and writes it at the end of each exchange that
  // changed them and when the process ends. `quiet` keeps the file's
  // warnings off standard error. Only the first call has an effect.
  void KeepLastingCookiesIn(const std::string& path, bool quiet = false);

 private:
  struct Domain;

  // Each needs mutex_.
  bool Put(Cookie cookie, std::uint64_t exchange);
  void Remove(const std::string& domain, const std::string& pathAndName);
  void Trim(std::uint64_t exchange);
  CookieSet Lasting(long long now) const;

  static void SaveAtExit();
  // Needs fileMutex_.
  void Save(bool onlyIfChanged);

  std::mutex mutex_;
  std::unordered_map<std::string, std::unique_ptr<Domain>> domains_;
  std::size_t count_ = 0;
  // The exchanges begun and not ended, with the cookies each has set.
  std::unordered_map<std::uint64_t, std::size_t> open_;
  // A cookie was set or removed since the last exchange ended.
  bool changed_ = false;
  // Orders creation and use; also numbers the exchanges.
  std::uint64_t clock_ = 0;

  std::once_flag fileOnce_;
  std::mutex fileMutex_;
  std::unique_ptr<CookieJar> jar_;
  // The lasting cookies as last read or written.
  CookieSet saved_;
};

// Created on first use and never destroyed, so that abandoned workers can
// still reach it while the process ends.
CookieStore& ProcessCookieStore();

}  // namespace sorrel

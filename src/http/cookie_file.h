// The Netscape cookie-file format, as libcurl reads and writes it: one
// cookie a line, seven fields separated by tabs (domain, whether subdomains
// match, path, secure, expiry in seconds since 1970 with 0 for a session
// cookie, name, value); "#HttpOnly_" before the domain marks an HttpOnly
// cookie, other lines starting with "#" and blank lines are comments. The
// program writes the least recently used cookies first.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorrel {

struct CookieRecord {
  std::string line;        // the cookie's line, without its line end
  long long expires;       // 0 for a session cookie
  std::uint64_t rank = 0;  // lower for less recent use; in a file, the line's place
};

// Cookies by what tells one from another: domain (ASCII lower case, without
// the HttpOnly mark and leading dots), path and name.
using CookieSet = std::map<std::string, CookieRecord>;

// The record and its key; nullopt when the line is not a cookie line.
std::optional<std::pair<std::string, CookieRecord>> ParseCookieLine(std::string_view line);

// Every cookie of a file's text; nullopt when any line is neither a cookie
// nor a comment, so that a torn or foreign file is never taken for an
// empty one.
std::optional<CookieSet> ParseCookieFile(std::string_view text);

// The file's text, the cookies in the order of their rank.
std::string FormatCookieFile(const CookieSet& cookies);

// The cookies of `lines` (cookie lines) that outlive the process: those
// with an expiry that is later than `now`.
CookieSet LastingCookies(const std::vector<std::string>& lines, long long now);

// What to write when this process last saw `base` on disk, now holds `ours`,
// and finds `theirs` there: every cookie this process set, changed or
// removed since `base` as it is here, every other as it is on disk. Expired
// cookies are dropped.
CookieSet MergeCookies(const CookieSet& base, const CookieSet& ours, const CookieSet& theirs,
                       long long now);

}  // namespace sorrel

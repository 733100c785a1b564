#include "http/cookie_file.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace sorrel {

namespace {

constexpr std::string_view kHttpOnlyMark = "#HttpOnly_";

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool IsBoolField(std::string_view field) { return field == "TRUE" || field == "FALSE"; }

bool IsComment(std::string_view line) {
  if (line.rfind(kHttpOnlyMark, 0) == 0) return false;
  if (!line.empty() && line.front() == '#') return true;
  return line.find_first_not_of(" \t") == line.npos;
}

bool SameRecord(const CookieRecord* a, const CookieRecord* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return a->line == b->line;
}

const CookieRecord* Find(const CookieSet& set, const std::string& key) {
  const auto it = set.find(key);
  return it == set.end() ? nullptr : &it->second;
}

}  // namespace

std::optional<std::pair<std::string, CookieRecord>> ParseCookieLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (std::count(line.begin(), line.end(), '\t') != 6) return std::nullopt;
  std::string_view fields[7];
  std::size_t start = 0;
  for (std::string_view& field : fields) {
    const std::size_t tab = std::min(line.find('\t', start), line.size());
    field = line.substr(start, tab - start);
    start = tab + 1;
  }
  std::string_view domain = fields[0];
  if (domain.rfind(kHttpOnlyMark, 0) == 0) domain.remove_prefix(kHttpOnlyMark.size());
  while (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  if (domain.empty() || domain.front() == '#') return std::nullopt;
  if (!IsBoolField(fields[1]) || !IsBoolField(fields[3]) || fields[2].empty()) return std::nullopt;
  if (line.find('\0') != line.npos) return std::nullopt;
  long long expires = 0;
  const std::string_view when = fields[4];
  const auto [end, error] = std::from_chars(when.data(), when.data() + when.size(), expires);
  if (when.empty() || error != std::errc() || end != when.data() + when.size() || expires < 0) {
    return std::nullopt;
  }
  std::string key = LowerAscii(domain);
  key += '\t';
  key += fields[2];
  key += '\t';
  key += fields[5];
  return std::pair{std::move(key), CookieRecord{std::string(line), expires, 0}};
}

std::optional<CookieSet> ParseCookieFile(std::string_view text) {
  CookieSet cookies;
  std::uint64_t place = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == text.npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (IsComment(line)) continue;
    auto cookie = ParseCookieLine(line);
    if (!cookie) return std::nullopt;
    cookie->second.rank = place++;
    cookies.insert_or_assign(std::move(cookie->first), std::move(cookie->second));
  }
  return cookies;
}

std::string FormatCookieFile(const CookieSet& cookies) {
  std::string text =
      "# Netscape HTTP Cookie File\n"
      "# The lasting cookies of sorrel-resolver.\n\n";
  std::vector<const CookieRecord*> ordered;
  ordered.reserve(cookies.size());
  for (const auto& entry : cookies) ordered.push_back(&entry.second);
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const CookieRecord* a, const CookieRecord* b) { return a->rank < b->rank; });
  for (const CookieRecord* cookie : ordered) text += cookie->line + "\n";
  return text;
}

CookieSet LastingCookies(const std::vector<std::string>& lines, long long now) {
  CookieSet cookies;
  for (const std::string& line : lines) {
    auto cookie = ParseCookieLine(line);
    if (cookie && cookie->second.expires > now) {
      cookies.insert_or_assign(std::move(cookie->first), std::move(cookie->second));
    }
  }
  return cookies;
}

CookieSet MergeCookies(const CookieSet& base, const CookieSet& ours, const CookieSet& theirs,
                       long long now) {
  std::set<std::string> keys;
  for (const CookieSet* set : {&base, &ours, &theirs}) {
    for (const auto& entry : *set) keys.insert(entry.first);
  }
  CookieSet merged;
  for (const std::string& key : keys) {
    const CookieRecord* mine = Find(ours, key);
    const CookieRecord* chosen = SameRecord(Find(base, key), mine) ? Find(theirs, key) : mine;
    if (chosen != nullptr && chosen->expires > now) merged.emplace(key, *chosen);
  }
  return merged;
}

}  // namespace sorrel

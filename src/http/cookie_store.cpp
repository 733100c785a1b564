#include "http/cookie_store.h"

#include <curl/curl.h>
#include <libpsl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <thread>

#include "http/cookie_domain.h"
#include "text/ascii.h"

namespace sorrel {

struct CookieStore::Cookie {
  std::string domain;  // ASCII lower case, without a leading dot
  std::string path;
  std::string name;
  std::string value;
  long long expires = 0;  // 0 for a session cookie
  bool hostOnly = true;
  bool secure = false;
  bool httpOnly = false;
  std::uint64_t created = 0;
  std::uint64_t used = 0;
  std::uint64_t exchange = 0;
};

struct CookieStore::Domain {
  // The registrable domain the limit per domain counts under.
  std::string group;
  // By path, a tab and name.
  std::unordered_map<std::string, Cookie> cookies;
};

namespace {

// How long the end of the process waits for a write still under way on an
// abandoned worker before it lets that write stand for itself.
constexpr auto kExitPatience = std::chrono::seconds(2);
// Browsers keep no cookie whose name and value together are longer.
constexpr std::size_t kMaxCookieBytes = 4096;

long long Now() { return static_cast<long long>(std::time(nullptr)); }

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

const psl_ctx_t* PublicSuffixes() {
  // The newer of libpsl's built-in list and the system's.
  static const psl_ctx_t* const list = [] {
    const psl_ctx_t* latest = psl_latest(nullptr);
    return latest != nullptr ? latest : psl_builtin();
  }();
  return list;
}

bool IsPublicSuffix(const std::string& domain) {
  const psl_ctx_t* list = PublicSuffixes();
  // Without a list, a name of one label is the only sure public suffix.
  return list != nullptr ? psl_is_public_suffix(list, domain.c_str()) != 0
                         : domain.find('.') == std::string::npos;
}

bool HasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\t') || u == 0x7F;
  });
}

std::string WithoutTabs(std::string_view text) {
  std::string out(text);
  std::replace(out.begin(), out.end(), '\t', ' ');
  return out;
}

std::string GroupOf(const std::string& domain) {
  if (IsIpAddress(domain)) return domain;
  const psl_ctx_t* list = PublicSuffixes();
  const char* registrable =
      list != nullptr ? psl_registrable_domain(list, domain.c_str()) : nullptr;
  return registrable != nullptr ? registrable : domain;
}

// The domain a cookie from `host` is kept for and whether it is host-only,
// by RFC 6265 5.3: a Domain attribute the host does not domain-match, or a
// public suffix other than the host itself, drops the cookie; the host's
// own name, an IP address's or a public suffix's, makes it host-only.
std::optional<std::pair<std::string, bool>> CookieDomain(const std::string& host,
                                                         std::string_view attribute) {
  while (!attribute.empty() && attribute.front() == '.') attribute.remove_prefix(1);
  if (attribute.empty()) return std::pair{host, true};
  const std::string domain = Lower(attribute);
  if (domain == host) {
    return std::pair{host, IsIpAddress(host) || IsPublicSuffix(domain)};
  }
  const bool below = host.size() > domain.size() &&
                     host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
                     host[host.size() - domain.size() - 1] == '.';
  if (!below || IsIpAddress(host) || IsPublicSuffix(domain)) return std::nullopt;
  return std::pair{domain, false};
}

// RFC 6265 5.1.4: the folder of the request's path.
std::string DefaultPath(std::string_view path) {
  path = path.substr(0, path.find_first_of("?#"));
  const std::size_t slash = path.rfind('/');
  if (path.empty() || path.front() != '/' || slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

bool PathMatches(std::string_view requestPath, std::string_view cookiePath) {
  return requestPath.rfind(cookiePath, 0) == 0 &&
         (requestPath.size() == cookiePath.size() || cookiePath.back() == '/' ||
          requestPath[cookiePath.size()] == '/');
}

struct Attributes {
  std::string value;
  std::string domain;
  std::string path;
  long long expires = 0;
  bool secure = false;
  bool httpOnly = false;
};

// Splits "value; attr=x; attr" into the value and the known attributes.
Attributes ParseAttributes(std::string_view data) {
  Attributes parts;
  std::size_t semicolon = data.find(';');
  parts.value = TrimAscii(data.substr(0, semicolon));
  long long maxAge = 0;
  bool haveMaxAge = false;
  while (semicolon != data.npos) {
    const std::size_t next = data.find(';', semicolon + 1);
    const std::string_view attribute = TrimAscii(data.substr(semicolon + 1, next - semicolon - 1));
    semicolon = next;
    const std::size_t eq = attribute.find('=');
    const std::string_view key = TrimAscii(attribute.substr(0, eq));
    const std::string value(eq == attribute.npos ? "" : TrimAscii(attribute.substr(eq + 1)));
    if (EqualsIgnoreCase(key, "domain")) {
      parts.domain = value;
    } else if (EqualsIgnoreCase(key, "path") && !value.empty() && value.front() == '/') {
      parts.path = value;
    } else if (EqualsIgnoreCase(key, "expires")) {
      const time_t when = curl_getdate(value.c_str(), nullptr);
      if (when != -1) parts.expires = when > 0 ? when : 1;
    } else if (EqualsIgnoreCase(key, "max-age")) {
      char* end = nullptr;
      maxAge = std::strtoll(value.c_str(), &end, 10);
      haveMaxAge = end != value.c_str();
    } else if (EqualsIgnoreCase(key, "secure")) {
      parts.secure = true;
    } else if (EqualsIgnoreCase(key, "httponly")) {
      parts.httpOnly = true;
    }
  }
  // RFC 6265 5.2.2: Max-Age wins over Expires; zero or less expires at once,
  // and a delta beyond the latest representable time stops there.
  if (haveMaxAge) {
    const long long now = Now();
    constexpr long long kLatest = std::numeric_limits<long long>::max();
    parts.expires = maxAge <= 0 ? 1 : maxAge > kLatest - now ? kLatest : now + maxAge;
  }
  return parts;
}

struct UrlParts {
  bool secure = false;
  std::string host;
  std::string_view path;
};

UrlParts SplitUrl(std::string_view url) {
  UrlParts parts;
  parts.secure = url.size() >= 8 && EqualsIgnoreCase(url.substr(0, 8), "https://");
  const std::size_t scheme = url.find("://");
  std::string_view rest = url.substr(scheme == url.npos ? 0 : scheme + 3);
  const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  const std::size_t at = authority.rfind('@');
  std::string_view host = authority.substr(at == authority.npos ? 0 : at + 1);
  host = !host.empty() && host.front() == '[' ? host.substr(0, host.find(']') + 1)
                                              : host.substr(0, host.find(':'));
  parts.host = Lower(host);
  parts.path = rest.substr(authority.size());
  parts.path = parts.path.substr(0, parts.path.find_first_of("?#"));
  if (parts.path.empty()) parts.path = "/";
  return parts;
}

std::string KeyOf(std::string_view path, std::string_view name) {
  std::string key(path);
  key += '\t';
  key += name;
  return key;
}

std::string LineOf(const CookieStore::Cookie& cookie) {
  std::string line = cookie.httpOnly ? "#HttpOnly_" : "";
  if (!cookie.hostOnly) line += '.';
  line += cookie.domain;
  line += cookie.hostOnly ? "\tFALSE\t" : "\tTRUE\t";
  line += cookie.path;
  line += cookie.secure ? "\tTRUE\t" : "\tFALSE\t";
  line += std::to_string(cookie.expires) + "\t" + cookie.name + "\t" + cookie.value;
  return line;
}

// A cookie-file line as the store keeps it; nullopt for a line that is no
// cookie, or one for a domain no server may set.
std::optional<CookieStore::Cookie> CookieOfLine(std::string_view line) {
  const auto parsed = ParseCookieLine(line);
  if (!parsed) return std::nullopt;
  std::string_view fields[7];
  std::size_t start = 0;
  for (std::string_view& field : fields) {
    const std::size_t tab = std::min(line.find('\t', start), line.size());
    field = line.substr(start, tab - start);
    start = tab + 1;
  }
  CookieStore::Cookie cookie;
  cookie.httpOnly = fields[0].rfind("#HttpOnly_", 0) == 0;
  if (cookie.httpOnly) fields[0].remove_prefix(10);
  while (!fields[0].empty() && fields[0].front() == '.') fields[0].remove_prefix(1);
  cookie.domain = Lower(fields[0]);
  cookie.hostOnly = fields[1] != "TRUE" || IsIpAddress(cookie.domain);
  if (!cookie.hostOnly && IsPublicSuffix(cookie.domain)) return std::nullopt;
  cookie.path = fields[2];
  cookie.secure = fields[3] == "TRUE";
  cookie.expires = parsed->second.expires;
  cookie.name = fields[5];
  cookie.value = fields[6];
  if (cookie.name.empty() || HasControl(cookie.name) || HasControl(cookie.value) ||
      HasControl(cookie.domain) || cookie.path.front() != '/') {
    return std::nullopt;
  }
  return cookie;
}

}  // namespace

CookieStore::CookieStore() = default;
CookieStore::~CookieStore() = default;

bool CookieStore::Set(const CookieSource& source, std::string_view name, std::string_view data) {
  const std::string host = Lower(source.host);
  if (host.empty() || HasControl(host) || host.find_first_of(" \t/") != host.npos) return false;
  name = TrimAscii(name);
  Attributes parts = ParseAttributes(data);
  if (name.empty() || HasControl(name) || HasControl(parts.value) ||
      name.size() + parts.value.size() > kMaxCookieBytes || HasControl(parts.path)) {
    return false;
  }
  const auto domain = CookieDomain(host, parts.domain);
  if (!domain) return false;
  Cookie cookie;
  cookie.domain = domain->first;
  cookie.hostOnly = domain->second;
  cookie.path = parts.path.empty() ? DefaultPath(source.path) : WithoutTabs(parts.path);
  cookie.name = WithoutTabs(name);
  cookie.value = WithoutTabs(parts.value);
  cookie.expires = parts.expires;
  cookie.secure = parts.secure;
  cookie.httpOnly = parts.httpOnly;
  std::lock_guard hold(mutex_);
  if (cookie.expires != 0 && cookie.expires <= Now()) {
    Remove(cookie.domain, KeyOf(cookie.path, cookie.name));
    return true;
  }
  return Put(std::move(cookie), source.exchange);
}

bool CookieStore::SetFromHeader(const CookieSource& source, std::string_view value) {
  const std::size_t eq = value.find('=');
  const std::size_t semicolon = value.find(';');
  if (eq == value.npos || eq > semicolon) return false;
  return Set(source, value.substr(0, eq), value.substr(eq + 1));
}

bool CookieStore::Put(Cookie cookie, std::uint64_t exchange) {
  std::unique_ptr<Domain>& domain = domains_[cookie.domain];
  if (domain == nullptr) {
    domain = std::make_unique<Domain>();
    domain->group = GroupOf(cookie.domain);
  }
  const auto open = open_.find(exchange);
  auto [slot, fresh] = domain->cookies.try_emplace(KeyOf(cookie.path, cookie.name));
  if (fresh) {
    // One answer alone may not fill more than the whole store.
    if (open != open_.end() && open->second >= kCookiesInAll) {
      domain->cookies.erase(slot);
      if (domain->cookies.empty()) domains_.erase(cookie.domain);
      return false;
    }
    ++count_;
    cookie.created = ++clock_;
  } else {
    cookie.created = slot->second.created;
  }
  cookie.used = ++clock_;
  cookie.exchange = exchange;
  changed_ = true;
  if (open != open_.end()) ++open->second;
  slot->second = std::move(cookie);
  return true;
}

void CookieStore::Remove(const std::string& domain, const std::string& pathAndName) {
  const auto found = domains_.find(domain);
  if (found == domains_.end()) return;
  const std::size_t erased = found->second->cookies.erase(pathAndName);
  count_ -= erased;
  changed_ = changed_ || erased != 0;
  if (found->second->cookies.empty()) domains_.erase(found);
}

std::string CookieStore::CookieHeader(std::string_view url) {
  const UrlParts request = SplitUrl(url);
  if (request.host.empty()) return {};
  const long long now = Now();
  std::vector<Cookie*> chosen;
  std::lock_guard hold(mutex_);
  // The host's own cookies, then those of each domain above it.
  const bool ip = IsIpAddress(request.host);
  for (std::size_t start = 0; start != std::string::npos;) {
    const std::string_view domain = std::string_view(request.host).substr(start);
    const auto found = domains_.find(std::string(domain));
    if (found != domains_.end()) {
      for (auto& [key, cookie] : found->second->cookies) {
        if ((start != 0 && cookie.hostOnly) || !PathMatches(request.path, cookie.path) ||
            (cookie.secure && !request.secure) || (cookie.expires != 0 && cookie.expires <= now)) {
          continue;
        }
        chosen.push_back(&cookie);
      }
    }
    const std::size_t dot = ip ? std::string::npos : request.host.find('.', start);
    start = dot == std::string::npos ? dot : dot + 1;
  }
  // RFC 6265 5.4: longer paths first, then earlier creation.
  std::sort(chosen.begin(), chosen.end(), [](const Cookie* a, const Cookie* b) {
    return a->path.size() != b->path.size() ? a->path.size() > b->path.size()
                                            : a->created < b->created;
  });
  std::string line;
  const std::uint64_t usedNow = ++clock_;
  for (Cookie* cookie : chosen) {
    if (!line.empty()) line += "; ";
    line += cookie->name + "=" + cookie->value;
    cookie->used = usedNow;
  }
  return line;
}

std::vector<std::string> CookieStore::List() {
  std::vector<std::string> lines;
  std::lock_guard hold(mutex_);
  lines.reserve(count_);
  for (const auto& [name, domain] : domains_) {
    for (const auto& [key, cookie] : domain->cookies) lines.push_back(LineOf(cookie));
  }
  return lines;
}

void CookieStore::Clear() {
  std::lock_guard hold(mutex_);
  domains_.clear();
  count_ = 0;
}

std::uint64_t CookieStore::BeginExchange() {
  std::lock_guard hold(mutex_);
  const std::uint64_t exchange = ++clock_;
  open_.emplace(exchange, 0);
  return exchange;
}

void CookieStore::EndExchange(std::uint64_t exchange) {
  {
    std::lock_guard hold(mutex_);
    const auto open = open_.find(exchange);
    if (open == open_.end()) return;
    if (open->second > 0) Trim(exchange);
    open_.erase(open);
    // Cookies set outside any exchange are written with the next one.
    if (!changed_) return;
    changed_ = false;
  }
  std::lock_guard hold(fileMutex_);
  Save(true);
}

void CookieStore::Trim(std::uint64_t exchange) {
  using Slot = std::unordered_map<std::string, Cookie>::iterator;
  struct Entry {
    Domain* domain;
    Slot slot;
  };
  const long long now = Now();
  std::vector<Entry> gone;
  // What may go, and how many stay in each registrable domain.
  std::unordered_map<std::string_view, std::vector<Entry>> groups;
  std::unordered_map<std::string_view, std::size_t> sizes;
  for (auto& [name, domain] : domains_) {
    for (auto slot = domain->cookies.begin(); slot != domain->cookies.end(); ++slot) {
      const Cookie& cookie = slot->second;
      if (cookie.expires != 0 && cookie.expires <= now) {
        gone.push_back({domain.get(), slot});
        continue;
      }
      ++sizes[domain->group];
      const bool kept = cookie.exchange != 0 &&
                        (cookie.exchange == exchange || open_.count(cookie.exchange) != 0);
      if (!kept) groups[domain->group].push_back({domain.get(), slot});
    }
  }
  auto older = [](const Entry& a, const Entry& b) {
    const Cookie& x = a.slot->second;
    const Cookie& y = b.slot->second;
    return x.used != y.used ? x.used < y.used : x.created < y.created;
  };
  // The `n` least recently used of `entries` go.
  auto evict = [&](std::vector<Entry>& entries, std::size_t n) {
    n = std::min(n, entries.size());
    const auto cut = entries.begin() + static_cast<std::ptrdiff_t>(n);
    std::nth_element(entries.begin(), cut, entries.end(), older);
    gone.insert(gone.end(), entries.begin(), cut);
    entries.erase(entries.begin(), cut);
  };
  // Each registrable domain's share first, then the whole store's.
  std::vector<Entry> evictable;
  for (auto& [group, entries] : groups) {
    const std::size_t size = sizes[group];
    if (size > kCookiesPerDomain) evict(entries, size - kCookiesPerDomain);
    evictable.insert(evictable.end(), entries.begin(), entries.end());
  }
  const std::size_t total = count_ - gone.size();
  if (total > kCookiesInAll) evict(evictable, total - kCookiesInAll);
  for (const Entry& entry : gone) entry.domain->cookies.erase(entry.slot);
  count_ -= gone.size();
  changed_ = changed_ || !gone.empty();
  std::erase_if(domains_, [](const auto& entry) { return entry.second->cookies.empty(); });
}

CookieSet CookieStore::Lasting(long long now) const {
  CookieSet lasting;
  for (const auto& [name, domain] : domains_) {
    for (const auto& [key, cookie] : domain->cookies) {
      if (cookie.expires <= now) continue;
      lasting.emplace(name + "\t" + key, CookieRecord{LineOf(cookie), cookie.expires, cookie.used});
    }
  }
  return lasting;
}

CookieStore& ProcessCookieStore() {
  static CookieStore* store = [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    return new CookieStore();
  }();
  return *store;
}

void CookieStore::KeepLastingCookiesIn(const std::string& path, bool quiet) {
  std::call_once(fileOnce_, [&] {
    std::lock_guard hold(fileMutex_);
    jar_ = std::make_unique<CookieJar>(path, quiet);
    const CookieSet read = jar_->Load();
    // In file order, which is the order of their last use.
    std::vector<std::pair<const std::string*, const CookieRecord*>> byRank;
    byRank.reserve(read.size());
    for (const auto& [key, record] : read) byRank.emplace_back(&key, &record);
    std::sort(byRank.begin(), byRank.end(),
              [](const auto& a, const auto& b) { return a.second->rank < b.second->rank; });
    const long long now = Now();
    std::lock_guard store(mutex_);
    for (const auto& [key, record] : byRank) {
      std::optional<Cookie> cookie = CookieOfLine(record->line);
      // As the store writes them, so that only a real change differs; what
      // the store refuses or trims leaves the file at the next write.
      saved_.emplace_hint(
          saved_.end(), *key,
          CookieRecord{cookie ? LineOf(*cookie) : record->line, record->expires, record->rank});
      if (cookie && record->expires > now) Put(std::move(*cookie), 0);
    }
    Trim(0);
    if (this == &ProcessCookieStore()) std::atexit(&CookieStore::SaveAtExit);
  });
}

void CookieStore::SaveAtExit() {
  CookieStore& store = ProcessCookieStore();
  const auto deadline = std::chrono::steady_clock::now() + kExitPatience;
  while (!store.fileMutex_.try_lock()) {
    if (std::chrono::steady_clock::now() > deadline) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::lock_guard hold(store.fileMutex_, std::adopt_lock);
  {
    // No exchange is ending: the store keeps within its limits for the file.
    std::lock_guard trim(store.mutex_);
    store.Trim(0);
  }
  store.Save(false);
}

void CookieStore::Save(bool onlyIfChanged) {
  if (jar_ == nullptr) return;
  const long long now = Now();
  CookieSet ours;
  {
    std::lock_guard hold(mutex_);
    ours = Lasting(now);
  }
  const bool same = ours.size() == saved_.size() &&
                    std::equal(ours.begin(), ours.end(), saved_.begin(), [](auto& a, auto& b) {
                      return a.first == b.first && a.second.line == b.second.line;
                    });
  if (onlyIfChanged ? same : ours.empty() && saved_.empty()) return;
  const std::optional<CookieSet> written = jar_->Update(
      [&](const CookieSet& onDisk) { return MergeCookies(saved_, ours, onDisk, now); });
  if (!written) return;
  // Take in what other copies of the program set or removed meanwhile.
  std::lock_guard hold(mutex_);
  for (const auto& [key, record] : *written) {
    const auto mine = ours.find(key);
    if (mine != ours.end() && mine->second.line == record.line) continue;
    if (std::optional<Cookie> cookie = CookieOfLine(record.line)) Put(std::move(*cookie), 0);
  }
  for (const auto& [key, record] : ours) {
    if (written->count(key) != 0) continue;
    const std::size_t tab = key.find('\t');
    Remove(key.substr(0, tab), key.substr(tab + 1));
  }
  saved_ = *written;
}

}  // namespace sorrel

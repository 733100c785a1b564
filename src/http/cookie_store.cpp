#include "http/cookie_store.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <thread>

#include "http/ascii.h"

namespace sorrel {

namespace {

// How long the end of the process waits for a write still under way on an
// abandoned worker before it lets that write stand for itself.
constexpr auto kExitPatience = std::chrono::seconds(2);

long long Now() { return static_cast<long long>(std::time(nullptr)); }

bool SameCookies(const CookieSet& a, const CookieSet& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
           return x.first == y.first && x.second.line == y.second.line;
         });
}

// The cookie's line with an expiry long past, which makes the store drop
// the cookie it names.
std::string ExpiredLine(const std::string& line) {
  std::size_t start = 0;
  for (int field = 0; field < 4; ++field) start = line.find('\t', start) + 1;
  return line.substr(0, start) + "1" + line.substr(line.find('\t', start));
}

// Splits "value; attr=x; attr" into the value and lower-cased attributes.
struct CookieParts {
  std::string value;
  std::string domain;
  std::string path = "/";
  long long expires = 0;
  bool secure = false;
  bool httpOnly = false;
};

CookieParts ParseCookieData(std::string_view data) {
  CookieParts parts;
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
      parts.domain = value.substr(
          value.find_first_not_of('.') == value.npos ? value.size() : value.find_first_not_of('.'));
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
    const auto now = static_cast<long long>(std::time(nullptr));
    constexpr long long kLatest = std::numeric_limits<long long>::max();
    parts.expires = maxAge <= 0 ? 1 : maxAge > kLatest - now ? kLatest : now + maxAge;
  }
  return parts;
}

std::string WithoutTabs(std::string_view text) {
  std::string out(text);
  std::replace(out.begin(), out.end(), '\t', ' ');
  return out;
}

}  // namespace

CurlCookieStore::CurlCookieStore() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  share_ = curl_share_init();
  curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &CurlCookieStore::Lock);
  curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &CurlCookieStore::Unlock);
  curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  handle_ = curl_easy_init();
  if (handle_ != nullptr) curl_easy_setopt(handle_, CURLOPT_SHARE, share_);
}

void CurlCookieStore::Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
  static_cast<CurlCookieStore*>(self)->locks_[data].lock();
}

void CurlCookieStore::Unlock(CURL*, curl_lock_data data, void* self) {
  static_cast<CurlCookieStore*>(self)->locks_[data].unlock();
}

bool CurlCookieStore::Set(std::string_view host, std::string_view name, std::string_view data) {
  if (host.empty()) return false;
  // In the cookie-file form, so that a cookie without a domain attribute
  // stays host-only, exactly as the one the response itself would store.
  const CookieParts parts = ParseCookieData(data);
  const bool anyHost = !parts.domain.empty();
  std::string line = parts.httpOnly ? "#HttpOnly_" : "";
  line += WithoutTabs(anyHost ? parts.domain : host);
  line += anyHost ? "\tTRUE\t" : "\tFALSE\t";
  line += WithoutTabs(parts.path) + (parts.secure ? "\tTRUE\t" : "\tFALSE\t");
  line +=
      std::to_string(parts.expires) + "\t" + WithoutTabs(name) + "\t" + WithoutTabs(parts.value);

  return AddLine(line);
}

bool CurlCookieStore::AddLine(const std::string& line) {
  std::lock_guard hold(handleMutex_);
  return handle_ != nullptr &&
         curl_easy_setopt(handle_, CURLOPT_COOKIELIST, line.c_str()) == CURLE_OK;
}

std::vector<std::string> CurlCookieStore::List() {
  std::vector<std::string> lines;
  curl_slist* list = nullptr;
  {
    std::lock_guard hold(handleMutex_);
    if (handle_ == nullptr || curl_easy_getinfo(handle_, CURLINFO_COOKIELIST, &list) != CURLE_OK)
      return lines;
  }
  for (curl_slist* item = list; item != nullptr; item = item->next) lines.emplace_back(item->data);
  curl_slist_free_all(list);
  return lines;
}

void CurlCookieStore::Clear() {
  std::lock_guard hold(handleMutex_);
  if (handle_ != nullptr) curl_easy_setopt(handle_, CURLOPT_COOKIELIST, "ALL");
}

CurlCookieStore& ProcessCookieStore() {
  static CurlCookieStore* store = new CurlCookieStore();
  return *store;
}

void CurlCookieStore::KeepLastingCookiesIn(const std::string& path) {
  std::call_once(fileOnce_, [&] {
    std::lock_guard<std::mutex> hold(fileMutex_);
    jar_ = std::make_unique<CookieJar>(path);
    for (const auto& [key, cookie] : jar_->Load()) {
      if (cookie.expires > Now()) AddLine(cookie.line);
    }
    // As the store writes them back, so that only a real change differs.
    saved_ = LastingCookies(List(), Now());
    std::atexit(&CurlCookieStore::SaveAtExit);
  });
}

void CurlCookieStore::SaveIfChanged() {
  std::lock_guard<std::mutex> hold(fileMutex_);
  Save(true);
}

void CurlCookieStore::SaveAtExit() {
  CurlCookieStore& store = ProcessCookieStore();
  const auto deadline = std::chrono::steady_clock::now() + kExitPatience;
  while (!store.fileMutex_.try_lock()) {
    if (std::chrono::steady_clock::now() > deadline) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::lock_guard<std::mutex> hold(store.fileMutex_, std::adopt_lock);
  store.Save(false);
}

void CurlCookieStore::Save(bool onlyIfChanged) {
  if (jar_ == nullptr) return;
  const long long now = Now();
  const CookieSet ours = LastingCookies(List(), now);
  if (onlyIfChanged ? SameCookies(ours, saved_) : ours.empty() && saved_.empty()) return;
  const std::optional<CookieSet> written = jar_->Update(
      [&](const CookieSet& onDisk) { return MergeCookies(saved_, ours, onDisk, now); });
  if (!written) return;
  // Take in what other copies of the program set or removed meanwhile.
  for (const auto& [key, cookie] : *written) {
    const auto mine = ours.find(key);
    if (mine == ours.end() || mine->second.line != cookie.line) AddLine(cookie.line);
  }
  for (const auto& [key, cookie] : ours) {
    if (written->count(key) == 0) AddLine(ExpiredLine(cookie.line));
  }
  saved_ = *written;
}

}  // namespace sorrel

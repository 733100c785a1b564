// A libcurl client for the demo service's tests: one easy handle whose
// cookie engine plays the part of the tool's cookie store.
#pragma once

#include <curl/curl.h>
#include <strings.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace sorrel::test {

struct HttpResult {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string headers;  // every header block received, as sent
  std::string body;
  int writes = 0;  // body write callbacks
  std::string location;
  std::chrono::milliseconds elapsed{0};

  bool Has(const std::string& text) const { return body.find(text) != std::string::npos; }
  // The value of the last header line of that name (ASCII case ignored), or empty.
  std::string Header(const std::string& name) const {
    std::string found;
    size_t at = 0;
    while (at < headers.size()) {
      size_t end = headers.find("\r\n", at);
      if (end == std::string::npos) end = headers.size();
      const std::string line = headers.substr(at, end - at);
      if (line.size() > name.size() && line[name.size()] == ':' &&
          strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
        found = line.substr(name.size() + 1);
        if (!found.empty() && found[0] == ' ') found.erase(0, 1);
      }
      at = end + 2;
    }
    return found;
  }
};

struct RequestOptions {
  long timeoutMs = 5000;
  bool follow = false;
  std::vector<std::string> headers;

  static RequestOptions Timeout(long ms) {
    RequestOptions o;
    o.timeoutMs = ms;
    return o;
  }
  static RequestOptions Follow() {
    RequestOptions o;
    o.follow = true;
    return o;
  }
  static RequestOptions Headers(std::vector<std::string> lines) {
    RequestOptions o;
    o.headers = std::move(lines);
    return o;
  }
};

class CurlSession {
 public:
  CurlSession() : curl_(curl_easy_init()) {
    curl_easy_setopt(curl_, CURLOPT_COOKIEFILE, "");  // cookie engine on, nothing loaded
  }
  ~CurlSession() { curl_easy_cleanup(curl_); }
  CurlSession(const CurlSession&) = delete;
  CurlSession& operator=(const CurlSession&) = delete;

  HttpResult Get(const std::string& url, const RequestOptions& options = {}) {
    curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    return Perform(url, options);
  }

  HttpResult Post(const std::string& url, const std::string& body,
                  const RequestOptions& options = {}) {
    curl_easy_setopt(curl_, CURLOPT_POST, 1L);
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(curl_, CURLOPT_COPYPOSTFIELDS, body.c_str());
    return Perform(url, options);
  }

  // The value of a cookie in the jar, or empty.
  std::string Cookie(const std::string& name) {
    curl_slist* list = nullptr;
    curl_easy_getinfo(curl_, CURLINFO_COOKIELIST, &list);
    std::string value;
    for (curl_slist* c = list; c; c = c->next) {
      // Netscape format: domain, flag, path, secure, expiry, name, value.
      std::string line = c->data;
      std::vector<std::string> fields;
      size_t at = 0;
      for (size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1) {
        fields.push_back(line.substr(at, tab - at));
      }
      fields.push_back(line.substr(at));
      if (fields.size() == 7 && fields[5] == name) value = fields[6];
    }
    curl_slist_free_all(list);
    return value;
  }

 private:
  static size_t Collect(char* data, size_t size, size_t n, void* user) {
    auto* result = static_cast<HttpResult*>(user);
    result->body.append(data, size * n);
    ++result->writes;
    return size * n;
  }
  static size_t CollectHeader(char* data, size_t size, size_t n, void* user) {
    static_cast<HttpResult*>(user)->headers.append(data, size * n);
    return size * n;
  }

  HttpResult Perform(const std::string& url, const RequestOptions& options) {
    HttpResult result;
    curl_slist* headers = nullptr;
    for (const std::string& h : options.headers) headers = curl_slist_append(headers, h.c_str());
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, options.timeoutMs);
    curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, options.follow ? 1L : 0L);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &CurlSession::Collect);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &result);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &CurlSession::CollectHeader);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &result);
    const auto start = std::chrono::steady_clock::now();
    result.code = curl_easy_perform(curl_);
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &result.status);
    char* location = nullptr;
    curl_easy_getinfo(curl_, CURLINFO_REDIRECT_URL, &location);
    if (location) result.location = location;
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    return result;
  }

  CURL* curl_;
};

}  // namespace sorrel::test

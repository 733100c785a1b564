// The HTTP stack over libcurl, for the Linux build.
#pragma once

#include <curl/curl.h>

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "http/http_stack.h"

namespace sorrel {

struct CurlStackOptions {
  long connectTimeoutSeconds = 60;
  // A transfer that receives less than one byte a second for this long ends
  // as a failed read.
  long stallSeconds = 60;
  // A file of trusted certificates in place of the system's; empty for the
  // system's store.
  std::string caFile;
};

// The one cookie store of the process, shared by every transfer on every
// thread. Transfers use it unless their request carries its own cookies.
class CurlCookieStore {
 public:
  CurlCookieStore();
  CurlCookieStore(const CurlCookieStore&) = delete;
  CurlCookieStore& operator=(const CurlCookieStore&) = delete;

  // Stores a cookie as a response from `host` would set it; `data` is the
  // value with its attributes, as after the "=" of a "Set-Cookie: " line.
  bool Set(std::string_view host, std::string_view name, std::string_view data);
  // Every stored cookie, one Netscape cookie-file line each.
  std::vector<std::string> List();
  void Clear();

  CURLSH* share() const { return share_; }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
  static void Unlock(CURL*, curl_lock_data data, void* self);

  CURLSH* share_ = nullptr;
  std::mutex locks_[CURL_LOCK_DATA_LAST];
};

// Created on first use and never destroyed, so that abandoned workers can
// still reach it while the process ends.
CurlCookieStore& ProcessCookieStore();

class CurlHttpStack : public HttpStack {
 public:
  explicit CurlHttpStack(CurlStackOptions options = {});

  std::unique_ptr<HttpSession> Open(std::string_view agent, std::string_view proxy,
                                    EventPump* waitPump) override;
  bool SetCookie(std::string_view url, std::string_view name, std::string_view data) override;

 private:
  CurlStackOptions options_;
};

}  // namespace sorrel

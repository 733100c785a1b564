// The HTTP stack over libcurl, for the Linux build.
#pragma once

#include <string>
#include <string_view>

#include "http/cookie_store.h"
#include "http/http_stack.h"

namespace sorrel {

struct CurlStackOptions {
  long connectTimeoutSeconds = kSilenceLimitMs / 1000;
  // A transfer that receives less than one byte a second for this long ends
  // as a failed read, timed out.
  long stallSeconds = kSilenceLimitMs / 1000;
  // A file of trusted certificates in place of the system's; empty for the
  // system's store.
  std::string caFile;
  // The file that keeps lasting cookies between runs; empty to keep every
  // cookie in memory only. The first stack to open a session decides for
  // the process.
  std::string cookieFile;
  // Keeps the cookie file's warnings off standard error.
  bool quiet = false;
};

class CurlHttpStack : public HttpStack {
 public:
  explicit CurlHttpStack(CurlStackOptions options = {});

  std::unique_ptr<HttpSession> Open(std::string_view agent, std::string_view proxy,
                                    EventPump* waitPump) override;
  bool SetCookie(std::string_view url, std::string_view name, std::string_view data) override;
  std::string CookieLine(std::string_view url) override;
  bool LimitsTime() override { return true; }

 private:
  CookieStore& Store();

  CurlStackOptions options_;
};

}  // namespace sorrel

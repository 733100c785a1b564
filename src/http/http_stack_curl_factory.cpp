// The entry point of the HTTP module (libsorrel-http-curl.so).
#include "http/cookie_jar.h"
#include "http/http_stack_curl.h"
#include "http/http_stack_curl_module.h"

extern "C" __attribute__((visibility("default"))) sorrel::HttpStack* SorrelCreateCurlHttpStack(
    int quiet) {
  // The program keeps the user's lasting cookies between runs.
  sorrel::CurlStackOptions options;
  options.cookieFile = sorrel::DefaultCookieFilePath();
  options.quiet = quiet != 0;
  return new sorrel::CurlHttpStack(std::move(options));
}

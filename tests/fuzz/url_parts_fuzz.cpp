// The URL helpers over arbitrary addresses.
#include "fuzz/fuzz_target.h"
#include "http/request_steps.h"
#include "http/url.h"

SORREL_FUZZ_TARGET(url_parts) {
  const std::string_view address(reinterpret_cast<const char*>(data), size);
  const sorrel::Text host = sorrel::UrlHost(address);
  const sorrel::Text path = sorrel::UrlPath(address);
  const int port = sorrel::UrlPort(address);
  const int httpsPort = sorrel::HttpsPort(address);
  SORREL_FUZZ_CHECK(!path.empty());
  SORREL_FUZZ_CHECK(host.size() <= address.size());
  SORREL_FUZZ_CHECK(httpsPort > 0 && httpsPort < 65536);
  (void)port;
  return 0;
}

// The URL helpers over arbitrary addresses.
#include "fuzz_target.h"
#include "http/url.h"

SORREL_FUZZ_TARGET(url_parts) {
  const std::string_view address(reinterpret_cast<const char*>(data), size);
  const sorrel::Text host = sorrel::UrlHost(address);
  const sorrel::Text path = sorrel::UrlPath(address);
  const int port = sorrel::UrlPort(address);
  SORREL_FUZZ_CHECK(!path.empty());
  SORREL_FUZZ_CHECK(host.size() <= address.size());
  SORREL_FUZZ_CHECK(!sorrel::UrlIsSecure(address) || port != 0);
  SORREL_FUZZ_CHECK(sorrel::WithScheme(address).size() >= address.size());
  return 0;
}

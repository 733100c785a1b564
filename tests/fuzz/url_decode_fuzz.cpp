// UrlDecode over arbitrary page bytes.
#include "fuzz_target.h"
#include "text/decode.h"

SORREL_FUZZ_TARGET(url_decode) {
  const std::string_view page(reinterpret_cast<const char*>(data), size);
  const sorrel::Text decoded = sorrel::UrlDecode(page);
  // The result is text: it ends at its first zero byte.
  SORREL_FUZZ_CHECK(decoded.find('\0') == sorrel::Text::npos);
  return 0;
}

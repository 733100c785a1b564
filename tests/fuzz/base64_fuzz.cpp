// Base64Decode of arbitrary link text.
#include "fuzz_target.h"
#include "resolve/base64.h"

SORREL_FUZZ_TARGET(base64) {
  sorrel::Text text(reinterpret_cast<const char*>(data), size);
  const std::size_t before = text.size();
  const sorrel::ByteSet decoded = sorrel::Base64Decode(text);
  // Cleaning only removes; four characters give at most three bytes.
  SORREL_FUZZ_CHECK(text.size() <= before);
  SORREL_FUZZ_CHECK(decoded.size() <= (before / 4 + 1) * 3);
  return 0;
}

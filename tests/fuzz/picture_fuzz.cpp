// ConvertPicture over arbitrary bytes, into every format code.
#include "fuzz_target.h"
#include "support/picture.h"
#include "test_helpers/platform_engines.h"

SORREL_FUZZ_TARGET(picture) {
  if (size < 1) return 0;
  const int format = data[0] % 7;
  const sorrel::ByteSet picture(data + 1, data + size);
  sorrel::ByteSet converted = {0x42};
  const bool ok =
      sorrel::ConvertPicture(sorrel::test::PlatformPictures(), picture, format, {}, &converted);
  if (ok) {
    SORREL_FUZZ_CHECK(format >= 1 && format <= 5 && !converted.empty());
  } else {
    SORREL_FUZZ_CHECK(converted == sorrel::ByteSet{0x42});
  }
  return 0;
}

// DecodeWrappedLink of arbitrary pasted text.
#include "fuzz_target.h"
#include "resolve/link_codec.h"

SORREL_FUZZ_TARGET(link_codec) {
  const std::string_view link(reinterpret_cast<const char*>(data), size);
  const sorrel::DecodedLink decoded = sorrel::DecodeWrappedLink(link);
  SORREL_FUZZ_CHECK(decoded.ok == decoded.error.empty());
  SORREL_FUZZ_CHECK(decoded.ok == !decoded.address.empty());
  if (decoded.ok) {
    // The address comes out as UTF-8, which every form carries back unchanged.
    SORREL_FUZZ_CHECK(sorrel::IsWrappedLink(link));
    for (const std::string& again :
         {sorrel::EncodeThunder(decoded.address), sorrel::EncodeFlashGet(decoded.address),
          sorrel::EncodeQqdl(decoded.address)}) {
      SORREL_FUZZ_CHECK(sorrel::DecodeWrappedLink(again).address == decoded.address);
    }
  }
  return 0;
}

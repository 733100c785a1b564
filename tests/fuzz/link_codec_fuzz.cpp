// DecodeWrappedLink of arbitrary pasted text.
#include "fuzz_target.h"
#include "resolve/link_codec.h"

SORREL_FUZZ_TARGET(link_codec) {
  // The command line's engine.
  static const sorrel::OpenSslBase64 base64;
  const std::string_view link(reinterpret_cast<const char*>(data), size);
  const sorrel::DecodedLink decoded = sorrel::DecodeWrappedLink(base64, link);
  SORREL_FUZZ_CHECK(decoded.ok == decoded.error.empty());
  SORREL_FUZZ_CHECK(decoded.ok == !decoded.address.empty());
  if (decoded.ok) {
    // The address comes out as UTF-8, which every form carries back unchanged.
    SORREL_FUZZ_CHECK(sorrel::IsWrappedLink(link));
    for (const std::string& again : {sorrel::EncodeThunder(base64, decoded.address),
                                     sorrel::EncodeFlashGet(base64, decoded.address),
                                     sorrel::EncodeQqdl(base64, decoded.address)}) {
      SORREL_FUZZ_CHECK(sorrel::DecodeWrappedLink(base64, again).address == decoded.address);
    }
  }
  return 0;
}

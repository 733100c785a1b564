#include "app/cli/commands.h"
#include "app/cli/console.h"
#include "resolve/link_codec.h"

namespace sorrel::cli {

int RunDecode(const Base64Engine& base64, const std::vector<std::string>& links) {
  int status = kExitOk;
  for (const std::string& link : links) {
    const DecodedLink decoded = DecodeWrappedLink(base64, link);
    if (decoded.ok) {
      Write(Stream::kOut, decoded.address + "\n");
    } else {
      Write(Stream::kError, "sorrel-resolve: " + link + ": " + decoded.error + "\n");
      status = kExitFailed;
    }
  }
  return status;
}

int RunEncode(const Base64Engine& base64, const std::vector<std::string>& addresses) {
  for (const std::string& address : addresses) {
    Write(Stream::kOut, EncodeThunder(base64, address) + "\n" + EncodeFlashGet(base64, address) +
                            "\n" + EncodeQqdl(base64, address) + "\n");
  }
  return kExitOk;
}

}  // namespace sorrel::cli

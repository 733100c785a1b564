#include <cstdio>

#include "app/cli/commands.h"
#include "resolve/link_codec.h"

namespace sorrel::cli {

int RunDecode(const std::vector<std::string>& links) {
  int status = kExitOk;
  for (const std::string& link : links) {
    const DecodedLink decoded = DecodeWrappedLink(link);
    if (decoded.ok) {
      std::printf("%s\n", decoded.address.c_str());
    } else {
      std::fflush(stdout);
      std::fprintf(stderr, "sorrel-resolve: %s: %s\n", link.c_str(), decoded.error.c_str());
      status = kExitFailed;
    }
  }
  return status;
}

int RunEncode(const std::vector<std::string>& addresses) {
  for (const std::string& address : addresses) {
    std::printf("%s\n%s\n%s\n", EncodeThunder(address).c_str(), EncodeFlashGet(address).c_str(),
                EncodeQqdl(address).c_str());
  }
  return kExitOk;
}

}  // namespace sorrel::cli

#include "app/cli/engines_headless.h"

#include "app/cli/no_windows.h"
#include "http/http_stack_curl_module.h"
#include "http/worker_thread.h"
#include "resolve/base64_standard.h"
#include "support/picture_raster.h"
#include "support/regex_pcre2.h"

namespace sorrel {

PlatformServices HeadlessPlatformEngines(bool quiet) {
  // libcurl is loaded at the first request, not at start; the stack lives
  // until the process ends, as abandoned request workers may still use it.
  static auto* stack = [quiet] {
    auto* loaded = new LoadedCurlStack();
    if (quiet) loaded->Quiet();
    return loaded;
  }();
  static RasterPictureCodec pictures;
  static NoWindows noWindows;
  static const OpenSslBase64 base64;
  return {*stack, PlatformThreads(), [] { return MakePcre2RegexEngine(); }, pictures,
          base64, noWindows};
}

}  // namespace sorrel

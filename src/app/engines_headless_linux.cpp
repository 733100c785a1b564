#include "app/headless_engines.h"

#include "http/curl_stack_module.h"
#include "http/worker_thread.h"
#include "support/notice.h"
#include "support/picture_raster.h"
#include "support/regex_pcre2.h"

namespace sorrel {

PlatformServices HeadlessPlatformEngines() {
  // libcurl is loaded at the first request, not at start; the stack lives
  // until the process ends, as abandoned request workers may still use it.
  static auto* stack = new LoadedCurlStack();
  static RasterPictureCodec pictures;
  static WindowSystem noWindows;
  return {*stack, PlatformThreads(), [] { return MakePcre2RegexEngine(); }, pictures, noWindows};
}

}  // namespace sorrel

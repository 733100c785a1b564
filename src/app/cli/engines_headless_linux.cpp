#include "app/cli/engines_headless.h"

#include "http/http_stack_curl_module.h"
#include "http/worker_thread.h"
#include "support/notice.h"
#include "support/picture_raster.h"
#include "support/regex_pcre2.h"

namespace sorrel {

namespace {

// No windows to own a notice, and no box: a notice returns at once.
class NoWindows : public WindowSystem {
 public:
  std::vector<TopLevel> EnumerateTopLevelWindows() override { return {}; }
  std::uint32_t CurrentProcessId() override { return 0; }
  int MessageBox(WindowHandle, const Text&, const Text&, int) override { return 0; }
};

}  // namespace

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
  return {*stack, PlatformThreads(), [] { return MakePcre2RegexEngine(); }, pictures, noWindows};
}

}  // namespace sorrel

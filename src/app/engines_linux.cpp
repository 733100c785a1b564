#include "app/engines.h"

#include "http/curl_stack_module.h"
#include "http/worker_thread.h"
#include "support/picture_qt.h"
#include "support/regex_pcre2.h"

namespace sorrel {

PlatformServices PlatformEngines(WindowSystem& windows) {
  // libcurl is loaded at the first request, not at start.
  static auto* stack = new LoadedCurlStack();
  return {*stack, PlatformThreads(), [] { return MakePcre2RegexEngine(); }, PlatformPictureCodec(),
          windows};
}

}  // namespace sorrel

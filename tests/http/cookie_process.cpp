// One run of the program's cookie handling, for the cookie-file tests: GETs
// each address given through the page request over the libcurl stack that
// keeps lasting cookies in the user's cookie file, then ends as the program
// does. With SORREL_TEST_STALL_WRITE set, the first write of the file stops
// for good between its temporary file and the rename; with
// SORREL_TEST_WRITE_COUNT set, the number of writes goes to that file as the
// run ends.
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>

#include "http/cookie_jar.h"
#include "http/http_stack_curl.h"
#include "http/web_access.h"
#include "test_helpers/fake_stack.h"

namespace {

std::atomic<int> g_writes{0};

}  // namespace

int main(int argc, char** argv) {
  using namespace sorrel;
  if (std::getenv("SORREL_TEST_STALL_WRITE") != nullptr) {
    SetCookieWriteHookForTesting([] {
      for (;;) pause();
    });
  }
  if (std::getenv("SORREL_TEST_WRITE_COUNT") != nullptr) {
    SetCookieWriteHookForTesting([] { ++g_writes; });
    // Registered before the store's own write at the end, so it runs after it.
    std::atexit([] { std::ofstream(std::getenv("SORREL_TEST_WRITE_COUNT")) << g_writes.load(); });
  }
  CurlStackOptions options;
  options.cookieFile = DefaultCookieFilePath();
  static auto* stack = new CurlHttpStack(options);
  test::CountingPump pump;
  test::RecordingWindows windows;
  WebClient client(*stack, pump, windows);
  for (int i = 1; i < argc; ++i) {
    Text url = argv[i];
    if (client.WebAccess(url).empty()) return 1;
  }
  return 0;
}

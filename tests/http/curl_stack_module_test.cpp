// The HTTP module as the program loads it: found, loaded once by whichever
// thread comes first, and used through the request operations; and the
// program's behaviour when it is missing or is not the module.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "http/http_stack_curl_module.h"
#include "http/web_access.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/loopback_server.h"

namespace sorrel {
namespace {

using test::HttpResponse;
using test::LoopbackServer;

std::string TextOf(const ByteSet& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The module keeps lasting cookies in the user's data folder: here a fresh
// one, set before the module loads and removed after its last write, which
// comes at the end of the process.
const std::string kDataHome = [] {
  std::string dir = (std::filesystem::temp_directory_path() / "sorrel-module-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) std::abort();
  setenv("XDG_DATA_HOME", dir.c_str(), 1);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(std::getenv("XDG_DATA_HOME"), ignored);
  });
  return dir;
}();

// Loaded stacks are never unloaded; abandoned workers may still use them.
LoadedCurlStack& BuiltModule() {
  static auto* stack = new LoadedCurlStack({SORREL_CURL_MODULE});
  return *stack;
}

TEST(CurlStackModuleTest, RequestsAndCookiesGoThroughTheModule) {
  LoopbackServer server(LoopbackServer::Answer(HttpResponse("from the module")));
  ASSERT_TRUE(BuiltModule().SetCookie("http://127.0.0.1", "kept", "yes; path=/"));
  test::CountingPump pump;
  test::RecordingWindows windows;
  WebClient client(BuiltModule(), pump, windows);

  Text page = server.authority() + "/page";
  Text picture = server.authority() + "/picture";
  EXPECT_EQ(TextOf(client.WebAccess(page)), "from the module");
  EXPECT_EQ(TextOf(client.TimedWebAccess(picture, {.timeoutSeconds = 5})), "from the module");
  const std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const std::string& request : requests) {
    EXPECT_NE(request.find("\r\nCookie: kept=yes\r\n"), std::string::npos) << request;
  }
}

TEST(CurlStackModuleTest, LastingCookiesGoToTheUsersCookieFile) {
  ASSERT_TRUE(BuiltModule().SetCookie("http://127.0.0.1", "lasting", "1; Max-Age=3600; path=/"));
  // The file is written once an exchange, at its end.
  LoopbackServer server(LoopbackServer::Answer(HttpResponse("ok")));
  test::CountingPump pump;
  test::RecordingWindows windows;
  WebClient client(BuiltModule(), pump, windows);
  Text page = server.authority() + "/";
  EXPECT_EQ(TextOf(client.WebAccess(page)), "ok");
  const std::string folder = kDataHome + "/sorrel-resolver";
  std::ifstream file(folder + "/cookies");
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_NE(text.str().find("\tlasting\t1\n"), std::string::npos) << text.str();
  EXPECT_EQ(text.str().find("kept"), std::string::npos) << text.str();
  struct stat info {};
  ASSERT_EQ(stat((folder + "/cookies").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(CurlStackModuleTest, ThreadsRacingForTheFirstUseShareOneStack) {
  // A fresh loader, kept like the program's own: what it loads stays alive.
  static auto* stack = new LoadedCurlStack({SORREL_CURL_MODULE});
  std::vector<HttpStack*> seen(4, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([&, t] { seen[t] = stack->Loaded(); });
  for (std::thread& thread : threads) thread.join();
  ASSERT_NE(seen[0], nullptr);
  for (HttpStack* loaded : seen) EXPECT_EQ(loaded, seen[0]);
}

TEST(CurlStackModuleTest, WithoutTheModuleRequestsFailAndNothingCrashes) {
  // A missing file, then a library that loads but is not the module.
  LoadedCurlStack stack({"/nonexistent/libsorrel-http-curl.so", "libm.so.6"});
  LoopbackServer server(LoopbackServer::Answer(HttpResponse("unreached")));
  test::CountingPump pump;
  test::RecordingWindows windows;
  WebClient client(stack, pump, windows);

  testing::internal::CaptureStderr();
  Text page = server.authority() + "/page";
  EXPECT_TRUE(client.WebAccess(page).empty());
  EXPECT_FALSE(stack.SetCookie("http://127.0.0.1", "a", "1"));
  const std::string reason = testing::internal::GetCapturedStderr();
  EXPECT_EQ(stack.Loaded(), nullptr);
  EXPECT_TRUE(server.requests().empty());
  // Said once, naming both candidates.
  EXPECT_NE(reason.find("/nonexistent/libsorrel-http-curl.so"), std::string::npos) << reason;
  EXPECT_NE(reason.find("libm.so.6: no SorrelCreateCurlHttpStack"), std::string::npos) << reason;
  EXPECT_EQ(reason.find("could not be loaded"), reason.rfind("could not be loaded")) << reason;
}

TEST(CurlStackModuleTest, DefaultPlacesAreBesideTheProgramAndInItsLibraryFolder) {
  const std::vector<std::string> paths = DefaultCurlModulePaths();
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_TRUE(paths[0].ends_with("/libsorrel-http-curl.so")) << paths[0];
  EXPECT_TRUE(paths[1].ends_with("/lib/sorrel-resolver/libsorrel-http-curl.so")) << paths[1];
  EXPECT_EQ(paths[1].find(".."), std::string::npos) << paths[1];
}

}  // namespace
}  // namespace sorrel

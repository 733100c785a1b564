// The WinInet stack on the road the user names: the requests of a
// resolution through an HTTP and a SOCKS4 proxy on loopback, a proxy that
// wants a password, one that is not there, and SOCKS5, which WinInet lacks.
// with_proxies.sh starts the proxies (SORREL_TEST_PROXIES, their logs in
// SORREL_TEST_PROXY_LOGS), with_sim.sh the demo service.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "http/http_stack_wininet.h"
#include "http/web_access.h"
#include "support/event_pump.h"
#include "test_helpers/fake_stack.h"
#include "text/codepage.h"
#include "text/decode.h"

namespace sorrel {
namespace {

// Wine's WinInet has no SOCKS: the stack refuses SOCKS4 there.
bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class WinInetProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* sim = std::getenv("SORREL_TEST_SIM_URL");
    const char* proxies = std::getenv("SORREL_TEST_PROXIES");
    const char* logs = std::getenv("SORREL_TEST_PROXY_LOGS");
    if (sim == nullptr || proxies == nullptr || logs == nullptr) {
      GTEST_SKIP() << "no demo service or no proxies";
    }
    base_ = sim;
    logs_ = std::string("Z:") + logs;
    std::istringstream list(proxies);
    for (std::string entry; list >> entry;) {
      const std::size_t equals = entry.find('=');
      ports_[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
  }

  std::string Authority(const std::string& name) { return "127.0.0.1:" + ports_[name]; }

  // The lines the proxy `name` logged, from the `from`th on.
  std::vector<std::string> Log(const std::string& name, std::size_t from = 0) const {
    std::ifstream in(logs_ + "/" + name + ".log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      if (from > 0) {
        --from;
      } else {
        lines.push_back(line);
      }
    }
    return lines;
  }

  Text base_;
  std::string logs_;
  std::map<std::string, std::string> ports_;
  WinInetHttpStack stack_;
  test::RecordingWindows windows_;
  WebClient web_{stack_, NoEventPump(), windows_};
};

// The page, the captcha picture and the login, as a resolution sends them.
TEST_F(WinInetProxyTest, AResolutionsRequestsAllTakeTheProxy) {
  const std::string sim = base_.substr(std::string("http://").size());
  struct Row {
    std::string name;
    std::string proxy;
    std::vector<std::string> log;
  };
  // Each row its own addresses: WinInet may answer a GET it saw from its cache.
  const Row rows[] = {
      {"http",
       "http://" + Authority("http"),
       {"GET " + base_ + "/file/83264445?r=http", "GET " + base_ + "/randcodeV2.php?rand=http",
        "POST " + base_ + "/guest_loginV2.php"}},
      {"socks4",
       "socks4://" + Authority("socks4"),
       {"SOCKS " + sim + " GET /file/83264445?r=socks4",
        "SOCKS " + sim + " GET /randcodeV2.php?rand=socks4",
        "SOCKS " + sim + " POST /guest_loginV2.php"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.proxy);
    // Where WinInet has no SOCKS, nothing goes out at all.
    const bool refused = row.name == "socks4" && UnderWine();
    const std::size_t before = Log(row.name).size();
    Text page = base_ + "/file/83264445?r=" + row.name;
    RequestFailure failure = RequestFailure::kNone;
    const Text text = web_.GetPageText(page, &failure, nullptr, row.proxy);
    EXPECT_EQ(Find(UrlDecode(text), Utf8ToGbk("输入上方")) != -1, !refused);
    EXPECT_EQ(failure, refused ? RequestFailure::kProxyUnsupported : RequestFailure::kNone);
    Text picture = base_ + "/randcodeV2.php?rand=" + row.name;
    EXPECT_EQ(web_.TimedWebAccess(picture, {.proxy = row.proxy}).empty(), refused);
    Text login = base_ + "/guest_loginV2.php";
    TimedWebAccessArgs post;
    post.method = 1;
    post.proxy = row.proxy;
    post.postData = BytesOf("file_id=83264445&randcode=k7p2&Comfirm=yes");
    EXPECT_EQ(web_.TimedWebAccess(login, post).empty(), refused);
    EXPECT_EQ(Log(row.name, before), refused ? std::vector<std::string>{} : row.log);
  }
}

TEST_F(WinInetProxyTest, TheProxysFailuresAreTheProxys) {
  struct Row {
    std::string proxy;
    RequestFailure failure;
  };
  const Row rows[] = {
      {"http://" + Authority("auth"), RequestFailure::kProxyNeedsPassword},
      {"http://ann:wrong@" + Authority("auth"), RequestFailure::kProxyNeedsPassword},
      {"http://ann:s3cret@" + Authority("auth"), RequestFailure::kNone},
      {"http://127.0.0.1:1", RequestFailure::kProxyUnreachable},
      {"socks4://127.0.0.1:1",
       UnderWine() ? RequestFailure::kProxyUnsupported : RequestFailure::kProxyUnreachable},
      // Never a silent direct connection.
      {"socks5h://" + Authority("http"), RequestFailure::kProxyUnsupported},
  };
  const std::size_t before = Log("http").size();
  std::vector<std::string> auth;
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.proxy);
    const Text page = base_ + "/file/83264445?n=" + std::to_string(++n);
    Text url = page;
    RequestFailure failure = RequestFailure::kNone;
    const Text text = web_.GetPageText(url, &failure, nullptr, row.proxy);
    EXPECT_EQ(failure, row.failure);
    EXPECT_EQ(text.empty(), row.failure != RequestFailure::kNone);
    const Text timed = base_ + "/file/83264445?n=" + std::to_string(++n);
    url = timed;
    failure = RequestFailure::kNone;
    EXPECT_EQ(web_.TimedWebAccess(url, {.proxy = row.proxy, .failure = &failure}).empty(),
              row.failure != RequestFailure::kNone);
    EXPECT_EQ(failure, row.failure);
    if (row.proxy.find(Authority("auth")) == std::string::npos) continue;
    // WinInet first asks without the password, and with it once the proxy
    // answers 407.
    const bool given = row.proxy.find('@') != std::string::npos;
    const std::string mark = row.failure == RequestFailure::kNone ? "" : "407 ";
    for (const Text& address : {page, timed}) {
      if (given) auth.push_back("407 GET " + address);
      auth.push_back(mark + "GET " + address);
    }
  }
  EXPECT_EQ(Log("auth"), auth);
  EXPECT_TRUE(Log("http", before).empty());
}

}  // namespace
}  // namespace sorrel

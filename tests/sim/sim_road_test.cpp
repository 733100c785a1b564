// The demo service driven over HTTP as the tool drives it: page, captcha,
// login, download, and the ways a login is turned down.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>

#include "curl_test_session.h"
#include "sim_test_util.h"
#include "test_helpers/sim_process.h"
#include "text_util.h"

namespace sorrel::test {
namespace {

using sim::Base64Decode;
using sim::Base64Encode;

std::string RandomBytes(size_t n) {
  std::mt19937 rng(1234);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(rng() & 0xFF);
  return out;
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

class SimRoad : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // ctest runs each test in a process of its own, some at the same time.
    filePath_ = new std::string(::testing::TempDir() + "sim_road_样本_" +
                                std::to_string(::getpid()) + ".bin");
    fileBytes_ = new std::string(RandomBytes(300 * 1024 + 17));
    std::ofstream(*filePath_, std::ios::binary) << *fileBytes_;
    sim_ = new SimProcess({"--test-mode", "--file", "777=" + *filePath_});
  }
  static void TearDownTestSuite() {
    delete sim_;
    std::remove(filePath_->c_str());
    delete filePath_;
    delete fileBytes_;
  }
  void SetUp() override { ASSERT_TRUE(sim_->ok()) << sim_->error(); }

  // Page and captcha picture in `session`; the session's current code.
  std::string OpenPage(CurlSession& session, const std::string& id, std::string* page = nullptr) {
    const HttpResult p = session.Get(sim_->url("/file/" + id));
    EXPECT_EQ(p.status, 200);
    const std::string path = Between(p.body, kCaptchaMarker, "\"");
    const HttpResult picture = session.Get(sim_->url(path + "4711"));
    EXPECT_EQ(picture.status, 200);
    if (page) *page = p.body;
    return CurlSession()
        .Get(sim_->url("/__test/captcha?session=" + session.Cookie("sorrel_sid")))
        .body;
  }

  static SimProcess* sim_;
  static std::string* filePath_;
  static std::string* fileBytes_;
};

SimProcess* SimRoad::sim_ = nullptr;
std::string* SimRoad::filePath_ = nullptr;
std::string* SimRoad::fileBytes_ = nullptr;

TEST_F(SimRoad, FullRoadDownloadsTheFile) {
  CurlSession session;
  const HttpResult page = session.Get(sim_->url("/file/777"));
  ASSERT_EQ(page.status, 200);
  EXPECT_TRUE(page.Has(kPageMarker));
  EXPECT_FALSE(page.Has(kRemovedMarker));
  EXPECT_NE(page.Header("Set-Cookie").find("sorrel_sid="), std::string::npos);
  // The name is percent-escaped, as on real pages.
  EXPECT_TRUE(page.Has("sim_road_%E6%A0%B7%E6%9C%AC_"));

  const std::string path = Between(page.body, kCaptchaMarker, "\"");
  EXPECT_EQ(path, "/randcodeV2.php?fid=777&rand=");
  const HttpResult picture = session.Get(sim_->url(path + "12345"));
  ASSERT_EQ(picture.status, 200);
  EXPECT_EQ(picture.Header("Content-Type"), "image/png");
  EXPECT_NE(picture.Header("Set-Cookie").find("sorrel_sid="), std::string::npos);
  const QImage image = DecodePicture(picture.body);
  EXPECT_FALSE(image.isNull());

  const std::string sid = session.Cookie("sorrel_sid");
  const std::string code = CurlSession().Get(sim_->url("/__test/captcha?session=" + sid)).body;
  ASSERT_EQ(code.size(), 4u);

  const std::string body = ToolLoginBody(page.body, Upper(code));
  EXPECT_EQ(body.rfind("=&file_id=777&hash_key=", 0), 0u) << body;
  const HttpResult login = session.Post(sim_->url("/guest_loginV2.php"), body);
  ASSERT_EQ(login.status, 200);
  EXPECT_FALSE(login.Has(kWrongCaptchaMarker));

  const std::string normal = Base64Decode(Between(login.body, kNormalLeft, kNormalRight));
  ASSERT_EQ(normal.rfind(sim_->url("/dl/"), 0), 0u) << login.body;
  EXPECT_EQ(Between(login.body, kThunderLeft, kThunderRight),
            "thunder://" + Base64Encode("AA" + normal + "ZZ"));
  EXPECT_EQ(Between(login.body, kFlashGetLeft, kFlashGetRight),
            "flashget://" + Base64Encode("[FLASHGET]" + normal + "[FLASHGET]") + "&sorrel");

  // A download manager has no cookies: the address alone must do.
  const HttpResult download = CurlSession().Get(normal);
  ASSERT_EQ(download.status, 200);
  EXPECT_EQ(download.body.size(), fileBytes_->size());
  EXPECT_TRUE(download.body == *fileBytes_);
  EXPECT_EQ(download.Header("Content-Length"), std::to_string(fileBytes_->size()));
}

TEST_F(SimRoad, BuiltInExampleFileResolves) {
  CurlSession session;
  std::string page;
  const std::string code = OpenPage(session, "83264445", &page);
  const HttpResult login = session.Post(sim_->url("/guest_loginV2.php"), ToolLoginBody(page, code));
  const std::string normal = Base64Decode(Between(login.body, kNormalLeft, kNormalRight));
  const HttpResult download = CurlSession().Get(normal);
  EXPECT_EQ(download.status, 200);
  EXPECT_NE(download.body.find("Sorrel网盘演示服务"), std::string::npos);
}

TEST_F(SimRoad, PageHoldsEightFieldsWithTheFourKeptOnesAmongThem) {
  CurlSession session;
  const auto fields = HarvestFields(session.Get(sim_->url("/file/83264445")).body);
  std::vector<std::string> names;
  for (const auto& f : fields) names.push_back(f.first);
  EXPECT_EQ(names, (std::vector<std::string>{"action", "ref", "file_id", "hash_key", "vip",
                                             "authtype", "hash_info", "from"}));
  EXPECT_EQ(fields[1].second, "");
  EXPECT_EQ(fields[2].second, "83264445");
  EXPECT_EQ(fields[5].second, "0");

  const auto more = HarvestFields(session.Get(sim_->url("/file/83264445?extra_fields=5")).body);
  ASSERT_EQ(more.size(), 13u);
  EXPECT_EQ(more.back().first, "ext5");
}

TEST_F(SimRoad, RemovedAndUnknownFilesShowTheRemovedPage) {
  for (const char* id : {"40400404", "99999999", "abc", ""}) {
    SCOPED_TRACE(id);
    const HttpResult page = CurlSession().Get(sim_->url(std::string("/file/") + id));
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.Has(kRemovedMarker));
    EXPECT_FALSE(page.Has(kPageMarker));
  }
}

TEST_F(SimRoad, LoginRefusals) {
  struct Case {
    const char* name;
    bool dropCookies;
    std::string (*edit)(std::string body, const std::string& code);
    const char* expected;
  };
  const Case cases[] = {
      {"wrong captcha", false,
       [](std::string body, const std::string& code) {
         return body.replace(body.find("randcode=") + 9, code.size(), "zzzz");
       },
       kWrongCaptchaMarker},
      {"no session cookie", true, [](std::string body, const std::string&) { return body; },
       "会话已失效"},
      {"changed hash_key", false,
       [](std::string body, const std::string&) {
         return body.replace(body.find("hash_key=") + 9, 1, "Q");
       },
       "参数错误"},
      {"unknown file", false,
       [](std::string body, const std::string&) {
         return body.replace(body.find("file_id=83264445"), 16, "file_id=99999999");
       },
       kRemovedMarker},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CurlSession session;
    std::string page;
    const std::string code = OpenPage(session, "83264445", &page);
    const std::string body = c.edit(ToolLoginBody(page, code), code);
    CurlSession stranger;
    const HttpResult login =
        (c.dropCookies ? stranger : session).Post(sim_->url("/guest_loginV2.php"), body);
    EXPECT_EQ(login.status, 200);
    EXPECT_TRUE(login.Has(c.expected)) << login.body;
    EXPECT_TRUE(Between(login.body, kNormalLeft, kNormalRight).empty());
    if (std::string(c.expected) != kWrongCaptchaMarker) {
      EXPECT_FALSE(login.Has(kWrongCaptchaMarker));
    }
  }
}

TEST_F(SimRoad, CaptchaIsSingleUse) {
  CurlSession session;
  std::string page;
  const std::string code = OpenPage(session, "83264445", &page);
  const std::string body = ToolLoginBody(page, code);
  EXPECT_TRUE(session.Post(sim_->url("/guest_loginV2.php"), body).Has(kNormalLeft));
  EXPECT_TRUE(session.Post(sim_->url("/guest_loginV2.php"), body).Has(kWrongCaptchaMarker));

  // A wrong answer uses the code up as well.
  const std::string code2 = OpenPage(session, "83264445", &page);
  session.Post(sim_->url("/guest_loginV2.php"), ToolLoginBody(page, "zzzz"));
  EXPECT_TRUE(session.Post(sim_->url("/guest_loginV2.php"), ToolLoginBody(page, code2))
                  .Has(kWrongCaptchaMarker));
}

TEST_F(SimRoad, NewPictureReplacesTheSessionsCode) {
  CurlSession session;
  std::string page;
  const std::string first = OpenPage(session, "83264445", &page);
  std::string second = first;
  // Codes repeat now and then; ask until the next one differs.
  for (int i = 0; i < 20 && second == first; ++i) second = OpenPage(session, "83264445");
  ASSERT_NE(first, second);
  EXPECT_TRUE(session.Post(sim_->url("/guest_loginV2.php"), ToolLoginBody(page, first))
                  .Has(kWrongCaptchaMarker));
}

TEST_F(SimRoad, DownloadAddressesCheckTokenAndName) {
  CurlSession session;
  std::string page;
  const std::string code = OpenPage(session, "12345678", &page);
  const std::string normal = Base64Decode(
      Between(session.Post(sim_->url("/guest_loginV2.php"), ToolLoginBody(page, code)).body,
              kNormalLeft, kNormalRight));
  ASSERT_FALSE(normal.empty());
  EXPECT_EQ(CurlSession().Get(normal).body,
            "sorrel-sim sample file.\r\nPlain ASCII, CR LF line ends.\r\n");
  EXPECT_EQ(CurlSession().Get(normal.substr(0, normal.rfind('/')) + "/other.txt").status, 404);
  EXPECT_EQ(CurlSession().Get(sim_->url("/dl/0123456789abcdef/readme.txt")).status, 403);
}

// A download manager resumes with one range; anything else gets the whole file.
TEST_F(SimRoad, DownloadsAreServedInRanges) {
  const std::string readme = "sorrel-sim sample file.\r\nPlain ASCII, CR LF line ends.\r\n";
  std::map<std::string, std::string> normal;
  for (const std::string id : {"777", "12345678"}) {
    CurlSession session;
    std::string page;
    const std::string code = OpenPage(session, id, &page);
    normal[id] = Base64Decode(
        Between(session.Post(sim_->url("/guest_loginV2.php"), ToolLoginBody(page, code)).body,
                kNormalLeft, kNormalRight));
    ASSERT_FALSE(normal[id].empty());
  }
  const std::string size = std::to_string(fileBytes_->size());
  const struct {
    std::string id, range;
    int status;
    std::string contentRange, body;
  } cases[] = {
      {"777", "bytes=100000-", 206, "bytes 100000-307216/" + size, fileBytes_->substr(100000)},
      {"777", "bytes=5-9", 206, "bytes 5-9/" + size, fileBytes_->substr(5, 5)},
      {"777", "bytes=-3", 206, "bytes 307214-307216/" + size, fileBytes_->substr(307214)},
      {"12345678", "bytes=11-16", 206, "bytes 11-16/56", "sample"},
      {"12345678", "bytes=49-999", 206, "bytes 49-55/56", "ends.\r\n"},
      {"12345678", "bytes=56-", 416, "bytes */56", ""},
      {"12345678", "bytes=0-1,4-5", 200, "", readme},
      {"12345678", "items=0-1", 200, "", readme},
  };
  for (const auto& c : cases) {
    const HttpResult r =
        CurlSession().Get(normal[c.id], RequestOptions::Headers({"Range: " + c.range}));
    EXPECT_EQ(r.status, c.status) << c.range;
    EXPECT_EQ(r.Header("Content-Range"), c.contentRange) << c.range;
    if (c.status != 416) {
      EXPECT_TRUE(r.body == c.body) << c.range;
    }
  }
}

TEST(SimToken, ExpiredAddressAnswers403) {
  SimProcess sim({"--test-mode", "--token-seconds", "0", "--fixed-code", "k7p2"});
  ASSERT_TRUE(sim.ok()) << sim.error();
  CurlSession session;
  const HttpResult page = session.Get(sim.url("/file/83264445"));
  session.Get(sim.url("/randcodeV2.php?fid=83264445&rand=1"));
  const HttpResult login =
      session.Post(sim.url("/guest_loginV2.php"), ToolLoginBody(page.body, "K7P2"));
  const std::string normal = Base64Decode(Between(login.body, kNormalLeft, kNormalRight));
  ASSERT_FALSE(normal.empty()) << login.body;
  const HttpResult download = CurlSession().Get(normal);
  EXPECT_EQ(download.status, 403);
  EXPECT_NE(download.body.find("下载地址已失效"), std::string::npos);
}

// Sends `bytes` on a new connection and reads until the server closes it.
std::string RawExchange(std::uint16_t port, const std::string& bytes) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval limit{5, 0};  // a server that never closes fails the test, not the run
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string reply;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size())) {
    char buf[4096];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
      reply.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return reply;
}

QJsonObject LastLogEntry(const std::string& log) {
  const size_t end = log.find_last_not_of('\n');
  if (end == std::string::npos) return {};
  const size_t start = log.rfind('\n', end);
  const std::string line = log.substr(start == std::string::npos ? 0 : start + 1, end + 1);
  return QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
}

TEST(SimRequestLog, KeepsTheExactBytesAndHeaderOrder) {
  const std::string logPath =
      ::testing::TempDir() + "sim_request_log_" + std::to_string(::getpid()) + ".jsonl";
  SimProcess sim({"--test-mode", "--request-log", logPath});
  ASSERT_TRUE(sim.ok()) << sim.error();
  // Header names in odd case, a repeated header, a GBK byte pair in the body.
  const std::string head =
      "POST /guest_loginV2.php HTTP/1.1\r\n"
      "Accept: */*\r\n"
      "referer: http://127.0.0.1/file/1\r\n"
      "Accept-Language: zh-cn\r\n"
      "X-Twice: 1\r\n"
      "X-Twice: 2\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: 14\r\n"
      "Connection: close\r\n"
      "\r\n";
  const std::string body = "=&randcode=\xd6\xd0&";
  ASSERT_FALSE(RawExchange(sim.port(), head + body).empty());

  const std::string fromEndpoint = CurlSession().Get(sim.url("/__test/log")).body;
  std::ifstream file(logPath, std::ios::binary);
  const std::string fromFile((std::istreambuf_iterator<char>(file)), {});
  EXPECT_EQ(fromFile, fromEndpoint);

  const QJsonObject entry = LastLogEntry(fromEndpoint);
  EXPECT_EQ(entry["request_line"].toString(), "POST /guest_loginV2.php HTTP/1.1");
  const QJsonArray headers = entry["headers"].toArray();
  ASSERT_EQ(headers.size(), 8);
  EXPECT_EQ(headers[1].toString(), "referer: http://127.0.0.1/file/1");
  EXPECT_EQ(headers[3].toString(), "X-Twice: 1");
  EXPECT_EQ(headers[4].toString(), "X-Twice: 2");
  EXPECT_EQ(Base64Decode(entry["raw_base64"].toString().toStdString()), head + body);
  // Bytes that are not UTF-8 appear as \u00XX in the text field.
  EXPECT_EQ(entry["body"].toString(), QString::fromUtf8("=&randcode=\u00d6\u00d0&"));

  CurlSession().Get(sim.url("/__test/log?clear=1"));
  EXPECT_EQ(CurlSession().Get(sim.url("/__test/log")).body, "");
}

}  // namespace
}  // namespace sorrel::test

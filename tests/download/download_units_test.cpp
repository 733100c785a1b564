// The pieces of the hand-off that need no engine: file names, the
// JSON-RPC request bytes, sizes as people read them, and the cookie line
// the store gives for an address.
#include <gtest/gtest.h>

#include "download/aria2_client.h"
#include "download/file_name.h"
#include "download/link_check.h"
#include "http/http_stack_curl.h"

namespace sorrel {
namespace {

TEST(FileName, FromAddress) {
  const struct {
    const char* address;
    const char* name;
  } cases[] = {
      {"http://h/dl/t/Sorrel%E7%BD%91%E7%9B%98.txt", "Sorrel网盘.txt"},
      {"http://h/dl/t/a%20b.rar?x=1#y", "a b.rar"},
      {"http://h/dl/t/..%2F..%2Fetc%2Fpasswd", "_.._etc_passwd"},
      {"http://h/dl/t/%2E%2Ehidden", "hidden"},
      {"http://h/dl/t/a%5Cb%3Ac%0Ad", "a_b_cd"},
      {"http://h/dl/t/%D6%D0%CE%C4.zip", "中文.zip"},  // GBK bytes
      {"http://h/", "download"},
      {"http://h", "download"},
      {"http://h/dl/%E4%B8%AD%", "中%"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileNameFromAddress(c.address), c.name) << c.address;
}

TEST(FileName, FromContentDisposition) {
  const struct {
    const char* value;
    const char* name;
  } cases[] = {
      {"attachment; filename*=UTF-8''%E6%A0%B7%E6%9C%AC.bin", "样本.bin"},
      {"attachment; filename=\"plain.txt\"; filename*=utf-8''%E5%AE%8C.txt", "完.txt"},
      {"attachment; filename=\"a \\\"q\\\"; b.txt\"", "a \"q\"; b.txt"},
      {"attachment; filename=bare.bin", "bare.bin"},
      {"attachment; filename*=GBK''%D6%D0.txt", "中.txt"},
      {"attachment; filename=\"\xD6\xD0.txt\"", "中.txt"},
      {"inline", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DispositionFileName(c.value), c.name) << c.value;
}

TEST(HumanSize, TakesThousandTwentyFour) {
  const struct {
    long long bytes;
    const char* text;
  } cases[] = {{-1, "未知"},          {0, "0 字节"},         {1023, "1023 字节"},
               {1024, "1.0 KB"},      {1536, "1.5 KB"},      {5 * 1048576LL, "5.0 MB"},
               {3LL << 30, "3.0 GB"}, {1048575, "1024.0 KB"}};
  for (const auto& c : cases) EXPECT_EQ(HumanSize(c.bytes), c.text) << c.bytes;
}

// No cookie header (aria2 repeats headers on redirects to other hosts); the
// options that keep an existing file and refuse to follow torrents always.
TEST(Aria2Request, AddUriBytes) {
  Aria2Download d;
  d.address = "http://127.0.0.1:8017/dl/ab/%E6%A0%B7.bin";
  d.fileName = "样.bin";
  d.dir = "/tmp/下载";
  d.referer = "http://127.0.0.1:8017/file/1";
  d.userAgent = "UA/1";
  EXPECT_EQ(Aria2RequestBody("aria2.addUri", "sorrel-1", "s3cret", Aria2AddUriParams(d)),
            R"({"id":"sorrel-1","jsonrpc":"2.0","method":"aria2.addUri","params":["token:s3cret",)"
            R"(["http://127.0.0.1:8017/dl/ab/%E6%A0%B7.bin"],{"auto-file-renaming":"true",)"
            R"("continue":"false","dir":"/tmp/下载","follow-metalink":"false",)"
            R"("follow-torrent":"false","header":["User-Agent: UA/1"],"out":"样.bin",)"
            R"("referer":"http://127.0.0.1:8017/file/1"}]})");
  d.dir.clear();
  EXPECT_EQ(Aria2RequestBody("aria2.addUri", "7", "", Aria2AddUriParams(d)),
            R"({"id":"7","jsonrpc":"2.0","method":"aria2.addUri","params":[)"
            R"(["http://127.0.0.1:8017/dl/ab/%E6%A0%B7.bin"],{"auto-file-renaming":"true",)"
            R"("continue":"false","follow-metalink":"false","follow-torrent":"false",)"
            R"("header":["User-Agent: UA/1"],"out":"样.bin",)"
            R"("referer":"http://127.0.0.1:8017/file/1"}]})");
}

TEST(Aria2Addresses, OnlyHttpDownloadsAndWarningsForClearEngines) {
  const struct {
    const char* address;
    bool download;
    const char* host;
    bool inClear;
  } cases[] = {
      {"http://127.0.0.1:8017/dl/a.bin", true, "127.0.0.1", false},
      {"HTTPS://Files.Example.com/a?b#c", true, "files.example.com", false},
      {"http://user:pw@[::1]:6800/jsonrpc", true, "::1", false},
      {"http://localhost:6800/jsonrpc", true, "localhost", false},
      {"http://dl.localhost/jsonrpc", true, "dl.localhost", false},
      {"http://192.168.1.2:6800/jsonrpc", true, "192.168.1.2", true},
      {"http://127.evil.example/jsonrpc", true, "127.evil.example", true},
      {"http://127.0.0.1.nip.example/jsonrpc", true, "127.0.0.1.nip.example", true},
      {"http://127.0.0.1./jsonrpc", true, "127.0.0.1.", true},
      {"http://nas:6800/jsonrpc", true, "nas", true},
      {"https://nas:6800/jsonrpc", true, "nas", false},
      {"ws://nas:6800/jsonrpc", false, "", false},
      {"magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567", false, "", false},
      {"ftp://127.0.0.1/a.bin", false, "", false},
      {"file:///etc/passwd", false, "", false},
      {"//127.0.0.1/a.bin", false, "", false},
      {"http://127.0.0.1/a b.bin", false, "", false},
      {"http://127.0.0.1/a\x1b.bin", false, "", false},
      {"http://127.0.0.1:80x/a.bin", false, "", false},
      {"http:///a.bin", false, "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsDownloadAddress(c.address), c.download) << c.address;
    EXPECT_EQ(DownloadHost(c.address), c.host) << c.address;
    EXPECT_EQ(Aria2AddressInClear(c.address), c.inClear) << c.address;
  }
  EXPECT_EQ(NotDownloadSentence(), "下载地址不是 http:// 或 https:// 地址，没有交给 aria2。");
  EXPECT_EQ(Aria2InClearWarning(),
            "这个 aria2 地址不加密（http://），RPC 密钥和下载地址会以明文经过网络。");
}

// As aria2 reports its errors (code and words) in tellStatus.
TEST(Aria2Request, DownloadFailuresSayWhyInChineseThenInAria2sWords) {
  const struct {
    const char* code;
    const char* words;
    const char* sentence;
  } cases[] = {
      {"22", "The response status is not successful. status=403",
       "aria2 下载失败：服务器拒绝了下载（HTTP 403），下载地址可能已经过期，请重新获取。"
       "（aria2：The response status is not successful. status=403）"},
      {"16", "Download aborted.",
       "aria2 下载失败：无法写入下载文件夹：文件夹不存在、不可写或磁盘已满。（aria2：Download "
       "aborted.）"},
      {"18", "Download aborted.",
       "aria2 下载失败：无法写入下载文件夹：文件夹不存在、不可写或磁盘已满。（aria2：Download "
       "aborted.）"},
      {"9", "There is not enough disk space available.",
       "aria2 下载失败：磁盘空间不足。（aria2：There is not enough disk space available.）"},
      {"17", "Failed to write into the file, cause: No space left on device",
       "aria2 下载失败：磁盘空间不足。（aria2：Failed to write into the file, cause: No space left "
       "on device）"},
      {"3", "Resource not found",
       "aria2 下载失败：服务器上没有这个文件（HTTP 404）。（aria2：Resource not found）"},
      {"1", "No URI available.", "aria2 下载失败：No URI available."},
  };
  for (const auto& c : cases) {
    Aria2Status status;
    status.status = "error";
    status.errorCode = c.code;
    status.errorMessage = c.words;
    EXPECT_EQ(Aria2DownloadFailure(status), c.sentence) << c.code;
  }
}

TEST(CookieLine, HoldsWhatTheStoreWouldSend) {
  ProcessCookieStore().Clear();
  CurlHttpStack stack;
  stack.SetCookie("http://dl.example.com", "a", "1; path=/");
  stack.SetCookie("http://dl.example.com", "deep", "2; path=/files");
  stack.SetCookie("http://other.example.com", "b", "3; path=/");
  stack.SetCookie("http://dl.example.com", "old",
                  "4; path=/; expires=Thu, 01 Jan 2000 00:00:00 GMT");
  stack.SetCookie("http://dl.example.com", "tls", "5; path=/; secure");
  EXPECT_EQ(stack.CookieLine("http://dl.example.com/x"), "a=1");
  EXPECT_EQ(stack.CookieLine("http://DL.example.com:8080/files/x.bin?q"), "deep=2; a=1");
  EXPECT_EQ(stack.CookieLine("https://dl.example.com/"), "a=1; tls=5");
  EXPECT_EQ(stack.CookieLine("http://nobody.example.com/"), "");
  ProcessCookieStore().Clear();
}

}  // namespace
}  // namespace sorrel

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

TEST(Aria2Request, AddUriBytes) {
  Aria2Download d;
  d.address = "http://127.0.0.1:8017/dl/ab/%E6%A0%B7.bin";
  d.fileName = "样.bin";
  d.dir = "/tmp/下载";
  d.referer = "http://127.0.0.1:8017/file/1";
  d.userAgent = "UA/1";
  d.cookieLine = "sorrel_sid=abc";
  EXPECT_EQ(Aria2RequestBody("aria2.addUri", "sorrel-1", "s3cret", Aria2AddUriParams(d)),
            R"({"id":"sorrel-1","jsonrpc":"2.0","method":"aria2.addUri","params":["token:s3cret",)"
            R"(["http://127.0.0.1:8017/dl/ab/%E6%A0%B7.bin"],{"dir":"/tmp/下载",)"
            R"("header":["User-Agent: UA/1","Cookie: sorrel_sid=abc"],"out":"样.bin",)"
            R"("referer":"http://127.0.0.1:8017/file/1"}]})");
  d.dir.clear();
  d.cookieLine.clear();
  EXPECT_EQ(Aria2RequestBody("aria2.addUri", "7", "", Aria2AddUriParams(d)),
            R"({"id":"7","jsonrpc":"2.0","method":"aria2.addUri","params":[)"
            R"(["http://127.0.0.1:8017/dl/ab/%E6%A0%B7.bin"],{"header":["User-Agent: UA/1"],)"
            R"("out":"样.bin","referer":"http://127.0.0.1:8017/file/1"}]})");
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

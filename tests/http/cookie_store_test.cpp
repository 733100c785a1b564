// The cookie store's rules: whose domain a server may set a cookie for,
// what a request carries, and the limits per registrable domain and in all
// with their order of eviction.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "http/cookie_store.h"

namespace sorrel {
namespace {

// Cookies named `prefix`0 … `prefix`(n-1), each in an exchange of its own
// when `exchange` is 0, else in that one.
void SetMany(CookieStore& store, const char* host, const std::string& prefix, int n,
             const char* attributes = "; path=/") {
  const std::uint64_t exchange = store.BeginExchange();
  for (int i = 0; i < n; ++i) {
    ASSERT_TRUE(store.Set({host, "/", exchange}, prefix + std::to_string(i),
                          std::string("v") + attributes));
  }
  store.EndExchange(exchange);
}

int Count(CookieStore& store, const std::string& needle) {
  const std::vector<std::string> lines = store.List();
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.find(needle) != std::string::npos;
  }));
}

TEST(CookieStoreTest, AServerSetsCookiesForItselfOnly) {
  const struct {
    const char* host;
    const char* domain;  // the Domain attribute
    const char* stored;  // the line's domain and subdomain fields; "" when dropped
  } cases[] = {
      {"127.0.0.1", "", "127.0.0.1\tFALSE"},
      {"127.0.0.1", "com", ""},
      {"127.0.0.1", ".victim.example", ""},
      {"127.0.0.1", "0.0.1", ""},
      {"127.0.0.1", "127.0.0.1", "127.0.0.1\tFALSE"},
      {"a.b.example.test", "example.test", ".example.test\tTRUE"},
      {"A.B.Example.Test", ".B.EXAMPLE.test", ".b.example.test\tTRUE"},
      {"example.test", "example.test", ".example.test\tTRUE"},
      {"a.example.test", "test", ""},
      {"a.example.test", "other.test", ""},
      {"a.example.test", "b.a.example.test", ""},
      {"notexample.test", "example.test", ""},
      {"www.example.co.uk", "co.uk", ""},
      {"www.example.co.uk", "example.co.uk", ".example.co.uk\tTRUE"},
      {"user.github.io", "github.io", ""},
      {"localhost", "localhost", "localhost\tFALSE"},
      {"test", "test", "test\tFALSE"},
  };
  for (const auto& c : cases) {
    CookieStore store;
    const std::string data = std::string("1; Domain=") + c.domain + "; path=/";
    EXPECT_EQ(store.Set({c.host}, "n", data), *c.stored != '\0') << c.host << " " << c.domain;
    const std::vector<std::string> lines = store.List();
    if (*c.stored == '\0') {
      EXPECT_TRUE(lines.empty()) << c.host << " " << c.domain;
    } else {
      EXPECT_EQ(lines, std::vector<std::string>{std::string(c.stored) + "\t/\tFALSE\t0\tn\t1"})
          << c.host << " " << c.domain;
    }
  }
}

TEST(CookieStoreTest, MalformedCookiesAreRefused) {
  CookieStore store;
  const std::string big(4093, 'x');
  for (const std::string& data : {std::string("a\x01") + "b", big, std::string("1; path=/\x7f")}) {
    EXPECT_FALSE(store.Set({"h.test"}, "name", data)) << data.size();
  }
  EXPECT_FALSE(store.Set({"h.test"}, "", "1"));
  EXPECT_FALSE(store.Set({"h.test"}, "a\nb", "1"));
  EXPECT_FALSE(store.Set({"h test"}, "a", "1"));
  EXPECT_TRUE(store.List().empty());
  EXPECT_TRUE(store.Set({"h.test"}, "tab", "a\tb"));
  EXPECT_EQ(store.List(), std::vector<std::string>{"h.test\tFALSE\t/\tFALSE\t0\ttab\ta b"});
}

TEST(CookieStoreTest, ARequestCarriesTheCookiesOfItsHostPathAndScheme) {
  CookieStore store;
  const CookieSource page{"www.example.test", "/files/list.php"};
  ASSERT_TRUE(store.Set(page, "here", "1"));  // default path: /files
  ASSERT_TRUE(store.Set(page, "domain", "2; Domain=example.test; path=/"));
  ASSERT_TRUE(store.Set(page, "deep", "3; path=/files/a"));
  ASSERT_TRUE(store.Set(page, "secure", "4; path=/; Secure"));
  ASSERT_TRUE(store.Set({"other.example.test"}, "own", "5"));
  ASSERT_TRUE(store.Set(page, "gone", "6; Max-Age=0"));
  const struct {
    const char* url;
    const char* line;
  } cases[] = {
      {"http://www.example.test/files/a/b", "deep=3; here=1; domain=2"},
      {"https://WWW.example.test:8443/files?x#y", "here=1; domain=2; secure=4"},
      {"http://www.example.test/filesx", "domain=2"},
      {"http://sub.www.example.test/files/", "domain=2"},
      {"http://example.test/", "domain=2"},
      {"http://other.example.test/", "domain=2; own=5"},
      {"http://example.com/", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(store.CookieHeader(c.url), c.line) << c.url;
  // A cookie set again keeps its place among the older ones.
  ASSERT_TRUE(store.Set(page, "here", "7"));
  EXPECT_EQ(store.CookieHeader("http://www.example.test/files"), "here=7; domain=2");
  ASSERT_TRUE(store.Set(page, "here", "x; Max-Age=0"));
  EXPECT_EQ(store.CookieHeader("http://www.example.test/files"), "domain=2");
}

TEST(CookieStoreTest, AnExchangeKeepsItsOwnCookiesAndTheOldestUnusedGoFirst) {
  CookieStore store;
  // Older cookies under /a and /b; a request to /a uses the first ones.
  SetMany(store, "127.0.0.1", "b", 100, "; path=/b");
  SetMany(store, "127.0.0.1", "a", 80, "; path=/a");
  EXPECT_EQ(store.List().size(), kCookiesPerDomain);
  EXPECT_NE(store.CookieHeader("http://127.0.0.1/a"), "");
  // One answer sets 200 at once: every one of them stays.
  SetMany(store, "127.0.0.1", "new", 200);
  EXPECT_EQ(Count(store, "\tnew"), 200);
  EXPECT_EQ(Count(store, "\tb"), 0);
  EXPECT_EQ(Count(store, "\ta"), 0);
  EXPECT_EQ(store.List().size(), 200u);
  // The next answer's own cookie stays too; the excess goes, oldest first.
  SetMany(store, "127.0.0.1", "sid", 1);
  EXPECT_EQ(store.List().size(), kCookiesPerDomain);
  EXPECT_EQ(Count(store, "\tsid0\t"), 1);
  EXPECT_EQ(Count(store, "\tnew0\t"), 0);
  EXPECT_EQ(Count(store, "\tnew199\t"), 1);
  EXPECT_NE(store.CookieHeader("http://127.0.0.1/").find("sid0=v"), std::string::npos);
}

TEST(CookieStoreTest, TheWholeStoreIsBoundedAndTheLeastRecentlyUsedGo) {
  CookieStore store;
  // One subdomain's cookies count with its registrable domain's.
  SetMany(store, "a.one.test", "x", 150);
  SetMany(store, "b.one.test", "y", 150);
  EXPECT_EQ(Count(store, "one.test"), static_cast<int>(kCookiesPerDomain));
  EXPECT_EQ(Count(store, "b.one.test"), 150);

  store.Clear();
  SetMany(store, "first.test", "f", 150);
  for (int d = 0; d < 20; ++d) {
    SetMany(store, ("d" + std::to_string(d) + ".test").c_str(), "c", 150);
    // The first domain's cookies are used all along.
    EXPECT_NE(store.CookieHeader("http://first.test/"), "");
  }
  EXPECT_EQ(store.List().size(), kCookiesInAll);
  EXPECT_EQ(Count(store, "first.test"), 150);
  EXPECT_EQ(Count(store, "d0.test\t"), 0);
  EXPECT_EQ(Count(store, "d19.test\t"), 150);
}

TEST(CookieStoreTest, AnOpenExchangesCookiesOutliveAnotherExchangesEnd) {
  CookieStore store;
  const std::uint64_t slow = store.BeginExchange();
  for (int i = 0; i < 200; ++i) store.Set({"127.0.0.1", "/", slow}, "s" + std::to_string(i), "v");
  SetMany(store, "127.0.0.1", "quick", 1);
  EXPECT_EQ(Count(store, "\ts"), 200);
  store.EndExchange(slow);
  EXPECT_EQ(store.List().size(), 200u);
}

}  // namespace
}  // namespace sorrel

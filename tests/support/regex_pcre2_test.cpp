// The regular-expression object over the PCRE2 engine: the input-field
// harvest, the dialect, replacement syntax and the bounds on hostile pages.
#include "support/regex_pcre2.h"

#include <gtest/gtest.h>

#include "support/regex_object.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

std::unique_ptr<RegexObject> Pcre2Object() {
  return std::make_unique<RegexObject>([] { return MakePcre2RegexEngine(); });
}

constexpr const char* kFieldPattern = R"re(<input.*name=\"(.+?)\".?value=\"(\s*|.+?)\")re";

std::vector<std::pair<Text, Text>> Harvest(RegexObject& regex, const Text& page) {
  std::vector<std::pair<Text, Text>> fields;
  if (!regex.Search(kFieldPattern, page)) return fields;
  for (int k = 1; k <= regex.MatchCount(); ++k) {
    fields.emplace_back(regex.SubMatchText(k, 1), regex.SubMatchText(k, 2));
  }
  return fields;
}

std::vector<Text> AllMatches(const RegexObject& regex) {
  std::vector<Text> matches;
  for (int k = 1; k <= regex.MatchCount(); ++k) matches.push_back(regex.MatchText(k));
  return matches;
}

// `count` lines of a page, one hidden field in each among ordinary markup.
Text RealisticPage(int count) {
  Text page = "<html><head><title>" + Utf8ToGbk("文件下载") + "</title></head><body>\n";
  for (int i = 0; i < count; ++i) {
    page += "<div class=\"row\"><p>" + Utf8ToGbk("说明文字") + " lorem ipsum " + std::to_string(i) +
            "</p></div>\n<input type=\"hidden\" name=\"f" + std::to_string(i) + "\" value=\"v" +
            std::to_string(i) + "\" />\n";
  }
  return page + "</body></html>\n";
}

Text HostileLine(size_t bytes) {
  Text line;
  while (line.size() < bytes) line += "<input name=\"";
  return line;
}

struct HarvestCase {
  std::string name;
  std::string page;  // UTF-8
  std::vector<std::pair<std::string, std::string>> fields;
};

TEST(RegexPcre2Test, HarvestsInputFields) {
  const std::vector<HarvestCase> cases = {
      {"one per line",
       "<form>\n<input type=\"hidden\" name=\"file_id\" value=\"123\">\n"
       "<input type=\"hidden\" name=\"hash_key\" value=\"k9\"/>\n</form>",
       {{"file_id", "123"}, {"hash_key", "k9"}}},
      {"two per line, the greedy start takes the last",
       "<input type=\"hidden\" name=\"a\" value=\"1\"><input type=\"hidden\" name=\"b\" "
       "value=\"2\">",
       {{"b", "2"}}},
      {"upper-case tags",
       "<INPUT TYPE=\"hidden\" NAME=\"authtype\" VALUE=\"x\">",
       {{"authtype", "x"}}},
      {"empty value", "<input name=\"hash_info\" value=\"\">", {{"hash_info", ""}}},
      {"blank value", "<input name=\"hash_info\" value=\"  \">", {{"hash_info", "  "}}},
      {"double-byte value", "<input name=\"n\" value=\"中文\">", {{"n", "中文"}}},
      {"CRLF lines",
       "<input name=\"a\" value=\"1\">\r\n<input name=\"b\" value=\"2\">\r\n",
       {{"a", "1"}, {"b", "2"}}},
      {"one character between name and value", "<input name=\"a\"/value=\"1\">", {{"a", "1"}}},
      {"no value", "<input name=\"a\">\n<input type=\"submit\">", {}},
      {"no fields", "<p>这个文件已到期或被删除</p>", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto regex = Pcre2Object();
    std::vector<std::pair<Text, Text>> expected;
    for (const auto& [name, value] : c.fields) {
      expected.emplace_back(Utf8ToGbk(name), Utf8ToGbk(value));
    }
    EXPECT_EQ(Harvest(*regex, Utf8ToGbk(c.page)), expected);
  }
}

TEST(RegexPcre2Test, PositionsAreByteOffsetsAfterDoubleByteText) {
  const auto regex = Pcre2Object();
  const Text page = Utf8ToGbk("标题：中文\n<input name=\"file_id\" value=\"值\">");
  ASSERT_TRUE(regex->Search(kFieldPattern, page));
  ASSERT_EQ(regex->MatchCount(), 1);
  int position = 0;
  EXPECT_EQ(regex->MatchText(1, &position), page.substr(11, page.size() - 12));
  EXPECT_EQ(position, 11);
  EXPECT_EQ(regex->SubMatchText(1, 1, &position), "file_id");
  EXPECT_EQ(position, static_cast<int>(page.find("file_id")));
  EXPECT_EQ(regex->SubMatchText(1, 2, &position), Utf8ToGbk("值"));
  EXPECT_EQ(position, static_cast<int>(page.size()) - 4);
}

struct DialectCase {
  std::string pattern;
  std::string subject;  // UTF-8
  bool caseSensitive;
  bool multiline;
  bool global;
  std::vector<std::string> matches;  // UTF-8
};

TEST(RegexPcre2Test, FollowsTheScriptEngineDialect) {
  const std::vector<DialectCase> cases = {
      {".", "a\r\nb", false, true, true, {"a", "\r", "b"}},
      {"^b", "a\nb", false, true, true, {"b"}},
      {"^b", "a\nb", false, false, true, {}},
      {"a$", "a\nb", false, true, true, {"a"}},
      {"a$", "a\nb", false, false, true, {}},
      {"b$", "ab\n", false, false, true, {}},
      {"a+?", "aaa", false, true, true, {"a", "a", "a"}},
      {"a+", "aaa", false, true, true, {"aaa"}},
      {"\\s+", "a \t\nb", false, true, true, {" \t\n"}},
      {"\\w+", "中文abc", false, true, true, {"abc"}},
      {"ABC", "xabcx", false, true, true, {"abc"}},
      {"ABC", "xabcx", true, true, true, {}},
      {"a", "aaa", false, true, false, {"a"}},
      {"x*", "abc", false, true, true, {"", "", "", ""}},
      {"\\u4E2D", "中文", false, true, true, {"中"}},
      {"\\x41", "A", true, true, true, {"A"}},
      {"[^]", "\n", false, true, true, {"\n"}},
      {"a[]", "a", false, true, true, {}},
      {"(a)?\\1b", "b", false, true, true, {"b"}},
      {"中.", "中文中", false, true, true, {"中文"}},
      {"(?x)a b # ends in a comment", "xab", false, true, true, {"ab"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern + " on " + c.subject);
    const auto regex = Pcre2Object();
    ASSERT_TRUE(regex->Search(Utf8ToGbk(c.pattern), Utf8ToGbk(c.subject), c.caseSensitive,
                              c.multiline, c.global));
    std::vector<Text> expected;
    for (const auto& m : c.matches) expected.push_back(Utf8ToGbk(m));
    EXPECT_EQ(AllMatches(*regex), expected);
  }
}

TEST(RegexPcre2Test, InvalidPatternsFail) {
  for (const char* pattern : {"(", "[a", "a{2,1}", "*a", "a)(b", "(?<n"}) {
    SCOPED_TRACE(pattern);
    const auto regex = Pcre2Object();
    EXPECT_FALSE(regex->Search(pattern, "a(b"));
    EXPECT_EQ(regex->MatchCount(), 0);
    EXPECT_EQ(regex->SubMatchCount(), 0);
    EXPECT_EQ(regex->ReplaceMatches("x"), "");
    EXPECT_EQ(regex->GetPattern(), pattern);
  }
}

TEST(RegexPcre2Test, GroupsAndTheirCount) {
  const auto regex = Pcre2Object();
  ASSERT_TRUE(regex->Search("(a)|(b)()", "ab"));
  EXPECT_EQ(regex->MatchCount(), 2);
  EXPECT_EQ(regex->SubMatchCount(), 3);
  EXPECT_EQ(regex->SubMatchText(1, 1), "a");
  EXPECT_EQ(regex->SubMatchText(1, 2), "");
  EXPECT_EQ(regex->SubMatchText(2, 1), "");
  EXPECT_EQ(regex->SubMatchText(2, 2), "b");
  EXPECT_EQ(regex->SubMatchText(2, 3), "");
  EXPECT_EQ(regex->SubMatchText(2, 4), "");
  EXPECT_EQ(regex->SubMatchText(3, 1), "");

  ASSERT_TRUE(regex->Search("(z)", "ab"));
  EXPECT_EQ(regex->MatchCount(), 0);
  EXPECT_EQ(regex->SubMatchCount(), 0);
  EXPECT_EQ(regex->MatchText(1), "");
}

TEST(RegexPcre2Test, CopyKeepsTheResultsOfItsSearch) {
  const auto regex = Pcre2Object();
  ASSERT_TRUE(regex->Search("(b+)", "abbc"));
  const auto copy = regex->Copy();
  ASSERT_TRUE(regex->Search("x", "xyz"));
  EXPECT_EQ(copy->MatchCount(), 1);
  int position = 0;
  EXPECT_EQ(copy->SubMatchText(1, 1, &position), "bb");
  EXPECT_EQ(position, 1);
  EXPECT_EQ(copy->ReplaceMatches("[$1]"), "a[bb]c");
  EXPECT_EQ(regex->ReplaceMatches("-"), "-yz");
}

struct ReplaceCase {
  std::string pattern;
  std::string subject;  // UTF-8
  bool global;
  std::string replacement;
  std::string expected;
};

TEST(RegexPcre2Test, ReplacementSyntax) {
  const std::vector<ReplaceCase> cases = {
      {"(\\w+)@(\\w+)", "joe@host", true, "$2 at $1", "host at joe"},
      {"b", "abc", true, "[$&]", "a[b]c"},
      {"b", "abc", true, "$$", "a$c"},
      {"b", "abc", true, "$`|$'", "aa|cc"},
      {"(b)", "abc", true, "$10", "ab0c"},
      {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "abcdefghij", true, "$10-$1", "j-a"},
      {"(x)?b", "abc", true, "[$1]", "a[]c"},
      {"b", "abc", true, "$0$9$", "a$0$9$c"},
      {"a", "aaa", false, "b", "baa"},
      {"a", "aaa", true, "b", "bbb"},
      {"A", "aA", true, "-", "--"},
      {"中", "中文中", true, "$&$&", "中中文中中"},
      {"x*", "ab", true, "-", "-a-b-"},
      {"q", "abc", true, "-", "abc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern + " -> " + c.replacement);
    const auto regex = Pcre2Object();
    ASSERT_TRUE(regex->Search(Utf8ToGbk(c.pattern), Utf8ToGbk(c.subject), false, true, c.global));
    EXPECT_EQ(regex->ReplaceMatches(Utf8ToGbk(c.replacement)), Utf8ToGbk(c.expected));
  }
}

TEST(RegexPcre2Test, ALargeRealisticPageIsHarvestedWhole) {
  const auto regex = Pcre2Object();
  const Text page = RealisticPage(10000);
  ASSERT_GT(page.size(), 1000000u);
  const auto fields = Harvest(*regex, page);
  ASSERT_EQ(fields.size(), 10000u);
  EXPECT_EQ(fields.back(), std::make_pair(Text("f9999"), Text("v9999")));
}

TEST(RegexPcre2Test, AnAttemptOutOfStepsCostsOnlyItsLine) {
  const auto regex = Pcre2Object();
  EXPECT_TRUE(regex->Search(kFieldPattern, HostileLine(1 << 20)));
  EXPECT_EQ(regex->MatchCount(), 0);

  const Text page = "<input name=\"a\" value=\"1\">\n" + HostileLine(1 << 20) +
                    "\n<input name=\"b\" value=\"2\">\n";
  EXPECT_EQ(Harvest(*regex, page), (std::vector<std::pair<Text, Text>>{{"a", "1"}, {"b", "2"}}));

  // The steps of the attempts before the costly one do not count against it.
  Pcre2Limits fewSteps;
  fewSteps.matchLimit = 20'000;
  RegexObject stepped([fewSteps] { return MakePcre2RegexEngine(fewSteps); });
  Text cheap;
  for (int i = 0; i < 2000; ++i) cheap += "<input name=\"x\">\n";
  EXPECT_EQ(Harvest(stepped, cheap + HostileLine(4000) + "\n<input name=\"b\" value=\"2\">"),
            (std::vector<std::pair<Text, Text>>{{"b", "2"}}));
  EXPECT_EQ(Harvest(stepped, "<input name=\"c\" value=\"3\">" + HostileLine(4000)),
            (std::vector<std::pair<Text, Text>>{}));
}

TEST(RegexPcre2Test, ManyHostileLinesEnd) {
  Text page;
  while (page.size() < (1u << 20)) page += HostileLine(2000) + "\n";
  const auto regex = Pcre2Object();
  EXPECT_TRUE(regex->Search(kFieldPattern, page));
  EXPECT_EQ(regex->MatchCount(), 0);
  EXPECT_EQ(regex->ReplaceMatches("x"), page);
}

TEST(RegexPcre2Test, LimitsOfTheWholeScanStopItKeepingEarlierMatches) {
  auto objectWith = [](Pcre2Limits limits) {
    return RegexObject([limits] { return MakePcre2RegexEngine(limits); });
  };
  const Text page = "<input name=\"a\" value=\"1\">\n<input name=\"b\" value=\"2\">\n";

  Pcre2Limits noTime;
  noTime.scanBudget = std::chrono::microseconds(0);
  RegexObject timed = objectWith(noTime);
  EXPECT_TRUE(timed.Search(kFieldPattern, page));
  EXPECT_EQ(timed.MatchCount(), 0);
  EXPECT_EQ(timed.ReplaceMatches("x"), page);

  // Every attempt runs out of steps: every line is left without a match.
  Pcre2Limits fewSteps;
  fewSteps.matchLimit = 1;
  RegexObject stepped = objectWith(fewSteps);
  EXPECT_TRUE(stepped.Search(kFieldPattern, page));
  EXPECT_EQ(stepped.MatchCount(), 0);
  EXPECT_EQ(stepped.ReplaceMatches("x"), page);

  Pcre2Limits fewOffsets;
  fewOffsets.maxStoredOffsets = 6;
  RegexObject stored = objectWith(fewOffsets);
  EXPECT_TRUE(stored.Search(kFieldPattern, page));
  EXPECT_EQ(stored.MatchCount(), 1);
  EXPECT_EQ(stored.SubMatchText(1, 1), "a");
}

}  // namespace
}  // namespace sorrel

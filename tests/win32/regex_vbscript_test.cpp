// The regular-expression object over the system's VBScript.RegExp object:
// the members it drives by name, the 1-based numbering, and the byte
// positions in GBK text.
#include "support/regex_vbscript.h"

#include <gtest/gtest.h>

#include "support/regex_object.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

constexpr const char* kFieldPattern = R"re(<input.*name=\"(.+?)\".?value=\"(\s*|.+?)\")re";

std::vector<Text> AllMatches(const RegexObject& regex) {
  std::vector<Text> matches;
  for (int k = 1; k <= regex.MatchCount(); ++k) matches.push_back(regex.MatchText(k));
  return matches;
}

class VbScriptRegexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MakeVbScriptRegexEngine(nullptr)) GTEST_SKIP() << "VBScript.RegExp is not registered";
  }
  // Opens COM on the test's thread for as long as the object lives.
  std::shared_ptr<ComApartment> apartment_ = std::make_shared<ComApartment>();
  std::unique_ptr<RegexObject> regex_ =
      std::make_unique<RegexObject>([a = apartment_] { return MakeVbScriptRegexEngine(a); });
};

TEST_F(VbScriptRegexTest, HarvestsTheHiddenFieldsOfAFilePage) {
  const Text page =
      "<form>\n<input type=\"hidden\" name=\"file_id\" value=\"123\">\n"
      "<input type=\"hidden\" name=\"hash_key\" value=\"\"/>\n"
      "<INPUT type=\"hidden\" name=\"authtype\" value=\"0\">\n</form>";
  ASSERT_TRUE(regex_->Search(kFieldPattern, page));
  ASSERT_EQ(regex_->MatchCount(), 3);
  EXPECT_EQ(regex_->SubMatchCount(), 2);
  const std::vector<std::pair<Text, Text>> expected = {
      {"file_id", "123"}, {"hash_key", ""}, {"authtype", "0"}};
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(regex_->SubMatchText(k, 1), expected[k - 1].first);
    EXPECT_EQ(regex_->SubMatchText(k, 2), expected[k - 1].second);
  }
}

TEST_F(VbScriptRegexTest, FlagsReachTheEngine) {
  struct Case {
    const char* pattern;
    Text subject;
    std::optional<bool> caseSensitive, multiline, global;
    std::vector<Text> matches;
  };
  const std::vector<Case> cases = {
      {"ab", "AB ab", {}, {}, {}, {"AB", "ab"}},     {"ab", "AB ab", true, {}, {}, {"ab"}},
      {"ab", "ab ab ab", {}, {}, false, {"ab"}},     {"^x.", "xa\nxb", {}, {}, {}, {"xa", "xb"}},
      {"^x.", "xa\nxb", {}, false, {}, {"xa"}},      {"a.b", "a\nb", {}, {}, {}, {}},
      {"a\\s+?b", "a \t b", {}, {}, {}, {"a \t b"}}, {"zzz", "abc", {}, {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    ASSERT_TRUE(regex_->Search(c.pattern, c.subject, c.caseSensitive, c.multiline, c.global));
    EXPECT_EQ(AllMatches(*regex_), c.matches);
    EXPECT_EQ(regex_->GetPattern(), c.pattern);
  }
}

TEST_F(VbScriptRegexTest, GroupsThatTookNoPartAndNumbersOutOfRangeAreEmpty) {
  ASSERT_TRUE(regex_->Search("(a)|(b)()", "b"));
  ASSERT_EQ(regex_->MatchCount(), 1);
  EXPECT_EQ(regex_->SubMatchCount(), 3);
  EXPECT_EQ(regex_->SubMatchText(1, 1), "");
  EXPECT_EQ(regex_->SubMatchText(1, 2), "b");
  EXPECT_EQ(regex_->SubMatchText(1, 3), "");
  for (const auto& [match, group] : {std::pair{0, 1}, {2, 1}, {1, 0}, {1, 4}}) {
    EXPECT_EQ(regex_->SubMatchText(match, group), "") << match << "," << group;
  }
  EXPECT_EQ(regex_->MatchText(0), "");
  EXPECT_EQ(regex_->MatchText(2), "");
}

TEST_F(VbScriptRegexTest, InvalidPatternFailsAndNoMatchGivesNoGroups) {
  EXPECT_FALSE(regex_->Search("(unclosed", "text"));
  EXPECT_EQ(regex_->MatchCount(), 0);
  EXPECT_EQ(regex_->SubMatchCount(), 0);
  ASSERT_TRUE(regex_->Search("(x)(y)", "abc"));
  EXPECT_EQ(regex_->MatchCount(), 0);
  EXPECT_EQ(regex_->SubMatchCount(), 0);
}

TEST_F(VbScriptRegexTest, PositionsAreByteOffsetsInGbkText) {
  const Text subject = Utf8ToGbk("中文中文") + "key=" + Utf8ToGbk("值") + ";";
  ASSERT_TRUE(regex_->Search("key=(.+?);", subject));
  int position = -1;
  EXPECT_EQ(regex_->MatchText(1, &position), "key=" + Utf8ToGbk("值") + ";");
  EXPECT_EQ(position, 8);
  EXPECT_EQ(regex_->SubMatchText(1, 1, &position), Utf8ToGbk("值"));
  EXPECT_EQ(position, 12);
}

TEST_F(VbScriptRegexTest, ReplaceUsesTheEngineSyntaxOnTheLastSubject) {
  ASSERT_TRUE(regex_->Search("(\\w+)@(\\w+)", "ann@host, bob@site"));
  EXPECT_EQ(regex_->ReplaceMatches("$2:$1"), "host:ann, site:bob");
  ASSERT_TRUE(regex_->Search("o", "foo", {}, {}, false));
  EXPECT_EQ(regex_->ReplaceMatches("0"), "f0o");
}

TEST_F(VbScriptRegexTest, CopiesShareResultsThatOutliveTheOriginal) {
  ASSERT_TRUE(regex_->Search("\\d+", "a1 b22 c333"));
  std::unique_ptr<RegexObject> copy = regex_->Copy();
  regex_->Destroy();
  regex_.reset();
  EXPECT_EQ(AllMatches(*copy), (std::vector<Text>{"1", "22", "333"}));
}

}  // namespace
}  // namespace sorrel

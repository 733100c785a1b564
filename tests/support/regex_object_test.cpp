// The regular-expression object over a scripted engine: conversions, index
// and position conventions, and the failure rules.
#include "support/regex_object.h"

#include <gtest/gtest.h>

#include <climits>

#include "fake_regex_engine.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

using test::EngineLog;
using test::ScriptedEngine;
using test::ScriptedMatch;

class RegexObjectTest : public ::testing::Test {
 protected:
  RegexObject::EngineFactory Factory() {
    return [this]() -> std::unique_ptr<RegexEngine> {
      logs_.push_back(std::make_shared<EngineLog>());
      return std::make_unique<ScriptedEngine>(logs_.back(), script_);
    };
  }
  EngineLog& LastLog() { return *logs_.back(); }

  std::vector<std::shared_ptr<EngineLog>> logs_;
  std::vector<ScriptedMatch> script_;
};

TEST_F(RegexObjectTest, SearchWritesTheOptionsInOrderWithTheirDefaults) {
  RegexObject regex(Factory());
  ASSERT_TRUE(regex.Search(Utf8ToGbk("名(.)"), Utf8ToGbk("中文")));
  EXPECT_EQ(LastLog().calls,
            (std::vector<std::string>{"IgnoreCase", "Multiline", "Global", "Pattern", "Execute"}));
  EXPECT_TRUE(LastLog().ignoreCase);
  EXPECT_TRUE(LastLog().multiline);
  EXPECT_TRUE(LastLog().global);
  EXPECT_EQ(LastLog().pattern, u"名(.)");
  EXPECT_EQ(LastLog().subject, u"中文");

  ASSERT_TRUE(regex.Search("a", "b", true, false, false));
  EXPECT_FALSE(LastLog().ignoreCase);
  EXPECT_FALSE(LastLog().multiline);
  EXPECT_FALSE(LastLog().global);
  EXPECT_EQ(regex.GetPattern(), "a");
}

TEST_F(RegexObjectTest, EverySearchRunsOnAFreshEngineAndReplacesTheLastResult) {
  RegexObject regex(Factory());
  script_ = {{u"one", 0, {u"o"}}, {u"two", 4, {}}};
  ASSERT_TRUE(regex.Search("first", "one two"));
  EXPECT_EQ(regex.MatchCount(), 2);
  script_ = {{u"x", 1, {}}};
  ASSERT_TRUE(regex.Search("second", "axb"));
  ASSERT_EQ(logs_.size(), 2u);
  EXPECT_TRUE(logs_[0]->destroyed);
  EXPECT_EQ(regex.MatchCount(), 1);
  EXPECT_EQ(regex.MatchText(1), "x");
  EXPECT_EQ(regex.MatchText(2), "");
  EXPECT_EQ(regex.SubMatchCount(), 0);
  EXPECT_EQ(regex.GetPattern(), "second");
  EXPECT_EQ(regex.ReplaceMatches("r"), "<second|axb|r>");
}

struct PositionCase {
  std::string name;
  std::string subject;  // UTF-8, converted to GBK
  ScriptedMatch match;
  bool caseSensitive;
  int expected;
};

TEST_F(RegexObjectTest, MatchPositionIsTheByteOffsetFoundFromTheEngineIndex) {
  const std::vector<PositionCase> cases = {
      {"ascii", "xxabc", {u"abc", 2, {}}, false, 2},
      {"after double-byte text", "中文abc", {u"abc", 2, {}}, false, 4},
      {"same text earlier in the gap", "中文abc中abc", {u"abc", 6, {}}, false, 9},
      {"double-byte match", "ab中文", {u"中文", 2, {}}, false, 2},
      // The search from the engine's index ignores ASCII case exactly when
      // the engine did not, so a case variant in the gap is taken instead.
      {"case-sensitive search, variant in gap", "中中AbCabc", {u"abc", 5, {}}, true, 4},
      {"case-insensitive search, variant in gap", "中中AbCabc", {u"abc", 5, {}}, false, 7},
      {"text not in subject", "abc", {u"zzz", 0, {}}, false, -2},
      {"empty match in a non-empty rest", "abc", {u"", 2, {}}, false, 0},
      {"empty match at the end", "abc", {u"", 3, {}}, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    script_ = {c.match};
    RegexObject regex(Factory());
    ASSERT_TRUE(regex.Search("p", Utf8ToGbk(c.subject), c.caseSensitive));
    int position = 12345;
    EXPECT_EQ(regex.MatchText(1, &position), EncodeCodePage(c.match.value, kCodePageGbk));
    EXPECT_EQ(position, c.expected);
  }
}

TEST_F(RegexObjectTest, GroupsAreOneBasedAndPositionedFromTheirMatch) {
  script_ = {{u"k=v", 0, {u"k", u"v"}}, {u"名=值", 5, {u"名", std::nullopt}}};
  RegexObject regex(Factory());
  ASSERT_TRUE(regex.Search("p", Utf8ToGbk("k=v; 名=值")));
  EXPECT_EQ(regex.SubMatchCount(), 2);

  int position = 0;
  EXPECT_EQ(regex.SubMatchText(1, 1, &position), "k");
  EXPECT_EQ(position, 0);
  EXPECT_EQ(regex.SubMatchText(1, 2, &position), "v");
  EXPECT_EQ(position, 2);
  EXPECT_EQ(regex.SubMatchText(2, 1, &position), Utf8ToGbk("名"));
  EXPECT_EQ(position, 5);
  // A group that took no part is empty text, found at once from the match.
  EXPECT_EQ(regex.SubMatchText(2, 2, &position), "");
  EXPECT_EQ(position, 0);
}

TEST_F(RegexObjectTest, OutOfRangeNumbersGiveEmptyText) {
  script_ = {{u"ab", 1, {u"b"}}};
  RegexObject regex(Factory());
  ASSERT_TRUE(regex.Search("p", "xab"));
  struct Case {
    int match;
    int group;
  };
  for (const Case c : {Case{0, 1}, Case{2, 1}, Case{-1, 1}, Case{INT_MIN, 1}, Case{1, 0},
                       Case{1, 2}, Case{1, INT_MIN}, Case{INT_MAX, INT_MAX}}) {
    SCOPED_TRACE(std::to_string(c.match) + "," + std::to_string(c.group));
    int position = 12345;
    EXPECT_EQ(regex.SubMatchText(c.match, c.group, &position), "");
    EXPECT_EQ(position, 0);
  }
  for (const int index : {0, 2, -1, INT_MIN, INT_MAX}) {
    int position = 12345;
    EXPECT_EQ(regex.MatchText(index, &position), "");
    EXPECT_EQ(position, 0);
  }
}

TEST_F(RegexObjectTest, InvalidPatternFailsButKeepsTheNewSubject) {
  script_ = {{u"a", 0, {}}};
  RegexObject regex(Factory());
  ASSERT_TRUE(regex.Search("a", "a"));
  EXPECT_FALSE(regex.Search("(", "new subject"));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.MatchText(1), "");
  EXPECT_EQ(regex.SubMatchCount(), 0);
  EXPECT_EQ(regex.GetPattern(), "(");
  EXPECT_EQ(regex.ReplaceMatches("x"), "");
  EXPECT_EQ(LastLog().calls.back(), "Replace");
}

TEST_F(RegexObjectTest, WithoutAnEngineEverythingIsEmpty) {
  int made = 0;
  RegexObject regex([&made]() -> std::unique_ptr<RegexEngine> {
    ++made;
    return nullptr;
  });
  EXPECT_FALSE(regex.Search("a", "a"));
  EXPECT_FALSE(regex.Search("a", "a"));
  EXPECT_EQ(made, 2);
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.SubMatchCount(), 0);
  EXPECT_EQ(regex.GetPattern(), "");
  EXPECT_EQ(regex.ReplaceMatches("b"), "");
  int position = 7;
  EXPECT_EQ(regex.MatchText(1, &position), "");
  EXPECT_EQ(position, 0);

  RegexObject throwing([]() -> std::unique_ptr<RegexEngine> { throw std::runtime_error("no"); });
  EXPECT_FALSE(throwing.Search("a", "a"));
}

TEST_F(RegexObjectTest, ReplaceWorksOnTheStoredSubjectAndConvertsBothWays) {
  RegexObject regex(Factory());
  EXPECT_EQ(regex.ReplaceMatches("x"), "");
  ASSERT_TRUE(regex.Search(Utf8ToGbk("文"), Utf8ToGbk("中文")));
  EXPECT_EQ(regex.ReplaceMatches(Utf8ToGbk("字")), Utf8ToGbk("<文|中文|字>"));
  EXPECT_EQ(LastLog().replacement, u"字");
}

TEST_F(RegexObjectTest, CopySharesTheEngineAndMatchesButOwnsItsSubject) {
  script_ = {{u"b", 1, {u"b"}}};
  RegexObject regex(Factory());
  ASSERT_TRUE(regex.Search("b", "abc"));
  const auto copy = regex.Copy();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(logs_.size(), 1u);

  script_ = {};
  ASSERT_TRUE(regex.Search("z", "zzz"));
  EXPECT_EQ(regex.MatchCount(), 0);
  // The first engine lives on in the copy, with the first search's results.
  EXPECT_FALSE(logs_[0]->destroyed);
  EXPECT_EQ(copy->GetPattern(), "b");
  EXPECT_EQ(copy->MatchCount(), 1);
  int position = 0;
  EXPECT_EQ(copy->SubMatchText(1, 1, &position), "b");
  EXPECT_EQ(position, 1);
  EXPECT_EQ(copy->ReplaceMatches("r"), "<b|abc|r>");

  copy->Destroy();
  EXPECT_TRUE(logs_[0]->destroyed);
  EXPECT_EQ(regex.GetPattern(), "z");
}

TEST_F(RegexObjectTest, DestroyReleasesEverything) {
  script_ = {{u"a", 0, {}}};
  RegexObject regex(Factory());
  ASSERT_TRUE(regex.Search("a", "a"));
  regex.Destroy();
  EXPECT_TRUE(LastLog().destroyed);
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.GetPattern(), "");
  EXPECT_EQ(regex.ReplaceMatches("b"), "");
  int position = 0;
  EXPECT_EQ(regex.MatchText(1, &position), "");
  EXPECT_EQ(position, -2);
  regex.Destroy();
}

}  // namespace
}  // namespace sorrel

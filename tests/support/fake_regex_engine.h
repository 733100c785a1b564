// A scripted RegexEngine: it returns the matches a test gives it and records
// what the regular-expression object asked of it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/regex_engine.h"

namespace sorrel::test {

struct ScriptedMatch {
  std::u16string value;
  long firstIndex = 0;
  std::vector<std::optional<std::u16string>> groups;
};

// What one engine saw; shared with the test so it outlives the engine.
struct EngineLog {
  std::vector<std::string> calls;
  std::u16string pattern;
  std::u16string subject;
  std::u16string replacement;
  bool ignoreCase = false;
  bool multiline = false;
  bool global = false;
  bool destroyed = false;
};

class ScriptedSubMatches : public RegexSubMatches {
 public:
  explicit ScriptedSubMatches(std::vector<std::optional<std::u16string>> groups)
      : groups_(std::move(groups)) {}
  int Count() const override { return static_cast<int>(groups_.size()); }
  std::optional<std::u16string> Item(int index) const override {
    if (index < 0 || index >= Count()) return std::nullopt;
    return groups_[static_cast<size_t>(index)];
  }

 private:
  std::vector<std::optional<std::u16string>> groups_;
};

class ScriptedMatchItem : public RegexMatch {
 public:
  explicit ScriptedMatchItem(ScriptedMatch match) : match_(std::move(match)) {}
  std::u16string Value() const override { return match_.value; }
  long FirstIndex() const override { return match_.firstIndex; }
  std::shared_ptr<const RegexSubMatches> SubMatches() const override {
    return std::make_shared<ScriptedSubMatches>(match_.groups);
  }

 private:
  ScriptedMatch match_;
};

class ScriptedCollection : public RegexMatchCollection {
 public:
  explicit ScriptedCollection(std::vector<ScriptedMatch> matches) : matches_(std::move(matches)) {}
  int Count() const override { return static_cast<int>(matches_.size()); }
  std::shared_ptr<const RegexMatch> Item(int index) const override {
    if (index < 0 || index >= Count()) return nullptr;
    return std::make_shared<ScriptedMatchItem>(matches_[static_cast<size_t>(index)]);
  }

 private:
  std::vector<ScriptedMatch> matches_;
};

// Execute fails for the pattern "(" and otherwise returns `matches`; Replace
// returns "<pattern|subject|replacement>".
class ScriptedEngine : public RegexEngine {
 public:
  ScriptedEngine(std::shared_ptr<EngineLog> log, std::vector<ScriptedMatch> matches)
      : log_(std::move(log)), matches_(std::move(matches)) {}
  ~ScriptedEngine() override { log_->destroyed = true; }

  void SetIgnoreCase(bool value) override {
    log_->calls.push_back("IgnoreCase");
    log_->ignoreCase = value;
  }
  bool IgnoreCase() const override { return log_->ignoreCase; }
  void SetMultiline(bool value) override {
    log_->calls.push_back("Multiline");
    log_->multiline = value;
  }
  void SetGlobal(bool value) override {
    log_->calls.push_back("Global");
    log_->global = value;
  }
  void SetPattern(std::u16string_view pattern) override {
    log_->calls.push_back("Pattern");
    log_->pattern = pattern;
  }
  std::u16string Pattern() const override { return log_->pattern; }
  std::shared_ptr<const RegexMatchCollection> Execute(std::u16string_view subject) override {
    log_->calls.push_back("Execute");
    log_->subject = subject;
    if (log_->pattern == u"(") return nullptr;
    return std::make_shared<ScriptedCollection>(matches_);
  }
  std::optional<std::u16string> Replace(std::u16string_view subject,
                                        std::u16string_view replacement) override {
    log_->calls.push_back("Replace");
    log_->replacement = replacement;
    if (log_->pattern == u"(") return std::nullopt;
    return u"<" + log_->pattern + u"|" + std::u16string(subject) + u"|" +
           std::u16string(replacement) + u">";
  }

 private:
  std::shared_ptr<EngineLog> log_;
  std::vector<ScriptedMatch> matches_;
};

}  // namespace sorrel::test

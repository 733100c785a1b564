// The program's regular-expression object. It does no matching itself: it
// drives a RegexEngine, keeps the match collection of the last search and a
// copy of the text searched, and translates between code page 936 and the
// engine's UTF-16.
//
// Match and group numbers are 1-based; reported positions are 0-based byte
// offsets into the searched text. No operation throws or shows a message:
// failures give empty text, 0, false or -2.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "support/regex_engine.h"
#include "text/text.h"

namespace sorrel {

class RegexObject {
 public:
  using EngineFactory = std::function<std::unique_ptr<RegexEngine>()>;

  // The factory is called on every Search: each search runs on a fresh
  // engine. A factory that gives null makes every Search fail.
  explicit RegexObject(EngineFactory engineFactory);
  ~RegexObject();
  RegexObject(const RegexObject&) = delete;
  RegexObject& operator=(const RegexObject&) = delete;

  // Searches `subject`. Defaults: case-insensitive, multiline, global. True
  // when the engine produced a match collection, even an empty one; false
  // for an invalid pattern or a missing engine.
  bool Search(const Text& pattern, const Text& subject, std::optional<bool> caseSensitive = {},
              std::optional<bool> multiline = {}, std::optional<bool> global = {});
  int MatchCount() const;
  // Text of match `index`. `position` receives its byte offset in the
  // searched text, or -2 when the text is not found there.
  Text MatchText(int index, int* position = nullptr) const;
  // Text of group `groupIndex` of match `matchIndex`; empty for a group that
  // took no part. `position` as for MatchText, searched from the match.
  Text SubMatchText(int matchIndex, int groupIndex, int* position = nullptr) const;
  // Number of groups of the first match; 0 when nothing matched.
  int SubMatchCount() const;
  Text GetPattern() const;
  // The searched text with the last pattern's matches replaced.
  Text ReplaceMatches(const Text& replacement) const;
  // A new object sharing this one's engine and match collection, with its
  // own copy of the searched text.
  std::unique_ptr<RegexObject> Copy() const;
  // Releases the engine, the collection and the text.
  void Destroy();

 private:
  std::shared_ptr<const RegexMatch> MatchAt(int index) const;
  int Locate(const Text& found, long firstIndex) const;

  EngineFactory engineFactory_;
  std::shared_ptr<RegexEngine> engine_;
  std::shared_ptr<const RegexMatchCollection> matches_;
  Text subject_;
};

}  // namespace sorrel

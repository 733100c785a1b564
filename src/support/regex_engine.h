// The regular-expression engine behind RegexObject, shaped like the members
// of the scriptable engine that the Windows build drives by name: the
// IgnoreCase, Multiline, Global and Pattern properties, Execute returning a
// match collection, and Replace. Texts are UTF-16; offsets count UTF-16 units.
//
// Collections and matches are handed out as shared references: they stay
// valid after the engine is gone, and copies of the owner share them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace sorrel {

// The capture-group texts of one match.
class RegexSubMatches {
 public:
  virtual ~RegexSubMatches() = default;
  virtual int Count() const = 0;
  // Group `index` (0-based). Absent when the index is out of range or the
  // group took no part in the match.
  virtual std::optional<std::u16string> Item(int index) const = 0;
};

class RegexMatch {
 public:
  virtual ~RegexMatch() = default;
  virtual std::u16string Value() const = 0;
  // 0-based start of the match in UTF-16 units.
  virtual long FirstIndex() const = 0;
  // Null when the engine cannot produce them.
  virtual std::shared_ptr<const RegexSubMatches> SubMatches() const = 0;
};

class RegexMatchCollection {
 public:
  virtual ~RegexMatchCollection() = default;
  virtual int Count() const = 0;
  // Match `index` (0-based); null when out of range.
  virtual std::shared_ptr<const RegexMatch> Item(int index) const = 0;
};

class RegexEngine {
 public:
  virtual ~RegexEngine() = default;

  // Failed writes are ignored by the caller; reads give false or empty text
  // when the engine cannot answer.
  virtual void SetIgnoreCase(bool value) = 0;
  virtual bool IgnoreCase() const = 0;
  virtual void SetMultiline(bool value) = 0;
  virtual void SetGlobal(bool value) = 0;
  virtual void SetPattern(std::u16string_view pattern) = 0;
  virtual std::u16string Pattern() const = 0;

  // Every match (Global) or the first one. Null when the pattern is invalid
  // or the call fails; an empty collection when nothing matched.
  virtual std::shared_ptr<const RegexMatchCollection> Execute(std::u16string_view subject) = 0;
  // `subject` with the matches replaced, in the engine's replacement syntax.
  // Absent when the pattern is invalid or the call fails.
  virtual std::optional<std::u16string> Replace(std::u16string_view subject,
                                                std::u16string_view replacement) = 0;
};

}  // namespace sorrel

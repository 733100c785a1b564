#include "support/regex_object.h"

#include <climits>
#include <utility>

#include "text/codepage.h"

namespace sorrel {

namespace {

std::u16string ToEngine(const Text& text) { return DecodeCodePage(text, kCodePageAnsi); }

Text FromEngine(std::u16string_view text) { return EncodeCodePage(text, kCodePageAnsi); }

// Engine indexes are 0-based; anything that cannot be one maps to -1, which
// every collection rejects.
int EngineIndex(int index) { return index >= 1 ? index - 1 : -1; }

}  // namespace

RegexObject::RegexObject(EngineFactory engineFactory) : engineFactory_(std::move(engineFactory)) {}

RegexObject::~RegexObject() { Destroy(); }

void RegexObject::Destroy() {
  engine_.reset();
  matches_.reset();
  subject_.clear();
  subject_.shrink_to_fit();
}

std::unique_ptr<RegexObject> RegexObject::Copy() const {
  auto copy = std::make_unique<RegexObject>(engineFactory_);
  copy->engine_ = engine_;
  copy->matches_ = matches_;
  copy->subject_ = subject_;
  return copy;
}

bool RegexObject::Search(const Text& pattern, const Text& subject,
                         std::optional<bool> caseSensitive, std::optional<bool> multiline,
                         std::optional<bool> global) {
  engine_.reset();
  try {
    if (engineFactory_) engine_ = engineFactory_();
  } catch (...) {
    engine_.reset();
  }

  std::shared_ptr<const RegexMatchCollection> found;
  if (engine_) {
    engine_->SetIgnoreCase(!caseSensitive.value_or(false));
    engine_->SetMultiline(multiline.value_or(true));
    engine_->SetGlobal(global.value_or(true));
    engine_->SetPattern(ToEngine(pattern));
    found = engine_->Execute(ToEngine(subject));
  }
  matches_ = std::move(found);
  subject_ = subject;
  return matches_ != nullptr;
}

std::shared_ptr<const RegexMatch> RegexObject::MatchAt(int index) const {
  if (!matches_) return nullptr;
  return matches_->Item(EngineIndex(index));
}

// The engine reports where a match starts in UTF-16 units. A double-byte
// character is one unit but two bytes, so that start, taken as a 1-based
// byte position, never lies after the match: the first occurrence of the
// text from there is the match itself. The comparison ignores ASCII case
// exactly when the engine did not, as it always has.
int RegexObject::Locate(const Text& found, long firstIndex) const {
  const int start = firstIndex > INT_MAX ? INT_MAX
                    : firstIndex < 0     ? 0
                                         : static_cast<int>(firstIndex);
  const bool engineIgnoresCase = engine_ ? engine_->IgnoreCase() : false;
  const int at = Find(subject_, found, start, !engineIgnoresCase);
  return at > 0 ? at - 1 : -2;
}

int RegexObject::MatchCount() const { return matches_ ? matches_->Count() : 0; }

Text RegexObject::MatchText(int index, int* position) const {
  Text value;
  long firstIndex = 0;
  if (const auto match = MatchAt(index)) {
    value = FromEngine(match->Value());
    firstIndex = match->FirstIndex();
  }
  if (position) *position = Locate(value, firstIndex);
  return value;
}

Text RegexObject::SubMatchText(int matchIndex, int groupIndex, int* position) const {
  Text value;
  long firstIndex = 0;
  if (const auto match = MatchAt(matchIndex)) {
    firstIndex = match->FirstIndex();
    if (const auto groups = match->SubMatches()) {
      if (const auto group = groups->Item(EngineIndex(groupIndex))) value = FromEngine(*group);
    }
  }
  if (position) *position = Locate(value, firstIndex);
  return value;
}

int RegexObject::SubMatchCount() const {
  const auto first = MatchAt(1);
  if (!first) return 0;
  const auto groups = first->SubMatches();
  return groups ? groups->Count() : 0;
}

Text RegexObject::GetPattern() const { return engine_ ? FromEngine(engine_->Pattern()) : Text(); }

Text RegexObject::ReplaceMatches(const Text& replacement) const {
  if (!engine_) return {};
  const auto replaced = engine_->Replace(ToEngine(subject_), ToEngine(replacement));
  return replaced ? FromEngine(*replaced) : Text();
}

}  // namespace sorrel

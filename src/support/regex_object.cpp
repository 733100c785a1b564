#include "support/regex_object.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <string>
#include <utility>

#include "text/codepage.h"

namespace sorrel {

namespace {

// Lead bytes of code page 936; 0x80 and 0xFF stand alone.
bool IsPairLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

// The UTF-16 unit of every well-formed double-byte character of code page
// 936, as the converter gives it; 0 where a pair is not one character.
// Code page 936 is stateless, so a pair means the same wherever it stands.
// A lead byte's row is filled when the row is first needed.
class PairTable {
 public:
  static constexpr std::size_t kRows = 0xFE - 0x81 + 1;

  // The row of `lead`, indexed by the trail byte.
  const char16_t* RowOf(unsigned char lead) {
    Row& row = rows_[lead - 0x81];
    std::call_once(row.filled, [&] { Fill(lead, row.units); });
    return row.units;
  }

 private:
  struct Row {
    std::once_flag filled;
    char16_t units[256] = {};
  };

  // One conversion per lead byte: every pair followed by a line feed, which
  // no pair contains and which ends any broken sequence.
  static void Fill(unsigned lead, char16_t* units) {
    std::string text;
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      text += static_cast<char>(lead);
      text += static_cast<char>(trail);
      text += '\n';
    }
    const std::u16string wide = DecodeCodePage(text, kCodePageAnsi);
    std::size_t at = 0;
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      const std::size_t lineEnd = wide.find(u'\n', at);
      if (lineEnd == std::u16string::npos) break;
      if (lineEnd == at + 1 && wide[at] != u'\xFFFD') units[trail] = wide[at];
      at = lineEnd + 1;
    }
  }

  Row rows_[kRows];
};

PairTable& Pairs() {
  static PairTable table;
  return table;
}

// What DecodeCodePage gives for the whole text, without its cost per byte
// (over 1 ms per megabyte): ASCII maps unit for unit and well-formed pairs
// through the table. Anything else goes to the converter in a stretch that
// ends before an ASCII byte starting a character; a lead byte always takes
// the byte after it, so a broken pair is converted with its lead exactly as
// in one conversion of the whole text.
std::u16string ToEngine(const Text& text) {
  PairTable& pairs = Pairs();
  const char16_t* rows[PairTable::kRows] = {};
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  // Never more units than bytes: a pair gives one, a malformed byte one.
  std::u16string wide(n, u'\0');
  std::size_t w = 0;
  std::size_t i = 0;
  while (i < n) {
    while (i < n && bytes[i] < 0x80) wide[w++] = static_cast<char16_t>(bytes[i++]);
    if (i == n) break;
    if (IsPairLead(bytes[i]) && i + 1 < n) {
      const char16_t*& row = rows[bytes[i] - 0x81];
      if (row == nullptr) row = pairs.RowOf(bytes[i]);
      if (const char16_t unit = row[bytes[i + 1]]) {
        wide[w++] = unit;
        i += 2;
        continue;
      }
    }
    const std::size_t start = i;
    while (i < n && bytes[i] >= 0x80) i += IsPairLead(bytes[i]) ? 2 : 1;
    i = std::min(i, n);
    const std::u16string part =
        DecodeCodePage(std::string_view(text).substr(start, i - start), kCodePageAnsi);
    if (w + part.size() > wide.size()) wide.resize(w + part.size() + (n - i));
    std::copy(part.begin(), part.end(), wide.begin() + static_cast<std::ptrdiff_t>(w));
    w += part.size();
  }
  wide.resize(w);
  return wide;
}

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

#include "resolve/field_harvest.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

namespace sorrel {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

unsigned char LowerAscii(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + ('a' - 'A')) : b;
}

// `word` (lower case) at `at`, ASCII letters compared without case, as the
// engine compares them in the harvest's case-insensitive search.
bool WordAt(std::string_view text, std::size_t at, std::string_view word) {
  if (at > text.size() || text.size() - at < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (LowerAscii(text[at + i]) != static_cast<unsigned char>(word[i])) return false;
  }
  return true;
}

// The bytes of a white-space character at `at` (0 when there is none): what
// "\s" takes in either engine, ASCII white space and the full-width space.
// Inside a run of such characters the bytes are always character-aligned.
std::size_t SpaceAt(std::string_view text, std::size_t at) {
  const auto b = static_cast<unsigned char>(text[at]);
  if (b == ' ' || (b >= 0x09 && b <= 0x0D)) return 1;
  if (b == 0xA1 && at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) == 0xA1) {
    return 2;
  }
  return 0;
}

std::uint64_t Times(std::uint64_t a, std::uint64_t b) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  return a != 0 && b > kMax / a ? kMax : a * b;
}

struct Line {
  std::size_t begin = 0;
  std::size_t next = 0;   // where the next line begins
  std::size_t reach = 0;  // end of what an attempt begun here can read
  bool canMatch = false;
  std::uint64_t cost = 0;
};

// Reads the line at `begin`. It can begin a match only if it holds "<input",
// then "name=\"", then "value=\"" with room for a name and its quote. An
// attempt reads no further than the line's end, except that a blank value
// runs on over white space, up to a closing quote.
Line ReadLine(std::string_view page, std::size_t begin) {
  Line line;
  line.begin = begin;
  const std::size_t feed = page.find('\n', begin);
  const std::size_t stop = feed == kNone ? page.size() : feed;
  line.next = feed == kNone ? page.size() : feed + 1;

  // Two passes, each from one marker character to the next.
  auto each = [&](char marker, auto&& onMarker) {
    for (std::size_t i = begin; i < stop;) {
      const void* found = std::memchr(page.data() + i, marker, stop - i);
      if (found == nullptr) break;
      i = static_cast<std::size_t>(static_cast<const char*>(found) - page.data());
      onMarker(i);
      ++i;
    }
  };
  std::uint64_t openings = 0;
  std::size_t firstOpening = kNone;
  each('<', [&](std::size_t i) {
    if (!WordAt(page, i + 1, "input")) return;
    ++openings;
    if (firstOpening == kNone) firstOpening = i;
  });
  if (openings == 0) return line;

  std::uint64_t names = 0;
  std::size_t firstName = kNone;
  each('=', [&](std::size_t i) {
    if (i + 1 >= stop || page[i + 1] != '"') return;
    if (i >= begin + 4 && WordAt(page, i - 4, "name")) {
      ++names;
      if (firstName == kNone && i - 4 >= firstOpening + 6) firstName = i - 4;
    } else if (i >= begin + 5 && WordAt(page, i - 5, "value")) {
      if (firstName != kNone && i - 5 >= firstName + 8) line.canMatch = true;
    }
  });
  if (!line.canMatch) return line;

  std::size_t reach = stop;
  if (feed != kNone) {
    while (reach < page.size()) {
      const std::size_t space = SpaceAt(page, reach);
      if (space == 0) break;
      reach += space;
    }
    // The character that ends the run matters only when it closes the value.
    if (reach < page.size() && page[reach] == '"') ++reach;
  }
  line.reach = reach;
  line.cost = Times(Times(openings, names + 1), reach - begin);
  return line;
}

class Harvest {
 public:
  Harvest(RegexObject& regex, EventPump& pump) : regex_(regex), pump_(pump) {}

  // Every piece ends in white space or a closing quote. A ">" line comes
  // between two pieces: like the character that followed the piece in the
  // page, or its end, it stops a blank value running on, and it begins no
  // match.
  void AddPiece(std::string_view piece) {
    if (!batch_.empty()) batch_ += ">\n";
    batch_.append(piece);
  }

  void Search() {
    if (batch_.empty()) return;
    regex_.Search(kInputFieldPattern, batch_);
    const int n = regex_.MatchCount();
    for (int k = 1; k <= n; ++k) {
      fields_.push_back({regex_.SubMatchText(k, 1), regex_.SubMatchText(k, 2)});
    }
    batch_.clear();
    pump_.ProcessPendingEvents();
  }

  std::vector<FormField> TakeFields() { return std::move(fields_); }

 private:
  RegexObject& regex_;
  EventPump& pump_;
  Text batch_;
  std::vector<FormField> fields_;
};

}  // namespace

std::vector<FormField> HarvestFormFields(RegexObject& regex, const Text& pageText, EventPump& pump,
                                         const HarvestBudget& budget) {
  const Text copy = pageText;
  const std::string_view page = copy;
  Harvest harvest(regex, pump);
  pump.ProcessPendingEvents();
  std::uint64_t spent = 0;
  std::uint64_t batchCost = 0;
  // The piece being gathered: lines whose attempts can read into each other.
  std::size_t pieceBegin = kNone;
  std::size_t pieceEnd = 0;
  auto endPiece = [&] {
    if (pieceBegin != kNone) harvest.AddPiece(page.substr(pieceBegin, pieceEnd - pieceBegin));
    pieceBegin = kNone;
  };

  for (std::size_t at = 0; at < page.size();) {
    const Line line = ReadLine(page, at);
    at = line.next;
    if (!line.canMatch) continue;
    // Over budget: the line holds no field.
    if (line.cost > budget.perLine || line.cost > budget.perPage - spent) continue;
    spent += line.cost;
    if (pieceBegin == kNone || line.begin >= pieceEnd) {
      endPiece();
      if (batchCost > 0 && batchCost + line.cost > budget.perSearch) {
        harvest.Search();
        batchCost = 0;
      }
      pieceBegin = line.begin;
    }
    pieceEnd = std::max(pieceEnd, line.reach);
    batchCost += line.cost;
  }
  endPiece();
  harvest.Search();
  return harvest.TakeFields();
}

}  // namespace sorrel

// The field harvest of a file page: every match of the input-field pattern,
// in page order, as the regular-expression object gives its two groups.
//
// The pattern's parts before `value="` cannot cross a line break (their "."
// never matches one), so a match begins and takes its name on one line; only
// a blank value can run on over further lines. The page is therefore handed
// to the engine a few lines at a time, and only lines that can begin a match
// at all. A line that would cost the engine more than its budget holds no
// field: it costs only itself, and every other line is harvested as an
// engine without any bound would harvest it. The costs are reckoned here, not
// measured in the engine, so that every engine harvests the same fields.
#pragma once

#include <cstdint>
#include <vector>

#include "support/event_pump.h"
#include "support/regex_object.h"
#include "text/text.h"

namespace sorrel {

// Group 1 is a field's name, group 2 its value.
inline constexpr const char* kInputFieldPattern =
    R"re(<input.*name=\"(.+?)\".?value=\"(\s*|.+?)\")re";

struct FormField {
  Text name;
  Text value;
  bool operator==(const FormField&) const = default;
};

// Backtracking steps, reckoned for a line as (field openings) x (name
// attributes + 1) x (bytes the attempts can read): an upper bound, up to a
// small factor, of what a backtracking engine spends on that line.
struct HarvestBudget {
  // A line reckoned above this holds no field.
  std::uint64_t perLine = 1'000'000;
  // Over the whole page; a line that would overrun it holds no field.
  std::uint64_t perPage = 2'000'000;
  // Handed to the engine in one search; events are processed between two.
  std::uint64_t perSearch = 500'000;
};

// The fields of `page`, first to last. `regex` is left holding the last
// search, if any; `pump` processes the window's events before the first
// search and after each. The page is copied first: those events may replace
// the caller's text.
std::vector<FormField> HarvestFormFields(RegexObject& regex, const Text& page, EventPump& pump,
                                         const HarvestBudget& budget = {});

}  // namespace sorrel

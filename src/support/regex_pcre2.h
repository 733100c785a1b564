// A RegexEngine over PCRE2's 16-bit library, always JIT-compiled, with the
// dialect of the scriptable engine as far as PCRE2 allows: "." matches
// anything but a line feed, "^" and "$" match at line feeds only in
// multiline mode, a backreference to an unset group matches empty text,
// "\uhhhh" and "\xhh" escapes, ASCII-only case folding and "\s", and the
// replacement syntax "$1".."$99", "$&", "$`", "$'" and "$$".
//
// Subjects come from untrusted pages, so every scan is bounded. Each start
// position gets a match limit: an attempt that runs out of it leaves its
// line without a match, and the scan goes on from the next line. The whole
// scan (all matches of a global Execute or Replace) gets a CPU-time budget
// and a cap on the stored match offsets; a scan that exceeds either stops as
// if no further match existed, keeping the matches found so far.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "support/regex_engine.h"

namespace sorrel {

struct Pcre2Limits {
  // Backtracking steps allowed from any one start position.
  std::uint32_t matchLimit = 1'000'000;
  // Thread CPU time for one whole Execute or Replace.
  std::chrono::microseconds scanBudget{50'000};
  // Match and group offsets kept by one Execute (two per group per match).
  std::size_t maxStoredOffsets = std::size_t{8} << 20;
  // Largest JIT stack, and the interpreter's heap when the JIT is missing.
  std::size_t stackBytes = std::size_t{4} << 20;
};

std::unique_ptr<RegexEngine> MakePcre2RegexEngine(const Pcre2Limits& limits = {});

}  // namespace sorrel

#include "support/regex_pcre2.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>
#include <time.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sorrel {

namespace {

struct CodeFree {
  void operator()(pcre2_code* p) const { pcre2_code_free(p); }
};
struct CompileContextFree {
  void operator()(pcre2_compile_context* p) const { pcre2_compile_context_free(p); }
};
struct MatchContextFree {
  void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); }
};
struct MatchDataFree {
  void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); }
};
struct JitStackFree {
  void operator()(pcre2_jit_stack* p) const { pcre2_jit_stack_free(p); }
};
using CodePtr = std::unique_ptr<pcre2_code, CodeFree>;

PCRE2_SPTR Units(std::u16string_view text) { return reinterpret_cast<PCRE2_SPTR>(text.data()); }

std::chrono::nanoseconds ThreadCpuNow() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// The CPU-time budget of one scan, checked on every eighth tick; a tick
// comes before every start position tried, and the match limit bounds the
// work between two ticks. The thread's CPU clock is a system call (about
// 2 us, more than a whole scan of an ordinary page spends between ticks),
// while the monotonic clock is read in user space. A thread cannot have used
// more CPU time than has passed, so the CPU clock is consulted only once the
// monotonic clock says the budget could be spent.
class ScanBudget {
 public:
  explicit ScanBudget(std::chrono::microseconds budget)
      : budget_(budget), wallDeadline_(Clock::now() + budget), cpuStart_(ThreadCpuNow()) {}

  // Where the attempt under way began.
  std::size_t attemptStart = 0;

  bool Spent() {
    if (spent_ || (ticks_++ & 7u) != 0) return spent_;
    if (Clock::now() < wallDeadline_) return false;
    spent_ = ThreadCpuNow() - cpuStart_ >= budget_;
    return spent_;
  }

 private:
  using Clock = std::chrono::steady_clock;
  std::chrono::nanoseconds budget_;
  Clock::time_point wallDeadline_;
  std::chrono::nanoseconds cpuStart_;
  unsigned ticks_ = 0;
  bool spent_ = false;
};

int OnCallout(pcre2_callout_block* block, void* data) {
  auto* budget = static_cast<ScanBudget*>(data);
  budget->attemptStart = block->current_position;
  return budget->Spent() ? PCRE2_ERROR_CALLOUT : 0;
}

// The match, depth and heap limits: one attempt ran out of its steps.
bool OutOfSteps(int rc) {
  return rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
         rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT;
}

// Every match of one Execute: for each match, a start and end offset for the
// whole match and then for each group, -1 where a group took no part.
struct MatchTable {
  std::u16string subject;
  int groupCount = 0;
  std::vector<std::int32_t> offsets;

  std::size_t Stride() const { return 2 * (static_cast<std::size_t>(groupCount) + 1); }
  int Count() const { return static_cast<int>(offsets.size() / Stride()); }
  std::optional<std::u16string> Text(int match, int slot) const {
    const std::int32_t* pair =
        offsets.data() + static_cast<std::size_t>(match) * Stride() + 2 * slot;
    if (pair[0] < 0 || pair[1] < pair[0]) return std::nullopt;
    return subject.substr(static_cast<std::size_t>(pair[0]),
                          static_cast<std::size_t>(pair[1] - pair[0]));
  }
  long Start(int match) const { return offsets[static_cast<std::size_t>(match) * Stride()]; }
};

class Pcre2SubMatches : public RegexSubMatches {
 public:
  Pcre2SubMatches(std::shared_ptr<const MatchTable> table, int match)
      : table_(std::move(table)), match_(match) {}
  int Count() const override { return table_->groupCount; }
  std::optional<std::u16string> Item(int index) const override {
    if (index < 0 || index >= table_->groupCount) return std::nullopt;
    return table_->Text(match_, index + 1);
  }

 private:
  std::shared_ptr<const MatchTable> table_;
  int match_;
};

class Pcre2Match : public RegexMatch {
 public:
  Pcre2Match(std::shared_ptr<const MatchTable> table, int match)
      : table_(std::move(table)), match_(match) {}
  std::u16string Value() const override { return table_->Text(match_, 0).value_or(u""); }
  long FirstIndex() const override { return table_->Start(match_); }
  std::shared_ptr<const RegexSubMatches> SubMatches() const override {
    return std::make_shared<Pcre2SubMatches>(table_, match_);
  }

 private:
  std::shared_ptr<const MatchTable> table_;
  int match_;
};

class Pcre2Matches : public RegexMatchCollection {
 public:
  explicit Pcre2Matches(std::shared_ptr<const MatchTable> table) : table_(std::move(table)) {}
  int Count() const override { return table_->Count(); }
  std::shared_ptr<const RegexMatch> Item(int index) const override {
    if (index < 0 || index >= table_->Count()) return nullptr;
    return std::make_shared<Pcre2Match>(table_, index);
  }

 private:
  std::shared_ptr<const MatchTable> table_;
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

class Pcre2Engine : public RegexEngine {
 public:
  explicit Pcre2Engine(const Pcre2Limits& limits) : limits_(limits) {}

  void SetIgnoreCase(bool value) override { ignoreCase_ = value; }
  bool IgnoreCase() const override { return ignoreCase_; }
  void SetMultiline(bool value) override { multiline_ = value; }
  void SetGlobal(bool value) override { global_ = value; }
  void SetPattern(std::u16string_view pattern) override { pattern_ = pattern; }
  std::u16string Pattern() const override { return pattern_; }

  std::shared_ptr<const RegexMatchCollection> Execute(std::u16string_view subject) override {
    try {
      const pcre2_code* code = Compile();
      if (!code || subject.size() > static_cast<std::size_t>(INT32_MAX)) return nullptr;
      auto table = std::make_shared<MatchTable>();
      table->subject = subject;
      table->groupCount = groupCount_;
      const std::size_t stride = table->Stride();
      Scan(code, subject, [&](const PCRE2_SIZE* ovector) {
        if (table->offsets.size() + stride > limits_.maxStoredOffsets) return false;
        for (std::size_t i = 0; i < stride; ++i) {
          table->offsets.push_back(
              ovector[i] == PCRE2_UNSET ? -1 : static_cast<std::int32_t>(ovector[i]));
        }
        return true;
      });
      return std::make_shared<Pcre2Matches>(std::move(table));
    } catch (...) {
      return nullptr;
    }
  }

  std::optional<std::u16string> Replace(std::u16string_view subject,
                                        std::u16string_view replacement) override {
    try {
      const pcre2_code* code = Compile();
      if (!code) return std::nullopt;
      std::u16string out;
      std::size_t copied = 0;
      Scan(code, subject, [&](const PCRE2_SIZE* ovector) {
        if (ovector[0] < copied || ovector[1] < ovector[0]) return false;
        out.append(subject.substr(copied, ovector[0] - copied));
        Expand(replacement, subject, ovector, out);
        copied = ovector[1];
        return true;
      });
      out.append(subject.substr(copied));
      return out;
    } catch (...) {
      return std::nullopt;
    }
  }

 private:
  std::uint32_t Options() const {
    std::uint32_t options = PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF | PCRE2_ALLOW_EMPTY_CLASS |
                            PCRE2_NEVER_UTF | PCRE2_NEVER_UCP;
    if (ignoreCase_) options |= PCRE2_CASELESS;
    options |= multiline_ ? PCRE2_MULTILINE : PCRE2_DOLLAR_ENDONLY;
    return options;
  }

  static CodePtr CompileText(std::u16string_view pattern, std::uint32_t options) {
    std::unique_ptr<pcre2_compile_context, CompileContextFree> context(
        pcre2_compile_context_create(nullptr));
    if (!context) return nullptr;
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_LF);
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    return CodePtr(pcre2_compile(Units(pattern), pattern.size(), options, &error, &errorOffset,
                                 context.get()));
  }

  // The pattern as given decides validity. What runs is the pattern behind a
  // callout, so that the scan budget is checked at every start position; a
  // pattern that cannot be wrapped (one ending inside a comment) runs as is,
  // still bounded per start position and between matches.
  const pcre2_code* Compile() {
    const std::uint32_t options = Options();
    if (compiledValid_ && compiledPattern_ == pattern_ && compiledOptions_ == options) {
      return code_.get();
    }
    code_.reset();
    compiledPattern_ = pattern_;
    compiledOptions_ = options;
    compiledValid_ = true;
    CodePtr plain = CompileText(pattern_, options);
    if (!plain) return nullptr;
    CodePtr wrapped = CompileText(u"(?C1)(?:" + pattern_ + u")", options);
    code_ = wrapped ? std::move(wrapped) : std::move(plain);
    pcre2_jit_compile(code_.get(), PCRE2_JIT_COMPLETE);
    std::uint32_t groups = 0;
    pcre2_pattern_info(code_.get(), PCRE2_INFO_CAPTURECOUNT, &groups);
    groupCount_ = static_cast<int>(groups);
    return code_.get();
  }

  // Calls `onMatch` with the offset vector of every match, or of the first
  // one when not global, until it returns false, nothing more matches or a
  // limit is reached. After an empty match the next one is sought one unit
  // further on.
  template <typename OnMatch>
  void Scan(const pcre2_code* code, std::u16string_view subject, OnMatch&& onMatch) {
    std::unique_ptr<pcre2_match_context, MatchContextFree> context(
        pcre2_match_context_create(nullptr));
    std::unique_ptr<pcre2_match_data, MatchDataFree> data(
        pcre2_match_data_create_from_pattern(code, nullptr));
    std::unique_ptr<pcre2_jit_stack, JitStackFree> stack(
        pcre2_jit_stack_create(32 * 1024, limits_.stackBytes, nullptr));
    if (!context || !data || !stack) return;
    ScanBudget budget(limits_.scanBudget);
    pcre2_set_match_limit(context.get(), limits_.matchLimit);
    pcre2_set_heap_limit(context.get(), static_cast<std::uint32_t>(limits_.stackBytes / 1024));
    pcre2_set_callout(context.get(), OnCallout, &budget);
    pcre2_jit_stack_assign(context.get(), nullptr, stack.get());

    std::size_t start = 0;
    while (start <= subject.size() && !budget.Spent()) {
      budget.attemptStart = start;
      const int rc =
          pcre2_match(code, Units(subject), subject.size(), start, 0, data.get(), context.get());
      if (OutOfSteps(rc)) {
        // The JIT counts steps over all the attempts of one call: the
        // attempt that ran out is tried again alone. When it alone runs out,
        // its line holds no match and the scan goes on from the next line.
        if (budget.attemptStart > start) {
          start = budget.attemptStart;
          continue;
        }
        const std::size_t feed = subject.find(u'\n', start);
        if (feed == std::u16string_view::npos) return;
        start = feed + 1;
        continue;
      }
      if (rc <= 0) return;
      const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
      if (!onMatch(ovector) || !global_) return;
      std::size_t next = ovector[1] > ovector[0] ? ovector[1] : ovector[0] + 1;
      if (next <= start) next = start + 1;
      start = next;
    }
  }

  void AppendGroup(std::u16string_view subject, const PCRE2_SIZE* ovector, int group,
                   std::u16string& out) const {
    const PCRE2_SIZE begin = ovector[2 * group];
    const PCRE2_SIZE end = ovector[2 * group + 1];
    if (begin == PCRE2_UNSET || end < begin) return;
    out.append(subject.substr(begin, end - begin));
  }

  void Expand(std::u16string_view replacement, std::u16string_view subject,
              const PCRE2_SIZE* ovector, std::u16string& out) const {
    for (std::size_t i = 0; i < replacement.size(); ++i) {
      const char16_t c = replacement[i];
      if (c != u'$' || i + 1 == replacement.size()) {
        out.push_back(c);
        continue;
      }
      const char16_t next = replacement[i + 1];
      if (next == u'$') {
        out.push_back(u'$');
        ++i;
      } else if (next == u'&') {
        AppendGroup(subject, ovector, 0, out);
        ++i;
      } else if (next == u'`') {
        out.append(subject.substr(0, ovector[0]));
        ++i;
      } else if (next == u'\'') {
        out.append(subject.substr(ovector[1]));
        ++i;
      } else if (IsDigit(next)) {
        // Two digits when they name a group, else one digit, else a literal "$".
        const int one = next - u'0';
        if (i + 2 < replacement.size() && IsDigit(replacement[i + 2])) {
          const int two = one * 10 + (replacement[i + 2] - u'0');
          if (two >= 1 && two <= groupCount_) {
            AppendGroup(subject, ovector, two, out);
            i += 2;
            continue;
          }
        }
        if (one >= 1 && one <= groupCount_) {
          AppendGroup(subject, ovector, one, out);
          ++i;
        } else {
          out.push_back(u'$');
        }
      } else {
        out.push_back(u'$');
      }
    }
  }

  Pcre2Limits limits_;
  bool ignoreCase_ = false;
  bool multiline_ = false;
  bool global_ = false;
  std::u16string pattern_;

  CodePtr code_;
  std::u16string compiledPattern_;
  std::uint32_t compiledOptions_ = 0;
  bool compiledValid_ = false;
  int groupCount_ = 0;
};

}  // namespace

std::unique_ptr<RegexEngine> MakePcre2RegexEngine(const Pcre2Limits& limits) {
  return std::make_unique<Pcre2Engine>(limits);
}

}  // namespace sorrel

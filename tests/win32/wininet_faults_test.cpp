// The fault matrix over WinInet under wine, against the demo service whose
// address the harness passes in SORREL_TEST_SIM_URL: the same rows as the
// Linux suite (tests/faults/fault_rows.h).
#include <cstdlib>

#include "fault_rows.h"
#include "http/http_stack_wininet.h"

namespace sorrel::test {
namespace {

std::string SimOrigin() {
  const char* url = std::getenv("SORREL_TEST_SIM_URL");
  return url != nullptr ? url : "";
}

// Workers abandoned at a limit may outlive a row, so the stack lives on.
WinInetHttpStack& RowStack() {
  static auto* stack = new WinInetHttpStack(kRowSilenceMs);
  return *stack;
}

class FaultMatrix : public ::testing::TestWithParam<FaultRow> {};

TEST_P(FaultMatrix, EndsInTimeWithTheRowsOutcome) {
  if (SimOrigin().empty()) GTEST_SKIP() << "SORREL_TEST_SIM_URL names no demo service";
  RowRunner(RowStack(), SimOrigin()).Run(GetParam());
}

TEST_F(FaultMatrix, ANewRefreshEndsTheOneItReplaces) {
  if (SimOrigin().empty()) GTEST_SKIP() << "SORREL_TEST_SIM_URL names no demo service";
  RowRunner(RowStack(), SimOrigin()).RunReplacedRefresh();
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(FaultRows()),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace sorrel::test

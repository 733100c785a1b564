// The fault matrix over the libcurl stack; the Windows suite runs the same
// rows over WinInet (tests/win32/wininet_faults_test.cpp).
#include "fault_rows.h"

#include "fault_harness.h"
#include "test_helpers/sim_process.h"

namespace sorrel::test {
namespace {

// Abandoned workers may outlive a row, so the stack lives on.
CurlHttpStack& RowStack() {
  static auto* stack = new CurlHttpStack(CurlStackOptions{
      .connectTimeoutSeconds = kRowSilenceMs / 1000, .stallSeconds = kRowSilenceMs / 1000});
  return *stack;
}

class FaultMatrix : public ::testing::TestWithParam<FaultRow> {
 protected:
  static void SetUpTestSuite() { sim_ = new SimProcess({"--test-mode", "--fixed-code", "k7p2"}); }
  static void TearDownTestSuite() { delete sim_; }
  static SimProcess* sim_;
};

SimProcess* FaultMatrix::sim_ = nullptr;

TEST_P(FaultMatrix, EndsInTimeWithTheRowsOutcome) {
  ASSERT_TRUE(sim_->ok()) << sim_->error();
  RowRunner(RowStack(), sim_->baseUrl()).Run(GetParam());
}

TEST_F(FaultMatrix, ANewRefreshEndsTheOneItReplaces) {
  ASSERT_TRUE(sim_->ok()) << sim_->error();
  RowRunner(RowStack(), sim_->baseUrl()).RunReplacedRefresh();
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(FaultRows()),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace sorrel::test

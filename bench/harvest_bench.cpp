// The workflow's field harvest over pages of about 1 MB.
#include <benchmark/benchmark.h>

#include "bench/pages.h"
#include "resolve/field_harvest.h"
#include "test_helpers/platform_engines.h"

namespace sorrel::bench {
namespace {

void Harvest(benchmark::State& state, const Text& page) {
  const auto regex = test::PlatformRegexObject();
  std::size_t fields = 0;
  for (auto _ : state) fields = HarvestFormFields(*regex, page, NoEventPump()).size();
  state.counters["fields"] = static_cast<double>(fields);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_HarvestRealisticPage(benchmark::State& state) { Harvest(state, RealisticPage()); }
void BM_HarvestDenseFields(benchmark::State& state) { Harvest(state, DenseFieldsPage()); }
void BM_HarvestHostileLine(benchmark::State& state) { Harvest(state, HostileLine()); }
void BM_HarvestHostileLines(benchmark::State& state) { Harvest(state, HostileLines()); }
void BM_HarvestBudgetSpendingPage(benchmark::State& state) { Harvest(state, BudgetSpendingPage()); }

BENCHMARK(BM_HarvestRealisticPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HarvestDenseFields)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HarvestHostileLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HarvestHostileLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HarvestBudgetSpendingPage)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sorrel::bench

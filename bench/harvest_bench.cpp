// The workflow's field harvest (Search, MatchCount, SubMatchText for both
// groups of every match) over pages of about 1 MB.
#include <benchmark/benchmark.h>

#include "bench/pages.h"
#include "support/regex_object.h"

namespace sorrel::bench {
namespace {

void Harvest(benchmark::State& state, const Text& page) {
  const auto regex = MakePlatformRegexObject();
  int fields = 0;
  for (auto _ : state) {
    regex->Search(kFieldPattern, page);
    fields = regex->MatchCount();
    for (int k = 1; k <= fields; ++k) {
      benchmark::DoNotOptimize(regex->SubMatchText(k, 1));
      benchmark::DoNotOptimize(regex->SubMatchText(k, 2));
    }
  }
  state.counters["fields"] = fields;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_HarvestRealisticPage(benchmark::State& state) { Harvest(state, RealisticPage()); }
void BM_HarvestDenseFields(benchmark::State& state) { Harvest(state, DenseFieldsPage()); }
void BM_HarvestHostileLine(benchmark::State& state) { Harvest(state, HostileLine()); }
void BM_HarvestHostileLines(benchmark::State& state) { Harvest(state, HostileLines()); }

BENCHMARK(BM_HarvestRealisticPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HarvestDenseFields)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HarvestHostileLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HarvestHostileLines)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sorrel::bench

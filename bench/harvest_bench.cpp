// The workflow's field harvest (Search, MatchCount, SubMatchText for both
// groups of every match) over pages of about 1 MB.
#include <benchmark/benchmark.h>

#include <string>

#include "support/regex_object.h"
#include "text/codepage.h"

namespace sorrel {
namespace {

constexpr const char* kFieldPattern = R"re(<input.*name=\"(.+?)\".?value=\"(\s*|.+?)\")re";
constexpr size_t kPageBytes = 1 << 20;

Text RealisticPage() {
  Text page = "<html><head><title>" + GbkFromUtf8("文件下载") + "</title></head><body>\n";
  for (int i = 0; page.size() < kPageBytes; ++i) {
    page += "<div class=\"row\"><p>" + GbkFromUtf8("说明文字") + " lorem ipsum " +
            std::to_string(i) + "</p></div>\n<input type=\"hidden\" name=\"f" + std::to_string(i) +
            "\" value=\"v" + std::to_string(i) + "\" />\n";
  }
  return page + "</body></html>\n";
}

// One line of field openings that never close: the greedy start of the
// pattern backtracks over the whole line from every one of them.
Text HostileLine() {
  Text line;
  while (line.size() < kPageBytes) line += "<input name=\"";
  return line;
}

Text HostileLines() {
  Text page;
  while (page.size() < kPageBytes) {
    for (int i = 0; i < 150; ++i) page += "<input name=\"";
    page += "\n";
  }
  return page;
}

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
void BM_HarvestHostileLine(benchmark::State& state) { Harvest(state, HostileLine()); }
void BM_HarvestHostileLines(benchmark::State& state) { Harvest(state, HostileLines()); }

BENCHMARK(BM_HarvestRealisticPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HarvestHostileLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HarvestHostileLines)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sorrel

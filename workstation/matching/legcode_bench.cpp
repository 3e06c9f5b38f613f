// Leg-code comparison speed: result lines per second on one core, from the
// codes in memory to the lines of the results file (scores and their text),
// for both scores.
//
// 200 pending extracts against 5,000 library ones, each with one to three
// codes of 4 to 8 characters over 36 symbols, some unread ('*'). Seeded.
//
//   legcode_bench --benchmark_counters_tabular=true
// items_per_second is pairs per second of CPU time.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "workstation/matching/legcode_compare.h"

namespace velmora::matching {
namespace {

constexpr int kPending = 200;
constexpr int kLibrary = 5000;

LegCodeBatch make_batch(const char* prefix, int n, std::mt19937* rng) {
  static const std::string symbols = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  LegCodeBatch batch;
  std::vector<std::string> codes;
  for (int i = 0; i < n; ++i) {
    codes.clear();
    const int count = 1 + static_cast<int>((*rng)() % 3);
    for (int k = 0; k < count; ++k) {
      std::string code;
      const int length = 4 + static_cast<int>((*rng)() % 5);
      for (int c = 0; c < length; ++c) {
        code += (*rng)() % 10 == 0 ? '*' : symbols[(*rng)() % symbols.size()];
      }
      codes.push_back(code);
    }
    batch.add(std::string(prefix) + std::to_string(100000 + i) + "_01_LC", codes);
  }
  return batch;
}

void BM_LegCodePairs(benchmark::State& state) {
  const auto scoring = static_cast<LegCodeScoring>(state.range(0));
  std::mt19937 rng(7);
  const LegCodeBatch pending = make_batch("U", kPending, &rng);
  const LegCodeBatch library = make_batch("GS", kLibrary, &rng);
  std::string out;
  out.reserve(size_t{4} << 20);
  int64_t pairs = 0;
  size_t i = 0;
  for (auto _ : state) {
    out.clear();
    pairs += append_legcode_lines(pending, i, &library, scoring, &out);
    benchmark::DoNotOptimize(out.data());
    i = (i + 1) % pending.size();
  }
  state.SetItemsProcessed(pairs);
  state.SetLabel(scoring == LegCodeScoring::kSliding ? "sliding" : "positional");
}
BENCHMARK(BM_LegCodePairs)
    ->Arg(static_cast<int>(LegCodeScoring::kSliding))
    ->Arg(static_cast<int>(LegCodeScoring::kPositional))
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora::matching

BENCHMARK_MAIN();

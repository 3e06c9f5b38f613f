// Speed of the comparison pass: pairs per second on one core for the real
// pass (a batch of 100 first-list fingerprints against a longer second list),
// and how its time divides between the transforms, the peak lists, the
// constellation search and the warp correlation. Also the single transforms
// the pass is built on. Each runs on the baseline path (argument 0) and on
// the AVX2 path (argument 1), side by side.
//
//   compare_bench --benchmark_filter=Pass
#include <benchmark/benchmark.h>

#include <array>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "compare/compare_pass.h"
#include "compare/testing/fingerprint_writer.h"
#include "compare/testing/patterns.h"
#include "compare/testing/reference_fourier.h"
#include "testing/temp_dir.h"

namespace tarvik {
namespace {

constexpr int kFirst = 100;
constexpr int kSecond = 300;
constexpr int kAnimals = 40;

// 400 sightings of 40 synthetic animals: each a 64 x 64 window of its
// animal's pattern, displaced by up to 6 pixels, with grey noise and a few
// masked pixels.
class Corpus {
 public:
  Corpus() {
    std::mt19937 rng(4242);
    std::vector<std::vector<std::uint8_t>> animals;
    for (int a = 0; a < kAnimals; ++a)
      animals.push_back(testing::blob_pattern(96, 96, 500 + a, 90));
    for (int s = 0; s < kFirst + kSecond; ++s) {
      const auto& big = animals[s % kAnimals];
      auto image = testing::crop(big, 96, 10 + rng() % 13, 10 + rng() % 13, 64, 64);
      for (auto& px : image) {
        const int v = px + static_cast<int>(rng() % 7) - 3;
        px = static_cast<std::uint8_t>(std::clamp(v, 0, 63));
      }
      testing::mask_pixels(image, 900 + s, 60);
      const std::string name = "s" + std::to_string(s) + ".fpt";
      testing::make_fingerprint(image, {}).write(dir_.path(name));
      (s < kFirst ? first_ : second_).names.push_back(name);
    }
    first_.directory = second_.directory = dir_.dir();
    for (ShiftModel* m : {&rows_, &cols_}) {
      m->a[1] = 1;
      m->b[1] = m->b[2] = 0.5f;
      m->c[1] = m->c[2] = m->c[3] = 1.0f / 3;
    }
  }
  // False when the results file could not be written: a pass that lost its
  // output measured nothing worth reporting.
  bool run(const PassOptions& options) {
    const PassSettings settings{.results_path = results(),
                                .first_label = "pending",
                                .second_label = "library",
                                .row_model = rows_,
                                .col_model = cols_,
                                .row_tol = tol_,
                                .col_tol = tol_,
                                .threshold = 0.3,
                                .peaks_per_subcell = 5,
                                .margin = 4};
    return run_comparison_pass(first_, second_, settings, options).written();
  }
  std::string results() const { return dir_.path("results.txt"); }
  long pairs() const { return static_cast<long>(first_.names.size() * second_.names.size()); }

 private:
  velmora::testing::TempDir dir_;
  FileList first_, second_;
  ShiftModel rows_, cols_;
  std::array<float, 4> tol_ = {12, 3, 3, 3};
};

Corpus& corpus() {
  static Corpus instance;
  return instance;
}

// Benchmarks taking a path argument: 0 the baseline, 1 AVX2. The chosen path
// becomes the default for the run (plans made inside take it); false, with
// the run skipped, where the processor lacks it.
bool use_path(benchmark::State& state) {
  const VectorPath path = state.range(0) == 0 ? VectorPath::kBaseline : VectorPath::kAvx2;
  state.SetLabel(vector_path_name(path));
  if (set_default_vector_path(path)) return true;
  state.SkipWithError("this processor lacks the path");
  return false;
}

void BM_Pass(benchmark::State& state) {
  if (!use_path(state)) return;
  Corpus& c = corpus();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(c.results());
    state.ResumeTiming();
    if (!c.run({})) state.SkipWithError("results file could not be written");
  }
  state.counters["pairs_per_s"] = benchmark::Counter(
      static_cast<double>(c.pairs()) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Pass)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

void BM_PassShares(benchmark::State& state) {
  if (!use_path(state)) return;
  Corpus& c = corpus();
  PassTimings t;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(c.results());
    t = PassTimings();
    state.ResumeTiming();
    PassOptions options;
    options.timings = &t;
    if (!c.run(options)) state.SkipWithError("results file could not be written");
  }
  state.counters["transforms_pct"] = 100 * t.transforms / t.total;
  state.counters["peaks_pct"] = 100 * t.peaks / t.total;
  state.counters["search_pct"] = 100 * t.search / t.total;
  state.counters["warp_pct"] = 100 * t.warp / t.total;
  state.counters["other_pct"] =
      100 * (t.total - t.transforms - t.peaks - t.search - t.warp) / t.total;
  state.counters["pairs_scored"] = static_cast<double>(t.pairs);
}
BENCHMARK(BM_PassShares)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3);

std::vector<float> random_spectrum(std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<float> v(2 * 64 * 64);
  for (float& x : v) x = static_cast<float>(static_cast<int>(rng() % 2001) - 1000) / 10.0f;
  return v;
}

void BM_Transform64(benchmark::State& state) {
  if (!use_path(state)) return;
  FourierPlan plan(64, 64);
  const std::vector<float> input = random_spectrum(1);
  std::vector<float> data = input;
  for (auto _ : state) {
    plan.transform(data.data(), -1);
    benchmark::DoNotOptimize(data.data());
  }
}
BENCHMARK(BM_Transform64)->Arg(0)->Arg(1);

void BM_ReferenceTransform64(benchmark::State& state) {
  std::vector<float> data = random_spectrum(1);
  for (auto _ : state) {
    testing::reference_fourier_2d(data.data(), 64, 64, -1);
    benchmark::DoNotOptimize(data.data());
  }
}
BENCHMARK(BM_ReferenceTransform64);

// The per-pair, per-sub-cell work: product and pruned inverse transform.
void BM_InverseAtShifts64(benchmark::State& state) {
  if (!use_path(state)) return;
  FourierPlan plan(64, 64);
  const std::vector<float> s = random_spectrum(2), t = random_spectrum(3);
  for (auto _ : state)
    benchmark::DoNotOptimize(plan.inverse_real_at_shifts(s.data(), t.data(), 16).re);
}
BENCHMARK(BM_InverseAtShifts64)->Arg(0)->Arg(1);

}  // namespace
}  // namespace tarvik

BENCHMARK_MAIN();

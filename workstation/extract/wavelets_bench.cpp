// Figures for the per-extract cost of the wavelet decomposition: the
// correlation alone (the image's transform is made once, outside the timing)
// for a full 48-kernel stripe bank and for a small 4-kernel dot bank, in both
// combination forms, and the one-off cost of building the full bank.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "workstation/extract/detrend.h"
#include "workstation/extract/wavelets.h"

namespace velmora::extract {
namespace {

KernelSettings bank_settings(int kernels) {
  KernelSettings s;
  s.aspect = "Bench";
  s.sigmax_ratio = 1.5;
  s.sigmay = 2.0;
  if (kernels == kMaxKernels) {  // 6 radii x 8 angles
    s.pattern = "white_stripe";
    s.from_r = 4, s.to_r = 24, s.step_r = 4;
    s.from_theta_deg = 0, s.to_theta_deg = 157, s.step_theta_deg = 22;
  } else {
    s.pattern = "black_dots";
    s.from_r = 3, s.to_r = static_cast<std::int16_t>(3 * kernels), s.step_r = 3;
  }
  return s;
}

void random_image(WorkImages& images) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> grey(1.0, 254.0);
  for (double& v : images.work_image) v = grey(rng);
  (void)transform_work_image(images);  // a failure shows as a skipped run below
}

void BM_Correlate(benchmark::State& state) {
  const int kernels = static_cast<int>(state.range(0));
  const bool sum_correl = state.range(1) != 0;
  KernelBank bank;
  if (!build_kernel_bank(bank_settings(kernels), bank).ok() || bank.count != kernels) {
    state.SkipWithError("bank");
    return;
  }
  WorkImages images;
  random_image(images);
  const std::vector<std::int16_t> blank(kExtractPixels, kUsablePixel);
  WaveletImage out;
  std::string note;
  for (auto _ : state) {
    if (!correlate_with_wavelets(bank, images, blank, 12, sum_correl, out, note).ok()) {
      state.SkipWithError("correlate");
    }
    benchmark::DoNotOptimize(out.image.data());
  }
  state.SetItemsProcessed(state.iterations() * kernels);
}
BENCHMARK(BM_Correlate)
    ->ArgsProduct({{4, kMaxKernels}, {0, 1}})
    ->ArgNames({"kernels", "sum_correl"})
    ->Unit(benchmark::kMillisecond);

void BM_BuildFullStripeBank(benchmark::State& state) {
  for (auto _ : state) {
    KernelBank bank;
    if (!build_kernel_bank(bank_settings(kMaxKernels), bank).ok()) state.SkipWithError("bank");
    benchmark::DoNotOptimize(bank.kernel_re.data());
  }
}
BENCHMARK(BM_BuildFullStripeBank)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora::extract

BENCHMARK_MAIN();

// Figures for one photograph's work in the fitting window: "Initial Fit",
// "Fit", and the extraction's 65,536 find_ray calls with the sampling grid,
// each alone and all together (the target is under half a second on one
// core). The marks come from the flank model seen at a known pose.
#include <benchmark/benchmark.h>

#include <memory>

#include "libs/fennick/fennick.h"
#include "libs/fennick/synthetic_marks.h"

namespace velmora::fennick {
namespace {

using testing::LoadedModel;

const Pose kTruth{{0.05, -0.44, -0.17}, 700, 450, 1.1};
// The flank patch of an animal facing right (range 2 of seal_flank.dat).
const SamplingCorners kPatch{{390, -0.35, 390, -2.79, 60, -0.35, 60, -2.79}};

struct Scene {
  std::unique_ptr<LoadedModel> model = testing::load_model("seal_flank.dat");
  std::unique_ptr<MarkedPoints> marks;
  std::unique_ptr<MarkedPoints> closed;
  std::unique_ptr<GridPositions> grid = std::make_unique<GridPositions>();

  Scene() {
    auto truth = testing::load_model("seal_flank.dat");
    testing::place(*truth, kTruth);
    marks = testing::synthetic_marks(*truth);
    closed = std::make_unique<MarkedPoints>(*marks);
    testing::close_outline(closed.get());
  }
  bool initial_fit() {
    testing::prepare_initial_fit(*marks, model.get(), 0);
    return fit_to_known_points(*model->model, *marks, model->control, 1, 0, 0, 0, model->params) ==
           kFennickOk;
  }
  bool fit() {
    return fit_to_known_points(*model->model, *closed, model->control, 0, 1, 0, 0, model->params) ==
           kFennickOk;
  }
  // The extraction's loop: find_ray at every pixel of the patch, then the grid.
  bool extract() {
    RayRecord ray{};
    const double* s = kPatch.s;
    for (int j = 1; j <= 256; ++j) {
      const double t = (j - 1) / 255.0;
      for (int k = 1; k <= 256; ++k) {
        const double u = (k - 1) / 255.0;
        const double y0 = s[0] + (s[4] - s[0]) * t, th0 = s[1] + (s[5] - s[1]) * t;
        const double y1 = s[2] + (s[6] - s[2]) * t, th1 = s[3] + (s[7] - s[3]) * t;
        if (find_ray(*model->model, model->control, y0 + (y1 - y0) * u, th0 + (th1 - th0) * u,
                     ray) != kFennickOk)
          return false;
        benchmark::DoNotOptimize(ray.v[10]);
      }
    }
    return get_sampling_positions(*model->model, model->control, 256, 256, kPatch, *grid) ==
           kFennickOk;
  }
};

void BM_InitialFit(benchmark::State& state) {
  Scene scene;
  for (auto _ : state)
    if (!scene.initial_fit()) state.SkipWithError(fennick_last_message().c_str());
}
BENCHMARK(BM_InitialFit)->Unit(benchmark::kMillisecond);

void BM_Fit(benchmark::State& state) {
  Scene scene;
  for (auto _ : state) {
    state.PauseTiming();
    const bool ready = scene.initial_fit();
    state.ResumeTiming();
    if (!ready || !scene.fit()) state.SkipWithError(fennick_last_message().c_str());
  }
}
BENCHMARK(BM_Fit)->Unit(benchmark::kMillisecond);

void BM_FindRayAndGrid(benchmark::State& state) {
  Scene scene;
  if (!scene.initial_fit() || !scene.fit()) state.SkipWithError(fennick_last_message().c_str());
  for (auto _ : state)
    if (!scene.extract()) state.SkipWithError(fennick_last_message().c_str());
}
BENCHMARK(BM_FindRayAndGrid)->Unit(benchmark::kMillisecond);

// Everything one photograph asks of the library, in the window's order.
void BM_WholePhotograph(benchmark::State& state) {
  Scene scene;
  for (auto _ : state)
    if (!scene.initial_fit() || !scene.fit() || !scene.extract())
      state.SkipWithError(fennick_last_message().c_str());
}
BENCHMARK(BM_WholePhotograph)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora::fennick

BENCHMARK_MAIN();

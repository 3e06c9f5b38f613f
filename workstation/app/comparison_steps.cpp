// The comparison steps of the window's run (see comparison_steps.h).
#include "workstation/app/comparison_steps.h"

#include <utility>

namespace velmora::app {

runs::RunStep batch_compare_step(std::shared_ptr<matching::ProcessRunner> runner,
                                 matching::BatchCompareOptions options,
                                 std::shared_ptr<matching::BatchCompareSummary> summary) {
  return [runner = std::move(runner), options = std::move(options),
          summary = std::move(summary)](runs::RunContext& ctx) {
    return matching::batch_compare_old_style(ctx, *ctx.panel, *ctx.dialogs, *runner, options,
                                             summary.get());
  };
}

runs::RunStep change_p_to_v_step(std::shared_ptr<matching::ChangePtoVSummary> summary) {
  return [summary = std::move(summary)](runs::RunContext& ctx) {
    return matching::ChangePtoV(ctx, summary.get());
  };
}

void install_comparison_steps(runs::RunHooks& hooks,
                              std::shared_ptr<matching::ProcessRunner> runner) {
  hooks.comparison.batch_compare_old_style = batch_compare_step(std::move(runner));
  hooks.comparison.change_p_to_v = change_p_to_v_step();
}

}  // namespace velmora::app

// The test run as the run's run_test step (see test_steps.h).
#include "workstation/app/test_steps.h"

#include <utility>

#include "workstation/runs/start_driver.h"

namespace velmora::app {

runs::RunStep test_rank_step(ShowTestResult show) {
  return [show = std::move(show)](runs::RunContext& ctx) {
    matching::TestRankOptions options;
    options.previous = ctx.panel->checked("chkPreviousTest");
    options.combine = ctx.options.combine;
    matching::TestRankResult result;
    Status s = matching::run_test_rank(
        ctx, *ctx.panel, *ctx.dialogs, options,
        [&ctx] { return runs::run_comparison_families(ctx, runs::FamilyOrder::kTest); }, &result);
    if (result.overall_read && show) {
      Status shown = show(ctx, result);
      if (s.ok()) s = shown;
    }
    // Nothing of a test is being compared any longer: a run that follows
    // in this window is not a test run.
    if (!result.compared || !s.ok()) ctx.test_run = false;
    if (s.ok() && options.previous && !ctx.dialogs->program_ended()) runs::stop_run(ctx, "");
    return s;
  };
}

}  // namespace velmora::app

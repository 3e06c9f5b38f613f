// The test-rank evaluation as the run's run_test step, for the window and
// velmora-batch alike.
//
// The step reads "last test result" (chkPreviousTest) from the panel and
// "combine" from the run's options, runs the test (matching/test_rank.h)
// with the comparison families of the hooks in the test's order (tarvik,
// correlation and spot, key points, leg codes: whatever families the hooks
// and the algy letters provide), and hands what it read to `show`: the
// window draws the chart and tells the per-letter count, velmora-batch
// prints both and writes the chart's picture. `show` runs whenever the
// overall result was read, also when the per-letter count fails after it.
//
// With "last test result" nothing is compared, and Start comes back at
// once (the settings with it) so that a real test can follow. A full run
// leaves Start hidden, as every comparing run of this window does until
// the program is started anew.
#pragma once

#include <functional>

#include "workstation/matching/test_rank.h"
#include "workstation/runs/run_context.h"

namespace velmora::app {

using ShowTestResult =
    std::function<Status(runs::RunContext& ctx, const matching::TestRankResult& result)>;

runs::RunStep test_rank_step(ShowTestResult show);

}  // namespace velmora::app

// The comparison steps of the window's run, made from the subsystems.
//
// The Start driver (runs/) calls the comparison families and the move from
// P to V through RunHooks, whose steps take the whole RunContext; the
// subsystems take only the run state, the control panel and the dialogs.
// These adapters are the one place where the two meet.
#pragma once

#include <memory>

#include "workstation/matching/batch_compare.h"
#include "workstation/matching/change_p_to_v.h"
#include "workstation/matching/legcode_compare.h"
#include "workstation/matching/new_style_compare.h"
#include "workstation/matching/process_runner.h"
#include "workstation/matching/sift_compare.h"
#include "workstation/runs/run_context.h"

namespace velmora::app {

// The step for ComparisonHooks::batch_compare_old_style. The runner (and
// the summary, when given) are shared with the step and live as long as it.
// Each call resets the summary.
runs::RunStep batch_compare_step(std::shared_ptr<matching::ProcessRunner> runner,
                                 matching::BatchCompareOptions options = {},
                                 std::shared_ptr<matching::BatchCompareSummary> summary = nullptr);

// The step for ComparisonHooks::compare_new_style (the correlation and spot
// comparison); the summary, when given, is shared and reset at each call.
runs::RunStep compare_new_style_step(
    matching::NewStyleOptions options = {},
    std::shared_ptr<matching::BatchCompareSummary> summary = nullptr);

// The step for ComparisonHooks::compare_sift (the key-point comparison);
// the summary, when given, is shared and reset at each call.
runs::RunStep compare_sift_step(std::shared_ptr<matching::BatchCompareSummary> summary = nullptr);

// The step for ComparisonHooks::change_p_to_v; the summary (optional) is
// shared with the step and reset at each call.
runs::RunStep change_p_to_v_step(std::shared_ptr<matching::ChangePtoVSummary> summary = nullptr);

// The step for ComparisonHooks::compare_legcodes; the summary (optional) is
// shared with the step and reset at each call.
runs::RunStep legcode_compare_step(std::shared_ptr<matching::LegCodeSummary> summary = nullptr);

// Installs the leg-code comparison in the hooks.
void install_legcode_comparison(runs::RunHooks& hooks);

// The summaries the installed steps fill, one per family and one for
// ChangePtoV; each step resets its own at each call. A caller that reads
// them (velmora-batch) keeps the pointers.
struct ComparisonSummaries {
  std::shared_ptr<matching::BatchCompareSummary> tarvik =
      std::make_shared<matching::BatchCompareSummary>();
  std::shared_ptr<matching::BatchCompareSummary> new_style =
      std::make_shared<matching::BatchCompareSummary>();
  std::shared_ptr<matching::LegCodeSummary> legcodes = std::make_shared<matching::LegCodeSummary>();
  std::shared_ptr<matching::BatchCompareSummary> key_points =
      std::make_shared<matching::BatchCompareSummary>();
  std::shared_ptr<matching::ChangePtoVSummary> change_p_to_v =
      std::make_shared<matching::ChangePtoVSummary>();
};

// Hands the steps this version provides to the window's hooks: every
// comparison family and ChangePtoV. `options` are the tarvik family's.
void install_comparison_steps(runs::RunHooks& hooks,
                              std::shared_ptr<matching::ProcessRunner> runner,
                              matching::BatchCompareOptions options = {},
                              const ComparisonSummaries& summaries = {});

}  // namespace velmora::app

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

// The step for ComparisonHooks::change_p_to_v; the summary (optional) is
// shared with the step and reset at each call.
runs::RunStep change_p_to_v_step(std::shared_ptr<matching::ChangePtoVSummary> summary = nullptr);

// The step for ComparisonHooks::compare_legcodes; the summary (optional) is
// shared with the step and reset at each call.
runs::RunStep legcode_compare_step(std::shared_ptr<matching::LegCodeSummary> summary = nullptr);

// Installs the leg-code comparison in the hooks.
void install_legcode_comparison(runs::RunHooks& hooks);

// Hands the steps this version provides to the window's hooks.
void install_comparison_steps(runs::RunHooks& hooks,
                              std::shared_ptr<matching::ProcessRunner> runner);

}  // namespace velmora::app

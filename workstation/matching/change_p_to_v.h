// ChangePtoV: compared pending extracts move on to the visual check.
//
// After the comparison families have run, up to the batch size (txtNumPend)
// of pending extracts (AutoMatch 'P') of each aspect and side become 'V', in
// the order of the pending list the comparison used (pending_cells: cell
// order, or the animals of the multi-aspect batch); in "real-time ident."
// only the extract just saved (pending_cell). Aspects are walked up to the
// first one named "Skin", lateral aspects on sides "L" and "R", the others
// on "M"; with "use multiple cores" ticked only the aspect and side chosen in
// cmbAspect and cmbSide. The rows are changed through the view
// SYSTEM_ImageLinks, one transaction per aspect and side.
#pragma once

#include <cstdint>
#include <memory>

#include "workstation/common/status.h"
#include "workstation/runs/run_context.h"

namespace velmora::matching {

struct ChangePtoVSummary {
  int64_t moved = 0;  // extracts set from P to V
};

Status ChangePtoV(runs::RunContext& ctx, ChangePtoVSummary* summary = nullptr);

// The same move for one aspect and side only, whatever cmbAspect and cmbSide
// say. A batch comparison that fails part-way uses it for the sides it had
// already compared and imported, so that a new run does not compare them
// again and count their scores twice.
Status ChangePtoV_for_side(runs::RunContext& ctx, const config::AspectEntry& entry,
                           const std::string& side, ChangePtoVSummary* summary);

// The step for ComparisonHooks::change_p_to_v; the summary (optional) is
// shared with the step and reset at each call.
runs::RunStep change_p_to_v_step(std::shared_ptr<ChangePtoVSummary> summary = nullptr);

}  // namespace velmora::matching

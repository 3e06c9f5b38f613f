// ChangePtoV: compared pending extracts move on to the visual check.
//
// After the comparison families have run, up to the batch size of pending
// extracts (AutoMatch 'P') of each aspect and side become 'V', in the order
// of the pending list the comparison used (pending_cells: cell order, or the
// animals of the multi-aspect batch); in "real-time ident." only the extract
// just saved (pending_cell with state.current_cell). The aspects and sides
// are those of the comparison's walk (session/aspect_sides.h). The rows are
// changed through the view SYSTEM_ImageLinks, one transaction per aspect and
// side.
#pragma once

#include <cstdint>

#include "workstation/common/status.h"
#include "workstation/session/run_state.h"

namespace velmora::matching {

struct ChangePtoVSummary {
  int64_t moved = 0;  // extracts set from P to V
};

// Resets *summary (when given) and fills it.
Status ChangePtoV(session::RunState& state, ChangePtoVSummary* summary = nullptr);

// The same move for one aspect and side only, whatever the options choose.
// A batch comparison that fails part-way uses it for the sides it had
// already compared and imported, so that a new run does not compare them
// again and count their scores twice. Adds to summary->moved.
Status ChangePtoV_for_side(session::RunState& state, const config::AspectEntry& entry,
                           const std::string& side, ChangePtoVSummary* summary);

}  // namespace velmora::matching

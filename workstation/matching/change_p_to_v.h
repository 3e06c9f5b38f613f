// ChangePtoV: compared pending extracts move on to the visual check.
//
// After the comparison families have run, the extracts this run compared
// and whose results are stored, but that are still pending, become 'V':
// exactly those the families noted in state.compared_pending, never an
// extract that became pending while the run went on (it was not compared).
// The comparison through tarvikx moves its own extracts in the transaction
// of their import, so none of them wait here; under "use multiple cores"
// they stay pending until the import of their results. One transaction.
#pragma once

#include <cstdint>

#include "workstation/common/status.h"
#include "workstation/session/run_state.h"

namespace velmora::matching {

struct ChangePtoVSummary {
  int64_t moved = 0;  // extracts set from P to V
};

// Resets *summary (when given) and fills it; empties state.compared_pending
// once the move is committed.
Status ChangePtoV(session::RunState& state, ChangePtoVSummary* summary = nullptr);

}  // namespace velmora::matching

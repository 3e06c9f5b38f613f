// Parking for a test run: the real pending extracts step aside while the
// test set is compared in their place, and come back afterwards.
//
// A test run makes every library extract of the test set pending (P) for
// the length of its comparisons, so the real pending extracts are parked
// as T first; when the comparisons are done the test set goes back to the
// library (L) and the parked extracts back to P. The comparison families
// may move what they compared from P to V with their imports, so the test
// set is not found again by its status alone: parking writes each extract
// it moves into the table test_run_journal (cell, was: 'P' for a parked
// pending extract, 'L' for a test extract), in the same transaction as the
// moves. The journal is emptied in the transaction that puts everything
// back, so a row in it means exactly "a test run stopped between parking
// and restoring" (the process died, or the restore failed): the next Start
// recognises that and puts it right before anything else, so that no test
// extract is compared as a new pending one and no real pending extract is
// left out of the next batch.
//
// The journal table is made when first needed, so databases made before it
// existed work unchanged. All functions need the statements Start prepared
// (park_pending, test_set_to_pending, test_set_to_library,
// restore_pending). One thread, like the run state.
#pragma once

#include <cstdint>
#include <string>

#include "workstation/common/status.h"
#include "workstation/session/run_state.h"

namespace velmora::session {

inline constexpr const char* kTestRunJournal = "test_run_journal";

struct ParkCounts {
  int64_t parked = 0;    // real pending extracts moved from P to T
  int64_t test_set = 0;  // test extracts moved from L to P
};

struct RestoreCounts {
  int64_t to_library = 0;      // test extracts put back to L (from P or V)
  int64_t to_pending = 0;      // parked extracts put back to P
  int64_t scores_removed = 0;  // rows of the test set removed from temp
};

// P to T, then the test set from L to P, with the journal; one transaction.
Status park_for_test_run(RunState& state, ParkCounts* counts);

// The test set back to L (those a family moved to V as well), T back to P
// and the journal emptied; one transaction. With `discard_scores` the test
// set's rows of temp go too (a run that will not be evaluated leaves no
// candidates of library extracts for the visual check).
Status restore_after_test_run(RunState& state, bool discard_scores, RestoreCounts* counts);

// True when the journal holds rows: a test run stopped between parking and
// restoring.
Status test_run_was_stopped(RunState& state, bool* stopped);

// At Start: when a test run stopped between parking and restoring, puts
// everything back as restore_after_test_run does (scores discarded) and
// sets *message to what was restored, for the operator; otherwise leaves
// *message empty and changes nothing.
Status recover_stopped_test_run(RunState& state, std::string* message);

}  // namespace velmora::session

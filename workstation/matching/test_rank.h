// The test-rank evaluation: how well the comparison ranks known animals.
//
// A test run makes the test set (library extracts of animals whose ID does
// not begin with a digit 1 to 9) pending, compares it as pending extracts
// are compared, puts everything back, and ranks the scores it left in temp
// with the saved steps of the database ("s01: make IDs" ... or "t01: ..."
// with "combine"): for each unit, the rank position of the first extract of
// its own animal. The result is the rows of SYSTEM_overall_ranks, which the
// chart (test_rank_chart.h) shows, and without "combine" the count per
// algorithm letter (SYSTEM_ranks_by_extension).
//
// A run, in order:
//   1. temp must be empty (it becomes the test's score list); otherwise the
//      operator is told to finish the visual checks and the program ends;
//   2. the operator confirms that the tables will be updated (Cancel ends
//      the program, nothing changed);
//   3. the real pending extracts are parked and the test set made pending
//      (session/test_run_parking.h: one transaction, journalled);
//   4. `compare` runs the comparison families; the whole test set is one
//      batch (the batch size is raised to its size for the run) and "use
//      multiple cores" is off, so that every test extract is compared once
//      and imported at once;
//   5. everything is put back (one transaction);
//   6. the working tables are emptied and the saved steps run, all in one
//      transaction, so a failing step keeps the previous evaluation.
// A comparison that fails (or is stopped) puts everything back at once and
// removes the test's scores from temp: the run ends unevaluated. A restore
// that fails leaves the journal, and the next Start puts it right. With
// "last test result" nothing runs: the stored evaluation is read.
//
// The core draws nothing and talks to the operator only through the panel
// (cmdStart, lblProgress, ProgressBar1) and the dialogs. One thread; needs
// what Start prepared in the run state.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "workstation/common/control_panel.h"
#include "workstation/common/operator_dialogs.h"
#include "workstation/common/status.h"
#include "workstation/matching/test_rank_chart.h"
#include "workstation/session/run_state.h"
#include "workstation/session/test_run_parking.h"

namespace velmora::matching {

inline constexpr const char* kTempNotEmptyMessage =
    "temp table is not empty - complete visual comparisons";
inline constexpr const char* kBackupQuestion = "tables will be updated - backup your database";
inline constexpr const char* kCalculatingCaption = "calculating test ranks";

struct TestRankOptions {
  bool previous = false;  // "last test result": only read the stored evaluation
  bool combine = false;   // "combine": the "t" steps, one unit per animal
};

// One row of SYSTEM_ranks_by_extension.
struct ExtensionRank {
  std::string extension;  // algorithm letter
  int64_t rank = 0;
  int64_t count = 0;   // units of this letter at this rank
  double percent = 0;  // of this letter's units
};

struct TestRankResult {
  bool compared = false;      // the test set was compared (false with "last test result")
  bool evaluated = false;     // the saved steps ran to their end
  bool overall_read = false;  // `overall` holds SYSTEM_overall_ranks
  std::vector<RankRow> overall;
  bool by_extension_read = false;  // `by_extension` holds the per-letter count
  std::vector<ExtensionRank> by_extension;
  session::ParkCounts parked;
  session::RestoreCounts restored;
};

// Runs the comparison families on the pending extracts (the test set).
using CompareTestSet = std::function<Status()>;

// The run (or, with options.previous, only the reading). Ok with
// dialogs.program_ended() when the operator's answer ended it. *result is
// filled as far as the run got, so a chart can be drawn even when the
// per-letter count fails afterwards.
Status run_test_rank(session::RunState& state, ControlPanel& panel, OperatorDialogs& dialogs,
                     const TestRankOptions& options, const CompareTestSet& compare,
                     TestRankResult* result);

// The rows of SYSTEM_overall_ranks.
Status read_overall_ranks(db::Database* db, std::vector<RankRow>* rows);

// The per-letter count: empties its two tables, runs "s15: count ranks by
// extension" and reads SYSTEM_ranks_by_extension (one transaction).
Status count_ranks_by_extension(db::Database* db, std::vector<ExtensionRank>* rows);

// The ten cumulative percentages and the per-letter rows as text tables.
std::string format_test_rank_table(const ChartBars& bars);
std::string format_extension_table(const std::vector<ExtensionRank>& rows);

}  // namespace velmora::matching

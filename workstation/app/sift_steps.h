// The key-point family's step for the window's run and velmora-batch.
//
// The family brings its part of one aspect and side (compare_sift_side);
// the comparison families' shared frame brings the rest: the walk of
// aspects and sides, the pending extracts taken up to the batch size and
// the library selected (restricted, site or landscape), the distribution
// rows cell + "." + letter, the previous-results check, the import of the
// results file under the family's letter in one transaction with the move
// of the compared extracts from P to V, "use multiple cores" and batch
// size 0. The frame is handed in as a ComparisonFrame; the step describes
// the family to it as a FamilyPlugin.
#pragma once

#include <functional>
#include <string>

#include "workstation/matching/results_import.h"
#include "workstation/matching/sift_compare.h"
#include "workstation/runs/run_context.h"

namespace velmora::app {

// A comparison family as the shared frame drives it.
struct FamilyPlugin {
  std::string family;                   // algy type, for messages: "CompSift"
  std::string letter;                   // results file, distribution rows and import
  const char* distribution_label = "";  // lblProgress while the distribution rows are made
  const char* completed_label = "";     // lblProgress at the end
  matching::ScoreRange scores;          // what the import admits
  // Lateral aspects (sides L and R) are those whose cell_type is "lateral"
  // or "Lateral"; any other value gives the third side only.
  bool lateral_by_cell_type = true;
  // The family's work on one aspect and side; `compared` of the result are
  // the pending extracts the frame moves to V after the import, the rest
  // stay pending.
  std::function<Status(const matching::SiftSideInputs&, ControlPanel&, matching::SiftSideResult*)>
      compare_side;
};

using ComparisonFrame = std::function<Status(runs::RunContext&, const FamilyPlugin&)>;

// The family as a plugin, with the run's key-point letter.
FamilyPlugin sift_plugin(const std::string& letter);

// The step for ComparisonHooks::compare_sift: nothing when the database has
// no key-point algorithm, else the frame with the plugin.
runs::RunStep compare_sift_step(ComparisonFrame frame);

// Sets hooks.comparison.compare_sift when a frame is given; without one the
// hook stays unset and the driver reports the family "not available".
void install_sift_comparison(runs::RunHooks& hooks, ComparisonFrame frame);

}  // namespace velmora::app

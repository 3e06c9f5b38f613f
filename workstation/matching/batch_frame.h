// The frame every batch comparison family runs in: the walk over aspects and
// sides, the pending extracts up to the batch size, the library selection,
// the locks, "use multiple cores", the results file and its import. A family
// (the comparison through tarvikx, the correlation and spot comparison, ...)
// plugs in only what differs: which file an extract needs, how the pending
// extracts are compared with the library into the results file, and its
// texts.
//
// For each aspect and side of the run's walk (session/aspect_sides.h, with
// the family's rule of what is lateral) that the family takes:
//   1. the pending extracts (the current one only in "real-time ident.") are
//      taken in cell order until the batch size is used up; an extract that
//      the family cannot use (its file is missing, its name cannot be
//      written) uses up its place but is left out and stays pending (it was
//      never compared); every one taken gets its distribution row
//      cell + "." + letter for each of the family's letters;
//   2. the family compares the extracts listed with the library extracts (L
//      or V; "restricted", site or landscape limit as Start chose), appending
//      to aspect + side + letter + "_results.txt" in the working folder; a
//      pending extract it finds it cannot compare after all (an unreadable
//      file) it hands back, and that one stays pending too;
//   3. the results file is imported (import_results) and the extracts that
//      were compared move from P to V in the same transaction, so that an
//      interruption at any point leaves them either pending with nothing
//      counted or visual with everything counted; the file is deleted after
//      the commit. When a later family of the run still has to compare the
//      same pending extracts, the move waits for ChangePtoV after the last
//      family instead (the extracts are noted in state.compared_pending).
// With "use multiple cores" ticked only the chosen aspect and side is
// handled and step 3 waits: the names compared are written beside the
// results file (results file name + ".listed"), which marks it complete. A
// batch size of 0 compares nothing and imports every complete results file
// of the family on disk with its list, moving those extracts to V; a results
// file without its list is incomplete (its copy was stopped) and is set aside
// as ".failed", never imported.
//
// Before anything is written the run takes its locks (see batch_locks.h). A
// second run is refused at once, told who holds them.
//
// A comparison that fails (a family's Status) stops the run: what was
// written for that aspect and side is not imported. Aspects and sides
// imported before stay imported, with their extracts in V. A run in which
// every pending extract taken was left out fails, with nothing moved.
//
// Runs on the GUI thread; a family keeps the window responsive through the
// panel's event handling. Needs what Start prepared in the run state.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "workstation/common/control_panel.h"
#include "workstation/common/operator_dialogs.h"
#include "workstation/common/status.h"
#include "workstation/config/aspects.h"
#include "workstation/db/database.h"
#include "workstation/matching/results_import.h"
#include "workstation/session/aspect_sides.h"
#include "workstation/session/run_state.h"

namespace velmora::matching {

// What one batch comparison did, for the headless program and the tests.
struct BatchCompareSummary {
  int aspect_sides = 0;            // aspects and sides whose pending extracts were listed
  int64_t pending_listed = 0;      // pending extracts taken for comparing
  int64_t pending_missing = 0;     // pending extracts taken but left out (no file, unusable name)
  int64_t pending_unreadable = 0;  // listed, but their file could not be read
  int64_t library_extracts = 0;    // library extracts selected, summed over aspects and sides
  int64_t library_listed = 0;      // library extracts compared
  int64_t library_missing = 0;     // library extracts left out (no file, unusable name, unreadable)
  int tarvikx_runs = 0;            // runs started (or tried)
  int failed_runs = 0;             // runs that did not start or did not end with exit code 0
  int imports = 0;                 // results files imported
  int64_t result_lines = 0;        // result lines stored by the imports
  int64_t skipped_lines = 0;       // lines the imports skipped (not a result, unknown cell)
  int64_t staged = 0;              // pairs staged in pretemp
  int64_t temp_rows = 0;           // candidate rows written to temp
  int64_t moved_to_v = 0;          // extracts moved from P to V with their imports
  double tarvikx_seconds = 0;      // wall time inside the tarvikx runs
  double import_seconds = 0;       // wall time inside the imports
  bool stopped_at_previous_results = false;  // the program ended at results left on disk
  // The families compared inside the workstation (no tarvikx): which one
  // ("" for the comparison through tarvikx), the pairs they scored and the
  // time it took.
  std::string family;
  std::string extract_file;  // what a compared extract needs: "key file" ("" = feature file)
  int64_t pairs_compared = 0;
  double compare_seconds = 0;
  // The first few extracts left out, each with its reason: a name the lists
  // cannot hold, a missing file, an unreadable one (pending), and library
  // extracts whose file could not be read.
  static constexpr size_t kMaxListed = 10;
  std::vector<std::string> refused_names;
  std::vector<std::string> missing_names;
  std::vector<std::string> unreadable_names;
  std::vector<std::string> unreadable_library_names;
};

// Adds "<cell>": why to `list` while it holds fewer than kMaxListed.
void note_left_out(std::vector<std::string>* list, const std::string& cell, const std::string& why);

// Why a family cannot use an extract.
struct ExtractProblem {
  enum class Kind { kNone, kRefused, kMissing };
  Kind kind = Kind::kNone;
  std::string why;  // for the operator: "no fingerprint file", ...
  bool ok() const { return kind == Kind::kNone; }
};

// The extract's own file `cell` in `folder` (a "feature file", a "key
// file"): refused when the name would leave the folder, missing when no
// regular file is there.
ExtractProblem extract_file_problem(const std::string& folder, const std::string& cell,
                                    const std::string& file_kind);

// What a family tells the frame when it is set up.
struct FamilySetup {
  std::string letter;  // results file and import letter
  // Each gets a distribution row cell + "." + letter for every pending
  // extract taken; at least `letter`.
  std::vector<std::string> distribution_letters;
  ScoreRange scores;                // what the import accepts
  std::string making_lists_label;   // lblProgress while the pending extracts are taken
  std::string all_completed_label;  // lblProgress at the end
  bool beep_at_end = false;         // three beeps when every aspect and side is done
  // Headings of the messages that name the pending extracts left out.
  std::string refused_heading, missing_heading, unreadable_heading;
  // Why an extract that not_compared_in names was not compared.
  std::string not_compared_why = "its file could not be read";
  // Whether the extracts compared move from P to V with the import. A family
  // that is followed by another in the same run leaves them pending for the
  // later families and notes them in state.compared_pending, for ChangePtoV
  // after the last family (see later_family_in_run).
  bool move_with_import = true;
  // The cell_type values that make an aspect lateral for this family.
  session::LateralTypes lateral = session::LateralTypes::kLateral;
};

// The families in the order a batch comparison runs them.
enum class FamilyOrder { kTarvik, kNewStyle, kLegCode, kKeyPoints };

// Whether the run has the letter of a family that comes after `family`.
bool later_family_in_run(const session::AlgorithmLetters& letters, FamilyOrder family);

class ComparisonFamily;

// One aspect and side handed to the family's compare step.
struct SideWork {
  const config::AspectEntry* aspect = nullptr;
  std::string side;
  std::vector<std::string> pending;  // the extracts listed, in cell order
  db::RecordSet* library = nullptr;  // the library rows selected (column "cell"), at no row
  std::string results_path;          // append here
  std::string letter;
  // Out: pending extracts of `pending` that could not be compared after all,
  // with why; they stay pending and are named to the operator.
  std::vector<std::pair<std::string, std::string>> not_compared;
};

// The frame's services a family uses while it compares.
struct FrameServices {
  session::RunState* state = nullptr;
  ControlPanel* panel = nullptr;
  OperatorDialogs* dialogs = nullptr;
  BatchCompareSummary* summary = nullptr;
  std::string working_folder;  // ends in '/' or is empty
  int batch_size = 0;
  bool multi_core = false;
};

class ComparisonFamily {
 public:
  virtual ~ComparisonFamily() = default;

  // Called once before anything is written, after the frame has checked the
  // run state. InvalidArgument and the like stop the run with nothing done.
  virtual Status set_up(const FrameServices& frame, FamilySetup* setup) = 0;
  // Whether the family compares this aspect at all.
  virtual bool takes_aspect(const config::AspectEntry&) const { return true; }
  // Whether a pending extract can be compared (its file is there, its name
  // can be written).
  virtual ExtractProblem extract_problem(const std::string& cell) const = 0;
  // Called once the pending extracts of a side are taken (before the library
  // is selected); `listed` may be empty.
  virtual Status pending_taken(const std::string& side, const std::vector<std::string>& listed) {
    (void)side, (void)listed;
    return Status::Ok();
  }
  // Compares work.pending with the library into work.results_path.
  virtual Status compare_side(const FrameServices& frame, SideWork& work) = 0;
  virtual std::string completed_label(const std::string& aspect, const std::string& side) const = 0;
  // The pending extracts named in a results file as never compared (read
  // before it is imported).
  virtual std::set<std::string> not_compared_in(const std::string& results_path) const {
    (void)results_path;
    return {};
  }
};

// Runs `family` in the frame. Resets *summary (when given) and fills it.
Status run_comparison_frame(session::RunState& state, ControlPanel& panel, OperatorDialogs& dialogs,
                            ComparisonFamily& family, BatchCompareSummary* summary = nullptr);

// The summary lines of a comparison (what was compared, left out and why,
// imported, skipped and moved to V), for the headless program's summary and
// the window's last message. `moved_afterwards`: extracts ChangePtoV moved.
std::string format_batch_summary(const BatchCompareSummary& summary, int64_t moved_afterwards);

// The name of the list of extracts compared into a results file that waits
// for its import ("use multiple cores").
std::string compared_list_file_name(const std::string& aspect, const std::string& side,
                                    const std::string& letter);

// The name a results file is kept under when its comparison failed.
std::string failed_results_file_name(const std::string& aspect, const std::string& side,
                                     const std::string& letter);

// Renames the results file of a failed comparison to its ".failed" name and
// says so (or why it could not) in a sentence for the operator; "" when
// there was no file.
std::string keep_failed_results(const std::string& working_folder, const std::string& aspect,
                                const std::string& side, const std::string& letter);

}  // namespace velmora::matching

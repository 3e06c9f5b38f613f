// compare_legcodes: the pending leg-code extracts scored against the
// library by their codes (legcode_scores.h), in the workstation itself.
//
// Leg-code extracts are those of aspect "LegCode" (cell names ending in
// "LC"), all on side "M". One run:
//   1. the pending extracts are taken in cell order up to the batch size;
//      each gets its distribution row cell + "." + letter. One whose codes
//      table has no code, or whose name the results file cannot carry, is
//      left out, named to the operator, and stays pending. At most 15 codes
//      of an extract are read;
//   2. the library extracts (L or V; "restricted", site or landscape limit
//      as Start chose) with codes are read once;
//   3. "LegCode" + "M" + letter + "_results.txt" in the working folder gets
//      "$ pending pending" with every pair of pending extracts once (i before
//      j), then "$ pending library" with every pending extract against every
//      library one; each score in the shortest text of its single-precision
//      value. fixLegCode_value 1 chooses the positional score, anything else
//      the sliding one;
//   4. the file is imported (import_results) and the extracts compared move
//      from P to V in the same transaction; the file goes after the commit.
// The frame is the old-style comparison's: "use multiple cores" runs only
// when "LegCode" and "M" are the chosen aspect and side, keeps the results
// file with its list of compared extracts (results file + ".listed") for a
// later run with batch size 0, which imports every complete file; a results
// file found without its list is set aside as ".failed", never imported,
// and under "use multiple cores" a results file on disk ends the program
// with the previous-results message. The locks are those of batch_locks.h
// for aspect "LegCode", side "M". A stop asked for by the operator ends the
// run with nothing imported, the partial file kept as ".failed".
//
// Runs on the GUI thread and lets the window handle its events once per
// pending extract.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "workstation/common/control_panel.h"
#include "workstation/common/operator_dialogs.h"
#include "workstation/common/status.h"
#include "workstation/matching/legcode_scores.h"
#include "workstation/matching/results_import.h"
#include "workstation/session/run_state.h"

namespace velmora::matching {

inline constexpr char kLegCodeAspect[] = "LegCode";
inline constexpr char kLegCodeAspectLetter[] = "LC";
inline constexpr char kLegCodeSide[] = "M";
inline constexpr size_t kMaxCodesPerExtract = 15;

struct LegCodeSummary {
  bool compared = false;          // this run took the leg-code aspect and side
  int64_t pending_listed = 0;     // pending extracts compared
  int64_t pending_left_out = 0;   // taken, but without codes or with an unusable name
  int64_t library_extracts = 0;   // library extracts selected
  int64_t library_listed = 0;     // library extracts compared
  int64_t library_left_out = 0;   // selected, but without codes or with an unusable name
  int64_t codes_passed_over = 0;  // codes past the 15th of an extract
  int64_t pairs = 0;              // result lines written
  int imports = 0;                // results files imported
  int64_t result_lines = 0;       // result lines stored by the imports
  int64_t skipped_lines = 0;      // lines the imports skipped
  int64_t staged = 0;             // pairs staged in pretemp
  int64_t temp_rows = 0;          // candidate rows written to temp
  int64_t moved_to_v = 0;         // extracts moved from P to V with their imports
  double compare_seconds = 0;     // wall time of the pair loop and its file
  double import_seconds = 0;      // wall time inside the imports
  bool stopped_at_previous_results = false;
  static constexpr size_t kMaxListed = 10;
  std::vector<std::string> left_out_names;  // the first pending extracts left out, with why
};

// Resets *summary (when given) and fills it.
Status compare_legcodes(session::RunState& state, ControlPanel& panel, OperatorDialogs& dialogs,
                        LegCodeSummary* summary = nullptr);

std::string format_legcode_summary(const LegCodeSummary& summary);

// The scores a results file of this family may hold: 0 to the longest code
// (sliding counts), which also covers the positional 0 to 1.
ScoreRange legcode_score_range(size_t longest_code);

// Extracts with their codes, in the order they are written.
struct LegCodeBatch {
  std::vector<std::string> names;
  LegCodeTable codes;
  // Adds an extract; codes past kMaxCodesPerExtract are passed over and
  // counted in *passed_over (when given).
  void add(const std::string& name, const std::vector<std::string>& codes,
           int64_t* passed_over = nullptr);
  size_t size() const { return names.size(); }
};

// Appends the result lines of extract i of `first`: against every later
// extract of `first` itself when `second` is null (each pending pair once),
// else against every extract of `second`. Returns the lines appended.
int64_t append_legcode_lines(const LegCodeBatch& first, size_t i, const LegCodeBatch* second,
                             LegCodeScoring scoring, std::string* out);

}  // namespace velmora::matching

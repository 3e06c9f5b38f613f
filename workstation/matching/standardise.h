// standardise: the staged pairs of one aspect and side (table pretemp) become
// the candidate rows of table temp that visual confirmation works through.
//
// For each (pname, fname) pair of cell numbers staged under aspect + side,
// the largest staged score is kept; with "standardise" ticked it is replaced
// by the match probability (match_probability.h) from the stats row of the
// aspect and algorithm letter and the two extracts' distribution rows. Which
// extract's first-extract (L) and second-extract (R) columns are read depends
// on the raw score: rounded half to even, an even integer keeps the order
// (first = pending cell), an odd one swaps it.
//
// Runs inside the caller's transaction (the results import's), through the
// prepared statements stats_of_algorithm, best_pretemp_scores,
// distribution_of_file and insert_temp. A pair whose probability cannot be
// computed (a Gamma shape of 0 or less, a score of 0) is written with
// probability 0 and counted; the run goes on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "workstation/common/status.h"
#include "workstation/db/statements.h"
#include "workstation/session/cell_directory.h"

namespace velmora::matching {

using session::CellDirectory;

// The operator's scoring options, read when the import runs.
struct ScoringOptions {
  bool quick = false;          // "quick" (chkQuick): stage only scores above rmu - 3 sigma
  bool standardise = false;    // "standardise" (chkStan): temp holds match probabilities
  double prior_match = 0.005;  // P(m) prior (txtPm)
  bool test_run = false;       // a test run: leave distribution alone, keep same-animal pairs
};

// Reads the operator's P(m) text (".005"); InvalidArgument unless it is a
// number from 0 to 1.
Status parse_prior_match(const std::string& text, double* prior);

// Receives the progress texts (lblProgress).
using ProgressFn = std::function<void(const std::string&)>;

struct StandardiseSummary {
  int64_t temp_rows = 0;           // rows written to temp
  int64_t probability_faults = 0;  // pairs given probability 0: a density had no value
  int64_t unknown_cell_pairs = 0;  // staged pairs whose cell number is not in the directory
};

// True when a pair keeps its order (first = pending cell): `score` rounded
// to the nearest integer, halves to even, is even.
bool keeps_order(float score);

// The image name of a cell: the cell name without its last 7 characters when
// it contains ".RW", ".RL", ".LW" or ".LL", else without its last 3. A name
// no longer than the cut leaves nothing.
std::string image_name_of_cell(std::string_view cell);

Status standardise(db::PreparedStatements* statements, const CellDirectory& cells,
                   const std::string& aspect, const std::string& side, const std::string& letter,
                   const ScoringOptions& options, const ProgressFn& progress,
                   StandardiseSummary* summary);

}  // namespace velmora::matching

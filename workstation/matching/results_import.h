// import_results: one results file into the database.
//
// The file aspect + side + letter + "_results.txt" in the working folder is
// read line by line. Each well-formed result line "name1,name2,score,..."
// adds its score to the distribution rows name1 + "." + letter (first-extract
// columns L) and name2 + "." + letter (second-extract columns R), and is
// staged in pretemp as (pending cell number, library cell number, score,
// aspect + side); which of the two names is the pending extract follows the
// last header line. At the end, standardise (standardise.h) turns the staged
// pairs into temp rows, and the staged rows of aspect + side are deleted.
//
// Rules of a line:
//  * a line containing "Can't", and an empty line, is skipped;
//  * "$ a b" sets the order: "pending pending", "library ..." or other;
//  * a result whose two cells belong to one animal is left out entirely,
//    except in a test run, which stages it and leaves distribution alone;
//  * a result is staged when its score > 0, or with "quick" ticked and a stats
//    row for aspect and letter, when score > rmu_match - 3 * sigma_match;
//  * the staged score is the text of the score written with eight decimals,
//    plus 2e-9.
// A result whose score is not one its comparison family can give (outside
// the request's score range: 3.5e38 from a damaged line would overflow the
// single-precision score columns, 1e30 would top the candidate list) is
// skipped like a damaged line.
// Lines that are none of these (the comparison program's problem messages, a
// result glued after a memory message, a damaged line), results naming a
// cell the database does not have, and a last line without its line end (a
// file cut short: "P1,L1,0.4" may be all that was written of
// "P1,L1,0.4567,...") are skipped, counted and listed in the summary, and the
// import goes on.
//
// The whole import is one transaction: when anything fails (the file cannot
// be read, a statement fails) the database is left as it was and the file
// stays where it is, so the import can be repeated. Only after the commit is
// the file deleted (when the request asks for it, as the comparison runs do).
// A results file that does not exist imports as an empty one.
//
// Must be called outside a transaction. Speed: the cells are read once into a
// CellDirectory (or the caller's is used); each result line costs one
// statement (its pretemp row), since the distribution counts are added up in
// memory and each touched row is written once, with the same arithmetic, in
// the same order, as one update per line.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/db/database.h"
#include "workstation/db/statements.h"
#include "workstation/matching/standardise.h"
#include "workstation/session/cell_directory.h"

namespace velmora::matching {

using session::CellDirectory;

// The scores a comparison family gives: every score from `low` to `high`,
// and `no_score`, the family's mark for a pair it could not score, when it
// has one (counted in distribution like any score, as it always was).
struct ScoreRange {
  double low = 0.0;
  double high = 0.0;
  std::optional<double> no_score;

  // False for NaN and the infinities too.
  bool admits(double score) const;
  std::string text() const;  // "-1 to 1"
};

// The comparison program's family (algorithm type "tarvik"): correlations
// from -1 to 1, and -9.99 (written "-9.9900") for a pair it found nothing to
// correlate in.
inline constexpr ScoreRange kTarvikScores{-1.0, 1.0, -9.99};

struct ImportRequest {
  std::string working_folder;  // folder of the results file, ending in '/'; "" = current folder
  std::string aspect;
  std::string side;    // "L", "R" or "M"
  std::string letter;  // algorithm letter: extension of distribution keys and temp.pname
  ScoringOptions options;
  // The scores the family of `letter` gives; the old-style comparison's
  // results are the comparison program's.
  ScoreRange scores = kTarvikScores;
  bool delete_after_commit = true;  // remove the results file once it is stored
  // Cells by name and number, loaded once per run by the caller; when null
  // the import reads them itself (inside its transaction).
  const CellDirectory* cells = nullptr;
  ProgressFn progress;  // lblProgress texts; may be empty
  // Work that belongs with the import (the move of the extracts compared
  // into the file from P to V), run inside its transaction just before the
  // commit; a failure rolls the whole import back. May be empty.
  std::function<Status()> before_commit;
};

// One skipped line, for the operator.
struct SkippedLine {
  int64_t line_no = 0;  // 1-based line number in the file
  std::string text;     // the line (at most 80 characters of it)
  std::string reason;
};

struct ImportSummary {
  std::string results_path;
  bool file_found = false;    // false: there was no results file (nothing to import)
  bool committed = false;     // the database holds this import
  bool file_deleted = false;  // the results file was removed after the commit

  int64_t lines = 0;  // lines read
  int64_t headers = 0;
  int64_t cant_lines = 0;                 // lines containing "Can't"
  int64_t result_lines = 0;               // well-formed result lines naming known cells
  int64_t same_animal = 0;                // results of two extracts of one animal, left out
  int64_t counted = 0;                    // results added to distribution
  int64_t staged = 0;                     // rows put into pretemp
  int64_t malformed_lines = 0;            // skipped: neither header, "Can't" line nor result
  int64_t unknown_cell_lines = 0;         // skipped: a result naming a cell not in the database
  int64_t cut_short_lines = 0;            // skipped: the last line, without its line end
  int64_t bad_score_lines = 0;            // skipped: a score outside the family's range
  int64_t missing_distribution_rows = 0;  // updates that found no distribution row
  StandardiseSummary standardised;

  // The first skipped lines (malformed, bad scores, unknown cells, cut short), and the
  // distinct unknown cell names (first few), for the message to the operator.
  static constexpr size_t kMaxListed = 10;
  std::vector<SkippedLine> skipped;
  std::vector<std::string> unknown_cells;

  int64_t skipped_lines() const {
    return malformed_lines + unknown_cell_lines + cut_short_lines + bad_score_lines;
  }
  // Empty when nothing was skipped and every probability could be computed;
  // otherwise a message for the operator naming the file, the counts and the
  // first skipped lines.
  std::string problems_message() const;
};

// The results file name of an aspect, side and letter.
std::string results_file_name(const std::string& aspect, const std::string& side,
                              const std::string& letter);

Status import_results(db::Database* database, db::PreparedStatements* statements,
                      const ImportRequest& request, ImportSummary* summary);

}  // namespace velmora::matching

// The comparison program's run file ("tarvik.ini") for the corpus geometry.
//
// Eleven data lines: the row model of sub-cells 1, 2, 3 (each line four
// numbers: constant, then the factors of the earlier sub-cells' shifts), the
// column model likewise, row and column tolerances for levels 0-3, the score
// threshold, peaks per sub-cell and the margin of the final correlation.
// Comment lines start with ";" and are skipped by the comparison's reader.
#pragma once

#include <array>
#include <string>

namespace velmora::corpus {

struct RunConstants {
  std::array<std::array<float, 4>, 3> row_model{};     // levels 1, 2, 3
  std::array<std::array<float, 4>, 3> column_model{};  // levels 1, 2, 3
  std::array<float, 4> row_tolerance{};                // levels 0-3, strict bounds
  std::array<float, 4> column_tolerance{};
  double threshold = 0;  // a pair is written when its score is greater
  int peaks = 0;         // highest peaks per sub-cell taken into the search
  int margin = 0;        // pixels added on every side of the central region
};

// Constants that suit 64 x 64 fingerprints with four 16 x 16 sub-cells
// (search window +/-16) and the corpus's sighting model.
RunConstants corpus_run_constants();

// The file's text, with a comment before each data line.
std::string format_run_file(const RunConstants& k);

}  // namespace velmora::corpus

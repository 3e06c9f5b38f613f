// The run file (comparison constants) and the two list files of tarvikx.
//
// Both are read with next_data_line under the default settings, so blank
// lines, lines starting with ";" or "@" and bracketed text are skipped.
//
// Run file: eleven data lines, in this order:
//   1-3   "%f%f%f%f" row model, levels 1-3 (a0 a1 . . / b0 b1 b2 . / c0 c1 c2 c3)
//   4-6   "%f%f%f%f" column model, the same three levels
//   7     "%f%f%f%f" row tolerances, levels 0-3
//   8     "%f%f%f%f" column tolerances, levels 0-3
//   9     "%lf"      score threshold
//   10    "%d"       peaks per sub-cell
//   11    "%d"       margin in pixels
// A line with fewer numbers than its format, or a missing line, leaves the
// missing values 0.
#pragma once

#include <string>

#include "compare/compare_pass.h"
#include "compare/correlation.h"

namespace tarvik {

struct RunFile {
  ShiftModel row_model;
  ShiftModel col_model;
  float row_tol[4] = {};
  float col_tol[4] = {};
  double threshold = 0;
  int peaks_per_subcell = 0;
  int margin = 0;
};

// False when the file cannot be opened.
bool read_run_file(const std::string& path, RunFile& run);

// The run file's constants as the settings of a pass; the results path and
// the two labels are left to the caller.
PassSettings pass_settings(const RunFile& run);

// Every data line is one name, kept whole however long the list. False when
// the file cannot be opened; list.directory is left as it is.
bool read_file_list(const std::string& path, FileList& list);

}  // namespace tarvik

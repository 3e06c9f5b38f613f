// The check of a comparison program's run file before a batch comparison.
//
// tarvikx reads its run file ("tarvik.ini", "tarvik_head.ini") without
// complaint: a missing line or a word where a number belongs reads as 0,
// and a run with every constant 0 compares nothing and reports success. So
// the workstation reads the file first, line by line exactly as tarvikx does
// (the comparison program's own data-line reader: comments, blank lines and
// bracketed text skipped), and refuses a file that tarvikx would misread,
// naming the line:
//   1-3   row model of sub-cells 1-3: at least 2, 3 and 4 numbers
//   4-6   column model, the same
//   7-8   row and column tolerances, levels 0-3: 4 numbers, none negative
//   9     score threshold: one number from -10 to below 1
//   10    peaks per sub-cell: a whole number from 1 to 128
//   11    margin in pixels: a whole number from 0 to 256
// Numbers are decimal with a point, whatever the locale.
#pragma once

#include <string>

#include "workstation/common/status.h"

namespace velmora::matching {

// Ok, or InvalidArgument naming the file, the data line, what it should hold
// and what it holds; NotFound naming the file when it cannot be opened.
Status check_run_file(const std::string& path);

}  // namespace velmora::matching

// What one line of a results file is, told from its text alone.
//
// A results file (written by the comparison program and by the workstation's
// own comparisons) holds header lines "$ <first label> <second label>", result
// lines "<first name>,<second name>,<score>[,<further pieces>...]" and, between
// them, the comparison program's problem lines. The import takes only headers
// and well-formed result lines; everything else is skipped, and classify tells
// the import why, so it can count and show what it skipped.
//
// The two memory messages of the comparison program ("No memory for 64 x 64 X
// array", the same with Y) are written without a line end, so the next text
// written (normally the header of the next pass) is glued after them. Such a
// header is still a header: dropping it would leave the following results
// under the previous pass's labels and turn pending and library round.
//
// The returned views point into the line passed in; it must outlive them.
#pragma once

#include <string>
#include <string_view>

namespace velmora::matching {

enum class ResultsLineKind {
  kEmpty,      // nothing on the line
  kCantLine,   // contains "Can't": a fingerprint that could not be read
  kHeader,     // "$ " + labels; first and second are the labels
  kResult,     // first and second are the names, score the score
  kMalformed,  // anything else: problem lines, damaged or glued results
};

struct ResultsLine {
  ResultsLineKind kind = ResultsLineKind::kEmpty;
  std::string_view first, second;     // labels of a header, names of a result
  double score = 0.0;                 // of a result
  bool after_memory_message = false;  // a memory message stood in front
  std::string reason;                 // for kMalformed: what is wrong, for the operator
};

ResultsLine classify_results_line(std::string_view line);

// The line kind a header sets: "pp" for "$ pending pending", "lp" when the
// first label is "library", "pl" for any other header.
enum class PairOrder { kPendingPending, kLibraryPending, kPendingLibrary };
PairOrder pair_order_of_header(std::string_view first_label, std::string_view second_label);

// Length of a memory message at the start of `line` ("No memory for %d x %d X
// array" or with Y), or 0 when the line does not begin with one.
size_t memory_message_length(std::string_view line);

}  // namespace velmora::matching

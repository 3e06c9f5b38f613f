// Checking a run file before tarvikx reads it (see run_file_check.h).
#include "workstation/matching/run_file_check.h"

#include <optional>
#include <sstream>
#include <vector>

#include "compare/line_reader.h"
#include "workstation/common/number_text.h"

namespace velmora::matching {
namespace {

struct LineRule {
  const char* what;
  int at_least;      // numbers the line must hold (at most 4 are read)
  bool whole;        // whole numbers only
  double low, high;  // range of every number read
  bool high_open;    // high itself excluded
};

constexpr double kAny = 1e30;

const LineRule kRules[11] = {
    {"row model of sub-cell 1 (a0 a1)", 2, false, -kAny, kAny, false},
    {"row model of sub-cell 2 (b0 b1 b2)", 3, false, -kAny, kAny, false},
    {"row model of sub-cell 3 (c0 c1 c2 c3)", 4, false, -kAny, kAny, false},
    {"column model of sub-cell 1 (a0 a1)", 2, false, -kAny, kAny, false},
    {"column model of sub-cell 2 (b0 b1 b2)", 3, false, -kAny, kAny, false},
    {"column model of sub-cell 3 (c0 c1 c2 c3)", 4, false, -kAny, kAny, false},
    {"row tolerances of levels 0-3", 4, false, 0, kAny, false},
    {"column tolerances of levels 0-3", 4, false, 0, kAny, false},
    {"score threshold", 1, false, -10, 1, true},
    {"peaks per sub-cell", 1, true, 1, 128, false},
    {"margin in pixels", 1, true, 0, 256, false},
};

std::string range_text(const LineRule& r) {
  if (r.low <= -kAny) return "";
  if (r.high >= kAny) return ", none below " + real_to_text(r.low);
  return std::string(", from ") + real_to_text(r.low) + (r.high_open ? " to below " : " to ") +
         real_to_text(r.high);
}

// The first problem of one data line, or "".
std::string line_problem(const LineRule& rule, const std::string& line) {
  std::istringstream words(line);
  std::string word;
  int numbers = 0;
  // tarvikx reads at most four numbers of a line and ignores what follows.
  while (numbers < 4 && words >> word) {
    std::optional<double> v;
    if (rule.whole) {
      if (auto w = whole_from_text<long long>(word, Blanks::kRefuse)) v = static_cast<double>(*w);
    } else {
      v = real_from_text(word, Blanks::kRefuse);
    }
    if (!v) {
      if (numbers >= rule.at_least) break;  // trailing words are never read
      return "\"" + word + "\" is not " + (rule.whole ? "a whole number" : "a number");
    }
    if (*v < rule.low || *v > rule.high || (rule.high_open && *v >= rule.high)) {
      return word + " is outside the usable range" + range_text(rule);
    }
    ++numbers;
  }
  if (numbers < rule.at_least) {
    return "it holds " + std::to_string(numbers) + " number" + (numbers == 1 ? "" : "s") +
           " where " + std::to_string(rule.at_least) + " are needed";
  }
  return "";
}

}  // namespace

Status check_run_file(const std::string& path) {
  tarvik::FileSource in(path);
  if (!in.is_open()) {
    return Status::NotFound("The run file " + path +
                            " cannot be opened; the comparison program needs it in the working "
                            "folder.");
  }
  std::string line;
  for (int i = 0; i < 11; ++i) {
    const LineRule& rule = kRules[i];
    const std::string where =
        "The run file " + path + ", data line " + std::to_string(i + 1) + " (" + rule.what + ")";
    if (!tarvik::next_data_line(in, line)) {
      return Status::InvalidArgument(where + ", is missing: the file has " + std::to_string(i) +
                                     " of the 11 data lines the comparison program reads.");
    }
    const std::string problem = line_problem(rule, line);
    if (!problem.empty()) {
      return Status::InvalidArgument(where + " reads \"" + line.substr(0, 80) + "\": " + problem +
                                     ".");
    }
  }
  return Status::Ok();
}

}  // namespace velmora::matching

// Telling the lines of a results file apart (see results_line.h).
#include "workstation/matching/results_line.h"

#include <optional>

#include "workstation/common/number_text.h"

namespace velmora::matching {
namespace {

// A decimal number written whole ("0.5123", "-1", "2e-3", blanks around and
// a plus sign tolerated), read without regard to the process's locale.
bool parse_number(std::string_view text, double* value) {
  const std::optional<double> v = real_from_text(text, Blanks::kTrim);
  if (!v) return false;
  *value = *v;
  return true;
}

// Digits from `pos`; returns the position after them, or npos when none.
size_t skip_digits(std::string_view s, size_t pos) {
  size_t start = pos;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
  return pos == start ? std::string_view::npos : pos;
}

bool expect(std::string_view s, size_t* pos, std::string_view what) {
  if (*pos == std::string_view::npos || s.substr(*pos, what.size()) != what) return false;
  *pos += what.size();
  return true;
}

ResultsLine malformed(std::string reason, bool after_memory) {
  ResultsLine r;
  r.kind = ResultsLineKind::kMalformed;
  r.reason = std::move(reason);
  r.after_memory_message = after_memory;
  return r;
}

ResultsLine classify_header(std::string_view line, bool after_memory) {
  // Split at single blanks, as the header was written: "$", label, label.
  std::string_view pieces[3];
  int count = 0;
  size_t start = 0;
  while (count < 3) {
    size_t blank = line.find(' ', start);
    pieces[count++] = line.substr(start, blank == std::string_view::npos ? blank : blank - start);
    if (blank == std::string_view::npos) break;
    start = blank + 1;
  }
  if (count < 3) return malformed("header line without two labels", after_memory);
  ResultsLine r;
  r.kind = ResultsLineKind::kHeader;
  r.first = pieces[1];
  r.second = pieces[2];
  r.after_memory_message = after_memory;
  return r;
}

}  // namespace

size_t memory_message_length(std::string_view line) {
  // "No memory for %d x %d X array" / "... Y array"
  size_t pos = 0;
  if (!expect(line, &pos, "No memory for ")) return 0;
  pos = skip_digits(line, pos);
  if (!expect(line, &pos, " x ")) return 0;
  pos = skip_digits(line, pos);
  if (!expect(line, &pos, " ")) return 0;
  if (pos >= line.size() || (line[pos] != 'X' && line[pos] != 'Y')) return 0;
  ++pos;
  if (!expect(line, &pos, " array")) return 0;
  return pos;
}

PairOrder pair_order_of_header(std::string_view first_label, std::string_view second_label) {
  if (first_label == "pending" && second_label == "pending") return PairOrder::kPendingPending;
  if (first_label == "library") return PairOrder::kLibraryPending;
  return PairOrder::kPendingLibrary;
}

ResultsLine classify_results_line(std::string_view line) {
  if (line.find("Can't") != std::string_view::npos) {
    ResultsLine r;
    r.kind = ResultsLineKind::kCantLine;
    return r;
  }
  if (line.empty()) return ResultsLine{};

  bool after_memory = false;
  if (size_t n = memory_message_length(line); n > 0) {
    after_memory = true;
    line.remove_prefix(n);
    if (line.empty()) return malformed("memory message of the comparison program", true);
  }
  if (line.front() == '$') return classify_header(line, after_memory);
  if (after_memory) {
    // The comparison program ends its pass after a memory message; a result
    // glued to it is not one it can have written whole.
    return malformed("result glued after a memory message", true);
  }

  size_t c1 = line.find(',');
  if (c1 == std::string_view::npos) return malformed("not a result line (no commas)", false);
  size_t c2 = line.find(',', c1 + 1);
  if (c2 == std::string_view::npos) return malformed("result line without a score", false);
  size_t c3 = line.find(',', c2 + 1);
  std::string_view first = line.substr(0, c1);
  std::string_view second = line.substr(c1 + 1, c2 - c1 - 1);
  std::string_view score_text =
      line.substr(c2 + 1, c3 == std::string_view::npos ? c3 : c3 - c2 - 1);
  if (first.empty() || second.empty()) return malformed("result line with an empty name", false);
  double score = 0.0;
  if (!parse_number(score_text, &score)) {
    return malformed("result line whose score is not a number", false);
  }
  ResultsLine r;
  r.kind = ResultsLineKind::kResult;
  r.first = first;
  r.second = second;
  r.score = score;
  return r;
}

}  // namespace velmora::matching

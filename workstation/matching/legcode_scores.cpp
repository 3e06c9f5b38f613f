// The leg-code scores (see legcode_scores.h).
#include "workstation/matching/legcode_scores.h"

#include <algorithm>

namespace velmora::matching {
namespace {

bool present(char c) {
  return c != kUnreadLegCodeCharacter;
}

size_t present_count(std::string_view code) {
  return static_cast<size_t>(std::count_if(code.begin(), code.end(), present));
}

}  // namespace

LegCodeScoring legcode_scoring(int fix_legcode_value) {
  return fix_legcode_value == 1 ? LegCodeScoring::kPositional : LegCodeScoring::kSliding;
}

double sliding_code_score(std::string_view a, std::string_view b) {
  const size_t la = a.size(), lb = b.size();
  // a is held against b alone: only window slots that lie over b count.
  // Slots over a itself would let every pair score a's own length at the
  // first shift, whatever b is.
  const size_t most = std::min(present_count(a), present_count(b));
  size_t best = 0;
  for (size_t t = 1; t <= la + lb && best < most; ++t) {
    size_t count = 0;
    for (size_t m = 1; m <= la; ++m) {
      const size_t k = t + m - 1;  // slot of the window's m-th position
      if (k <= la || k > la + lb) continue;
      const char x = a[m - 1];
      if (present(x) && b[k - la - 1] == x) ++count;
    }
    best = std::max(best, count);
  }
  return static_cast<double>(best);
}

double positional_code_score(std::string_view a, std::string_view b) {
  const size_t la = a.size();
  if (la == 0) return 0.0;
  const size_t both = std::min(la, b.size());
  long total = 0;
  for (size_t m = 0; m < both; ++m) {
    if (!present(a[m]) || !present(b[m])) continue;
    total += a[m] == b[m] ? 1 : -1;
  }
  return (static_cast<double>(la) + static_cast<double>(total)) / (2.0 * static_cast<double>(la));
}

size_t LegCodeTable::add(std::span<const std::string> codes) {
  for (const std::string& c : codes) {
    chars_ += c;
    start_.push_back(chars_.size());
    longest_ = std::max(longest_, c.size());
  }
  first_code_.push_back(start_.size() - 1);
  return extracts() - 1;
}

std::string_view LegCodeTable::code(size_t extract, size_t k) const {
  const size_t c = first_code_[extract] + k;
  return std::string_view(chars_).substr(start_[c], start_[c + 1] - start_[c]);
}

double legcode_score(const LegCodeTable& first, size_t i, const LegCodeTable& second, size_t j,
                     LegCodeScoring scoring) {
  const size_t na = first.codes_of(i), nb = second.codes_of(j);
  double best = 0.0;
  for (size_t ka = 0; ka < na; ++ka) {
    const std::string_view a = first.code(i, ka);
    if (a.empty()) continue;
    for (size_t kb = 0; kb < nb; ++kb) {
      const std::string_view b = second.code(j, kb);
      const double s = scoring == LegCodeScoring::kPositional ? positional_code_score(a, b)
                                                              : sliding_code_score(a, b);
      if (s > best) best = s;
    }
  }
  return best;
}

}  // namespace velmora::matching

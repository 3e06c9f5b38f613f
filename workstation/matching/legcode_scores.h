// The two scores of the leg-code comparison: how well the codes read off one
// leg-code extract agree with those of another.
//
// A code is a string of single characters (bytes); '*' in a code stands for
// a character that could not be read and, like a slot past the end of a
// code, is never "present", so it neither agrees nor disagrees with
// anything. Every score is asymmetric: `a` is the first extract's code and
// sets the length the score is measured over.
//
//  * Sliding: a and then b are laid one after the other in a row of slots,
//    and a window of len(a) slots, starting at shift t = 1 .. len(a) +
//    len(b), is held against a; the pair scores the most positions where a
//    agrees with the part of the window that lies over b (a's own slots
//    never count: they would give every pair a's length). The row is as
//    long as the codes need (no fixed array).
//  * Positional: a and b aligned from their first characters; +1 for a
//    position where both are present and agree, -1 where both are present
//    and differ, and the pair scores (len(a) + total) / (2 len(a)), 0 to 1
//    (1 when b agrees with a everywhere).
// An extract's score against another is the best over every pair of one of
// its codes and one of the other's, a later pair replacing the best only
// when strictly greater; 0 when there is no pair (or no code has a
// character). An empty code has no positions and is passed over.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::matching {

enum class LegCodeScoring { kSliding, kPositional };

// The configuration key fixLegCode_value: 1 is positional, anything else
// sliding.
LegCodeScoring legcode_scoring(int fix_legcode_value);

// The mark of a character that could not be read.
inline constexpr char kUnreadLegCodeCharacter = '*';

double sliding_code_score(std::string_view a, std::string_view b);
double positional_code_score(std::string_view a, std::string_view b);

// The codes of many extracts in one block of characters, for the pair loop:
// extract k owns codes first_code[k] .. first_code[k+1] - 1, code c the
// characters start[c] .. start[c+1] - 1 of `chars`.
class LegCodeTable {
 public:
  // Adds an extract with its codes; returns its index.
  size_t add(std::span<const std::string> codes);
  size_t extracts() const { return first_code_.size() - 1; }
  size_t codes_of(size_t extract) const { return first_code_[extract + 1] - first_code_[extract]; }
  std::string_view code(size_t extract, size_t k) const;
  size_t longest_code() const { return longest_; }

 private:
  std::string chars_;
  std::vector<size_t> start_{0};       // per code, and one past the last
  std::vector<size_t> first_code_{0};  // per extract, and one past the last
  size_t longest_ = 0;
};

// The best score of extract `i` of `first` against extract `j` of `second`.
double legcode_score(const LegCodeTable& first, size_t i, const LegCodeTable& second, size_t j,
                     LegCodeScoring scoring);

}  // namespace velmora::matching

// The leg-code scores against hand-worked pairs and against a plain
// reference that lays the codes into a row of slots as the rule words it.
#include "workstation/matching/legcode_scores.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace velmora::matching {
namespace {

// The sliding rule, slot by slot: a in slots 1..la, b after it, every other
// slot empty ('*'), with room for the last shift's window; only slots over b
// are compared.
double reference_sliding(const std::string& a, const std::string& b) {
  const size_t la = a.size(), lb = b.size();
  std::vector<char> slots(2 * la + lb + 2, '*');
  for (size_t m = 1; m <= la; ++m) slots[m] = a[m - 1];
  for (size_t m = 1; m <= lb; ++m) slots[la + m] = b[m - 1];
  int best = 0;
  for (size_t t = 1; t <= la + lb; ++t) {
    int count = 0;
    for (size_t m = 1; m <= la; ++m) {
      const char x = slots[m], y = slots[t + m - 1];
      if (t + m - 1 > la && x != '*' && y != '*' && x == y) ++count;
    }
    if (count > best) best = count;
  }
  return best;
}

double reference_positional(const std::string& a, const std::string& b) {
  int total = 0;
  for (size_t m = 0; m < a.size() && m < b.size(); ++m) {
    if (a[m] == '*' || b[m] == '*') continue;
    total += a[m] == b[m] ? 1 : -1;
  }
  return (static_cast<double>(a.size()) + total) / (2.0 * static_cast<double>(a.size()));
}

TEST(LegCodeScores, HandWorkedPairs) {
  struct Case {
    const char* a;
    const char* b;
    double sliding, positional;
  };
  const Case cases[] = {
      // The first code found inside the second one place on: every aligned
      // position differs, (3 - 3) / 6.
      {"ABC", "XABC", 3, 0.0},
      {"ABC", "ABC", 3, 1.0},
      {"ABCD", "ABXD", 3, (4 + 2) / 8.0},
      // Positions past the end of b count neither way.
      {"ABC", "AB", 2, (3 + 2) / 6.0},
      {"AB", "ABCDEF", 2, 1.0},
      // An unread character is never present, in either code.
      {"AB*", "ABD", 2, (3 + 2) / 6.0},
      {"A*C", "*", 0, 0.5},
      {"***", "ABC", 0, 0.5},
      {"XYZ", "ABC", 0, 0.0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sliding_code_score(c.a, c.b), c.sliding) << c.a << " / " << c.b;
    EXPECT_DOUBLE_EQ(positional_code_score(c.a, c.b), c.positional) << c.a << " / " << c.b;
  }
}

// Random codes of every length up to well past the hundred slots a fixed
// row would hold, over a small alphabet with unread characters, so that
// agreements, disagreements and blanks all occur.
TEST(LegCodeScores, AgreeWithTheSlotByslotRule) {
  std::mt19937 rng(20240611);
  const std::string alphabet = "AB1*";
  auto code = [&](size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += alphabet[rng() % alphabet.size()];
    return s;
  };
  for (int trial = 0; trial < 3000; ++trial) {
    const size_t la = 1 + rng() % (trial < 2500 ? 12 : 150);
    const size_t lb = rng() % (trial < 2500 ? 12 : 150);
    const std::string a = code(la), b = code(lb);
    ASSERT_EQ(sliding_code_score(a, b), reference_sliding(a, b)) << a << " / " << b;
    ASSERT_DOUBLE_EQ(positional_code_score(a, b), reference_positional(a, b)) << a << " / " << b;
  }
}

TEST(LegCodeScores, FixLegCodeValueChoosesTheScore) {
  const std::pair<int, LegCodeScoring> cases[] = {{1, LegCodeScoring::kPositional},
                                                  {0, LegCodeScoring::kSliding},
                                                  {2, LegCodeScoring::kSliding},
                                                  {255, LegCodeScoring::kSliding}};
  for (const auto& [value, scoring] : cases) EXPECT_EQ(legcode_scoring(value), scoring) << value;
}

// An extract scores its best pair of codes; extracts without a usable code
// score 0.
TEST(LegCodeScores, BestPairOfTwoExtracts) {
  LegCodeTable first, second;
  const std::vector<std::string> a1 = {"XQ", "KR7F", ""};
  const std::vector<std::string> a2 = {};
  const std::vector<std::string> a3 = {""};
  const std::vector<std::string> b1 = {"ZZZZ", "KR7F", "K*7F"};
  const std::vector<std::string> b2 = {"QX"};
  first.add(a1);
  first.add(a2);
  first.add(a3);
  second.add(b1);
  second.add(b2);
  ASSERT_EQ(first.extracts(), 3u);
  EXPECT_EQ(first.codes_of(0), 3u);
  EXPECT_EQ(first.code(0, 1), "KR7F");
  EXPECT_EQ(second.longest_code(), 4u);

  struct Case {
    size_t i, j;
    LegCodeScoring scoring;
    double score;
  };
  const Case cases[] = {
      {0, 0, LegCodeScoring::kPositional, 1.0},   // KR7F / KR7F
      {0, 1, LegCodeScoring::kPositional, 0.25},  // KR7F / QX: (4 - 2) / 8; XQ / QX only 0
      {0, 0, LegCodeScoring::kSliding, 4.0},
      // XQ slid over QX agrees in one place; KR7F nowhere.
      {0, 1, LegCodeScoring::kSliding, 1.0},
      {1, 0, LegCodeScoring::kSliding, 0.0},     // no codes
      {2, 0, LegCodeScoring::kPositional, 0.0},  // only an empty code
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(legcode_score(first, c.i, second, c.j, c.scoring), c.score)
        << c.i << "," << c.j;
  }
  // The best over the pairs is the largest of their own scores.
  for (LegCodeScoring scoring : {LegCodeScoring::kSliding, LegCodeScoring::kPositional}) {
    double best = 0;
    for (size_t ka = 0; ka < first.codes_of(0); ++ka) {
      for (size_t kb = 0; kb < second.codes_of(0); ++kb) {
        const std::string a(first.code(0, ka)), b(second.code(0, kb));
        if (a.empty()) continue;
        const double s = scoring == LegCodeScoring::kSliding ? reference_sliding(a, b)
                                                             : reference_positional(a, b);
        best = std::max(best, s);
      }
    }
    EXPECT_DOUBLE_EQ(legcode_score(first, 0, second, 0, scoring), best);
  }
}

}  // namespace
}  // namespace velmora::matching

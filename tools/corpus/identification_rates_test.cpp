#include "tools/corpus/identification_rates.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace velmora::corpus {
namespace {

// Animals A..L, two sightings each: sighting 1 pending, sighting 2 in the library.
std::vector<CorpusSighting> manifest(int animals = 3) {
  std::vector<CorpusSighting> m;
  for (int a = 0; a < animals; ++a) {
    const std::string id(1, static_cast<char>('A' + a));
    m.push_back({id + "1", id, a + 1, 1, true});
    m.push_back({id + "2", id, a + 1, 2, false});
  }
  return m;
}

std::string line(const std::string& a, const std::string& b, double score) {
  std::ostringstream s;
  s.setf(std::ios::fixed);
  s.precision(4);
  s << a << "," << b << "," << score << ",1,2,3,4,-5,6,0,0," << 0.5 << "\n";
  return s.str();
}

RankSummary rank(const std::vector<CorpusSighting>& m, const std::string& text) {
  std::istringstream in(text);
  RankSummary s;
  EXPECT_TRUE(rank_results(m, in, &s).ok());
  return s;
}

TEST(IdentificationRates, RanksByTheBestScoreOfEitherOrder) {
  std::string r = "$ pending library\n";
  r += line("A1", "A2", 0.9) + line("A1", "B2", 0.3) + line("A1", "C2", 0.2);
  r += line("B1", "A2", 0.6) + line("B1", "B2", 0.5) + line("B1", "C2", 0.1);
  r += "$ library pending\n";
  r += line("B2", "B1", 0.7);  // reverse order lifts B above A for probe B1
  r += line("C2", "C1", 0.2) + line("A2", "C1", 0.4);
  const RankSummary s = rank(manifest(), r);
  EXPECT_EQ(s.probes, 3);
  EXPECT_EQ(s.library, 3);
  EXPECT_EQ(s.animals, 3);
  EXPECT_EQ(s.header_lines, 2);
  EXPECT_EQ(s.result_lines, 9);
  EXPECT_EQ(s.used_lines, 9);
  EXPECT_EQ(s.rank1, 2);  // A1, B1; C1 is second behind A
  EXPECT_EQ(s.rank10, 3);
  EXPECT_EQ(s.not_found, 0);
  EXPECT_DOUBLE_EQ(s.median_own, 0.7);    // own scores 0.9, 0.7, 0.2
  EXPECT_DOUBLE_EQ(s.median_other, 0.4);  // best others 0.3, 0.6, 0.4
  const std::string text = format_summary(s);
  EXPECT_NE(text.find("rank-1 identification rate: 66.7 % (2 of 3)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("rank-10 identification rate: 100.0 % (3 of 3)\n"), std::string::npos)
      << text;
}

TEST(IdentificationRates, TiesCountAgainstTheProbe) {
  const RankSummary s = rank(manifest(2), line("A1", "A2", 0.5) + line("A1", "B2", 0.5));
  EXPECT_EQ(s.rank1, 0);
  EXPECT_EQ(s.rank10, 1);
  EXPECT_EQ(s.not_found, 1);  // B1 has no line at all
}

TEST(IdentificationRates, RankTenNeedsTheFirstTenAnimals) {
  // Probe A1 against twelve animals: eleven others score higher at first.
  std::string r;
  for (int a = 1; a < 12; ++a)
    r += line("A1", std::string(1, static_cast<char>('A' + a)) + "2", 0.9);
  r += line("A1", "A2", 0.8);
  RankSummary s = rank(manifest(12), r);
  EXPECT_EQ(s.rank10, 0);
  // Lower scores for the same animals do not replace their best.
  r += line("A1", "B2", 0.1) + line("A1", "C2", 0.1);
  s = rank(manifest(12), r);
  EXPECT_EQ(s.rank10, 0);
  // With nine others higher and two lower, A ranks tenth.
  std::string r2;
  for (int a = 1; a < 12; ++a)
    r2 += line("A1", std::string(1, static_cast<char>('A' + a)) + "2", a <= 9 ? 0.9 : 0.1);
  r2 += line("A1", "A2", 0.8);
  s = rank(manifest(12), r2);
  EXPECT_EQ(s.rank10, 1);
  EXPECT_EQ(s.rank1, 0);
}

TEST(IdentificationRates, OtherLinesAreCountedNotUsed) {
  std::string r;
  r += "  Error 14: Can't read pending file oldlib/A1!!\n";
  r += "Can't read library fingerprint oldlib/B2!14\n";
  r += "Singular matrix!\n";
  r += "No memory for 64 x 64 X array$ library pending\n";
  r += "A1,A2,0.9,1,2,3,4,5,6,7\n";          // too few fields
  r += "A1,A2,0.9,1,2,3,4,5,6,7,8,0.5,9\n";  // too many
  r += "A1,A2,high,1,2,3,4,5,6,7,8,0.5\n";   // not a number
  r += line("A1", "B1", 0.99);               // two pending sightings
  r += line("A2", "B2", 0.99);               // two library sightings
  r += line("X1", "A2", 0.99);               // not in the corpus
  std::string crlf = line("A1", "A2", 0.4);
  crlf.insert(crlf.size() - 1, "\r");  // a line from a file with CR LF ends
  r += crlf;
  r += line("A1", "B2", 0.3);
  const RankSummary s = rank(manifest(2), r);
  EXPECT_EQ(s.other_lines, 7);
  EXPECT_EQ(s.first_other, "  Error 14: Can't read pending file oldlib/A1!!");
  EXPECT_EQ(s.result_lines, 5);
  EXPECT_EQ(s.used_lines, 2);
  EXPECT_EQ(s.rank1, 1);
  EXPECT_NE(format_summary(s).find("first other line:   Error 14"), std::string::npos);
}

TEST(IdentificationRates, DuplicateCellsInTheManifestAreRefused) {
  std::vector<CorpusSighting> m = manifest(2);
  m.push_back(m[0]);
  std::istringstream in("");
  RankSummary s;
  EXPECT_FALSE(rank_results(m, in, &s).ok());
}

}  // namespace
}  // namespace velmora::corpus

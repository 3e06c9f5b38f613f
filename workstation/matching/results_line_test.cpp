#include "workstation/matching/results_line.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora::matching {
namespace {

using K = ResultsLineKind;

TEST(ResultsLine, ResultLinesAsTheComparisonProgramWritesThem) {
  ResultsLine r = classify_results_line("AB12hd,CD34hd,0.5123,1,-2,0,3,4,4,-1,0,0.8123");
  ASSERT_EQ(r.kind, K::kResult);
  EXPECT_EQ(r.first, "AB12hd");
  EXPECT_EQ(r.second, "CD34hd");
  EXPECT_EQ(r.score, 0.5123);
  // Three pieces are enough (the workstation's own comparisons write those).
  r = classify_results_line("a,b,-9.99");
  ASSERT_EQ(r.kind, K::kResult);
  EXPECT_EQ(r.score, -9.99);
  EXPECT_EQ(classify_results_line("a,b,1e-3").score, 0.001);
}

TEST(ResultsLine, HeadersSetThePairOrder) {
  ResultsLine r = classify_results_line("$ pending library");
  ASSERT_EQ(r.kind, K::kHeader);
  EXPECT_EQ(r.first, "pending");
  EXPECT_EQ(r.second, "library");
  EXPECT_EQ(pair_order_of_header(r.first, r.second), PairOrder::kPendingLibrary);
  EXPECT_EQ(pair_order_of_header("pending", "pending"), PairOrder::kPendingPending);
  EXPECT_EQ(pair_order_of_header("library", "pending"), PairOrder::kLibraryPending);
  EXPECT_EQ(pair_order_of_header("library", "library"), PairOrder::kLibraryPending);
  EXPECT_EQ(pair_order_of_header("Pending", "pending"), PairOrder::kPendingLibrary);
  EXPECT_EQ(classify_results_line("$ pending").kind, K::kMalformed);
  EXPECT_EQ(classify_results_line("$").kind, K::kMalformed);
}

TEST(ResultsLine, CantLinesAndEmptyLines) {
  EXPECT_EQ(classify_results_line("  Error 2: Can't read pending file oldlib/x!!").kind,
            K::kCantLine);
  EXPECT_EQ(classify_results_line("Can't read library fingerprint oldlib/y!8").kind, K::kCantLine);
  // "Can't" anywhere wins, even in something shaped like a result.
  EXPECT_EQ(classify_results_line("a,b,0.5Can't").kind, K::kCantLine);
  EXPECT_EQ(classify_results_line("").kind, K::kEmpty);
}

TEST(ResultsLine, ProblemMessagesAreMalformed) {
  for (const char* line : {"Singular matrix!", "No mem sub_cell ffts", "Check!!", "corr arrays",
                           "No memory for 64 x 64 X array", "No memory for 64 x 64 Y array"}) {
    ResultsLine r = classify_results_line(line);
    EXPECT_EQ(r.kind, K::kMalformed) << line;
    EXPECT_FALSE(r.reason.empty()) << line;
  }
}

TEST(ResultsLine, ResultGluedAfterAMemoryMessageIsSkipped) {
  ResultsLine r = classify_results_line("No memory for 64 x 64 X arraya,b,0.5,0,0,0,0,0,0,0,0,1");
  EXPECT_EQ(r.kind, K::kMalformed);
  EXPECT_TRUE(r.after_memory_message);
}

TEST(ResultsLine, HeaderGluedAfterAMemoryMessageIsStillAHeader) {
  ResultsLine r = classify_results_line("No memory for 64 x 64 Y array$ library pending");
  ASSERT_EQ(r.kind, K::kHeader);
  EXPECT_TRUE(r.after_memory_message);
  EXPECT_EQ(r.first, "library");
  EXPECT_EQ(r.second, "pending");
  EXPECT_EQ(memory_message_length("No memory for 128 x 8 X array rest"), 29u);
  EXPECT_EQ(memory_message_length("No memory for x 64 X array"), 0u);
  EXPECT_EQ(memory_message_length("No memory for 64 x 64 Z array"), 0u);
}

TEST(ResultsLine, DamagedResultsAreMalformed) {
  for (const char* line : {"a,b", "a,b,", "a,b,abc", "a,b,0.5x", ",b,0.5", "a,,0.5", "a,b,nan",
                           "a,b,inf", "a,b,1e999", "abc"}) {
    EXPECT_EQ(classify_results_line(line).kind, K::kMalformed) << line;
  }
  // Blanks round the score and a plus sign are tolerated.
  EXPECT_EQ(classify_results_line("a,b, +0.25 ,1").score, 0.25);
}

}  // namespace
}  // namespace velmora::matching

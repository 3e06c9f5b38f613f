// Progress bar, bit words, texts and the tarvikx command of the batch
// comparison.
#include "workstation/matching/batch_compare_helpers.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <limits>

#include "workstation/common/control_panel.h"

namespace velmora::matching {
namespace {

TEST(ShowProgress, MapsTheFractionInsideTheFrame) {
  RecordingControlPanel p;
  show_progress(p, 0.0);
  show_progress(p, 1.0);
  show_progress(p, 0.25);
  show_progress(p, -3.0);
  show_progress(p, 7.0);
  show_progress(p, std::numeric_limits<double>::quiet_NaN());
  ASSERT_EQ(p.progress().size(), 6u);
  // Exact in binary arithmetic up to one rounding of the product and sum.
  const double eps = 1e-15;
  EXPECT_NEAR(p.progress()[0], 0.01, eps);
  EXPECT_NEAR(p.progress()[1], 0.99, eps);
  EXPECT_NEAR(p.progress()[2], 0.25 * 0.98 + 0.01, eps);
  EXPECT_NEAR(p.progress()[3], 0.01, eps);
  EXPECT_NEAR(p.progress()[4], 0.99, eps);
  EXPECT_NEAR(p.progress()[5], 0.01, eps);
}

TEST(SetBit, WordsFromOneAndBitThirtyOneIsTheSign) {
  std::array<int32_t, 3> words{};
  EXPECT_TRUE(set_bit(words, 0));
  EXPECT_EQ(words[0], 1);
  EXPECT_TRUE(set_bit(words, 5));
  EXPECT_EQ(words[0], 1 | 32);
  EXPECT_TRUE(set_bit(words, 31));
  EXPECT_EQ(words[0], static_cast<int32_t>(0x80000021u));
  EXPECT_LT(words[0], 0);           // the sign bit
  EXPECT_TRUE(set_bit(words, 32));  // word 2, bit 0
  EXPECT_EQ(words[1], 1);
  EXPECT_TRUE(set_bit(words, 95));  // word 3, bit 31
  EXPECT_EQ(words[2], INT32_MIN);
  EXPECT_TRUE(set_bit(words, 95));  // setting again changes nothing
  EXPECT_EQ(words[2], INT32_MIN);
}

TEST(SetBit, OutsideTheWordsChangesNothing) {
  std::array<int32_t, 2> words{7, 9};
  EXPECT_FALSE(set_bit(words, 64));
  EXPECT_FALSE(set_bit(words, -1));
  EXPECT_FALSE(set_bit(words, std::numeric_limits<int64_t>::max()));
  EXPECT_FALSE(set_bit(std::span<int32_t>(), 0));
  EXPECT_EQ(words[0], 7);
  EXPECT_EQ(words[1], 9);
  EXPECT_TRUE(set_bit(words, 63));
  EXPECT_EQ(words[1], static_cast<int32_t>(0x80000009u));
}

TEST(BatchTexts, RunFileOfAnAspect) {
  EXPECT_EQ(run_file_for_aspect("Head"), "tarvik_head.ini");
  EXPECT_EQ(run_file_for_aspect("Flank"), "tarvik.ini");
  EXPECT_EQ(run_file_for_aspect("head"), "tarvik.ini");  // the name as written
}

TEST(BatchTexts, ProgressTextsAreTheOperatorsOwn) {
  EXPECT_STREQ(kMakingListsLabel, "oldcell: making flist and adding new distribution records");
  EXPECT_STREQ(kAllCompletedLabel, "completed all old-style comparisons");
  EXPECT_EQ(library_batch_label(12, "L", "Flank", 1),
            "tarvik of 12 new L side Flank extracts with each other and batch 1");
  EXPECT_EQ(library_batch_label(12, "L", "Flank", 3),
            "tarvik of 12 new L side Flank extracts with batch 3 of library extracts");
  // One pending extract: its own wording, with two blanks before "extract".
  EXPECT_EQ(library_batch_label(1, "M", "Dorsal", 2),
            "tarvik of new M side Dorsal  extract with batch 2 of library extracts");
  EXPECT_EQ(library_batch_label(1, "M", "Dorsal", 1),
            "tarvik of 1 new M side Dorsal extracts with each other and batch 1");
  EXPECT_EQ(no_library_label(4, "R", "Flank"),
            "tarvik of 4 new R side Flank extracts with each other");
  EXPECT_EQ(completed_label("Flank", "R"), "completed tarvik for Flank, R");
  EXPECT_EQ(previous_results_message("Flank", "L", "a"),
            "previous FlankLa comparison results exist - run 'batch compare' with zero batch size");
}

TEST(TarvikxProgress, ReadsProgressLinesFromPiecesOfOutput) {
  struct Case {
    std::vector<std::string> pieces;
    double fraction;  // of the last progress line; -1: none found
  };
  const Case cases[] = {
      {{"progress 1 3 1 2\n"}, (0 + 0.5) / 3},
      {{"prog", "ress 2 3 ", "2 2\n"}, (1 + 1.0) / 3},  // split anywhere
      {{"pend_dir='x'\nprogress 2 2 1 4\nCan't read\n"}, (1 + 0.25) / 2},
      {{"progress 1 2 5 4\n"}, -1},                          // more done than there is
      {{"progress 3 2 1 4\n"}, -1},                          // a pass past the last
      {{"progress 1 2 1 0\n"}, -1},                          // nothing to do
      {{"progress 1 2 1\n"}, -1},                            // a number short
      {{"xprogress 1 2 1 4\n"}, -1},                         // not at the start
      {{"progress 1 2 1 4"}, -1},                            // not ended yet
      {{std::string(500, 'a') + "progress 1 2 1 4\n"}, -1},  // inside a long line
  };
  for (const Case& c : cases) {
    TarvikxProgress p;
    double f = -1;
    for (const std::string& piece : c.pieces) p.feed(piece, [&](double got) { f = got; });
    EXPECT_DOUBLE_EQ(f, c.fraction) << c.pieces[0];
  }
  // Every line of one piece is reported, in order.
  TarvikxProgress p;
  std::vector<double> all;
  p.feed("progress 1 2 1 2\nprogress 1 2 2 2\nprogress 2 2 1 2\n",
         [&](double f) { all.push_back(f); });
  EXPECT_EQ(all, (std::vector<double>{0.25, 0.5, 0.75}));
}

TEST(TarvikCommand, PiecesInOrderWithTheSwitch) {
  TarvikRun r;
  r.tarvikx = "/opt/velmora/bin/tarvikx";
  r.oldlib_dir = "/data/grey \"seals\"/oldlib";
  r.working_folder = "/work";
  r.aspect = "Head";
  r.side = "M";
  r.letter = "a";
  r.run_file = "tarvik_head.ini";
  r.first_run = true;
  ProcessCommand c = tarvik_command(r);
  EXPECT_EQ(c.program, r.tarvikx);
  EXPECT_EQ(c.working_folder, "/work");
  const std::vector<std::string> first = {
      r.oldlib_dir,         "pending_filesM.txt", r.oldlib_dir, "library_filesM.txt",
      "HeadMa_results.txt", "tarvik_head.ini",    "true"};
  EXPECT_EQ(c.arguments, first);
  r.first_run = false;
  EXPECT_EQ(tarvik_command(r).arguments.back(), "false");
}

}  // namespace
}  // namespace velmora::matching

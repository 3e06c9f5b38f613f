// The correlation and spot comparison: the pair lines against the outside
// calls made directly, and the family in its frame on a workspace (feature
// files missing, cut short and corrupt; both letters; "use multiple cores"
// then an import with batch size 0; a later family leaving the move to V to
// ChangePtoV).
#include "workstation/matching/new_style_compare.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "libs/halvane/n_fiducial_stripe.h"
#include "testing/files.h"
#include "testing/temp_dir.h"
#include "workstation/common/console_panel.h"
#include "workstation/common/number_text.h"
#include "workstation/extract/feature_file.h"
#include "workstation/matching/batch_test_support.h"
#include "workstation/matching/change_p_to_v.h"
#include "workstation/matching/feature_arrays.h"
#include "workstation/matching/new_style_pairs.h"

namespace velmora::matching {
namespace {

namespace fs = std::filesystem;
using batch_testing::BatchWorkspace;

// A stripe extract's feature file: a smooth pelt of `seed`, 30 spots of
// kinds 1..3 with their discs, four seed sets; `blank` makes every block
// blank (no correlation), `seeds` = false leaves out the seed sets (no spot
// score).
std::string feature_bytes(unsigned seed, bool blank = false, bool seeds = true) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  extract::FeatureFile f;
  f.has_kinds = true;
  const double fr = 0.1 + 0.3 * u(rng), fc = 0.1 + 0.3 * u(rng);
  for (int i = 0; i < 4096; ++i) {
    const double v = 127 + 80 * std::sin(fr * (i / 64)) * std::cos(fc * (i % 64)) + 30 * u(rng);
    f.block_image[i] = blank ? 255 : static_cast<uint8_t>(v);
  }
  extract::SpotMap top, bottom;
  std::uniform_int_distribution<int> pos(30, 220), kind(1, 3);
  for (int k = 0; k < 30; ++k) {
    const extract::FeatureSpot s{static_cast<uint8_t>(40 - k), static_cast<uint8_t>(pos(rng)),
                                 static_cast<uint8_t>(pos(rng)), static_cast<uint8_t>(kind(rng))};
    f.spots.push_back(s);
    for (int y = s.row + 10; y <= s.row + 30; ++y) {
      for (int x = s.column + 10; x <= s.column + 30; ++x) {
        if ((x - s.column - 20) * (x - s.column - 20) + (y - s.row - 20) * (y - s.row - 20) > 100)
          continue;
        if (s.kind <= 2) top.black[(y - 1) * 296 + (x - 1)] = 1;
        if (s.kind >= 2) bottom.black[(y - 1) * 296 + (x - 1)] = 1;
      }
    }
  }
  f.seeds.count = seeds ? 4 : 0;
  for (int t = 0; t < f.seeds.count; ++t) f.seeds.sets[t] = {3 * t + 1, 3 * t + 2, 3 * t + 3};
  f.top_map = extract::pack_spot_map(top);
  f.bottom_map = extract::pack_spot_map(bottom);
  return extract::feature_file_bytes(f);
}

TEST(NewStylePairs, LinesFollowTheLettersAndTheScores) {
  const velmora::testing::TempDir temp("pairs");
  const std::string dir = temp.dir();
  const std::vector<std::string> names = {"A", "B", "C", "D"};
  const std::string files[] = {feature_bytes(1), feature_bytes(2, true),
                               feature_bytes(3, false, false), feature_bytes(4, true, false)};
  for (size_t i = 0; i < names.size(); ++i) {
    ASSERT_TRUE(velmora::testing::write_file(dir + names[i], files[i]));
  }
  FeatureBatch batch(4, {true, true});
  std::vector<FeatureProblem> problems;
  size_t next = 0;
  FillArrays(
      [&](std::string* n) { return next < names.size() ? (*n = names[next++], true) : false; }, dir,
      4, &batch, &problems);
  ASSERT_TRUE(problems.empty());
  ASSERT_EQ(batch.n_files(), 4);

  struct Case {
    bool correlation, spot;
  };
  for (const Case& k : {Case{true, false}, Case{false, true}, Case{true, true}}) {
    PairScoring scoring;
    scoring.correlation = k.correlation;
    scoring.spot = k.spot;
    // Reference: both scores of every ordered pair of different names from
    // the call itself, then the rule written out plainly.
    std::string expected;
    const int32_t shift = scoring.max_shift, turn = scoring.max_turn;
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 4; ++j) {
        if (i == j) continue;
        double corr = 0, spot = 0;
        N_FIDUCIAL_STRIPE(batch.corrcell(i), batch.n_spot(i), batch.spots(i), batch.n_seed(i),
                          batch.seeds(i), batch.top(i), batch.bottom(i), batch.corrcell(j),
                          batch.n_spot(j), batch.spots(j), batch.n_seed(j), batch.seeds(j),
                          batch.top(j), batch.bottom(j), &shift, &turn, &corr, &spot);
        std::string score;
        if (k.correlation && corr > -1) {
          score = real_to_text(corr);
        } else if (k.spot && spot > 0) {
          score = real_to_text(spot);
        }
        if (!score.empty()) expected += names[i] + "," + names[j] + "," + score + "\n";
      }
    }
    std::string got;
    const int64_t pairs = compare_batches(batch, batch, scoring, [&](const std::string& lines) {
      got += lines;
      return true;
    });
    EXPECT_EQ(pairs, 12);
    EXPECT_EQ(got, expected) << k.correlation << k.spot;
    // The blank extracts B and D give no correlation, so lines exist only
    // where a spot score may stand in.
    EXPECT_EQ(got.find("B,D,") == std::string::npos, true);
  }
}

class NewStyleCompareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ws_.status().ok()) << ws_.status().message();
    ASSERT_TRUE(ws_.builder().add_algorithm("c", "compnew_corr").ok());
    ASSERT_TRUE(ws_.builder().add_algorithm("s", "compnew_spot").ok());
    db::testing::AspectRow a;
    a.aspect = "Reticulated";
    a.aspect_letter = "RT";
    a.cell_type = "lateral";
    a.pattern = "black_stripe";
    a.show_n_spots = 30;
    ASSERT_TRUE(ws_.builder().add_aspect(a).ok());
    ASSERT_TRUE(velmora::testing::write_file(ws_.data_folder + "orlain.ini",
                                             "[velmora]\nlibrary_name=newlib/\n"));
    fs::create_directories(ws_.data_folder + "newlib");
    ASSERT_TRUE(ws_.builder().add_bulk_extracts("P", 4, 1, "Reticulated", "RT", "L", "P").ok());
    ASSERT_TRUE(ws_.builder().add_bulk_extracts("L", 3, 1, "Reticulated", "RT", "L", "L").ok());
    // P1, P2 and the library have good files; P3's is cut short, P4 has
    // none, L3's is corrupt (a seed set naming spot 200 of 30).
    unsigned seed = 10;
    for (const char* cell : {"P1_1RT", "P2_1RT", "L1_1RT", "L2_1RT"})
      write(cell, feature_bytes(seed++));
    write("P3_1RT", feature_bytes(seed++).substr(0, 5000));
    std::string bad = feature_bytes(seed++);
    bad[4096 + 1 + 30 * 4 + 1] = static_cast<char>(200);
    write("L3_1RT", bad);
  }
  void TearDown() override {
    ctx_.drop_database_work();
    ctx_.session.close();
  }
  void write(const std::string& cell, const std::string& bytes) {
    ASSERT_TRUE(velmora::testing::write_file(ws_.data_folder + "newlib/" + cell, bytes));
  }
  void start(session::RunOptions o = batch_testing::batch_options()) {
    Status s = batch_testing::start_batch(ctx_, ws_, o, notes_);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  std::string in_state(const std::string& state) {
    return ws_.text(
        "SELECT group_concat(cell, ' ') FROM (SELECT cell FROM cells WHERE AutoMatch='" + state +
        "' ORDER BY cell)");
  }
  bool shown(const std::string& text) const {
    for (const auto& m : dialogs_.shown()) {
      if (m.text.find(text) != std::string::npos) return true;
    }
    return false;
  }

  BatchWorkspace ws_{"newstyle"};
  std::ostringstream notes_, console_;
  ConsolePanel panel_{console_};
  ScriptedDialogs dialogs_;
  session::RunState ctx_;
  BatchCompareSummary sum_;
};

TEST_F(NewStyleCompareTest, UnreadableFilesAreNamedAndStayPendingTheRestIsCompared) {
  start();
  Status s = compare_new_style(ctx_, panel_, dialogs_, {}, &sum_);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(in_state("V"), "P1_1RT P2_1RT");
  EXPECT_EQ(in_state("P"), "P3_1RT P4_1RT");
  // 2 x 1 pending pairs, then 2 x 2 with the library both ways.
  EXPECT_EQ(sum_.pairs_compared, 2 + 2 * 2 * 2);
  EXPECT_EQ(sum_.pending_listed, 2);
  EXPECT_EQ(sum_.pending_missing, 1);
  EXPECT_EQ(sum_.pending_unreadable, 1);
  EXPECT_EQ(sum_.library_missing, 1);
  EXPECT_EQ(sum_.imports, 1);
  EXPECT_EQ(sum_.result_lines, 10);  // every pair has a correlation here
  EXPECT_TRUE(shown("\"P3_1RT\": ")) << "the file cut short is named";
  EXPECT_TRUE(shown("\"P4_1RT\": no feature file"));
  EXPECT_TRUE(shown("\"L3_1RT\": "));
  // Distribution rows for both letters; the results, under the correlation
  // letter, are imported and gone.
  EXPECT_EQ(ws_.count("SELECT count(*) FROM distribution WHERE filename LIKE 'P%'"), 8);
  EXPECT_EQ(ws_.count("SELECT Ln FROM distribution WHERE filename='P1_1RT.c'"), 3);
  EXPECT_FALSE(fs::exists(ws_.working_folder + results_file_name("Reticulated", "L", "c")));
  const auto& labels = panel_.progress_labels();
  for (const char* l :
       {kNewStyleListsLabel, "compnew of 2 new L side Reticulated extracts with each other",
        "compnew of 2 new L side Reticulated extracts with batch 1 of library extracts",
        kNewStyleCompletedLabel}) {
    EXPECT_NE(std::find(labels.begin(), labels.end(), l), labels.end()) << l;
  }
}

TEST_F(NewStyleCompareTest, MultipleCoresWaitForTheImportWithBatchSizeZero) {
  session::RunOptions o = batch_testing::batch_options();
  o.multi_core = true;
  o.chosen_aspect = "Reticulated";
  o.chosen_side = "L";
  start(o);
  ASSERT_TRUE(compare_new_style(ctx_, panel_, dialogs_, {}, &sum_).ok());
  const std::string results = ws_.working_folder + results_file_name("Reticulated", "L", "c");
  EXPECT_TRUE(fs::exists(results));
  EXPECT_EQ(velmora::testing::read_lines(results + ".listed"),
            (std::vector<std::string>{"P1_1RT", "P2_1RT"}));
  EXPECT_EQ(in_state("V"), "");
  ctx_.drop_database_work();
  ctx_.session.close();

  o.batch_size = 0;
  start(o);
  ASSERT_TRUE(compare_new_style(ctx_, panel_, dialogs_, {}, &sum_).ok());
  EXPECT_EQ(sum_.pairs_compared, 0);
  EXPECT_EQ(sum_.result_lines, 10);
  EXPECT_EQ(in_state("V"), "P1_1RT P2_1RT");
  EXPECT_FALSE(fs::exists(results));
}

TEST_F(NewStyleCompareTest, ALaterFamilyLeavesTheMoveToChangePtoV) {
  ASSERT_TRUE(ws_.builder().add_algorithm("h", "legcode").ok());
  start();
  ASSERT_TRUE(compare_new_style(ctx_, panel_, dialogs_, {}, &sum_).ok());
  EXPECT_EQ(sum_.result_lines, 10);
  EXPECT_EQ(in_state("V"), "");
  EXPECT_EQ(ctx_.compared_pending, (std::vector<std::string>{"P1_1RT", "P2_1RT"}));
  ChangePtoVSummary moved;
  ASSERT_TRUE(ChangePtoV(ctx_, &moved).ok());
  EXPECT_EQ(in_state("V"), "P1_1RT P2_1RT");

  session::AlgorithmLetters l;
  struct Case {
    std::string tarvik, corr, legcode, sift;
    bool after_tarvik, after_new_style;
  };
  const Case cases[] = {{"a", "", "", "", false, false},
                        {"a", "c", "", "", true, false},
                        {"a", "", "h", "", true, true},
                        {"", "c", "", "k", true, true}};
  for (const Case& k : cases) {
    l.tarvik = k.tarvik, l.compnew_corr = k.corr, l.legcode = k.legcode, l.CompSift = k.sift;
    EXPECT_EQ(later_family_in_run(l, FamilyOrder::kTarvik), k.after_tarvik);
    EXPECT_EQ(later_family_in_run(l, FamilyOrder::kNewStyle), k.after_new_style);
  }
}

}  // namespace
}  // namespace velmora::matching

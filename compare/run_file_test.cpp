#include "compare/run_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "testing/temp_dir.h"

namespace tarvik {
namespace {

class RunFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_line_options();
    ASSERT_TRUE(tmp_.ok());
  }
  void TearDown() override { reset_line_options(); }
  velmora::testing::TempDir tmp_;
};

TEST_F(RunFiles, ElevenDataLinesInOrder) {
  tmp_.write("tarvik.ini",
             "; shift model of the rows\n"
             "0.5 1 9 9\n"
             "@ written by the workstation\n"
             "0.25 0.5 0.5 9\n"
             "\n"
             "0 0.3 0.3 0.4 [level 3]\n"
             "1 2 3 4\n5 6 7 8\n9 10 11 12\n"
             "  12 3 3 3\n"
             "11 2.5 2.5 2.5\n"
             "0.65\n"
             "[peaks] 7\n"
             "4 pixels\n");
  RunFile run;
  ASSERT_TRUE(read_run_file(tmp_.path("tarvik.ini"), run));
  EXPECT_EQ(run.row_model.a[0], 0.5f);
  EXPECT_EQ(run.row_model.a[1], 1.0f);
  EXPECT_EQ(run.row_model.a[3], 9.0f);
  EXPECT_EQ(run.row_model.b[2], 0.5f);
  EXPECT_EQ(run.row_model.c[3], 0.4f);
  EXPECT_EQ(run.col_model.a[0], 1.0f);
  EXPECT_EQ(run.col_model.b[3], 8.0f);
  EXPECT_EQ(run.col_model.c[2], 11.0f);
  EXPECT_EQ(run.row_tol[0], 12.0f);
  EXPECT_EQ(run.col_tol[1], 2.5f);
  EXPECT_EQ(run.threshold, 0.65);
  EXPECT_EQ(run.peaks_per_subcell, 7);
  EXPECT_EQ(run.margin, 4);
}

TEST_F(RunFiles, ShortLinesAndMissingLinesLeaveZeros) {
  tmp_.write("short.ini", "1 2\n3,4,5,6\nx\n");
  RunFile run;
  run.margin = 99;
  ASSERT_TRUE(read_run_file(tmp_.path("short.ini"), run));
  EXPECT_EQ(run.row_model.a[0], 1.0f);
  EXPECT_EQ(run.row_model.a[1], 2.0f);
  EXPECT_EQ(run.row_model.a[2], 0.0f);
  EXPECT_EQ(run.row_model.b[0], 3.0f);
  EXPECT_EQ(run.row_model.b[1], 0.0f) << "the scan stops at the comma";
  for (float v : run.row_model.c) EXPECT_EQ(v, 0.0f);
  for (float v : run.col_tol) EXPECT_EQ(v, 0.0f);
  EXPECT_EQ(run.threshold, 0.0);
  EXPECT_EQ(run.margin, 0);
}

TEST_F(RunFiles, IntegersReadAsTheirLeadingDigitsAndSaturate) {
  tmp_.write("r.ini", "0\n0\n0\n0\n0\n0\n0\n0\n-1e-3\n12.9\n99999999999999\n");
  RunFile run;
  ASSERT_TRUE(read_run_file(tmp_.path("r.ini"), run));
  EXPECT_EQ(run.threshold, -1e-3);
  EXPECT_EQ(run.peaks_per_subcell, 12);
  EXPECT_EQ(run.margin, INT32_MAX);
}

TEST_F(RunFiles, MissingRunFileIsReported) {
  RunFile run;
  EXPECT_FALSE(read_run_file(tmp_.path("absent.ini"), run));
}

TEST_F(RunFiles, ListHoldsEveryDataLineWhole) {
  std::string text = "; pending extracts\n\n";
  for (int i = 0; i < 450; ++i) text += "cell" + std::to_string(i) + "LT.fpt\n";
  const std::string long_name(300, 'n');
  text += "  " + long_name + ".fpt  \n";
  text += "with[remark]name.fpt\n";
  text += "@ skipped\n";
  tmp_.write("pending.txt", text);
  FileList list{"dir/", {"old"}};
  ASSERT_TRUE(read_file_list(tmp_.path("pending.txt"), list));
  ASSERT_EQ(list.names.size(), 452u);
  EXPECT_EQ(list.names[0], "cell0LT.fpt");
  EXPECT_EQ(list.names[449], "cell449LT.fpt");
  EXPECT_EQ(list.names[450], long_name + ".fpt");
  EXPECT_EQ(list.names[451], "withname.fpt");
  EXPECT_EQ(list.directory, "dir/");
}

TEST(PassSettingsOfRunFile, EveryConstantReachesItsNamesake) {
  // Every value distinct, so that any two exchanged fields show.
  RunFile run;
  float next = 1;
  for (float* four : {run.row_model.a, run.row_model.b, run.row_model.c, run.col_model.a,
                      run.col_model.b, run.col_model.c, run.row_tol, run.col_tol}) {
    for (int i = 0; i < 4; ++i) four[i] = next++;
  }
  run.threshold = 0.625;
  run.peaks_per_subcell = 7;
  run.margin = -3;

  const PassSettings s = pass_settings(run);
  const struct {
    const char* what;
    const float* got;
    const float* want;
  } fours[] = {
      {"row model a", s.row_model.a, run.row_model.a},
      {"row model b", s.row_model.b, run.row_model.b},
      {"row model c", s.row_model.c, run.row_model.c},
      {"column model a", s.col_model.a, run.col_model.a},
      {"column model b", s.col_model.b, run.col_model.b},
      {"column model c", s.col_model.c, run.col_model.c},
      {"row tolerances", s.row_tol.data(), run.row_tol},
      {"column tolerances", s.col_tol.data(), run.col_tol},
  };
  for (const auto& f : fours) {
    for (int i = 0; i < 4; ++i) EXPECT_EQ(f.got[i], f.want[i]) << f.what << " " << i;
  }
  EXPECT_EQ(s.threshold, 0.625);
  EXPECT_EQ(s.peaks_per_subcell, 7);
  EXPECT_EQ(s.margin, -3);
  // Where the lines go and what the lists are called is the caller's.
  EXPECT_EQ(s.results_path, "");
  EXPECT_EQ(s.first_label, "");
  EXPECT_EQ(s.second_label, "");
}

TEST_F(RunFiles, MissingListIsReported) {
  FileList list;
  EXPECT_FALSE(read_file_list(tmp_.path("absent.txt"), list));
}

}  // namespace
}  // namespace tarvik

// The run file is checked line by line as the comparison program reads it.
#include "workstation/matching/run_file_check.h"

#include <gtest/gtest.h>

#include "compare/run_file.h"
#include "testing/temp_dir.h"
#include "workstation/matching/batch_test_support.h"

namespace velmora::matching {
namespace {

TEST(RunFileCheck, AGoodFileIsTakenAsTheComparisonProgramReadsIt) {
  testing::TempDir dir;
  dir.write("tarvik.ini", batch_testing::kRunFileText);
  EXPECT_TRUE(check_run_file(dir.path("tarvik.ini")).ok());
  // The program reads the same constants the check accepted.
  tarvik::RunFile run;
  ASSERT_TRUE(tarvik::read_run_file(dir.path("tarvik.ini"), run));
  EXPECT_EQ(run.peaks_per_subcell, 8);
  EXPECT_EQ(run.margin, 8);
  EXPECT_EQ(run.threshold, -1);
}

TEST(RunFileCheck, EveryUnusableLineIsNamed) {
  const std::string models = "0 1\n0 .5 .5\n0 .3 .3 .3\n0 1 0 0\n0 .5 .5 0\n0 .3 .3 .3\n";
  const std::string tolerances = "16 6 6 6\n16 6 6 6\n";
  struct Case {
    std::string text;
    std::string expect;  // part of the message; "" = accepted
  };
  const Case cases[] = {
      {models + tolerances + "-1\n8\n8\n", ""},
      {models + tolerances + "0.4 [comment]\n8 peaks\n0\n", ""},  // trailing words never read
      {"", "data line 1 (row model of sub-cell 1 (a0 a1)), is missing: the file has 0 of"},
      {models + tolerances + "-1\n8\n", "data line 11 (margin in pixels), is missing"},
      {"0\n",
       "data line 1 (row model of sub-cell 1 (a0 a1)) reads \"0\": it holds 1 number "
       "where 2 are needed"},
      {models + "16 6 6\n", "data line 7 (row tolerances of levels 0-3) reads \"16 6 6\""},
      {models + "16 -6 6 6\n", "-6 is outside the usable range, none below 0"},
      {models + tolerances + "0,5\n8\n8\n", "\"0,5\" is not a number"},
      {models + tolerances + "nan\n8\n8\n", "\"nan\" is not a number"},
      {models + tolerances + "1\n8\n8\n", "1 is outside the usable range, from -10 to below 1"},
      {models + tolerances + "-1\n0\n8\n", "data line 10 (peaks per sub-cell)"},
      {models + tolerances + "-1\n8.5\n8\n", "\"8.5\" is not a whole number"},
      {models + tolerances + "-1\n200\n8\n", "200 is outside the usable range, from 1 to 128"},
      {models + tolerances + "-1\n8\n-3\n", "data line 11 (margin in pixels)"},
  };
  testing::TempDir dir;
  for (const Case& c : cases) {
    dir.write("tarvik.ini", c.text);
    Status s = check_run_file(dir.path("tarvik.ini"));
    if (c.expect.empty()) {
      EXPECT_TRUE(s.ok()) << c.text << "\n" << s.message();
    } else {
      EXPECT_EQ(s.code(), Status::Code::kInvalidArgument) << c.text;
      EXPECT_NE(s.message().find(c.expect), std::string::npos) << s.message();
      EXPECT_NE(s.message().find(dir.path("tarvik.ini")), std::string::npos);
    }
  }
}

TEST(RunFileCheck, AMissingFileNamesWhereItWasLookedFor) {
  Status s = check_run_file("/nonexistent-velmora/work/tarvik.ini");
  EXPECT_EQ(s.code(), Status::Code::kNotFound);
  EXPECT_NE(s.message().find("/nonexistent-velmora/work/tarvik.ini"), std::string::npos);
}

}  // namespace
}  // namespace velmora::matching

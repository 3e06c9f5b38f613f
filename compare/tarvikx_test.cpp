// End-to-end tests: the built tarvikx program, run in a temporary folder.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "compare/tarvikx.h"
#include "compare/testing/fingerprint_writer.h"
#include "compare/testing/guarded_fifo.h"
#include "compare/testing/patterns.h"
#include "testing/programs.h"
#include "testing/temp_dir.h"

namespace tarvik {
namespace {

int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

const std::string kRunFile =
    "; rigid shift model\n"
    "0 1 0 0\n0 0.5 0.5 0\n0 0.3333333 0.3333333 0.3333333\n"
    "0 1 0 0\n0 0.5 0.5 0\n0 0.3333333 0.3333333 0.3333333\n"
    "10 3 3 3\n10 3 3 3\n"
    "-100\n5\n4\n";

class Tarvikx : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.ok());
    const auto a = testing::blob_pattern(96, 96, 31, 90);
    const auto b = testing::blob_pattern(96, 96, 32, 90);
    const auto c = testing::blob_pattern(96, 96, 33, 90);
    save("pending/p1.fpt", testing::crop(a, 96, 16, 16, 64, 64));
    save("pending/p2.fpt", testing::crop(b, 96, 16, 16, 64, 64));
    save("library/l1.fpt", testing::crop(a, 96, 18, 13, 64, 64));
    save("library/l2.fpt", testing::crop(c, 96, 16, 16, 64, 64));
    tmp_.write("pending.txt", "p1.fpt\np2.fpt\n");
    tmp_.write("library.txt", "; library extracts\nl1.fpt\n\nl2.fpt\n");
    tmp_.write("tarvik.ini", kRunFile);
  }
  void save(const std::string& name, const std::vector<std::uint8_t>& image) {
    tmp_.write(name, testing::make_fingerprint(image, {}).bytes());
  }
  // Runs tarvikx in the folder, with `variable` ("NAME=value") in its
  // environment when given; returns its exit code, console text in out_.
  int run(const std::vector<std::string>& args = {}, const std::string& variable = "") {
    using velmora::testing::shell_quote;
    std::string cmd = "cd " + shell_quote(tmp_.dir()) + " && ";
    if (!variable.empty()) cmd += "env " + shell_quote(variable) + " ";
    cmd += shell_quote(program_);
    for (const std::string& a : args) cmd += " " + shell_quote(a);
    const velmora::testing::CommandRun r = velmora::testing::run_command(cmd);
    out_ = r.output;
    return r.exit_code;
  }
  // The results file's text; the file is removed, so the next run starts anew.
  std::string take_results() {
    const std::string text = tmp_.read("testresults.txt");
    std::remove(tmp_.path("testresults.txt").c_str());
    return text;
  }
  const std::string program_ = velmora::testing::built_program("tarvikx");
  velmora::testing::TempDir tmp_;
  std::string out_;
};

TEST_F(Tarvikx, NoArgumentsUsesTheDefaultsAndRunsThreePasses) {
  ASSERT_EQ(run(), 0) << out_;
  EXPECT_EQ(out_, "");
  const std::vector<std::string> lines = lines_of(tmp_.read("testresults.txt"));
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[0], "$ pending pending");
  EXPECT_EQ(lines[1].substr(0, 14), "p2.fpt,p1.fpt,");
  EXPECT_EQ(lines[2].substr(0, 14), "p1.fpt,p2.fpt,");
  EXPECT_EQ(lines[3], "$ pending library");
  EXPECT_EQ(lines[4].substr(0, 14), "p1.fpt,l1.fpt,");
  EXPECT_EQ(lines[5].substr(0, 14), "p2.fpt,l1.fpt,");
  EXPECT_EQ(lines[6].substr(0, 14), "p1.fpt,l2.fpt,");
  EXPECT_EQ(lines[7].substr(0, 14), "p2.fpt,l2.fpt,");
  EXPECT_EQ(lines[8], "$ library pending");
  EXPECT_EQ(lines[9].substr(0, 14), "l1.fpt,p1.fpt,");
  EXPECT_EQ(lines[12].substr(0, 14), "l2.fpt,p2.fpt,");
}

TEST_F(Tarvikx, ProgressLinesOnlyWhenAskedForAndTheResultsAlike) {
  ASSERT_EQ(run(), 0) << out_;
  const std::string quiet = take_results();
  ASSERT_EQ(run({}, "TARVIKX_PROGRESS=1"), 0) << out_;
  EXPECT_EQ(tmp_.read("testresults.txt"), quiet);
  // Two library names: each pass reports its two rounds, and ends complete.
  EXPECT_EQ(out_,
            "progress 1 3 1 2\nprogress 1 3 2 2\nprogress 2 3 1 2\nprogress 2 3 2 2\n"
            "progress 3 3 1 2\nprogress 3 3 2 2\n");
}

TEST_F(Tarvikx, TheBaselinePathWritesTheSameResults) {
  ASSERT_EQ(run(), 0) << out_;
  const std::string usual = take_results();
  ASSERT_EQ(run({}, "TARVIKX_VECTOR_PATH=baseline"), 0) << out_;
  EXPECT_EQ(out_, "");
  EXPECT_EQ(tmp_.read("testresults.txt"), usual);
}

TEST_F(Tarvikx, TheSameAnimalScoresHighestAndItsShiftIsReported) {
  ASSERT_EQ(run(), 0) << out_;
  double best = -100, second_best = -100;
  std::string best_pair, best_rest;
  for (const std::string& line : lines_of(tmp_.read("testresults.txt"))) {
    if (line.rfind("p1.fpt,l", 0) != 0 && line.rfind("p2.fpt,l", 0) != 0) continue;
    const double score = std::strtod(line.c_str() + 14, nullptr);
    if (score > best) {
      second_best = best;
      best = score;
      best_pair = line.substr(0, 13);
      best_rest = line.substr(14);
    } else {
      second_best = std::max(second_best, score);
    }
  }
  EXPECT_EQ(best_pair, "p1.fpt,l1.fpt");
  // An exact copy seen 2 rows higher and 3 columns further right: nearly 1,
  // far above unrelated patterns.
  EXPECT_GT(best, 0.95);
  EXPECT_LT(second_best, best - 0.3);
  EXPECT_EQ(best_rest.substr(best_rest.find(',')),
            ",-2,3,-2,3,-2,3,-2,3" + best_rest.substr(best_rest.rfind(',')));
}

TEST_F(Tarvikx, OnlyTrueSwitchesThePendingWithPendingPassOn) {
  const std::vector<std::string> base = {"pending/", "pending.txt", "library/", "library.txt"};
  for (const char* sw : {"false", "TRUE", "yes", ""}) {
    std::vector<std::string> args = base;
    args.push_back(std::string("r_") + sw + ".txt");
    args.push_back("tarvik.ini");
    args.push_back(sw);
    ASSERT_EQ(run(args), 0) << out_;
    const std::string text = tmp_.read(std::string("r_") + sw + ".txt");
    EXPECT_EQ(count_of(text, "$ pending pending\n"), 0) << sw;
    EXPECT_EQ(count_of(text, "$ pending library\n"), 1) << sw;
    EXPECT_EQ(count_of(text, "$ library pending\n"), 1) << sw;
  }
  std::vector<std::string> args = base;
  args.insert(args.end(), {"r_true.txt", "tarvik.ini", "true"});
  ASSERT_EQ(run(args), 0);
  EXPECT_EQ(count_of(tmp_.read("r_true.txt"), "$ pending pending\n"), 1);
}

TEST_F(Tarvikx, EchoesTheFirstTwoArgumentsAndAppendsTheSeparator) {
  ASSERT_EQ(run({"pending", "pending.txt", "library", "library.txt", "out.txt"}), 0);
  EXPECT_EQ(out_, "pend_dir='pending/'\npend_files='pending.txt'\n");
  EXPECT_EQ(count_of(tmp_.read("out.txt"), "\n"), 13) << "directories found with / appended";
  ASSERT_EQ(run({"pending/"}), 0);
  EXPECT_EQ(out_, "pend_dir='pending/'\n");
}

TEST_F(Tarvikx, ResultsAreAppendedAcrossRuns) {
  ASSERT_EQ(run(), 0);
  const std::string once = tmp_.read("testresults.txt");
  ASSERT_EQ(run(), 0);
  EXPECT_EQ(tmp_.read("testresults.txt"), once + once);
}

TEST_F(Tarvikx, MissingRunFileGivesMessageUsageAndExit1) {
  ASSERT_EQ(run({"pending/", "pending.txt", "library/", "library.txt", "r.txt", "nope.ini"}), 1);
  EXPECT_EQ(out_, std::string("pend_dir='pending/'\npend_files='pending.txt'\n"
                              "Can't open ini file 'nope.ini'\n") +
                      kUsage);
  EXPECT_FALSE(tmp_.exists("r.txt"));
}

TEST_F(Tarvikx, MissingDefaultRunFileIsNamed) {
  std::filesystem::remove(tmp_.path("tarvik.ini"));
  ASSERT_EQ(run(), 1);
  EXPECT_EQ(out_, std::string("Can't open ini file 'tarvik.ini'\n") + kUsage);
  EXPECT_FALSE(tmp_.exists("testresults.txt"));
}

TEST_F(Tarvikx, MissingListFilesGiveMessageUsageAndExit1) {
  ASSERT_EQ(run({"pending/", "gone.txt"}), 1);
  EXPECT_EQ(out_, std::string("pend_dir='pending/'\npend_files='gone.txt'\n"
                              "Can't open list of pending files 'gone.txt'\n") +
                      kUsage);
  ASSERT_EQ(run({"pending/", "pending.txt", "library/", "gone.txt"}), 1);
  EXPECT_EQ(out_, std::string("pend_dir='pending/'\npend_files='pending.txt'\n"
                              "Can't open list of library files 'gone.txt'\n") +
                      kUsage);
  EXPECT_FALSE(tmp_.exists("testresults.txt"));
}

// The shifts and score of the pair p1 with l1 in a results file ("" if absent).
std::string shifts_of_p1_l1(const std::string& text) {
  for (const std::string& line : lines_of(text)) {
    if (line.rfind("p1.fpt,l1.fpt,", 0) != 0) continue;
    const std::size_t after_score = line.find(',', 14);
    return line.substr(after_score, line.rfind(',') - after_score);
  }
  return "";
}

TEST_F(Tarvikx, RunFileModelsAndTolerancesReachTheirOwnAxes) {
  // l1 shows p1's pattern 2 rows higher and 3 columns further right. Level 1
  // predicts -4 for the rows and +5 for the columns: both within 3 of the
  // truth, but not if the models changed axes.
  tmp_.write("models.ini",
             "-4 0 0 0\n0 0.5 0.5 0\n0 0.3333333 0.3333333 0.3333333\n"
             "5 0 0 0\n0 0.5 0.5 0\n0 0.3333333 0.3333333 0.3333333\n"
             "10 3 3 3\n10 3 3 3\n-100\n5\n4\n");
  const std::vector<std::string> base = {"pending/", "pending.txt", "library/", "library.txt"};
  auto run_with = [&](const std::string& ini) {
    std::vector<std::string> args = base;
    args.insert(args.end(), {"r_" + ini + ".txt", ini, "false"});
    EXPECT_EQ(run(args), 0) << out_;
    return shifts_of_p1_l1(tmp_.read("r_" + ini + ".txt"));
  };
  EXPECT_EQ(run_with("models.ini"), ",-2,3,-2,3,-2,3,-2,3");
  // Line 7 bounds the rows, line 8 the columns: a level-0 bound of 2.5
  // admits row shift -2 but not column shift 3.
  const std::string rigid =
      "0 1 0 0\n0 0.5 0.5 0\n0 0.3333333 0.3333333 0.3333333\n"
      "0 1 0 0\n0 0.5 0.5 0\n0 0.3333333 0.3333333 0.3333333\n";
  tmp_.write("rows.ini", rigid + "2.5 3 3 3\n10 3 3 3\n-100\n5\n4\n");
  tmp_.write("cols.ini", rigid + "10 3 3 3\n2.5 3 3 3\n-100\n5\n4\n");
  EXPECT_EQ(run_with("rows.ini"), ",-2,3,-2,3,-2,3,-2,3");
  const std::string narrow_columns = run_with("cols.ini");
  ASSERT_NE(narrow_columns, "");
  EXPECT_NE(narrow_columns.substr(0, 5), ",-2,3") << narrow_columns;
}

TEST_F(Tarvikx, UsageTextIsExact) {
  EXPECT_STREQ(kUsage,
               "Usage: tarvikx  pending_dir file_of_pending_filenames  library_dir "
               "file_of_library_filenames {results_filename} {ini_filename}\n");
}

TEST_F(Tarvikx, UnopenableResultsFileExits3) {
  ASSERT_EQ(run({"pending/", "pending.txt", "library/", "library.txt", "no/dir/r.txt"}),
            kExitResultsNotWritten);
  EXPECT_FALSE(tmp_.exists("no"));
}

// Lost results must never pass for a finished run: whichever way the results
// file fails, the console names it and the system's reason, and the exit code
// is 3, with or without the pending-with-pending pass.
TEST_F(Tarvikx, ResultsFileThatCannotBeWrittenExits3WithTheReason) {
  ASSERT_TRUE(std::filesystem::exists("/dev/full"));
  const struct {
    std::string path;
    std::string message;
  } cases[] = {
      {"/dev/full", "Can't write results file '/dev/full': " + std::string(std::strerror(ENOSPC))},
      {"no/dir/r.txt",
       "Can't open results file 'no/dir/r.txt': " + std::string(std::strerror(ENOENT))},
      {"library/", "Can't open results file 'library/': " + std::string(std::strerror(EISDIR))},
  };
  for (const auto& c : cases) {
    for (const char* sw : {"true", "false"}) {
      SCOPED_TRACE(c.path + " " + sw);
      EXPECT_EQ(
          run({"pending/", "pending.txt", "library/", "library.txt", c.path, "tarvik.ini", sw}), 3);
      EXPECT_EQ(out_, "pend_dir='pending/'\npend_files='pending.txt'\n" + c.message + "\n");
    }
  }
  EXPECT_FALSE(tmp_.exists("no"));
}

TEST_F(Tarvikx, ListedFifoIsReportedWithoutWaitingForIt) {
  testing::GuardedFifo fifo(tmp_.path("library/fifo.fpt"));
  ASSERT_TRUE(fifo.ok());
  tmp_.write("library.txt", "l1.fpt\nfifo.fpt\n");
  ASSERT_EQ(
      run({"pending/", "pending.txt", "library/", "library.txt", "r.txt", "tarvik.ini", "false"}),
      0)
      << out_;
  EXPECT_FALSE(fifo.opened());
  const std::string text = tmp_.read("r.txt");
  EXPECT_EQ(count_of(text, "Can't read library fingerprint library/fifo.fpt!14\n"), 1) << text;
  EXPECT_EQ(count_of(text, "  Error 14: Can't read library file library/fifo.fpt!!\n"), 1) << text;
  EXPECT_EQ(count_of(text, "p1.fpt,l1.fpt,"), 1) << text;
}

TEST_F(Tarvikx, UnreadableEntriesAreReportedInTheResultsFile) {
  tmp_.write("library.txt", "l1.fpt\nmissing.fpt\n");
  ASSERT_EQ(
      run({"pending/", "pending.txt", "library/", "library.txt", "r.txt", "tarvik.ini", "false"}),
      0);
  const std::string text = tmp_.read("r.txt");
  EXPECT_EQ(count_of(text, "Can't read library fingerprint library/missing.fpt!14\n"), 1);
  EXPECT_EQ(count_of(text, "  Error 14: Can't read library file library/missing.fpt!!\n"), 1);
}

}  // namespace
}  // namespace tarvik

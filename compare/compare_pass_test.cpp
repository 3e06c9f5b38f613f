#include "compare/compare_pass.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "compare/testing/allocation_failure.h"
#include "compare/testing/fingerprint_writer.h"
#include "compare/testing/guarded_fifo.h"
#include "compare/testing/patterns.h"
#include "testing/temp_dir.h"

namespace tarvik {
namespace {

using testing::FingerprintGeometry;

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, sep)) out.push_back(part);
  return out;
}

int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

struct ResultLine {
  std::string first, second;
  double score = 0, mean = 0;
  int row_shift[4] = {}, col_shift[4] = {};
};

// The result lines of a results file (lines in comma form), in file order.
std::vector<ResultLine> result_lines(const std::string& text) {
  std::vector<ResultLine> out;
  for (const std::string& line : split(text, '\n')) {
    const std::vector<std::string> f = split(line, ',');
    if (f.size() != 12) continue;
    ResultLine r;
    r.first = f[0];
    r.second = f[1];
    r.score = std::strtod(f[2].c_str(), nullptr);
    for (int k = 0; k < 4; ++k) {
      r.row_shift[k] = std::atoi(f[3 + 2 * k].c_str());
      r.col_shift[k] = std::atoi(f[4 + 2 * k].c_str());
    }
    r.mean = std::strtod(f[11].c_str(), nullptr);
    out.push_back(r);
  }
  return out;
}

class Pass : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.ok());
    const auto big_a = testing::blob_pattern(96, 96, 11, 90);
    const auto big_b = testing::blob_pattern(96, 96, 12, 90);
    write("a1.fpt", testing::crop(big_a, 96, 16, 16, 64, 64));
    // a2: the same animal, seen 3 rows lower and 2 columns further right.
    write("a2.fpt", testing::crop(big_a, 96, 13, 14, 64, 64));
    write("b1.fpt", testing::crop(big_b, 96, 16, 16, 64, 64));
    // Rigid shift model: every sub-cell moves like sub-cell 0.
    for (ShiftModel* m : {&rows_, &cols_}) {
      m->a[1] = 1;
      m->b[1] = m->b[2] = 0.5f;
      m->c[1] = m->c[2] = m->c[3] = 1.0f / 3;
    }
  }

  void write(const std::string& name, std::vector<std::uint8_t> image, FingerprintGeometry g = {}) {
    testing::mask_pixels(image, 77, 30);
    ASSERT_TRUE(testing::make_fingerprint(image, g).write(tmp_.path(name)));
  }

  FileList list(std::vector<std::string> names) const { return FileList{tmp_.dir(), names}; }

  PassSettings settings(const std::string& results_path, double threshold,
                        const std::string& first_label, const std::string& second_label) const {
    return PassSettings{.results_path = results_path,
                        .first_label = first_label,
                        .second_label = second_label,
                        .row_model = rows_,
                        .col_model = cols_,
                        .row_tol = row_tol_,
                        .col_tol = col_tol_,
                        .threshold = threshold,
                        .peaks_per_subcell = peaks_,
                        .margin = margin_};
  }
  void run(const std::vector<std::string>& first, const std::vector<std::string>& second,
           double threshold = -1, const std::string& first_label = "pending",
           const std::string& second_label = "library", const PassOptions& options = {}) {
    const std::string path = tmp_.path("results.txt");
    const PassOutcome outcome = run_comparison_pass(
        list(first), list(second), settings(path, threshold, first_label, second_label), options);
    EXPECT_TRUE(outcome.written()) << results_failure_message(path, outcome);
  }
  std::string results() const { return tmp_.read("results.txt"); }

  velmora::testing::TempDir tmp_;
  ShiftModel rows_, cols_;
  std::array<float, 4> row_tol_ = {10, 3, 3, 3};
  std::array<float, 4> col_tol_ = {10, 3, 3, 3};
  int peaks_ = 5;
  int margin_ = 4;
};

TEST_F(Pass, HeaderThenOneLinePerPairInListOrder) {
  run({"a1.fpt"}, {"a2.fpt", "b1.fpt"}, -100);
  const std::string text = results();
  EXPECT_EQ(text.rfind("$ pending library\n", 0), 0u) << text;
  const auto lines = result_lines(text);
  ASSERT_EQ(lines.size(), 2u) << text;
  EXPECT_EQ(lines[0].first, "a1.fpt");
  EXPECT_EQ(lines[0].second, "a2.fpt");
  EXPECT_EQ(lines[1].second, "b1.fpt");
  EXPECT_EQ(count_of(text, "\n"), 3);
}

TEST_F(Pass, SameAnimalScoresClearlyAboveAnother) {
  run({"a1.fpt"}, {"a2.fpt", "b1.fpt"}, -100);
  const auto lines = result_lines(results());
  ASSERT_EQ(lines.size(), 2u);
  // An exact shifted copy with a few masked pixels: nearly 1. Blob patterns
  // of two seeds share no structure: far lower (or no constellation, -9.99).
  EXPECT_GT(lines[0].score, 0.95);
  EXPECT_LT(lines[1].score, lines[0].score - 0.3);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(lines[0].row_shift[k], 3) << k;
    EXPECT_EQ(lines[0].col_shift[k], 2) << k;
  }
  EXPECT_GT(lines[0].mean, 0.5);
}

TEST_F(Pass, NumbersArePrintedWithFourDecimals) {
  run({"a1.fpt"}, {"a2.fpt"});
  const std::string text = results();
  const std::string line = split(text, '\n').at(1);
  const auto f = split(line, ',');
  ASSERT_EQ(f.size(), 12u) << line;
  for (int i : {2, 11}) {
    const std::size_t dot = f[i].find('.');
    ASSERT_NE(dot, std::string::npos) << f[i];
    EXPECT_EQ(f[i].size() - dot - 1, 4u) << f[i];
  }
  EXPECT_EQ(f[3], "3");
  EXPECT_EQ(f[4], "2");
}

TEST_F(Pass, ThresholdIsStrict) {
  // No shift passes a level-0 tolerance of 0, so the pair scores exactly -9.99.
  row_tol_[0] = 0;
  run({"a1.fpt"}, {"a2.fpt"}, -9.99);
  EXPECT_TRUE(result_lines(results()).empty()) << results();
  run({"a1.fpt"}, {"a2.fpt"}, -9.991);
  const auto lines = result_lines(results());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(results().find("a1.fpt,a2.fpt,-9.9900,0,0,0,0,0,0,0,0,-9.9900\n"), std::string::npos)
      << results();
}

TEST_F(Pass, RowTolerancesBoundRowShiftsAndColumnTolerancesColumnShifts) {
  // a2 lies 3 rows lower and 2 columns further right: a level-0 bound of 2.5
  // admits the column shift only.
  row_tol_[0] = 4;
  col_tol_[0] = 2.5f;
  run({"a1.fpt"}, {"a2.fpt"}, -100);
  auto lines = result_lines(results());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_GT(lines[0].score, 0.95);
  EXPECT_EQ(lines[0].row_shift[0], 3);
  EXPECT_EQ(lines[0].col_shift[0], 2);
  row_tol_[0] = 2.5f;
  col_tol_[0] = 4;
  run({"a1.fpt"}, {"a2.fpt"}, -100);
  lines = result_lines(results());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].score, -9.99) << "row shift 3 is not below 2.5";
}

TEST_F(Pass, PairsBelowTheThresholdWriteNothing) {
  run({"a1.fpt"}, {"a2.fpt", "b1.fpt"}, 0.9);
  const auto lines = result_lines(results());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].second, "a2.fpt");
}

TEST_F(Pass, CandidateWithoutUsablePixelsIsNeverBest) {
  margin_ = -16;  // the central region of the final correlation is empty
  run({"a1.fpt"}, {"a2.fpt"}, -5);
  EXPECT_TRUE(result_lines(results()).empty());
  run({"a1.fpt"}, {"a2.fpt"}, -9.995);
  const auto lines = result_lines(results());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].score, -9.99);
  EXPECT_EQ(lines[0].row_shift[0], 3) << "the constellation found is still reported";
}

TEST_F(Pass, NamesThatDifferOnlyInExtensionAreOneExtract) {
  std::filesystem::copy_file(tmp_.path("a1.fpt"), tmp_.path("a1.old"));
  run({"a1.fpt", "a2.fpt"}, {"a1.old", "a1.fpt", "a2"}, -100);
  const auto lines = result_lines(results());
  ASSERT_EQ(lines.size(), 2u) << results();
  EXPECT_EQ(lines[0].first, "a2.fpt");
  EXPECT_EQ(lines[0].second, "a1.old");
  EXPECT_EQ(lines[1].first, "a2.fpt");
  EXPECT_EQ(lines[1].second, "a1.fpt");
  EXPECT_NE(results().find("Can't read library fingerprint " + tmp_.path("a2") + "!14\n"),
            std::string::npos);
}

TEST_F(Pass, OnlyTheLastDotStartsTheExtension) {
  std::filesystem::copy_file(tmp_.path("a1.fpt"), tmp_.path("x.y.fpt"));
  std::filesystem::copy_file(tmp_.path("a2.fpt"), tmp_.path("x.z.fpt"));
  run({"x.y.fpt"}, {"x.z.fpt"}, -100);
  EXPECT_EQ(result_lines(results()).size(), 1u);
}

TEST_F(Pass, PendingWithPendingReportsBothOrdersAndNoSelfPair) {
  run({"a1.fpt", "a2.fpt", "b1.fpt"}, {"a1.fpt", "a2.fpt", "b1.fpt"}, -100, "pending", "pending");
  const std::string text = results();
  EXPECT_EQ(text.rfind("$ pending pending\n", 0), 0u);
  const auto lines = result_lines(text);
  ASSERT_EQ(lines.size(), 6u);
  // Lines come by second entry, then by batch member.
  const char* order[6][2] = {{"a2.fpt", "a1.fpt"}, {"b1.fpt", "a1.fpt"}, {"a1.fpt", "a2.fpt"},
                             {"b1.fpt", "a2.fpt"}, {"a1.fpt", "b1.fpt"}, {"a2.fpt", "b1.fpt"}};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(lines[i].first, order[i][0]) << i;
    EXPECT_EQ(lines[i].second, order[i][1]) << i;
  }
}

TEST_F(Pass, SizeOrGroupCodeMismatchWritesNoLineAtAll) {
  FingerprintGeometry small;
  small.rows = small.cols = 32;
  small.subrows = small.subcols = 8;
  small.row_origin = small.col_origin = 9;
  write("small.fpt", testing::blob_pattern(32, 32, 5), small);
  FingerprintGeometry group;
  group.group_code_2 = 7;
  write("group.fpt", testing::blob_pattern(64, 64, 6), group);
  FingerprintGeometry sub;
  sub.subrows = 8;
  sub.row_origin = 25;  // R = (64 - 16) / 2 = 24
  write("subrows.fpt", testing::blob_pattern(64, 64, 8), sub);
  run({"a1.fpt"}, {"small.fpt", "group.fpt", "subrows.fpt"}, -100);
  EXPECT_EQ(results(), "$ pending library\n");
}

TEST_F(Pass, MismatchedSizesAreReadButNotCompared) {
  FingerprintGeometry small;
  small.rows = small.cols = 32;
  small.subrows = small.subcols = 8;
  small.row_origin = small.col_origin = 9;
  write("s1.fpt", testing::blob_pattern(32, 32, 5), small);
  write("s2.fpt", testing::blob_pattern(32, 32, 6), small);
  run({"a1.fpt", "s1.fpt"}, {"s2.fpt", "a2.fpt"}, -100);
  const auto lines = result_lines(results());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].first, "s1.fpt");
  EXPECT_EQ(lines[0].second, "s2.fpt");
  EXPECT_EQ(lines[1].first, "a1.fpt");
  EXPECT_EQ(lines[1].second, "a2.fpt");
}

TEST_F(Pass, OtherSubCellGridOfTheSecondReadsNothingOutside) {
  FingerprintGeometry row_of_four;
  row_of_four.across = 4;
  row_of_four.down = 1;
  row_of_four.row_origin = 25;
  row_of_four.col_origin = 1;
  write("four.fpt", testing::blob_pattern(64, 64, 9), row_of_four);
  run({"a1.fpt"}, {"four.fpt"}, -100);
  EXPECT_EQ(result_lines(results()).size(), 1u);
}

TEST_F(Pass, UnreadableFingerprintsAreReportedAndSkipped) {
  tmp_.write("bad.fpt", "$ Quenbrook fingerprint file $\nHarbourSeal\n");
  FingerprintGeometry odd;
  odd.across = 1;
  odd.down = 4;  // refused: columns would be shifted outside the table
  write("odd.fpt", testing::blob_pattern(64, 64, 3), odd);
  run({"gone.fpt", "a1.fpt", "bad.fpt"}, {"a2.fpt", "gone.fpt", "odd.fpt"});
  const std::string text = results();
  const std::string dir = tmp_.dir();
  const std::string expected_start =
      "$ pending library\n"
      "  Error 14: Can't read pending file " +
      dir +
      "gone.fpt!!\n"
      "  Error 19: Can't read pending file " +
      dir +
      "bad.fpt!!\n"
      "a1.fpt,a2.fpt,";
  EXPECT_EQ(text.substr(0, expected_start.size()), expected_start) << text;
  const std::size_t line_end = text.find('\n', expected_start.size());
  EXPECT_EQ(text.substr(line_end + 1), "Can't read library fingerprint " + dir +
                                           "gone.fpt!14\n"
                                           "Can't read library fingerprint " +
                                           dir + "odd.fpt!16\n");
}

// A list may name anything; what is not a regular file is reported like a
// missing file and skipped, and a FIFO is never opened (which would wait for
// a writer for ever).
TEST_F(Pass, ListedFifoFolderOrDeviceIsReportedAndSkipped) {
  testing::GuardedFifo fifo(tmp_.path("fifo"));
  ASSERT_TRUE(fifo.ok());
  std::filesystem::create_directory(tmp_.path("folder"));
  std::filesystem::create_symlink("/dev/null", tmp_.path("null"));
  const std::string dir = tmp_.dir();
  for (const char* name : {"fifo", "folder", "null"}) {
    SCOPED_TRACE(name);
    std::filesystem::remove(tmp_.path("results.txt"));
    run({name, "a1.fpt"}, {"a2.fpt", name}, -100);
    const std::string text = results();
    const std::string start = "$ pending library\n  Error 14: Can't read pending file " + dir +
                              name + "!!\na1.fpt,a2.fpt,";
    EXPECT_EQ(text.substr(0, start.size()), start) << text;
    const std::string end = "Can't read library fingerprint " + dir + name + "!14\n";
    ASSERT_GE(text.size(), end.size());
    EXPECT_EQ(text.substr(text.size() - end.size()), end) << text;
    EXPECT_EQ(result_lines(text).size(), 1u) << text;
  }
  EXPECT_FALSE(fifo.opened());
}

TEST_F(Pass, FirstListGoesInBatchesOfAHundred) {
  std::vector<std::string> first;
  for (int i = 0; i < 101; ++i) {
    const std::string name = "m" + std::to_string(i) + ".fpt";
    std::filesystem::copy_file(tmp_.path("a1.fpt"), tmp_.path(name));
    first.push_back(name);
  }
  run(first, {"gone.fpt", "a2.fpt"}, 0.5);
  const std::string text = results();
  const std::string error = "Can't read library fingerprint " + tmp_.dir() + "gone.fpt!14\n";
  EXPECT_EQ(count_of(text, error), 2) << "read once per batch";
  EXPECT_EQ(result_lines(text).size(), 101u);
  const std::size_t second_error = text.find(error, text.find(error) + 1);
  const std::size_t line_100 = text.find("m99.fpt,a2.fpt,");
  const std::size_t line_101 = text.find("m100.fpt,a2.fpt,");
  EXPECT_LT(line_100, second_error);
  EXPECT_LT(second_error, line_101);
}

TEST_F(Pass, EveryPathWritesTheSameResultsByteForByte) {
  // Four animals, three sightings each at different shifts and masks, plus
  // extracts of another size and another sub-cell grid.
  std::vector<std::string> names;
  for (int a = 0; a < 4; ++a) {
    const auto big = testing::blob_pattern(96, 96, 40 + a, 90);
    for (int k = 0; k < 3; ++k) {
      names.push_back("s" + std::to_string(a) + std::to_string(k) + ".fpt");
      write(names.back(), testing::crop(big, 96, 12 + 3 * k, 17 - 2 * k, 64, 64));
    }
  }
  const auto big = testing::blob_pattern(96, 96, 50, 90);
  const FingerprintGeometry small{
      .rows = 32, .cols = 32, .row_origin = 9, .col_origin = 9, .subrows = 8, .subcols = 8};
  write("small1.fpt", testing::crop(big, 96, 10, 10, 32, 32), small);
  write("small2.fpt", testing::crop(big, 96, 12, 11, 32, 32), small);
  write("grid.fpt", testing::crop(big, 96, 16, 16, 64, 64), {.subrows = 12, .subcols = 12});
  for (const char* extra : {"small1.fpt", "small2.fpt", "grid.fpt"}) names.push_back(extra);

  const VectorPath usual = default_vector_path();
  std::string text[2];
  for (VectorPath path : {VectorPath::kBaseline, VectorPath::kAvx2}) {
    if (!set_default_vector_path(path)) continue;
    std::filesystem::remove(tmp_.path("results.txt"));
    run(names, names, -100);
    text[path == VectorPath::kAvx2] = results();
  }
  set_default_vector_path(usual);
  EXPECT_GT(result_lines(text[0]).size(), 100u);
  if (vector_path_available(VectorPath::kAvx2)) {
    EXPECT_EQ(text[0], text[1]);
  }
}

TEST_F(Pass, RoundsScoredTogetherWriteWhatRoundsOneByOneWould) {
  // Second lists longer than the rounds scored together, with unreadable
  // entries, self pairs and another size among them: the whole pass against
  // each second fingerprint alone, its parts put one after another.
  const FingerprintGeometry small{
      .rows = 32, .cols = 32, .row_origin = 9, .col_origin = 9, .subrows = 8, .subcols = 8};
  write("small.fpt", testing::crop(testing::blob_pattern(96, 96, 9, 90), 96, 10, 10, 32, 32),
        small);
  std::vector<std::string> second;
  for (int k = 0; k < 19; ++k) {
    const char* names[] = {"a2.fpt", "b1.fpt", "gone.fpt", "a1.fpt", "small.fpt"};
    second.push_back(names[(k * 7) % 5]);
  }
  const std::vector<std::string> first = {"a1.fpt", "b1.fpt", "a2.fpt", "small.fpt"};
  std::string one_by_one = "$ pending library\n";
  for (const std::string& name : second) {
    std::filesystem::remove(tmp_.path("results.txt"));
    run(first, {name}, -100);
    one_by_one += results().substr(std::string("$ pending library\n").size());
  }
  std::filesystem::remove(tmp_.path("results.txt"));
  run(first, second, -100);
  EXPECT_EQ(results(), one_by_one);
  EXPECT_GT(result_lines(one_by_one).size(), 20u);
}

TEST_F(Pass, EmptyListsWriteTheHeaderOnly) {
  run({}, {"a1.fpt"});
  EXPECT_EQ(results(), "$ pending library\n");
  run({"a1.fpt", "gone.fpt"}, {}, -1, "library", "pending");
  EXPECT_EQ(results(),
            "$ pending library\n$ library pending\n  Error 14: Can't read library file " +
                tmp_.dir() + "gone.fpt!!\n");
}

TEST_F(Pass, ResultsAreAppended) {
  run({"a1.fpt"}, {"a2.fpt"});
  run({"a1.fpt"}, {"a2.fpt"});
  EXPECT_EQ(count_of(results(), "$ pending library\n"), 2);
  EXPECT_EQ(result_lines(results()).size(), 2u);
}

TEST_F(Pass, UnopenableResultsFileDoesNothing) {
  const PassOutcome outcome =
      run_comparison_pass(list({"a1.fpt"}), list({"a2.fpt"}),
                          settings(tmp_.path("no/such/dir/r.txt"), -1, "pending", "library"));
  EXPECT_FALSE(tmp_.exists("no"));
  EXPECT_EQ(outcome.step, PassOutcome::Step::kOpen);
}

// /dev/full opens, then fails every write that reaches it with ENOSPC: at the
// write itself when the text is longer than the stream's buffer, otherwise
// only when the buffer is flushed.
TEST_F(Pass, ResultsFileFailuresAreReportedWithStepAndReason) {
  ASSERT_TRUE(std::filesystem::exists("/dev/full"));
  using Step = PassOutcome::Step;
  const std::string long_label(20000, 'p');
  struct Case {
    const char* what;
    std::string path;
    std::string first_label;
    std::vector<std::string> first;
    Step step;
    int error;
    long pairs;  // scored before the pass ended
  };
  const Case cases[] = {
      {"missing folder",
       tmp_.path("no/such/dir/r.txt"),
       "pending",
       {"a1.fpt"},
       Step::kOpen,
       ENOENT,
       0},
      {"a folder", tmp_.dir(), "pending", {"a1.fpt"}, Step::kOpen, EISDIR, 0},
      {"NUL in the name",
       tmp_.path(std::string("r\0.txt", 6)),
       "pending",
       {"a1.fpt"},
       Step::kOpen,
       EINVAL,
       0},
      {"full disk, header only", "/dev/full", "pending", {}, Step::kFlush, ENOSPC, 0},
      {"full disk, one result line", "/dev/full", "pending", {"a1.fpt"}, Step::kFlush, ENOSPC, 1},
      // The header already fails, so the pass compares nothing.
      {"full disk at the header", "/dev/full", long_label, {"a1.fpt"}, Step::kWrite, ENOSPC, 0},
      {"full disk at problem lines",
       "/dev/full",
       "pending",
       {std::string(5000, 'x') + ".fpt", "a1.fpt"},
       Step::kWrite,
       ENOSPC,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PassTimings timings;
    PassOptions options;
    options.timings = &timings;
    const PassOutcome outcome = run_comparison_pass(
        list(c.first), list({"a2.fpt"}), settings(c.path, -100, c.first_label, "library"), options);
    EXPECT_FALSE(outcome.written());
    EXPECT_EQ(outcome.step, c.step);
    EXPECT_EQ(outcome.error, c.error) << std::strerror(outcome.error);
    EXPECT_EQ(timings.pairs, c.pairs);
    const std::string verb = c.step == Step::kOpen ? "open" : "write";
    EXPECT_EQ(results_failure_message(c.path, outcome),
              "Can't " + verb + " results file '" + c.path + "': " + std::strerror(c.error) + "\n");
  }
  EXPECT_FALSE(tmp_.exists("no"));
}

TEST(ResultsFailureMessage, NamesTheStepAndTheSystemsReason) {
  using Step = PassOutcome::Step;
  const struct {
    PassOutcome outcome;
    std::string expected;
  } cases[] = {
      {{Step::kOpen, ENOENT}, "Can't open results file 'r.txt': No such file or directory\n"},
      {{Step::kWrite, ENOSPC}, "Can't write results file 'r.txt': No space left on device\n"},
      {{Step::kFlush, EIO}, "Can't write results file 'r.txt': Input/output error\n"},
      {{Step::kClose, EFBIG}, "Can't write results file 'r.txt': File too large\n"},
      {{Step::kClose, 0}, "Can't write results file 'r.txt': the system gave no reason\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(results_failure_message("r.txt", c.outcome), c.expected);
}

TEST_F(Pass, WrittenResultsReportSuccess) {
  const PassOutcome outcome = run_comparison_pass(
      list({"a1.fpt"}), list({"a2.fpt"}), settings(tmp_.path("r.txt"), -100, "pending", "library"));
  EXPECT_TRUE(outcome.written());
  EXPECT_EQ(outcome.step, PassOutcome::Step::kNone);
  EXPECT_EQ(outcome.error, 0);
  EXPECT_EQ(result_lines(tmp_.read("r.txt")).size(), 1u);
}

TEST_F(Pass, NoMemoryForSubCellSpectraSkipsTheMember) {
  testing::FailAllocations fail("subcell_spectrum", 4);  // the first member gets its four
  run({"a1.fpt", "b1.fpt"}, {"a2.fpt"});
  const std::string text = results();
  EXPECT_EQ(count_of(text, "No mem sub_cell ffts\n"), 1);
  const auto lines = result_lines(text);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].first, "a1.fpt");
}

TEST_F(Pass, NoMemoryForTheWholeSpectrumSkipsTheEntry) {
  testing::FailAllocations fail("cell_spectrum", 1);
  run({"a1.fpt"}, {"a2.fpt", "b1.fpt", "a2.fpt"});
  const std::string text = results();
  EXPECT_EQ(count_of(text, "Check!!\n"), 2);
  const auto lines = result_lines(text);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].second, "a2.fpt");
}

TEST_F(Pass, NoMemoryForSurfacesSkipsTheSecondFingerprint) {
  testing::FailAllocations fail("surface", 4);
  run({"a1.fpt"}, {"a2.fpt", "b1.fpt"});
  const std::string text = results();
  EXPECT_EQ(count_of(text, "corr arrays\n"), 1);
  const auto lines = result_lines(text);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].second, "a2.fpt");
}

TEST_F(Pass, NoMemoryForTheImageCopiesEndsThePassWithoutLineEnd) {
  {
    testing::FailAllocations fail("X array");
    run({"a1.fpt"}, {"a2.fpt", "b1.fpt"});
  }
  EXPECT_EQ(results(), "$ pending library\nNo memory for 64 x 64 X array");
  {
    testing::FailAllocations fail("Y array", 1);
    run({"a1.fpt"}, {"a2.fpt", "b1.fpt"}, -1, "library", "pending");
  }
  const std::string text = results();
  const std::string start = "$ pending library\nNo memory for 64 x 64 X array$ library pending\n";
  EXPECT_EQ(text.substr(0, start.size()), start);
  EXPECT_EQ(text.substr(text.size() - 29), "No memory for 64 x 64 Y array");
  EXPECT_EQ(result_lines(text).size(), 1u);
}

TEST_F(Pass, SingularFitScoresMinus999AndIsReported) {
  PassOptions options;
  options.warp_percentage = -24.21875;  // all four control points coincide
  run({"a1.fpt"}, {"a2.fpt"}, -100, "pending", "library", options);
  const std::string text = results();
  EXPECT_GE(count_of(text, "Singular matrix!\n"), 1);
  const auto lines = result_lines(text);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].score, -9.99);
  EXPECT_LT(text.find("Singular matrix!\n"), text.find("a1.fpt,a2.fpt,"));
}

TEST_F(Pass, TimingsCountScoredPairs) {
  PassTimings timings;
  PassOptions options;
  options.timings = &timings;
  run({"a1.fpt", "b1.fpt"}, {"a2.fpt", "b1.fpt"}, -1, "pending", "library", options);
  EXPECT_EQ(timings.pairs, 3);
  EXPECT_GT(timings.transforms, 0);
  EXPECT_GE(timings.total, timings.transforms + timings.peaks + timings.search + timings.warp);
}

TEST(NameWithoutExtension, CutsAtTheLastDot) {
  EXPECT_EQ(name_without_extension("a.b.c"), "a.b");
  EXPECT_EQ(name_without_extension("abc"), "abc");
  EXPECT_EQ(name_without_extension(".hidden"), "");
  EXPECT_EQ(name_without_extension("dir.x/name"), "dir");
}

}  // namespace
}  // namespace tarvik

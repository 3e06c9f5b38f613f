// The model definition file reader: a worked file checked value by value
// against what the format says it means, every way a file can be wrong
// (each refused with the file, the line and what was expected, and nothing
// changed), and a file cut after each of its lines.
//
// ModelRecord's doubles are packed: the checks read them by value (unary +)
// rather than let GoogleTest bind a misaligned reference.
#include "libs/fennick/model_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace velmora::fennick {
namespace {

std::string crlf(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

// A small valid file with comments, brackets and empty lines in the places
// where they are skipped. Line numbers are given in the comments.
std::vector<std::string> valid_lines() {
  return {
      "@ a test body",                    // 1
      "",                                 // 2
      "7 [kind]",                         // 3  data line 0
      "[range 1] 10 90 -30 150",          // 4  data line 1
      "@ range 2 next",                   // 5
      "20 80 45 -135 [the second box]",   // 6  data line 2
      "3 2",                              // 7  data line 3
      "0,10,12",                          // 8  profile row 1
      "50, 20.5 ,24",                     // 9  profile row 2
      "200,8,9",                          // 10 profile row 3
      "4 25 75 [bend]",                   // 11 knot group 0
      "3 50",                             // 12 knot group 1
      "2",                                // 13 knot group 2
      "5 10 [x] 20 30",                   // 14 knot group 3
      "anything at all",                  // 15 ignored
      "",                                 // 16
      "4 90",                             // 17 data line 5
      "1.0",                              // 18 table row 1
      "0.9",                              // 19
      "1.1",                              // 20
      " 1.05 ",                           // 21
      "0.5 0.75 [group 1's free knots]",  // 22 data line 6
      "2",                                // 23 data line 7
      "\"tail base\"",                    // 24
      "40 0 1.5",                         // 25
      "'sternum'",                        // 26
      "190 3.14159 0.0025",               // 27
      "@ the end",                        // 28
  };
}

struct Records {
  std::unique_ptr<ModelRecord> model = std::make_unique<ModelRecord>();
  MarkedPoints marks{};
  FitParams params{};

  Records() {
    // Values the file does not set, so that the test sees they are kept.
    model->profile[3].position = -5;
    model->profile[0].values[2] = 77;
    model->groups[1].knots[1] = 0.25;
    model->table[0][1] = 3.5;
    marks.weights[2] = 123;
    params.v[0] = 0.5;
  }
  ModelTargets targets() { return {model.get(), &marks, &params}; }
};

TEST(ModelFile, ValidFileFillsTheRecords) {
  Records r;
  ModelDefinition def;
  ASSERT_TRUE(read_model_definition(crlf(valid_lines()), "t.dat", r.targets(), &def).ok());
  const ModelRecord& m = *r.model;
  const double deg = std::numbers::pi / 180;

  EXPECT_FALSE(def.empty);
  EXPECT_EQ(def.kind, 7);
  EXPECT_DOUBLE_EQ(def.range1.y_from, 10);
  EXPECT_DOUBLE_EQ(def.range1.y_to, 90);
  EXPECT_DOUBLE_EQ(def.range1.theta_from, -30 * deg);
  EXPECT_DOUBLE_EQ(def.range1.theta_to, 150 * deg);
  EXPECT_DOUBLE_EQ(def.range2.y_from, 20);
  EXPECT_DOUBLE_EQ(def.range2.theta_to, -135 * deg);

  EXPECT_EQ(m.row_count, 3);
  EXPECT_EQ(m.values_per_row, 2);
  const double rows[3][3] = {{0, 10, 12}, {50, 20.5, 24}, {200, 8, 9}};
  for (int e = 0; e < 3; ++e) {
    EXPECT_EQ(+m.profile[e].position, rows[e][0]) << e;
    EXPECT_EQ(+m.profile[e].values[0], rows[e][1]) << e;
    EXPECT_EQ(+m.profile[e].values[1], rows[e][2]) << e;
  }
  EXPECT_EQ(+m.profile[0].values[2], 77);  // beyond m: kept
  EXPECT_EQ(+m.profile[3].position, -5);   // beyond n: kept
  EXPECT_EQ(+m.first_position, 0);
  EXPECT_EQ(+m.last_position, 200);

  // Knot positions: first, first + p% of the length, ..., last.
  const std::vector<std::vector<double>> knots = {
      {0, 50, 150, 200}, {0, 100, 200}, {0, 200}, {0, 20, 40, 60, 200}};
  for (int g = 0; g < 4; ++g) {
    ASSERT_EQ(m.groups[g].count, static_cast<int>(knots[g].size())) << g;
    for (std::size_t i = 0; i < knots[g].size(); ++i)
      EXPECT_DOUBLE_EQ(+m.groups[g].knots[2 * i], knots[g][i]) << g << " " << i;
  }
  EXPECT_EQ(+m.groups[1].knots[1], 0.25);  // knot values are the library's

  EXPECT_EQ(m.table_count, 4);
  EXPECT_DOUBLE_EQ(+m.table_angle, 90 * deg);
  const double table[] = {1.0, 0.9, 1.1, 1.05};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(+m.table[i][0], table[i]) << i;
  EXPECT_EQ(+m.table[0][1], 3.5);

  // k0 = 4, so group 1's two values go to FitParams[10] and [11].
  EXPECT_EQ(r.params.v[10], 0.5);
  EXPECT_EQ(r.params.v[11], 0.75);
  EXPECT_EQ(r.params.v[5], 1.0);
  EXPECT_EQ(r.params.v[0], 0.5);
  EXPECT_EQ(r.params.v[9], 0.0);
  EXPECT_EQ(r.params.v[12], 0.0);

  EXPECT_EQ(m.special_count, 2);
  EXPECT_EQ(+m.special_y[0], 40);
  EXPECT_EQ(+m.special_theta[0], 0);
  EXPECT_EQ(+m.special_y[1], 190);
  EXPECT_EQ(+m.special_theta[1], 3.14159);
  EXPECT_EQ(special_point_name(m, 0), "\"tail base\"");
  EXPECT_EQ(special_point_name(m, 1), "'sternum'");
  EXPECT_EQ(m.special_names[1][9], '\0');
  ASSERT_EQ(def.special_names.size(), 2u);
  EXPECT_EQ(def.special_names[0], "\"tail base\"");
  // Weights times 1000, halves to even: 1500 and 2.5 -> 2.
  EXPECT_EQ(r.marks.weights[0], 1500);
  EXPECT_EQ(r.marks.weights[1], 2);
  EXPECT_EQ(r.marks.weights[2], 123);
}

TEST(ModelFile, RereadReplacesLongerNamesWhole) {
  Records r;
  ModelDefinition def;
  std::vector<std::string> lines = valid_lines();
  lines[23] = "\"a much longer name than the other\"";
  ASSERT_TRUE(read_model_definition(crlf(lines), "t.dat", r.targets(), &def).ok());
  ASSERT_TRUE(read_model_definition(crlf(valid_lines()), "t.dat", r.targets(), &def).ok());
  EXPECT_EQ(special_point_name(*r.model, 0), "\"tail base\"");
}

TEST(ModelFile, FilesWithoutDataLinesChangeNothing) {
  for (const std::string& bytes : {std::string(), crlf({"@ only", "", "[a] [b]", "@"})}) {
    Records r;
    const std::vector<unsigned char> before(reinterpret_cast<unsigned char*>(r.model.get()),
                                            reinterpret_cast<unsigned char*>(r.model.get() + 1));
    ModelDefinition def;
    def.kind = 99;
    ASSERT_TRUE(read_model_definition(bytes, "e.dat", r.targets(), &def).ok());
    EXPECT_TRUE(def.empty);
    EXPECT_EQ(def.kind, 0);
    EXPECT_EQ(std::memcmp(before.data(), r.model.get(), sizeof(ModelRecord)), 0);
  }
}

struct BadFile {
  const char* what;
  int line;                 // index into valid_lines() to replace, -1 to replace all
  std::string replacement;  // the line's new text
  std::string message;      // expected in the refusal
};

TEST(ModelFile, RefusalsNameFileLineAndExpectation) {
  const std::vector<BadFile> cases = {
      {"knot line with too few percentages", 10, "4 25",
       "t.dat line 11: expected knot group 0's count 4 and 2 percentages, found 1 percentage"},
      {"too few percentages in a directly read knot line", 13, "5 10 20",
       "t.dat line 14: expected knot group 3's count 5 and 3 percentages, found 2 percentages"},
      {"too many percentages", 11, "3 50 60",
       "line 12: expected knot group 1's count 3 and 1 percentage, found 2 percentages"},
      {"knot count beyond capacity", 12, "17", "line 13: the knot count of knot group 2 is 17"},
      {"knot count below two", 12, "1", "the knot count of knot group 2 is 1, expected 2 to 16"},
      {"percentages not increasing", 10, "4 75 25",
       "line 11: percentage 2 of knot group 0 is 25, expected more than 75"},
      {"percentage of 100", 11, "3 100", "percentage 1 of knot group 1 is 100"},
      {"profile rows beyond capacity", 6, "101 2", "line 7: the profile's row count is 101"},
      {"values per row beyond capacity", 6, "3 9",
       "line 7: the values per profile row is 9, expected 1 to 8"},
      {"table rows beyond capacity", 16, "101 90", "line 17: the table's row count is 101"},
      {"special points beyond capacity", 22, "12",
       "line 23: the number of special points is 12, expected 0 to 11"},
      {"a non-number in a profile row", 8, "50,2O.5,24",
       "line 9: expected value 1 of profile row 2 (a number), found '2O.5'"},
      {"a non-number in a table row", 18, "0,9", "line 19: expected table row 2 of 4"},
      {"a non-number in a range", 3, "10 90 -30 1e999", "line 4: expected range 1 theta to"},
      {"a real where a count belongs", 6, "3.0 2",
       "line 7: expected the profile's row count (a whole number), found '3.0'"},
      {"a profile row with a field missing", 9, "200,8",
       "line 10: expected profile row 3 of 3 (position and 2 values separated by commas), "
       "found 2 fields"},
      {"profile positions not increasing", 9, "50,8,9",
       "line 10: profile row 3 is at 50, expected a position beyond the row before"},
      {"a comment where a profile row belongs", 7, "@0,10,12",
       "line 8: expected the position of profile row 1 (a number), found '@0'"},
      {"range with three numbers", 5, "20 80 45",
       "line 6: expected 4 numbers for range 2 (Y from, Y to, theta from, theta to in degrees), "
       "found 3 values"},
      {"group 1 values one short", 21, "0.5",
       "line 22: expected the 2 starting values of knot group 1, found 1 value"},
      {"special point line with two numbers", 24, "40 0",
       "line 25: expected 3 numbers, Y, theta and weight of special point 0, found 2 values"},
      {"negative weight", 26, "190 3 -1", "line 27: the weight of special point 1 is -1"},
      {"empty name", 25, "", "line 26: expected the name of special point 1, found an empty line"},
      {"name longer than its 80 bytes", 23, std::string(81, 'n'),
       "line 24: the name of special point 0 has 81 characters, expected at most 80"},
      {"data after the last special point", 27, "3",
       "line 28: expected nothing after the last special point, found '3'"},
      {"two numbers for the kind", 2, "7 8",
       "line 3: expected the model kind (one whole number), found 2 values"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> lines = valid_lines();
    lines[c.line] = c.replacement;
    Records r;
    Records untouched;
    ModelDefinition def;
    def.kind = 42;
    const Status s = read_model_definition(crlf(lines), "t.dat", r.targets(), &def);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.code(), Status::Code::kCorruption);
    EXPECT_NE(s.message().find(c.message), std::string::npos) << s.message();
    EXPECT_EQ(s.message().rfind("t.dat", 0), 0u) << s.message();
    EXPECT_EQ(std::memcmp(r.model.get(), untouched.model.get(), sizeof(ModelRecord)), 0);
    EXPECT_EQ(std::memcmp(&r.marks, &untouched.marks, sizeof(MarkedPoints)), 0);
    EXPECT_EQ(std::memcmp(&r.params, &untouched.params, sizeof(FitParams)), 0);
    EXPECT_EQ(def.kind, 42);
  }
}

// Cut after each line: refused as a short file from the first data line on,
// naming the last line there is and what was still expected.
TEST(ModelFile, ShortFileRefusedAtEveryCut) {
  const std::vector<std::string> all = valid_lines();
  const std::vector<std::string> expected_next = {
      "",  // cut after line 1 or 2: no data line yet, read as empty
      "",
      "range 1",
      "range 2",
      "range 2",
      "the profile's row count",
      "profile row 1 of 3",
      "profile row 2 of 3",
      "profile row 3 of 3",
      "the line of knot group 0",
      "the line of knot group 1",
      "the line of knot group 2",
      "the line of knot group 3",
      "the line after the knot groups",
      "the table's row count",
      "the table's row count",
      "table row 1 of 4",
      "table row 2 of 4",
      "table row 3 of 4",
      "table row 4 of 4",
      "starting values of knot group 1",
      "the number of special points",
      "the name of special point 0",
      "Y, theta and weight of special point 0",
      "the name of special point 1",
      "Y, theta and weight of special point 1",
  };
  for (std::size_t keep = 1; keep < expected_next.size() + 1; ++keep) {
    SCOPED_TRACE("kept " + std::to_string(keep) + " lines");
    const std::vector<std::string> lines(all.begin(), all.begin() + keep);
    Records r;
    ModelDefinition def;
    const Status s = read_model_definition(crlf(lines), "t.dat", r.targets(), &def);
    const std::string& next = expected_next[keep - 1];
    if (next.empty()) {
      EXPECT_TRUE(s.ok()) << s.message();
      EXPECT_TRUE(def.empty);
      continue;
    }
    ASSERT_FALSE(s.ok());
    EXPECT_NE(
        s.message().find("t.dat: the file ends after line " + std::to_string(keep) + ", expected"),
        std::string::npos)
        << s.message();
    EXPECT_NE(s.message().find(next), std::string::npos) << s.message();
  }
  // Cut after the last data line: complete.
  Records r;
  ModelDefinition def;
  const std::vector<std::string> lines(all.begin(), all.begin() + 27);
  EXPECT_TRUE(read_model_definition(crlf(lines), "t.dat", r.targets(), &def).ok());
}

TEST(ModelFile, LineEnds) {
  std::string lf_only;
  for (const auto& l : valid_lines()) lf_only += l + "\n";
  Records r;
  ModelDefinition def;
  const Status s = read_model_definition(lf_only, "lf.dat", r.targets(), &def);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("line feed without a carriage return"), std::string::npos)
      << s.message();

  // A zero byte ends a line as a CR does, and the byte after either end is
  // dropped whatever it is; a last line needs no end.
  std::string mixed;
  const auto lines = valid_lines();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    mixed += lines[i];
    if (i + 1 < lines.size()) mixed += (i % 2 ? std::string("\0\n", 2) : std::string("\rX"));
  }
  Records m;
  ASSERT_TRUE(read_model_definition(mixed, "m.dat", m.targets(), &def).ok());
  EXPECT_EQ(+m.model->special_y[1], 190);
}

TEST(ModelFile, MissingFileIsAnIOError) {
  testing::TempDir dir("fennick");
  Records r;
  ModelDefinition def;
  const Status s = read_model_definition_file(dir.path("none.dat"), r.targets(), &def);
  EXPECT_EQ(s.code(), Status::Code::kIOError);
  ASSERT_TRUE(dir.write("ok.dat", crlf(valid_lines())));
  EXPECT_TRUE(read_model_definition_file(dir.path("ok.dat"), r.targets(), &def).ok());
  EXPECT_EQ(r.model->row_count, 3);
}

}  // namespace
}  // namespace velmora::fennick

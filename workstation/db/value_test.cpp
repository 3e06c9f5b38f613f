#include "workstation/db/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "workstation/db/database.h"

namespace velmora::db {
namespace {

struct TextCase {
  const char* text;
  double number;    // as_double
  int64_t integer;  // as_integer
};

TEST(SinglePrecision, RoundsToTheNearestSingleAndNeverOverflows) {
  constexpr float kMax = std::numeric_limits<float>::max();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct Case {
    double in;
    float out;
  };
  const std::vector<Case> cases = {
      {0.1, 0.1f},
      {-0.7, -0.7f},
      {1.0, 1.0f},
      {0.0, 0.0f},
      {1e-50, 0.0f},  // below the smallest single: rounds to zero, as a cast does
      {static_cast<double>(kMax), kMax},
      {3.4028235e38, kMax},
      {3.5e38, kMax},
      {1e39, kMax},
      {-1e39, -kMax},
      {std::numeric_limits<double>::max(), kMax},
      {-std::numeric_limits<double>::max(), -kMax},
      {kInf, kMax},
      {-kInf, -kMax},
  };
  for (const Case& c : cases) {
    const float got = to_single_precision(c.in);
    EXPECT_EQ(got, c.out) << c.in;
    EXPECT_TRUE(std::isfinite(got)) << c.in;
  }
  EXPECT_TRUE(std::isnan(to_single_precision(std::nan(""))));
}

TEST(ValueText, TextReadsAsTheWholeNumberItHoldsOrZero) {
  const std::vector<TextCase> cases = {
      {"0.25", 0.25, 0},
      {" 0.5 ", 0.5, 0},
      {"2.5", 2.5, 2},
      {"3.5", 3.5, 4},
      {"-2.5", -2.5, -2},
      {"12", 12.0, 12},
      {"+7", 7.0, 7},
      {".5", 0.5, 0},
      {"1e3", 1000.0, 1000},
      {"1e300", 1e300, std::numeric_limits<int64_t>::max()},
      // Every digit of a large integer survives, beyond a double's 2^53.
      {"9007199254740993", 9007199254740992.0, 9007199254740993},
      {"-9223372036854775808", -9223372036854775808.0, std::numeric_limits<int64_t>::min()},
      {"", 0.0, 0},
      {"x", 0.0, 0},
      {"12abc", 0.0, 0},
      {"0,5", 0.0, 0},
      {"inf", 0.0, 0},
      {"nan", 0.0, 0},
      {"0x10", 0.0, 0},
      {"1e999", 0.0, 0},
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(as_double(Value(std::string(c.text))), c.number) << '"' << c.text << '"';
    EXPECT_EQ(as_integer(Value(std::string(c.text))), c.integer) << '"' << c.text << '"';
  }
}

TEST(ValueText, RealsAreWrittenInTheirShortestExactText) {
  EXPECT_EQ(as_text(Value(0.5)), "0.5");
  EXPECT_EQ(as_text(Value(-9.99)), "-9.99");
  EXPECT_EQ(as_text(Value(12.0)), "12");
  EXPECT_EQ(as_text(Value(1e21)), "1e+21");
  Value out;
  ASSERT_TRUE(convert_parameter("pScore", ParamType::kString, Value(0.1), &out).ok());
  EXPECT_EQ(out, Value(std::string("0.1")));
  ASSERT_TRUE(convert_parameter("pScore", ParamType::kString, Value(int64_t{-4}), &out).ok());
  EXPECT_EQ(out, Value(std::string("-4")));
}

// Reals stored as text through a string parameter and read back as numbers
// are the same doubles, bit for bit: the text form loses nothing. The C
// library's strtod ("C" locale here) is the independent reader.
TEST(ValueText, RealsSurviveATextColumn) {
  std::unique_ptr<Database> db;
  ASSERT_TRUE(Database::open(":memory:", true, &db).ok());
  ASSERT_TRUE(db->execute("table", "CREATE TABLE t (k INTEGER PRIMARY KEY, s TEXT)").ok());
  std::unique_ptr<Statement> insert;
  ASSERT_TRUE(db->prepare("insert", "INSERT INTO t VALUES (:k, :s)", &insert).ok());
  ASSERT_TRUE(insert->declare("s", ParamType::kString).ok());

  std::vector<double> values = {
      0.0, 0.1, 0.5, 1.0 / 3.0, -9.99, 1e-300, std::numeric_limits<double>::max()};
  std::mt19937_64 rng(31);
  while (values.size() < 2000) {
    const uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (std::isfinite(d)) values.push_back(d);
  }
  ASSERT_TRUE(db->begin().ok());
  for (size_t i = 0; i < values.size(); ++i) {
    ASSERT_TRUE(insert->set("k", static_cast<int64_t>(i)).ok());
    ASSERT_TRUE(insert->set("s", values[i]).ok());
    ASSERT_TRUE(insert->execute().ok());
  }
  ASSERT_TRUE(db->commit().ok());

  RecordSet rs;
  ASSERT_TRUE(db->query("read", "SELECT k, s, typeof(s) AS type FROM t ORDER BY k", &rs).ok());
  ASSERT_EQ(rs.row_count(), static_cast<int>(values.size()));
  for (size_t i = 0; i < values.size(); ++i, rs.move_next()) {
    const double want = values[i];
    ASSERT_EQ(rs.text("type"), "text");
    const std::string text = rs.text("s");
    ASSERT_EQ(std::strtod(text.c_str(), nullptr), want) << text;
    const double got = rs.number("s");
    ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << text;
  }
}

}  // namespace
}  // namespace velmora::db

#include "workstation/common/number_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale>
#include <optional>
#include <random>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora {
namespace {

// The references below are the C library's own conversions, which agree with
// the locale-free ones only under the "C" locale; every test but the last
// runs under it (no test here sets another, and the last one restores it).

// ---------------------------------------------------------------- reading

struct RealCase {
  const char* text;
  std::optional<double> value;
};

TEST(RealFromText, AcceptsDecimalTextAndNothingElse) {
  const std::vector<RealCase> cases = {
      {"0", 0.0},
      {"12", 12.0},
      {"  12 ", 12.0},
      {"\t2.5\t", 2.5},
      {"-3", -3.0},
      {"+3", 3.0},
      {".5", 0.5},
      {"-.5", -0.5},
      {"+.5", 0.5},
      {"5.", 5.0},
      {"0.5", 0.5},
      {"00012", 12.0},
      {"1e5", 1e5},
      {"1E+5", 1e5},
      {"2e-3", 0.002},
      {"5.e2", 500.0},
      {"-9.99", -9.99},
      {"1.7976931348623157e308", std::numeric_limits<double>::max()},
      {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {".", std::nullopt},
      {"-", std::nullopt},
      {"+", std::nullopt},
      {"-.", std::nullopt},
      {".e5", std::nullopt},
      {"e5", std::nullopt},
      {"1e", std::nullopt},
      {"1e+", std::nullopt},
      {"12abc", std::nullopt},
      {"1 2", std::nullopt},
      {"0,5", std::nullopt},  // a comma is never a decimal mark here
      {"1,000", std::nullopt},
      {"1_000", std::nullopt},
      {"inf", std::nullopt},
      {"-inf", std::nullopt},
      {"+infinity", std::nullopt},
      {"nan", std::nullopt},
      {"-nan", std::nullopt},
      {"0x10", std::nullopt},
      {"0x1p3", std::nullopt},
      {"1e999", std::nullopt},
      {"-1e999", std::nullopt},
      {"1e-400", std::nullopt},
      {"+-5", std::nullopt},
      {"-+5", std::nullopt},
      {"--5", std::nullopt},
      {"- 5", std::nullopt},
      {"5-", std::nullopt},
      {"1.2.3", std::nullopt},
      {"\n5", std::nullopt},
      {"5\r", std::nullopt},
  };
  for (const RealCase& c : cases) {
    EXPECT_EQ(real_from_text(c.text), c.value) << '"' << c.text << '"';
  }
  // Blanks are part of the number only when the caller allows them.
  EXPECT_EQ(real_from_text(" 2.5", Blanks::kRefuse), std::nullopt);
  EXPECT_EQ(real_from_text("2.5\t", Blanks::kRefuse), std::nullopt);
  EXPECT_EQ(real_from_text("2.5", Blanks::kRefuse), 2.5);
  // The sign of zero survives.
  ASSERT_TRUE(real_from_text("-0"));
  EXPECT_TRUE(std::signbit(*real_from_text("-0")));
}

// The grammar of number_text.h written as a regular expression, with the C
// library's strtod for the value: an independent reading to compare against.
std::optional<double> reference_real(const std::string& text, Blanks blanks) {
  static const std::regex trimmed(
      R"(^[ \t]*[+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([eE][+-]?[0-9]+)?[ \t]*$)");
  static const std::regex bare(R"(^[+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([eE][+-]?[0-9]+)?$)");
  if (!std::regex_match(text, blanks == Blanks::kTrim ? trimmed : bare)) return std::nullopt;
  errno = 0;
  const double d = std::strtod(text.c_str(), nullptr);
  // strtod gives HUGE_VAL for overflow and 0 with ERANGE for a number that
  // vanishes; both are refused. (It also sets ERANGE for subnormal results,
  // which are kept.)
  if (!std::isfinite(d) || (errno == ERANGE && d == 0.0)) return std::nullopt;
  return d;
}

// Texts near the grammar: pieces of numbers, signs, blanks and stray letters.
std::string random_number_like_text(std::mt19937_64& rng) {
  static const std::vector<std::string> pieces = {
      "0",  "1", "5",  "9", "12", "007", ".",   ".",  "e",    "E",     "-",  "+",    "e-",
      "e+", " ", "\t", ",", "x",  "inf", "nan", "e3", "e999", "e-400", "00", "3.25", "a"};
  std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> count(0, 5);
  std::string s;
  for (int n = count(rng); n >= 0; --n) s += pieces[pick(rng)];
  return s;
}

// Texts in the grammar: sign, digits, point, digits, exponent, blanks.
std::string random_number_text(std::mt19937_64& rng) {
  std::uniform_int_distribution<int> coin(0, 1), digits(0, 20), exp_digits(1, 3), d(0, 9);
  auto run = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + d(rng));
    return s;
  };
  std::string s = coin(rng) ? " " : "";
  if (coin(rng)) s += coin(rng) ? "-" : "+";
  s += run(digits(rng));
  if (coin(rng)) s += "." + run(digits(rng));
  if (coin(rng))
    s += std::string(coin(rng) ? "e" : "E") + (coin(rng) ? "-" : "") + run(exp_digits(rng));
  if (coin(rng)) s += "\t";
  return s;
}

TEST(RealFromText, AgreesWithTheRegexAndStrtodReference) {
  std::mt19937_64 rng(20240611);
  int accepted = 0, refused = 0;
  for (int i = 0; i < 60000; ++i) {
    const std::string text = i % 2 ? random_number_like_text(rng) : random_number_text(rng);
    for (Blanks blanks : {Blanks::kTrim, Blanks::kRefuse}) {
      const std::optional<double> want = reference_real(text, blanks);
      const std::optional<double> got = real_from_text(text, blanks);
      ASSERT_EQ(got, want) << '"' << text << '"';
      (want ? accepted : refused)++;
    }
  }
  // Both sides of the grammar were exercised in earnest.
  EXPECT_GT(accepted, 20000);
  EXPECT_GT(refused, 20000);
}

struct WholeCase {
  const char* text;
  std::optional<int64_t> value;
};

TEST(WholeFromText, AcceptsDigitsWithASignOnly) {
  const std::vector<WholeCase> cases = {
      {"0", 0},
      {"12", 12},
      {" 12\t", 12},
      {"-3", -3},
      {"+3", 3},
      {"007", 7},
      {"9223372036854775807", std::numeric_limits<int64_t>::max()},
      {"-9223372036854775808", std::numeric_limits<int64_t>::min()},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"+-3", std::nullopt},
      {"12.0", std::nullopt},
      {".5", std::nullopt},
      {"1e3", std::nullopt},
      {"12abc", std::nullopt},
      {"0x10", std::nullopt},
      {"1 000", std::nullopt},
      {"1,000", std::nullopt},
  };
  for (const WholeCase& c : cases) {
    EXPECT_EQ(whole_from_text<int64_t>(c.text), c.value) << '"' << c.text << '"';
  }
  EXPECT_EQ(whole_from_text<int>(" 12", Blanks::kRefuse), std::nullopt);
  EXPECT_EQ(whole_from_text<int>("2147483647"), std::numeric_limits<int>::max());
  EXPECT_EQ(whole_from_text<int>("2147483648"), std::nullopt);
  EXPECT_EQ(whole_from_text<uint64_t>("18446744073709551615"),
            std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(whole_from_text<uint64_t>("-1"), std::nullopt);
  EXPECT_EQ(whole_from_text<uint64_t>("-0"), std::nullopt);
  EXPECT_EQ(whole_from_text<uint8_t>("256"), std::nullopt);
}

TEST(WholeFromText, AgreesWithStrtollOnRandomDigits) {
  static const std::regex whole(R"(^[ \t]*[+-]?[0-9]+[ \t]*$)");
  std::mt19937_64 rng(77);
  std::uniform_int_distribution<int> length(0, 21), d(0, 9), coin(0, 3);
  int accepted = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text = coin(rng) == 0 ? " " : "";
    if (coin(rng) == 0) text += coin(rng) < 2 ? "-" : "+";
    for (int n = length(rng); n > 0; --n) text += static_cast<char>('0' + d(rng));
    if (coin(rng) == 0) text += ".";
    std::optional<int64_t> want;
    if (std::regex_match(text, whole)) {
      errno = 0;
      const long long v = std::strtoll(text.c_str(), nullptr, 10);
      if (errno != ERANGE) want = v;
    }
    ASSERT_EQ(whole_from_text<int64_t>(text), want) << '"' << text << '"';
    if (want) ++accepted;
  }
  EXPECT_GT(accepted, 5000);
}

// ---------------------------------------------------------------- writing

// The shortest "%.*g" text that strtod reads back as `v`: what the old
// conversion wrote, and never shorter than the shortest text.
std::string shortest_printf_text(double v) {
  char buf[64];
  for (int p = 1; p <= 17; ++p) {
    std::snprintf(buf, sizeof buf, "%.*g", p, v);
    if (std::strtod(buf, nullptr) == v) break;
  }
  return buf;
}

std::string shortest_printf_text(float v) {
  char buf[64];
  for (int p = 1; p <= 9; ++p) {
    std::snprintf(buf, sizeof buf, "%.*g", p, static_cast<double>(v));
    if (std::strtof(buf, nullptr) == v) break;
  }
  return buf;
}

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(RealToText, RoundTripsRandomDoublesInTheShortestText) {
  std::vector<double> values = {0.0,
                                -0.0,
                                0.1,
                                0.5,
                                -9.99,
                                1.0 / 3.0,
                                1e21,
                                123456789012345680.0,
                                std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::lowest(),
                                std::numeric_limits<double>::min(),
                                std::numeric_limits<double>::denorm_min()};
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> scale(-30, 30);
  while (values.size() < 60000) {
    uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (std::isfinite(d)) values.push_back(d);
    values.push_back(unit(rng) * std::pow(10.0, scale(rng)));
  }
  for (double v : values) {
    const std::string text = real_to_text(v);
    const std::optional<double> back = real_from_text(text, Blanks::kRefuse);
    ASSERT_TRUE(back.has_value()) << text;
    ASSERT_TRUE(same_bits(*back, v)) << text;
    ASSERT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
    ASSERT_LE(text.size(), shortest_printf_text(v).size()) << text;
  }
  EXPECT_EQ(real_to_text(0.1), "0.1");
  EXPECT_EQ(real_to_text(0.5), "0.5");
  EXPECT_EQ(real_to_text(-0.0), "-0");
  EXPECT_EQ(real_to_text(12.0), "12");
  EXPECT_EQ(real_to_text(1e21), "1e+21");
  // Not numbers on the way out either: the reader refuses them back.
  for (double odd :
       {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(real_from_text(real_to_text(odd)), std::nullopt) << real_to_text(odd);
  }
}

TEST(SingleToText, RoundTripsRandomFloatsAsFloats) {
  std::mt19937 rng(99);
  int checked = 0;
  for (int i = 0; i < 100000; ++i) {
    uint32_t bits = static_cast<uint32_t>(rng());
    float f;
    std::memcpy(&f, &bits, sizeof f);
    if (!std::isfinite(f)) continue;
    const std::string text = single_to_text(f);
    const float back = std::strtof(text.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&back, &f, sizeof f), 0) << text;
    ASSERT_LE(text.size(), shortest_printf_text(f).size()) << text;
    ++checked;
  }
  EXPECT_GT(checked, 95000);
  EXPECT_EQ(single_to_text(0.1f), "0.1");
  EXPECT_EQ(single_to_text(0.5123f), "0.5123");
}

TEST(RealToFixedText, MatchesPrintfInTheCLocale) {
  std::mt19937_64 rng(4242);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> scale(-8, 22), decimals(0, 12);
  std::vector<std::pair<double, int>> cases = {{2.25, 1},
                                               {0.125, 2},
                                               {2.5, 0},
                                               {3.5, 0},
                                               {-0.05, 1},
                                               {-0.0, 1},
                                               {0.0, 0},
                                               {99.95, 1},
                                               {1e300, 2},
                                               {-std::numeric_limits<double>::max(), 0},
                                               {std::numeric_limits<double>::denorm_min(), 12}};
  for (int i = 0; i < 50000; ++i) {
    cases.emplace_back(unit(rng) * std::pow(10.0, scale(rng)), decimals(rng));
    // Exact halves at the last decimal, where the rounding rule shows.
    const int k = decimals(rng) % 6;
    cases.emplace_back((std::floor(unit(rng) * 1e4) + 0.5) / std::pow(10.0, k), k);
  }
  std::vector<char> buf(400);
  for (const auto& [v, d] : cases) {
    std::snprintf(buf.data(), buf.size(), "%.*f", d, v);
    ASSERT_EQ(real_to_fixed_text(v, d), std::string(buf.data())) << v << " with " << d;
  }
  EXPECT_EQ(real_to_fixed_text(57.5, 1), "57.5");
  EXPECT_EQ(real_to_fixed_text(0.51234567, 4), "0.5123");
  EXPECT_EQ(real_to_fixed_text(2.5, -3), "2");  // a negative count means none
}

TEST(RealToGeneralText, MatchesPrintfInTheCLocale) {
  std::mt19937_64 rng(8080);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> scale(-320, 300), digits(0, 17);
  char buf[64];
  for (int i = 0; i < 50000; ++i) {
    const double v = unit(rng) * std::pow(10.0, scale(rng));
    const int p = digits(rng);
    std::snprintf(buf, sizeof buf, "%.*g", p, v);
    ASSERT_EQ(real_to_general_text(v, p), std::string(buf)) << v << " with " << p;
  }
  EXPECT_EQ(real_to_general_text(0.51230000200000003, 15), "0.512300002");
  EXPECT_EQ(real_to_general_text(1234567.0, 3), "1.23e+06");
}

// ---------------------------------------------------------------- locale

// Restores the "C" locale the references above rely on, however the test ends.
class CommaLocale {
 public:
  CommaLocale() {
    try {
      std::locale::global(std::locale("de_DE.UTF-8"));
      ok_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    } catch (const std::runtime_error&) {
      ok_ = false;
    }
  }
  ~CommaLocale() {
    std::locale::global(std::locale::classic());
    std::setlocale(LC_ALL, "C");
  }
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

TEST(NumberText, TheDecimalMarkOfTheLocaleChangesNothing) {
  CommaLocale comma;
  if (!comma.ok()) GTEST_SKIP() << "the locale de_DE.UTF-8 is not installed (package locales-all)";
  // The C library now writes a comma: the conversions here must not.
  char c_library[32];
  std::snprintf(c_library, sizeof c_library, "%.1f", 0.5);
  ASSERT_STREQ(c_library, "0,5");
  EXPECT_EQ(real_from_text("2.5"), 2.5);
  EXPECT_EQ(real_from_text("0.5"), 0.5);
  EXPECT_EQ(real_from_text("0,5"), std::nullopt);
  EXPECT_EQ(real_to_text(0.5), "0.5");
  EXPECT_EQ(single_to_text(0.25f), "0.25");
  EXPECT_EQ(real_to_fixed_text(57.25, 1), "57.2");
  EXPECT_EQ(real_to_general_text(1.0 / 3.0, 4), "0.3333");
  EXPECT_EQ(whole_from_text<int>("1.000"), std::nullopt);
}

}  // namespace
}  // namespace velmora

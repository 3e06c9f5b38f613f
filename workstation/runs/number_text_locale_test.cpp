// The workstation's number conversions under a comma-decimal locale, the way
// the window runs them: Qt sets the C library's locale from the environment
// when the application object is made, so an operator whose environment says
// de_DE gets a process whose strtod, printf and streams use a comma. Every
// conversion of configuration, database, results files and text boxes must
// still read "0.5" as 0.5 and write 0.5 as "0.5".
//
// With VELMORA_BUILD_GUI the locale comes from a real QCoreApplication; in a
// build without Qt the test sets the same locale itself.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#if VELMORA_LOCALE_TEST_WITH_QT
#include <QCoreApplication>
#endif

#include "testing/files.h"
#include "testing/temp_dir.h"
#include "workstation/common/control_panel.h"
#include "workstation/common/number_text.h"
#include "workstation/config/aspects.h"
#include "workstation/config/configuration_file.h"
#include "workstation/config/settings.h"
#include "workstation/db/database.h"
#include "workstation/db/testing/fixture_database.h"
#include "workstation/db/value.h"
#include "workstation/matching/results_line.h"
#include "workstation/matching/standardise.h"
#include "workstation/runs/mode_actions.h"

namespace velmora {
namespace {

constexpr char kCommaLocale[] = "de_DE.UTF-8";

// Whether the C and C++ libraries know the locale; the process stays under
// "C" afterwards, so that what follows has to set it.
bool comma_locale_installed() {
  try {
    std::locale probe(kCommaLocale);
  } catch (const std::runtime_error&) {
    return false;
  }
  const bool known = std::setlocale(LC_NUMERIC, kCommaLocale) != nullptr;
  std::setlocale(LC_ALL, "C");
  return known;
}

bool c_library_uses_a_comma() {
  return std::string(std::localeconv()->decimal_point) == ",";
}

// Puts the whole process under the comma locale once, as the window's start
// does, and leaves it there: this program runs no other tests.
class CommaLocaleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installed_ = comma_locale_installed();
    if (!installed_) return;
    ::setenv("LC_ALL", kCommaLocale, 1);
#if VELMORA_LOCALE_TEST_WITH_QT
    // Qt calls setlocale(LC_ALL, "") here, taking LC_ALL from above.
    static int argc = 1;
    static char name[] = "number_text_locale_test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QCoreApplication>(argc, argv);
#else
    std::setlocale(LC_ALL, "");
#endif
    set_by_application_ = c_library_uses_a_comma();
    // Streams and std::locale users follow the global C++ locale as well.
    std::locale::global(std::locale(kCommaLocale));
  }

  // The application goes before the program's statics do: Qt's own are
  // gone by then.
  static void TearDownTestSuite() {
#if VELMORA_LOCALE_TEST_WITH_QT
    app_.reset();
#endif
  }

  void SetUp() override {
    if (!installed_) {
      GTEST_SKIP() << "the locale " << kCommaLocale
                   << " is not installed on this machine (Debian package locales-all)";
    }
    // The application object itself put the process under the comma
    // locale, and the C library really writes and reads a comma now; without
    // this the checks below would prove nothing.
    ASSERT_TRUE(set_by_application_);
    ASSERT_TRUE(c_library_uses_a_comma());
    char c_library[16];
    std::snprintf(c_library, sizeof c_library, "%.1f", 0.5);
    ASSERT_STREQ(c_library, "0,5");
    ASSERT_EQ(std::strtod("0.5", nullptr), 0.0);
  }

  static bool installed_;
  static bool set_by_application_;
#if VELMORA_LOCALE_TEST_WITH_QT
  static std::unique_ptr<QCoreApplication> app_;
#endif
};

bool CommaLocaleTest::installed_ = false;
bool CommaLocaleTest::set_by_application_ = false;
#if VELMORA_LOCALE_TEST_WITH_QT
std::unique_ptr<QCoreApplication> CommaLocaleTest::app_;
#endif

TEST_F(CommaLocaleTest, CommonConversionKeepsThePoint) {
  EXPECT_EQ(real_from_text("0.5"), 0.5);
  EXPECT_EQ(real_from_text("2.5"), 2.5);
  EXPECT_EQ(real_from_text("0,5"), std::nullopt);
  EXPECT_EQ(real_to_text(0.5), "0.5");
  EXPECT_EQ(single_to_text(0.5f), "0.5");
  EXPECT_EQ(real_to_fixed_text(66.666, 1), "66.7");
  EXPECT_EQ(real_to_general_text(0.512300002, 15), "0.512300002");
}

TEST_F(CommaLocaleTest, BatchSizeBoxReadsAPoint) {
  // start_driver's batch_size reads txtNumPend through number_in_text.
  EXPECT_EQ(runs::number_in_text("2.5"), 2.5);
  EXPECT_EQ(runs::number_in_text(" .5 "), 0.5);
  EXPECT_EQ(runs::number_in_text("1e2"), 100.0);
  EXPECT_EQ(runs::number_in_text("2,5"), std::nullopt);
  // "450.5" is over the largest batch and lowered to it; "0.0" is zero.
  RecordingControlPanel p;
  p.set_text("txtNumPend", "450.5");
  runs::txtNumPend_changed(p);
  EXPECT_EQ(p.text("txtNumPend"), std::to_string(runs::kMaxBatchSize));
  p.set_visible("chkMultiCore", true);
  p.set_text("txtNumPend", "0.0");
  runs::txtNumPend_changed(p);
  EXPECT_FALSE(p.visible("chkMultiCore"));
}

TEST_F(CommaLocaleTest, DatabaseValuesAndParametersKeepThePoint) {
  EXPECT_EQ(db::as_text(db::Value(0.5)), "0.5");
  EXPECT_EQ(db::as_double(db::Value(std::string("0.5"))), 0.5);
  EXPECT_EQ(db::as_integer(db::Value(std::string("2.5"))), 2);

  std::unique_ptr<db::Database> database;
  ASSERT_TRUE(db::Database::open(":memory:", true, &database).ok());
  ASSERT_TRUE(database->execute("table", "CREATE TABLE t (r REAL, s TEXT, any_r REAL)").ok());
  std::unique_ptr<db::Statement> insert;
  ASSERT_TRUE(database->prepare("insert", "INSERT INTO t VALUES (:r, :s, :any)", &insert).ok());
  ASSERT_TRUE(insert->declare("r", db::ParamType::kDouble).ok());
  ASSERT_TRUE(insert->declare("s", db::ParamType::kString).ok());
  // A real into a real and a text parameter, and text into a real parameter.
  ASSERT_TRUE(insert->set("r", 0.5).ok());
  ASSERT_TRUE(insert->set("s", 0.5).ok());
  ASSERT_TRUE(insert->set("any", std::string("0.5")).ok());
  ASSERT_TRUE(insert->execute().ok());
  // Typed parameters convert text as the operator wrote it.
  ASSERT_TRUE(insert->set("r", std::string("0.25")).ok());
  EXPECT_FALSE(insert->set("r", std::string("0,25")).ok());

  db::RecordSet rs;
  ASSERT_TRUE(database->query("read", "SELECT r, s, typeof(s) AS s_type, any_r FROM t", &rs).ok());
  ASSERT_EQ(rs.row_count(), 1);
  EXPECT_EQ(rs.number("r"), 0.5);
  EXPECT_EQ(rs.text("r"), "0.5");
  EXPECT_EQ(rs.text("s_type"), "text");
  EXPECT_EQ(rs.text("s"), "0.5");
  EXPECT_EQ(rs.number("s"), 0.5);
  EXPECT_EQ(rs.number("any_r"), 0.5);
}

TEST_F(CommaLocaleTest, ConfigurationReadsAPoint) {
  testing::TempDir dir;
  EXPECT_TRUE(testing::write_file(dir.dir() + "orlain.ini",
                                  "[velmora]\ndilate_proportion=0.5\ncritical_distance= 2.5 \n"));
  config::Settings settings;
  config::Faults faults;
  config::read_configuration(dir.dir(), &settings, &faults);
  EXPECT_TRUE(faults.empty()) << config::fault_text(faults);
  EXPECT_EQ(settings.dilate_proportion, 0.5f);
  EXPECT_EQ(settings.critical_distance, 2.5f);

  double real = 0;
  EXPECT_TRUE(config::parse_real("0.5", &real));
  EXPECT_EQ(real, 0.5);
  EXPECT_FALSE(config::parse_real("0,5", &real));
  int64_t whole = 0;
  EXPECT_TRUE(config::parse_whole("2.5", 0, 10, &whole));
  EXPECT_EQ(whole, 2);

  // Aspect settings: reals stored by the database, one of them given as text.
  std::unique_ptr<db::Database> database;
  ASSERT_TRUE(db::testing::make_empty_database(":memory:", &database).ok());
  db::testing::AspectRow row;
  row.aspect = "Flank";
  row.aspect_letter = "FL";
  row.cell_type = "lateral";
  row.sigmax_ratio = 0.5;
  row.sigmay = 0.25;
  ASSERT_TRUE(db::testing::FixtureBuilder(database.get()).add_aspect(row).ok());
  ASSERT_TRUE(database->execute("text", "UPDATE aspects SET scale_mid = '0.5'").ok());
  config::AspectSettings a;
  ASSERT_TRUE(config::load_aspect_settings(database.get(), "Flank", &a).ok());
  EXPECT_EQ(a.sigmax_ratio, 0.5);
  EXPECT_EQ(a.sigmay, 0.25);
  EXPECT_EQ(a.scale_mid, 0.5);
}

TEST_F(CommaLocaleTest, ResultsLinesAndThePriorReadAPoint) {
  const matching::ResultsLine r = matching::classify_results_line("S1_1FL,S2_1FL,0.5,1,-2,0,3");
  ASSERT_EQ(r.kind, matching::ResultsLineKind::kResult);
  EXPECT_EQ(r.score, 0.5);
  double prior = 0;
  ASSERT_TRUE(matching::parse_prior_match("0.5", &prior).ok());
  EXPECT_EQ(prior, 0.5);
  ASSERT_TRUE(matching::parse_prior_match(".005", &prior).ok());
  EXPECT_EQ(prior, 0.005);
  EXPECT_FALSE(matching::parse_prior_match("0,5", &prior).ok());
}

}  // namespace
}  // namespace velmora

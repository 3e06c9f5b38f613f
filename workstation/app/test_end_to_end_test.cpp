// End to end: velmora-batch --test on a synthetic data folder
// (velmora-corpus data: library animals "GS...", two extracts each, are the
// test set; pending animals wait under provisional IDs), with the real
// tarvikx. The printed table, the stored result and the PNG chart must
// agree, and every extract must end where it began.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

#include <cstdlib>
#include <memory>
#include <sstream>

#include "testing/programs.h"
#include "testing/temp_dir.h"
#include "workstation/db/database.h"
#include "workstation/db/testing/test_database.h"
#include "workstation/matching/test_rank.h"
#include "workstation/matching/test_rank_chart_painter.h"

namespace velmora::app {
namespace {

using velmora::testing::built_program;
using velmora::testing::run_command;
using velmora::testing::shell_quote;

std::string statuses(db::Database* db) {
  return db::testing::text_of(
      db,
      "SELECT group_concat(s, ' ') FROM (SELECT AutoMatch || count(*) AS s FROM cells "
      "GROUP BY AutoMatch ORDER BY AutoMatch)");
}

TEST(TestEndToEnd, VelmoraBatchPrintsTheResultItStoredAndDrawsItsChart) {
  ASSERT_FALSE(built_program("velmora-corpus").empty());
  velmora::testing::TempDir dir("velmora_test_e2e");
  const std::string data = dir.path("seals");
  auto made = run_command(shell_quote(built_program("velmora-corpus")) + " data " +
                          shell_quote(data) + " --animals 16 --seed 7");
  ASSERT_EQ(made.exit_code, 0) << made.output;
  const std::string database = data + "/seals.sqlite";
  std::unique_ptr<db::Database> db;
  ASSERT_TRUE(db::Database::open(database, false, &db).ok());
  const std::string before = statuses(db.get());

  const std::string chart = dir.path("chart.png");
  const std::string command = "cd " + shell_quote(data + "/work") + " && " +
                              shell_quote(built_program("velmora-batch")) +
                              " --test --data-folder " + shell_quote(data) + " --database " +
                              shell_quote(database) + " --chart " + shell_quote(chart);
  auto run = run_command(command);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_EQ(statuses(db.get()), before);
  EXPECT_EQ(db::testing::count_of(db.get(), "SELECT count(*) FROM temp"), 0);

  // The table printed is the stored result, position by position.
  std::vector<matching::RankRow> rows;
  ASSERT_TRUE(matching::read_overall_ranks(db.get(), &rows).ok());
  ASSERT_FALSE(rows.empty());
  const matching::ChartBars bars = matching::chart_bars(rows);
  EXPECT_NE(run.output.find(matching::format_test_rank_table(bars)), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("letter  rank  count  percent"), std::string::npos);
  // Same-animal fingerprints are found first for most units.
  EXPECT_GT(bars.cumulative[0], 50.0);

  // The chart written is the chart of that result.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int argc = 1;
  char name[] = "test_end_to_end_test";
  char* argv[] = {name, nullptr};
  QGuiApplication gui(argc, argv);
  QImage written;
  ASSERT_TRUE(written.load(QString::fromStdString(chart), "PNG"));
  EXPECT_EQ(written.convertToFormat(QImage::Format_RGB32), matching::test_rank_chart_image(bars));

  // "last test result": the same table, nothing compared.
  auto previous = run_command(command + " --previous");
  ASSERT_EQ(previous.exit_code, 0) << previous.output;
  EXPECT_NE(previous.output.find(matching::format_test_rank_table(bars)), std::string::npos);
  EXPECT_EQ(previous.output.find("tarvik of"), std::string::npos) << previous.output;
}

}  // namespace
}  // namespace velmora::app

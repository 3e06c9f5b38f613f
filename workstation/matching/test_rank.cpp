// The test-rank evaluation (see test_rank.h).
#include "workstation/matching/test_rank.h"

#include <algorithm>
#include <cstdio>

#include "workstation/db/database.h"
#include "workstation/db/statements.h"

namespace velmora::matching {
namespace {

// The options the comparison of the test set needs, for the length of it.
class TestComparisonOptions {
 public:
  TestComparisonOptions(session::RunOptions& options, int64_t test_set)
      : options_(options), saved_(options) {
    options_.batch_size = static_cast<int>(std::max<int64_t>(1, test_set));
    options_.multi_core = false;
    options_.real_time = false;
  }
  ~TestComparisonOptions() { options_ = saved_; }

 private:
  session::RunOptions& options_;
  const session::RunOptions saved_;
};

Status temp_row_count(session::RunState& state, int* rows) {
  db::Statement* all_temp = state.statement("all_temp");
  if (all_temp == nullptr) {
    return Status::InvalidArgument("The test run needs the statements Start prepares.");
  }
  db::RecordSet rs;
  Status s = all_temp->open(&rs);
  if (s.ok()) *rows = rs.row_count();
  return s;
}

// Steps 9 and 10 of the run: the working tables emptied in their order,
// then the steps of the chosen series; all or nothing.
Status evaluate(db::Database* db, bool combine) {
  db::Transaction tx(db);
  Status s = tx.begun();
  for (const char* table : db::kTestRankTables) {
    if (!s.ok()) break;
    s = db->execute("empty " + std::string(table), db::delete_all_sql(table));
  }
  for (const db::TestStep& step : db::test_steps(combine)) {
    if (!s.ok()) break;
    s = step.saved ? db->run_saved_query(step.name) : db->execute("empty temp", step.name);
  }
  if (s.ok()) s = tx.commit();
  return s;
}

// After a comparison that did not finish: everything back, the test's
// scores out of temp.
Status put_back(session::RunState& state, const Status& why, TestRankResult* r) {
  Status s = session::restore_after_test_run(state, true, &r->restored);
  if (!s.ok()) {
    return why.with_note(" Putting the extracts back failed too (" + s.message() +
                         "); the next Start puts them back.");
  }
  return why.with_note(
      " The test extracts are back in the library and the pending extracts "
      "pending again; the test was not evaluated.");
}

}  // namespace

Status read_overall_ranks(db::Database* db, std::vector<RankRow>* rows) {
  rows->clear();
  db::RecordSet rs;
  Status s = db->query("SYSTEM_overall_ranks", db::kOverallRanksSql, &rs);
  if (!s.ok()) return s;
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    rows->push_back(RankRow{rs.integer("rank"), rs.number("percent")});
  }
  return Status::Ok();
}

Status count_ranks_by_extension(db::Database* db, std::vector<ExtensionRank>* rows) {
  rows->clear();
  db::Transaction tx(db);
  Status s = tx.begun();
  for (const char* table : db::kRanksByExtensionTables) {
    if (!s.ok()) break;
    s = db->execute("empty " + std::string(table), db::delete_all_sql(table));
  }
  if (s.ok()) s = db->run_saved_query(db::kCountRanksByExtensionStep);
  db::RecordSet rs;
  if (s.ok()) s = db->query("SYSTEM_ranks_by_extension", db::kRanksByExtensionSql, &rs);
  if (s.ok()) s = tx.commit();
  if (!s.ok()) return s;
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    rows->push_back(ExtensionRank{rs.text("extension"), rs.integer("rank"), rs.integer("count"),
                                  rs.number("percent")});
  }
  return Status::Ok();
}

Status run_test_rank(session::RunState& state, ControlPanel& panel, OperatorDialogs& dialogs,
                     const TestRankOptions& options, const CompareTestSet& compare,
                     TestRankResult* result) {
  *result = TestRankResult{};
  TestRankResult& r = *result;
  if (!state.session.is_open() || !state.statements) {
    return Status::InvalidArgument(
        "The test run needs the database and statements Start prepares.");
  }
  db::Database* db = state.db();

  if (!options.previous) {
    int temp_rows = 0;
    Status s = temp_row_count(state, &temp_rows);
    if (!s.ok()) return s;
    if (temp_rows > 0) {
      dialogs.message(kTempNotEmptyMessage, Buttons::kOk, Icon::kCritical);
      dialogs.end_program();
      return Status::Ok();
    }
    if (dialogs.message(kBackupQuestion, Buttons::kOkCancel, Icon::kQuestion) == Answer::kCancel) {
      dialogs.end_program();
      return Status::Ok();
    }
    panel.set_visible("cmdStart", false);
    panel.set_visible("lblProgress", true);
    panel.set_visible("ProgressBar1", true);
    state.test_run = true;

    s = session::park_for_test_run(state, &r.parked);
    if (!s.ok()) return s;
    {
      TestComparisonOptions for_the_test(state.options, r.parked.test_set);
      s = compare ? compare() : Status::InvalidArgument("No comparison was given to the test run.");
      if (s.ok() && (dialogs.program_ended() || panel.stop_requested())) {
        s = Status::Cancelled("The test run was stopped during its comparisons.");
      }
    }
    // Extracts a family compared are waiting for nothing: they go back now.
    state.compared_pending.clear();
    if (!s.ok()) return put_back(state, s, &r);
    r.compared = true;

    s = session::restore_after_test_run(state, false, &r.restored);
    if (!s.ok()) {
      return s.with_note(
          " The test extracts could not be put back to the library; the next "
          "Start puts them back.");
    }

    panel.set_text("lblProgress", kCalculatingCaption);
    panel.process_events();
    s = evaluate(db, options.combine);
    if (!s.ok()) {
      // temp was empty when the test began: all of it is the test's.
      Status cleared = db->execute("empty temp", db::kDeleteTempSql);
      return s.with_note(
          cleared.ok() ? " The previous test result is kept; the test scores were removed."
                       : " The previous test result is kept; the test scores are still in temp (" +
                             cleared.message() + ").");
    }
    r.evaluated = true;
  }

  Status s = read_overall_ranks(db, &r.overall);
  if (!s.ok()) return s;
  r.overall_read = true;
  if (!options.combine) {
    s = count_ranks_by_extension(db, &r.by_extension);
    if (!s.ok()) return s;
    r.by_extension_read = true;
  }
  return Status::Ok();
}

std::string format_test_rank_table(const ChartBars& bars) {
  std::string out = "rank  found at or above (%)\n";
  char line[64];
  for (int k = 1; k <= kChartPositions; ++k) {
    std::snprintf(line, sizeof line, "%4d  %s\n", k,
                  bars.empty ? "-" : chart_value_text(bars.cumulative[k - 1]).c_str());
    out += line;
  }
  return out;
}

std::string format_extension_table(const std::vector<ExtensionRank>& rows) {
  std::string out = "letter  rank  count  percent\n";
  char line[96];
  for (const ExtensionRank& e : rows) {
    std::snprintf(line, sizeof line, "%-6s  %4lld  %5lld  %s\n", e.extension.c_str(),
                  static_cast<long long>(e.rank), static_cast<long long>(e.count),
                  chart_value_text(e.percent).c_str());
    out += line;
  }
  return out;
}

}  // namespace velmora::matching

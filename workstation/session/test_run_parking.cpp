// Parking for a test run (see test_run_parking.h).
#include "workstation/session/test_run_parking.h"

#include "workstation/db/database.h"

namespace velmora::session {
namespace {

constexpr const char* kMakeJournalSql =
    "CREATE TABLE IF NOT EXISTS test_run_journal ("
    " cell TEXT COLLATE NOCASE PRIMARY KEY,"
    " was TEXT COLLATE NOCASE NOT NULL CHECK (was IN ('P','L'))) STRICT";

// A temp row's pending extract is its pname without the "." and algorithm
// letter the import appends.
constexpr const char* kDiscardScoresSql =
    "DELETE FROM temp WHERE (CASE WHEN substr(pname, -2, 1) = '.'"
    " THEN substr(pname, 1, length(pname) - 2) ELSE pname END)"
    " IN (SELECT cell FROM test_run_journal WHERE was = 'L')";

Status run_statement(RunState& state, const char* name, int64_t* changes) {
  db::Statement* st = state.statement(name);
  if (st == nullptr) {
    return Status::InvalidArgument("The test run needs the statements Start prepares.");
  }
  int n = 0;
  Status s = st->execute(&n);
  if (s.ok() && changes) *changes += n;
  return s;
}

Status execute(RunState& state, const std::string& what, const std::string& sql,
               int64_t* changes = nullptr) {
  int n = 0;
  Status s = state.db()->execute(what, sql, &n);
  if (s.ok() && changes) *changes += n;
  return s;
}

Status journal_exists(RunState& state, bool* exists) {
  db::RecordSet rs;
  Status s = state.db()->query(
      "find the test run journal",
      "SELECT count(*) AS n FROM sqlite_schema WHERE type = 'table' AND name = 'test_run_journal'",
      &rs);
  if (!s.ok()) return s;
  *exists = !rs.eof() && rs.integer("n") > 0;
  return Status::Ok();
}

std::string plural(int64_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

Status park_for_test_run(RunState& state, ParkCounts* counts) {
  *counts = ParkCounts{};
  if (!state.session.is_open()) return Status::InvalidArgument("No database is open.");
  db::Transaction tx(state.db());
  Status s = tx.begun();
  if (s.ok()) s = execute(state, "make the test run journal", kMakeJournalSql);
  // Left over only by a failed recovery; the moves below rewrite it.
  if (s.ok()) s = execute(state, "empty the test run journal", "DELETE FROM test_run_journal");
  if (s.ok()) {
    s = execute(state, "journal the pending extracts",
                "INSERT INTO test_run_journal (cell, was) SELECT cell, 'P' FROM cells "
                "WHERE AutoMatch = 'P'");
  }
  if (s.ok()) s = run_statement(state, "park_pending", &counts->parked);
  if (s.ok()) s = run_statement(state, "test_set_to_pending", &counts->test_set);
  // Every P extract now is one of the test set: the real ones are parked.
  if (s.ok()) {
    s = execute(state, "journal the test set",
                "INSERT INTO test_run_journal (cell, was) SELECT cell, 'L' FROM cells "
                "WHERE AutoMatch = 'P'");
  }
  if (s.ok()) s = tx.commit();
  if (!s.ok()) *counts = ParkCounts{};
  return s;
}

Status restore_after_test_run(RunState& state, bool discard_scores, RestoreCounts* counts) {
  *counts = RestoreCounts{};
  if (!state.session.is_open()) return Status::InvalidArgument("No database is open.");
  bool journal = false;
  Status s = journal_exists(state, &journal);
  if (!s.ok()) return s;
  RestoreCounts c;
  db::Transaction tx(state.db());
  s = tx.begun();
  if (s.ok()) s = run_statement(state, "test_set_to_library", &c.to_library);
  if (s.ok() && journal) {
    s = execute(state, "put the compared test set back",
                "UPDATE cells SET AutoMatch = 'L' WHERE AutoMatch IN ('P','V') AND cell IN "
                "(SELECT cell FROM test_run_journal WHERE was = 'L')",
                &c.to_library);
  }
  if (s.ok()) s = run_statement(state, "restore_pending", &c.to_pending);
  if (s.ok() && journal && discard_scores) {
    s = execute(state, "remove the test scores", kDiscardScoresSql, &c.scores_removed);
  }
  if (s.ok() && journal) {
    s = execute(state, "empty the test run journal", "DELETE FROM test_run_journal");
  }
  if (s.ok()) s = tx.commit();
  if (s.ok()) *counts = c;
  return s;
}

Status test_run_was_stopped(RunState& state, bool* stopped) {
  *stopped = false;
  if (!state.session.is_open()) return Status::Ok();
  bool journal = false;
  Status s = journal_exists(state, &journal);
  if (!s.ok() || !journal) return s;
  db::RecordSet rs;
  s = state.db()->query("read the test run journal", "SELECT count(*) AS n FROM test_run_journal",
                        &rs);
  if (!s.ok()) return s;
  *stopped = !rs.eof() && rs.integer("n") > 0;
  return Status::Ok();
}

Status recover_stopped_test_run(RunState& state, std::string* message) {
  message->clear();
  bool stopped = false;
  Status s = test_run_was_stopped(state, &stopped);
  if (!s.ok() || !stopped) return s;
  RestoreCounts c;
  s = restore_after_test_run(state, true, &c);
  if (!s.ok()) {
    return s.with_note(
        " A test run stopped before it put the extracts back, and they could not be put back "
        "now; nothing was changed.");
  }
  *message = "A test run stopped before it put the extracts back. Restored: " +
             plural(c.to_library, "test extract", "test extracts") + " to the library, " +
             plural(c.to_pending, "extract", "extracts") + " pending again, " +
             plural(c.scores_removed, "test score", "test scores") +
             " removed from temp. Nothing of the test was evaluated; run the test again for "
             "its result.";
  return Status::Ok();
}

}  // namespace velmora::session

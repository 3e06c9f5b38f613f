// The test run from its first message to the result rows, on a small
// population whose ranks are known by hand: test animals A and B (two
// extracts each), library animals 101 and 102, a real pending extract of 301
// and an extract of 205 waiting for its visual check. The comparison is a
// stand-in that does what a family does: scores of the pending extracts into
// temp, the compared ones moved to V.
//
//   pair                 score     per extract (s)       per animal (t)
//   A_1 - A_2            0.9       A_1, A_2: rank 1      A: rank 1
//   A_1, A_2 - 101       0.5       B_1: 101 above: 2     B: 101 above: 2
//   B_1 - B_2            0.3       B_2: rank 1
//   B_1 - 101 0.8, B_2 - 101 0.2, B_1 - 102 0.1
//
// Faults are injected into the comparison, into a saved step and, through a
// trigger, into the restore; the journal then carries the next Start.
#include "workstation/matching/test_rank.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "workstation/db/testing/test_database.h"
#include "workstation/session/run_start.h"

namespace velmora::matching {
namespace {

using Statuses = std::map<std::string, std::string>;

class TestRankRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(db_.status().ok()) << db_.status().message();
    ASSERT_TRUE(db_.write_ini().ok());
    ASSERT_TRUE(db_.exec("INSERT INTO aspects (aspect, aspect_letter, cell_type, pattern) "
                         "VALUES ('Flank', 'FL', 'lateral', 'none')")
                    .ok());
    ASSERT_TRUE(db_.builder().add_algorithm("a", "tarvik").ok());
    const std::tuple<const char*, const char*, const char*> cells[] = {
        {"A", "A_1FL", "L"},     {"A", "A_2FL", "L"},     {"B", "B_1FL", "L"},
        {"B", "B_2FL", "L"},     {"101", "101_1FL", "L"}, {"102", "102_1FL", "L"},
        {"301", "301_1FL", "P"}, {"205", "205_1FL", "V"},
    };
    for (const auto& [id, cell, status] : cells) {
      ASSERT_TRUE(db_.add_cell(id, cell, "L", status, "Flank").ok());
    }
    before_ = statuses();
    start();
    compare_ = [this] { return stand_in_comparison(); };
  }
  void TearDown() override { close(); }

  void start() {
    close();
    state_ = std::make_unique<session::RunState>();
    state_->options.test_mode = true;
    state_->options.batch_size = 200;
    notes_.str("");
    const config::FolderFileLocations nowhere{db_.folder.path("program"), db_.folder.path("user")};
    Status s = session::start_run_without_window(
        *state_, nowhere, session::HeadlessFolders{db_.data_folder, db_.db_path, db_.data_folder},
        notes_);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  void close() {
    if (!state_) return;
    state_->drop_database_work();
    state_->session.close();
  }

  Statuses statuses() {
    Statuses out;
    for (const char* cell :
         {"A_1FL", "A_2FL", "B_1FL", "B_2FL", "101_1FL", "102_1FL", "301_1FL", "205_1FL"}) {
      out[cell] = db_.text(std::string("SELECT AutoMatch FROM cells WHERE cell = '") + cell + "'");
    }
    return out;
  }

  // What a comparison family does, on the run's own connection.
  Status stand_in_comparison() {
    ++comparisons_;
    during_ = statuses();
    batch_during_ = state_->options.batch_size;
    multi_core_during_ = state_->options.multi_core;
    db::Database* db = state_->db();
    const std::tuple<const char*, const char*, double> pairs[] = {
        {"A_1FL", "A_2FL", 0.9},   {"A_1FL", "101_1FL", 0.5}, {"A_2FL", "101_1FL", 0.5},
        {"B_1FL", "B_2FL", 0.3},   {"B_1FL", "101_1FL", 0.8}, {"B_2FL", "101_1FL", 0.2},
        {"B_1FL", "102_1FL", 0.1},
    };
    int written = 0;
    for (const auto& [p, f, score] : pairs) {
      if (fail_after_ >= 0 && written == fail_after_) {
        return Status::IOError("the comparison program died");
      }
      Status s = db::testing::FixtureBuilder(db).add_temp(
          std::string("img_") + p, std::string("img_") + f, std::string(p) + ".a", f, score);
      if (!s.ok()) return s;
      ++written;
    }
    return db->execute("compared to V", "UPDATE cells SET AutoMatch = 'V' WHERE AutoMatch = 'P'");
  }

  Status run(bool combine, bool previous = false) {
    return run_test_rank(*state_, panel_, dialogs_, TestRankOptions{previous, combine}, compare_,
                         &result_);
  }
  std::map<int64_t, double> overall() const {
    std::map<int64_t, double> out;
    for (const RankRow& r : result_.overall) out[r.rank] = r.percent;
    return out;
  }
  int64_t count(const std::string& sql) { return db_.count(sql); }

  db::testing::TestDatabase db_{"velmora_test_rank"};
  std::unique_ptr<session::RunState> state_;
  std::ostringstream notes_;
  RecordingControlPanel panel_;
  ScriptedDialogs dialogs_;
  CompareTestSet compare_;
  TestRankResult result_;
  Statuses before_, during_;
  int comparisons_ = 0;
  int fail_after_ = -1;  // the stand-in fails after writing this many pairs
  int batch_during_ = 0;
  bool multi_core_during_ = true;
};

TEST_F(TestRankRun, ComparesTheTestSetInPlaceOfThePendingAndRanksItInEitherSeries) {
  struct Case {
    bool combine;
    std::map<int64_t, double> overall;
  };
  const Case cases[] = {{false, {{1, 75.0}, {2, 25.0}}}, {true, {{1, 50.0}, {2, 50.0}}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.combine ? "combine" : "per extract");
    dialogs_ = ScriptedDialogs{};
    state_->options.multi_core = true;  // left over from a batch comparison
    ASSERT_TRUE(run(c.combine).ok());

    ASSERT_EQ(dialogs_.shown().size(), 1u);
    EXPECT_EQ(dialogs_.shown()[0].text, kBackupQuestion);
    EXPECT_FALSE(dialogs_.program_ended());
    EXPECT_TRUE(state_->test_run);
    EXPECT_FALSE(panel_.visible("cmdStart"));
    EXPECT_EQ(panel_.text("lblProgress"), kCalculatingCaption);

    // During the comparison: the test set pending, the real pending parked,
    // everything else as it was; one batch for the whole test set.
    Statuses expected_during = before_;
    for (const char* cell : {"A_1FL", "A_2FL", "B_1FL", "B_2FL"}) expected_during[cell] = "P";
    expected_during["301_1FL"] = "T";
    EXPECT_EQ(during_, expected_during);
    EXPECT_EQ(batch_during_, 4);
    EXPECT_FALSE(multi_core_during_);
    EXPECT_EQ(state_->options.batch_size, 200);
    EXPECT_TRUE(state_->options.multi_core);

    EXPECT_EQ(statuses(), before_);
    EXPECT_EQ(result_.parked.parked, 1);
    EXPECT_EQ(result_.parked.test_set, 4);
    EXPECT_TRUE(result_.compared && result_.evaluated && result_.overall_read);
    EXPECT_EQ(overall(), c.overall);
    EXPECT_EQ(count("SELECT count(*) FROM temp"), 0);
    EXPECT_EQ(count("SELECT count(*) FROM test_run_journal"), 0);
    if (c.combine) {
      EXPECT_FALSE(result_.by_extension_read);
    } else {
      ASSERT_TRUE(result_.by_extension_read);
      std::map<int64_t, int64_t> counts;
      for (const ExtensionRank& e : result_.by_extension) {
        EXPECT_EQ(e.extension, "a");
        counts[e.rank] = e.count;
      }
      EXPECT_EQ(counts, (std::map<int64_t, int64_t>{{1, 3}, {2, 1}}));
    }
  }
  EXPECT_EQ(comparisons_, 2);
}

TEST_F(TestRankRun, TheLastResultIsReadWithoutComparingOrChangingAnything) {
  ASSERT_TRUE(run(false).ok());
  const auto first = overall();
  dialogs_ = ScriptedDialogs{};
  // Even with scores waiting in temp, "last test result" only reads.
  ASSERT_TRUE(db_.builder().add_temp("img_x", "img_y", "101_1FL.a", "102_1FL", 0.4).ok());
  ASSERT_TRUE(run(false, true).ok());
  EXPECT_EQ(comparisons_, 1);
  EXPECT_TRUE(dialogs_.shown().empty());
  EXPECT_FALSE(result_.compared);
  EXPECT_EQ(overall(), first);
  EXPECT_TRUE(result_.by_extension_read);
  EXPECT_EQ(statuses(), before_);
}

TEST_F(TestRankRun, ScoresInTempOrCancelEndTheProgramWithNothingChanged) {
  struct Case {
    const char* what;
    bool temp_row;
    Answer answer;
    const char* message;
  };
  const Case cases[] = {{"temp not empty", true, Answer::kOk, kTempNotEmptyMessage},
                        {"cancelled", false, Answer::kCancel, kBackupQuestion}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(db_.exec("DELETE FROM temp").ok());
    if (c.temp_row) {
      ASSERT_TRUE(db_.builder().add_temp("i", "j", "301_1FL.a", "101_1FL", 1).ok());
    }
    dialogs_ = ScriptedDialogs{};
    dialogs_.queue(c.answer);
    ASSERT_TRUE(run(false).ok());
    EXPECT_TRUE(dialogs_.program_ended());
    ASSERT_FALSE(dialogs_.shown().empty());
    EXPECT_EQ(dialogs_.shown().back().text, c.message);
    EXPECT_EQ(comparisons_, 0);
    EXPECT_EQ(statuses(), before_);
    EXPECT_EQ(count("SELECT count(*) FROM countranks"), 0);
  }
}

TEST_F(TestRankRun, AFailingComparisonOrStepPutsEverythingBackAndKeepsThePreviousResult) {
  ASSERT_TRUE(run(false).ok());
  const auto first = overall();

  // The comparison dies after three pairs.
  fail_after_ = 3;
  Status s = run(true);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("the comparison program died"), std::string::npos) << s.message();
  EXPECT_EQ(statuses(), before_);
  EXPECT_EQ(count("SELECT count(*) FROM temp"), 0);
  EXPECT_EQ(result_.restored.scores_removed, 3);

  // A saved step is missing: the evaluation is undone as a whole.
  fail_after_ = -1;
  ASSERT_TRUE(db_.exec("DELETE FROM saved_queries WHERE name = 's07: non-1 ranks by type'").ok());
  s = run(false);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("s07: non-1 ranks by type"), std::string::npos) << s.message();
  EXPECT_EQ(statuses(), before_);
  EXPECT_EQ(count("SELECT count(*) FROM temp"), 0);
  std::vector<RankRow> kept;
  ASSERT_TRUE(read_overall_ranks(db_.db.get(), &kept).ok());
  std::map<int64_t, double> kept_map;
  for (const RankRow& r : kept) kept_map[r.rank] = r.percent;
  EXPECT_EQ(kept_map, first);
}

TEST_F(TestRankRun, ARunStoppedBetweenParkingAndRestoringIsPutRightAtTheNextStart) {
  // The restore fails when it brings the parked extract back: the state a
  // run leaves when it dies after its comparisons.
  ASSERT_TRUE(db_.exec("CREATE TRIGGER no_restore BEFORE UPDATE OF AutoMatch ON cells "
                       "WHEN OLD.AutoMatch = 'T' BEGIN SELECT RAISE(ABORT, 'disk gone'); END")
                  .ok());
  Status s = run(false);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("disk gone"), std::string::npos) << s.message();
  // The restore was undone as a whole: the compared test set in V, the
  // real pending extract parked.
  Statuses left = during_;
  for (const char* cell : {"A_1FL", "A_2FL", "B_1FL", "B_2FL"}) left[cell] = "V";
  EXPECT_EQ(statuses(), left);
  EXPECT_EQ(count("SELECT count(*) FROM temp"), 7);
  EXPECT_GT(count("SELECT count(*) FROM test_run_journal"), 0);

  // The next Start, whatever its mode, puts it right first and says so.
  ASSERT_TRUE(db_.exec("DROP TRIGGER no_restore").ok());
  start();
  EXPECT_NE(notes_.str().find("A test run stopped before it put the extracts back"),
            std::string::npos)
      << notes_.str();
  EXPECT_NE(notes_.str().find("4 test extracts to the library, 1 extract pending again, 7 test "
                              "scores removed"),
            std::string::npos)
      << notes_.str();
  EXPECT_EQ(statuses(), before_);
  EXPECT_EQ(count("SELECT count(*) FROM temp"), 0);
  EXPECT_EQ(count("SELECT count(*) FROM test_run_journal"), 0);
  // Only the real pending extract waits for comparison: the test set is
  // not compared again as new extracts.
  EXPECT_EQ(db_.text("SELECT group_concat(cell) FROM cells WHERE AutoMatch = 'P'"), "301_1FL");

  // A Start after that has nothing to put right, and the test runs whole.
  start();
  EXPECT_EQ(notes_.str().find("A test run stopped"), std::string::npos) << notes_.str();
  dialogs_ = ScriptedDialogs{};
  ASSERT_TRUE(run(false).ok());
  EXPECT_EQ(overall(), (std::map<int64_t, double>{{1, 75.0}, {2, 25.0}}));
  EXPECT_EQ(comparisons_, 2);
  EXPECT_EQ(statuses(), before_);
}

}  // namespace
}  // namespace velmora::matching

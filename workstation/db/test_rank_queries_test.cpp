// Tests of the saved test-evaluation steps: a seeded population of test and
// library animals with scores in temp is ranked by the saved steps and by a
// plain C++ reference of the same rule, and the two must agree unit by unit
// and in SYSTEM_overall_ranks.
#include "workstation/db/test_rank_queries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <random>
#include <set>

#include "workstation/db/schema.h"
#include "workstation/db/statements.h"
#include "workstation/db/testing/fixture_database.h"

namespace velmora::db {
namespace {

struct Extract {
  std::string cell, image, id, side, status;
};
struct Pair {
  std::string pending, other, letter;
  double score;
};

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
std::string last_two(const std::string& s) {
  return lower(s.substr(s.size() - 2));
}
bool test_animal(const std::string& id) {
  return !id.empty() && !(id[0] >= '1' && id[0] <= '9');
}

class TestRankTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::make_empty_database(":memory:", &db_).ok());
    testing::FixtureBuilder b(db_.get());
    ASSERT_TRUE(b.add_algorithm("a", "tarvik").ok());
    ASSERT_TRUE(b.add_algorithm("c", "compnew_corr").ok());
    // Library animals 1..6 and test animals T1..T5; T5 has a single extract
    // (nothing to find), T4 also a V extract in the library.
    auto animal = [&](const std::string& id, int extracts, const std::string& status) {
      int64_t enc = 0;
      ASSERT_TRUE(b.add_encounter(id, "", "", &enc).ok());
      for (int k = 1; k <= extracts; ++k) {
        std::string image = id + "_" + std::to_string(k);
        ASSERT_TRUE(b.add_image(image, enc, k, "P" + image, "").ok());
        Extract e{image + "FL", image, id, k % 3 == 0 ? "R" : "L", status};
        ASSERT_TRUE(b.add_cell(e.cell, image, "Flank", e.side, status).ok());
        extracts_.push_back(e);
      }
    };
    for (int i = 1; i <= 6; ++i) animal(std::to_string(i), 2 + i % 2, "L");
    for (int i = 1; i <= 4; ++i) animal("T" + std::to_string(i), 3, "L");
    animal("T5", 1, "L");
    ASSERT_TRUE(b.add_cell("T4_9FL", "T4_1", "Flank", "L", "V").ok());
    extracts_.push_back(Extract{"T4_9FL", "T4_1", "T4", "L", "V"});

    // What a test run leaves in temp: every test extract (pending for the
    // run) against every other extract of its side, pending-pending pairs
    // once; scores on a coarse grid so that ties occur; a few pairs missing
    // (scores at or below 0 are never staged); same-animal pairs score
    // higher on the whole.
    std::mt19937 rng(20240607);
    for (size_t i = 0; i < extracts_.size(); ++i) {
      const Extract& p = extracts_[i];
      if (!(test_animal(p.id) && p.status == "L")) continue;
      for (size_t j = 0; j < extracts_.size(); ++j) {
        const Extract& f = extracts_[j];
        if (i == j || f.side != p.side) continue;
        bool f_pending = test_animal(f.id) && f.status == "L";
        if (f_pending && j < i) continue;  // pending-pending: stored once
        for (const char* letter : {"a", "c"}) {
          if (rng() % 7 == 0) continue;
          double score = static_cast<double>(rng() % 20) / 20.0 + 0.05;
          if (f.id == p.id && rng() % 3 != 0) score += 0.5;
          bool swap = f_pending && rng() % 2 == 0;
          const Extract& pend = swap ? f : p;
          const Extract& lib = swap ? p : f;
          pairs_.push_back(Pair{pend.cell, lib.cell, letter, score});
          ASSERT_TRUE(
              b.add_temp(pend.image, lib.image, pend.cell + "." + letter, lib.cell, score).ok());
        }
      }
    }
    ASSERT_GT(pairs_.size(), 100u);
  }

  const Extract& extract(const std::string& cell) const {
    for (const Extract& e : extracts_) {
      if (e.cell == cell) return e;
    }
    static Extract none;
    return none;
  }

  // Reference ranks: unit -> rank (absent when there was nothing to find).
  // Unit key: cell + "." + letter per extract, or the animal ID combined.
  std::map<std::string, int> reference(bool combined) const {
    struct Unit {
      std::string id;
      std::map<std::string, double> best_other;  // other animal -> best score
      bool has_match = false;
      double match = 0;
    };
    std::map<std::string, Unit> units;
    auto add = [&](const Extract& me, const Extract& other, const std::string& letter,
                   double score) {
      std::string key = combined ? me.id : me.cell + "." + letter;
      Unit& u = units[key];
      u.id = me.id;
      if (other.id == me.id) {
        u.match = u.has_match ? std::max(u.match, score) : score;
        u.has_match = true;
      } else {
        auto it = u.best_other.find(other.id);
        if (it == u.best_other.end() || score > it->second) u.best_other[other.id] = score;
      }
    };
    for (const Pair& p : pairs_) {
      float stored = static_cast<float>(p.score);  // temp keeps single precision
      const Extract& a = extract(p.pending);
      const Extract& b = extract(p.other);
      add(a, b, p.letter, stored);
      if (test_animal(b.id) && b.status == "L") add(b, a, p.letter, stored);
    }
    std::map<std::string, int> ranks;
    for (const auto& [key, u] : units) {
      if (u.has_match) {
        int above = 0;
        for (const auto& [id, s] : u.best_other) above += s >= u.match;
        ranks[key] = 1 + above;
        continue;
      }
      // Nothing scored with its own animal: was there anything to find?
      bool findable = false;
      for (const Extract& me : extracts_) {
        bool is_unit = combined ? (me.id == u.id && me.status == "L")
                                : me.cell + "." + key.substr(key.size() - 1) == key;
        if (!is_unit) continue;
        for (const Extract& o : extracts_) {
          findable |= o.id == me.id && o.cell != me.cell && last_two(o.cell) == last_two(me.cell) &&
                      o.side == me.side && (o.status == "L" || o.status == "V");
        }
      }
      if (findable) ranks[key] = 1 + static_cast<int>(u.best_other.size());
    }
    return ranks;
  }

  void run_evaluation(bool combine) {
    for (const char* t : kTestRankTables)
      ASSERT_TRUE(db_->execute("empty", delete_all_sql(t)).ok());
    for (const TestStep& step : test_steps(combine)) {
      Status s = step.saved ? db_->run_saved_query(step.name)
                            : db_->execute("delete * from temp", step.name);
      ASSERT_TRUE(s.ok()) << step.name << ": " << s.message();
    }
  }

  std::map<int, double> overall_percent() {
    RecordSet rs;
    EXPECT_TRUE(db_->query("overall", kOverallRanksSql, &rs).ok());
    std::map<int, double> out;
    int previous = 0;
    for (rs.move_first(); !rs.eof(); rs.move_next()) {
      int rank = static_cast<int>(rs.integer("rank"));
      EXPECT_GT(rank, previous);  // ascending rank
      previous = rank;
      out[rank] = rs.number("percent");
    }
    return out;
  }

  std::unique_ptr<Database> db_;
  std::vector<Extract> extracts_;
  std::vector<Pair> pairs_;
};

TEST_F(TestRankTest, PerExtractStepsAgreeWithTheReference) {
  auto want = reference(false);
  run_evaluation(false);
  RecordSet rs;
  ASSERT_TRUE(db_->query("ranks", "SELECT cell, extension, rank FROM ranks", &rs).ok());
  std::map<std::string, int> got;
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    got[rs.text("cell") + "." + rs.text("extension")] = static_cast<int>(rs.integer("rank"));
  }
  EXPECT_EQ(got, want);
  // Some units rank below 1, some were never matched, and T5 has nothing to find.
  int below_one = 0;
  for (const auto& [k, r] : want) below_one += r > 1;
  EXPECT_GT(below_one, 0);
  EXPECT_EQ(got.count("T5_1FL.a") + got.count("T5_1FL.c"), 0u);

  // Overall: per extract, the best rank over the letters.
  std::map<std::string, int> best;
  for (const auto& [key, r] : want) {
    std::string cell = key.substr(0, key.size() - 2);
    best[cell] = best.count(cell) ? std::min(best[cell], r) : r;
  }
  std::map<int, int> count;
  for (const auto& [cell, r] : best) ++count[r];
  auto percent = overall_percent();
  ASSERT_EQ(percent.size(), count.size());
  for (const auto& [rank, n] : count) {
    // Percentages are n * 100 / total in double arithmetic in both places.
    EXPECT_NEAR(percent[rank], 100.0 * n / static_cast<double>(best.size()), 1e-9) << rank;
  }
  RecordSet temp;
  ASSERT_TRUE(db_->query("temp", "SELECT count(*) AS n FROM temp", &temp).ok());
  EXPECT_EQ(temp.integer("n"), 0);  // emptied during the evaluation

  // Per-extension counts, from the same ranks.
  for (const char* t : kRanksByExtensionTables) {
    ASSERT_TRUE(db_->execute("empty", delete_all_sql(t)).ok());
  }
  ASSERT_TRUE(db_->run_saved_query(kCountRanksByExtensionStep).ok());
  ASSERT_TRUE(db_->query("by extension", kRanksByExtensionSql, &rs).ok());
  std::map<std::pair<std::string, int>, int> by_ext, want_ext;
  std::map<std::string, double> percent_sum;
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    by_ext[{rs.text("extension"), static_cast<int>(rs.integer("rank"))}] =
        static_cast<int>(rs.integer("count"));
    percent_sum[rs.text("extension")] += rs.number("percent");
  }
  for (const auto& [key, r] : want) ++want_ext[{key.substr(key.size() - 1), r}];
  EXPECT_EQ(by_ext, want_ext);
  for (const auto& [ext, sum] : percent_sum) {
    EXPECT_NEAR(sum, 100.0, 1e-9) << ext;  // rounding of a few additions only
  }
}

TEST_F(TestRankTest, CombinedStepsRankAnimals) {
  auto want = reference(true);
  run_evaluation(true);
  RecordSet rs;
  ASSERT_TRUE(db_->query("ranks", "SELECT ID, cell, rank FROM ranks", &rs).ok());
  std::map<std::string, int> got;
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    EXPECT_TRUE(is_null(rs.field("cell")));
    got[rs.text("ID")] = static_cast<int>(rs.integer("rank"));
  }
  EXPECT_EQ(got, want);
  EXPECT_EQ(got.count("T5"), 0u);
  EXPECT_EQ(got.size(), 4u);
  std::map<int, int> count;
  for (const auto& [id, r] : want) ++count[r];
  auto percent = overall_percent();
  for (const auto& [rank, n] : count) {
    EXPECT_NEAR(percent[rank], 100.0 * n / static_cast<double>(want.size()), 1e-9) << rank;
  }
}

TEST_F(TestRankTest, LibraryAnimalsAreNeverUnits) {
  run_evaluation(false);
  RecordSet rs;
  ASSERT_TRUE(db_->query("ids", "SELECT ID FROM IDs ORDER BY ID", &rs).ok());
  std::set<std::string> ids;
  for (rs.move_first(); !rs.eof(); rs.move_next()) ids.insert(rs.text("ID"));
  EXPECT_EQ(ids, (std::set<std::string>{"T1", "T2", "T3", "T4", "T5"}));
  ASSERT_TRUE(db_->query("units", "SELECT DISTINCT ID FROM defaultrank", &rs).ok());
  for (rs.move_first(); !rs.eof(); rs.move_next()) EXPECT_TRUE(test_animal(rs.text("ID")));
}

TEST_F(TestRankTest, EmptyTempGivesNoResultRows) {
  ASSERT_TRUE(db_->execute("clear", kDeleteTempSql).ok());
  run_evaluation(false);
  EXPECT_TRUE(overall_percent().empty());
}

TEST(TestRankCatalogueTest, EveryStepOfBothSeriesIsSaved) {
  std::set<std::string> saved;
  for (const auto& q : test_rank_queries()) EXPECT_TRUE(saved.insert(q.name).second) << q.name;
  for (bool combine : {true, false}) {
    for (const TestStep& s : test_steps(combine)) {
      if (s.saved) {
        EXPECT_EQ(saved.count(s.name), 1u) << s.name;
      }
    }
  }
  EXPECT_EQ(saved.count(kCountRanksByExtensionStep), 1u);
  EXPECT_EQ(saved.size(), 18u + 16u);  // the "s" series has its step 2 and s15
}

}  // namespace
}  // namespace velmora::db

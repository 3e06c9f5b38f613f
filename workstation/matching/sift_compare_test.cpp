// The key-point family: key lists loaded into a batch, the score, and one
// aspect and side from key files to results file, against a plain
// reference, with missing and damaged key files and a stop.
#include "workstation/matching/sift_compare.h"

#include <gtest/gtest.h>

#include <sstream>

#include "libs/bristane/key_file.h"
#include "libs/bristane/testing/synthetic_keys.h"
#include "testing/files.h"
#include "testing/temp_dir.h"
#include "workstation/common/number_text.h"

namespace velmora::matching {
namespace {

using bristane::KeyList;
using bristane::testing::random_keys;
using bristane::testing::seen_again;

class SiftFamily : public ::testing::Test {
 protected:
  void put(const std::string& cell, const KeyList& keys) {
    ASSERT_TRUE(dir.write("data/SiftLib/" + cell, bristane::key_file_text(keys)));
    lists[cell] = keys;
  }
  void put_text(const std::string& cell, const std::string& text) {
    ASSERT_TRUE(dir.write("data/SiftLib/" + cell, text));
  }
  std::string data() const { return dir.path("data"); }

  velmora::testing::TempDir dir{"sift family"};
  std::map<std::string, KeyList> lists;
};

TEST_F(SiftFamily, FillArraysLoadsUsableFilesUpToTheLimit) {
  put("A", random_keys(5, 1));
  put("B", random_keys(bristane::kMaxKeys + 1, 2));
  put_text("C", bristane::key_file_text(random_keys(3, 3)).substr(0, 200));  // cut short
  put_text("D", "3 128\nnot keys\n");
  put("E", random_keys(0, 4));
  put("F", random_keys(7, 5));
  const std::vector<std::string> cells = {"A", "missing", "B", "C", "D", "E", "F"};

  SiftBatch batch;
  std::vector<KeyFileProblem> problems;
  size_t next = 0;
  FillArraysSift(cells, &next, data(), 3, &batch, &problems);
  EXPECT_EQ(batch.filename, (std::vector<std::string>{"A", "B", "E"}));
  EXPECT_EQ(batch.read_nfeat, (std::vector<int32_t>{5, bristane::kMaxKeys, 0}));
  EXPECT_EQ(next, 6u);
  ASSERT_EQ(problems.size(), 3u);
  const char* expected[][2] = {{"missing", "no key file"}, {"C", "line 5"}, {"D", "line 2"}};
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(problems[k].cell, expected[k][0]);
    EXPECT_NE(problems[k].message.find("SiftLib/" + problems[k].cell), std::string::npos);
    EXPECT_NE(problems[k].message.find(expected[k][1]), std::string::npos) << problems[k].message;
  }
  // Each view shows its own file's keys, the long one cut to the first 1000.
  for (int k = 0; k < batch.size(); ++k) {
    const KeyList& file = lists[batch.filename[k]];
    const bristane::KeyListView v = batch.view(k);
    EXPECT_TRUE(std::equal(v.descriptors, v.descriptors + v.count * 128, file.descriptors.begin()));
    EXPECT_TRUE(std::equal(v.locations, v.locations + v.count * 4, file.locations.begin()));
  }
  // The next load starts where this one stopped, in an emptied batch.
  FillArraysSift(cells, &next, data(), 3, &batch, &problems);
  EXPECT_EQ(batch.filename, std::vector<std::string>{"F"});
  EXPECT_EQ(batch.first_key, std::vector<size_t>{0});
  EXPECT_EQ(next, cells.size());
}

TEST(SiftScore, IsTheReciprocalFormula) {
  for (double m : {0.0, 1.0, 3.0, 17.0, 250.0, 1000.0}) {
    EXPECT_DOUBLE_EQ(sift_score(m), 1.0 / (1.0 / (m + 0.1) + 1.0)) << m;
    EXPECT_TRUE(kSiftScores.admits(sift_score(m))) << m;
  }
  EXPECT_EQ(real_to_text(sift_score(0)), real_to_text(0.1 / 1.1));
  EXPECT_LT(sift_score(3), sift_score(4));
  EXPECT_GT(sift_score(1e6), 0.99999);
}

TEST(SiftScore, TheShorterListGoesFirst) {
  const KeyList a = random_keys(60, 8);
  bristane::testing::Sighting s;
  s.kept = 40;
  s.extra = 100;
  s.rotation = 0.4;
  const KeyList b = seen_again(a, s);
  bristane::KeyMatcher matcher;
  const double m = matcher.consistent_matches(view_of(a), view_of(b), {});
  EXPECT_GT(m, 30);
  EXPECT_EQ(sift_matches(view_of(a), view_of(b)), m);
  EXPECT_EQ(sift_matches(view_of(b), view_of(a)), m);
}

// Three pending extracts (P2 is library animal L1 seen again), 202 library
// extracts in two batches (200 usable ones, then one), one pending and one library key file missing
// or damaged: the file holds every pair once with the reference's score.
TEST_F(SiftFamily, WritesEveryPairOnceWithItsScore) {
  put("L001", random_keys(80, 100));
  for (int k = 2; k <= 202; ++k) {
    char name[8];
    std::snprintf(name, sizeof name, "L%03d", k);
    put(name, random_keys(20 + k % 7, 100u + static_cast<uint32_t>(k)));
  }
  put_text("L150", "");
  bristane::testing::Sighting again;
  again.kept = 60;
  again.extra = 30;
  put("P1", random_keys(50, 1));
  put("P2", seen_again(lists["L001"], again));
  put("P4", random_keys(30, 4));
  SiftSideInputs in;
  in.aspect = "Flank";
  in.side = "L";
  in.letter = "s";
  in.data_folder = data();
  in.working_folder = dir.path("work");
  in.pending = {"P1", "P2", "P3", "P4"};
  for (int k = 1; k <= 202; ++k) {
    char name[8];
    std::snprintf(name, sizeof name, "L%03d", k);
    in.library.push_back(name);
  }
  ASSERT_TRUE(dir.write("work/.keep", ""));
  RecordingControlPanel panel;
  SiftSideResult result;
  const Status s = compare_sift_side(in, panel, &result);
  ASSERT_TRUE(s.ok()) << s.message();

  const std::vector<std::string> pending = {"P1", "P2", "P4"};
  EXPECT_EQ(result.compared, pending);
  ASSERT_EQ(result.left_out.size(), 2u);
  EXPECT_EQ(result.left_out[0].cell, "P3");
  EXPECT_EQ(result.left_out[1].cell, "L150");
  EXPECT_EQ(result.library_loaded, 201);
  EXPECT_EQ(result.library_batches, 2);
  EXPECT_EQ(result.results_path, dir.path("work/FlankLs_results.txt"));

  // The reference: the lines built from the lists directly.
  auto line = [&](const std::string& a, const std::string& b) {
    bristane::KeyMatcher matcher;
    const KeyList& x = lists[a].count() <= lists[b].count() ? lists[a] : lists[b];
    const KeyList& y = &x == &lists[a] ? lists[b] : lists[a];
    const double m = matcher.consistent_matches(view_of(x), view_of(y), {});
    return a + "," + b + "," + real_to_text((m + 0.1) / (m + 1.1)) + "\n";
  };
  std::string expected = "$ pending pending\n" + line("P1", "P2") + line("P1", "P4") +
                         line("P2", "P4") + "$ pending library\n";
  for (const std::string& p : pending) {
    for (int k = 1; k <= 201; ++k) {
      char name[8];
      std::snprintf(name, sizeof name, "L%03d", k);
      if (k == 150) continue;
      expected += line(p, name);
    }
  }
  expected += "$ pending library\n";
  for (const std::string& p : pending) expected += line(p, "L202");
  EXPECT_TRUE(velmora::testing::read_file(result.results_path) == expected);
  EXPECT_EQ(result.pairs, 3 + 3 * 201);
  EXPECT_NE(expected.find("P2,L001,0.9"), std::string::npos);

  EXPECT_EQ(
      panel.progress_labels(),
      (std::vector<std::string>{"compSift of 3 new L side Flank extracts with each other",
                                "compSift of 3 new extracts with batch 1 of library extracts",
                                "compSift of 3 new extracts with batch 2 of library extracts"}));
  EXPECT_DOUBLE_EQ(panel.progress().back(), 1.0 * 0.98 + 0.01);
}

TEST_F(SiftFamily, NothingIsWrittenWhenStoppedOrWithoutPendingKeys) {
  put("P1", random_keys(10, 1));
  put("P2", random_keys(10, 2));
  put("L1", random_keys(10, 3));
  SiftSideInputs in;
  in.aspect = "Head";
  in.side = "M";
  in.letter = "s";
  in.data_folder = data();
  in.working_folder = dir.dir();
  in.pending = {"P1", "P2"};
  in.library = {"L1"};
  RecordingControlPanel panel;
  panel.request_stop_after_events(2);
  SiftSideResult result;
  Status s = compare_sift_side(in, panel, &result);
  EXPECT_EQ(s.code(), Status::Code::kCancelled);
  EXPECT_FALSE(dir.exists("HeadMs_results.txt"));

  in.pending = {"P9"};
  RecordingControlPanel quiet;
  s = compare_sift_side(in, quiet, &result);
  ASSERT_TRUE(s.ok());
  EXPECT_TRUE(result.compared.empty());
  EXPECT_EQ(result.left_out.size(), 1u);
  EXPECT_FALSE(dir.exists("HeadMs_results.txt"));

  // With one pending extract the label speaks of one extract.
  in.pending = {"P1"};
  s = compare_sift_side(in, quiet, &result);
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(quiet.progress_labels().back(),
            "compSift of new extract with batch 1 of library extracts");
  EXPECT_EQ(dir.read("HeadMs_results.txt"),
            "$ pending pending\n$ pending library\nP1,L1," + real_to_text(sift_score(0)) + "\n");
}

}  // namespace
}  // namespace velmora::matching

// The Start driver on the shared standard fixture: every status code, a
// lateral and two midline aspects, all five families. Expectations are
// derived from the fixture's own lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "workstation/db/testing/fixture_database.h"
#include "workstation/runs/main_form.h"
#include "workstation/runs/runs_test_workstation.h"
#include "workstation/runs/start_driver.h"
#include "workstation/session/run_start.h"

namespace velmora::runs {
namespace {

using db::testing::standard_algorithms;
using db::testing::standard_aspects;
using db::testing::standard_extracts;
using testing::TestWorkstation;

bool same_letters(std::string a, std::string b) {
  std::transform(a.begin(), a.end(), a.begin(), ::tolower);
  std::transform(b.begin(), b.end(), b.begin(), ::tolower);
  return a == b;
}

class StandardFixture : public ::testing::Test {
 protected:
  StandardFixture() : ws_("fixture", true) {}
  TestWorkstation ws_;
};

TEST_F(StandardFixture, StartNumbersEveryExtractAndLoadsEveryLetter) {
  ws_.choose_quiet_mode();
  ASSERT_TRUE(begin_run(ws_.ctx).ok());
  EXPECT_TRUE(ws_.dialogs.shown().empty());
  std::vector<std::string> cells;
  for (const auto& e : standard_extracts()) cells.push_back(e.cell);
  // The engine orders names without letter case.
  std::sort(cells.begin(), cells.end(), [](std::string a, std::string b) {
    std::transform(a.begin(), a.end(), a.begin(), ::tolower);
    std::transform(b.begin(), b.end(), b.begin(), ::tolower);
    return a < b;
  });
  ASSERT_EQ(ws_.ctx.cells.highest(), static_cast<int64_t>(cells.size()));
  for (size_t i = 0; i < cells.size(); ++i) {
    EXPECT_EQ(ws_.ctx.cells.cell(static_cast<long long>(i + 1)), cells[i]);
  }
  for (const auto& [letter, type] : standard_algorithms())
    EXPECT_EQ(ws_.ctx.algorithm_letters.letter(type), letter) << type;
  EXPECT_EQ(ws_.ctx.aspects().count, static_cast<int>(standard_aspects().size()));
}

TEST_F(StandardFixture, TheWaitingMessageCountsEveryVExtractAndLetter) {
  // Per V extract: letter h alone for the leg-code aspect, every other letter
  // for the rest.
  int expected = 0;
  std::set<std::string> animals;
  for (const auto& e : standard_extracts()) {
    if (e.auto_match != "V") continue;
    animals.insert(e.id);
    for (const auto& [letter, type] : standard_algorithms()) {
      const bool legcode_aspect = same_letters(e.aspect, "legcode");
      if (legcode_aspect == (letter == "h")) ++expected;
    }
  }
  ASSERT_GT(expected, 0);
  ws_.panel.set_checked("optBatchCompare", true);
  ws_.dialogs.queue(Answer::kCancel);
  ASSERT_TRUE(begin_run(ws_.ctx).ok());
  ASSERT_FALSE(ws_.dialogs.shown().empty());
  EXPECT_EQ(ws_.dialogs.shown()[0].text, session::records_waiting_message(expected));
  EXPECT_TRUE(ws_.dialogs.program_ended());

  TestWorkstation combined("fixture_comb", true);
  combined.panel.set_checked("optBatchCompare", true);
  combined.panel.set_checked("chkComb", true);
  combined.dialogs.queue(Answer::kCancel);
  ASSERT_TRUE(begin_run(combined.ctx).ok());
  ASSERT_FALSE(combined.dialogs.shown().empty());
  EXPECT_EQ(combined.dialogs.shown()[0].text,
            session::records_waiting_message(static_cast<int>(animals.size())));
}

TEST_F(StandardFixture, BatchExtractionTakesEveryEPhotographInCellOrder) {
  std::vector<std::string> expected;
  for (const auto& e : standard_extracts())
    if (e.auto_match == "E") expected.push_back(e.cell);
  std::sort(expected.begin(), expected.end());
  ASSERT_GE(expected.size(), 3u);

  std::vector<std::string> taken, processed;
  ws_.ctx.hooks.kernels.calc_dot_wavelet = [](int, int, int) { return Status::Ok(); };
  ws_.ctx.hooks.kernels.calc_ring_wavelet = [](int, int, int, double) { return Status::Ok(); };
  ws_.ctx.hooks.kernels.calc_stripe_wavelet = [](int, int, int, int, int, int, double, double) {
    return Status::Ok();
  };
  ws_.ctx.hooks.extraction.show_extraction_window = [&](RunContext& c) {
    taken.push_back(c.extraction.current_image_row.text("cell"));
    EXPECT_EQ(c.extraction.list_size, static_cast<int>(expected.size()));
    c.shared_extract.extract_ready = true;
    return Status::Ok();
  };
  ws_.ctx.hooks.extraction.run_pipeline = [&](RunContext& c) {
    processed.push_back(c.extraction.current_image_row.text("cell"));
    c.panel->set_visible("cmdStart", true);
    return Status::Ok();
  };
  ws_.panel.set_checked("optBatchExtract", true);
  ASSERT_TRUE(begin_run(ws_.ctx).ok());
  while (!ws_.dialogs.program_ended()) {
    ASSERT_LE(taken.size(), expected.size());
    ASSERT_TRUE(cmdStart_clicked(ws_.ctx).ok());
  }
  EXPECT_EQ(taken, expected);
  for (const std::string& cell : expected) {
    const bool hash = cell.find('#') != std::string::npos;
    const bool legcode = cell.find("_LC") != std::string::npos;
    const bool piped = std::find(processed.begin(), processed.end(), cell) != processed.end();
    EXPECT_EQ(piped, !hash && !legcode) << cell;
    if (hash) {
      EXPECT_EQ(ws_.status_of(cell), "G") << cell;
    } else if (legcode) {
      EXPECT_EQ(ws_.status_of(cell), "P") << cell;
    } else {
      EXPECT_EQ(ws_.status_of(cell), "E") << cell;  // the stand-in pipeline saved nothing
    }
  }
  EXPECT_TRUE(ws_.dialogs.shown().empty());
}

TEST_F(StandardFixture, MultipleCoresOffersTheSidesOfEachAspect) {
  MainForm form(&ws_.ctx);
  ws_.panel.set_checked("chkMultiCore", true);
  form.check_clicked("chkMultiCore");
  std::vector<std::string> names;
  for (const auto& a : standard_aspects()) names.push_back(a.aspect);
  ASSERT_EQ(ws_.panel.items("cmbAspect"), names);
  for (size_t i = 0; i < names.size(); ++i) {
    ws_.panel.select_item("cmbAspect", static_cast<int>(i));
    form.list_chosen("cmbAspect");
    const std::vector<std::string> sides = standard_aspects()[i].cell_type == "lateral"
                                               ? std::vector<std::string>{"L", "R"}
                                               : std::vector<std::string>{"M"};
    EXPECT_EQ(ws_.panel.items("cmbSide"), sides) << names[i];
  }
}

}  // namespace
}  // namespace velmora::runs

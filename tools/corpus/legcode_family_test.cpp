// The comparison families on the synthetic extract corpus, from its algy
// letters through the batch comparison's order: each family is reached, the
// ones this build has no step for are reported and passed over, and the
// leg-code comparison finds every pending leg-code extract's own animal.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "testing/temp_dir.h"
#include "tools/corpus/data_folder.h"
#include "tools/corpus/synthetic_extract.h"
#include "tools/corpus/temp_ranking.h"
#include "workstation/app/comparison_steps.h"
#include "workstation/common/control_panel.h"
#include "workstation/runs/start_driver.h"
#include "workstation/session/run_start.h"

namespace velmora::corpus {
namespace {

TEST(LegCodeFamilyOnTheCorpus, EveryFamilyIsReachedAndLegCodesFindTheirAnimals) {
  velmora::testing::TempDir dir("legcode_corpus");
  ExtractCorpusOptions o;
  o.animals = 4;
  o.sightings = 2;
  ExtractCorpusSummary made;
  Status s = write_extract_corpus(dir.path("x"), o, &made);
  ASSERT_TRUE(s.ok()) << s.message();
  std::vector<CorpusSighting> roles;
  ASSERT_TRUE(read_manifest(dir.path("x/") + kLegCodeTruthFileName, &roles).ok());

  RecordingControlPanel panel;
  ScriptedDialogs dialogs;
  runs::RunContext ctx;
  ctx.panel = &panel;
  ctx.dialogs = &dialogs;
  ctx.options.compares = true;
  ctx.options.batch_size = 200;
  std::ostringstream notes;
  s = session::start_run_without_window(
      ctx, config::FolderFileLocations{dir.path("no-program"), dir.path("no-user")},
      session::HeadlessFolders{made.data_folder, made.database_path, made.data_folder}, notes);
  ASSERT_TRUE(s.ok()) << s.message();
  ctx.settings.fixLegCode_value = 1;  // positional: the score that tells animals apart
  app::install_legcode_comparison(ctx.hooks);
  s = runs::run_comparison_families(ctx);
  ASSERT_TRUE(s.ok()) << s.message();

  // The families in batch order: three without a step here, then leg codes.
  std::vector<std::string> said;
  for (const auto& m : dialogs.shown()) said.push_back(m.text.substr(0, m.text.find(" is ")));
  EXPECT_EQ(said, (std::vector<std::string>{
                      "The tarvik comparison", "The correlation and spot comparison",
                      "The leg-code comparison", "The key-point comparison"}));
  EXPECT_EQ(dialogs.shown()[2].text.rfind("The leg-code comparison is complete.", 0), 0u);

  // Every pending leg-code extract compared, moved on, and its own animal
  // the best candidate in temp.
  db::RecordSet rs;
  ASSERT_TRUE(ctx.db()
                  ->query("temp",
                          "SELECT temp.pname AS pname, encounter.ID AS ID, max(temp.score) AS "
                          "best, count(*) AS n FROM temp LEFT JOIN cells ON cells.cell = "
                          "temp.fname LEFT JOIN image ON image.image = cells.image LEFT JOIN "
                          "encounter ON encounter.encounter_no = image.encounter_no GROUP BY "
                          "temp.pname, encounter.ID",
                          &rs)
                  .ok());
  std::vector<CandidateScore> candidates;
  for (; !rs.eof(); rs.move_next())
    candidates.push_back({rs.text("pname"), rs.text("ID"), rs.number("best"), rs.integer("n")});
  TempRanking ranking;
  ASSERT_TRUE(rank_temp(roles, "h", candidates, &ranking).ok());
  EXPECT_EQ(ranking.probes, 4);
  EXPECT_EQ(ranking.rank1, 4) << format_temp_ranking(ranking, 4, 4);
  EXPECT_EQ(ctx.db()
                ->query("v",
                        "SELECT count(*) AS n FROM cells WHERE aspect='LegCode' AND "
                        "AutoMatch='V'",
                        &rs)
                .code(),
            Status::Code::kOk);
  EXPECT_EQ(rs.integer("n"), 4);
  ctx.drop_database_work();
  ctx.session.close();
}

}  // namespace
}  // namespace velmora::corpus

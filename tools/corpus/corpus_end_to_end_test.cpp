// End to end: velmora-corpus makes a corpus, the built tarvikx compares it,
// velmora-corpus rates the run; velmora-corpus makes a data folder, the
// headless batch comparison velmora-batch runs on it, velmora-corpus rates
// table temp; velmora-corpus makes synthetic extracts and reports them; a
// season of photographs goes through fitting, extract processing, the
// library's statistics and the batch comparison, and is rated side by side.
// The programs are the build's own (testing/programs.h); each test works in
// its own temporary folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "testing/files.h"
#include "testing/programs.h"
#include "testing/temp_dir.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

using testing::CommandRun;
using testing::run_command;

// The percentage in "rank-N identification rate: 96.0 % (…)".
double rate(const std::string& out, const std::string& label) {
  const size_t at = out.find(label + " identification rate: ");
  if (at == std::string::npos) return -1;
  return std::atof(out.c_str() + at + label.size() + 22);
}

class CorpusEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(corpus_.empty()) << "velmora-corpus is not built"; }
  std::string in_dir(const std::string& command) {
    return "cd " + testing::shell_quote(temp_.dir()) + " && " + command;
  }

  const std::string tarvikx_ = testing::built_program("tarvikx");
  const std::string corpus_ = testing::built_program("velmora-corpus");
  testing::TempDir temp_{"corpus_e2e"};
  const fs::path dir_ = temp_.root();
};

TEST_F(CorpusEndToEnd, BatchComparisonOfTheDataFolderRanksTheRightAnimalFirst) {
  const std::string batch = testing::built_program("velmora-batch");
  if (batch.empty()) GTEST_SKIP() << "velmora-batch is not part of this build";
  const CommandRun made = run_command(
      in_dir(corpus_ + " data d --animals 20 --sightings 3 --seed 4 --calibration-animals 20"));
  ASSERT_EQ(made.exit_code, 0) << made.output;
  EXPECT_NE(made.output.find("20 pending and 40 library extracts"), std::string::npos)
      << made.output;

  const CommandRun compared = run_command(
      in_dir(batch + " --data-folder d --database d/seals.sqlite --working-folder d/work"));
  ASSERT_EQ(compared.exit_code, 0) << compared.output;
  EXPECT_NE(compared.output.find("extracts moved to V:        20"), std::string::npos)
      << compared.output;

  const CommandRun rated = run_command(in_dir(corpus_ + " candidates d d/seals.sqlite --show 3"));
  ASSERT_EQ(rated.exit_code, 0) << rated.output;
  EXPECT_NE(rated.output.find("pending extracts with candidates: 20 of 20"), std::string::npos)
      << rated.output;
  // As with tarvikx alone: the corpus is made to be identifiable, so nearly
  // every pending extract must have its own animal first in temp. Lost rows,
  // a wrong pair order or a swapped pname and fname drop this sharply.
  EXPECT_GE(rate(rated.output, "rank-1"), 90.0) << rated.output;
  EXPECT_GE(rate(rated.output, "rank-10"), 100.0) << rated.output;
  EXPECT_NE(rated.output.find("best candidates of 3 pending extracts"), std::string::npos)
      << rated.output;
  EXPECT_NE(rated.output.find(" *\n"), std::string::npos) << rated.output;

  // A wrong database or folder is named; bad options are refused and a used
  // folder is not written into.
  CommandRun r = run_command(in_dir(corpus_ + " candidates d nowhere.sqlite"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("nowhere.sqlite"), std::string::npos) << r.output;
  r = run_command(in_dir(corpus_ + " candidates absent"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("absent/corpus.txt"), std::string::npos) << r.output;
  r = run_command(in_dir(corpus_ + " candidates d --show many"));
  EXPECT_EQ(r.exit_code, 2);
  r = run_command(in_dir(corpus_ + " data e --sightings 2"));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.output.find("at least 3 sightings"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(dir_ / "e"));
  r = run_command(in_dir(corpus_ + " data d"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("not an empty folder"), std::string::npos) << r.output;
}

TEST_F(CorpusEndToEnd, SameAnimalRanksFirst) {
  ASSERT_FALSE(tarvikx_.empty()) << "tarvikx is not built";
  const CommandRun made =
      run_command(in_dir(corpus_ + " make c --animals 25 --sightings 3 --seed 3"));
  ASSERT_EQ(made.exit_code, 0) << made.output;
  EXPECT_NE(made.output.find("25 animals x 3 sightings written to c"), std::string::npos)
      << made.output;
  const CommandRun compared = run_command(
      in_dir("cd c && " + tarvikx_ +
             " oldlib/ pending.txt oldlib/ library.txt testresults.txt tarvik.ini false"));
  ASSERT_EQ(compared.exit_code, 0) << compared.output;
  const CommandRun rated = run_command(in_dir(corpus_ + " rank c"));
  ASSERT_EQ(rated.exit_code, 0) << rated.output;
  EXPECT_NE(
      rated.output.find("probes: 25 pending sightings against 50 library sightings of 25 animals"),
      std::string::npos)
      << rated.output;
  EXPECT_NE(rated.output.find("other lines: 0\n"), std::string::npos) << rated.output;
  // The corpus is made to be identifiable: a sighting scores far above other
  // animals, so nearly every probe must rank first. A fault in the writer's
  // normalisation, its geometry or the corpus's shifts drops this sharply.
  EXPECT_GE(rate(rated.output, "rank-1"), 90.0) << rated.output;
  EXPECT_GE(rate(rated.output, "rank-10"), 100.0) << rated.output;

  // A second comparison appends to the results; the rates stay the same,
  // since an animal's score is the best of its lines.
  ASSERT_EQ(run_command(
                in_dir("cd c && " + tarvikx_ +
                       " oldlib/ pending.txt oldlib/ library.txt testresults.txt tarvik.ini false"))
                .exit_code,
            0);
  const CommandRun again = run_command(in_dir(corpus_ + " rank c c/testresults.txt"));
  EXPECT_EQ(rate(again.output, "rank-1"), rate(rated.output, "rank-1")) << again.output;
  EXPECT_NE(again.output.find("header lines: 4"), std::string::npos) << again.output;
}

TEST_F(CorpusEndToEnd, ExtractsPrintOneLinePerAspect) {
  const CommandRun made =
      run_command(in_dir(corpus_ + " extracts x --animals 2 --sightings 2 --seed 4"));
  ASSERT_EQ(made.exit_code, 0) << made.output;
  // One line per aspect, in table order, then where the files went.
  size_t at = 0;
  for (const char* line :
       {"Spotted (SP, black_dots, lateral): 2 animals, 4 extracts (2 pending, 2 library), ",
        "Pale (PL, white_dots, lateral): 2 animals, 4 extracts (2 pending, 2 library), ",
        "Ringed (RG, black_rings, lateral): 2 animals, 4 extracts (2 pending, 2 library), ",
        "Reticulated (RT, black_stripe, lateral): 2 animals, 4 extracts (2 pending, 2 library), ",
        "Back (BK, black_dots, Dorsal): 2 animals, 4 extracts (2 pending, 2 library), ",
        "bundles in x/bundles, data folder x/data (database x/data/seals.sqlite), truth "
        "x/corpus.txt (seed 4)\n"}) {
    const size_t found = made.output.find(line, at);
    ASSERT_NE(found, std::string::npos) << line << "\n" << made.output;
    EXPECT_TRUE(found == 0 || made.output[found - 1] == '\n') << line;
    at = found + 1;
  }
  EXPECT_TRUE(fs::exists(dir_ / "x/bundles/GS0001_02_SP/extract.ini"));
  CommandRun r = run_command(in_dir(corpus_ + " extracts x"));  // the folder is in use now
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("not an empty folder"), std::string::npos) << r.output;
  r = run_command(in_dir(corpus_ + " extracts y --sightings 1"));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_FALSE(fs::exists(dir_ / "y"));
}

// The extract chain: synthetic extract bundles of every pattern, processed
// by velmora-extract as the workstation would, then compared by tarvikx
// from the fingerprints the processing wrote, aspect by aspect.
TEST_F(CorpusEndToEnd, ProcessedExtractsOfEveryPatternIdentifyTheirAnimals) {
  const std::string extract = testing::built_program("velmora-extract");
  if (extract.empty()) GTEST_SKIP() << "velmora-extract is not part of this build";
  const CommandRun made =
      run_command(in_dir(corpus_ + " extracts x --animals 6 --sightings 2 --seed 5"));
  ASSERT_EQ(made.exit_code, 0) << made.output;
  const std::pair<const char*, const char*> aspects[] = {
      {"Spotted", "SP"}, {"Pale", "PL"}, {"Ringed", "RG"}, {"Reticulated", "RT"}, {"Back", "BK"}};
  std::string results;
  for (const auto& [aspect, letter] : aspects) {
    SCOPED_TRACE(aspect);
    const CommandRun processed = run_command(
        in_dir(extract + " features x/bundles/*_" + letter +
               " --data-folder x/data --database x/data/seals.sqlite --aspect " + aspect));
    ASSERT_EQ(processed.exit_code, 0) << processed.output;
    EXPECT_NE(processed.output.find("12 of 12 extracts saved"), std::string::npos)
        << processed.output;
    const std::string list = std::string("_") + letter + ".txt";
    const CommandRun compared =
        run_command(in_dir("cd x/data && " + tarvikx_ + " oldlib/ pending" + list +
                           " oldlib/ library" + list + " results" + list + " tarvik.ini false"));
    ASSERT_EQ(compared.exit_code, 0) << compared.output;
    results += "results" + list + " ";
  }
  ASSERT_EQ(run_command(in_dir("cd x/data && cat " + results + "> all.txt")).exit_code, 0);
  const CommandRun rated = run_command(in_dir(corpus_ + " rank x x/data/all.txt"));
  ASSERT_EQ(rated.exit_code, 0) << rated.output;
  EXPECT_GE(rate(rated.output, "rank-1"), 90.0) << rated.output;
}

// The photograph chain of the main job on a small season: photographs,
// fits from the operator's fit files, extract processing, the library's
// statistics, the batch comparison side by side and the rating per side.
TEST_F(CorpusEndToEnd, APhotographSeasonIsIdentifiedSideBySide) {
  const std::string fit = testing::built_program("velmora-fit");
  const std::string extract = testing::built_program("velmora-extract");
  const std::string batch = testing::built_program("velmora-batch");
  if (fit.empty() || extract.empty() || batch.empty())
    GTEST_SKIP() << "velmora-fit, velmora-extract or velmora-batch is not part of this build";
  const std::string sqlite = "sqlite3 p/seals.sqlite ";
  CommandRun r = run_command(in_dir(corpus_ + " photos p --animals 4 --sightings 3 --seed 3"));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("4 new photographs waiting for extraction (E), 8 of the library (L)"),
            std::string::npos)
      << r.output;
  // Nothing to estimate before the library is fitted, nothing to rate before
  // a comparison.
  r = run_command(in_dir(corpus_ + " stats p"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("8 library extracts, 8 without a side"), std::string::npos) << r.output;
  r = run_command(in_dir(corpus_ + " candidates p"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("temp ranks no pending extract"), std::string::npos) << r.output;

  // Every photograph with its fit file, as the main job lists them.
  std::string jobs;
  std::map<std::string, std::string> true_side;
  for (const std::string& line : testing::read_lines(dir_ / "p/truth.txt")) {
    if (line.empty() || line[0] == ';') continue;
    const std::string cell = line.substr(0, line.find(' '));
    const std::string image = cell.substr(0, cell.rfind('_'));
    jobs += " p/newpics/" + image + ".jpg p/savedraw/" + cell + " p/bundles/" + cell;
    true_side[cell] = line.substr(line.find(' ', cell.size() + 1) + 1, 1);
  }
  ASSERT_EQ(true_side.size(), 12u);
  std::map<std::string, int> flanks;
  for (const auto& [cell, side] : true_side) ++flanks[side];
  EXPECT_EQ(flanks.size(), 2u) << "the season shows both flanks";
  const std::string folders = " --data-folder p --database p/seals.sqlite --aspect Flank";
  r = run_command(in_dir("mkdir p/bundles && " + fit + " extract" + jobs + folders + " --accept"));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("12 of 12 photographs extracted"), std::string::npos) << r.output;
  r = run_command(in_dir(extract + " features p/bundles/*" + folders));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("12 of 12 extracts saved, 8 kept their state"), std::string::npos)
      << r.output;
  // The new extracts pending, the library still the library; every side
  // the fits recorded is the flank photographed.
  r = run_command(in_dir(
      sqlite + "\"SELECT AutoMatch, count(*) FROM cells WHERE aspect = 'Flank' GROUP BY 1\""));
  EXPECT_EQ(r.output, "L|8\nP|4\n");
  r = run_command(in_dir(
      sqlite + "\"SELECT cell || ' ' || side FROM cells WHERE aspect = 'Flank' ORDER BY cell\""));
  std::string sides;
  for (const auto& [cell, side] : true_side) sides += cell + " " + side + "\n";
  EXPECT_EQ(r.output, sides);

  r = run_command(in_dir(corpus_ + " stats p"));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  r = run_command(in_dir(sqlite + "\"SELECT count(*) FROM stats WHERE rmu_match > rmu_nonmatch\""));
  EXPECT_EQ(r.output, "1\n");
  r = run_command(in_dir(sqlite + "\"SELECT count(*) FROM cells WHERE aspect = 'LegCode' AND "
                                  "AutoMatch = 'P'\""));
  const int legcode_pending = std::atoi(r.output.c_str());
  EXPECT_GT(legcode_pending, 0) << "the season has pending leg-code extracts";
  r = run_command(
      in_dir(batch + " --data-folder p --database p/seals.sqlite --working-folder p/work"));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("aspects and sides compared: 2"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("extracts moved to V:        4"), std::string::npos) << r.output;
  // The season names every family: each ran through velmora-batch, and the
  // results of each reached temp under its own letter (the correlation's
  // and the spot score's both under the correlation letter c; the leg codes
  // under h for the leg-code extracts).
  for (const char* family : {"\ntarvik comparison\n", "\ncorrelation and spot comparison\n",
                             "\nleg-code comparison\n", "\nkey-point comparison\n"}) {
    EXPECT_NE(r.output.find(family), std::string::npos) << family << r.output;
  }
  EXPECT_EQ(r.output.find("not available"), std::string::npos) << r.output;
  r = run_command(in_dir(sqlite + "\"SELECT substr(pname, instr(pname, '.') + 1) AS letter, "
                                  "count(DISTINCT pname) FROM temp GROUP BY 1 ORDER BY 1\""));
  EXPECT_EQ(r.output, "a|4\nc|4\nh|" + std::to_string(legcode_pending) + "\nk|4\n") << r.output;
  r = run_command(in_dir(sqlite + "\"SELECT AutoMatch, count(*) FROM cells GROUP BY 1\""));
  EXPECT_EQ(r.output.find("P|"), std::string::npos) << "every pending extract compared\n"
                                                    << r.output;

  r = run_command(in_dir(corpus_ + " candidates p"));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("pending extracts with candidates: 4 of 4"), std::string::npos)
      << r.output;
  EXPECT_GE(rate(r.output, "rank-1"), 75.0) << r.output;
  EXPECT_GE(rate(r.output, "rank-10"), 100.0) << r.output;
  // Each side's pending extracts, counted under their own side.
  for (const char* side : {"L", "R"}) {
    const std::string of = " of " + std::to_string(flanks[side] / 3) + "), rank-10 ";
    EXPECT_NE(r.output.find("  side " + std::string(side) + ": rank-1 "), std::string::npos);
    EXPECT_NE(r.output.find(of, r.output.find("  side " + std::string(side))), std::string::npos)
        << side << "\n"
        << r.output;
  }
  EXPECT_EQ(r.output.find("no side recorded"), std::string::npos) << r.output;
  // Each letter rated on its own rows; the spot letter has none, its scores
  // went under the correlation letter.
  for (const char* line : {"\n  a   tarvik       rank-1 ", "\n  c   compnew_corr rank-1 ",
                           "\n  s   compnew_spot no temp rows", "\n  h   legcode      rank-1 ",
                           "\n  k   CompSift     rank-1 "}) {
    EXPECT_NE(r.output.find(line), std::string::npos) << line << r.output;
  }
}

TEST_F(CorpusEndToEnd, CommandLineErrorsAreExplained) {
  CommandRun r = run_command(corpus_);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.output.find("Usage:"), std::string::npos);
  r = run_command(in_dir(corpus_ + " make c --animals many"));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.output.find("bad value 'many' for --animals"), std::string::npos) << r.output;
  r = run_command(in_dir(corpus_ + " make c --sightings 1"));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.output.find("sightings per animal"), std::string::npos) << r.output;
  r = run_command(in_dir(corpus_ + " make c --colour red"));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_FALSE(fs::exists(dir_ / "c"));
  r = run_command(in_dir(corpus_ + " rank nowhere"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("cannot open the corpus manifest nowhere/corpus.txt"), std::string::npos)
      << r.output;
  ASSERT_EQ(run_command(in_dir(corpus_ + " make c --animals 2 --sightings 2")).exit_code, 0);
  r = run_command(in_dir(corpus_ + " rank c"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("cannot open the results file c/testresults.txt"), std::string::npos)
      << r.output;
  r = run_command(in_dir(corpus_ + " make c"));  // the folder is in use now
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("not an empty folder"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace velmora

// The velmora-corpus command line, parsed without running the program:
// commands, options and their defaults, help, and the refusals (exit 2).
#include "tools/corpus/corpus_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "testing/command_line.h"

namespace velmora::corpus {
namespace {

using Parsed = testing::ParsedCommandLine<CorpusCommandLine>;

Parsed parse(std::vector<const char*> args) {
  return testing::parse_command_line(parse_corpus_command_line, "velmora-corpus", std::move(args));
}

TEST(CorpusCommandLine, MakeTakesItsOptionsAndKeepsTheDefaultsOfTheRest) {
  Parsed p = parse({"make", "c"});
  ASSERT_EQ(p.code, -1) << p.err;
  EXPECT_EQ(p.line.command, "make");
  EXPECT_EQ(p.line.folder, "c");
  const CorpusOptions defaults;
  EXPECT_EQ(p.line.corpus.animals, defaults.animals);
  EXPECT_EQ(p.line.corpus.sightings, defaults.sightings);
  EXPECT_EQ(p.line.corpus.seed, defaults.seed);
  EXPECT_EQ(p.line.corpus.aspect_letter, defaults.aspect_letter);
  EXPECT_EQ(p.line.corpus.model.noise, defaults.model.noise);
  EXPECT_EQ(p.line.corpus.model.max_quadrant_shift, defaults.model.max_quadrant_shift);
  EXPECT_EQ(p.line.corpus.model.max_rotation, defaults.model.max_rotation);

  p = parse({"make", "c", "--animals", "25", "--sightings", "4", "--seed", "18446744073709551615",
             "--aspect", "FL", "--noise", "9", "--quadrant-shift", "3", "--rotation", "5.5"});
  ASSERT_EQ(p.code, -1) << p.err;
  EXPECT_EQ(p.line.corpus.animals, 25);
  EXPECT_EQ(p.line.corpus.sightings, 4);
  EXPECT_EQ(p.line.corpus.seed, 18446744073709551615ull);
  EXPECT_EQ(p.line.corpus.aspect_letter, "FL");
  EXPECT_EQ(p.line.corpus.model.noise, 9.0);
  EXPECT_EQ(p.line.corpus.model.max_quadrant_shift, 3.0);
  EXPECT_EQ(p.line.corpus.model.max_rotation, 5.5);

  // Given twice, the last one counts (scripts append their own options).
  p = parse({"make", "c", "--animals", "30", "--animals", "40"});
  ASSERT_EQ(p.code, -1) << p.err;
  EXPECT_EQ(p.line.corpus.animals, 40);
}

TEST(CorpusCommandLine, DataTakesItsOptionsAndKeepsTheDefaultsOfTheRest) {
  Parsed p = parse({"data", "d"});
  ASSERT_EQ(p.code, -1) << p.err;
  EXPECT_EQ(p.line.command, "data");
  EXPECT_EQ(p.line.folder, "d");
  const DataFolderOptions defaults;
  EXPECT_EQ(p.line.data.corpus.animals, defaults.corpus.animals);
  EXPECT_EQ(p.line.data.corpus.sightings, defaults.corpus.sightings);
  EXPECT_EQ(p.line.data.corpus.aspect_letter, "FL");
  EXPECT_EQ(p.line.data.letter, defaults.letter);
  EXPECT_EQ(p.line.data.calibration_animals, defaults.calibration_animals);

  // As tools/main-job.sh calls it.
  p = parse({"data", "build/demo-data", "--animals", "200", "--sightings", "3", "--seed", "1",
             "--noise", "9", "--quadrant-shift", "3", "--rotation", "5", "--letter", "b",
             "--calibration-animals", "20"});
  ASSERT_EQ(p.code, -1) << p.err;
  EXPECT_EQ(p.line.folder, "build/demo-data");
  EXPECT_EQ(p.line.data.corpus.animals, 200);
  EXPECT_EQ(p.line.data.corpus.sightings, 3);
  EXPECT_EQ(p.line.data.corpus.seed, 1u);
  EXPECT_EQ(p.line.data.corpus.model.noise, 9.0);
  EXPECT_EQ(p.line.data.corpus.model.max_quadrant_shift, 3.0);
  EXPECT_EQ(p.line.data.corpus.model.max_rotation, 5.0);
  EXPECT_EQ(p.line.data.letter, "b");
  EXPECT_EQ(p.line.data.calibration_animals, 20);
}

TEST(CorpusCommandLine, ExtractsTakesItsOptionsAndKeepsTheDefaultsOfTheRest) {
  Parsed p = parse({"extracts", "x"});
  ASSERT_EQ(p.code, -1) << p.err;
  EXPECT_EQ(p.line.command, "extracts");
  EXPECT_EQ(p.line.folder, "x");
  const ExtractCorpusOptions defaults;
  EXPECT_EQ(p.line.extracts.animals, defaults.animals);
  EXPECT_EQ(p.line.extracts.sightings, defaults.sightings);
  EXPECT_EQ(p.line.extracts.seed, defaults.seed);

  p = parse(
      {"extracts", "x", "--animals", "40", "--sightings", "4", "--seed", "7", "--animals", "50"});
  ASSERT_EQ(p.code, -1) << p.err;
  EXPECT_EQ(p.line.extracts.animals, 50);
  EXPECT_EQ(p.line.extracts.sightings, 4);
  EXPECT_EQ(p.line.extracts.seed, 7u);
  // The other commands' options are theirs alone.
  EXPECT_EQ(p.line.corpus.animals, CorpusOptions().animals);
  EXPECT_EQ(p.line.data.corpus.animals, DataFolderOptions().corpus.animals);
}

TEST(CorpusCommandLine, PhotosTakesItsOptionsAndKeepsTheDefaultsOfTheRest) {
  Parsed p = parse({"photos", "p"});
  ASSERT_EQ(p.code, -1) << p.err;
  EXPECT_EQ(p.line.command, "photos");
  EXPECT_EQ(p.line.folder, "p");
  const PhotoCorpusOptions defaults;
  EXPECT_EQ(p.line.photos.animals, defaults.animals);
  EXPECT_EQ(p.line.photos.sightings, defaults.sightings);
  EXPECT_EQ(p.line.photos.seed, defaults.seed);
  EXPECT_EQ(p.line.photos.hard, defaults.hard);
  EXPECT_FALSE(defaults.hard);
  EXPECT_EQ(p.line.photos.models_folder, "");

  p = parse({"photos", "p", "--animals", "100", "--sightings", "2", "--seed", "9"});
  ASSERT_EQ(p.code, -1) << p.err;
  EXPECT_EQ(p.line.photos.animals, 100);
  EXPECT_EQ(p.line.photos.sightings, 2);
  EXPECT_EQ(p.line.photos.seed, 9u);
  EXPECT_FALSE(p.line.photos.hard);
  EXPECT_EQ(p.line.extracts.animals, ExtractCorpusOptions().animals);

  p = parse({"photos", "p", "--hard"});
  ASSERT_EQ(p.code, -1) << p.err;
  EXPECT_TRUE(p.line.photos.hard);
  EXPECT_EQ(p.line.photos.animals, defaults.animals);
}

TEST(CorpusCommandLine, RankAndCandidatesDefaultToFilesInTheFolder) {
  struct Case {
    std::vector<const char*> args;
    std::string command, folder, results, database;
    int show, top;
  };
  const std::vector<Case> cases = {
      {{"rank", "c"}, "rank", "c", "c/testresults.txt", "", 5, 5},
      {{"rank", "c", "r.txt"}, "rank", "c", "r.txt", "", 5, 5},
      {{"candidates", "d"}, "candidates", "d", "", "d/seals.sqlite", 5, 5},
      {{"candidates", "d", "x.sqlite", "--show", "3"}, "candidates", "d", "", "x.sqlite", 3, 5},
      {{"candidates", "--top", "0", "d"}, "candidates", "d", "", "d/seals.sqlite", 5, 0},
  };
  for (const Case& c : cases) {
    const Parsed p = parse(c.args);
    SCOPED_TRACE(c.command + " " + c.folder);
    ASSERT_EQ(p.code, -1) << p.err;
    EXPECT_EQ(p.line.command, c.command);
    EXPECT_EQ(p.line.folder, c.folder);
    EXPECT_EQ(p.line.results, c.results);
    EXPECT_EQ(p.line.database, c.database);
    EXPECT_EQ(p.line.show, c.show);
    EXPECT_EQ(p.line.top, c.top);
  }
}

TEST(CorpusCommandLine, StatsTakesTheFolderTheDatabaseTheAspectAndTheAnimals) {
  struct Case {
    std::vector<const char*> args;
    std::string database, aspect;
    int animals;
  };
  const LibraryStatsOptions defaults;
  const std::vector<Case> cases = {
      {{"stats", "d"}, "d/seals.sqlite", defaults.aspect, defaults.calibration_animals},
      {{"stats", "d", "x.sqlite", "--aspect", "Head", "--calibration-animals", "7"},
       "x.sqlite",
       "Head",
       7},
  };
  for (const Case& c : cases) {
    const Parsed p = parse(c.args);
    SCOPED_TRACE(c.database);
    ASSERT_EQ(p.code, -1) << p.err;
    EXPECT_EQ(p.line.command, "stats");
    EXPECT_EQ(p.line.stats.data_folder, "d");
    EXPECT_EQ(p.line.stats.database, c.database);
    EXPECT_EQ(p.line.stats.aspect, c.aspect);
    EXPECT_EQ(p.line.stats.calibration_animals, c.animals);
  }
}

TEST(CorpusCommandLine, HelpIsTheUsageOnStandardOutput) {
  for (const std::vector<const char*>& args :
       std::vector<std::vector<const char*>>{{"--help"}, {"-h"}, {"help"}, {"make", "--help"}}) {
    const Parsed p = parse(args);
    EXPECT_EQ(p.code, 0) << args[0];
    EXPECT_EQ(p.out, kCorpusUsage);
    EXPECT_EQ(p.err, "");
  }
}

TEST(CorpusCommandLine, WrongCommandLinesExitWithTwoAndTheUsage) {
  struct Case {
    std::vector<const char*> args;
    std::string message;  // the complaint's line on standard error
  };
  const std::vector<Case> cases = {
      {{}, "A subcommand is required"},
      {{"draw", "c"}, "unknown command 'draw'"},
      {{"make"}, "DIR is required"},
      {{"make", "c", "--animals", "many"}, "bad value 'many' for --animals"},
      {{"make", "c", "--animals", "12x"}, "bad value '12x' for --animals"},
      {{"make", "c", "--seed", "-1"}, "bad value '-1' for --seed"},
      {{"make", "c", "--noise"}, "--noise: 1 required FLOAT missing"},
      {{"candidates", "d", "--show"}, "--show: 1 required INT missing"},
      {{"make", "c", "--colour", "red"}, "The following arguments were not expected: red --colour"},
      {{"make", "c", "--letter", "b"}, "The following arguments were not expected: b --letter"},
      {{"make", "c", "--sightings", "1"},
       "the number of sightings per animal must be from 2 to 99"},
      {{"make", "c", "--aspect", "X"},
       "the aspect letter must be two characters usable in a file name"},
      {{"data", "e", "--sightings", "2"},
       "the data folder needs at least 3 sightings per animal: one pending and two in the "
       "library, whose pair the match statistics are estimated from"},
      {{"data", "e", "--letter", "h"}, "the algorithm letter h belongs to the leg-code comparison"},
      {{"data", "e", "--calibration-animals", "1"},
       "the number of calibration animals must be from 2 to 200"},
      {{"extracts"}, "DIR is required"},
      {{"extracts", "x", "--animals", "1"},
       "the number of animals per aspect must be from 2 to 1999"},
      {{"extracts", "x", "--sightings", "100"},
       "the number of sightings per animal must be from 2 to 99"},
      {{"extracts", "x", "--seed", "1.5"}, "bad value '1.5' for --seed"},
      {{"extracts", "x", "--noise", "2"}, "The following arguments were not expected: 2 --noise"},
      {{"photos"}, "DIR is required"},
      {{"photos", "p", "--animals", "0"}, "the number of animals must be from 1 to 9999"},
      {{"photos", "p", "--sightings", "100"}, "the number of sightings must be from 1 to 99"},
      {{"photos", "p", "--noise", "2"}, "The following arguments were not expected: 2 --noise"},
      {{"stats"}, "DATA is required"},
      {{"stats", "d", "--calibration-animals", "201"},
       "the number of calibration animals must be from 2 to 200"},
      {{"stats", "d", "--calibration-animals", "1"},
       "the number of calibration animals must be from 2 to 200"},
      {{"rank"}, "DIR is required"},
      {{"rank", "c", "r.txt", "extra"}, "The following argument was not expected: extra"},
      {{"candidates", "d", "--show", "many"}, "bad value 'many' for --show"},
      {{"candidates", "d", "--top", "-1"}, "bad value '-1' for --top"},
  };
  for (const Case& c : cases) {
    const Parsed p = parse(c.args);
    SCOPED_TRACE(c.message);
    EXPECT_EQ(p.code, 2);
    EXPECT_EQ(p.err, "velmora-corpus: " + c.message + "\n" + kCorpusUsage);
    EXPECT_EQ(p.out, "");
  }
}

}  // namespace
}  // namespace velmora::corpus

// End to end: velmora-corpus makes a corpus, the built tarvikx compares it,
// velmora-corpus rates the run; velmora-corpus makes a data folder, the
// headless batch comparison velmora-batch runs on it, velmora-corpus rates
// table temp. Paths of the programs come from the build (TARVIKX_BINARY,
// CORPUS_BINARY, VELMORA_BATCH_BINARY); each test works in its own temporary
// folder.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

struct Outcome {
  int code = -1;
  std::string out;  // stdout and stderr together
};

Outcome run_command(const std::string& command) {
  Outcome r;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = ::pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// The percentage in "rank-N identification rate: 96.0 % (…)".
double rate(const std::string& out, const std::string& label) {
  const size_t at = out.find(label + " identification rate: ");
  if (at == std::string::npos) return -1;
  return std::atof(out.c_str() + at + label.size() + 22);
}

class CorpusEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    tarvikx_ = env("TARVIKX_BINARY");
    corpus_ = env("CORPUS_BINARY");
    ASSERT_FALSE(corpus_.empty()) << "CORPUS_BINARY not set";
    dir_ = fs::temp_directory_path() /
           ("corpus_e2e_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string in_dir(const std::string& command) {
    return "cd '" + dir_.string() + "' && " + command;
  }

  std::string tarvikx_, corpus_;
  fs::path dir_;
};

TEST_F(CorpusEndToEnd, BatchComparisonOfTheDataFolderRanksTheRightAnimalFirst) {
  const std::string batch = env("VELMORA_BATCH_BINARY");
  if (batch.empty()) GTEST_SKIP() << "velmora-batch is not part of this build";
  const Outcome made = run_command(
      in_dir(corpus_ + " data d --animals 20 --sightings 3 --seed 4 --calibration-animals 20"));
  ASSERT_EQ(made.code, 0) << made.out;
  EXPECT_NE(made.out.find("20 pending and 40 library extracts"), std::string::npos) << made.out;

  const Outcome compared = run_command(
      in_dir(batch + " --data-folder d --database d/seals.sqlite --working-folder d/work"));
  ASSERT_EQ(compared.code, 0) << compared.out;
  EXPECT_NE(compared.out.find("extracts moved to V:        20"), std::string::npos) << compared.out;

  const Outcome rated = run_command(in_dir(corpus_ + " candidates d d/seals.sqlite --show 3"));
  ASSERT_EQ(rated.code, 0) << rated.out;
  EXPECT_NE(rated.out.find("pending extracts with candidates: 20 of 20"), std::string::npos)
      << rated.out;
  // As with tarvikx alone: the corpus is made to be identifiable, so nearly
  // every pending extract must have its own animal first in temp. Lost rows,
  // a wrong pair order or a swapped pname and fname drop this sharply.
  EXPECT_GE(rate(rated.out, "rank-1"), 90.0) << rated.out;
  EXPECT_GE(rate(rated.out, "rank-10"), 100.0) << rated.out;
  EXPECT_NE(rated.out.find("best candidates of 3 pending extracts"), std::string::npos)
      << rated.out;
  EXPECT_NE(rated.out.find(" *\n"), std::string::npos) << rated.out;

  // A wrong database or folder is named; bad options are refused and a used
  // folder is not written into.
  Outcome r = run_command(in_dir(corpus_ + " candidates d nowhere.sqlite"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("nowhere.sqlite"), std::string::npos) << r.out;
  r = run_command(in_dir(corpus_ + " candidates absent"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("absent/corpus.txt"), std::string::npos) << r.out;
  r = run_command(in_dir(corpus_ + " candidates d --show many"));
  EXPECT_EQ(r.code, 2);
  r = run_command(in_dir(corpus_ + " data e --sightings 2"));
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.out.find("at least 3 sightings"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(dir_ / "e"));
  r = run_command(in_dir(corpus_ + " data d"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("not an empty folder"), std::string::npos) << r.out;
}

TEST_F(CorpusEndToEnd, SameAnimalRanksFirst) {
  ASSERT_FALSE(tarvikx_.empty()) << "TARVIKX_BINARY not set";
  const Outcome made = run_command(in_dir(corpus_ + " make c --animals 25 --sightings 3 --seed 3"));
  ASSERT_EQ(made.code, 0) << made.out;
  EXPECT_NE(made.out.find("25 animals x 3 sightings written to c"), std::string::npos) << made.out;
  const Outcome compared = run_command(
      in_dir("cd c && " + tarvikx_ +
             " oldlib/ pending.txt oldlib/ library.txt testresults.txt tarvik.ini false"));
  ASSERT_EQ(compared.code, 0) << compared.out;
  const Outcome rated = run_command(in_dir(corpus_ + " rank c"));
  ASSERT_EQ(rated.code, 0) << rated.out;
  EXPECT_NE(
      rated.out.find("probes: 25 pending sightings against 50 library sightings of 25 animals"),
      std::string::npos)
      << rated.out;
  EXPECT_NE(rated.out.find("other lines: 0\n"), std::string::npos) << rated.out;
  // The corpus is made to be identifiable: a sighting scores far above other
  // animals, so nearly every probe must rank first. A fault in the writer's
  // normalisation, its geometry or the corpus's shifts drops this sharply.
  EXPECT_GE(rate(rated.out, "rank-1"), 90.0) << rated.out;
  EXPECT_GE(rate(rated.out, "rank-10"), 100.0) << rated.out;

  // A second comparison appends to the results; the rates stay the same,
  // since an animal's score is the best of its lines.
  ASSERT_EQ(run_command(
                in_dir("cd c && " + tarvikx_ +
                       " oldlib/ pending.txt oldlib/ library.txt testresults.txt tarvik.ini false"))
                .code,
            0);
  const Outcome again = run_command(in_dir(corpus_ + " rank c c/testresults.txt"));
  EXPECT_EQ(rate(again.out, "rank-1"), rate(rated.out, "rank-1")) << again.out;
  EXPECT_NE(again.out.find("header lines: 4"), std::string::npos) << again.out;
}

TEST_F(CorpusEndToEnd, CommandLineErrorsAreExplained) {
  Outcome r = run_command(corpus_);
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.out.find("Usage:"), std::string::npos);
  r = run_command(in_dir(corpus_ + " make c --animals many"));
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.out.find("bad value 'many' for --animals"), std::string::npos) << r.out;
  r = run_command(in_dir(corpus_ + " make c --sightings 1"));
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.out.find("sightings per animal"), std::string::npos) << r.out;
  r = run_command(in_dir(corpus_ + " make c --colour red"));
  EXPECT_EQ(r.code, 2);
  EXPECT_FALSE(fs::exists(dir_ / "c"));
  r = run_command(in_dir(corpus_ + " rank nowhere"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("cannot open the corpus manifest nowhere/corpus.txt"), std::string::npos)
      << r.out;
  ASSERT_EQ(run_command(in_dir(corpus_ + " make c --animals 2 --sightings 2")).code, 0);
  r = run_command(in_dir(corpus_ + " rank c"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("cannot open the results file c/testresults.txt"), std::string::npos)
      << r.out;
  r = run_command(in_dir(corpus_ + " make c"));  // the folder is in use now
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("not an empty folder"), std::string::npos) << r.out;
}

}  // namespace

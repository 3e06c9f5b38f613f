#include "tools/corpus/corpus_writer.h"

#include <gtest/gtest.h>

#include <cmath>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "compare/fingerprint.h"
#include "compare/run_file.h"
#include "testing/files.h"
#include "testing/in_temp_folder.h"
#include "tools/corpus/run_file.h"

namespace velmora::corpus {
namespace {

namespace fs = std::filesystem;
using testing::read_file;

using CorpusFolder = testing::InTempFolder;

CorpusOptions small_options() {
  CorpusOptions o;
  o.animals = 4;
  o.sightings = 3;
  o.seed = 9;
  return o;
}

TEST(CorpusPlan, NamesAnimalsAndRoles) {
  CorpusOptions o = small_options();
  o.aspect_letter = "RT";
  const std::vector<CorpusSighting> plan = plan_corpus(o);
  ASSERT_EQ(plan.size(), 12u);
  EXPECT_EQ(plan[0].cell, "GS0001_01RT");
  EXPECT_EQ(plan[0].animal, "GS0001");
  EXPECT_TRUE(plan[0].pending);
  EXPECT_EQ(plan[5].cell, "GS0002_03RT");
  EXPECT_FALSE(plan[5].pending);
  std::set<std::string> cells;
  int pending = 0;
  for (const CorpusSighting& c : plan) {
    cells.insert(c.cell);
    pending += c.pending;
    EXPECT_EQ(c.cell.substr(c.cell.size() - 2), "RT");  // aspect letter ends the cell name
    EXPECT_EQ(c.cell.find('.'), std::string::npos);     // nothing for the self-pair rule to cut
  }
  EXPECT_EQ(cells.size(), plan.size());
  EXPECT_EQ(pending, 4);
}

TEST(CorpusPlan, RefusesUnusableOptions) {
  CorpusOptions o = small_options();
  EXPECT_EQ(check_options(o), "");
  o.animals = 1;
  EXPECT_NE(check_options(o), "");
  o = small_options();
  o.sightings = 1;  // nothing left for the library
  EXPECT_NE(check_options(o), "");
  o.sightings = 100;
  EXPECT_NE(check_options(o), "");
  for (const char* bad : {"B", "BLX", "B/", "B.", "B;", "[]"}) {
    o = small_options();
    o.aspect_letter = bad;
    EXPECT_NE(check_options(o), "") << bad;
  }
  o = small_options();
  o.model.noise = 9;
  o.model.max_quadrant_shift = 3;
  o.model.max_rotation = 5;
  EXPECT_EQ(check_options(o), "");
  o.model.noise = -1;
  EXPECT_NE(check_options(o), "");
  o.model.noise = std::nan("");
  EXPECT_NE(check_options(o), "");
  o = small_options();
  o.model.max_quadrant_shift = 7;  // past what the run file's tolerances accept
  EXPECT_NE(check_options(o), "");
  o = small_options();
  o.model.max_rotation = 45;
  EXPECT_NE(check_options(o), "");
}

TEST_F(CorpusFolder, WritesFingerprintsListsRunFileAndManifest) {
  const CorpusOptions o = small_options();
  ASSERT_TRUE(write_corpus("c", o).ok());

  tarvik::FileList pending, library;
  ASSERT_TRUE(tarvik::read_file_list("c/pending.txt", pending));
  ASSERT_TRUE(tarvik::read_file_list("c/library.txt", library));
  EXPECT_EQ(pending.names,
            (std::vector<std::string>{"GS0001_01BL", "GS0002_01BL", "GS0003_01BL", "GS0004_01BL"}));
  EXPECT_EQ(library.names.size(), 8u);

  std::vector<CorpusSighting> manifest;
  ASSERT_TRUE(read_manifest("c/corpus.txt", &manifest).ok());
  const std::vector<CorpusSighting> plan = plan_corpus(o);
  ASSERT_EQ(manifest.size(), plan.size());
  for (size_t i = 0; i < plan.size(); ++i) {
    EXPECT_EQ(manifest[i].cell, plan[i].cell);
    EXPECT_EQ(manifest[i].animal, plan[i].animal);
    EXPECT_EQ(manifest[i].pending, plan[i].pending);
    tarvik::Fingerprint fp;
    tarvik::SubCellLayout layout;
    ASSERT_EQ(tarvik::read_fingerprint("c/oldlib/" + plan[i].cell, fp,
                                       tarvik::kLoadImage | tarvik::kLoadNormTable, &layout),
              tarvik::kReadOk);
    const std::vector<uint8_t> img = sighting_image(o, plan[i].animal_number, plan[i].sighting);
    for (int r = 1; r <= 64; ++r)
      for (int c = 1; c <= 64; ++c) ASSERT_EQ(fp.image(r, c), img[(r - 1) * 64 + (c - 1)]);
    for (int k = 0; k < 4; ++k) EXPECT_GT(layout.sub_scale[k], 0.0f) << plan[i].cell;
    tarvik::release_fingerprint(fp);
  }

  tarvik::RunFile run;
  ASSERT_TRUE(tarvik::read_run_file("c/tarvik.ini", run));
  const RunConstants k = corpus_run_constants();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(run.row_model.a[i], k.row_model[0][i]);
    EXPECT_EQ(run.row_model.b[i], k.row_model[1][i]);
    EXPECT_EQ(run.row_model.c[i], k.row_model[2][i]);
    EXPECT_EQ(run.col_model.c[i], k.column_model[2][i]);
    EXPECT_EQ(run.row_tol[i], k.row_tolerance[i]);
    EXPECT_EQ(run.col_tol[i], k.column_tolerance[i]);
  }
  EXPECT_EQ(run.threshold, k.threshold);
  EXPECT_EQ(run.peaks_per_subcell, k.peaks);
  EXPECT_EQ(run.margin, k.margin);
  // The margin keeps the final correlation inside the image.
  EXPECT_LE(k.margin, 64 / 4);
}

TEST_F(CorpusFolder, SameSeedSameBytes) {
  CorpusOptions o = small_options();
  ASSERT_TRUE(write_corpus("a", o).ok());
  ASSERT_TRUE(write_corpus("b", o).ok());
  o.seed = 10;
  ASSERT_TRUE(write_corpus("c", o).ok());
  for (const char* name : {"pending.txt", "library.txt", "tarvik.ini", "oldlib/GS0003_02BL"})
    EXPECT_EQ(read_file(fs::path("a") / name), read_file(fs::path("b") / name)) << name;
  EXPECT_NE(read_file("a/oldlib/GS0003_02BL"), read_file("c/oldlib/GS0003_02BL"));
  // A sighting does not depend on how many animals the corpus holds.
  o = small_options();
  o.animals = 2;
  ASSERT_TRUE(write_corpus("d", o).ok());
  EXPECT_EQ(read_file("a/oldlib/GS0002_03BL"), read_file("d/oldlib/GS0002_03BL"));
}

TEST_F(CorpusFolder, RefusesUsedFolderAndOverlongPaths) {
  fs::create_directory("used");
  std::ofstream("used/x") << "keep";
  const Status used = write_corpus("used", small_options());
  EXPECT_FALSE(used.ok());
  EXPECT_NE(used.message().find("not an empty folder"), std::string::npos);
  EXPECT_EQ(read_file("used/x"), "keep");

  const Status longer = write_corpus(std::string(70, 'd'), small_options());
  EXPECT_FALSE(longer.ok());
  EXPECT_NE(longer.message().find("79 characters"), std::string::npos) << longer.message();
}

TEST_F(CorpusFolder, ManifestErrorsNameTheLine) {
  std::vector<CorpusSighting> m;
  EXPECT_EQ(read_manifest("absent.txt", &m).code(), Status::Code::kNotFound);
  std::ofstream("bad.txt") << "; comment\nGS1 A pending\nGS2 A visitor\n";
  const Status s = read_manifest("bad.txt", &m);
  EXPECT_EQ(s.code(), Status::Code::kCorruption);
  EXPECT_NE(s.message().find("line 3"), std::string::npos) << s.message();
  std::ofstream("extra.txt") << "GS1 A pending more\n";
  EXPECT_FALSE(read_manifest("extra.txt", &m).ok());
  std::ofstream("empty.txt") << "; nothing\n\n";
  EXPECT_FALSE(read_manifest("empty.txt", &m).ok());
  std::ofstream("crlf.txt") << "GS1 A pending\r\nGS2 A library\r\n";
  ASSERT_TRUE(read_manifest("crlf.txt", &m).ok());
  ASSERT_EQ(m.size(), 2u);
  EXPECT_FALSE(m[1].pending);
}

}  // namespace
}  // namespace velmora::corpus

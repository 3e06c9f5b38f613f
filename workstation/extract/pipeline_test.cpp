// The whole pipeline on drawn pelts: features where the marks are, the save
// step's files readable by their own readers, and the faults the pipeline
// guards against (stale results, a preview that changes what is saved,
// kernel settings that would never end, cell names that leave the folder).
#include "workstation/extract/pipeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "testing/temp_dir.h"
#include "workstation/extract/feature_file.h"
#include "workstation/extract/testing/test_extracts.h"

namespace velmora::extract {
namespace {

using testing::Mark;
using testing::test_extract;
using testing::test_setup;
using testing::TestPelt;

// A data folder as the workstation keeps it: the feature and fingerprint
// folders exist; raw/ only when raw images are wanted.
void make_data_folders(const velmora::testing::TempDir& dir) {
  for (const char* sub : {"newlib", "oldlib"}) std::filesystem::create_directories(dir.path(sub));
}

double nearest_mark(const Spot& s, const std::vector<Mark>& marks) {
  double best = 1e9;
  for (const Mark& m : marks) best = std::min(best, std::hypot(s.row - m.row, s.column - m.column));
  return best;
}

struct PatternCase {
  const char* pattern;
  TestPelt pelt;
  bool kinds_in_file;
};

TEST(ExtractPipeline, FindsTheMarksAndSavesFilesTheirReadersAccept) {
  const PatternCase cases[] = {
      {"black_dots", {.seed = 3}, false},
      {"white_dots", {.seed = 4, .light_marks = true}, false},
      {"black_stripe", {.seed = 5, .stripes = true, .blank_corner = true}, true},
  };
  for (const PatternCase& c : cases) {
    SCOPED_TRACE(c.pattern);
    velmora::testing::TempDir dir("pipeline");
    make_data_folders(dir);
    std::filesystem::create_directories(dir.path("raw"));
    std::vector<Mark> marks;
    SharedExtract x = test_extract(c.pelt, &marks);
    auto p = std::make_unique<ExtractProcessing>();
    ASSERT_TRUE(p->set_up(test_setup(c.pattern, dir.dir())).ok());
    if (x.blank_edited) p->compute_blank_distance(x);
    bool operator_step = false;
    Status s = p->run_pipeline(x, "GS0001_01_FL", &operator_step);
    ASSERT_TRUE(s.ok()) << s.message();
    ASSERT_TRUE(operator_step);
    const int shown = p->spot_limit();
    EXPECT_EQ(shown, std::min(20, static_cast<int>(p->spots().size())));
    ASSERT_GE(shown, 10);
    if (!c.pelt.stripes) {
      // Round marks: the shown spots sit on drawn marks.
      int on_mark = 0;
      for (int k = 0; k < shown; ++k) on_mark += nearest_mark(p->spots()[k], marks) <= 3.0;
      EXPECT_GE(on_mark, shown * 9 / 10);
    }
    ASSERT_TRUE(p->place_seeds(kDefaultTriangleMeasure).ok());
    SaveReport report;
    s = p->save(x, &report);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(dir.read("raw/GS0001_01_FL.raw").size(), kExtractPixels);
    EXPECT_TRUE(dir.exists("oldlib/GS0001_01_FL"));
    FeatureFile file;
    s = parse_feature_file(dir.read("newlib/GS0001_01_FL"), c.kinds_in_file, "feature file", &file);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(static_cast<int>(file.spots.size()), shown);
    EXPECT_EQ(file.seeds, p->seeds().sets);
    EXPECT_EQ(p->fingerprint_block_bytes().size(), kBlockImageBytes);
  }
}

TEST(ExtractPipeline, GuardsAgainstStaleOrChangedResults) {
  velmora::testing::TempDir dir("pipeline");
  make_data_folders(dir);
  auto p = std::make_unique<ExtractProcessing>();
  SharedExtract x = test_extract({.seed = 7});
  ASSERT_TRUE(p->set_up(test_setup("black_dots", dir.dir())).ok());
  bool operator_step = false;
  ASSERT_TRUE(p->run_pipeline(x, "a", &operator_step).ok());
  ASSERT_FALSE(p->spots().empty());

  // The filter preview works on its own copy: the image that is saved stays.
  const std::vector<double> detrended = p->images().work_image;
  std::vector<float> preview;
  ASSERT_TRUE(p->filter_preview(x, 2, &preview).ok());
  EXPECT_EQ(p->images().work_image, detrended);
  EXPECT_EQ(preview.size(), kExtractPixels);

  // Saving without "place seeds" places them for these spots first.
  SaveReport report;
  ASSERT_TRUE(p->save(x, &report).ok());
  EXPECT_TRUE(p->seeds_placed());

  // An aspect without a pattern has no decomposition: no spots, rather than
  // the last extract's.
  ASSERT_TRUE(p->set_up(test_setup("none", dir.dir())).ok());
  x = test_extract({.seed = 8});
  ASSERT_TRUE(p->run_pipeline(x, "b", &operator_step).ok());
  EXPECT_TRUE(p->spots().empty());
  EXPECT_FALSE(p->has_wavelets());
}

TEST(ExtractPipeline, RefusesSettingsAndNamesItCannotUse) {
  velmora::testing::TempDir dir("pipeline");
  auto p = std::make_unique<ExtractProcessing>();
  ProcessingSetup endless = test_setup("black_stripe", dir.dir());
  endless.aspect = "Reticulated";
  endless.aspect_settings.step_theta_deg = 0;
  Status s = p->set_up(endless);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("Reticulated"), std::string::npos) << s.message();

  // A refused set-up leaves nothing to run on.
  SharedExtract x = test_extract({.seed = 9});
  bool operator_step = false;
  EXPECT_FALSE(p->run_pipeline(x, "c", &operator_step).ok());

  ASSERT_TRUE(p->set_up(test_setup("black_dots", dir.dir())).ok());
  s = p->run_pipeline(x, "../outside", &operator_step);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("../outside"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.root().parent_path() / "outside"));
}

}  // namespace
}  // namespace velmora::extract

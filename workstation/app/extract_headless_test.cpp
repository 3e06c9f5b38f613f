// velmora-extract features on drawn pelts in a test database: the command
// line, which rows are marked, the files written, the dump, and bundles that
// must be refused without stopping the others.
#include "workstation/app/extract_headless.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "workstation/db/testing/test_database.h"
#include "workstation/extract/extract_bundle.h"
#include "workstation/extract/testing/test_extracts.h"

namespace velmora::app {
namespace {

namespace fs = std::filesystem;

TEST(ExtractCommandLine, AcceptsTheDocumentedFormsOnly) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    const char* command;
  };
  const std::vector<std::string> common = {"--data-folder", "d",    "--database", "f",
                                           "--aspect",      "Flank"};
  auto with = [&](std::vector<std::string> head, std::vector<std::string> tail = {}) {
    head.insert(head.end(), common.begin(), common.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  const Case cases[] = {
      {with({"features", "b1", "b2"}), true, "features"},
      {with({"features", "b1"}, {"--dump", "out"}), true, "features"},
      {with({"features", "b1", "b2"}, {"--dump", "out"}), false, ""},  // dump of one only
      {with({"show", "b1"}), true, "show"},
      {with({"show", "b1", "b2"}), false, ""},
      {{"features", "b1", "--data-folder", "d", "--database", "f"}, false, ""},  // no aspect
      {with({"features"}), false, ""},
      {with({"extract", "b1"}), false, ""},
  };
  for (const Case& c : cases) {
    ExtractCommandLine line;
    Status s = parse_extract_arguments(c.args, &line);
    EXPECT_EQ(s.ok(), c.ok) << c.args[0] << " " << c.args.size() << ": " << s.message();
    if (c.ok) {
      EXPECT_EQ(line.command, c.command);
    }
  }
}

class ExtractFeatures : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(db_.status().ok());
    db::testing::AspectRow a;
    a.aspect = "Flank", a.aspect_letter = "FL", a.cell_type = "lateral";
    a.pattern = "black_dots", a.show_n_spots = 20;
    a.from_r = 3, a.to_r = 9, a.step_r = 2;
    ASSERT_TRUE(db_.builder().add_aspect(a).ok());
    ASSERT_TRUE(db_.builder().add_algorithm("a", "tarvik").ok());
    ASSERT_TRUE(db_.builder().add_algorithm("s", "compnew_spot").ok());
    ASSERT_TRUE(db_.write_ini("library_name=newlib/\ndilate_proportion=0.25\n").ok());
    for (const char* sub : {"newlib", "oldlib", "bundles"})
      fs::create_directories(db_.data_folder + sub);
  }
  std::string add_bundle(const std::string& cell, std::uint64_t seed) {
    const std::string folder = db_.data_folder + "bundles/" + cell;
    const extract::SharedExtract x = extract::testing::test_extract({.seed = seed});
    EXPECT_TRUE(extract::write_extract_bundle(folder, x, cell).ok());
    return folder;
  }
  ExtractCommandLine line(std::vector<std::string> bundles) {
    ExtractCommandLine l;
    l.command = "features";
    l.bundles = std::move(bundles);
    l.data_folder = db_.data_folder;
    l.database = db_.db_path;
    l.aspect = "Flank";
    return l;
  }
  std::string auto_match(const std::string& cell) {
    return db_.text("SELECT AutoMatch FROM cells WHERE cell = '" + cell + "'");
  }
  db::testing::TestDatabase db_{"extract_features"};
};

TEST_F(ExtractFeatures, SavesEveryBundleAndMarksOnlyRowsWaitingForExtraction) {
  ASSERT_TRUE(db_.add_cell("101", "101_1FL", "L", "E", "Flank").ok());
  ASSERT_TRUE(db_.add_cell("101", "101_2FL", "L", "L", "Flank").ok());
  std::vector<std::string> bundles = {add_bundle("101_1FL", 1), add_bundle("101_2FL", 2),
                                      add_bundle("999_1FL", 3)};
  std::ostringstream out, err;
  EXPECT_EQ(run_extract_features(line(bundles), out, err), 0) << err.str();
  EXPECT_EQ(auto_match("101_1FL"), "P");
  EXPECT_EQ(auto_match("101_2FL"), "L");  // a library extract processed again stays there
  for (const char* cell : {"101_1FL", "101_2FL", "999_1FL"}) {
    EXPECT_TRUE(fs::exists(db_.data_folder + "oldlib/" + cell)) << cell;
    EXPECT_TRUE(fs::exists(db_.data_folder + "newlib/" + cell)) << cell;
  }
  EXPECT_NE(out.str().find("3 of 3 extracts saved, 1 kept their state"), std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("1 without a database row"), std::string::npos) << out.str();
}

TEST_F(ExtractFeatures, RefusedBundlesAreNamedAndTheOthersStillSaved) {
  ASSERT_TRUE(db_.add_cell("101", "101_1FL", "L", "E", "Flank").ok());
  ASSERT_TRUE(db_.add_cell("102", "102_1DO", "L", "E", "Dorsal").ok());
  const std::string good = add_bundle("101_1FL", 1);
  const std::string other_aspect = add_bundle("102_1DO", 2);
  const std::string cut = add_bundle("103_1FL", 3);
  fs::resize_file(cut + "/intensity.f64", 1000);
  std::ostringstream out, err;
  EXPECT_EQ(run_extract_features(line({cut, other_aspect, good}), out, err), 1);
  EXPECT_NE(err.str().find("intensity.f64"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("\"Dorsal\""), std::string::npos) << err.str();
  EXPECT_EQ(auto_match("101_1FL"), "P");
  EXPECT_EQ(auto_match("102_1DO"), "E");
  EXPECT_FALSE(fs::exists(db_.data_folder + "oldlib/102_1DO"));
  EXPECT_NE(out.str().find("1 of 3 extracts saved"), std::string::npos) << out.str();
}

TEST_F(ExtractFeatures, DumpsWhatWasSaved) {
  const std::string bundle = add_bundle("101_1FL", 4);
  ExtractCommandLine l = line({bundle});
  l.dump = db_.data_folder + "dump";
  std::ostringstream out, err;
  ASSERT_EQ(run_extract_features(l, out, err), 0) << err.str();
  auto size = [&](const char* name) { return fs::file_size(l.dump + "/" + name); };
  EXPECT_EQ(size("work.f64"), 8 * extract::kExtractPixels);
  EXPECT_EQ(size("wavelet.f32"), 4 * extract::kExtractPixels);
  EXPECT_EQ(size("filled.i16"), 2 * extract::kExtractPixels);
  EXPECT_EQ(size("fingerprint.img"), 4096u);
  EXPECT_FALSE(fs::exists(l.dump + "/anim.pgm"));  // no key-point algorithm
  // spots.txt holds the saved spots: as many lines as the feature file's N.
  std::ifstream spots(l.dump + "/spots.txt");
  int lines = 0;
  for (std::string s; std::getline(spots, s);) ++lines;
  std::ifstream feature(db_.data_folder + "newlib/101_1FL", std::ios::binary);
  feature.seekg(4096);
  EXPECT_EQ(lines, feature.get());
  EXPECT_GT(lines, 0);
}

}  // namespace
}  // namespace velmora::app

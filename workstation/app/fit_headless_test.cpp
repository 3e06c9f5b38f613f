// velmora-fit's command line, and photographs it must refuse without
// stopping the others.
#include "workstation/app/fit_headless.h"

#include <gtest/gtest.h>

#include <sstream>

#include "workstation/db/testing/test_database.h"
#include "workstation/model/ui/photo_file.h"

namespace velmora::app {
namespace {

TEST(FitCommandLine, TakesPhotographsInThreesAndOneCellAtMost) {
  const std::vector<std::string> common = {"--data-folder", "d",    "--database", "f",
                                           "--aspect",      "Flank"};
  auto with = [&](std::vector<std::string> head, std::vector<std::string> tail = {}) {
    head.insert(head.end(), common.begin(), common.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  struct Case {
    std::vector<std::string> args;
    bool ok;
    std::size_t jobs;
  };
  const Case cases[] = {
      {with({"extract", "p.jpg", "fit", "b"}), true, 1},
      {with({"extract", "p.jpg", "fit", "b", "q.jpg", "fit2", "c"}, {"--accept"}), true, 2},
      {with({"extract", "p.jpg", "fit", "b"}, {"--cell", "GS1_FL", "--accept"}), true, 1},
      {with({"extract", "p.jpg", "fit"}), false, 0},
      {with({"extract", "p.jpg", "fit", "b", "q.jpg", "fit2", "c"}, {"--cell", "x"}), false, 0},
      {{"extract", "p.jpg", "fit", "b", "--data-folder", "d", "--database", "f"}, false, 0},
      {with({"fit", "p.jpg", "fit", "b"}), false, 0},
  };
  for (const Case& c : cases) {
    FitCommandLine line;
    Status s = parse_fit_arguments(c.args, &line);
    EXPECT_EQ(s.ok(), c.ok) << c.args.size() << ": " << s.message();
    EXPECT_EQ(line.jobs.size(), c.ok ? c.jobs : line.jobs.size());
  }
}

TEST(FitExtract, RefusesMissingAndCorruptFilesNamingThem) {
  db::testing::TestDatabase db("fit_extract");
  ASSERT_TRUE(db.status().ok());
  db::testing::AspectRow a;
  a.aspect = "Flank", a.aspect_letter = "FL", a.cell_type = "lateral", a.pattern = "none";
  a.model_fname = "seal_flank.dat";
  ASSERT_TRUE(db.builder().add_aspect(a).ok());
  ASSERT_TRUE(db.folder.write("not_a_photo.jpg", "this is no JPEG"));
  ASSERT_TRUE(db.folder.write("short_fit", std::string(100, '\0')));
  model::Photo photo;
  EXPECT_EQ(model::load_photo(db.folder.path("missing.jpg"), &photo).code(),
            Status::Code::kNotFound);
  Status s = model::load_photo(db.folder.path("not_a_photo.jpg"), &photo);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("not_a_photo.jpg"), std::string::npos) << s.message();

  FitCommandLine line;
  line.data_folder = db.data_folder;
  line.database = db.db_path;
  line.aspect = "Flank";
  line.jobs = {
      {db.folder.path("missing.jpg"), db.folder.path("short_fit"), db.folder.path("b1")},
      {db.folder.path("not_a_photo.jpg"), db.folder.path("short_fit"), db.folder.path("b2")}};
  std::ostringstream out, err;
  EXPECT_EQ(run_fit_extract(line, out, err), 1);
  EXPECT_NE(err.str().find("missing.jpg"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("not_a_photo.jpg"), std::string::npos) << err.str();
  EXPECT_NE(out.str().find("0 of 2 photographs extracted"), std::string::npos) << out.str();
  EXPECT_FALSE(db.folder.exists("b1"));
}

}  // namespace
}  // namespace velmora::app

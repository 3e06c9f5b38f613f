// The window's picture sizes and its extract preview against plain
// references: the 3:2 rule for screens on both sides of 3:2, and the
// preview's pixel-to-extract mapping through a marked extract.
#include "workstation/model/extract_preview.h"

#include <gtest/gtest.h>

#include "workstation/db/testing/test_database.h"
#include "workstation/model/accept.h"

namespace velmora::model {
namespace {

TEST(WorkPictureSize, ScalesTheDesignByTheScreenAndKeepsThreeToTwo) {
  struct Case {
    int screen_w, screen_h;
    PictureSize expected;
  };
  // Wide screens scale 480 design pixels of height by height / 768; narrow
  // ones 720 of width by width / 1066.67; the height is then made even.
  const Case cases[] = {
      {1600, 1000, {936, 624}},  // 480 * 1000 / 768 = 625, made even
      {1920, 1080, {1011, 674}},
      {1600, 960, {900, 600}},
      {1200, 800, {750, 500}},   // exactly 3:2 counts as wide
      {1000, 1000, {675, 450}},  // narrow: 720 * 1000 / 1066.67 = 675
      {1, 1, {3, 2}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(work_picture_size(c.screen_w, c.screen_h), c.expected)
        << c.screen_w << " x " << c.screen_h;
}

TEST(ExtractPreview, ShowsEachExtractPixelWhereTheMappingSaysAndBlanksThroughIt) {
  extract::SharedExtract e;
  for (int r = 1; r <= 256; ++r)
    for (int c = 1; c <= 256; ++c) e.cell_intensity(r, c) = (r * 7 + c * 3) % 256;
  for (bool lateral : {true, false}) {
    const std::vector<std::uint8_t> grey = preview_grey(e, lateral);
    // Lateral: pixel (x, y) shows row x, column y; otherwise row y, column
    // 257 - x (a quarter turn).
    for (int y = 1; y <= 256; y += 51)
      for (int x = 1; x <= 256; x += 17) {
        const int r = lateral ? x : y, c = lateral ? y : 257 - x;
        EXPECT_EQ(grey[(y - 1) * 256 + (x - 1)], (r * 7 + c * 3) % 256) << x << "," << y;
      }
    extract::SharedExtract blanked = e;
    std::vector<bool> painted(extract::kExtractPixels, false);
    painted[(10 - 1) * 256 + (3 - 1)] = true;  // preview (3, 10)
    EXPECT_EQ(blank_painted_preview(painted, lateral, 99.5, &blanked), 1);
    const int r = lateral ? 3 : 10, c = lateral ? 10 : 254;
    EXPECT_TRUE(blanked.is_blank(r, c));
    EXPECT_EQ(blanked.cell_intensity(r, c), 99.5);
    EXPECT_EQ(std::count(blanked.blank.begin(), blanked.blank.end(), extract::kBlankPixel), 1);
    EXPECT_EQ(blank_painted_preview(painted, lateral, 99.5, &blanked), 0);  // already blank
  }
}

TEST(AcceptedRecord, IsStoredInTheCellsRowWithTheTagAndRefusedForAnUnknownCell) {
  db::testing::TestDatabase t("accept_record");
  ASSERT_TRUE(t.status().ok()) << t.status().message();
  ASSERT_TRUE(t.add_cell("GS0001", "GS0001_01_FL", "L", "E", "Flank").ok());
  AcceptedRecord r{"R", "R", 12.5, 7, 3.25, true};
  ASSERT_TRUE(update_accepted_record(t.db.get(), "GS0001_01_FL", r).ok());
  EXPECT_EQ(t.text("SELECT side || facing || off_square || ',' || pcb || ',' || scale || ',' || "
                   "tagged FROM cells WHERE cell = 'GS0001_01_FL'"),
            "RR12.5,7,3.25,1");
  r.tagged = false;
  ASSERT_TRUE(update_accepted_record(t.db.get(), "GS0001_01_FL", r).ok());
  EXPECT_EQ(t.text("SELECT tagged FROM cells WHERE cell = 'GS0001_01_FL'"), "0");
  EXPECT_EQ(update_accepted_record(t.db.get(), "GS0009_01_FL", r).code(), Status::Code::kNotFound);
}

}  // namespace
}  // namespace velmora::model

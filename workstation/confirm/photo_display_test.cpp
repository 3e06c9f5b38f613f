// How a photograph is framed, turned, captioned and counted for the review.
#include "workstation/confirm/photo_display.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/temp_dir.h"
#include "workstation/confirm/confirm_test_support.h"

namespace velmora::confirm {
namespace {

using test_support::crop_of;

TEST(PhotoDisplay, SourceRectangleFramesTurnsAndKeepsProportions) {
  const PictureSize wide{900, 600};  // b = 1.5
  const std::optional<model::CropRecord> none;
  struct Case {
    const char* what;
    int photo_width, photo_height;
    std::optional<model::CropRecord> crop;
    const char* facing;
    const char* side;
    SourceRect expected;
  };
  const Case cases[] = {
      // Wider than the picture: the width is the photograph's, the height
      // grows past it (empty below).
      {"wide photograph", 1600, 800, none, "L", "L", {0, 0, 1600, 1600 / 1.5}},
      // Narrower: the height is the photograph's, the width grows (empty at
      // the right).
      {"tall photograph", 800, 1200, none, "L", "L", {0, 0, 1800, 1200}},
      {"same proportions", 1500, 1000, none, "R", "L", {0, 0, 1500, 1000}},
      // The midline of an animal facing right is drawn from the opposite
      // corner with negative sizes.
      {"turned", 1600, 800, none, "R", "M", {1600, 800, -1600, -1600 / 1.5}},
      {"framed", 1600, 800, crop_of(100, 50, 400, 300), "L", "L", {100, 50, 400, 300}},
      {"framed and turned",
       1600,
       800,
       crop_of(100, 50, 400, 300),
       "R",
       "M",
       {500, 350, -400, -300}},
      // A crop touching the photograph's left or top edge frames nothing.
      {"crop at x 0", 1600, 800, crop_of(0, 50, 400, 300), "L", "L", {0, 0, 1600, 1600 / 1.5}},
      {"crop at y 0", 800, 1200, crop_of(10, 0, 400, 300), "L", "L", {0, 0, 1800, 1200}},
  };
  for (const Case& c : cases) {
    const int turn = turn_factor(c.facing, c.side);
    const SourceRect got = source_rectangle(c.photo_width, c.photo_height, wide, c.crop, turn);
    EXPECT_EQ(got, c.expected) << c.what << ": " << got.x << ", " << got.y << ", " << got.width
                               << ", " << got.height;
    EXPECT_EQ(frames_photo(c.crop), c.expected.x == 100 || c.expected.x == 500) << c.what;
  }
  // Only facing "R" with side "M" turns.
  const std::vector<std::pair<std::string, std::string>> upright = {
      {"R", "L"}, {"R", "R"}, {"L", "M"}, {"", "M"}, {"r", "M"}};
  for (const auto& [facing, side] : upright) EXPECT_EQ(turn_factor(facing, side), 1) << facing;
}

TEST(PhotoDisplay, ThumbnailLayout) {
  struct Case {
    int first, last;
    int width, height;  // of every thumbnail
  };
  const Case cases[] = {{1, 1, 254, 169}, {1, 2, 508, 339},   {4, 6, 338, 225},
                        {1, 8, 254, 169}, {13, 20, 254, 169}, {1, 5, 254, 169}};
  for (const Case& c : cases) {
    const std::vector<ThumbnailPlace> places = layout_thumbnails(c.first, c.last);
    ASSERT_EQ(static_cast<int>(places.size()), c.last - c.first + 1) << c.first << ".." << c.last;
    for (std::size_t i = 0; i < places.size(); ++i) {
      const int m = static_cast<int>(i) + 1;
      const ThumbnailPlace expected{
          m,       c.first + m - 1, (m <= 4 ? m - 1 : m - 5) * c.width, m <= 4 ? 0 : c.height,
          c.width, c.height};
      EXPECT_EQ(places[i], expected) << c.first << ".." << c.last << " thumbnail " << m;
    }
  }
  EXPECT_TRUE(layout_thumbnails(1, 0).empty());
}

TEST(PhotoDisplay, CountingKeepsOneOfConsecutiveRowsShowingTheSame) {
  auto row = [](const char* photo, const char* cell, const char* facing, const char* side) {
    return PhotoRow{photo, cell, "2023-06-01", facing, side, ""};
  };
  const std::vector<PhotoRow> table = {
      row("a", "a_FL", "L", "L"), row("a", "a_HD", "L", "L"),  // same photo, no crop: once
      row("b", "b_FL", "L", "L"), row("b", "b_HD", "R", "M"),  // turned: both
      row("c", "c_FL", "L", "L"), row("c", "c_HD", "L", "L"),  // different crops: both
      row("a", "a_XX", "L", "L"),                              // not consecutive: again
  };
  std::vector<PhotoRow> rows = table;
  const int count = compact_distinct_photos(&rows, [](const PhotoRow& r) {
    return r.cell == "c_HD" ? CropSize{400, 300} : CropSize{};
  });
  const std::vector<PhotoRow> expected = {table[0], table[2], table[3],
                                          table[4], table[5], table[6]};
  EXPECT_EQ(count, 6);
  EXPECT_EQ(rows, expected);
}

TEST(PhotoDisplay, ScoresAboveOneArePressedBelowIt) {
  const std::pair<double, float> cases[] = {
      {1.5, static_cast<float>(1.0 / (1.0 / 1.6 + 1.0))}, {1.0, 1.0f},   {0.25, 0.25f},
      {3.0, static_cast<float>(1.0 / (1.0 / 3.1 + 1.0))}, {-0.5, -0.5f},
  };
  for (const auto& [score, shown] : cases) EXPECT_FLOAT_EQ(displayed_score(score), shown) << score;
}

TEST(PhotoDisplay, CaptionsPathsAndMessages) {
  const PhotoRow r{"IMG_7", "X1_FL", "2023-06-01 10:00", "L", "L", "wet"};
  EXPECT_EQ(photo_caption(r, "101"), " showing: X1_FL of animal 101 on 2023-06-01 10:00 wet");
  EXPECT_EQ(photograph_path("/d/newpic", "IMG_7"), "/d/newpic/IMG_7.jpg");
  EXPECT_EQ(photograph_path("/d/newpic/", "IMG_7"), "/d/newpic/IMG_7.jpg");
  EXPECT_EQ(missing_library_photo_message("IMG_7"), "IMG_7 missing from newpic folder");
  EXPECT_EQ(missing_pending_photo_message("IMG_7"), "IMG_7 not in newpic");
}

TEST(PhotoDisplay, JpegSizeFromTheFrameHeader) {
  velmora::testing::TempDir dir("velmora_confirm_jpeg");
  const std::string good = test_support::jpeg_bytes(1234, 567);
  struct Case {
    const char* what;
    std::string bytes;
    bool ok;
  };
  const Case cases[] = {
      {"baseline", good, true},
      {"progressive", test_support::jpeg_bytes(1234, 567, 0xC2), true},
      {"not a JPEG", "\x89PNG\r\n\x1a\n....", false},
      {"empty", "", false},
      {"cut inside the frame header", good.substr(0, good.size() - 18), false},
      {"cut before the frame header", good.substr(0, 30), false},
      {"image data before a frame", good.substr(0, 20) + "\xFF\xDA\x00\x02", false},
      {"zero size", test_support::jpeg_bytes(0, 567), false},
  };
  for (const Case& c : cases) {
    const std::string path = dir.path(std::string(c.what) + ".jpg");
    ASSERT_TRUE(velmora::testing::write_file(path, c.bytes));
    int w = -1, h = -1;
    Status s = read_jpeg_size(path, &w, &h);
    EXPECT_EQ(s.ok(), c.ok) << c.what << ": " << s.message();
    if (c.ok) {
      EXPECT_EQ(w, 1234) << c.what;
      EXPECT_EQ(h, 567) << c.what;
    } else {
      EXPECT_EQ(s.code(), Status::Code::kCorruption) << c.what;
      EXPECT_NE(s.message().find(path), std::string::npos) << s.message();
    }
  }
  int w = 0, h = 0;
  EXPECT_EQ(read_jpeg_size(dir.path("absent.jpg"), &w, &h).code(), Status::Code::kNotFound);
}

TEST(PhotoDisplay, CropOfTheFitFileWithTheFirstHeadViewServingTheOthers) {
  velmora::testing::TempDir dir("velmora_confirm_fit");
  const std::string data = dir.dir();
  test_support::write_fit(data, "S1_FL", crop_of(10, 20, 300, 200));
  test_support::write_fit(data, "S11_HD", crop_of(30, 40, 120, 80));
  ASSERT_TRUE(velmora::testing::write_file(data + "savedraw/S2_FL", "too short"));
  struct Case {
    const char* cell;
    std::optional<model::CropRecord> crop;
  };
  const Case cases[] = {
      {"S1_FL", crop_of(10, 20, 300, 200)},
      {"S11_HD", crop_of(30, 40, 120, 80)},
      {"S1A_HD", crop_of(30, 40, 120, 80)},  // "A_HD" reads the fit file of "1_HD"
      {"S1B_HD", std::nullopt},
      {"S2_FL", std::nullopt},  // unreadable: shown unframed
      {"Unset1", std::nullopt},
      {"../S1_FL", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(display_crop(data, c.cell), c.crop) << c.cell;
}

}  // namespace
}  // namespace velmora::confirm

// The patch's corners for every aspect kind and adjustment, and the
// sampling's blanking rules on the flank model seen side on.
#include "workstation/model/sample_extract.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "libs/fennick/test_support.h"

namespace velmora::model {
namespace {

using Quad = std::array<std::array<double, 2>, 4>;  // P00, P01, P10, P11 as (Y, theta)

struct CornerCase {
  const char* what;
  std::string aspect;
  std::string file;
  bool facing;
  int adjust;
  PickedPoints picked;
  Quad expected;
};

TEST(ChooseCorners, TableOfAspectsAdjustmentsAndHeads) {
  const fennick::SurfaceRange r1{10, 50, 1, 2}, r2{20, 80, -1, -3};
  const std::vector<CornerCase> cases = {
      {"box aspect, range 2 either way",
       "Chest",
       "x.dat",
       true,
       0,
       {},
       {{{20, -1}, {20, -3}, {80, -1}, {80, -3}}}},
      {"facing left: range 1",
       "Flank",
       "seal_flank.dat",
       false,
       0,
       {},
       {{{10, 1}, {10, 2}, {50, 1}, {50, 2}}}},
      {"facing right: range 2 turned",
       "Flank",
       "seal_flank.dat",
       true,
       0,
       {},
       {{{80, -3}, {80, -1}, {20, -3}, {20, -1}}}},
      {"-1, range 1 box",
       "Flank",
       "seal_flank.dat",
       false,
       -1,
       {15, 40, 0, 0},
       {{{10, 1}, {15, 2}, {50, 1}, {40, 2}}}},
      {"-1, facing box",
       "Flank",
       "seal_flank.dat",
       true,
       -1,
       {70, 30, 0, 0},
       {{{70, -3}, {80, -1}, {30, -3}, {20, -1}}}},
      {"-1, only P2 picked",
       "Abdomen",
       "x.dat",
       false,
       -1,
       {0, 70, 0, 0},
       {{{20, -1}, {20, -3}, {70, -1}, {80, -3}}}},
      {"-2, both points, range 1",
       "Flank",
       "seal_flank.dat",
       false,
       -2,
       {12, 45, 1.6, 1.3},
       {{{12, 1.1}, {12, 2.1}, {45, 0.8}, {45, 1.8}}}},
      {"-2, P1 only, facing box",
       "Flank",
       "seal_flank.dat",
       true,
       -2,
       {75, 0, -2.2, 0},
       {{{75, -3.2}, {75, -1.2}, {15, -3.2}, {15, -1.2}}}},
      {"-2, P1 without theta is not used",
       "Flank",
       "seal_flank.dat",
       false,
       -2,
       {12, 0, 0, 0},
       {{{10, 1}, {10, 2}, {50, 1}, {50, 2}}}},
      {"-3 moves nothing",
       "Flank",
       "seal_flank.dat",
       false,
       -3,
       {12, 45, 1.6, 1.3},
       {{{10, 1}, {10, 2}, {50, 1}, {50, 2}}}},
      // The water head's table lays its corners on round surface points
      // from the default frame.
      {"water head, facing left, defaults",
       "Head",
       "head_water.dat",
       false,
       0,
       {},
       {{{458, -2.32}, {352, -1.35}, {389, -2.65}, {140, -2.17}}}},
      {"file name case does not matter",
       "Head",
       "HEAD_WATER.DAT",
       false,
       0,
       {},
       {{{458, -2.32}, {352, -1.35}, {389, -2.65}, {140, -2.17}}}},
      {"pv head, facing right, defaults",
       "Head",
       "head_pv.dat",
       true,
       0,
       {},
       {{{401.38153, 1.18256}, {510, 2.17}, {401.38153, 2.36749}, {480.37678, 3.15744}}}},
      {"box aspect ignores a head file",
       "DorsoVentral",
       "head_land.dat",
       false,
       0,
       {},
       {{{20, -1}, {20, -3}, {80, -1}, {80, -3}}}},
      {"head then -1 with the facing box",
       "Head",
       "head_water.dat",
       false,
       -1,
       {0, 300, 0, 0},
       {{{458, -2.32}, {352, -1.35}, {389, -2.65}, {300, -2.17}}}},
  };
  for (const CornerCase& c : cases) {
    SCOPED_TRACE(c.what);
    CornerChoice choice{c.aspect, c.file, c.facing, c.adjust, r1, r2, c.picked};
    fennick::SamplingCorners got{};
    ASSERT_TRUE(choose_corners(choice, &got).ok());
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(got.s[2 * i], c.expected[i][0], 1e-3) << "corner " << i;
      EXPECT_NEAR(got.s[2 * i + 1], c.expected[i][1], 1e-5) << "corner " << i;
    }
  }
}

TEST(ChooseCorners, CoincidentHeadPointsAreRefused) {
  CornerChoice choice{"Head", "head_land.dat", false, 0, {}, {}, {400, 400, 2, 2}};
  fennick::SamplingCorners got{};
  EXPECT_FALSE(choose_corners(choice, &got).ok());
}

// The flank model side on, filling most of a 900 x 600 picture, and a
// request to sample a picture of one colour with it.
struct Scene {
  std::unique_ptr<fennick::testing::LoadedModel> model =
      fennick::testing::load_model("seal_flank.dat");
  std::unique_ptr<fennick::GridPositions> grid = std::make_unique<fennick::GridPositions>();
  Photo picture{900, 600};
  // Range 2 turned: the right flank of an animal facing right.
  fennick::SamplingCorners corners{{390, -2.79, 390, -0.35, 60, -2.79, 60, -0.35}};
  Scene() {
    fennick::testing::place(*model, fennick::Pose{{0, 0, 0}, 150, 300, 1.2});
    fill(120, 90, 60);
  }
  void fill(int r, int g, int b) {
    for (int y = 0; y < picture.height; ++y)
      for (int x = 0; x < picture.width; ++x)
        picture.set(x, y, static_cast<uint8_t>(r), static_cast<uint8_t>(g),
                    static_cast<uint8_t>(b));
  }
  SamplingRequest request() const {
    SamplingRequest q;
    q.cell = "GS0002_01FL";
    q.picture = &picture;
    q.model = model->model.get();
    q.control = &model->control;
    q.cell_type = "lateral";
    q.facing = true;
    return q;
  }
  Status sample(const SamplingRequest& q, extract::SharedExtract* out, SamplingResult* r) {
    return sample_extract(q, corners, grid.get(), out, r);
  }
};

int blank_count(const extract::SharedExtract& e) {
  int n = 0;
  for (auto b : e.blank) n += b == extract::kBlankPixel;
  return n;
}

TEST(SampleExtract, OneColourPictureGivesItsGreyEverywhereUsable) {
  Scene scene;
  extract::SharedExtract cell;
  SamplingResult result;
  ASSERT_TRUE(scene.sample(scene.request(), &cell, &result).ok());
  EXPECT_EQ(blank_count(cell), 0);  // the right flank faces the camera
  EXPECT_FLOAT_EQ(result.mean_grey, 90.0f);
  EXPECT_DOUBLE_EQ(cell.cell_intensity(17, 200), 90.0);
  EXPECT_EQ(cell.cell_rgb(extract::ColourPlane::kBlue, 256, 1), 60);
  EXPECT_TRUE(cell.extract_ready);
  EXPECT_LT(result.centre_ray.v[10], 0);
}

TEST(SampleExtract, BlankingRules) {
  struct Case {
    const char* what;
    int r, g, b;
    bool yellow_black;
    double max_angle;
    bool everything_blank;
  };
  const std::vector<Case> cases = {
      {"strong blue with YellowBlack gives a negative grey", 20, 20, 200, true, 90, true},
      {"the same blue without YellowBlack is usable", 20, 20, 200, false, 90, false},
      {"pure blue is blanking paint", 0, 0, 255, false, 90, true},
      {"almost pure blue is not", 1, 0, 255, false, 90, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scene scene;
    scene.fill(c.r, c.g, c.b);
    SamplingRequest q = scene.request();
    q.yellow_black = c.yellow_black;
    extract::SharedExtract cell;
    cell.intensity[5] = 42;  // must survive a refusal
    SamplingResult result;
    const Status st = scene.sample(q, &cell, &result);
    EXPECT_EQ(!st.ok(), c.everything_blank) << st.message();
    if (c.everything_blank) {
      EXPECT_NE(st.message().find("every pixel is blank"), std::string::npos);
      EXPECT_NE(st.message().find("GS0002_01FL"), std::string::npos);
      EXPECT_EQ(cell.intensity[5], 42);
      EXPECT_FALSE(cell.extract_ready);
    } else {
      EXPECT_EQ(blank_count(cell), 0);
    }
  }
}

TEST(SampleExtract, OffThePictureAndObliquePeltAreBlankAndCarryTheMean) {
  Scene scene;
  // The picture ends halfway along the body: the head half reads -1.
  scene.picture = Photo(450, 600);
  scene.fill(200, 100, 30);
  extract::SharedExtract cell;
  SamplingResult result;
  ASSERT_TRUE(scene.sample(scene.request(), &cell, &result).ok());
  const int off_picture = blank_count(cell);
  EXPECT_GT(off_picture, 65536 / 4);
  EXPECT_LT(off_picture, 65536 * 3 / 4);
  EXPECT_EQ(result.blank_count, off_picture);
  for (size_t i = 0; i < extract::kExtractPixels; ++i) {
    if (cell.blank[i] != extract::kBlankPixel) continue;
    ASSERT_FLOAT_EQ(static_cast<float>(cell.intensity[i]), 110.0f);
    ASSERT_EQ(cell.rgb[i], 110);
    ASSERT_EQ(cell.rgb[2 * extract::kExtractPixels + i], 110);
  }
  // Pixels seen at more than 40 degrees off square join them.
  SamplingRequest q = scene.request();
  q.max_angle = 40;
  extract::SharedExtract oblique;
  ASSERT_TRUE(scene.sample(q, &oblique, &result).ok());
  EXPECT_GT(blank_count(oblique), off_picture + 2000);
}

TEST(SampleExtract, RetrievedMaskIsKeptAndALateralRightFacingExtractIsTurned) {
  Scene scene;
  // Paint the picture's left half (the tail end) white: for an animal
  // facing right the tail end is rows near 256 before the turn (Y 60 at
  // j = 256), so after it the first rows.
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 300; ++x) scene.picture.set(x, y, 255, 255, 255);
  extract::SharedExtract cell;
  cell.blank_retrieved = true;
  cell.cell_blank(128, 128) = extract::kBlankPixel;
  SamplingResult result;
  ASSERT_TRUE(scene.sample(scene.request(), &cell, &result).ok());
  EXPECT_TRUE(cell.is_blank(128, 128));
  EXPECT_DOUBLE_EQ(cell.cell_intensity(128, 128), result.mean_grey);
  EXPECT_DOUBLE_EQ(cell.cell_intensity(1, 128), 255.0);
  EXPECT_DOUBLE_EQ(cell.cell_intensity(256, 128), 90.0);
  // Not lateral: no turn.
  SamplingRequest q = scene.request();
  q.cell_type = "Dorsal";
  extract::SharedExtract straight;
  ASSERT_TRUE(scene.sample(q, &straight, &result).ok());
  EXPECT_DOUBLE_EQ(straight.cell_intensity(256, 128), 255.0);
  EXPECT_DOUBLE_EQ(straight.cell_intensity(1, 128), 90.0);
}

}  // namespace
}  // namespace velmora::model

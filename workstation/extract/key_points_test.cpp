// The key-point generator: its input read strictly, keys inside the
// picture, the same keys every time, orientations that turn with the
// picture, and a pelt found again where another is not.
#include "workstation/extract/key_points.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "libs/bristane/list_matches.h"
#include "testing/temp_dir.h"
#include "workstation/extract/save_extract.h"
#include "workstation/extract/testing/test_extracts.h"

namespace velmora::extract {
namespace {

// A drawn pelt as the save step hands it on.
std::string pelt_bytes(std::uint64_t seed, int marks = 60) {
  testing::TestPelt pelt;
  pelt.seed = seed;
  pelt.marks = marks;
  const SharedExtract x = testing::test_extract(pelt);
  int clamped = 0;
  return raw_image_bytes(x.intensity, &clamped);
}

GreyPicture picture_of(const std::string& raw) {
  GreyPicture p;
  p.rows = p.columns = 256;
  p.pixels.assign(raw.begin(), raw.end());
  return p;
}

TEST(KeyInput, ReadsTheSaveStepsGreyMapAndRefusesOthers) {
  velmora::testing::TempDir dir("keyinput");
  const std::string raw = pelt_bytes(1);
  const std::string pgm = anim_pgm_bytes(raw);
  struct Case {
    const char* name;
    std::string bytes;
    const char* refusal;  // nullptr: read
  };
  const Case cases[] = {
      {"anim.pgm", pgm, nullptr},
      {"lines.pgm", "P5\n256 256\n255\n" + raw, nullptr},
      {"GS1.raw", raw, nullptr},
      {"short.raw", raw.substr(1), "holds 65536 bytes"},
      {"colour.pgm", "P6" + pgm.substr(2), "does not start P5"},
      {"deep.pgm", "P5 256 256 65535 " + raw, "largest value 65535"},
      {"short.pgm", pgm.substr(0, pgm.size() - 1), "65535 bytes of pixels where 65536 belong"},
      {"long.pgm", pgm + "x", "65537 bytes"},
      {"tiny.pgm", "P5 8 8 255 " + raw.substr(0, 64), "8 x 8 pixels"},
      {"glued.pgm", "P5 256 256 255" + raw, "does not end in a blank"},
      {"empty.pgm", "", "does not start P5"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(dir.write(c.name, c.bytes));
    GreyPicture p;
    const Status s = read_key_input(dir.path(c.name), &p);
    if (c.refusal == nullptr) {
      ASSERT_TRUE(s.ok()) << c.name << ": " << s.message();
      EXPECT_EQ(p.rows, 256);
      EXPECT_EQ(std::string(p.pixels.begin(), p.pixels.end()), raw) << c.name;
    } else {
      EXPECT_FALSE(s.ok()) << c.name;
      EXPECT_NE(s.message().find(c.refusal), std::string::npos) << c.name << ": " << s.message();
      EXPECT_EQ(s.message().find(dir.path(c.name)), 0u) << s.message();
    }
  }
  GreyPicture p;
  EXPECT_FALSE(read_key_input(dir.path("none.pgm"), &p).ok());
}

TEST(KeyPoints, LieInThePictureAndComeOutTheSameEveryTime) {
  const GreyPicture p = picture_of(pelt_bytes(2));
  bristane::KeyList keys, again;
  ASSERT_TRUE(make_key_points(p, &keys).ok());
  ASSERT_TRUE(make_key_points(p, &again).ok());
  EXPECT_EQ(keys, again);
  ASSERT_GT(keys.count(), 30);
  for (int k = 0; k < keys.count(); ++k) {
    const float* l = &keys.locations[static_cast<size_t>(k) * 4];
    EXPECT_TRUE(l[0] >= 0 && l[0] < 256 && l[1] >= 0 && l[1] < 256) << k;
    EXPECT_GT(l[2], 0.0f);
    EXPECT_TRUE(l[3] > -std::numbers::pi - 1e-6 && l[3] <= std::numbers::pi + 1e-6) << l[3];
  }
  GreyPicture small;
  small.rows = small.columns = 8;
  small.pixels.assign(64, 0);
  EXPECT_FALSE(make_key_points(small, &keys).ok());
}

// A quarter turn on the screen (the picture's column axis onto its row
// axis) must turn the keys' orientations the same way, or the matcher's
// orientation check would throw away every true match of a turned pelt.
TEST(KeyPoints, OrientationsTurnWithThePicture) {
  const GreyPicture p = picture_of(pelt_bytes(3));
  GreyPicture turned = p;
  // (row, column) -> (column, 255 - row): a quarter turn clockwise on screen.
  for (int r = 0; r < 256; ++r)
    for (int c = 0; c < 256; ++c) turned.pixels[c * 256 + (255 - r)] = p.pixels[r * 256 + c];
  bristane::KeyList a, b;
  ASSERT_TRUE(make_key_points(p, &a).ok());
  ASSERT_TRUE(make_key_points(turned, &b).ok());
  bristane::KeyMatcher matcher;
  bristane::MatchParameters checked, unchecked;
  unchecked.orientation_tolerance = 0;
  const int with_check = matcher.consistent_matches(view_of(a), view_of(b), checked);
  const int without = matcher.consistent_matches(view_of(a), view_of(b), unchecked);
  EXPECT_GT(with_check, 20);
  // The check may drop a few keys whose orientation is poorly defined.
  EXPECT_GE(with_check, without * 8 / 10) << without;
}

TEST(KeyPoints, FindAPeltAgainAndNotAnother) {
  // The same pelt with its own noise, moved by five columns.
  std::string moved = pelt_bytes(4);
  moved = moved.substr(5) + std::string(5, moved.back());
  bristane::KeyList a, same, other;
  ASSERT_TRUE(make_key_points(picture_of(pelt_bytes(4)), &a).ok());
  ASSERT_TRUE(make_key_points(picture_of(moved), &same).ok());
  ASSERT_TRUE(make_key_points(picture_of(pelt_bytes(5)), &other).ok());
  bristane::KeyMatcher matcher;
  EXPECT_GT(matcher.consistent_matches(view_of(a), view_of(same), {}), 30);
  EXPECT_EQ(matcher.consistent_matches(view_of(a), view_of(other), {}), 0);
}

}  // namespace
}  // namespace velmora::extract

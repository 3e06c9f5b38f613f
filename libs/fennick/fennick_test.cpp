// The library's calls as the fitting window makes them: projection round
// trips (y_theta_to_screen against find_ray), which side faces the camera,
// the shipped models' special points seen from both facings, the sampling
// grid against the corner interpolation, the wireframe, and the cache
// noticing a changed record.
//
// ModelRecord's doubles are packed: the checks read them by value (unary +)
// rather than let GoogleTest bind a misaligned reference.
#include "libs/fennick/fennick.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "libs/fennick/body_model.h"
#include "libs/fennick/model_state.h"
#include "libs/fennick/test_support.h"

namespace velmora::fennick {
namespace {

constexpr double kPi = std::numbers::pi;

using testing::place;

RayRecord ray_at(const testing::LoadedModel& m, double y, double theta) {
  RayRecord ray{};
  EXPECT_EQ(find_ray(*m.model, m.control, y, theta, ray), kFennickOk) << fennick_last_message();
  return ray;
}

TEST(FennickCalls, ScreenPointIsTheRoundedRayPosition) {
  auto m = testing::load_model("seal_flank.dat");
  place(*m, Pose{{0.2, -0.4, 0.15}, 640.3, 410.7, 1.37});
  for (double y = -20; y <= 600; y += 17.5) {
    for (double theta = -4; theta <= 4; theta += 0.29) {
      ScreenScratch scratch{};
      ScreenPoint p{-1, -1};
      ASSERT_EQ(y_theta_to_screen(*m->model, m->control, y, theta, scratch, p), kFennickOk);
      const RayRecord ray = ray_at(*m, y, theta);
      EXPECT_EQ(p.x, static_cast<int32_t>(std::nearbyint(ray.v[0])));
      EXPECT_EQ(p.y, static_cast<int32_t>(std::nearbyint(ray.v[1])));
      double unrounded[3];
      std::memcpy(unrounded, scratch.bytes, sizeof unrounded);
      EXPECT_EQ(unrounded[0], ray.v[0]);
      EXPECT_EQ(unrounded[1], ray.v[1]);
      EXPECT_EQ(unrounded[2], ray.v[2]);
      EXPECT_EQ(ray.v[6], y);
      EXPECT_EQ(ray.v[7], theta);
      EXPECT_NEAR(std::hypot(ray.v[8], ray.v[9], ray.v[10]), 1, 1e-12);
      EXPECT_EQ(ray.v[11], -ray.v[10]);
      EXPECT_EQ(ray.v[12], (y >= 0 && y <= 568) ? 1.0 : 0.0);
    }
  }
}

// Along the line of sight through a point that faces the camera, that point
// is the nearest of the surface: no other surface point projecting within a
// pixel of it lies in front. Checked over a grid of the surface.
TEST(FennickCalls, PointsFacingTheCameraAreInFront) {
  auto m = testing::load_model("seal_flank.dat");
  place(*m, Pose{{0.1, 0.35, -0.1}, 500, 300, 1.0});
  std::vector<RayRecord> rays;
  for (double y = 30; y <= 540; y += 8)
    for (int i = 0; i < 90; ++i) rays.push_back(ray_at(*m, y, 2 * kPi * i / 90));
  int facing = 0;
  for (const RayRecord& a : rays) {
    if (a.v[10] >= -0.5) continue;  // clearly facing only: edge-on points are ambiguous
    ++facing;
    for (const RayRecord& b : rays) {
      if (std::hypot(a.v[0] - b.v[0], a.v[1] - b.v[1]) > 1.0) continue;
      // Neighbours on the same slope (normal at most 60 degrees from the
      // line of sight) lie at most 1.8 pixels nearer within a pixel's reach;
      // hidden ones lie a section's depth behind.
      EXPECT_GE(b.v[2], a.v[2] - 3.0)
          << a.v[6] << "," << a.v[7] << " vs " << b.v[6] << "," << b.v[7];
    }
  }
  EXPECT_GT(facing, 1000);
}

TEST(FennickCalls, TheSideTheAnimalShowsFacesTheCamera) {
  struct Case {
    const char* pose;
    double p1;
    double near_theta;  // the flank the camera sees
  };
  // Head right (the window's facing flag set): the right side, theta < 0;
  // head left (p1 = pi): the left side.
  const Case cases[] = {{"head right", 0, -kPi / 2},
                        {"head left", kPi, kPi / 2},
                        {"head right, turned 30 degrees", 0.52, -kPi / 2},
                        {"head left, turned -30 degrees", kPi - 0.52, kPi / 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pose);
    auto m = testing::load_model("seal_flank.dat", 0, c.p1, 0);
    for (double y = 40; y <= 530; y += 35) {
      EXPECT_LT(ray_at(*m, y, c.near_theta).v[10], -0.5) << y;
      EXPECT_GT(ray_at(*m, y, -c.near_theta).v[10], 0.5) << y;
    }
    // The back is up, whichever way the head points.
    EXPECT_LT(ray_at(*m, 230, 0).v[1], ray_at(*m, 230, kPi).v[1]);
    // The window's facing flag: tail base x < sternum x when the head is right.
    const double tail_x = ray_at(*m, m->model->special_y[0], m->model->special_theta[0]).v[0];
    const double sternum_x = ray_at(*m, m->model->special_y[1], m->model->special_theta[1]).v[0];
    EXPECT_EQ(tail_x<sternum_x, std::cos(c.p1)> 0);
  }
}

TEST(FennickCalls, ShippedSpecialPointsSeenFromBothFacings) {
  struct Case {
    std::string file;
    std::vector<int> right_side, left_side;  // indices of the model's special points
  };
  const Case cases[] = {{"seal_flank.dat", {3, 5, 7}, {2, 4, 6}},
                        {"head_water.dat", {3, 5}, {2, 4}},
                        {"head_land.dat", {3, 5}, {2, 4}},
                        {"head_pv.dat", {3, 5}, {2, 4}}};
  for (const Case& c : cases) {
    for (const bool head_right : {true, false}) {
      SCOPED_TRACE(c.file + (head_right ? " head right" : " head left"));
      auto m = testing::load_model(c.file, 0, head_right ? 0 : kPi, 0);
      const ModelRecord& r = *m->model;
      const auto& near = head_right ? c.right_side : c.left_side;
      const auto& far = head_right ? c.left_side : c.right_side;
      for (int i : near) EXPECT_LT(ray_at(*m, r.special_y[i], r.special_theta[i]).v[10], 0) << i;
      for (int i : far) EXPECT_GT(ray_at(*m, r.special_y[i], r.special_theta[i]).v[10], 0) << i;
    }
  }
}

// The head frame's default patch corners (Y, theta) of the extraction lie on
// the side the camera sees: theta > 0 with the head right, < 0 with it left.
TEST(FennickCalls, HeadFrameDefaultsLieOnTheVisibleSide) {
  const double defaults[][2] = {{458, 2.32}, {389, 2.45}, {510, 2.17}, {460, 2.25}};
  for (const char* file : {"head_water.dat", "head_land.dat", "head_pv.dat"}) {
    for (const bool head_right : {true, false}) {
      SCOPED_TRACE(std::string(file) + (head_right ? " head right" : " head left"));
      auto m = testing::load_model(file, 0, head_right ? 0 : kPi, 0);
      for (const auto& d : defaults) {
        const double theta = head_right ? d[1] : -d[1];
        EXPECT_LT(ray_at(*m, d[0], theta).v[10], -0.3) << d[0];
      }
    }
  }
}

TEST(FennickCalls, SamplingGridIsTheCornerInterpolation) {
  auto m = testing::load_model("seal_flank.dat");
  place(*m, Pose{{0.05, 0.2, -0.1}, 700, 420, 1.2});
  const SamplingCorners corners{{60, 0.35, 60, 2.8, 390, 0.3, 395, 2.75}};
  for (const int over : {0, 1, 2}) {
    SCOPED_TRACE("oversampling " + std::to_string(over));
    m->control.oversampling = over;
    auto grid = std::make_unique<GridPositions>();
    ASSERT_EQ(get_sampling_positions(*m->model, m->control, 256, 256, corners, *grid), kFennickOk);
    const int reach = 256 * std::max(over, 1);
    for (int j = 1; j <= reach; j += (j < 250 ? 17 : 1)) {
      for (int k = 1; k <= reach; k += (k < 250 ? 13 : 1)) {
        const int jj = std::min(j, 256), kk = std::min(k, 256);
        const double t = (jj - 1) / 255.0, u = (kk - 1) / 255.0;
        const double* s = corners.s;
        const double y0 = s[0] + (s[4] - s[0]) * t, th0 = s[1] + (s[5] - s[1]) * t;
        const double y1 = s[2] + (s[6] - s[2]) * t, th1 = s[3] + (s[7] - s[3]) * t;
        ScreenScratch scratch{};
        ScreenPoint want{};
        ASSERT_EQ(y_theta_to_screen(*m->model, m->control, y0 + (y1 - y0) * u,
                                    th0 + (th1 - th0) * u, scratch, want),
                  kFennickOk);
        EXPECT_EQ(grid->at(k, j).x, want.x) << k << "," << j;
        EXPECT_EQ(grid->at(k, j).y, want.y) << k << "," << j;
      }
    }
    // Beyond the grid nothing is written.
    EXPECT_EQ(grid->at(reach + 1, 1).x, 0);
    EXPECT_EQ(grid->at(1, reach + 1).y, 0);
  }
}

TEST(FennickCalls, SamplingRefusesWhatDoesNotFit) {
  auto m = testing::load_model("seal_flank.dat");
  const SamplingCorners corners{{60, 0.3, 60, 2.8, 390, 0.3, 390, 2.8}};
  auto grid = std::make_unique<GridPositions>();
  m->control.oversampling = 3;
  EXPECT_EQ(get_sampling_positions(*m->model, m->control, 256, 256, corners, *grid),
            kFennickBadArguments);
  EXPECT_NE(fennick_last_message().find("oversampling 3"), std::string::npos);
  m->control.oversampling = 1;
  EXPECT_EQ(get_sampling_positions(*m->model, m->control, 321, 256, corners, *grid),
            kFennickBadArguments);
  EXPECT_EQ(get_sampling_positions(*m->model, m->control, 256, 1, corners, *grid),
            kFennickBadArguments);
  SamplingCorners bad = corners;
  bad.s[5] = std::nan("");
  EXPECT_EQ(get_sampling_positions(*m->model, m->control, 256, 256, bad, *grid),
            kFennickBadArguments);
  EXPECT_EQ(grid->at(1, 1).x, 0);  // nothing written
}

TEST(FennickCalls, WireframeLiesOnTheBody) {
  auto m = testing::load_model("seal_flank.dat");
  place(*m, Pose{{0, 0.3, 0.1}, 400, 300, 1.0});
  auto lines = std::make_unique<ModelLines>();
  const int32_t all = get_model_lines(*m->model, *lines, 0);
  const int32_t visible = get_model_lines(*m->model, *lines, 1);
  EXPECT_EQ(all % 2, 0);
  EXPECT_EQ(visible % 2, 0);
  EXPECT_GT(all, visible);
  EXPECT_GT(visible, 500);
  EXPECT_LE(all, kMaxModelLinePoints);
  // Every point lies within the projected body's box (a margin of a pixel
  // for the rounding).
  double min_x = 1e9, max_x = -1e9, min_y = 1e9, max_y = -1e9;
  for (double y = 0; y <= 568; y += 2)
    for (int i = 0; i < 90; ++i) {
      const RayRecord r = ray_at(*m, y, 2 * kPi * i / 90);
      min_x = std::min(min_x, r.v[0]), max_x = std::max(max_x, r.v[0]);
      min_y = std::min(min_y, r.v[1]), max_y = std::max(max_y, r.v[1]);
    }
  for (int i = 0; i < visible; ++i) {
    EXPECT_GE(lines->points[i].x, min_x - 1);
    EXPECT_LE(lines->points[i].x, max_x + 1);
    EXPECT_GE(lines->points[i].y, min_y - 1);
    EXPECT_LE(lines->points[i].y, max_y + 1);
  }
}

TEST(FennickCalls, ResetTakesFitParamsAndReportsThem) {
  auto m = testing::load_model("seal_flank.dat");
  const int k0 = m->model->groups[0].count;  // 6
  m->params.v[0] = 0.1;
  m->params.v[1] = 3.15149;
  m->params.v[2] = -0.2;
  m->params.v[5] = 2.5;
  m->params.v[6] = 110;
  m->params.v[7] = 4;             // group 0, knot 1
  m->params.v[k0 + 6] = 1.2;      // group 1, knot 1
  m->params.v[k0 + 6 + 3] = 0.9;  // group 1, knot 4
  ASSERT_EQ(reset_model_parameters(*m->model, *m->marks, m->control, 1, 0, m->params, 5),
            kFennickOk);
  EXPECT_EQ(+m->model->groups[0].knots[3], 4.0);
  EXPECT_EQ(+m->model->groups[0].knots[1], 0.0);  // knot 0 keeps its rest value
  EXPECT_EQ(+m->model->groups[1].knots[1], 1.0);
  EXPECT_EQ(+m->model->groups[1].knots[3], 1.2);
  EXPECT_EQ(+m->model->groups[1].knots[9], 0.9);
  ModelParms parms{};
  ASSERT_EQ(get_model_parms(parms), kFennickOk);
  EXPECT_EQ(parms.v[0], 0.1);
  EXPECT_EQ(parms.v[1], 3.15149);
  EXPECT_EQ(parms.v[2], -0.2);
  EXPECT_EQ(parms.v[5], 2.5);
  EXPECT_DOUBLE_EQ(parms.v[6], 110);
  EXPECT_EQ(parms.v[11], 5);
  // A negative scale or a non-finite value is refused and changes nothing.
  const ModelRecord before = *m->model;
  m->params.v[5] = -1;
  EXPECT_EQ(reset_model_parameters(*m->model, *m->marks, m->control, 1, 0, m->params, 5),
            kFennickBadArguments);
  m->params.v[5] = 1;
  m->params.v[40] = std::nan("");
  EXPECT_EQ(reset_model_parameters(*m->model, *m->marks, m->control, 1, 0, m->params, 5),
            kFennickBadArguments);
  EXPECT_EQ(std::memcmp(&before, m->model.get(), sizeof before), 0);
}

// The body is cached per thread; a changed pose, table or profile in the
// record must be seen at the next call.
TEST(FennickCalls, CacheSeesEveryChangeOfTheRecord) {
  auto m = testing::load_model("seal_flank.dat");
  const RayRecord first = ray_at(*m, 200, -1);
  place(*m, Pose{{0, 0, 0}, 10, 0, 1});
  EXPECT_NEAR(ray_at(*m, 200, -1).v[0], first.v[0] + 10, 1e-9);
  m->model->table[23][0] = 1.5;  // the last table row, near the back
  EXPECT_NE(ray_at(*m, 200, -0.2).v[1], first.v[1]);
  const double before = ray_at(*m, 230, -kPi / 2).v[2];
  m->model->profile[7].values[1] = 80;  // half-width at Y 230
  EXPECT_LT(ray_at(*m, 230, -kPi / 2).v[2], before - 10);
}

}  // namespace
}  // namespace velmora::fennick

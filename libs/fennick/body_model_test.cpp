// The body surface and its camera: derivatives against finite differences
// for every deformation, the normal pointing outwards, the orientation
// against the composition the workstation uses for a hind-leg start, the
// state kept in the record, and the model records refused.
#include "libs/fennick/body_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "libs/fennick/model_state.h"
#include "libs/fennick/test_support.h"

namespace velmora::fennick {
namespace {

constexpr double kPi = std::numbers::pi;

Body flank_body() {
  auto m = testing::load_model("seal_flank.dat");
  Body body;
  EXPECT_TRUE(Body::build(*m->model, &body).ok());
  return body;
}

// A shape with every deformation at work.
Shape bent_shape(const Body& body) {
  Shape s = body.rest_shape();
  s.body_width = 1.15;
  s.belly = 0.2;
  for (int g = 0; g < kKnotGroups; ++g)
    for (int i = 0; i < body.knot_count(g); ++i) {
      const double wave = std::sin(1.3 * i + g);
      s.knots[g][i] = g == kGirth ? 1 + 0.1 * wave : g == kTwist ? 0.2 * wave : 12 * wave;
    }
  return s;
}

TEST(BodyModel, DerivativesMatchFiniteDifferences) {
  Body body = flank_body();
  for (const bool bent : {false, true}) {
    SCOPED_TRACE(bent ? "bent" : "rest");
    ASSERT_TRUE(body.set_shape(bent ? bent_shape(body) : body.rest_shape()).ok());
    for (double y = 3; y < 566; y += 23.3) {
      for (double theta = -3.1; theta < 3.2; theta += 0.37) {
        const SurfaceSample s = body.sample(y, theta);
        const double h = 1e-5;
        const Eigen::Vector3d dy =
            (body.sample(y + h, theta).point - body.sample(y - h, theta).point) / (2 * h);
        const Eigen::Vector3d dt =
            (body.sample(y, theta + h).point - body.sample(y, theta - h).point) / (2 * h);
        // Central differences of smooth curves: error ~ h^2, far below 1e-5;
        // the looser bound covers the profile's slope kinks at the rows.
        EXPECT_LT((s.d_y - dy).norm(), 1e-4 * (1 + dy.norm())) << y << " " << theta;
        EXPECT_LT((s.d_theta - dt).norm(), 1e-5 * (1 + dt.norm())) << y << " " << theta;
      }
    }
  }
}

TEST(BodyModel, NormalPointsOutOfTheBody) {
  Body body = flank_body();
  ASSERT_TRUE(body.set_shape(bent_shape(body)).ok());
  for (double y = 10; y < 560; y += 30) {
    // The section's centre: the mean of points round it.
    Eigen::Vector3d centre = Eigen::Vector3d::Zero();
    for (int i = 0; i < 72; ++i) centre += body.sample(y, 2 * kPi * i / 72).point;
    centre /= 72;
    for (int i = 0; i < 72; ++i) {
      const SurfaceSample s = body.sample(y, 2 * kPi * i / 72 + 0.01);
      EXPECT_GT(s.normal().dot(s.point - centre), 0) << y << " " << i;
    }
  }
}

TEST(BodyModel, RestSectionFollowsTheProfileAndTable) {
  Body body = flank_body();
  // Row "230,63,65,0", table 1.00 at the dorsal midline and 1.03 at the side,
  // 0.89 at the belly.
  EXPECT_NEAR(body.sample(230, 0).point.y(), -63 * 1.00, 1e-9);
  EXPECT_NEAR(body.sample(230, kPi / 2).point.z(), 65 * 1.03, 1e-9);
  EXPECT_NEAR(body.sample(230, -kPi / 2).point.z(), -65 * 1.03, 1e-9);
  EXPECT_NEAR(body.sample(230, kPi).point.y(), 63 * 0.89, 1e-9);
  // The body width widens only side to side; the girth both ways.
  Shape s = body.rest_shape();
  s.body_width = 1.2;
  for (double& v : s.knots[kGirth]) v = 1.1;
  ASSERT_TRUE(body.set_shape(s).ok());
  EXPECT_NEAR(body.sample(230, kPi / 2).point.z(), 65 * 1.03 * 1.2 * 1.1, 1e-9);
  EXPECT_NEAR(body.sample(230, 0).point.y(), -63 * 1.1, 1e-9);
}

TEST(BodyModel, OrientationIsTheWorkstationsComposition) {
  // The workstation recovers the angles of a composed rotation T as
  // p1 = asin T13, p0 = asin(T23 / cos p1), p2 = asin(T12 / cos p1).
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> angle(-1.4, 1.4);
  for (int i = 0; i < 200; ++i) {
    const std::array<double, 3> p{angle(rng), angle(rng), angle(rng)};
    const Eigen::Matrix3d t = orientation(p);
    const double p1 = std::asin(t(0, 2));
    EXPECT_NEAR(p1, p[1], 1e-9);
    EXPECT_NEAR(std::asin(t(1, 2) / std::cos(p1)), p[0], 1e-9);
    EXPECT_NEAR(std::asin(t(0, 1) / std::cos(p1)), p[2], 1e-9);
    EXPECT_NEAR((t * t.transpose() - Eigen::Matrix3d::Identity()).norm(), 0, 1e-12);
    EXPECT_NEAR(t.determinant(), 1, 1e-12);
  }
  // The reference poses: head right with the back up; p1 = pi, head left.
  const Eigen::Matrix3d rest = orientation({0, 0, 0});
  EXPECT_TRUE(rest.isApprox(Eigen::Matrix3d::Identity()));
  const Eigen::Matrix3d left = orientation({0, kPi, 0});
  EXPECT_NEAR((left * Eigen::Vector3d(1, 0, 0) - Eigen::Vector3d(-1, 0, 0)).norm(), 0, 1e-12);
  EXPECT_NEAR((left * Eigen::Vector3d(0, 1, 0) - Eigen::Vector3d(0, 1, 0)).norm(), 0, 1e-12);
}

TEST(BodyModel, StateRoundTripsThroughTheRecord) {
  auto m = testing::load_model("seal_flank.dat");
  Body body;
  ASSERT_TRUE(Body::build(*m->model, &body).ok());
  ModelState s;
  s.pose = Pose{{0.1, -0.2, 0.3}, 410.5, 220.25, 1.75};
  s.shape = bent_shape(body);
  s.rest = body.rest_shape();
  s.rest.body_width = 0.9;
  s.model_code = 77;
  s.last_fit = {1.5, 12, 4};
  store_state(s, m->model.get());
  ModelState back;
  ASSERT_TRUE(load_state(*m->model, body, &back));
  EXPECT_EQ(back.pose.angles, s.pose.angles);
  EXPECT_EQ(back.pose.x, 410.5);
  EXPECT_EQ(back.pose.y, 220.25);
  EXPECT_EQ(back.pose.scale, 1.75);
  EXPECT_EQ(back.shape.body_width, s.shape.body_width);
  EXPECT_EQ(back.shape.belly, s.shape.belly);
  EXPECT_EQ(back.shape.knots, s.shape.knots);
  EXPECT_EQ(back.rest.knots, s.rest.knots);
  EXPECT_EQ(back.rest.body_width, 0.9);
  EXPECT_EQ(back.model_code, 77);
  EXPECT_EQ(back.last_fit.iterations, 12);
  EXPECT_EQ(back.last_fit.result, 4);
  // A record never reset reads as the rest state.
  auto fresh = std::make_unique<ModelRecord>(*m->model);
  fresh->groups[0].library[0] = 0;
  EXPECT_FALSE(load_state(*fresh, body, &back));
  EXPECT_EQ(back.pose.scale, 1.0);
  EXPECT_EQ(back.shape.knots, body.rest_shape().knots);
  // A stored scale of zero is not a pose.
  fresh->groups[0].library[0] = kStateMark;
  fresh->groups[0].library[6] = 0;
  EXPECT_FALSE(load_state(*fresh, body, &back));
}

TEST(BodyModel, RecordsThatAreNoBodyAreRefused) {
  struct Case {
    const char* what;
    void (*spoil)(ModelRecord&);
    const char* message;
  };
  const Case cases[] = {
      {"one row", [](ModelRecord& m) { m.row_count = 1; }, "the profile has 1 rows"},
      {"no values", [](ModelRecord& m) { m.values_per_row = 0; }, "0 values a row"},
      {"two table rows", [](ModelRecord& m) { m.table_count = 2; }, "the table has 2 rows"},
      {"rows out of order", [](ModelRecord& m) { m.profile[3].position = 10; },
       "profile row 4 does not lie beyond"},
      {"a flat row", [](ModelRecord& m) { m.profile[5].values[1] = 0; },
       "profile row 6 has a size that is not positive"},
      {"a NaN in a row", [](ModelRecord& m) { m.profile[2].values[2] = std::nan(""); },
       "profile row 3 holds a value that is not finite"},
      {"a negative table row", [](ModelRecord& m) { m.table[4][0] = -1; },
       "table row 5 is not a positive number"},
      {"knots out of order", [](ModelRecord& m) { m.groups[2].knots[4] = 0; }, "knot 2 of group 2"},
      {"too many knots", [](ModelRecord& m) { m.groups[3].count = 17; },
       "knot group 3 has 17 knots"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto m = testing::load_model("seal_flank.dat");
    c.spoil(*m->model);
    Body body;
    const Status s = Body::build(*m->model, &body);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find(c.message), std::string::npos) << s.message();
    // The library's calls refuse it too, with the same words.
    RayRecord ray{};
    EXPECT_EQ(find_ray(*m->model, m->control, 100, 0, ray), kFennickBadModel);
    EXPECT_NE(fennick_last_message().find(c.message), std::string::npos);
    EXPECT_EQ(ray.v[0], 0.0);
  }
}

}  // namespace
}  // namespace velmora::fennick

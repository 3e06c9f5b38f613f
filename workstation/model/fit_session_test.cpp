// Start-up faults, the hind leg's starting pose, the closed outline and a
// fit that fails, on the session.
#include "workstation/model/fit_session.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "libs/fennick/outline.h"
#include "workstation/common/little_endian.h"
#include "workstation/model/model_test_support.h"

namespace velmora::model {
namespace {

TEST(FitSessionOpen, MissingEmptyOrUnsafeModelFileStopsAndIsNotCreated) {
  const auto folder = testing::data_folder("open", {});
  std::ofstream(folder / "empty.dat", std::ios::binary) << "@ only a comment\r\n";
  struct Case {
    const char* file;
    const char* says;
  };
  for (const Case& c : {Case{"seal_flank.dat", "missing"}, Case{"empty.dat", "holds no model"},
                        Case{"../seal_flank.dat", "seal_flank.dat"}}) {
    SCOPED_TRACE(c.file);
    SessionSetup setup = testing::flank_setup(folder);
    setup.aspect_settings.model_fname = c.file;
    std::unique_ptr<FitSession> session;
    const Status st = FitSession::open(setup, &session);
    EXPECT_FALSE(st.ok());
    EXPECT_NE(st.message().find(c.says), std::string::npos) << st.message();
    EXPECT_EQ(session, nullptr);
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "seal_flank.dat"));
  std::filesystem::remove_all(folder);
}

// The hind leg's start by plain row-by-column products.
void reference_pose(double a, double b, double c, bool facing, double out[3]) {
  using M = std::array<std::array<double, 3>, 3>;
  auto mul = [](const M& x, const M& y) {
    M z{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k) z[i][j] += x[i][k] * y[k][j];
    return z;
  };
  const double t = facing ? -1.2 : 1.2;
  const M rz0{{{std::cos(t), std::sin(t), 0}, {-std::sin(t), std::cos(t), 0}, {0, 0, 1}}};
  const M rx{{{1, 0, 0}, {0, std::cos(a), std::sin(a)}, {0, -std::sin(a), std::cos(a)}}};
  const M ry{{{std::cos(b), 0, std::sin(b)}, {0, 1, 0}, {-std::sin(b), 0, std::cos(b)}}};
  const M rz{{{std::cos(c), std::sin(c), 0}, {-std::sin(c), std::cos(c), 0}, {0, 0, 1}}};
  const M m = mul(mul(mul(rz0, rx), ry), rz);
  out[1] = std::asin(m[0][2]);
  if (std::fabs(b) > 1.570795) out[1] = 3.14159 - out[1];
  out[0] = std::asin(m[1][2] / std::cos(out[1]));
  if (std::fabs(a) > 1.570795) out[0] = 3.14159 - out[0];
  out[2] = std::asin(m[0][1] / std::cos(out[1]));
}

TEST(InitialPose, LateralStartsAndHindLegFromTheFlank) {
  const double zero[3] = {0, 0, 0};
  struct Case {
    bool dorsal_midline, facing, roll, yaw;
    double p1, p3, p4;
    int lock;
  };
  for (const Case& c : {Case{false, true, false, false, 0, -7, 0, 0},
                        Case{false, false, true, false, 3.15149, 0, 0, 2},
                        Case{true, true, false, true, 3.15149, -8, 3, 12},
                        Case{true, false, true, true, 0, -8, 3, 123}}) {
    const InitialPose p =
        lateral_initial_pose("Flank", c.dorsal_midline, c.facing, c.roll, c.yaw, zero);
    EXPECT_EQ(p.p1, c.p1);
    EXPECT_EQ(p.p3, c.p3);
    EXPECT_EQ(p.p4, c.p4);
    EXPECT_EQ(p.lock_code, c.lock);
    EXPECT_EQ(p.p0, 0);
    EXPECT_EQ(p.p2, 0);
  }
  for (bool facing : {true, false}) {
    const InitialPose p = lateral_initial_pose("HindLeg", false, facing, false, true, zero);
    EXPECT_NEAR(p.p0, 0, 1e-12);
    EXPECT_NEAR(p.p1, 0, 1e-12);
    EXPECT_NEAR(p.p2, facing ? -1.2 : 1.2, 1e-12);
  }
  const double angles[][3] = {{0.1, -0.3, 0.2}, {-0.05, 0.4, -0.1}, {0.2, 2.0, 0.3}, {1.8, 0.2, 0}};
  for (const auto& a : angles)
    for (bool facing : {true, false}) {
      double expected[3];
      reference_pose(a[0], a[1], a[2], facing, expected);
      const InitialPose p = lateral_initial_pose("HindLeg", false, facing, false, true, a);
      EXPECT_NEAR(p.p0, expected[0], 1e-9);
      EXPECT_NEAR(p.p1, expected[1], 1e-9);
      EXPECT_NEAR(p.p2, expected[2], 1e-9);
    }
}

TEST(RotXy, MissingReadsZeroAndIsNotCreatedShortIsRefused) {
  const auto folder = testing::data_folder("rot", {});
  double a[3] = {5, 5, 5};
  ASSERT_TRUE(read_rot_xy(folder, a).ok());
  EXPECT_EQ(a[0] + a[1] + a[2], 0);
  EXPECT_FALSE(std::filesystem::exists(folder / "rot_xy.dat"));
  std::string bytes;
  store_le_double(0.25, &bytes);
  store_le_double(-0.5, &bytes);
  std::ofstream(folder / "rot_xy.dat", std::ios::binary) << bytes;
  EXPECT_FALSE(read_rot_xy(folder, a).ok());
  store_le_double(1.5, &bytes);
  std::ofstream(folder / "rot_xy.dat", std::ios::binary) << bytes;
  ASSERT_TRUE(read_rot_xy(folder, a).ok());
  EXPECT_EQ(a[0], 0.25);
  EXPECT_EQ(a[1], -0.5);
  EXPECT_EQ(a[2], 1.5);
  std::filesystem::remove_all(folder);
}

std::unique_ptr<FitSession> open_flank(const std::filesystem::path& folder) {
  std::unique_ptr<FitSession> s;
  const Status st = FitSession::open(testing::flank_setup(folder), &s);
  EXPECT_TRUE(st.ok()) << st.message();
  return s;
}

TEST(FitSessionMarks, FacingIsSetByTheSecondBasePointAndLabelsFollowIt) {
  const auto folder = testing::data_folder("facing", {"seal_flank.dat"});
  auto s = open_flank(folder);
  ASSERT_TRUE(s->place_special_point(1, 800, 300).ok());  // sternum first
  EXPECT_FALSE(s->facing_known());
  EXPECT_EQ(s->special_label(2), "left shoulder");
  ASSERT_TRUE(s->place_special_point(0, 200, 320).ok());
  EXPECT_TRUE(s->facing());
  EXPECT_EQ(s->special_label(2), "far shoulder");
  EXPECT_EQ(s->special_label(7), "near mid");
  EXPECT_EQ(s->special_label(0), "tail base");
  ASSERT_TRUE(s->place_special_point(0, 900, 320).ok());
  EXPECT_FALSE(s->facing());
  EXPECT_EQ(s->special_label(2), "near shoulder");
  EXPECT_FALSE(s->place_special_point(8, 1, 1).ok());
  std::filesystem::remove_all(folder);
}

TEST(FitSessionFit, FailedFitNamesTheCellAndKeepsThePose) {
  const auto folder = testing::data_folder("fail", {"seal_flank.dat"});
  auto s = open_flank(folder);
  ASSERT_TRUE(s->place_special_point(0, 200, 320).ok());  // one point is too few
  const auto before = std::make_unique<fennick::ModelRecord>(s->model());
  const fennick::FitParams params = s->params();
  const Status st = s->initial_fit();
  ASSERT_FALSE(st.ok());
  EXPECT_NE(st.message().find("GS0001_01FL"), std::string::npos) << st.message();
  EXPECT_NE(st.message().find("too few marks"), std::string::npos) << st.message();
  EXPECT_EQ(std::memcmp(before.get(), &s->model(), sizeof(fennick::ModelRecord)), 0);
  EXPECT_EQ(std::memcmp(&params, &s->params(), sizeof params), 0);
  extract::SharedExtract cell;
  EXPECT_FALSE(s->extract(&cell).ok());
  std::filesystem::remove_all(folder);
}

// The outline the session builds before a Fit, read back from the lists
// beyond their counts once the fit has taken the closing points off.
TEST(FitSessionFit, OutlineClosesWithPentagonCapsAndCountsComeBack) {
  struct Case {
    bool auto_order;
    std::vector<fennick::ScreenPoint> top, bottom;
    int warnings;  // -1: a degenerate outline, not counted
  };
  const std::vector<Case> cases = {
      {false, {{300, 200}}, {{320, 420}}, -1},
      // With Auto order the point beside the other list's first point steps
      // back against that list's direction: a sharp turn at each join.
      {true, {{700, 210}, {300, 200}, {500, 190}}, {{320, 420}, {690, 400}}, 2},
      // A top edge that doubles back on itself: the reversed segment turns
      // sharply where it starts and where the outline leaves it (four
      // sharp turns in this outline).
      {false, {{300, 200}, {500, 190}, {350, 195}}, {{320, 420}, {690, 400}}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.auto_order);
    const auto folder = testing::data_folder("outline", {"seal_flank.dat"});
    auto s = open_flank(folder);
    s->set_auto_order(c.auto_order);
    for (auto p : c.top) ASSERT_TRUE(s->add_mark(MarkList::kTop, p.x, p.y).ok());
    for (auto p : c.bottom) ASSERT_TRUE(s->add_mark(MarkList::kBottom, p.x, p.y).ok());
    std::vector<std::string> warnings;
    (void)s->fit(&warnings);  // too few marks to fit; the outline is built first all the same
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(s->marked_points().top.count, static_cast<int>(c.top.size()));
      EXPECT_EQ(s->marked_points().bottom.count, static_cast<int>(c.bottom.size()));
      (void)s->fit(nullptr);
    }
    if (c.warnings >= 0) {
      EXPECT_EQ(static_cast<int>(warnings.size()), c.warnings);
    }
    for (const std::string& w : warnings) EXPECT_EQ(w, "acute angle");
    auto sorted = [&](std::vector<fennick::ScreenPoint> v) {
      if (c.auto_order)
        std::stable_sort(v.begin(), v.end(), [](auto a, auto b) { return a.x < b.x; });
      return v;
    };
    const auto top = sorted(c.top), bottom = sorted(c.bottom);
    const fennick::PointList& t = s->marked_points().top;
    int n = static_cast<int>(top.size());
    fennick::ScreenPoint last = top.back();
    if (c.auto_order) {
      last = {last.x + 1, last.y};
      EXPECT_EQ(t.x[n], last.x);
      ++n;
    }
    const auto cap = fennick::pentagon_cap(last, bottom.front());
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(t.x[n + i], cap[i].x);
      EXPECT_EQ(t.y[n + i], cap[i].y);
    }
    if (c.auto_order) {
      EXPECT_EQ(t.x[n + 3], bottom.front().x + 1);
    }
    // The closing points lead back to the first top point.
    const fennick::PointList& b = s->marked_points().bottom;
    const int m = static_cast<int>(bottom.size()) + (c.auto_order ? 1 : 0);
    const auto back = fennick::pentagon_cap({b.x[m - 1], b.y[m - 1]}, top.front());
    EXPECT_EQ(b.x[m + 2], back[2].x);
    EXPECT_EQ(b.y[m + 2], back[2].y);
    std::filesystem::remove_all(folder);
  }
}

}  // namespace
}  // namespace velmora::model

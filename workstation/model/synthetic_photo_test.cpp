// The whole fitting session on photographs of a known pose: a pelt painted
// on the body model's surface, marks taken from that pose with a little
// jitter, Initial Fit, Fit and Extract; the extract must show the painted
// pelt where the sampling grid says each pixel lies.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>

#include "libs/fennick/synthetic_marks.h"
#include "workstation/model/fit_session.h"
#include "workstation/model/model_test_support.h"

namespace velmora::model {
namespace {

using fennick::Pose;
namespace ft = fennick::testing;

constexpr int kWidth = 1500, kHeight = 1000;

// The pelt: smooth in (Y, theta), so that a fit a pixel or two off still
// reads nearly the painted value. `phase` makes another animal.
struct Pelt {
  double phase = 0;
  int red(double y, double theta) const {
    return static_cast<int>(128 + 60 * std::sin(2 * M_PI * y / 90 + phase) +
                            50 * std::cos(2 * M_PI * theta / 0.9 + 2 * phase));
  }
  // Three colours of one pattern; blue never dominates (no blanking paint).
  void colour(double y, double theta, int rgb[3]) const {
    const int v = red(y, theta);
    rgb[0] = v;
    rgb[1] = v;
    rgb[2] = v * 6 / 10;
  }
  double grey(double y, double theta) const {
    int c[3];
    colour(y, theta, c);
    return (c[0] + c[1] + c[2]) / 3.0;
  }
};

// The photograph of the flank model at `pose`: the pelt painted over the
// right side (what an animal facing right shows) with a depth buffer.
Photo render(const Pose& pose, const Pelt& pelt) {
  auto truth = ft::load_model("seal_flank.dat");
  ft::place(*truth, pose);
  Photo photo(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) photo.set(x, y, 40, 70, 40);
  std::vector<double> depth(static_cast<size_t>(kWidth) * kHeight, 1e30);
  fennick::RayRecord ray{};
  for (double y = 45; y <= 405; y += 0.45) {
    for (double theta = -3.3; theta <= 0.15; theta += 0.006) {
      if (fennick::find_ray(*truth->model, truth->control, y, theta, ray) != fennick::kFennickOk ||
          ray.v[10] >= 0)
        continue;
      const int px = static_cast<int>(std::lround(ray.v[0])),
                py = static_cast<int>(std::lround(ray.v[1]));
      if (!photo.contains(px, py)) continue;
      double& d = depth[static_cast<size_t>(py) * kWidth + px];
      if (ray.v[2] >= d) continue;
      d = ray.v[2];
      int c[3];
      pelt.colour(y, theta, c);
      photo.set(px, py, static_cast<uint8_t>(c[0]), static_cast<uint8_t>(c[1]),
                static_cast<uint8_t>(c[2]));
    }
  }
  return photo;
}

struct Sighting {
  extract::SharedExtract cell;
  fennick::SamplingCorners corners{};
  double fit_seconds = 0, extract_seconds = 0;
};

// Marks of `pose` with up to a pixel of jitter, through the session as an
// operator places them, then the fits and the extract.
Sighting fit_and_extract(const Pose& pose, const Pelt& pelt, unsigned seed) {
  Sighting out;
  auto truth = ft::load_model("seal_flank.dat");
  ft::place(*truth, pose);
  const std::unique_ptr<fennick::MarkedPoints> marks = ft::synthetic_marks(*truth);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> jitter(-1, 1);

  const auto folder = testing::data_folder("synthetic" + std::to_string(seed), {"seal_flank.dat"});
  std::unique_ptr<FitSession> session;
  Status st = FitSession::open(testing::flank_setup(folder), &session);
  EXPECT_TRUE(st.ok()) << st.message();
  if (!st.ok()) return out;
  st = session->crop(render(pose, pelt), CropRequest{true}, kWidth, kHeight);
  EXPECT_TRUE(st.ok()) << st.message();
  for (int i = 0; i < session->special_count(); ++i) {
    if (marks->placed[i] != 1) continue;
    const int x = marks->special[2 * i] + jitter(random),
              y = marks->special[2 * i + 1] + jitter(random);
    EXPECT_TRUE(session->place_special_point(i, x, y).ok());
  }
  auto add = [&](MarkList list, const fennick::PointList& points) {
    for (int i = 0; i < points.count; ++i)
      EXPECT_TRUE(
          session->add_mark(list, points.x[i] + jitter(random), points.y[i] + jitter(random)).ok());
  };
  add(MarkList::kMidline, marks->midline);
  add(MarkList::kTop, marks->top);
  add(MarkList::kBottom, marks->bottom);

  const auto t0 = std::chrono::steady_clock::now();
  st = session->initial_fit();
  EXPECT_TRUE(st.ok()) << st.message();
  std::vector<std::string> warnings;
  st = session->fit(&warnings);
  EXPECT_TRUE(st.ok()) << st.message() << " (seed " << seed << ")";
  const auto t1 = std::chrono::steady_clock::now();
  st = session->extract(&out.cell);
  EXPECT_TRUE(st.ok()) << st.message();
  const auto t2 = std::chrono::steady_clock::now();
  out.corners = session->corners();
  out.fit_seconds = std::chrono::duration<double>(t1 - t0).count();
  out.extract_seconds = std::chrono::duration<double>(t2 - t1).count();
  std::filesystem::remove_all(folder);
  return out;
}

// The surface point of extract pixel (row, column) of a lateral extract of
// an animal facing right (stored turned by half a turn), from the corners.
void surface_of(const fennick::SamplingCorners& c, int row, int column, double* y, double* theta) {
  const int j = 257 - row, k = 257 - column;
  const double t = (j - 1) / 255.0, u = (k - 1) / 255.0;
  const double* s = c.s;
  const double sy = s[0] + (s[4] - s[0]) * t, st = s[1] + (s[5] - s[1]) * t;
  const double ey = s[2] + (s[6] - s[2]) * t, et = s[3] + (s[7] - s[3]) * t;
  *y = sy + (ey - sy) * u;
  *theta = st + (et - st) * u;
}

double correlation(const extract::SharedExtract& a, const extract::SharedExtract& b) {
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  int n = 0;
  for (size_t i = 0; i < extract::kExtractPixels; ++i) {
    if (a.blank[i] != 0 || b.blank[i] != 0) continue;
    sa += a.intensity[i];
    sb += b.intensity[i];
    saa += a.intensity[i] * a.intensity[i];
    sbb += b.intensity[i] * b.intensity[i];
    sab += a.intensity[i] * b.intensity[i];
    ++n;
  }
  if (n < 1000) return 0;
  const double cov = sab / n - sa / n * sb / n;
  return cov / std::sqrt((saa / n - sa / n * sa / n) * (sbb / n - sb / n * sb / n));
}

const Pose kPoseA{{0.05, -0.44, -0.17}, 420, 560, 1.1};
const Pose kPoseB{{0.05, -0.88, -0.1}, 430, 520, 1.1};  // 25 degrees of yaw from A

TEST(SyntheticPhotograph, ExtractShowsThePaintedPeltWhereTheGridSays) {
  const Pelt pelt;
  const Sighting a = fit_and_extract(kPoseA, pelt, 1);
  int usable = 0, matching = 0;
  for (int row = 1; row <= 256; ++row)
    for (int column = 1; column <= 256; ++column) {
      if (a.cell.is_blank(row, column)) continue;
      ++usable;
      double y = 0, theta = 0;
      surface_of(a.corners, row, column, &y, &theta);
      if (std::fabs(a.cell.cell_intensity(row, column) - pelt.grey(y, theta)) < 15) ++matching;
    }
  EXPECT_GT(usable, 65536 * 6 / 10);
  EXPECT_GT(matching, usable * 85 / 100) << matching << " of " << usable;
  EXPECT_TRUE(a.cell.extract_ready);
  std::printf("pose A: Initial Fit + Fit %.3f s, Extract %.3f s, %d usable pixels, %d match\n",
              a.fit_seconds, a.extract_seconds, usable, matching);
}

TEST(SyntheticPhotograph, TwoPosesOfOneAnimalCorrelateAndAnotherAnimalDoesNot) {
  const Pelt pelt, other{1.3};
  const Sighting a = fit_and_extract(kPoseA, pelt, 2);
  const Sighting b = fit_and_extract(kPoseB, pelt, 3);
  const Sighting c = fit_and_extract(kPoseB, other, 4);
  const double same = correlation(a.cell, b.cell), different = correlation(a.cell, c.cell);
  std::printf(
      "correlation same animal %.3f, other animal %.3f; pose B fit %.3f s, extract %.3f s\n", same,
      different, b.fit_seconds, b.extract_seconds);
  EXPECT_GT(same, 0.8);
  EXPECT_LT(std::fabs(different), 0.4);
}

}  // namespace
}  // namespace velmora::model

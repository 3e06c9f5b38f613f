// The distance-to-blank map against a per-pixel search over every edge pixel.
#include "workstation/extract/blank_distance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace velmora::extract {
namespace {

// The same map found the other way round: for each pixel, every edge pixel of
// the whole extract within the reach of the square, the nearest one.
std::vector<float> reference_map(const SharedExtract& e) {
  std::vector<std::pair<int, int>> edges;
  for (int i = 1; i <= kExtractRows; ++i) {
    for (int j = 1; j <= kExtractColumns; ++j) {
      if (e.cell_blank(i, j) == 0) continue;
      bool usable_near = false;
      for (int di = -1; di <= 1; ++di) {
        for (int dj = -1; dj <= 1; ++dj) {
          if (SharedExtract::in_range(i + di, j + dj) && e.cell_blank(i + di, j + dj) == 0) {
            usable_near = true;
          }
        }
      }
      if (usable_near) edges.emplace_back(i, j);
    }
  }
  std::vector<float> map(kExtractPixels, kBlankDistanceCap);
  for (int k = 1; k <= kExtractRows; ++k) {
    for (int l = 1; l <= kExtractColumns; ++l) {
      float best = kBlankDistanceCap;
      for (const auto& [i, j] : edges) {
        if (std::abs(i - k) > kBlankDistanceReach || std::abs(j - l) > kBlankDistanceReach)
          continue;
        best = std::min(best, static_cast<float>(std::hypot(double(i - k), double(j - l))));
      }
      map[SharedExtract::index(k, l)] = best;
    }
  }
  return map;
}

void blank_box(SharedExtract* e, int r0, int r1, int c0, int c1) {
  for (int r = r0; r <= r1; ++r)
    for (int c = c0; c <= c1; ++c) e->cell_blank(r, c) = kBlankPixel;
}

TEST(BlankDistance, MatchesTheNearestEdgeWithinReach) {
  struct Case {
    const char* what;
    void (*blank)(SharedExtract*);
  };
  const Case cases[] = {
      {"no blank pixel", [](SharedExtract*) {}},
      {"one blank pixel", [](SharedExtract* e) { blank_box(e, 128, 128, 100, 100); }},
      {"a block in the middle", [](SharedExtract* e) { blank_box(e, 100, 140, 60, 90); }},
      {"a block on the corner", [](SharedExtract* e) { blank_box(e, 1, 30, 1, 50); }},
      {"a band across the extract", [](SharedExtract* e) { blank_box(e, 1, 256, 200, 256); }},
      {"everything blank: no edge", [](SharedExtract* e) { blank_box(e, 1, 256, 1, 256); }},
      {"scattered pixels",
       [](SharedExtract* e) {
         std::mt19937 rng(17);  // fixed seed: the same pixels every run
         std::uniform_int_distribution<int> pos(1, 256);
         for (int n = 0; n < 40; ++n) e->cell_blank(pos(rng), pos(rng)) = kBlankPixel;
       }},
  };
  for (const Case& c : cases) {
    SharedExtract e;
    c.blank(&e);
    std::vector<float> map(kExtractPixels, kBlankDistanceCap);
    compute_blank_distance(e, &map);
    const std::vector<float> expect = reference_map(e);
    int differ = 0;
    for (size_t p = 0; p < kExtractPixels; ++p) differ += map[p] != expect[p];
    EXPECT_EQ(differ, 0) << c.what;
  }
}

TEST(BlankDistance, ReachIsASquareAndTheCapStays) {
  SharedExtract e;
  e.cell_blank(128, 128) = kBlankPixel;
  std::vector<float> map(kExtractPixels, kBlankDistanceCap);
  compute_blank_distance(e, &map);
  EXPECT_EQ(map[SharedExtract::index(128, 128)], 0.0f);
  EXPECT_FLOAT_EQ(map[SharedExtract::index(128 + 45, 128 + 45)], std::sqrt(2.0f) * 45);
  // One step outside the square: still the cap, though nearer than 100.
  EXPECT_EQ(map[SharedExtract::index(128 + 46, 128)], kBlankDistanceCap);
  // Values already lower are kept.
  std::vector<float> low(kExtractPixels, 1.5f);
  compute_blank_distance(e, &low);
  EXPECT_EQ(low[SharedExtract::index(128 + 10, 128)], 1.5f);
}

}  // namespace
}  // namespace velmora::extract

// Seed sets against hand-worked windows and against a plain transcription of
// the window search on random spot lists; the spot maps against the disc
// formula evaluated at every pixel.
#include "workstation/extract/seeds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace velmora::extract {
namespace {

Spot spot(float row, float column, float kind = 2.0f, bool excluded = false) {
  return {1.0f, row, column, kind, excluded};
}

// Four spots on a square of side 80 and one inside, all in every window of
// the 2 x 2 layout: the first set is (1, 2, 3) once the distance falls below 80.
SpotList square() {
  return {spot(100, 100), spot(100, 180), spot(180, 100), spot(180, 180), spot(120, 120)};
}

TEST(PlaceSeeds, HandWorkedWindows) {
  struct Case {
    const char* name;
    SpotList spots;
    int show_n_spots;
    const char* min_triangle;
    std::vector<SeedTriple> sets;
    int windows;
    const char* distance;
  };
  SpotList first_excluded = square();
  first_excluded[0].excluded_from_seeds = true;
  SpotList two_usable = {spot(100, 100), spot(100, 180, 2, true), spot(180, 100)};
  const Case cases[] = {
      // Four windows give the same triple: stored once.
      {"same triple in every window", square(), 40, "5000", {{1, 2, 3}}, 4, "100"},
      {"first spot excluded", first_excluded, 40, "5000", {{2, 3, 4}}, 4, "100"},
      // 6400 is every triangle's measure: none passes, the last spot stands in.
      {"no triangle large enough", square(), 40, "6400", {{1, 2, 5}}, 4, "100"},
      {"two usable spots", two_usable, 40, "5000", {}, 0, "100"},
      {"no spots", {}, 41, "5000", {}, 0, "50"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SeedResult r;
    const Status s = place_seeds(
        c.spots, {static_cast<int>(c.spots.size()), c.show_n_spots, 0, c.min_triangle, 0.1f}, &r);
    ASSERT_TRUE(s.ok()) << s.message();
    ASSERT_EQ(r.sets.count, static_cast<int>(c.sets.size()));
    for (std::size_t i = 0; i < c.sets.size(); ++i) EXPECT_EQ(r.sets.sets[i], c.sets[i]);
    EXPECT_EQ(r.windows_with_sets, c.windows);
    EXPECT_EQ(r.min_distance_text, c.distance);
    EXPECT_EQ(r.caption, "# sets = " + std::to_string(c.sets.size()));
  }
}

TEST(PlaceSeeds, RefusesBadSettingsAndLeavesTheResult) {
  struct Case {
    SeedSettings settings;
    const char* says;
  };
  const Case cases[] = {
      {{5, 10, 0, "abc", 0.1f}, "'abc'"},    {{5, 10, 0, "5,000", 0.1f}, "'5,000'"},
      {{5, 10, 0, "", 0.1f}, "''"},          {{5, 10, 0, "5000", -0.1f}, "dilate_proportion"},
      {{6, 10, 0, "5000", 0.1f}, "6 spots"}, {{-1, 10, 0, "5000", 0.1f}, "-1 spots"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    SeedResult r;
    r.caption = "before";
    const Status s = place_seeds(square(), c.settings, &r);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find(c.says), std::string::npos) << s.message();
    EXPECT_EQ(r.caption, "before");
  }
  SpotList many(300, spot(100, 100));
  SeedResult r;
  EXPECT_FALSE(place_seeds(many, {256, 10, 0, "5000", 0.1f}, &r).ok());
  EXPECT_TRUE(place_seeds(many, {255, 10, 0, "5000", 0.1f}, &r).ok());
}

// ------------------------------------------- the search, transcribed plainly

struct Reference {
  std::vector<SeedTriple> sets;
  int windows = 0;
  int p2_fallbacks = 0, p3_fallbacks = 0, lowered = 0;  // how often each rule decided
};

Reference reference_seeds(const SpotList& spots, int limit, int show, int margin, double det) {
  const bool fine = show > 40;
  const int size = fine ? 128 : 192, start = fine ? 50 : 100;
  const std::vector<int> origins = fine ? std::vector<int>{0, 64, 128} : std::vector<int>{0, 64};
  int e = 3 * margin / 2;                         // margin * 1.5 ...
  if (3 * margin % 2 == 1 && e % 2 == 1) e += 1;  // ... halves to even
  auto dist = [](const Spot& a, const Spot& b) {
    return std::hypot(double(a.row) - b.row, double(a.column) - b.column);
  };
  Reference ref;
  for (int b : origins) {
    for (int d : origins) {
      std::vector<int> w;  // spot numbers, 1-based
      for (int k = 1; k <= limit; ++k) {
        const Spot& s = spots[k - 1];
        if (!s.excluded_from_seeds && s.row > std::max(b, e) &&
            s.row < std::min(b + size + 1, 265 - e) && s.column > std::max(d, e) &&
            s.column < std::min(d + size + 1, 265 - e))
          w.push_back(k);
      }
      const int n = static_cast<int>(w.size());
      if (n < 3) continue;
      ++ref.windows;
      auto at = [&](int i) -> const Spot& { return spots[w[i - 1] - 1]; };
      int p2 = 0, p3 = 0;
      for (int g = start - 10; g >= 10; g -= 10) {
        if (g < start - 10) ++ref.lowered;
        p2 = n - 1;
        for (int j = n - 2; j >= 1; --j)  // the last qualifying from the end is the first
          if (dist(at(1), at(j)) > g) p2 = j;
        if (p2 == n - 1) ++ref.p2_fallbacks;
        p3 = n;
        for (int j = n - 1; j > p2; --j) {
          const Spot &a = at(1), &q = at(p2), &c = at(j);
          const double m = std::fabs((double(c.column) - a.column) * (double(q.row) - a.row) -
                                     (double(q.column) - a.column) * (double(c.row) - a.row));
          if (dist(a, c) > g && dist(q, c) > g && m > det) p3 = j;
        }
        if (p3 != n) break;
      }
      if (p3 == n) ++ref.p3_fallbacks;
      const SeedTriple t = {w[0], w[p2 - 1], w[p3 - 1]};
      if (std::find(ref.sets.begin(), ref.sets.end(), t) == ref.sets.end()) ref.sets.push_back(t);
    }
  }
  return ref;
}

TEST(PlaceSeeds, MatchesThePlainSearchOnRandomLists) {
  std::mt19937 rng(4711);
  Reference total;
  for (int trial = 0; trial < 400; ++trial) {
    SCOPED_TRACE(trial);
    // Tight clusters make the distance rules fall back, loose ones let them pass.
    const double spread = std::vector<double>{12, 40, 130}[trial % 3];
    std::normal_distribution<double> around(128.0, spread);
    std::uniform_int_distribution<int> count(0, 40);
    SpotList spots(count(rng));
    for (Spot& s : spots) {
      s.row = static_cast<float>(std::clamp(around(rng), 1.0, 256.0));
      s.column = static_cast<float>(std::clamp(around(rng), 1.0, 256.0));
      // Whole pixels, and a 10-pixel grid where distances and measures tie
      // with the thresholds.
      const float grid = std::vector<float>{0, 1, 10}[trial % 5 % 3];
      if (grid > 0) s = spot(grid * std::round(s.row / grid), grid * std::round(s.column / grid));
      s.excluded_from_seeds = rng() % 7 == 0;
    }
    const int limit = spots.empty() ? 0 : static_cast<int>(rng() % (spots.size() + 1));
    const int show = trial % 4 < 2 ? 30 : 60;
    const int margin = std::vector<int>{0, 11, 12, 13}[trial % 4];
    const double det = std::vector<double>{0, 5000, 20000}[trial / 3 % 3];
    SeedResult r;
    ASSERT_TRUE(place_seeds(spots, {limit, show, margin, std::to_string(int(det)), 0.1f}, &r).ok());
    const Reference ref = reference_seeds(spots, limit, show, margin, det);
    ASSERT_EQ(r.sets.count, static_cast<int>(ref.sets.size()));
    for (std::size_t i = 0; i < ref.sets.size(); ++i) EXPECT_EQ(r.sets.sets[i], ref.sets[i]);
    EXPECT_EQ(r.windows_with_sets, ref.windows);
    total.p2_fallbacks += ref.p2_fallbacks;
    total.p3_fallbacks += ref.p3_fallbacks;
    total.lowered += ref.lowered;
    total.windows += ref.windows;
  }
  // Every rule decided some windows, so the comparison covered each of them.
  EXPECT_GT(total.p2_fallbacks, 20);
  EXPECT_GT(total.p3_fallbacks, 20);
  EXPECT_GT(total.lowered, 20);
  EXPECT_GT(total.windows, 200);
}

// ------------------------------------------------------------ the spot maps

TEST(PlaceSeeds, MapsAreTheDiscFormulaAtEveryPixel) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> pos(-5.0f, 262.0f);
  const float kinds[] = {1.0f, 1.5f, 2.0f, 2.5f, 3.0f};
  for (int n : {0, 1, 7, 40}) {
    for (float proportion : {0.0f, 0.05f, 0.3f}) {
      SCOPED_TRACE(std::to_string(n) + " spots, proportion " + std::to_string(proportion));
      SpotList spots;
      for (int k = 0; k < n; ++k) spots.push_back(spot(pos(rng), pos(rng), kinds[k % 5]));
      if (n > 0) spots[0] = spot(1, 256, 2.0f);  // a disc cut by the map's edge
      SeedResult r;
      ASSERT_TRUE(place_seeds(spots, {n, 10, 12, "5000", proportion}, &r).ok());
      const double radius = n == 0 ? 0.0 : std::sqrt(65536.0 * proportion / (std::numbers::pi * n));
      EXPECT_FLOAT_EQ(r.dilate_radius, static_cast<float>(radius));
      const double r2 = double(r.dilate_radius) * double(r.dilate_radius);
      for (int y = 1; y <= kSpotMapSide; ++y) {
        for (int x = 1; x <= kSpotMapSide; ++x) {
          bool top = false, bottom = false;
          for (const Spot& s : spots) {
            const double dx = x - (double(s.column) + 20), dy = y - (double(s.row) + 20);
            const bool in = dx * dx + dy * dy <= r2;
            top = top || (in && s.kind <= 2.0f);
            bottom = bottom || (in && s.kind >= 2.0f);
          }
          ASSERT_EQ(r.top.is_black(x, y), top) << x << "," << y;
          ASSERT_EQ(r.bottom.is_black(x, y), bottom) << x << "," << y;
        }
      }
    }
  }
  // The same share split among more discs makes each smaller.
  EXPECT_GT(dilate_radius(0.2f, 10), dilate_radius(0.2f, 11));
  EXPECT_EQ(dilate_radius(0.2f, 0), 0.0f);
}

TEST(PlaceSeeds, CirclesUseEachSetsColourAndRadius) {
  SeedSets sets;
  sets.count = 2;
  sets.sets[0] = {1, 2, 3};
  sets.sets[1] = {2, 3, 9};  // 9 is not in the list: skipped
  const std::vector<SeedCircle> c = seed_circles(square(), sets);
  ASSERT_EQ(c.size(), 5u);
  EXPECT_EQ(c[1].x, 180.0f);
  EXPECT_EQ(c[1].y, 100.0f);
  EXPECT_EQ(c[2].radius, 18);
  EXPECT_EQ(c[2].colour.red, 255);
  EXPECT_EQ(c[4].radius, 16);
  EXPECT_EQ(c[4].colour.green, 255);
  EXPECT_EQ(c[4].colour.red, 0);
}

}  // namespace
}  // namespace velmora::extract

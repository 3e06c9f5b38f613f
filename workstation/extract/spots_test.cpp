// Spots: the sort and the merge against plain references (with faults the
// comparison must notice), merging's edge cases, dots found at the centres
// of synthetic dots, and the operator's mouse edits as a table.
#include "workstation/extract/spots.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "workstation/extract/shared_extract.h"

namespace velmora::extract {
namespace {

Spot spot(float score, float row, float column, float kind = 2.0f) {
  return {score, row, column, kind, false};
}

SpotList random_list(std::mt19937& rng, int n, int span) {
  std::uniform_int_distribution<int> pos(1, span), score(0, 5), kind(1, 3);
  SpotList list;
  for (int k = 0; k < n; ++k) {
    list.push_back(spot(static_cast<float>(score(rng)), static_cast<float>(pos(rng)),
                        static_cast<float>(pos(rng)), static_cast<float>(kind(rng))));
  }
  return list;
}

// ------------------------------------------------------ sort and merge

TEST(SizeOrder, IsTheStableSortOfEveryColumnBothWays) {
  std::mt19937 rng(5);
  for (int round = 0; round < 40; ++round) {
    const SpotList list = random_list(rng, 1 + round * 3, 6);  // many equal keys
    const int count = std::max(0, static_cast<int>(list.size()) - round % 3);
    for (int column = 1; column <= 4; ++column) {
      for (const bool down : {false, true}) {
        auto key = [column](const Spot& s) {
          return std::array{s.score, s.row, s.column, s.kind}[column - 1];
        };
        SpotList expected = list, got = list;
        std::stable_sort(expected.begin(), expected.begin() + count, [&](auto& a, auto& b) {
          return down ? key(a) > key(b) : key(a) < key(b);
        });
        size_order(got, count, static_cast<SpotColumn>(column),
                   down ? SortOrder::kDescending : SortOrder::kAscending);
        ASSERT_EQ(got, expected) << "round " << round;
      }
    }
  }
}

// The merge the obvious way. The faults must be noticed by the comparison.
enum class MergeFault { kNone, kMergeAtDistance, kOnePass };

SpotList reference_merge(SpotList s, float critical, MergeFault fault) {
  for (bool again = true; again;) {
    struct Row {
      std::size_t a;
      int b;
      double d;
    };
    std::vector<Row> table;
    for (std::size_t a = 0; a < s.size(); ++a) {
      Row r{a, -1, 100000.0};
      for (std::size_t k = 0; k < s.size(); ++k) {
        const double d = std::hypot(double{s[k].row} - s[a].row, double{s[k].column} - s[a].column);
        if (k != a && d < r.d) r = {a, static_cast<int>(k), d};
      }
      table.push_back(r);
    }
    std::stable_sort(table.begin(), table.end(),
                     [](const Row& x, const Row& y) { return x.d < y.d; });
    std::vector<bool> used(s.size(), false);
    SpotList out;
    again = false;
    auto mean = [](float x, float y) { return static_cast<float>((double{x} + y) / 2); };
    for (const Row& r : table) {
      const bool near = fault == MergeFault::kMergeAtDistance ? r.d <= critical : r.d < critical;
      if (r.b >= 0 && !used[r.a] && !used[r.b] && near) {
        const Spot &x = s[r.a], &y = s[r.b];
        out.push_back(spot(mean(x.score, y.score), mean(x.row, y.row), mean(x.column, y.column),
                           mean(x.kind, y.kind)));
        used[r.a] = used[r.b] = true;
        again = fault != MergeFault::kOnePass;
      }
      if (!used[r.a]) {
        out.push_back(s[r.a]);
        used[r.a] = true;
      }
    }
    s = out;
  }
  std::stable_sort(s.begin(), s.end(),
                   [](const Spot& x, const Spot& y) { return x.score > y.score; });
  if (s.size() > 100) s.resize(100);
  for (Spot& x : s) x.score *= 10;
  return s;
}

TEST(MergeNearSpots, AgreesWithAPlainMergeAndNoticesFaults) {
  std::mt19937 rng(11);
  int caught_at_distance = 0, caught_one_pass = 0;
  for (int round = 0; round < 60; ++round) {
    const SpotList list = random_list(rng, 2 + round * 4, 40 + round * 3);
    SpotList got = list;
    merge_near_spots(got, 9.0f);
    ASSERT_EQ(got, reference_merge(list, 9.0f, MergeFault::kNone)) << "round " << round;
    caught_at_distance += got != reference_merge(list, 9.0f, MergeFault::kMergeAtDistance);
    caught_one_pass += got != reference_merge(list, 9.0f, MergeFault::kOnePass);
  }
  EXPECT_GT(caught_at_distance, 0);
  EXPECT_GT(caught_one_pass, 0);
}

TEST(MergeNearSpots, EdgeCases) {
  const struct {
    const char* name;
    SpotList in, out;
  } cases[] = {
      // clang-format off
      {"exactly the distance apart: kept", {spot(3, 10, 10), spot(2, 10, 19)}, {spot(30, 10, 10), spot(20, 10, 19)}},
      {"closer: one spot at the means", {spot(3, 10, 10, 1), spot(2, 10, 18.5f, 2)}, {spot(25, 10, 14.25f, 1.5f)}},
      {"a chain collapses over two passes", {spot(4, 50, 50), spot(2, 50, 55), spot(1, 50, 60)}, {spot(20, 50, 56.25f)}},
      {"a lone spot", {spot(1, 5, 5)}, {spot(10, 5, 5)}},
      {"nothing", {}, {}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SpotList list = c.in;
    merge_near_spots(list, 9.0f);
    EXPECT_EQ(list, c.out) << c.name;
  }
  EXPECT_EQ(neardist({spot(1, 5, 5)}, 1, 5, 5, 0).index, -1);
  EXPECT_EQ(neardist({spot(1, 5, 5)}, 1, 5, 5, 0).distance, kNoNearSpot);
  // 150 spots far apart: the best 100 stay, scores ten times as large.
  SpotList many;
  for (int k = 0; k < 150; ++k) many.push_back(spot(k * 0.5f, 10 + k / 10 * 15, 10 + k % 10 * 15));
  merge_near_spots(many, 9.0f);
  ASSERT_EQ(many.size(), 100u);
  for (int k = 0; k < 100; ++k) EXPECT_EQ(many[k].score, (149 - k) * 5.0f);
}

// ------------------------------------------------------------------ dots

TEST(Dots, FindsDarkAndLightDotsAtTheirCentresBestFirst) {
  // Gaussian dots (row, column, depth below the background); the two equally
  // deep ones come in the order they are found, the higher one first.
  const float found[][3] = {{40, 50, 120}, {60, 220, 100}, {100, 180, 100}, {200, 90, 60}};
  for (const float sign : {1.0f, -1.0f}) {
    const float background = sign > 0 ? 200.0f : 55.0f;
    std::vector<float> image(kExtractPixels);
    for (int r = 1; r <= 256; ++r) {
      for (int c = 1; c <= 256; ++c) {
        double v = background;
        for (const auto& d : found)
          v -= sign * d[2] * std::exp(-(std::pow(r - d[0], 2) + std::pow(c - d[1], 2)) / 12.5);
        image[SharedExtract::index(r, c)] = static_cast<float>(v);
      }
    }
    SpotList spots;
    std::string note;
    ASSERT_TRUE(
        dots(image, background, 20.0, sign > 0 ? "black_dots" : "white_dots", 9.0f, spots, note)
            .ok());
    // Light dots pass the same -0.9 threshold, so the flat background's
    // maxima are candidates too; they score below the dots.
    ASSERT_EQ(spots.size() == 4, sign > 0);
    ASSERT_GE(spots.size(), 4u);
    for (int k = 0; k < 4; ++k) {
      const float v =
          image[SharedExtract::index(static_cast<int>(found[k][0]), static_cast<int>(found[k][1]))];
      const float z = static_cast<float>((v - background) / 20.0);
      EXPECT_EQ(spots[k], spot(-sign * z * 10, found[k][0], found[k][1])) << sign << " " << k;
    }
  }
}

TEST(Dots, KeepsOnlyTheBest199Candidates) {
  // 199 single-pixel dots 12 apart, the strongest first, and a weaker 200th
  // found early beside it: had it been kept it would have merged with the
  // strongest and moved it.
  std::vector<float> image(kExtractPixels, 200.0f);
  for (int k = 0; k < 199; ++k) {
    image[SharedExtract::index(14 + 12 * (k / 21), 14 + 12 * (k % 21))] = 50.0f + 0.25f * k;
  }
  image[SharedExtract::index(17, 17)] = 150.0f;
  SpotList spots;
  std::string note;
  ASSERT_TRUE(dots(image, 199.5, 5.0, "black_dots", 9.0f, spots, note).ok());
  ASSERT_EQ(spots.size(), 100u);
  EXPECT_EQ(spots[0], spot(-10 * static_cast<float>((50.0 - 199.5) / 5.0), 14, 14));
}

TEST(Dots, FlatOrWrongImageGivesNoSpots) {
  SpotList spots = {spot(1, 1, 1)};
  std::string note;
  ASSERT_TRUE(dots(std::vector<float>(kExtractPixels, 9), 9, 0, "black_dots", 9, spots, note).ok());
  EXPECT_TRUE(spots.empty());
  EXPECT_FALSE(note.empty());
  EXPECT_FALSE(dots(std::vector<float>(10, 1.0f), 0.0, 1.0, "black_dots", 9.0f, spots, note).ok());
}

// ------------------------------------------------------- the operator

TEST(SpotEdits, ClicksOnTheExtractAndTheProcessingPicture) {
  const SpotList base = {spot(50, 10, 10), spot(40, 10, 60), spot(30, 60, 10), spot(20, 200, 200),
                         spot(10, 220, 220)};
  auto excluded = [](Spot s) {
    s.excluded_from_seeds = true;
    return s;
  };
  enum Op { kAdd, kAddShift, kRemove, kExclude };
  const SpotList b = base, rest = {b[1], b[2], b[3], b[4]};
  struct Case {
    const char* name;
    Op op;
    SpotList list;
    SpotLimit limit;
    double x, y;
    SpotList after;
    SpotEdit edit;
  } cases[] = {
      // clang-format off
      {"add: the first hidden place, with its score", kAdd, b, {3, 5}, 100, 120, {b[0], b[1], b[2], spot(20, 120, 100, 1), b[3]}, {true, 3, {4, 5}}},
      {"add with shift: kind 3", kAddShift, b, {3, 5}, 100, 120, {b[0], b[1], b[2], spot(20, 120, 100, 3), b[3]}, {true, 3, {4, 5}}},
      {"add at limit 0", kAdd, b, {0, 5}, 7, 8, {spot(50, 8, 7, 1), b[0], b[1], b[2], b[3]}, {true, 0, {1, 5}}},
      {"add with all shown: appended", kAdd, b, {5, 5}, 7, 8, {b[0], b[1], b[2], b[3], b[4], spot(10, 8, 7, 1)}, {true, 5, {6, 6}}},
      {"add past the list: cut to it", kAdd, b, {7, 9}, 7, 8, {b[0], b[1], b[2], b[3], b[4], spot(10, 8, 7, 1)}, {true, 5, {6, 6}}},
      {"add to nothing", kAdd, {}, {0, 0}, 7, 8, {spot(0, 8, 7, 1)}, {true, 0, {1, 1}}},
      {"remove the nearest shown", kRemove, b, {3, 5}, 12, 11, rest, {true, 0, {2, 4}}},
      {"remove: equal distances, the first", kRemove, b, {3, 5}, 35, 10, rest, {true, 0, {2, 4}}},
      {"remove: hidden spots are not picked", kRemove, b, {3, 5}, 200, 200, b, {false, -1, {3, 5}}},
      {"remove: 100 pixels away is too far", kRemove, b, {1, 5}, 110, 10, b, {false, -1, {1, 5}}},
      {"remove: 99 pixels away is near", kRemove, b, {1, 5}, 109, 10, rest, {true, 0, {0, 4}}},
      {"remove at limit 0", kRemove, b, {0, 5}, 10, 10, b, {false, -1, {0, 5}}},
      {"exclude the nearest shown", kExclude, b, {3, 5}, 12, 58, {b[0], b[1], excluded(b[2]), b[3], b[4]}, {true, 2, {3, 5}}},
      {"exclude far away", kExclude, b, {3, 5}, 250, 250, b, {false, -1, {3, 5}}},
      // clang-format on
  };
  for (const Case& c : cases) {
    SpotList list = c.list;
    const SpotEdit edit = c.op == kRemove ? remove_nearest_spot(list, c.limit, c.x, c.y)
                          : c.op == kExclude
                              ? exclude_nearest_from_seeds(list, c.limit, c.x, c.y)
                              : add_spot_at(list, c.limit, c.x, c.y, c.op == kAddShift);
    EXPECT_EQ(list, c.after) << c.name;
    EXPECT_EQ(edit, c.edit) << c.name;
  }
}

TEST(SpotEdits, TheLimitNeverPassesTheList) {
  const struct {
    int count, show, value;
  } starts[] = {{0, 5, 0}, {3, 5, 3}, {50, 20, 20}, {7, -2, 0}};
  for (const auto& s : starts) EXPECT_EQ(initial_spot_limit(s.count, s.show), s.value);
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> op(0, 2), where(1, 256);
  for (int round = 0; round < 20; ++round) {
    SpotList list = random_list(rng, round * 3, 256);
    SpotLimit limit{initial_spot_limit(static_cast<int>(list.size()), 10),
                    static_cast<int>(list.size())};
    for (int k = 0; k < 200; ++k) {
      const int o = op(rng);
      const SpotEdit e = o == 2 ? add_spot_at(list, limit, where(rng), where(rng), k % 2 == 0)
                                : remove_nearest_spot(list, limit, where(rng), where(rng));
      limit = e.limit;
      ASSERT_LE(0, limit.value);
      ASSERT_LE(limit.value, limit.maximum);
      ASSERT_LE(limit.maximum, static_cast<int>(list.size()));
    }
  }
}

TEST(SpotDisplay, ColoursAndCaption) {
  const CircleColour red{255, 0, 0}, blue{0, 0, 255}, cyan{0, 255, 255};
  for (const auto& [kind, colour] :
       {std::pair{1.0f, red}, {3.0f, blue}, {2.0f, cyan}, {1.5f, cyan}}) {
    EXPECT_EQ(spot_circle_colour(kind), colour) << kind;
  }
  EXPECT_EQ(spots_caption(12), "# spots = 12");
}

}  // namespace
}  // namespace velmora::extract

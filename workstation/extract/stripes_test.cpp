// Stripes: thinning, nodes, pruning, the branch check and tracing each
// against a plain reference on random blobs (the references written pass by
// pass and pixel by pixel, with a fault the comparison must notice), the
// point rules as a table of drawn stripes, and the whole step on a
// decomposition with one dark bar.
#include "workstation/extract/stripes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "workstation/extract/liquid_fill.h"

namespace velmora::extract {
namespace {

using Image = std::vector<std::int16_t>;
std::size_t ix(int r, int c) {
  return SharedExtract::index(r, c);
}
bool on(const Image& im, int r, int c) {
  return r >= 1 && r <= 256 && c >= 1 && c <= 256 && im[ix(r, c)] != 0;
}

// The four passes exactly as the rule reads; `at_once` deletes each pixel as
// soon as it is marked (a fault).
Image reference_thin(Image im, bool at_once = false) {
  for (int deleted = 1; deleted > 0;) {
    deleted = 0;
    for (int pass = 0; pass < 4; ++pass) {
      std::vector<std::size_t> marked;
      for (int r = 2; r <= 255; ++r) {
        for (int c = 2; c <= 255; ++c) {
          auto s = [&](int dr, int dc) { return on(im, r + dr, c + dc); };
          bool go = false;
          if (pass == 0) {
            go = !s(-1, 0) && s(1, 0) && !(s(-1, -1) && !s(0, -1)) && !(s(-1, 1) && !s(0, 1)) &&
                 !(!s(0, -1) && !s(0, 1) && !s(1, -1) && !s(1, 1));
          } else if (pass == 1) {
            go = !s(1, 0) && s(-1, 0) && !(s(1, -1) && !s(0, -1)) && !(s(1, 1) && !s(0, 1)) &&
                 !(!s(0, -1) && !s(0, 1) && !s(-1, -1) && !s(-1, 1));
          } else if (pass == 2) {
            go = !s(0, -1) && s(0, 1) && !(s(-1, -1) && !s(-1, 0)) && !(s(1, -1) && !s(1, 0)) &&
                 !(!s(-1, 0) && !s(1, 0) && !s(-1, 1) && !s(1, 1));
          } else {
            go = !s(0, 1) && s(0, -1) && !(s(-1, 1) && !s(-1, 0)) && !(s(1, 1) && !s(1, 0)) &&
                 !(!s(-1, 0) && !s(1, 0) && !s(-1, -1) && !s(1, -1));
          }
          if (!go || !s(0, 0)) continue;
          if (at_once) im[ix(r, c)] = 0;
          marked.push_back(ix(r, c));
        }
      }
      for (const std::size_t i : marked) im[i] = 0;
      deleted += static_cast<int>(marked.size());
    }
  }
  return im;
}

// Random discs and bars, some touching the border.
Image random_blobs(std::mt19937& rng) {
  std::uniform_int_distribution<int> pos(-5, 260), size(1, 12), shape(0, 1);
  Image im(kExtractPixels, 0);
  for (int k = 0; k < 25; ++k) {
    const int r0 = pos(rng), c0 = pos(rng), h = size(rng), w = size(rng) * 3, disc = shape(rng);
    for (int r = r0 - h; r <= r0 + h; ++r) {
      for (int c = c0 - w; c <= c0 + w; ++c) {
        const bool inside = !disc || (r - r0) * (r - r0) + (c - c0) * (c - c0) <= h * h;
        if (inside && r >= 1 && r <= 256 && c >= 1 && c <= 256) im[ix(r, c)] = -1;
      }
    }
  }
  return im;
}

TEST(ThinStripes, MatchesTheFourPassRuleAndThinsABarToALine) {
  std::mt19937 rng(21);
  int fault_seen = 0;
  for (int round = 0; round < 12; ++round) {
    const Image blobs = random_blobs(rng);
    Image got = blobs;
    ASSERT_TRUE(thin_stripes(got).ok());
    ASSERT_EQ(got, reference_thin(blobs)) << "round " << round;
    fault_seen += got != reference_thin(blobs, true);
  }
  EXPECT_GT(fault_seen, 0);

  Image bar(kExtractPixels, 0);
  for (int r = 100; r <= 106; ++r) {
    for (int c = 50; c <= 200; ++c) bar[ix(r, c)] = -1;
  }
  ASSERT_TRUE(thin_stripes(bar).ok());
  for (int c = 1; c <= 256; ++c) {
    int n = 0;
    for (int r = 1; r <= 256; ++r) n += on(bar, r, c);
    EXPECT_EQ(n, c >= 53 && c <= 197 ? 1 : c < 50 || c > 200 ? 0 : n) << "column " << c;
  }
}

// A thinned random image with random blanks and distances.
struct Scene {
  StripeImages images;
  std::vector<float> wavelet = std::vector<float>(kExtractPixels);
  Image blank = Image(kExtractPixels, 0);
  std::vector<float> distance = std::vector<float>(kExtractPixels, 100.0f);
  StripeInputs inputs(int margin) const { return {wavelet, 100.0, 20.0, margin, blank, distance}; }
};

int count(const Image& im, int r, int c, int reach) {
  int n = 0;
  for (int dr = -reach; dr <= reach; ++dr) {
    for (int dc = -reach; dc <= reach; ++dc)
      n += (dr != 0 || dc != 0 || reach == 2) && on(im, r + dr, c + dc);
  }
  return n;
}

TEST(StripeNodes, NodesPruningBranchesAndTracesMatchPlainReferences) {
  std::mt19937 rng(8);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  for (const int margin : {0, 1, 12}) {
    Scene s;
    s.images.skeleton = random_blobs(rng);
    ASSERT_TRUE(thin_stripes(s.images.skeleton).ok());
    for (std::size_t i = 0; i < kExtractPixels; ++i) {
      s.blank[i] = u(rng) < 0.05f ? -1 : 0;
      s.distance[i] = u(rng) * 20.0f;
      s.wavelet[i] = u(rng) * 254.0f;
    }
    const StripeInputs in = s.inputs(margin);
    const Image skeleton = s.images.skeleton;
    auto valid = [&](int r, int c) {
      return r > margin && r <= 256 - margin && c > margin && c <= 256 - margin;
    };
    auto usable = [&](int r, int c) {
      return s.blank[ix(r, c)] == 0 && s.distance[ix(r, c)] > margin;
    };
    ASSERT_TRUE(mark_stripe_nodes(s.images, in).ok());
    Image ends(kExtractPixels, 0), branches(kExtractPixels, 0);
    for (int r = 1; r <= 256; ++r) {
      for (int c = 1; c <= 256; ++c) {
        if (!valid(r, c) || !usable(r, c) || !on(skeleton, r, c)) continue;
        ends[ix(r, c)] = count(skeleton, r, c, 1) == 1 ? -1 : 0;
        branches[ix(r, c)] = count(skeleton, r, c, 1) > 2 ? -1 : 0;
      }
    }
    ASSERT_EQ(s.images.stripe_end, ends) << margin;
    ASSERT_EQ(s.images.stripe_branch, branches) << margin;

    // Pruning: every set, non-branch pixel of the region joined to an end.
    Image pruned = skeleton;
    std::deque<std::pair<int, int>> queue;
    for (int r = 1; r <= 256; ++r) {
      for (int c = 1; c <= 256; ++c) {
        if (ends[ix(r, c)] == 0) continue;
        pruned[ix(r, c)] = 0;
        queue.emplace_back(r, c);
      }
    }
    for (; !queue.empty(); queue.pop_front()) {
      for (int dr = -1; dr <= 1; ++dr) {
        for (int dc = -1; dc <= 1; ++dc) {
          const int r = queue.front().first + dr, c = queue.front().second + dc;
          if (!valid(r, c) || !on(pruned, r, c) || branches[ix(r, c)] != 0) continue;
          pruned[ix(r, c)] = 0;
          queue.emplace_back(r, c);
        }
      }
    }
    ASSERT_TRUE(prune_spurs(s.images, in).ok());
    ASSERT_EQ(s.images.skeleton, pruned) << margin;

    ASSERT_TRUE(confirm_branches(s.images, in).ok());
    for (int r = 1; r <= 256; ++r) {
      for (int c = 1; c <= 256; ++c) {
        const bool kept = branches[ix(r, c)] != 0 && count(pruned, r, c, 2) >= 7;
        ASSERT_EQ(s.images.branch_set(r, c), kept) << r << "," << c;
      }
    }

    // Tracing: the skeleton pixels joined to the start within the margin,
    // from every 7th pixel of the skeleton before pruning.
    for (std::size_t k = 0; k < kExtractPixels; k += 7) {
      if (skeleton[k] == 0) continue;
      const int r0 = static_cast<int>(k / 256) + 1, c0 = static_cast<int>(k % 256) + 1;
      for (const bool left_right : {false, true}) {
        Image seen(kExtractPixels, 0);
        seen[ix(r0, c0)] = 1;
        StripeTrace want{1, s.wavelet[ix(r0, c0)], 0};
        for (queue.assign(1, {r0, c0}); !queue.empty(); queue.pop_front()) {
          for (int dr = -1; dr <= 1; ++dr) {
            for (int dc = -1; dc <= 1; ++dc) {
              const int r = queue.front().first + dr, c = queue.front().second + dc;
              if ((r - r0) * (r - r0) + (c - c0) * (c - c0) >= margin * margin) continue;
              if (!on(pruned, r, c) || seen[ix(r, c)] != 0) continue;
              seen[ix(r, c)] = 1;
              queue.emplace_back(r, c);
              ++want.pixels;
              want.sum += s.wavelet[ix(r, c)];
              const int beyond = left_right ? c - c0 : r - r0;
              want.side += beyond > 0 ? 1 : beyond < 0 ? -1 : 0;
            }
          }
        }
        const StripeTrace got = trace_stripe(s.images, in, r0, c0, left_right);
        ASSERT_EQ(got.pixels, want.pixels);
        ASSERT_NEAR(got.sum, want.sum, 1e-6 * want.pixels * 254);
        ASSERT_EQ(got.side, want.side);
      }
    }
  }
}

// One drawn skeleton, the nodes and the points; the decomposition is 40 on
// the skeleton and 100 elsewhere (mean 100, sd 20: a point scores 3).
struct Drawn {
  const char* name;
  std::vector<std::array<int, 4>> lines;  // row0, col0, row1, col1 (straight or diagonal)
  StripeSettings settings;
  SpotList points;
};

TEST(StripePoints, RulesOfTheEdgesSidesKindsAndJoining) {
  StripeSettings plain, green, lr, join;
  green.all_green = true;
  lr.left_right = true;
  join.join_only = true;
  plain.pattern = green.pattern = lr.pattern = join.pattern = "black_stripe";
  // A square loop with a tail down from near its lower left corner. Pixels
  // beside a drawn corner have three neighbours: branches, which the block
  // check keeps only near the tail's junction, where the blocks hold most
  // of the loop; of touching branches only the first found is a point. The
  // loop lies above them (kind 3), unless the tail below evens the count.
  const std::vector<std::array<int, 4>> loop = {{100, 100, 100, 110},
                                                {110, 100, 110, 110},
                                                {100, 100, 110, 100},
                                                {100, 110, 110, 110},
                                                {111, 102, 130, 102}};
  const Drawn cases[] = {
      // clang-format off
      {"near the top, running down: dropped", {{{15, 100, 60, 100}}}, plain, {{3, 60, 100, 3}}},
      {"clear of the edges: both ends", {{{30, 100, 60, 100}}}, plain, {{3, 30, 100, 1}, {3, 60, 100, 3}}},
      {"near the bottom, running up: dropped", {{{200, 100, 240, 100}}}, plain, {{3, 200, 100, 1}}},
      {"all green", {{{30, 100, 60, 100}}}, green, {{3, 30, 100, 2}, {3, 60, 100, 2}}},
      {"left_right: a vertical stripe has no side", {{{30, 100, 60, 100}}}, lr, {{3, 30, 100, 2}, {3, 60, 100, 2}}},
      {"left_right: near the left, running right", {{{100, 15, 100, 60}}}, lr, {{3, 100, 60, 3}}},
      {"join_only: an isolated stripe vanishes", {{{30, 100, 60, 100}}}, join, {}},
      {"join_only: the loop's branches stay, its tail goes", loop, join, {{3, 109, 100, 3}, {3, 110, 102, 3}}},
      {"the loop without join_only", loop, plain, {{3, 109, 100, 2}, {3, 110, 102, 3}, {3, 130, 102, 3}}},
      // clang-format on
  };
  for (const Drawn& d : cases) {
    Scene s;
    std::fill(s.wavelet.begin(), s.wavelet.end(), 100.0f);
    for (const auto& [r0, c0, r1, c1] : d.lines) {
      const int n = std::max(std::abs(r1 - r0), std::abs(c1 - c0));
      for (int k = 0; k <= n; ++k) {
        const std::size_t i = ix(r0 + (r1 - r0) * k / n, c0 + (c1 - c0) * k / n);
        s.images.skeleton[i] = -1;
        s.wavelet[i] = 40.0f;
      }
    }
    const StripeInputs in = s.inputs(12);
    ASSERT_TRUE(mark_stripe_nodes(s.images, in).ok());
    ASSERT_TRUE(!d.settings.join_only || prune_spurs(s.images, in).ok());
    ASSERT_TRUE(confirm_branches(s.images, in).ok());
    SpotList points;
    ASSERT_TRUE(stripe_points(s.images, in, d.settings, points).ok());
    EXPECT_EQ(points, d.points) << d.name;
  }
}

TEST(Stripes, WholeStepOnADarkBar) {
  // A bowl-shaped dark bar: one lowest pixel, deepening towards it.
  Scene s;
  for (int r = 1; r <= 256; ++r) {
    for (int c = 1; c <= 256; ++c) {
      const bool bar = r >= 120 && r <= 130 && c >= 60 && c <= 190;
      s.wavelet[ix(r, c)] =
          bar ? 40.0f + 0.5f * std::abs(r - 125) + 0.1f * std::abs(c - 125) : 200.0f;
    }
  }
  StripeSettings settings;
  settings.pattern = "black_stripe";
  settings.left_right = true;
  SpotList spots = {{1, 1, 1, 1}};
  std::string note;
  ASSERT_TRUE(stripes(s.inputs(12), settings, 10, s.images, spots, note).ok());
  EXPECT_TRUE(note.empty());
  // The fill is the plain fill of the decomposition, the skeleton its thinning.
  std::vector<float> copy = s.wavelet;
  Image filled((258 * 258), 0);
  std::vector<float> depth(kExtractPixels, 0.0f);
  ASSERT_TRUE(liquid_fill(copy, filled, depth, 256, 10).ok());
  EXPECT_EQ(s.images.filled, filled);
  Image skeleton(kExtractPixels, 0);
  for (int r = 1; r <= 256; ++r) {
    for (int c = 1; c <= 256; ++c) skeleton[ix(r, c)] = filled[r * 258 + c];
  }
  EXPECT_EQ(s.images.skeleton, reference_thin(skeleton));
  // The bar's two ends, each with the stripe on its inner side.
  ASSERT_EQ(spots.size(), 2u);
  for (const Spot& p : spots) {
    EXPECT_EQ(p.row, 125.0f);
    EXPECT_NEAR(p.column, p.kind == 1.0f ? 62 : 188, 3) << p.kind;
    EXPECT_GT(p.score, 0.0f);
  }
  EXPECT_NE(spots[0].kind, spots[1].kind);
  EXPECT_TRUE(is_stripe_pattern(settings.pattern));
  EXPECT_FALSE(is_stripe_pattern("black_dots"));

  // A flat decomposition: a note, no points. Wrong sizes and margins fail.
  std::fill(s.wavelet.begin(), s.wavelet.end(), 7.0f);
  ASSERT_TRUE(
      stripes({s.wavelet, 7.0, 0.0, 12, s.blank, s.distance}, settings, 10, s.images, spots, note)
          .ok());
  EXPECT_TRUE(spots.empty());
  EXPECT_FALSE(note.empty());
  EXPECT_FALSE(stripes(s.inputs(-1), settings, 10, s.images, spots, note).ok());
  EXPECT_FALSE(stripes(s.inputs(129), settings, 10, s.images, spots, note).ok());
  EXPECT_FALSE(
      stripes({s.wavelet, 7.0, 1.0, 12, {}, s.distance}, settings, 10, s.images, spots, note).ok());
  // The fill clears its output, margins included, and leaves the image as it was.
  std::fill(s.images.filled.begin(), s.images.filled.end(), std::int16_t{-1});
  const std::vector<float> before = s.wavelet;
  ASSERT_TRUE(
      prepare_liquid_fill(s.wavelet, 10, false, s.images.filled, s.images.depth_array).ok());
  EXPECT_EQ(s.wavelet, before);
  EXPECT_EQ(s.images.filled, Image(258 * 258, 0));
}

}  // namespace
}  // namespace velmora::extract

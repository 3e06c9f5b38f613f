// Liquid fill: the stack-based flood agrees pixel for pixel and visit for
// visit with a plain recursive flood on many random images, hand-made images
// give the basins and depths worked out by hand, and basins far larger than
// a fixed pixel list or a call stack would hold come out whole.
#include "workstation/extract/liquid_fill.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace velmora::extract {
namespace {

// ---------------------------------------------------------------------------
// The recursive flood, written the obvious way: one call per flooded pixel.
// `columns_outer` swaps the order of the 3 x 3 visit, a deliberate fault
// that the comparison must notice.
class RecursiveFill {
 public:
  RecursiveFill(std::vector<float> image, int n, int avg_depth, bool reverse,
                bool columns_outer = false)
      : n_(n),
        avg_depth_(avg_depth),
        reverse_(reverse),
        columns_outer_(columns_outer),
        cell_(std::move(image)),
        filled_(static_cast<std::size_t>(n + 2) * (n + 2), 0),
        depth_(static_cast<std::size_t>(n) * n, 0.0f) {}

  // False when a seed needs more than 32767 levels.
  bool run() {
    const int n = n_;
    double sum = 0.0;
    for (const float v : cell_) sum += v;
    const double mean = sum / (static_cast<double>(n) * n);
    if (reverse_) {
      for (float& v : cell_) v = static_cast<float>(mean - (static_cast<double>(v) - mean));
    }
    for (int i = 1; i <= n; ++i) {
      for (int j = 1; j <= n; ++j) {
        if (i == 1 || i == 2 || i == n - 1 || i == n || j == 1 || j == 2 || j == n - 1 || j == n) {
          at(i, j) = 255.0f;
        }
      }
    }
    std::vector<FillPixel> seeds;
    for (int i = 2; i <= n - 1; ++i) {
      for (int j = 2; j <= n - 1; ++j) {
        const float v = at(i, j);
        if (!(static_cast<double>(v) < mean)) continue;
        bool lowest = true;
        for (int a = -1; a <= 1; ++a) {
          for (int b = -1; b <= 1; ++b) {
            if ((a != 0 || b != 0) && !(v < at(i + a, j + b))) lowest = false;
          }
        }
        if (!lowest) continue;
        // Before the first listed seed with a larger value.
        auto pos = seeds.begin();
        while (pos != seeds.end() && !(at(pos->row, pos->column) > v)) ++pos;
        seeds.insert(pos, {i, j});
      }
    }
    if (seeds.size() > 9000) return true;

    for (std::size_t s = 0; s < seeds.size(); ++s) {
      const FillPixel seed = seeds[s];
      if (mark(seed.row, seed.column) != 0) continue;
      seed_index_ = static_cast<int>(s);
      in_basin_.assign(cell_.size(), false);
      queued_.assign(cell_.size(), false);
      pool_.assign(cell_.size(), false);
      frontier_ = {seed};
      level_pixels_.clear();
      level_ = 0;
      pool_count_ = 0;
      pool_volume_ = 0.0;
      stop_ = false;
      while (!stop_) {
        if (level_ == 32767) return false;
        ++level_;
        water_level_ = at(seed.row, seed.column) + static_cast<float>(level_);
        level_count_ = 0;
        level_depth_sum_ = 0.0;
        next_frontier_.clear();
        for (const FillPixel p : frontier_) {
          if (water_level_ > at(p.row, p.column)) {
            in_basin_[index(p.row, p.column)] = true;
            ++level_count_;
            if (level_count_ == 10000) stop_ = true;
            level_depth_sum_ += static_cast<double>(water_level_ - at(p.row, p.column));
            order_.push_back({seed_index_, level_, p});
            level_pixels_.push_back(p);
            flood_neighbours(p.row, p.column);
            if (stop_) break;
          } else {
            if (next_frontier_.size() >= 10000) {
              stop_ = true;
              break;
            }
            next_frontier_.push_back(p);
          }
        }
        if (level_count_ < level_depth_sum_) {
          if (pool_count_ == 0 ||
              pool_volume_ / pool_count_ > 50.0 * level_depth_sum_ / level_count_) {
            stop_ = true;
          }
        }
        if (!stop_) {
          pool_volume_ += pool_count_ + level_depth_sum_;
          pool_count_ += level_count_;
          frontier_ = next_frontier_;
          for (const FillPixel p : level_pixels_) pool_[index(p.row, p.column)] = true;
        }
      }
      if (pool_count_ < pool_volume_) {
        for (int i = 1; i <= n; ++i) {
          for (int j = 1; j <= n; ++j) {
            if (!pool_[index(i, j)] || !in_basin_[index(i, j)]) continue;
            const float depth = (at(seed.row, seed.column) + static_cast<float>(level_)) - at(i, j);
            if (depth > static_cast<float>(avg_depth_)) {
              mark(i, j) = -1;
              depth_[index(i, j)] = depth;
              painted_.push_back({i, j});
            }
          }
        }
      }
    }
    if (reverse_) {
      for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) mark(i, j) = mark(i, j) == 0 ? -1 : 0;
      }
    }
    return true;
  }

  const std::vector<float>& cell() const { return cell_; }
  const std::vector<std::int16_t>& filled() const { return filled_; }
  const std::vector<float>& depth() const { return depth_; }
  const std::vector<FloodEvent>& order() const { return order_; }
  const std::vector<FillPixel>& painted() const { return painted_; }

 private:
  std::size_t index(int r, int c) const { return static_cast<std::size_t>((r - 1) * n_ + c - 1); }
  float& at(int r, int c) { return cell_[index(r, c)]; }
  std::int16_t& mark(int r, int c) { return filled_[static_cast<std::size_t>(r * (n_ + 2) + c)]; }

  void flood_neighbours(int r, int c) {
    if (r >= n_ - 1 || r <= 2 || c <= 2 || c >= n_ - 1) {
      stop_ = true;
      return;
    }
    for (int a = -1; a <= 1; ++a) {
      for (int b = -1; b <= 1; ++b) {
        const int qr = r + (columns_outer_ ? b : a);
        const int qc = c + (columns_outer_ ? a : b);
        const std::size_t q = index(qr, qc);
        if (at(qr, qc) >= water_level_) {
          if (!queued_[q]) {
            if (next_frontier_.size() >= 10000) {
              stop_ = true;
              return;
            }
            next_frontier_.push_back({qr, qc});
          }
          queued_[q] = true;
        } else if (!in_basin_[q]) {
          in_basin_[q] = true;
          ++level_count_;
          level_depth_sum_ += static_cast<double>(water_level_ - at(qr, qc));
          order_.push_back({seed_index_, level_, {qr, qc}});
          if (level_count_ > 4999) {
            stop_ = true;
            return;
          }
          level_pixels_.push_back({qr, qc});
          flood_neighbours(qr, qc);
        }
      }
    }
  }

  int n_;
  int avg_depth_;
  bool reverse_;
  bool columns_outer_;
  std::vector<float> cell_;
  std::vector<std::int16_t> filled_;
  std::vector<float> depth_;
  std::vector<FloodEvent> order_;
  std::vector<FillPixel> painted_;

  int seed_index_ = 0;
  std::vector<bool> in_basin_, queued_, pool_;
  std::vector<FillPixel> frontier_, next_frontier_, level_pixels_;
  int level_ = 0;
  float water_level_ = 0.0f;
  int level_count_ = 0;
  double level_depth_sum_ = 0.0;
  long long pool_count_ = 0;
  double pool_volume_ = 0.0;
  bool stop_ = false;
};

// ---------------------------------------------------------------------------
struct FillRun {
  Status status;
  std::vector<float> cell;
  std::vector<std::int16_t> filled;
  std::vector<float> depth;
  std::vector<FloodEvent> order;
  std::vector<FillPixel> painted;
};

FillRun run_fill(std::vector<float> image, int n, int avg_depth, bool reverse,
                 bool record_order = true) {
  FillRun run;
  run.cell = std::move(image);
  run.filled.assign(static_cast<std::size_t>(n + 2) * (n + 2), 0);
  run.depth.assign(static_cast<std::size_t>(n) * n, 0.0f);
  LiquidFillOptions options;
  options.reverse_fill = reverse;
  options.flood_order = record_order ? &run.order : nullptr;
  options.painted = &run.painted;
  run.status = liquid_fill(run.cell, run.filled, run.depth, static_cast<std::int16_t>(n),
                           static_cast<std::int16_t>(avg_depth), options);
  return run;
}

// A random image of one of three kinds: integer noise full of ties, smoothed
// noise with broad basins, and a few bowls with noise on top (reaching above
// the frame value when the amplitude is large).
std::vector<float> random_image(int n, unsigned seed, int kind, float amplitude) {
  std::mt19937 rng(seed);
  std::vector<float> v(static_cast<std::size_t>(n) * n);
  if (kind == 0) {
    std::uniform_int_distribution<int> d(0, static_cast<int>(amplitude));
    for (float& x : v) x = static_cast<float>(d(rng));
    return v;
  }
  std::uniform_real_distribution<float> u(0.0f, amplitude);
  std::vector<float> noise(v.size());
  for (float& x : noise) x = u(rng);
  if (kind == 1) {
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        float s = 0.0f;
        int count = 0;
        for (int a = -2; a <= 2; ++a) {
          for (int b = -2; b <= 2; ++b) {
            if (i + a < 0 || i + a >= n || j + b < 0 || j + b >= n) continue;
            s += noise[static_cast<std::size_t>((i + a) * n + j + b)];
            ++count;
          }
        }
        v[static_cast<std::size_t>(i * n + j)] = s / static_cast<float>(count) * 3.0f;
      }
    }
    return v;
  }
  std::uniform_real_distribution<float> centre(3.0f, static_cast<float>(n - 3));
  std::uniform_real_distribution<float> width(2.0f, static_cast<float>(n) / 3.0f);
  const float bx[3] = {centre(rng), centre(rng), centre(rng)};
  const float by[3] = {centre(rng), centre(rng), centre(rng)};
  const float bw[3] = {width(rng), width(rng), width(rng)};
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      float x = 3.0f * amplitude;
      for (int k = 0; k < 3; ++k) {
        const float d2 = (static_cast<float>(i) - by[k]) * (static_cast<float>(i) - by[k]) +
                         (static_cast<float>(j) - bx[k]) * (static_cast<float>(j) - bx[k]);
        x -= amplitude * std::exp(-d2 / (bw[k] * bw[k]));
      }
      v[static_cast<std::size_t>(i * n + j)] =
          x + 0.1f * noise[static_cast<std::size_t>(i * n + j)];
    }
  }
  return v;
}

struct RandomCase {
  int n;
  unsigned seed;
};

std::vector<RandomCase> random_cases() {
  std::vector<RandomCase> cases;
  for (const int n : {16, 32}) {
    for (unsigned s = 0; s < 60; ++s) cases.push_back({n, s * 7919u + static_cast<unsigned>(n)});
  }
  return cases;
}

void random_parameters(unsigned seed, int& kind, float& amplitude, int& avg_depth, bool& reverse) {
  static const float amplitudes[] = {4.0f, 30.0f, 120.0f, 400.0f};
  static const int depths[] = {0, 1, 3, 10, 40};
  kind = static_cast<int>(seed % 3);
  amplitude = amplitudes[(seed / 3) % 4];
  avg_depth = depths[(seed / 5) % 5];
  reverse = (seed / 2) % 4 == 0;
}

TEST(LiquidFillTest, MatchesRecursiveFloodOnRandomImages) {
  int runs_with_basins = 0;
  int runs_with_several_pours = 0;
  int runs_with_retaken_pixels = 0;
  for (const RandomCase& c : random_cases()) {
    int kind = 0;
    float amplitude = 0.0f;
    int avg_depth = 0;
    bool reverse = false;
    random_parameters(c.seed, kind, amplitude, avg_depth, reverse);
    const std::vector<float> image = random_image(c.n, c.seed, kind, amplitude);
    SCOPED_TRACE("n " + std::to_string(c.n) + " seed " + std::to_string(c.seed) + " kind " +
                 std::to_string(kind) + " amplitude " + std::to_string(amplitude) + " avg_depth " +
                 std::to_string(avg_depth) + " reverse " + std::to_string(reverse));

    RecursiveFill reference(image, c.n, avg_depth, reverse);
    ASSERT_TRUE(reference.run());
    const FillRun run = run_fill(image, c.n, avg_depth, reverse);
    ASSERT_TRUE(run.status.ok()) << run.status.message();

    EXPECT_EQ(run.cell, reference.cell());
    EXPECT_EQ(run.filled, reference.filled());
    EXPECT_EQ(run.depth, reference.depth());
    EXPECT_EQ(run.order, reference.order());
    EXPECT_EQ(run.painted, reference.painted());

    if (!run.painted.empty()) ++runs_with_basins;
    std::set<int> pours;
    std::set<std::tuple<int, int, int>> taken;
    bool retaken = false;
    for (const FloodEvent& e : run.order) {
      pours.insert(e.seed);
      retaken |= !taken.insert({e.seed, e.pixel.row, e.pixel.column}).second;
    }
    if (pours.size() > 1) ++runs_with_several_pours;
    if (retaken) ++runs_with_retaken_pixels;
  }
  // The comparison is only worth something if the images exercise the flood.
  EXPECT_GT(runs_with_basins, 30);
  EXPECT_GT(runs_with_several_pours, 20);
  EXPECT_GT(runs_with_retaken_pixels, 5);
}

TEST(LiquidFillTest, ComparisonNoticesAWrongVisitOrder) {
  int differing = 0;
  for (const RandomCase& c : random_cases()) {
    int kind = 0;
    float amplitude = 0.0f;
    int avg_depth = 0;
    bool reverse = false;
    random_parameters(c.seed, kind, amplitude, avg_depth, reverse);
    const std::vector<float> image = random_image(c.n, c.seed, kind, amplitude);
    RecursiveFill faulty(image, c.n, avg_depth, reverse, /*columns_outer=*/true);
    ASSERT_TRUE(faulty.run());
    const FillRun run = run_fill(image, c.n, avg_depth, reverse);
    if (run.order != faulty.order()) ++differing;
  }
  EXPECT_GT(differing, 30);
}

// ---------------------------------------------------------------------------
// Hand-made images. Expected basins are listed as rectangles with one depth,
// later entries overriding earlier ones.
struct Patch {
  int row0, row1, col0, col1;
  float value;
};

struct HandCase {
  std::string name;
  int n;
  float background;
  std::vector<Patch> image;  // painted over the background in order
  int avg_depth;
  bool reverse;
  std::vector<Patch> basins;  // expected depth (filled = -1) in order
  bool complement;            // expect filled complemented (reverse fill)
};

std::vector<float> paint(int n, float background, const std::vector<Patch>& patches) {
  std::vector<float> v(static_cast<std::size_t>(n) * n, background);
  for (const Patch& p : patches) {
    for (int i = p.row0; i <= p.row1; ++i) {
      for (int j = p.col0; j <= p.col1; ++j)
        v[static_cast<std::size_t>((i - 1) * n + j - 1)] = p.value;
    }
  }
  return v;
}

TEST(LiquidFillTest, HandMadeImages) {
  const std::vector<HandCase> cases = {
      // One pit in a plateau: the plateau floods at level 101, one unit deep,
      // and the frame overflows at water 256.
      {"single pit",
       9,
       100.0f,
       {{5, 5, 5, 5, 0.0f}},
       0,
       false,
       {{3, 7, 3, 7, 156.0f}, {5, 5, 5, 5, 256.0f}},
       false},
      {"single pit, shallow pixels below the depth cut",
       9,
       100.0f,
       {{5, 5, 5, 5, 0.0f}},
       200,
       false,
       {{5, 5, 5, 5, 256.0f}},
       false},
      {"single pit, depth cut is strict", 9, 100.0f, {{5, 5, 5, 5, 0.0f}}, 256, false, {}, false},
      // A ridge as high as the frame parts two basins; each seed overflows at
      // 256 and keeps only its own side.
      {"two pits",
       13,
       100.0f,
       {{3, 11, 7, 7, 255.0f}, {7, 7, 4, 4, 0.0f}, {7, 7, 10, 10, 20.0f}},
       0,
       false,
       {{3, 11, 3, 6, 156.0f},
        {7, 7, 4, 4, 256.0f},
        {3, 11, 8, 11, 156.0f},
        {7, 7, 10, 10, 236.0f}},
       false},
      // Two equal low pixels side by side: neither is strictly the lowest.
      {"plateau floor", 9, 100.0f, {{5, 5, 5, 6, 0.0f}}, 0, false, {}, false},
      {"flat image", 16, 0.0f, {}, 0, false, {}, false},
      {"all equal to the frame", 16, 255.0f, {}, 0, false, {}, false},
      // Walls above the frame: a pit beside the frame overflows into it at
      // 256, a pit away from it only once the walls are topped at 301.
      {"pit beside the frame",
       9,
       300.0f,
       {{3, 3, 3, 3, 0.0f}},
       0,
       false,
       {{3, 3, 3, 3, 256.0f}},
       false},
      {"pit away from the frame",
       9,
       300.0f,
       {{5, 5, 5, 5, 0.0f}},
       0,
       false,
       {{5, 5, 5, 5, 301.0f}},
       false},
      // Mirrored about the mean 101, a peak of 181 on 100 becomes a pit of 21
      // on 102; the basins are complemented.
      {"reverse fill",
       9,
       100.0f,
       {{5, 5, 5, 5, 181.0f}},
       0,
       true,
       {{3, 7, 3, 7, 154.0f}, {5, 5, 5, 5, 235.0f}},
       true},
  };
  for (const HandCase& c : cases) {
    SCOPED_TRACE(c.name);
    const FillRun run = run_fill(paint(c.n, c.background, c.image), c.n, c.avg_depth, c.reverse);
    ASSERT_TRUE(run.status.ok()) << run.status.message();
    std::vector<float> want_depth(static_cast<std::size_t>(c.n) * c.n, 0.0f);
    std::vector<bool> in_basin(want_depth.size(), false);
    for (const Patch& p : c.basins) {
      for (int i = p.row0; i <= p.row1; ++i) {
        for (int j = p.col0; j <= p.col1; ++j) {
          want_depth[static_cast<std::size_t>((i - 1) * c.n + j - 1)] = p.value;
          in_basin[static_cast<std::size_t>((i - 1) * c.n + j - 1)] = true;
        }
      }
    }
    std::vector<std::int16_t> want_filled(static_cast<std::size_t>(c.n + 2) * (c.n + 2), 0);
    std::size_t painted = 0;
    for (int i = 1; i <= c.n; ++i) {
      for (int j = 1; j <= c.n; ++j) {
        const bool basin = in_basin[static_cast<std::size_t>((i - 1) * c.n + j - 1)];
        painted += basin ? 1 : 0;
        want_filled[static_cast<std::size_t>(i * (c.n + 2) + j)] = (basin != c.complement) ? -1 : 0;
      }
    }
    EXPECT_EQ(run.filled, want_filled);
    EXPECT_EQ(run.depth, want_depth);
    EXPECT_EQ(run.painted.size(), painted);
    // The frame is raised to 255; the interior is the (mirrored) image.
    const std::vector<float> image = paint(c.n, c.background, c.image);
    double mean = 0.0;
    for (const float v : image) mean += v;
    mean /= static_cast<double>(image.size());
    for (int i = 1; i <= c.n; ++i) {
      for (int j = 1; j <= c.n; ++j) {
        const std::size_t k = static_cast<std::size_t>((i - 1) * c.n + j - 1);
        const bool frame = i <= 2 || j <= 2 || i >= c.n - 1 || j >= c.n - 1;
        const float want = frame       ? 255.0f
                           : c.reverse ? static_cast<float>(2.0 * mean - image[k])
                                       : image[k];
        ASSERT_EQ(run.cell[k], want) << i << "," << j;
      }
    }
  }
}

// ---------------------------------------------------------------------------
TEST(LiquidFillTest, TooManySeedsFillNothing) {
  // Isolated pits of 0 on every other pixel of a plateau of 100. The first pit
  // floods the whole plateau in one level, which stops it with the pit alone
  // in its pool: every pit is a basin of depth 101 on its own.
  for (const int n : {180, 200}) {
    SCOPED_TRACE(n);
    std::vector<float> image(static_cast<std::size_t>(n) * n, 100.0f);
    int pits = 0;
    for (int i = 3; i <= n - 2; i += 2) {
      for (int j = 3; j <= n - 2; j += 2) {
        image[static_cast<std::size_t>((i - 1) * n + j - 1)] = 0.0f;
        ++pits;
      }
    }
    // Thousands of pours of 5000 visits each: too many to record.
    const FillRun run = run_fill(image, n, 0, false, /*record_order=*/pits > kMaxLiquidFillSeeds);
    ASSERT_TRUE(run.status.ok()) << run.status.message();
    if (pits > kMaxLiquidFillSeeds) {
      EXPECT_TRUE(run.painted.empty());
      EXPECT_TRUE(run.order.empty());
      EXPECT_EQ(std::count(run.filled.begin(), run.filled.end(), -1), 0);
    } else {
      EXPECT_EQ(static_cast<int>(run.painted.size()), pits);
      for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) {
          const bool pit = i >= 3 && j >= 3 && i <= n - 2 && j <= n - 2 && i % 2 == 1 && j % 2 == 1;
          ASSERT_EQ(run.filled[static_cast<std::size_t>(i * (n + 2) + j)], pit ? -1 : 0);
          ASSERT_EQ(run.depth[static_cast<std::size_t>((i - 1) * n + j - 1)], pit ? 101.0f : 0.0f);
        }
      }
    }
  }
}

TEST(LiquidFillTest, HugeBasinsCompleteAndMatchTheRecursiveFlood) {
  const int n = 256;
  // A cone around (128, 128): every level floods a thin ring, the pool grows
  // to the whole interior (63504 pixels) and overflows into the frame at 256.
  std::vector<float> cone(static_cast<std::size_t>(n) * n);
  // Terraces one unit high and 20 pixels wide around a pit: each level floods
  // a whole terrace in one chain of visits, until a terrace of more than 4999
  // pixels stops the seed.
  std::vector<float> terraces(cone.size());
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      const double d =
          std::sqrt(static_cast<double>((i - 128) * (i - 128) + (j - 128) * (j - 128)));
      cone[static_cast<std::size_t>((i - 1) * n + j - 1)] = static_cast<float>(d);
      terraces[static_cast<std::size_t>((i - 1) * n + j - 1)] =
          static_cast<float>(std::floor(d / 20.0));
    }
  }
  terraces[static_cast<std::size_t>(127 * n + 127)] = -1.0f;

  {
    SCOPED_TRACE("cone");
    const int avg_depth = 100;
    const FillRun run = run_fill(cone, n, avg_depth, false);
    ASSERT_TRUE(run.status.ok()) << run.status.message();
    int basin = 0;
    for (int i = 1; i <= n; ++i) {
      for (int j = 1; j <= n; ++j) {
        const std::size_t k = static_cast<std::size_t>((i - 1) * n + j - 1);
        const bool interior = i >= 3 && j >= 3 && i <= n - 2 && j <= n - 2;
        const float depth = 256.0f - cone[k];
        const bool want = interior && depth > static_cast<float>(avg_depth);
        basin += want ? 1 : 0;
        ASSERT_EQ(run.filled[static_cast<std::size_t>(i * (n + 2) + j)], want ? -1 : 0)
            << i << "," << j;
        ASSERT_EQ(run.depth[k], want ? depth : 0.0f) << i << "," << j;
      }
    }
    EXPECT_GT(basin, 10000);
    EXPECT_GT(run.order.size(), 63504u);

    RecursiveFill reference(cone, n, avg_depth, false);
    ASSERT_TRUE(reference.run());
    EXPECT_EQ(run.filled, reference.filled());
    EXPECT_EQ(run.depth, reference.depth());
    EXPECT_EQ(run.order, reference.order());
  }
  {
    SCOPED_TRACE("terraces");
    const FillRun run = run_fill(terraces, n, 0, false);
    ASSERT_TRUE(run.status.ok()) << run.status.message();
    // The pool is the pit and the two inner terraces; water stood at 3.
    for (int i = 1; i <= n; ++i) {
      for (int j = 1; j <= n; ++j) {
        const std::size_t k = static_cast<std::size_t>((i - 1) * n + j - 1);
        const float v = terraces[k];
        const bool want = v < 2.0f;
        ASSERT_EQ(run.filled[static_cast<std::size_t>(i * (n + 2) + j)], want ? -1 : 0)
            << i << "," << j;
        ASSERT_EQ(run.depth[k], want ? 3.0f - v : 0.0f) << i << "," << j;
      }
    }
    RecursiveFill reference(terraces, n, 0, false);
    ASSERT_TRUE(reference.run());
    EXPECT_EQ(run.filled, reference.filled());
    EXPECT_EQ(run.depth, reference.depth());
    EXPECT_EQ(run.order, reference.order());
  }
}

TEST(LiquidFillTest, AFrontierTooLongStopsTheSeed) {
  // A comb of channels between walls of 200: a spine down column 128 and
  // every odd row as a channel, rising one unit per pixel away from the
  // spine. Each level floods two pixels per channel and queues the walls
  // beside them, so the walls waiting above water pass 10000 long before the
  // water could top them. The seed stops there and keeps the channels flooded
  // so far.
  const int n = 256;
  std::vector<float> image(static_cast<std::size_t>(n) * n, 200.0f);
  std::vector<bool> channel(image.size(), false);
  for (int i = 3; i <= n - 2; ++i) {
    for (int j = 3; j <= n - 2; ++j) {
      if (j != 128 && i % 2 == 0) continue;
      const std::size_t k = static_cast<std::size_t>((i - 1) * n + j - 1);
      image[k] =
          static_cast<float>(std::abs(j - 128)) + 0.01f * static_cast<float>(std::abs(i - 129));
      channel[k] = true;
    }
  }
  const FillRun run = run_fill(image, n, 0, false);
  ASSERT_TRUE(run.status.ok()) << run.status.message();
  float highest = -1.0f;
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      if (run.filled[static_cast<std::size_t>(i * (n + 2) + j)] == 0) continue;
      const std::size_t k = static_cast<std::size_t>((i - 1) * n + j - 1);
      ASSERT_TRUE(channel[k]) << i << "," << j;
      highest = std::max(highest, image[k]);
    }
  }
  // The pool is every channel pixel below the last level it completed.
  const float last_level = std::floor(highest) + 1.0f;
  EXPECT_GT(last_level, 5.0f);
  EXPECT_LT(last_level, 60.0f);
  for (std::size_t k = 0; k < image.size(); ++k) {
    const int i = static_cast<int>(k) / n + 1;
    const int j = static_cast<int>(k) % n + 1;
    const bool want = channel[k] && image[k] < last_level;
    ASSERT_EQ(run.filled[static_cast<std::size_t>(i * (n + 2) + j)], want ? -1 : 0)
        << i << "," << j;
    ASSERT_EQ(run.depth[k], want ? (last_level + 1.0f) - image[k] : 0.0f) << i << "," << j;
  }
  RecursiveFill reference(image, n, 0, false);
  ASSERT_TRUE(reference.run());
  EXPECT_EQ(run.filled, reference.filled());
  EXPECT_EQ(run.order, reference.order());
}

TEST(LiquidFillTest, RefusesBadBuffersAndUncountableLevels) {
  std::vector<float> cell(64, 0.0f), depth(64, 0.0f);
  std::vector<std::int16_t> filled(100, 0);
  EXPECT_TRUE(liquid_fill(cell, filled, depth, 8, 0).ok());
  std::vector<std::int16_t> unframed(64, 0);
  EXPECT_EQ(liquid_fill(cell, unframed, depth, 8, 0).code(), Status::Code::kInvalidArgument);
  std::vector<float> short_depth(63, 0.0f);
  EXPECT_EQ(liquid_fill(cell, filled, short_depth, 8, 0).code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(liquid_fill(cell, filled, depth, 0, 0).code(), Status::Code::kInvalidArgument);

  // A pit so deep below walls above the frame that unit levels cannot reach
  // the rim: refused, as the recursive flood would be.
  const int n = 9;
  std::vector<float> image = paint(n, 1.0e6f, {{5, 5, 5, 5, -1.0e6f}});
  RecursiveFill reference(image, n, 0, false);
  EXPECT_FALSE(reference.run());
  const FillRun run = run_fill(image, n, 0, false);
  EXPECT_EQ(run.status.code(), Status::Code::kInvalidArgument);
  EXPECT_NE(run.status.message().find("32767"), std::string::npos);
}

}  // namespace
}  // namespace velmora::extract

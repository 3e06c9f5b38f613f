#include "workstation/extract/liquid_fill.h"

#include <algorithm>
#include <cstddef>
#include <string>

namespace velmora::extract {
namespace {

// A frontier holds the above-water pixels waiting for a higher level. Its
// bound keeps one pathological seed from taking unbounded memory; a seed that
// would queue more stops pouring and is judged on the pool it has.
constexpr std::size_t kFrontierCapacity = 10000;
// Levels are counted in 16 bits; a seed needing more cannot be poured.
constexpr int kMaxLevel = 32767;
// A level that has flooded this many pixels when it takes a frontier pixel
// stops the seed.
constexpr int kFrontierFloodLimit = 10000;
// A level whose sideways flood takes more than this many stops the seed.
constexpr int kSidewaysFloodLimit = 4999;

class Pour {
 public:
  Pour(std::span<float> cell, int n, std::vector<FloodEvent>* log)
      : cell_(cell),
        n_(n),
        log_(log),
        in_basin_(static_cast<std::size_t>(n) * n, 0),
        queued_(in_basin_.size(), 0),
        pool_(in_basin_.size(), 0) {}

  float at(int r, int c) const { return cell_[index(r, c)]; }
  std::size_t index(int r, int c) const {
    return static_cast<std::size_t>(r - 1) * n_ + static_cast<std::size_t>(c - 1);
  }

  // Pours one seed. Returns false when the seed needs more levels than can
  // be counted. On success `accepted` lists the pool pixels (row-major, each
  // once) when the pool is deep enough to keep, and `water_level` is the level
  // at which pouring stopped.
  bool pour(int seed_index, FillPixel seed) {
    clear();
    seed_index_ = seed_index;
    frontier_.push_back(seed);
    const float seed_value = at(seed.row, seed.column);
    while (!stop_) {
      if (level_ == kMaxLevel) return false;
      ++level_;
      water_level_ = seed_value + static_cast<float>(level_);
      level_count_ = 0;
      level_depth_sum_ = 0.0;
      next_frontier_.clear();
      for (const FillPixel p : frontier_) {
        if (water_level_ > at(p.row, p.column)) {
          take(p);
          if (level_count_ == kFrontierFloodLimit) stop_ = true;
          level_pixels_.push_back(p);
          flood_neighbours(p);
          if (stop_) break;
        } else if (!queue(p)) {
          break;
        }
      }
      // The newly flooded pixels are on average more than a unit deep: the
      // water is still rising in a basin, unless the pool so far is much
      // deeper than this level, which means it spilled into a wider basin.
      if (static_cast<double>(level_count_) < level_depth_sum_) {
        if (pool_count_ == 0 || pool_volume_ / static_cast<double>(pool_count_) >
                                    50.0 * level_depth_sum_ / static_cast<double>(level_count_)) {
          stop_ = true;
        }
      }
      if (!stop_) {
        // Every pixel already in the pool rises by one unit.
        pool_volume_ += static_cast<double>(pool_count_) + level_depth_sum_;
        pool_count_ += level_count_;
        frontier_.swap(next_frontier_);
        for (; pooled_upto_ < level_pixels_.size(); ++pooled_upto_) {
          const FillPixel p = level_pixels_[pooled_upto_];
          pool_[index(p.row, p.column)] = 1;
        }
      }
    }
    accepted_.clear();
    if (static_cast<double>(pool_count_) < pool_volume_) {
      for (std::size_t k = 0; k < pooled_upto_; ++k) {
        const std::size_t i = index(level_pixels_[k].row, level_pixels_[k].column);
        if (pool_[i] != 0 && in_basin_[i] != 0) accepted_.push_back(i);
      }
      std::sort(accepted_.begin(), accepted_.end());
      accepted_.erase(std::unique(accepted_.begin(), accepted_.end()), accepted_.end());
    }
    return true;
  }

  const std::vector<std::size_t>& accepted() const { return accepted_; }
  float water_level() const { return water_level_; }

 private:
  // Per-seed state is cleared only where the previous seed touched it, so
  // that thousands of small seeds do not each sweep the whole image.
  void clear() {
    for (const std::size_t i : touched_) in_basin_[i] = queued_[i] = pool_[i] = 0;
    touched_.clear();
    frontier_.clear();
    next_frontier_.clear();
    level_pixels_.clear();
    pooled_upto_ = 0;
    level_ = 0;
    level_count_ = 0;
    level_depth_sum_ = 0.0;
    pool_count_ = 0;
    pool_volume_ = 0.0;
    stop_ = false;
  }

  void take(FillPixel q) {
    const std::size_t i = index(q.row, q.column);
    if (in_basin_[i] == 0 && queued_[i] == 0) touched_.push_back(i);
    in_basin_[i] = 1;
    ++level_count_;
    level_depth_sum_ += static_cast<double>(water_level_ - at(q.row, q.column));
    if (log_ != nullptr) log_->push_back({seed_index_, level_, q});
  }

  // Appends to the next frontier; a full frontier stops the seed.
  bool queue(FillPixel p) {
    if (next_frontier_.size() >= kFrontierCapacity) {
      stop_ = true;
      return false;
    }
    next_frontier_.push_back(p);
    return true;
  }

  bool on_frame(int r, int c) const { return r >= n_ - 1 || r <= 2 || c <= 2 || c >= n_ - 1; }

  // The sideways flood of one level from pixel `from`. It visits pixels in
  // exactly the order of a depth-first recursion over the 3 x 3 block (rows
  // outer, columns inner, centre included), but keeps its own stack: one
  // level may flood thousands of pixels in a chain. A "return" of the
  // recursion ends only the innermost visit; the visits that called it carry
  // on with their remaining neighbours.
  void flood_neighbours(FillPixel from) {
    auto enter = [&](FillPixel p) {
      if (on_frame(p.row, p.column)) {
        stop_ = true;  // the basin reaches the frame and overflows
        return;
      }
      stack_.push_back({p.row, p.column, 0});
    };
    stack_.clear();
    enter(from);
    while (!stack_.empty()) {
      Visit& v = stack_.back();
      if (v.next == 9) {
        stack_.pop_back();
        continue;
      }
      const FillPixel q{v.row - 1 + v.next / 3, v.column - 1 + v.next % 3};
      ++v.next;
      const std::size_t i = index(q.row, q.column);
      if (at(q.row, q.column) >= water_level_) {
        if (queued_[i] == 0) {
          if (!queue(q)) {
            stack_.pop_back();
            continue;
          }
          if (in_basin_[i] == 0) touched_.push_back(i);
        }
        queued_[i] = 1;
      } else if (in_basin_[i] == 0) {
        take(q);
        if (level_count_ > kSidewaysFloodLimit) {
          stop_ = true;
          stack_.pop_back();
          continue;
        }
        level_pixels_.push_back(q);
        enter(q);  // may reallocate the stack: `v` is not used after this
      }
    }
  }

  std::span<float> cell_;
  int n_;
  std::vector<FloodEvent>* log_;
  int seed_index_ = 0;

  std::vector<unsigned char> in_basin_;
  std::vector<unsigned char> queued_;
  std::vector<unsigned char> pool_;
  std::vector<std::size_t> touched_;

  std::vector<FillPixel> frontier_;
  std::vector<FillPixel> next_frontier_;
  // Every pixel flooded by this seed so far; grows with the pool.
  std::vector<FillPixel> level_pixels_;
  std::size_t pooled_upto_ = 0;
  std::vector<std::size_t> accepted_;

  struct Visit {
    int row;
    int column;
    int next;  // the next of the nine neighbours to look at
  };
  std::vector<Visit> stack_;
  int level_ = 0;
  float water_level_ = 0.0f;
  int level_count_ = 0;
  double level_depth_sum_ = 0.0;
  long long pool_count_ = 0;
  double pool_volume_ = 0.0;
  bool stop_ = false;
};

}  // namespace

Status liquid_fill(std::span<float> fillcell, std::span<std::int16_t> filled,
                   std::span<float> depth_array, std::int16_t cell_size, std::int16_t avg_depth,
                   const LiquidFillOptions& options) {
  const int n = cell_size;
  if (n < 1) return Status::InvalidArgument("liquid fill: image size must be at least 1");
  const std::size_t area = static_cast<std::size_t>(n) * n;
  const std::size_t framed = static_cast<std::size_t>(n + 2) * (n + 2);
  if (fillcell.size() != area || depth_array.size() != area || filled.size() != framed) {
    return Status::InvalidArgument("liquid fill: buffer sizes do not match image size " +
                                   std::to_string(n));
  }
  auto cell = [&](int r, int c) -> float& {
    return fillcell[static_cast<std::size_t>(r - 1) * n + static_cast<std::size_t>(c - 1)];
  };
  auto mark = [&](int r, int c) -> std::int16_t& {
    return filled[static_cast<std::size_t>(r) * (n + 2) + static_cast<std::size_t>(c)];
  };

  double sum = 0.0;
  for (const float v : fillcell) sum += v;
  const double mean = sum / static_cast<double>(area);
  if (options.reverse_fill) {
    for (float& v : fillcell) v = static_cast<float>(mean - (static_cast<double>(v) - mean));
  }

  for (const int k : {1, 2, n - 1, n}) {
    if (k < 1 || k > n) continue;
    for (int m = 1; m <= n; ++m) {
      cell(k, m) = 255.0f;
      cell(m, k) = 255.0f;
    }
  }

  std::vector<FillPixel> seeds;
  for (int i = 2; i <= n - 1; ++i) {
    for (int j = 2; j <= n - 1; ++j) {
      const float v = cell(i, j);
      if (!(static_cast<double>(v) < mean)) continue;
      bool lowest = true;
      for (int di = -1; di <= 1 && lowest; ++di) {
        for (int dj = -1; dj <= 1; ++dj) {
          if ((di != 0 || dj != 0) && !(v < cell(i + di, j + dj))) {
            lowest = false;
            break;
          }
        }
      }
      if (lowest) seeds.push_back({i, j});
    }
  }
  if (seeds.size() > static_cast<std::size_t>(kMaxLiquidFillSeeds)) return Status::Ok();
  // Equal values keep their row-by-row discovery order.
  std::stable_sort(seeds.begin(), seeds.end(), [&](const FillPixel& a, const FillPixel& b) {
    return cell(a.row, a.column) < cell(b.row, b.column);
  });

  Pour pour(fillcell, n, options.flood_order);
  for (std::size_t s = 0; s < seeds.size(); ++s) {
    const FillPixel seed = seeds[s];
    if (mark(seed.row, seed.column) != 0) continue;
    if (!pour.pour(static_cast<int>(s), seed)) {
      return Status::InvalidArgument("liquid fill: the basin at row " + std::to_string(seed.row) +
                                     ", column " + std::to_string(seed.column) +
                                     " needs more than " + std::to_string(kMaxLevel) +
                                     " levels of water");
    }
    for (const std::size_t i : pour.accepted()) {
      const int r = static_cast<int>(i / static_cast<std::size_t>(n)) + 1;
      const int c = static_cast<int>(i % static_cast<std::size_t>(n)) + 1;
      const float depth = pour.water_level() - fillcell[i];
      if (depth > static_cast<float>(avg_depth)) {
        mark(r, c) = -1;
        depth_array[i] = depth;
        if (options.painted != nullptr) options.painted->push_back({r, c});
      }
    }
  }

  if (options.reverse_fill) {
    for (int i = 1; i <= n; ++i) {
      for (int j = 1; j <= n; ++j) mark(i, j) = mark(i, j) == 0 ? -1 : 0;
    }
  }
  return Status::Ok();
}

Status prepare_liquid_fill(std::span<const float> wavelet_image, std::int16_t avg_depth,
                           bool reverse_fill, std::span<std::int16_t> filled,
                           std::span<float> depth_array) {
  const std::size_t n = static_cast<std::size_t>(kExtractFillSize);
  if (wavelet_image.size() != n * n || depth_array.size() != n * n ||
      filled.size() != (n + 2) * (n + 2)) {
    return Status::InvalidArgument(
        "liquid fill: the decomposition and the depths need 256 x 256 values and the filled "
        "image 258 x 258");
  }
  std::fill(filled.begin(), filled.end(), std::int16_t{0});
  // The fill writes its frame (and the mirror image with reverse_fill) into
  // the image it floods; the decomposition itself is still shown and scored.
  std::vector<float> cell(wavelet_image.begin(), wavelet_image.end());
  LiquidFillOptions options;
  options.reverse_fill = reverse_fill;
  return liquid_fill(cell, filled, depth_array, kExtractFillSize, avg_depth, options);
}

}  // namespace velmora::extract

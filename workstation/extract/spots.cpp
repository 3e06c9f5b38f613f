#include "workstation/extract/spots.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "workstation/extract/shared_extract.h"

namespace velmora::extract {
namespace {

constexpr int kSize = kExtractRows;  // the decomposition is square

float column_value(const Spot& s, SpotColumn column) {
  switch (column) {
    case SpotColumn::kScore:
      return s.score;
    case SpotColumn::kRow:
      return s.row;
    case SpotColumn::kColumn:
      return s.column;
    case SpotColumn::kKind:
      return s.kind;
  }
  return s.score;
}

// Neighbours are swapped only when the later one comes strictly first: equal
// keys keep their order, and so do keys that do not compare at all.
template <typename Row, typename Key>
void bubble_order(std::vector<Row>& rows, int count, Key key, SortOrder order) {
  const bool descending = order == SortOrder::kDescending;
  count = std::clamp(count, 0, static_cast<int>(rows.size()));
  for (int end = count; end > 1; --end) {
    bool swapped = false;
    for (int k = 0; k + 1 < end; ++k) {
      const auto first = key(rows[static_cast<std::size_t>(k)]);
      const auto later = key(rows[static_cast<std::size_t>(k) + 1]);
      if (descending ? later > first : later < first) {
        std::swap(rows[static_cast<std::size_t>(k)], rows[static_cast<std::size_t>(k) + 1]);
        swapped = true;
      }
    }
    if (!swapped) break;
  }
}

float mean_of(float a, float b) {
  return static_cast<float>((static_cast<double>(a) + static_cast<double>(b)) / 2.0);
}

Spot merged(const Spot& a, const Spot& b) {
  Spot m;
  m.score = mean_of(a.score, b.score);
  m.row = mean_of(a.row, b.row);
  m.column = mean_of(a.column, b.column);
  m.kind = mean_of(a.kind, b.kind);
  m.excluded_from_seeds = a.excluded_from_seeds || b.excluded_from_seeds;
  return m;
}

int list_length(const SpotList& list) {
  return static_cast<int>(list.size());
}

}  // namespace

NearSpot neardist(const SpotList& list, int count, double row, double column, int this_index) {
  NearSpot near;
  count = std::clamp(count, 0, list_length(list));
  for (int k = 0; k < count; ++k) {
    if (k == this_index) continue;
    const Spot& s = list[static_cast<std::size_t>(k)];
    const double dr = static_cast<double>(s.row) - row;
    const double dc = static_cast<double>(s.column) - column;
    const double d = std::sqrt(dr * dr + dc * dc);
    if (d < near.distance) {
      near.distance = d;
      near.index = k;
    }
  }
  return near;
}

void size_order(SpotList& list, int count, SpotColumn column, SortOrder order) {
  bubble_order(
      list, count, [column](const Spot& s) { return column_value(s, column); }, order);
}

int initial_spot_limit(int count, int show_n_spots) {
  return std::max(0, std::min(count, show_n_spots));
}

void merge_near_spots(SpotList& list, float critical_distance) {
  struct Pair {
    int a;
    int b;
    double distance;
  };
  const double reach = critical_distance;
  bool merged_any = true;
  std::vector<Pair> table;
  std::vector<unsigned char> used;
  SpotList next;
  while (merged_any) {
    merged_any = false;
    const int n = list_length(list);
    table.clear();
    for (int k = 0; k < n; ++k) {
      const Spot& s = list[static_cast<std::size_t>(k)];
      const NearSpot near = neardist(list, n, s.row, s.column, k);
      table.push_back({k, near.index, near.distance});
    }
    bubble_order(
        table, n, [](const Pair& p) { return p.distance; }, SortOrder::kAscending);
    used.assign(static_cast<std::size_t>(n), 0);
    next.clear();
    for (const Pair& p : table) {
      const std::size_t a = static_cast<std::size_t>(p.a);
      // A lone spot has no partner to merge with.
      if (p.b >= 0 && used[a] == 0 && used[static_cast<std::size_t>(p.b)] == 0 &&
          p.distance < reach) {
        next.push_back(merged(list[a], list[static_cast<std::size_t>(p.b)]));
        used[a] = 1;
        used[static_cast<std::size_t>(p.b)] = 1;
        merged_any = true;
      }
      if (used[a] == 0) {
        next.push_back(list[a]);
        used[a] = 1;
      }
    }
    list.swap(next);
  }
  size_order(list, list_length(list), SpotColumn::kScore, SortOrder::kDescending);
  if (list.size() > static_cast<std::size_t>(kMaxMergedSpots)) list.resize(kMaxMergedSpots);
  for (Spot& s : list) s.score *= kMergedScoreScale;
}

Status dots(std::span<const float> wavelet_image, double wavelet_mean, double wavelet_sd,
            std::string_view pattern, float critical_distance, SpotList& spots, std::string& note) {
  note.clear();
  spots.clear();
  if (wavelet_image.size() != kExtractPixels) {
    return Status::InvalidArgument("dots: the wavelet decomposition has the wrong size");
  }
  if (!(wavelet_sd > 0.0) || !std::isfinite(wavelet_sd) || !std::isfinite(wavelet_mean)) {
    note =
        "The wavelet decomposition is flat (no spread of values), so no dots were looked "
        "for.";
    return Status::Ok();
  }
  const bool dark = pattern.find("black") != std::string_view::npos;
  auto at = [&](int r, int c) { return wavelet_image[SharedExtract::index(r, c)]; };

  for (int i = 2; i <= kSize - 1; ++i) {
    for (int j = 2; j <= kSize - 1; ++j) {
      const float v = at(i, j);
      const float z = static_cast<float>((static_cast<double>(v) - wavelet_mean) / wavelet_sd);
      if (dark ? !(z < kDotZThreshold) : !(z > kDotZThreshold)) continue;
      bool extreme = true;
      for (int di = -1; di <= 1 && extreme; ++di) {
        for (int dj = -1; dj <= 1; ++dj) {
          const float w = at(i + di, j + dj);
          if (dark ? w < v : w > v) {
            extreme = false;
            break;
          }
        }
      }
      if (!extreme) continue;
      // Before the first listed candidate that is worse, so equal ones keep
      // the order they were found in.
      const auto place = std::find_if(spots.begin(), spots.end(), [&](const Spot& s) {
        return dark ? s.score > z : s.score < z;
      });
      Spot s;
      s.score = z;
      s.row = static_cast<float>(i);
      s.column = static_cast<float>(j);
      s.kind = kSpotKindBoth;
      spots.insert(place, s);
      // A full list drops its last, which may be the newcomer itself.
      if (spots.size() > static_cast<std::size_t>(kMaxDotCandidates)) spots.pop_back();
    }
  }
  if (dark) {
    for (Spot& s : spots) s.score = -s.score;
  }
  merge_near_spots(spots, critical_distance);
  return Status::Ok();
}

int nearest_shown_spot(const SpotList& list, int shown, double x, double y) {
  shown = std::clamp(shown, 0, list_length(list));
  int nearest = -1;
  double best = kPickReachSquared;
  for (int k = 0; k < shown; ++k) {
    const Spot& s = list[static_cast<std::size_t>(k)];
    const double dx = static_cast<double>(s.column) - x;
    const double dy = static_cast<double>(s.row) - y;
    const double d2 = dx * dx + dy * dy;
    if (d2 < best) {
      best = d2;
      nearest = k;
    }
  }
  return nearest;
}

SpotEdit add_spot_at(SpotList& list, SpotLimit limit, double x, double y, bool shift) {
  const int length = list_length(list);
  const int v = std::clamp(limit.value, 0, length);
  Spot added;
  added.row = static_cast<float>(y);
  added.column = static_cast<float>(x);
  added.kind = shift ? kSpotKindBackward : kSpotKindForward;
  if (v < length) {
    added.score = list[static_cast<std::size_t>(v)].score;
    std::move_backward(list.begin() + v, list.end() - 1, list.end());
    list[static_cast<std::size_t>(v)] = added;
  } else {
    if (length >= kMaxSpots) return {false, -1, limit};
    added.score = length > 0 ? list.back().score : 0.0f;
    list.push_back(added);
  }
  const int value = v + 1;
  const int maximum = std::clamp(limit.maximum + 1, value, list_length(list));
  return {true, v, {value, maximum}};
}

SpotEdit remove_nearest_spot(SpotList& list, SpotLimit limit, double x, double y) {
  const int k = nearest_shown_spot(list, limit.value, x, y);
  if (k < 0) return {false, -1, limit};
  const int shown = std::clamp(limit.value, 0, list_length(list));
  list.erase(list.begin() + k);
  return {true, k, {shown - 1, list_length(list)}};
}

SpotEdit exclude_nearest_from_seeds(SpotList& list, SpotLimit limit, double x, double y) {
  const int k = nearest_shown_spot(list, limit.value, x, y);
  if (k < 0) return {false, -1, limit};
  list[static_cast<std::size_t>(k)].excluded_from_seeds = true;
  return {true, k, limit};
}

CircleColour spot_circle_colour(float kind) {
  if (kind == kSpotKindForward) return {255, 0, 0};
  if (kind == kSpotKindBackward) return {0, 0, 255};
  return {0, 255, 255};
}

std::string spots_caption(int value) {
  return "# spots = " + std::to_string(value);
}

}  // namespace velmora::extract

#include "workstation/extract/seeds.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <string>

#include "workstation/common/number_text.h"
#include "workstation/extract/feature_file.h"
#include "workstation/extract/shared_extract.h"

namespace velmora::extract {
namespace {

// The far bound of the last windows is this less e (not 257 less e): with no
// margin every spot of the extract lies inside, the edge rows included.
constexpr int kWindowFarEdge = 265;
// The distance search lowers the minimum distance by this step and stops
// once it would fall below it.
constexpr int kDistanceStep = 10;
constexpr int kFineWindowsAbove = 40;  // show_n_spots above this: 3 x 3 windows

double distance(const Spot& a, const Spot& b) {
  const double dr = static_cast<double>(a.row) - static_cast<double>(b.row);
  const double dc = static_cast<double>(a.column) - static_cast<double>(b.column);
  return std::sqrt(dr * dr + dc * dc);
}

// Twice the area of the triangle, the measure the operator's minimum is in.
double triangle_measure(const Spot& p1, const Spot& p2, const Spot& p3) {
  const double r1 = p1.row, c1 = p1.column;
  const double r2 = p2.row, c2 = p2.column;
  const double r3 = p3.row, c3 = p3.column;
  return std::fabs((c3 - c1) * (r2 - r1) - (c2 - c1) * (r3 - r1));
}

// The triple of one window. `window` holds 0-based list indices of the
// window's spots in list order; the positions named below are 1-based in it.
// The last spot of the window is never chosen by the search itself, only as
// the stand-in third corner.
SeedTriple window_triple(const SpotList& spots, const std::vector<int>& window, int start_distance,
                         double min_measure) {
  const int n = static_cast<int>(window.size());
  auto at = [&](int position) -> const Spot& { return spots[window[position - 1]]; };
  int p2 = 0;
  int p3 = 0;
  bool found = false;
  for (int g = start_distance; !found && g >= kDistanceStep + 1;) {
    g -= kDistanceStep;
    p2 = n - 1;
    for (int j = 1; j <= n - 2; ++j) {
      if (distance(at(1), at(j)) > g) {
        p2 = j;
        break;
      }
    }
    p3 = n;
    for (int j = p2 + 1; j <= n - 1; ++j) {
      if (distance(at(1), at(j)) > g && distance(at(p2), at(j)) > g &&
          triangle_measure(at(1), at(p2), at(j)) > min_measure) {
        p3 = j;
        found = true;
        break;
      }
    }
  }
  return {window[0] + 1, window[p2 - 1] + 1, window[p3 - 1] + 1};
}

}  // namespace

float dilate_radius(float dilate_proportion, int spots) {
  if (spots < 1) return 0.0f;
  const double area = static_cast<double>(kExtractRows) * kExtractRows * dilate_proportion;
  return static_cast<float>(std::sqrt(area / (std::numbers::pi * spots)));
}

void paint_disc(SpotMap* map, float row, float column, float radius) {
  if (!std::isfinite(row) || !std::isfinite(column) || !std::isfinite(radius) || radius < 0.0f) {
    return;
  }
  const double cx = static_cast<double>(column) + kSpotMapBorder;
  const double cy = static_cast<double>(row) + kSpotMapBorder;
  const double r = radius;
  const double r2 = r * r;
  // One pixel of slack on each side: the formula below decides, the box only
  // keeps the loop short.
  auto first = [](double v) {
    return static_cast<int>(std::clamp(std::floor(v) - 1.0, 1.0, 297.0));
  };
  auto last = [](double v) { return static_cast<int>(std::clamp(std::ceil(v) + 1.0, 0.0, 296.0)); };
  const int x0 = first(cx - r), x1 = last(cx + r);
  const int y0 = first(cy - r), y1 = last(cy + r);
  for (int y = y0; y <= y1; ++y) {
    const double dy = y - cy;
    for (int x = x0; x <= x1; ++x) {
      const double dx = x - cx;
      if (dx * dx + dy * dy <= r2) {
        map->black[static_cast<std::size_t>(y - 1) * kSpotMapSide +
                   static_cast<std::size_t>(x - 1)] = 1;
      }
    }
  }
}

Status place_seeds(const SpotList& spots, const SeedSettings& settings, SeedResult* out) {
  const std::optional<double> min_measure = real_from_text(settings.min_triangle_text);
  if (!min_measure) {
    return Status::InvalidArgument("place seeds: the minimum triangle measure '" +
                                   settings.min_triangle_text +
                                   "' is not a number (for example 5000)");
  }
  if (!std::isfinite(settings.dilate_proportion) || settings.dilate_proportion < 0.0f) {
    return Status::InvalidArgument("place seeds: configuration key dilate_proportion is " +
                                   single_to_text(settings.dilate_proportion) +
                                   ", expected 0 or more");
  }
  const int usable = std::min(kMaxSavedSpots, static_cast<int>(spots.size()));
  if (settings.limit < 0 || settings.limit > usable) {
    return Status::InvalidArgument("place seeds: " + std::to_string(settings.limit) +
                                   " spots in use, but the list holds " +
                                   std::to_string(spots.size()) + " and at most " +
                                   std::to_string(kMaxSavedSpots) + " can be saved");
  }

  SeedResult r;
  const bool fine = settings.show_n_spots > kFineWindowsAbove;
  const int size = fine ? 128 : 192;
  const std::vector<int> origins = fine ? std::vector<int>{0, 64, 128} : std::vector<int>{0, 64};
  const int start_distance = fine ? 50 : 100;
  r.min_distance_text = std::to_string(start_distance);
  const int e = static_cast<int>(round_half_even(settings.margin * 1.5));

  std::vector<int> window;
  for (int b : origins) {
    for (int d : origins) {
      const double row_lo = std::max(b, e), row_hi = std::min(b + size + 1, kWindowFarEdge - e);
      const double col_lo = std::max(d, e), col_hi = std::min(d + size + 1, kWindowFarEdge - e);
      window.clear();
      for (int k = 0; k < settings.limit; ++k) {
        const Spot& s = spots[k];
        if (s.excluded_from_seeds) continue;
        if (s.row > row_lo && s.row < row_hi && s.column > col_lo && s.column < col_hi) {
          window.push_back(k);
        }
      }
      if (window.size() <= 2) continue;
      ++r.windows_with_sets;
      const SeedTriple t = window_triple(spots, window, start_distance, *min_measure);
      const auto stored = r.sets.sets.begin();
      if (std::find(stored, stored + r.sets.count, t) == stored + r.sets.count) {
        r.sets.sets[r.sets.count++] = t;
      }
    }
  }

  r.dilate_radius = dilate_radius(settings.dilate_proportion, settings.limit);
  for (int k = 0; k < settings.limit; ++k) {
    const Spot& s = spots[k];
    if (s.kind <= kSpotKindBoth) paint_disc(&r.top, s.row, s.column, r.dilate_radius);
    if (s.kind >= kSpotKindBoth) paint_disc(&r.bottom, s.row, s.column, r.dilate_radius);
  }
  r.caption = "# sets = " + std::to_string(r.sets.count);
  *out = std::move(r);
  return Status::Ok();
}

std::vector<SeedCircle> seed_circles(const SpotList& spots, const SeedSets& sets) {
  std::vector<SeedCircle> circles;
  for (int s = 0; s < std::clamp(sets.count, 0, kMaxSeedSets); ++s) {
    for (int number : sets.sets[s]) {
      if (number < 1 || number > static_cast<int>(spots.size())) continue;
      const Spot& spot = spots[number - 1];
      circles.push_back({spot.column, spot.row, kSeedCircleRadius[s], kSeedPalette[s]});
    }
  }
  return circles;
}

}  // namespace velmora::extract

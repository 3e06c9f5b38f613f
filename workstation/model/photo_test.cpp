#include "workstation/model/photo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>

namespace velmora::model {
namespace {

using Mapping = std::function<fennick::ScreenPoint(const Crop&, int, int)>;

// Every pixel a colour of its own: its index from 1, so that no pixel of the
// photograph reads as the black beyond it.
Photo numbered_photo(int width, int height) {
  Photo p(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int i = y * width + x + 1;
      p.set(x, y, static_cast<uint8_t>(i & 255), static_cast<uint8_t>((i >> 8) & 255),
            static_cast<uint8_t>(i >> 16));
    }
  return p;
}

struct Source {
  bool any = false;
  int x = 0, y = 0;
};

// The photograph pixel that work pixel (u, v) was copied from.
Source source_of(const Photo& work, int photo_width, int u, int v) {
  const int32_t c = work.colour(u, v);
  if (c <= 0) return {};
  return {true, (c - 1) % photo_width, (c - 1) / photo_width};
}

// Faults of `map` against what crop_photo copied, for every photograph pixel
// inside the grown rectangle. Enlarging, the pixel's copies form a run of
// work pixels and the mapped pixel must be one of them, in the middle of the
// run. Shrinking, only some pixels are copied: the mapped pixel's stretch of
// the photograph (the grown size over the work size, from source_x + u
// times that) must hold the pixel's centre, and every work pixel's own
// source must map back to it.
int mapping_faults(const Photo& photo, const Photo& work, const Crop& crop, const Mapping& map) {
  const CropRecord& r = crop.record;
  const double step_x = crop.grown_width / r.destination_width;
  const double step_y = crop.grown_height / r.destination_height;
  const bool enlarging = step_x <= 1;
  const auto copies = [&](int u, int v, int x, int y) {
    const Source s = source_of(work, photo.width, u, v);
    return s.any && s.x == x && s.y == y;
  };
  int faults = 0;
  const int x_end = std::min<int>(photo.width, r.source_x + static_cast<int>(crop.grown_width));
  const int y_end = std::min<int>(photo.height, r.source_y + static_cast<int>(crop.grown_height));
  for (int y = r.source_y; y < y_end; ++y)
    for (int x = r.source_x; x < x_end; ++x) {
      const fennick::ScreenPoint q = map(crop, x, y);
      if (enlarging) {
        if (!copies(q.x, q.y, x, y)) {
          ++faults;
          continue;
        }
        int left = q.x, right = q.x, top = q.y, bottom = q.y;
        while (copies(left - 1, q.y, x, y)) --left;
        while (copies(right + 1, q.y, x, y)) ++right;
        while (copies(q.x, top - 1, x, y)) --top;
        while (copies(q.x, bottom + 1, x, y)) ++bottom;
        if (std::abs(2 * q.x - left - right) > 1 || std::abs(2 * q.y - top - bottom) > 1) ++faults;
      } else {
        const double eps = 1e-9;
        if (x + 0.5 < r.source_x + q.x * step_x - eps ||
            x + 0.5 > r.source_x + (q.x + 1) * step_x + eps ||
            y + 0.5 < r.source_y + q.y * step_y - eps ||
            y + 0.5 > r.source_y + (q.y + 1) * step_y + eps)
          ++faults;
      }
    }
  if (!enlarging)
    for (int v = 0; v < work.height; ++v)
      for (int u = 0; u < work.width; ++u) {
        const Source s = source_of(work, photo.width, u, v);
        if (!s.any) continue;
        const fennick::ScreenPoint q = map(crop, s.x, s.y);
        if (q.x != u || q.y != v) ++faults;
      }
  return faults;
}

TEST(PhotoToWork, APhotographPixelLandsOnTheWorkPixelCropPhotoCopiesItTo) {
  struct Case {
    const char* what;
    int photo_width, photo_height;
    CropRequest request;
    int work_width, work_height;
  };
  const Case cases[] = {
      {"enlarged nine times, width kept", 300, 200, {false, 40, 30, 140, 80}, 900, 600},
      {"shrunk to 0.3, corners given the other way",
       1200,
       800,
       {false, 1100, 700, 100, 50},
       300,
       200},
      {"height kept, grown past the photograph's right edge",
       500,
       400,
       {false, 17, 9, 170, 400},
       210,
       140},
      {"whole photograph at its own size", 90, 60, {true}, 90, 60},
      {"slightly enlarged, the shape not quite the photograph's",
       400,
       300,
       {false, 5, 5, 305, 205},
       301,
       201},
      {"whole photograph shrunk by an uneven factor", 1200, 800, {true}, 900, 600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Photo photo = numbered_photo(c.photo_width, c.photo_height);
    Photo work;
    Crop crop;
    ASSERT_TRUE(crop_photo(photo, c.request, c.work_width, c.work_height, &work, &crop).ok());
    EXPECT_EQ(mapping_faults(photo, work, crop, photo_pixel_to_work), 0);
    // The check tells a mapping a pixel off, or one that ignores the half
    // pixel between a pixel's corner and its centre.
    const Mapping one_off = [](const Crop& k, int x, int y) {
      fennick::ScreenPoint p = photo_pixel_to_work(k, x, y);
      return fennick::ScreenPoint{p.x + 1, p.y};
    };
    const Mapping corners = [](const Crop& k, int x, int y) {
      const CropRecord& r = k.record;
      return fennick::ScreenPoint{
          static_cast<int32_t>((x - r.source_x) * r.destination_width / k.grown_width),
          static_cast<int32_t>((y - r.source_y) * r.destination_height / k.grown_height)};
    };
    EXPECT_GT(mapping_faults(photo, work, crop, one_off), 0);
    // At the photograph's own size the two agree.
    if (crop.grown_width != c.work_width) {
      EXPECT_GT(mapping_faults(photo, work, crop, corners), 0);
    }
  }
}

}  // namespace
}  // namespace velmora::model

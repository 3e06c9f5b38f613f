#include "workstation/model/photo.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>

#include "workstation/common/rounding.h"

namespace velmora::model {

Photo::Photo(int w, int h)
    : width(w), height(h), rgb(static_cast<std::size_t>(std::max(w, 0)) * std::max(h, 0) * 3, 0) {}

bool Photo::valid() const {
  return width > 0 && height > 0 && rgb.size() == static_cast<std::size_t>(width) * height * 3;
}

int32_t Photo::colour(int x, int y) const {
  if (!contains(x, y)) return -1;
  const uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
  return p[0] + 256 * p[1] + 65536 * p[2];
}

void Photo::set(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
  if (!contains(x, y)) return;
  uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
  p[0] = r;
  p[1] = g;
  p[2] = b;
}

Status crop_photo(const Photo& photo, const CropRequest& request, int work_width, int work_height,
                  Photo* work, Crop* crop) {
  constexpr int kMax = std::numeric_limits<int16_t>::max();
  if (!photo.valid())
    return Status::Corruption("the photograph's pixels do not match its size (" +
                              std::to_string(photo.width) + " x " + std::to_string(photo.height) +
                              ", " + std::to_string(photo.rgb.size()) + " bytes)");
  if (photo.width > kMax || photo.height > kMax)
    return Status::InvalidArgument("the photograph is larger than a crop record holds");
  if (work_width <= 0 || work_height <= 0 || work_width > kMax || work_height > kMax)
    return Status::InvalidArgument("work picture size out of range");
  int x1 = 0, y1 = 0, x2 = photo.width, y2 = photo.height;
  if (!request.whole) {
    x1 = std::min(request.x1, request.x2);
    x2 = std::max(request.x1, request.x2);
    y1 = std::min(request.y1, request.y2);
    y2 = std::max(request.y1, request.y2);
  }
  if (x2 - x1 < 1 || y2 - y1 < 1) return Status::InvalidArgument("the crop rectangle has no area");
  if (x1 < 0 || y1 < 0 || x2 > photo.width || y2 > photo.height)
    return Status::InvalidArgument("the crop rectangle reaches outside the photograph");

  const double ratio = static_cast<double>(work_width) / work_height;
  double w = x2 - x1, h = y2 - y1;
  const bool width_limited = w / h > ratio;
  double scale = 0;
  if (width_limited) {
    h = w / ratio;
    scale = photo.width / w;
  } else {
    w = h * ratio;
    scale = photo.height / h;
  }
  const double sw = round_half_even(w), sh = round_half_even(h);
  if (sw > kMax || sh > kMax) return Status::InvalidArgument("the grown crop is too large");

  Photo out(work_width, work_height);
  for (int y = 0; y < work_height; ++y) {
    const int sy = y1 + static_cast<int>((y + 0.5) * h / work_height);
    for (int x = 0; x < work_width; ++x) {
      const int sx = x1 + static_cast<int>((x + 0.5) * w / work_width);
      if (!photo.contains(sx, sy)) continue;
      const uint8_t* p = &photo.rgb[(static_cast<std::size_t>(sy) * photo.width + sx) * 3];
      out.set(x, y, p[0], p[1], p[2]);
    }
  }
  CropRecord r;
  r.destination_width = static_cast<int16_t>(work_width);
  r.destination_height = static_cast<int16_t>(work_height);
  r.source_x = static_cast<int16_t>(x1);
  r.source_y = static_cast<int16_t>(y1);
  r.source_width = static_cast<int16_t>(sw);
  r.source_height = static_cast<int16_t>(sh);
  r.width_limited = width_limited ? -1 : 0;
  *work = std::move(out);
  crop->record = r;
  crop->crop_scale = scale;
  crop->grown_width = w;
  crop->grown_height = h;
  return Status::Ok();
}

WorkPosition photo_to_work(const Crop& crop, double x, double y) {
  const CropRecord& r = crop.record;
  return {(x + 0.5 - r.source_x) * r.destination_width / crop.grown_width - 0.5,
          (y + 0.5 - r.source_y) * r.destination_height / crop.grown_height - 0.5};
}

fennick::ScreenPoint photo_pixel_to_work(const Crop& crop, int x, int y) {
  const WorkPosition p = photo_to_work(crop, x, y);
  return {static_cast<int32_t>(round_half_even(p.x)), static_cast<int32_t>(round_half_even(p.y))};
}

}  // namespace velmora::model

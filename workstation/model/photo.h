// The photograph of one sighting as the fitting session sees it, and the
// work picture cut from it.
//
// The core never sees an image library's types: the app decodes the file
// into a Photo (3 bytes per pixel, red, green, blue, row-major, top row
// first) and hands it over. Cropping copies the operator's rectangle, grown
// to the work picture's shape, onto a work picture of a fixed size; every
// mark, the model's lines and the sampling grid are in work-picture pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "libs/fennick/fennick_records.h"
#include "workstation/common/status.h"
#include "workstation/model/fit_records.h"

namespace velmora::model {

struct Photo {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // 3 * width * height bytes

  Photo() = default;
  // A black picture of the size given.
  Photo(int w, int h);

  // The sizes are positive and the buffer holds exactly their pixels.
  bool valid() const;
  bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  // The picture's colour value red + 256 green + 65536 blue, or -1 outside it
  // (what the sampling reads off the picture's edge).
  int32_t colour(int x, int y) const;
  void set(int x, int y, uint8_t r, uint8_t g, uint8_t b);
};

// The operator's crop in photograph pixels: two corners, or the whole
// photograph (the right click).
struct CropRequest {
  bool whole = false;
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

struct Crop {
  CropRecord record;
  // Photograph pixels per crop pixel across the limiting side, the factor
  // that turns the model's scale into photograph units at OK.
  double crop_scale = 0;
  // The grown rectangle's size in photograph pixels before the record rounds
  // it: the copy steps through the photograph by these, not by the record's.
  double grown_width = 0;
  double grown_height = 0;
};

// Cuts `photo` to a work picture of work_width x work_height. The crop
// keeps its corner 1 (the smaller x and y of the two) and grows its short
// side to the work picture's shape; parts of the grown rectangle beyond the
// photograph read black. A photograph whose buffer does not match its size,
// or sizes beyond what the crop record holds, are refused.
Status crop_photo(const Photo& photo, const CropRequest& request, int work_width, int work_height,
                  Photo* work, Crop* crop);

// A position on the work picture, pixel centres at whole numbers.
struct WorkPosition {
  double x = 0;
  double y = 0;
};

// Where the crop that crop_photo made lays photograph position (x, y) (pixel
// centres at whole numbers) on the work picture. Work pixel u copies the
// photograph pixel under source_x + (u + 1/2) grown_width / work_width, so a
// photograph pixel's centre lands at (x + 1/2 - source_x) work_width /
// grown_width - 1/2, and down the picture the same way.
WorkPosition photo_to_work(const Crop& crop, double x, double y);

// The work pixel that photograph pixel (x, y) is copied to: where the crop
// enlarges, the middle of the pixels holding its copy; where it shrinks and
// copies only some pixels, the work pixel whose copy comes from the run of
// photograph pixels it lies in. The position above, rounded halves to even.
fennick::ScreenPoint photo_pixel_to_work(const Crop& crop, int x, int y);

}  // namespace velmora::model

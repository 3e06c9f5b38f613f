#include "workstation/model/extract_preview.h"

#include <algorithm>

#include "workstation/common/rounding.h"

namespace velmora::model {

PictureSize work_picture_size(int screen_width, int screen_height) {
  constexpr double kTwipsPerPixel = 15;
  const double width_twips = screen_width * kTwipsPerPixel;
  const double height_twips = screen_height * kTwipsPerPixel;
  double width = 0, height = 0;
  if (height_twips * 1.5 > width_twips) {
    width = kDesignPictureWidthTwips * width_twips / 16000.0 / kTwipsPerPixel;
    height = width * 2 / 3;
  } else {
    height = kDesignPictureHeightTwips * height_twips / 11520.0 / kTwipsPerPixel;
    width = height * 3 / 2;
  }
  // Whole pixels that keep 3:2 exactly: the height a multiple of 2, the
  // width its 3/2.
  const int h = std::max(2, 2 * static_cast<int>(height / 2));
  return {h * 3 / 2, h};
}

void preview_to_extract(int x, int y, bool lateral, int* row, int* column) {
  if (lateral) {
    *row = x;
    *column = y;
  } else {
    *row = y;
    *column = 257 - x;
  }
}

std::vector<std::uint8_t> preview_grey(const extract::SharedExtract& extract, bool lateral) {
  std::vector<std::uint8_t> out(extract::kExtractPixels);
  for (int y = 1; y <= 256; ++y) {
    for (int x = 1; x <= 256; ++x) {
      int r = 0, c = 0;
      preview_to_extract(x, y, lateral, &r, &c);
      const double v = std::clamp(round_half_even(extract.cell_intensity(r, c)), 0.0, 255.0);
      out[static_cast<size_t>(y - 1) * 256 + (x - 1)] = static_cast<std::uint8_t>(v);
    }
  }
  return out;
}

int blank_painted_preview(const std::vector<bool>& painted, bool lateral, double mean_grey,
                          extract::SharedExtract* extract) {
  int added = 0;
  const size_t n = std::min(painted.size(), extract::kExtractPixels);
  for (size_t i = 0; i < n; ++i) {
    if (!painted[i]) continue;
    int r = 0, c = 0;
    preview_to_extract(static_cast<int>(i % 256) + 1, static_cast<int>(i / 256) + 1, lateral, &r,
                       &c);
    if (!extract->is_blank(r, c)) ++added;
    extract->cell_blank(r, c) = extract::kBlankPixel;
    extract->cell_intensity(r, c) = mean_grey;
  }
  return added;
}

}  // namespace velmora::model

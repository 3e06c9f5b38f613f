// The working images of extract processing: one set per processing window,
// reused for every extract, allocated once at their full size.
//
// Every image is 256 x 256 and row-major, counted from 0 in the buffer and
// from 1 by the accessors: pixel (row, column) is element
// (row - 1) * 256 + (column - 1), the layout of the shared extract and of the
// two-dimensional transform. work_colour holds three such planes (red, green,
// blue) one after another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "workstation/extract/shared_extract.h"

namespace velmora::extract {

// Distance written where no blank edge is near; also the cap of the map.
inline constexpr float kFarFromBlank = 100.0f;

struct WorkImages {
  WorkImages()
      : work_image(kExtractPixels, 0.0),
        work_colour(static_cast<std::size_t>(kColourPlanes) * kExtractPixels, 0),
        filtered_image(kExtractPixels, 0.0f),
        blank_distance(kExtractPixels, kFarFromBlank),
        spectrum_re(kExtractPixels, 0.0),
        spectrum_im(kExtractPixels, 0.0),
        fft_re(2 * kExtractPixels, 0.0),
        fft_im(2 * kExtractPixels, 0.0),
        trig_m(2 * static_cast<std::size_t>(kExtractRows), 0.0),
        trig_n(2 * static_cast<std::size_t>(kExtractColumns), 0.0),
        fft_work(2 * kExtractPixels, 0.0) {}

  double& work(int row, int column) { return work_image[SharedExtract::index(row, column)]; }
  double work(int row, int column) const { return work_image[SharedExtract::index(row, column)]; }
  std::int16_t colour(ColourPlane plane, int row, int column) const {
    return work_colour[SharedExtract::plane_offset(plane) + SharedExtract::index(row, column)];
  }
  float filtered(int row, int column) const {
    return filtered_image[SharedExtract::index(row, column)];
  }

  // Extract intensity after loading, scaling and detrending.
  std::vector<double> work_image;
  // Extract colour after loading (rotated only, never scaled).
  std::vector<std::int16_t> work_colour;
  // Output of the band filter.
  std::vector<float> filtered_image;
  // Distance in pixels to the nearest blank edge pixel, capped at 100.
  std::vector<float> blank_distance;
  // The forward transform of work_image.
  std::vector<double> spectrum_re;
  std::vector<double> spectrum_im;
  // Buffers handed to the transform routine; only the first 65536 elements
  // are used, the rest is the size the routine's callers have always passed.
  std::vector<double> fft_re;
  std::vector<double> fft_im;
  // Tables and workspace of the transform routine (2*256, 2*256, 2*256*256).
  std::vector<double> trig_m;
  std::vector<double> trig_n;
  std::vector<double> fft_work;
};

}  // namespace velmora::extract

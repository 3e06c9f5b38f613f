// Test-only blob patterns (see patterns.h).
#include "compare/testing/patterns.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace tarvik::testing {
namespace {

// Uniform in [0, 1) from one raw draw.
double unit(std::mt19937& rng) {
  return rng() / 4294967296.0;
}

}  // namespace

std::vector<std::uint8_t> blob_pattern(int rows, int cols, std::uint32_t seed, int blobs) {
  std::mt19937 rng(seed);
  std::vector<double> field(static_cast<std::size_t>(rows) * cols, 0.0);
  for (int b = 0; b < blobs; ++b) {
    const double cr = unit(rng) * rows, cc = unit(rng) * cols;
    const double sr = 1.5 + unit(rng) * 4.0, sc = 1.5 + unit(rng) * 4.0;
    const double amp = (unit(rng) < 0.5 ? -1.0 : 1.0) * (12.0 + unit(rng) * 20.0);
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) {
        const double dr = (r - cr) / sr, dc = (c - cc) / sc;
        const double q = dr * dr + dc * dc;
        if (q < 9.0) field[static_cast<std::size_t>(r) * cols + c] += amp * std::exp(-0.5 * q);
      }
    }
  }
  std::vector<std::uint8_t> out(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    const double v = std::clamp(std::round(32.0 + field[i]), 0.0, 63.0);
    out[i] = static_cast<std::uint8_t>(v);
  }
  return out;
}

std::vector<std::uint8_t> crop(const std::vector<std::uint8_t>& big, int big_cols, int top,
                               int left, int rows, int cols) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(rows) * cols);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      out[static_cast<std::size_t>(r) * cols + c] =
          big[static_cast<std::size_t>(top + r) * big_cols + left + c];
    }
  }
  return out;
}

void mask_pixels(std::vector<std::uint8_t>& image, std::uint32_t seed, int count) {
  std::mt19937 rng(seed);
  for (int i = 0; i < count; ++i) image[rng() % image.size()] = 64;
}

}  // namespace tarvik::testing

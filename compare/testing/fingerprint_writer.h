// Test-only fingerprint files: builds files of the fingerprint layout from an
// image and a geometry, so that the reader and the comparison can be tested
// without the workstation's writer. The parts stay separate (header lines,
// image bytes, table bytes) so that a test can damage any one of them.
//
// Normalisation chosen here makes the weighted correlation close to a
// normalised cross-correlation: cell_mean and each sub_mean are the means of
// the unmasked pixels, sub_scale is 1 / the root of the sub-cell's sum of
// squared deviations, and the table entry of a window is 1 / the root of the
// window's own sum of squared deviations (0 for a window without variation).
// As the sub-cell values sum to zero, subtracting cell_mean instead of the
// window's mean changes the correlation little, so each surface value is
// close to the Pearson correlation of sub-cell and window. Masked pixels (64)
// count nowhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvik::testing {

struct FingerprintGeometry {
  int rows = 64, cols = 64;
  int group_code_1 = 1, group_code_2 = 1;
  int row_origin = 17, col_origin = 17;  // line 7
  int across = 2, down = 2;
  int subrows = 16, subcols = 16;
};

struct FingerprintFile {
  std::vector<std::string> lines;  // header lines without their LF
  std::string image;               // rows x cols bytes
  std::string table;               // float32 little-endian, row by row
  // Header lines each followed by LF, then image and table.
  std::string bytes() const;
  bool write(const std::string& path) const;
};

// The sub-cells tile the centre of the extract: sub-cell k = h * across + j
// starts at row row_origin + h * subrows, column col_origin + j * subcols.
FingerprintFile make_fingerprint(const std::vector<std::uint8_t>& image,
                                 const FingerprintGeometry& geometry);

// Little-endian bytes of one float.
std::string float_bytes(float v);

}  // namespace tarvik::testing

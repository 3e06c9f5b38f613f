// Geometry of a fingerprint and the numbers that make its correlations comparable.
//
// A fingerprint is a rows x cols grey image (0-63, 64 = masked) cut, for the
// comparison, into across x down sub-cells of subrows x subcols pixels that
// lie side by side from (row_origin, col_origin) on. Rows and columns are
// 1-based as in the file. The comparison correlates each sub-cell of one
// fingerprint with the whole image of another over shifts -R..R by -C..C,
// R = (rows - down*subrows)/2 and C = (cols - across*subcols)/2, and weights
// the value at shift (i, j) by the other fingerprint's table entry of the
// sub-cell-sized window with top-left pixel (row_origin_k + i, col_origin_k + j).
//
// The weighting is a normalised cross-correlation, split between the two
// fingerprints of a pair so that each half can be computed from one image:
//
//   surface(i, j) = w(window) * sum over sub-cell pixels x of
//                   (a(x) - sub_mean) * sub_scale * (b(x + (i, j)) - cell_mean),
//
// a the first image, b the second, masked pixels left out of both sides.
//
//  - sub_mean is the mean of the sub-cell's unmasked pixels and sub_scale is
//    1 / sqrt(sum (a - sub_mean)^2) over them: the sub-cell pattern becomes a
//    zero-mean vector of unit length.
//  - cell_mean is the mean of all unmasked pixels of the image. Because the
//    sub-cell pattern sums to zero, cell_mean drops out of every window
//    without masked pixels; it only matters where masked pixels cut the
//    overlap, and the overall mean keeps that remainder small.
//  - w = 1 / sqrt(D2), D2 = sum over the window's unmasked pixels of
//    (b - m)^2 + n_masked * (m - cell_mean)^2, where m is the window's own
//    mean and n_masked its count of masked pixels.
//
// Why the window's own mean: for a window without masked pixels D2 is the
// window's own sum of squared deviations, so the surface value is exactly the
// Pearson correlation of sub-cell and window: 1 for a window that is the
// pattern, whatever the local brightness and contrast, and on one scale for
// every shift and every pair. Normalising by the deviation from cell_mean
// instead would punish windows that are brighter or darker than the whole
// image, i.e. make values depend on position. The second term only appears
// for windows with masked pixels: there cell_mean no longer cancels, and the
// term is exactly what bounds the value by 1 in magnitude (Cauchy-Schwarz on
// the overlap and on the part of the sub-cell that falls on masked pixels),
// so a window cut by a mask can never outscore a true match. Masked pixels
// lower the value in proportion to the pattern energy they hide, as they
// should.
//
// Windows and sub-cells with almost no information get 0 (the comparison
// then gives 0 for the window, or an all-zero surface without peaks for the
// sub-cell): fewer than an eighth of their pixels unmasked, or a standard
// deviation below half a grey level, which is no more than the rounding of
// the grey levels themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::dunmarra {

// The eight integers of the writer's call, in the call's order.
struct FingerprintGeometry {
  int rows = 0;
  int cols = 0;
  int row_origin = 0;  // first row of sub-cell 0, 1-based
  int col_origin = 0;  // first column of sub-cell 0, 1-based
  int subrows = 0;
  int subcols = 0;
  int across = 0;  // sub-cells along the columns
  int down = 0;    // sub-cells along the rows

  int search_rows() const { return (rows - down * subrows) / 2; }    // R
  int search_cols() const { return (cols - across * subcols) / 2; }  // C
  int table_rows() const { return rows - subrows + 1; }
  int table_cols() const { return cols - subcols + 1; }
  int subcell_count() const { return across * down; }
  // Sub-cell k = h * across + j lies in sub-cell row h and column j.
  int subcell_row_origin(int k) const { return row_origin + (k / across) * subrows; }
  int subcell_col_origin(int k) const { return col_origin + (k % across) * subcols; }
};

// Largest image the caller's buffer can hold: 256 x 256 bytes, row stride 256.
inline constexpr int kMaxImageSize = 256;
// The comparison correlates exactly four sub-cells.
inline constexpr int kSubcellCount = 4;
inline constexpr uint8_t kMaskedPixel = 64;

// Empty when the comparison can use the geometry; otherwise what is wrong.
// Refused: sizes that are not powers of two or exceed the buffer, sub-cells of
// fewer than 2 x 2 pixels, other than four sub-cells, sub-cells outside the
// image, an empty search window, and shifted windows that would leave the
// normalisation table.
std::string check_geometry(const FingerprintGeometry& g);

struct SubcellStats {
  float sub_mean = 0;   // mean of the unmasked pixels (as written, 32-bit)
  float sub_scale = 0;  // 0 when the sub-cell has too little information
  int unmasked = 0;
  double deviation = 0;  // standard deviation of the unmasked pixels
};

struct Normalisation {
  float cell_mean = 0;  // as written, 32-bit; 0 when every pixel is masked
  int unmasked = 0;
  int64_t sum = 0;          // of the unmasked pixel values
  int64_t sum_squares = 0;  // of their squares
  std::vector<SubcellStats> subcells;
  // table_rows x table_cols entries, row-major, 0-based: entry [r][c] is the
  // 1-based window with top-left pixel (r + 1, c + 1).
  std::vector<float> table;
  int zero_entries = 0;
};

// Image: rows x cols bytes, row-major, values 0..64. The geometry must pass
// check_geometry.
Normalisation compute_normalisation(const FingerprintGeometry& g,
                                    const std::vector<uint8_t>& image);

}  // namespace velmora::dunmarra

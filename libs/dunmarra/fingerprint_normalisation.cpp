// Geometry checks and the normalisation numbers of a fingerprint (see the header
// for why they are chosen so). Sums over pixels are exact 64-bit integers; the
// derived values are computed in double and rounded once to the 32-bit floats
// the file carries, and the table is computed from cell_mean as written, so
// that the comparison sees exactly the numbers the reasoning assumes.
#include "libs/dunmarra/fingerprint_normalisation.h"

#include <cmath>

namespace velmora::dunmarra {
namespace {

// A window or sub-cell needs at least this share of unmasked pixels (1/8).
constexpr int kMinUnmaskedDivisor = 8;
// Below this variance per unmasked pixel (half a grey level squared) a window
// or sub-cell is taken as flat: that much comes from grey-level rounding.
constexpr double kMinVariancePerPixel = 0.25;

bool is_power_of_two(int n) {
  return n > 0 && (n & (n - 1)) == 0;
}

std::string text(const char* what, int value) {
  return std::string(what) + " " + std::to_string(value);
}

}  // namespace

std::string check_geometry(const FingerprintGeometry& g) {
  if (!is_power_of_two(g.rows) || g.rows > kMaxImageSize)
    return text("rows must be a power of two up to 256, not", g.rows);
  if (!is_power_of_two(g.cols) || g.cols > kMaxImageSize)
    return text("cols must be a power of two up to 256, not", g.cols);
  if (g.subrows < 2 || g.subrows > g.rows) return text("sub-cell rows out of range:", g.subrows);
  if (g.subcols < 2 || g.subcols > g.cols) return text("sub-cell columns out of range:", g.subcols);
  if (g.across < 1 || g.down < 1 || g.across * g.down != kSubcellCount)
    return "the comparison needs four sub-cells, not " + std::to_string(g.across) + " x " +
           std::to_string(g.down);
  if (g.row_origin < 1 || g.row_origin - 1 + g.down * g.subrows > g.rows)
    return text("sub-cells leave the image at row origin", g.row_origin);
  if (g.col_origin < 1 || g.col_origin - 1 + g.across * g.subcols > g.cols)
    return text("sub-cells leave the image at column origin", g.col_origin);
  const int R = g.search_rows();
  const int C = g.search_cols();
  if (R < 1 || C < 1) return "the sub-cells leave no room to search for shifts";
  for (int k = 0; k < g.subcell_count(); ++k) {
    const int ro = g.subcell_row_origin(k);
    const int co = g.subcell_col_origin(k);
    if (ro - R < 1 || ro + R > g.table_rows() || co - C < 1 || co + C > g.table_cols())
      return "shifted windows of sub-cell " + std::to_string(k) + " at (" + std::to_string(ro) +
             ", " + std::to_string(co) + ") leave the normalisation table";
  }
  return {};
}

Normalisation compute_normalisation(const FingerprintGeometry& g,
                                    const std::vector<uint8_t>& image) {
  Normalisation n;
  for (uint8_t p : image) {
    if (p == kMaskedPixel) continue;
    ++n.unmasked;
    n.sum += p;
    n.sum_squares += int64_t{p} * p;
  }
  n.cell_mean = n.unmasked > 0 ? static_cast<float>(static_cast<double>(n.sum) / n.unmasked) : 0.0f;
  const double cell_mean = n.cell_mean;
  auto pixel = [&](int r, int c) { return image[static_cast<size_t>(r) * g.cols + c]; };

  // Sub-cells: zero mean, unit length over the unmasked pixels.
  const int sub_pixels = g.subrows * g.subcols;
  for (int k = 0; k < g.subcell_count(); ++k) {
    const int r0 = g.subcell_row_origin(k) - 1;
    const int c0 = g.subcell_col_origin(k) - 1;
    int count = 0;
    int64_t s1 = 0;
    for (int r = r0; r < r0 + g.subrows; ++r)
      for (int c = c0; c < c0 + g.subcols; ++c)
        if (pixel(r, c) != kMaskedPixel) {
          ++count;
          s1 += pixel(r, c);
        }
    SubcellStats st;
    st.unmasked = count;
    st.sub_mean = count > 0 ? static_cast<float>(static_cast<double>(s1) / count) : n.cell_mean;
    const double mean = st.sub_mean;
    double ss = 0;  // about the mean as written
    for (int r = r0; r < r0 + g.subrows; ++r)
      for (int c = c0; c < c0 + g.subcols; ++c)
        if (pixel(r, c) != kMaskedPixel) ss += (pixel(r, c) - mean) * (pixel(r, c) - mean);
    if (count > 0) st.deviation = std::sqrt(ss / count);
    if (count * kMinUnmaskedDivisor >= sub_pixels && ss >= kMinVariancePerPixel * count)
      st.sub_scale = static_cast<float>(1.0 / std::sqrt(ss));
    n.subcells.push_back(st);
  }

  // Table: one entry per sub-cell-sized window. 49 x 49 windows of 256 pixels
  // at the usual geometry: a direct sum is fast enough and easy to check.
  const int tr = g.table_rows();
  const int tc = g.table_cols();
  n.table.assign(static_cast<size_t>(tr) * tc, 0.0f);
  for (int wr = 0; wr < tr; ++wr) {
    for (int wc = 0; wc < tc; ++wc) {
      int count = 0;
      int64_t s1 = 0;
      int64_t s2 = 0;
      for (int r = wr; r < wr + g.subrows; ++r)
        for (int c = wc; c < wc + g.subcols; ++c) {
          const int p = pixel(r, c);
          if (p == kMaskedPixel) continue;
          ++count;
          s1 += p;
          s2 += int64_t{p} * p;
        }
      float& entry = n.table[static_cast<size_t>(wr) * tc + wc];
      if (count * kMinUnmaskedDivisor < sub_pixels) continue;
      const double m = static_cast<double>(s1) / count;
      // Sum of squared deviations from the window's own mean, from exact sums.
      const double own = static_cast<double>(s2) - static_cast<double>(s1) * m;
      if (own < kMinVariancePerPixel * count) continue;
      const int masked = sub_pixels - count;
      const double d2 = own + masked * (m - cell_mean) * (m - cell_mean);
      entry = static_cast<float>(1.0 / std::sqrt(d2));
    }
  }
  for (float e : n.table)
    if (e <= 0) ++n.zero_entries;
  return n;
}

}  // namespace velmora::dunmarra

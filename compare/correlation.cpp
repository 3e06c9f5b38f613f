// Scoring steps of one pair (see correlation.h).
//
// Precision: spectra, surfaces, peak values and the constellation arithmetic
// are 32-bit floats; the warp fit and the final correlation sums are 64-bit.
#include "compare/correlation.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

#include "compare/avx2_kernels.h"

namespace tarvik {
namespace {

constexpr std::uint8_t kMaskBit = 0x40;
constexpr std::uint8_t kMasked = 64;

bool allocate_spectrum(Vector<float>& v, const Fingerprint& fp, const char* purpose) {
  const long n = 2L * fp.rows * fp.cols;
  return v.allocate(1, n, purpose);
}

}  // namespace

bool make_cell_spectrum(Fingerprint& fp, FourierPlan& plan) {
  if (!allocate_spectrum(fp.cell_spectrum, fp, "cell_spectrum")) return false;
  float* out = fp.cell_spectrum.data();
  for (int r = 1; r <= fp.rows; ++r) {
    const std::uint8_t* px = fp.image.row(r);
    for (int c = 0; c < fp.cols; ++c, out += 2) {
      if (!(px[c] & kMaskBit)) out[0] = static_cast<float>(px[c]) - fp.cell_mean;
    }
  }
  plan.transform_to_planes(fp.cell_spectrum.data(), +1, fp.cell_spectrum.data());
  return true;
}

bool make_subcell_spectrum(Fingerprint& fp, FourierPlan& plan) {
  if (!allocate_spectrum(fp.subcell_spectrum, fp, "subcell_spectrum")) return false;
  float* data = fp.subcell_spectrum.data();
  for (int r = fp.row_origin; r < fp.row_origin + fp.subrows; ++r) {
    const std::uint8_t* px = fp.image.row(r);
    float* out = data + 2 * (static_cast<std::size_t>(r - 1) * fp.cols);
    for (int c = fp.col_origin; c < fp.col_origin + fp.subcols; ++c) {
      const std::uint8_t v = px[c - 1];
      if (!(v & kMaskBit)) {
        out[2 * (c - 1)] = (static_cast<float>(v) - fp.sub_mean) * fp.sub_scale;
      }
    }
  }
  plan.transform_to_planes(data, +1, data);
  return true;
}

namespace {

// out[j] = w[j] (src[j] scale) where the weight is positive, else 0.
void weigh_row(float* out, const float* w, const float* src, float scale, long n) {
  for (long j = 0; j < n; ++j) out[j] = w[j] > 0 ? w[j] * (src[j] * scale) : 0.0f;
}

}  // namespace

void fill_surface(const Fingerprint& sub, const Fingerprint& second, FourierPlan& plan,
                  Matrix<float>& surface, const float* next_spectrum) {
  const int reach_r = static_cast<int>(surface.row_hi());
  const int reach_c = static_cast<int>(surface.col_hi());
  const int rows = second.rows;
  // shifted.re[u * stride + reach_c + j]: correlation at row position u, column shift j.
  const FourierPlan::ShiftRows shifted = plan.inverse_real_at_shifts(
      sub.subcell_spectrum.data(), second.cell_spectrum.data(), reach_c, next_spectrum, reach_r);
  const float scale = static_cast<float>(1.0 / (static_cast<double>(rows) * second.cols));
  const Matrix<float>& table = second.norm_table;
  // Columns of the table the shifted windows may use; outside them the
  // weight counts as 0, so that no geometry reads beyond the table.
  const long first_j = std::max<long>(-reach_c, table.col_lo() - sub.col_origin);
  const long last_j = std::min<long>(reach_c, table.col_hi() - sub.col_origin);
  const bool use_avx2 = plan.path() == VectorPath::kAvx2;
  for (int i = -reach_r; i <= reach_r; ++i) {
    float* out = surface.row(i) + reach_c;  // out[j] is shift (i, j)
    std::fill(out - reach_c, out + reach_c + 1, 0.0f);
    const long tr = static_cast<long>(sub.row_origin) + i;
    if (tr < table.row_lo() || tr > table.row_hi()) continue;
    const float* w = table.row(tr) + (sub.col_origin - table.col_lo());  // w[j]: window at shift j
    const float* src = shifted.re +
                       static_cast<std::size_t>(((-i) % rows + rows) % rows) * shifted.stride +
                       reach_c;
    if (first_j > last_j) continue;
    const long n = last_j - first_j + 1;
    if (use_avx2) {
      avx2::weigh_row(out + first_j, w + first_j, src + first_j, scale, n);
    } else {
      weigh_row(out + first_j, w + first_j, src + first_j, scale, n);
    }
  }
}

void list_peaks(const Matrix<float>& surface, PeakList& list, int sorted, VectorPath path) {
  list.count = 0;
  const long reach_r = surface.row_hi(), reach_c = surface.col_hi();
  const long n = 2 * reach_c + 1;
  // Peaks are rare: the eight comparisons of a whole row are made without
  // branching, into one bit per position, and only the set bits are
  // visited. The bits are scratch kept between calls: this runs four times
  // a pair.
  thread_local std::vector<unsigned> bits;
  const std::size_t words = static_cast<std::size_t>((n + 31) / 32);
  if (bits.size() < words) bits.resize(words);
  const bool use_avx2 = path == VectorPath::kAvx2 && avx2::supported() && n >= 10;
  for (long i = -reach_r + 1; i <= reach_r - 1 && list.count < kMaxPeaks; ++i) {
    const float* up = surface.row(i - 1);
    const float* mid = surface.row(i);
    const float* down = surface.row(i + 1);
    if (use_avx2) {
      avx2::peak_bits(up, mid, down, n, bits.data());
    } else {
      std::fill(bits.begin(), bits.begin() + static_cast<std::ptrdiff_t>(words), 0u);
      for (long j = 1; j < n - 1; ++j) {
        const float v = mid[j];
        const unsigned peak = (v > mid[j - 1]) & (v > mid[j + 1]) & (v > up[j - 1]) & (v > up[j]) &
                              (v > up[j + 1]) & (v > down[j - 1]) & (v > down[j]) &
                              (v > down[j + 1]);
        bits[j / 32] |= peak << (j % 32);
      }
    }
    for (std::size_t w = 0; w < words && list.count < kMaxPeaks; ++w) {
      for (unsigned b = bits[w]; b != 0 && list.count < kMaxPeaks; b &= b - 1) {
        const long j = static_cast<long>(32 * w) + std::countr_zero(b);
        list.entries[list.count++] =
            Peak{mid[j], static_cast<int>(j - reach_c), static_cast<int>(i)};
      }
    }
  }
  // A list cut at its capacity is sorted too: the search takes the first P
  // entries as the highest ones. Equal values keep scan order (rows, then
  // columns, ascending), which makes the order total: sorting only the
  // first `sorted` entries gives them exactly as a stable sort of all would.
  // (A peak's value is never NaN: NaN is above no neighbour.)
  const auto before = [](const Peak& x, const Peak& y) {
    if (x.value != y.value) return x.value > y.value;
    if (x.row_shift != y.row_shift) return x.row_shift < y.row_shift;
    return x.col_shift < y.col_shift;
  };
  Peak* const first = list.entries;
  if (sorted >= list.count) {
    std::sort(first, first + list.count, before);
  } else if (sorted > 0) {
    std::partial_sort(first, first + sorted, first + list.count, before);
  }
}

SearchResult search_constellations(const PeakList lists[kSubCells], const ShiftModel& rm,
                                   const ShiftModel& cm, const float row_tol[4],
                                   const float col_tol[4], int peaks_per_subcell) {
  SearchResult result;
  int n[kSubCells];
  for (int k = 0; k < kSubCells; ++k) n[k] = std::min(peaks_per_subcell, lists[k].count);
  float best_mean = kNoScore;
  float best_dev = FLT_MAX;
  const Peak* l0 = lists[0].entries;
  const Peak* l1 = lists[1].entries;
  const Peak* l2 = lists[2].entries;
  const Peak* l3 = lists[3].entries;
  for (int p0 = 0; p0 < n[0]; ++p0) {
    const int r0 = l0[p0].row_shift, c0 = l0[p0].col_shift;
    const float dr0 = std::fabs(static_cast<float>(r0));
    const float dc0 = std::fabs(static_cast<float>(c0));
    if (!(dr0 < row_tol[0] && dc0 < col_tol[0])) continue;
    for (int p1 = 0; p1 < n[1]; ++p1) {
      const int r1 = l1[p1].row_shift, c1 = l1[p1].col_shift;
      const float dr1 = std::fabs(rm.a[0] + rm.a[1] * r0 - r1);
      const float dc1 = std::fabs(cm.a[0] + cm.a[1] * c0 - c1);
      if (!(dr1 < row_tol[1] && dc1 < col_tol[1])) continue;
      for (int p2 = 0; p2 < n[2]; ++p2) {
        const int r2 = l2[p2].row_shift, c2 = l2[p2].col_shift;
        const float dr2 = std::fabs(rm.b[0] + rm.b[1] * r0 + rm.b[2] * r1 - r2);
        const float dc2 = std::fabs(cm.b[0] + cm.b[1] * c0 + cm.b[2] * c1 - c2);
        if (!(dr2 < row_tol[2] && dc2 < col_tol[2])) continue;
        for (int p3 = 0; p3 < n[3]; ++p3) {
          const int r3 = l3[p3].row_shift, c3 = l3[p3].col_shift;
          const float dr3 = std::fabs(rm.c[0] + rm.c[1] * r0 + rm.c[2] * r1 + rm.c[3] * r2 - r3);
          const float dc3 = std::fabs(cm.c[0] + cm.c[1] * c0 + cm.c[2] * c1 + cm.c[3] * c2 - c3);
          if (!(dr3 < row_tol[3] && dc3 < col_tol[3])) continue;
          const float mean = 0.25f * (l3[p3].value + l0[p0].value + l1[p1].value + l2[p2].value);
          const float dev = (dr3 + dc3) + (dr0 + dc0) + (dr1 + dc1) + (dr2 + dc2);
          auto store = [&](Candidate& slot) {
            slot.mean = mean;
            slot.dev = dev;
            const Peak* chosen[kSubCells] = {&l0[p0], &l1[p1], &l2[p2], &l3[p3]};
            for (int k = 0; k < kSubCells; ++k) {
              slot.peak[k] = chosen[k]->value;
              slot.col_shift[k] = chosen[k]->col_shift;
              slot.row_shift[k] = chosen[k]->row_shift;
            }
          };
          if (mean > best_mean) {
            store(result.a);
            result.a_filled = true;
            best_mean = mean;
            if (dev < best_dev) {
              result.b = result.a;
              best_dev = dev;
              result.count = 1;
            } else {
              result.count = 2;
            }
          } else if (dev < best_dev) {
            store(result.b);
            best_dev = dev;
            result.count = 2;
          }
        }
      }
    }
  }
  return result;
}

bool lu_decompose4(double a[4][4], int perm[4]) {
  double scale[4];
  for (int i = 0; i < 4; ++i) {
    double big = 0;
    for (int j = 0; j < 4; ++j) big = std::max(big, std::fabs(a[i][j]));
    if (!(big > 1e-30)) return false;
    scale[i] = big;
    perm[i] = i;
  }
  for (int j = 0; j < 4; ++j) {
    int p = j;
    double best = std::fabs(a[j][j]) / scale[j];
    for (int i = j + 1; i < 4; ++i) {
      const double merit = std::fabs(a[i][j]) / scale[i];
      if (merit > best) {
        best = merit;
        p = i;
      }
    }
    if (p != j) {
      for (int k = 0; k < 4; ++k) std::swap(a[p][k], a[j][k]);
      std::swap(scale[p], scale[j]);
      std::swap(perm[p], perm[j]);
    }
    if (!(std::fabs(a[j][j]) > 1e-30)) return false;
    for (int i = j + 1; i < 4; ++i) {
      a[i][j] /= a[j][j];
      for (int k = j + 1; k < 4; ++k) a[i][k] -= a[i][j] * a[j][k];
    }
  }
  return true;
}

void lu_solve4(const double lu[4][4], const int perm[4], double b[4]) {
  double y[4];
  for (int i = 0; i < 4; ++i) {
    double s = b[perm[i]];
    for (int k = 0; k < i; ++k) s -= lu[i][k] * y[k];
    y[i] = s;
  }
  for (int i = 3; i >= 0; --i) {
    double s = y[i];
    for (int k = i + 1; k < 4; ++k) s -= lu[i][k] * b[k];
    b[i] = s / lu[i][i];
  }
}

double warp_correlation(const std::uint8_t* x, const std::uint8_t* y, int rows, int cols,
                        const int row_shift[4], const int col_shift[4], double percentage,
                        int margin, bool* singular, VectorPath path) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  if (singular != nullptr) *singular = false;
  const int qr1 = rows / 4 + 1, qr3 = (3 * rows) / 4;
  const int qc1 = cols / 4 + 1, qc3 = (3 * cols) / 4;
  const double er = percentage * rows * 0.01;
  const double ec = percentage * cols * 0.01;
  const double pr[4] = {qr1 - er, qr1 - er, qr3 + er, qr3 + er};
  const double pc[4] = {qc1 - ec, qc3 + ec, qc1 - ec, qc3 + ec};
  double lu[4][4];
  for (int k = 0; k < 4; ++k) {
    lu[k][0] = 1;
    lu[k][1] = pr[k];
    lu[k][2] = pc[k];
    lu[k][3] = pr[k] * pc[k];
  }
  int perm[4];
  if (!lu_decompose4(lu, perm)) {
    if (singular != nullptr) *singular = true;
    return kNaN;
  }
  double g[4], h[4];
  for (int k = 0; k < 4; ++k) {
    g[k] = pr[k] + row_shift[k];
    h[k] = pc[k] + col_shift[k];
  }
  lu_solve4(lu, perm, g);
  lu_solve4(lu, perm, h);

  // Beyond a quarter the region would leave the image; below minus the size
  // it is empty anyway, and the loop bounds must not overflow.
  const int mr = std::clamp(margin, -rows, rows / 4);
  const int mc = std::clamp(margin, -cols, cols / 4);
  long n = 0;
  double sx = 0, sxx = 0, sy = 0, syy = 0, sxy = 0;
  int x_lo = 256, x_hi = -1, y_lo = 256, y_hi = -1;
  // Pixels are summed in scan order whichever path samples them: the sums
  // are rounded at every step.
  const auto count = [&](int xv, double yv, int lo, int hi) {
    ++n;
    sx += xv;
    sxx += static_cast<double>(xv) * xv;
    sy += yv;
    syy += yv * yv;
    sxy += xv * yv;
    x_lo = std::min(x_lo, xv);
    x_hi = std::max(x_hi, xv);
    y_lo = std::min(y_lo, lo);
    y_hi = std::max(y_hi, hi);
  };
  const bool use_avx2 = path == VectorPath::kAvx2 && avx2::supported();
  thread_local std::vector<int> xs, lows, highs;
  thread_local std::vector<double> ys;
  if (use_avx2 && xs.size() < static_cast<std::size_t>(cols)) {
    xs.resize(cols);
    lows.resize(cols);
    highs.resize(cols);
    ys.resize(cols);
  }
  const int c_first = cols / 4 + 1 - mc, c_last = (3 * cols) / 4 + mc;
  for (int r = rows / 4 + 1 - mr; r <= (3 * rows) / 4 + mr; ++r) {
    const std::uint8_t* xrow = x + static_cast<std::size_t>(r - 1) * cols;
    int c = c_first;
    if (use_avx2) {
      const int found = avx2::warp_row(xrow, y, rows, cols, r, c_first, c_last, g, h, xs.data(),
                                       ys.data(), lows.data(), highs.data(), &c);
      for (int k = 0; k < found; ++k) count(xs[k], ys[k], lows[k], highs[k]);
    }
    for (; c <= c_last; ++c) {
      const int xv = xrow[c - 1];
      if (xv == kMasked) continue;
      // Range tests on the reals first: truncating a value outside int is
      // undefined, and a wild fit may give one.
      const double d = g[0] + g[1] * r + g[2] * c + g[3] * r * c;
      if (!(d >= 1.0 && d < rows)) continue;
      const int i0 = static_cast<int>(d);
      const double fr = d - i0;
      const double e = h[0] + h[1] * r + h[2] * c + h[3] * r * c;
      if (!(e >= 1.0 && e < cols)) continue;
      const int j0 = static_cast<int>(e);
      const double fc = e - j0;
      double sw = 0, sv = 0;
      int lo = 256, hi = -1;
      for (int di = 0; di <= 1; ++di) {
        const std::uint8_t* yrow = y + static_cast<std::size_t>(i0 - 1 + di) * cols;
        for (int dj = 0; dj <= 1; ++dj) {
          const int v = yrow[j0 - 1 + dj];
          if (v == kMasked) continue;
          const double w = (di ? fr : 1 - fr) * (dj ? fc : 1 - fc);
          sw += w;
          sv += w * v;
          if (w > 0) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
          }
        }
      }
      if (!(sw >= 0.5)) continue;
      count(xv, sv / sw, lo, hi);
    }
  }
  // No pair, or a side that is constant (its interpolated values may differ
  // by rounding alone), gives no number rather than 0/0 or noise over 0.
  if (n == 0 || x_lo == x_hi || y_lo == y_hi) return kNaN;
  const double vx = sxx - sx * sx / n;
  const double vy = syy - sy * sy / n;
  if (!(vx > 0 && vy > 0)) return kNaN;
  return (sxy - sx * sy / n) / std::sqrt(vx * vy);
}

}  // namespace tarvik

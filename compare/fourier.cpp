// FourierPlan: tabulated twiddles and the planar butterflies (see fourier.h).
//
// A 2-D transform is two passes of 1-D transforms. lines_pass transforms the
// columns of a plane of n lines: it reorders whole lines and combines line a
// with line b element by element, so its inner loop runs over contiguous
// floats. The pass along the columns of the array (the first one) therefore
// runs on the transposed array, and the pass along the rows on the array
// itself; for the correlation surfaces the second pass is given only the
// columns that are read afterwards.
#include "compare/fourier.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "compare/avx2_kernels.h"

namespace tarvik {
namespace {

// Rows handled together when transposing.
constexpr int kBand = 8;

// All butterflies of one stage between lines a and b, elements [0, width).
inline void butterfly_lines(float* __restrict ar, float* __restrict ai, float* __restrict br,
                            float* __restrict bi, float wr, float wi, int width) {
  for (int c = 0; c < width; ++c) {
    const float tr = wr * br[c] - wi * bi[c];
    const float ti = wr * bi[c] + wi * br[c];
    br[c] = ar[c] - tr;
    bi[c] = ai[c] - ti;
    ar[c] = ar[c] + tr;
    ai[c] = ai[c] + ti;
  }
}

}  // namespace

FourierPlan::Axis::Axis(int size) : n(size), reversed(size) {
  for (int i = 0, j = 0; i < n; ++i) {
    reversed[i] = j;
    if (i < j) {
      swaps.push_back(i);
      swaps.push_back(j);
    }
    int bit = n >> 1;
    while (bit >= 1 && (j & bit)) {
      j ^= bit;
      bit >>= 1;
    }
    j |= bit;
  }
  for (int d = 0; d < 2; ++d) {
    const double isign = d == 0 ? 1.0 : -1.0;
    wr[d].resize(n > 1 ? n - 1 : 0);
    wi[d].resize(n > 1 ? n - 1 : 0);
    for (int h = 1; h < n; h *= 2) {
      const double theta = isign * (2.0 * std::numbers::pi) / (2 * h);
      const double wtemp = std::sin(0.5 * theta);
      const double wpr = -2.0 * wtemp * wtemp;
      const double wpi = std::sin(theta);
      double w_re = 1.0, w_im = 0.0;
      for (int k = 0; k < h; ++k) {
        wr[d][h - 1 + k] = static_cast<float>(w_re);
        wi[d][h - 1 + k] = static_cast<float>(w_im);
        const double t = w_re;
        w_re = t * wpr - w_im * wpi + w_re;
        w_im = w_im * wpr + t * wpi + w_im;
      }
    }
  }
}

namespace {

template <class Axis>
avx2::AxisView view(const Axis& axis, int dir) {
  return {axis.n, axis.reversed.data(), axis.wr[dir].data(), axis.wi[dir].data()};
}

// 1-D transforms along the line index of planes of axis.n lines of `width`
// floats (line stride `width`), one transform per element position.
template <class Axis>
void lines_pass(float* re, float* im, const Axis& axis, int dir, int width, bool use_avx2) {
  auto line = [width](float* p, int i) { return p + static_cast<std::size_t>(i) * width; };
  for (std::size_t s = 0; s < axis.swaps.size(); s += 2) {
    const int a = axis.swaps[s], b = axis.swaps[s + 1];
    std::swap_ranges(line(re, a), line(re, a) + width, line(re, b));
    std::swap_ranges(line(im, a), line(im, a) + width, line(im, b));
  }
  if (use_avx2 && width % 8 == 0) {
    avx2::butterfly_stages(re, im, view(axis, dir), width);
    return;
  }
  const float* wr_all = axis.wr[dir].data();
  const float* wi_all = axis.wi[dir].data();
  for (int h = 1; h < axis.n; h *= 2) {
    for (int g = 0; g < axis.n; g += 2 * h) {
      for (int k = 0; k < h; ++k) {
        const int a = g + k, b = g + k + h;
        butterfly_lines(line(re, a), line(im, a), line(re, b), line(im, b), wr_all[h - 1 + k],
                        wi_all[h - 1 + k], width);
      }
    }
  }
}

}  // namespace

FourierPlan::FourierPlan(int rows, int cols, VectorPath path)
    : rows_(rows),
      cols_(cols),
      // The AVX2 kernels work on blocks of 8 x 8 elements.
      avx2_(path == VectorPath::kAvx2 && avx2::supported() && rows % 8 == 0 && cols % 8 == 0),
      re_(static_cast<std::size_t>(rows) * cols),
      im_(re_.size()),
      tre_(re_.size()),
      tim_(re_.size()) {}

void FourierPlan::both_passes(const float* data, int dir) {
  const int rows = rows_.n, cols = cols_.n;
  for (int r = 0; r < rows; ++r) {
    const float* in = data + 2 * static_cast<std::size_t>(r) * cols;
    for (int c = 0; c < cols; ++c) {
      tre_[static_cast<std::size_t>(c) * rows + r] = in[2 * c];
      tim_[static_cast<std::size_t>(c) * rows + r] = in[2 * c + 1];
    }
  }
  lines_pass(tre_.data(), tim_.data(), cols_, dir, rows, avx2_);
  for (int c = 0; c < cols; ++c) {
    for (int r = 0; r < rows; ++r) {
      re_[static_cast<std::size_t>(r) * cols + c] = tre_[static_cast<std::size_t>(c) * rows + r];
      im_[static_cast<std::size_t>(r) * cols + c] = tim_[static_cast<std::size_t>(c) * rows + r];
    }
  }
  lines_pass(re_.data(), im_.data(), rows_, dir, cols, avx2_);
}

float FourierPlan::output_scale(int dir) const {
  // Direction +1 is not scaled; 1 / (rows * cols) is a power of two, so
  // multiplying by it is exact either way.
  return dir == 0 ? 1.0f : static_cast<float>(1.0 / (static_cast<double>(rows_.n) * cols_.n));
}

void FourierPlan::transform(float* data, int isign) {
  const int dir = isign >= 0 ? 0 : 1;
  both_passes(data, dir);
  const std::size_t count = re_.size();
  if (dir == 0) {
    for (std::size_t i = 0; i < count; ++i) {
      data[2 * i] = re_[i];
      data[2 * i + 1] = im_[i];
    }
  } else {
    const float scale = output_scale(dir);
    for (std::size_t i = 0; i < count; ++i) {
      data[2 * i] = re_[i] * scale;
      data[2 * i + 1] = im_[i] * scale;
    }
  }
}

void FourierPlan::transform_to_planes(const float* data, int isign, float* planes) {
  const int dir = isign >= 0 ? 0 : 1;
  both_passes(data, dir);
  const int rows = rows_.n, cols = cols_.n;
  float* out_re = planes;
  float* out_im = planes + re_.size();
  if (dir == 0) {
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) {
        const std::size_t from = static_cast<std::size_t>(r) * cols + c;
        const std::size_t to = static_cast<std::size_t>(c) * rows + r;
        out_re[to] = re_[from];
        out_im[to] = im_[from];
      }
    }
  } else {
    const float scale = output_scale(dir);
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) {
        const std::size_t from = static_cast<std::size_t>(r) * cols + c;
        const std::size_t to = static_cast<std::size_t>(c) * rows + r;
        out_re[to] = re_[from] * scale;
        out_im[to] = im_[from] * scale;
      }
    }
  }
}

FourierPlan::ShiftRows FourierPlan::inverse_real_at_shifts(const float* s, const float* t,
                                                           int col_reach, const float* next_s,
                                                           int row_reach) {
  const int rows = rows_.n, cols = cols_.n;
  if (col_reach < 0) col_reach = 0;
  const int width = 2 * col_reach + 1;
  // Lines padded to whole vectors; the padding is kept at zero.
  const int stride = (width + 7) & ~7;
  const std::size_t out_size = static_cast<std::size_t>(rows) * stride;
  if (ore_.size() != out_size) {
    ore_.assign(out_size, 0.0f);
    oim_.assign(out_size, 0.0f);
  }
  const std::size_t count = re_.size();
  if (avx2_) {
    if (column_of_.size() != static_cast<std::size_t>(stride) || column_reach_ != col_reach) {
      column_of_.assign(stride, -1);
      column_needed_.assign(cols, 0);
      for (int k = 0; k < width; ++k) {
        column_of_[k] = ((col_reach - k) % cols + cols) % cols;
        column_needed_[column_of_[k]] = 1;
      }
      column_reach_ = col_reach;
    }
    if (row_reach < 0) row_reach = 0;
    if (row_needed_.empty() || needed_row_reach_ != row_reach) {
      row_needed_.assign(rows, 0);
      for (int u = 0; u < rows; ++u) row_needed_[u] = u <= row_reach || u >= rows - row_reach;
      needed_row_reach_ = row_reach;
    }
    // The transposed planes serve as the band of rows.
    avx2::inverse_at_shifts(s, s + count, t, t + count, next_s, view(rows_, 1), view(cols_, 1),
                            column_of_.data(), column_needed_.data(), row_needed_.data(), stride,
                            tre_.data(), tim_.data(), ore_.data(), oim_.data());
    return ShiftRows{ore_.data(), stride};
  }
  // Line c of the first pass is column c of the spectra: the planes are
  // read straight through.
  const float* sr = s;
  const float* si = s + count;
  const float* tr = t;
  const float* ti = t + count;
  for (std::size_t i = 0; i < count; ++i) {
    tre_[i] = sr[i] * tr[i] + si[i] * ti[i];
    tim_[i] = si[i] * tr[i] - sr[i] * ti[i];
  }
  lines_pass(tre_.data(), tim_.data(), cols_, 1, rows, false);
  for (int r0 = 0; r0 < rows; r0 += kBand) {
    const int r1 = std::min(rows, r0 + kBand);
    for (int k = 0; k < width; ++k) {
      const int j = k - col_reach;
      const int c = ((-j) % cols + cols) % cols;
      const float* from_re = tre_.data() + static_cast<std::size_t>(c) * rows;
      const float* from_im = tim_.data() + static_cast<std::size_t>(c) * rows;
      for (int r = r0; r < r1; ++r) {
        ore_[static_cast<std::size_t>(r) * stride + k] = from_re[r];
        oim_[static_cast<std::size_t>(r) * stride + k] = from_im[r];
      }
    }
    for (int r = r0; r < r1; ++r) {
      std::fill(ore_.begin() + static_cast<std::ptrdiff_t>(r) * stride + width,
                ore_.begin() + static_cast<std::ptrdiff_t>(r + 1) * stride, 0.0f);
      std::fill(oim_.begin() + static_cast<std::ptrdiff_t>(r) * stride + width,
                oim_.begin() + static_cast<std::ptrdiff_t>(r + 1) * stride, 0.0f);
    }
  }
  lines_pass(ore_.data(), oim_.data(), rows_, 1, stride, false);
  return ShiftRows{ore_.data(), stride};
}

void fourier_2d(float* data, int rows, int cols, int isign) {
  FourierPlan plan(rows, cols);
  plan.transform(data, isign);
}

}  // namespace tarvik

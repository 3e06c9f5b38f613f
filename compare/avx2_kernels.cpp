// AVX2 kernels of the comparison pass (see avx2_kernels.h).
//
// Only the functions marked kAvx2 use AVX2 instructions; the file is built
// for the baseline processor, so nothing here runs on a processor without
// AVX2 unless supported() said yes. Nothing from a library header is
// instantiated in an AVX2 function: an inline function compiled for AVX2
// could otherwise be merged with, and replace, the baseline one.
//
// Butterflies of two successive stages (half-spans h and 2h) are done on
// four lines at once while they are in registers: stage h pairs (L0, L1)
// and (L2, L3), stage 2h then pairs (L0, L2) and (L1, L3). Every element
// still goes through the same butterflies in the same order; only the loads
// and stores between the two stages are saved.
#include "compare/avx2_kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TARVIK_AVX2 __attribute__((target("avx2")))
#define TARVIK_HAVE_AVX2 1
#endif

namespace tarvik::avx2 {

#ifdef TARVIK_HAVE_AVX2

namespace {

struct Complex8 {
  __m256 re, im;
};

TARVIK_AVX2 inline Complex8 load(const float* re, const float* im) {
  return {_mm256_loadu_ps(re), _mm256_loadu_ps(im)};
}

TARVIK_AVX2 inline void store(float* re, float* im, Complex8 v) {
  _mm256_storeu_ps(re, v.re);
  _mm256_storeu_ps(im, v.im);
}

// t = w b with the baseline's operations: (wr br - wi bi, wr bi + wi br).
TARVIK_AVX2 inline Complex8 twiddled(const Complex8& b, __m256 wr, __m256 wi) {
  return {_mm256_sub_ps(_mm256_mul_ps(wr, b.re), _mm256_mul_ps(wi, b.im)),
          _mm256_add_ps(_mm256_mul_ps(wr, b.im), _mm256_mul_ps(wi, b.re))};
}
TARVIK_AVX2 inline Complex8 plus(const Complex8& a, const Complex8& t) {
  return {_mm256_add_ps(a.re, t.re), _mm256_add_ps(a.im, t.im)};
}
TARVIK_AVX2 inline Complex8 minus(const Complex8& a, const Complex8& t) {
  return {_mm256_sub_ps(a.re, t.re), _mm256_sub_ps(a.im, t.im)};
}

// a, b <- a + t, a - t with t = w b.
TARVIK_AVX2 inline void butterfly(Complex8& a, Complex8& b, __m256 wr, __m256 wi) {
  const Complex8 t = twiddled(b, wr, wi);
  b = minus(a, t);
  a = plus(a, t);
}

// kWidth > 0 fixes the line width at compile time (the bands), so that the
// loop over a line's vectors unrolls; 0 takes `width`.
template <int kWidth>
TARVIK_AVX2 void single_stage(float* re, float* im, const AxisView& axis, int any_width, int h) {
  const int width = kWidth > 0 ? kWidth : any_width;
  for (int g = 0; g < axis.n; g += 2 * h) {
    for (int k = 0; k < h; ++k) {
      const __m256 wr = _mm256_set1_ps(axis.wr[h - 1 + k]);
      const __m256 wi = _mm256_set1_ps(axis.wi[h - 1 + k]);
      float* ar = re + (g + k) * width;
      float* ai = im + (g + k) * width;
      float* br = re + (g + k + h) * width;
      float* bi = im + (g + k + h) * width;
      for (int c = 0; c < width; c += 8) {
        Complex8 a = load(ar + c, ai + c), b = load(br + c, bi + c);
        butterfly(a, b, wr, wi);
        store(ar + c, ai + c, a);
        store(br + c, bi + c, b);
      }
    }
  }
}

// Stages h and 2h of the lines g0, g0 + h, g0 + 2h, g0 + 3h, while they are
// in registers: stage h pairs (L0, L1) and (L2, L3), stage 2h then (L0, L2)
// and (L1, L3). With kPruned, only the outputs marked in `needed` are
// computed to the end and stored (each as in the full stages).
template <int kWidth, bool kPruned>
TARVIK_AVX2 void stage_pair(float* re, float* im, const AxisView& axis, int any_width, int h, int g,
                            int k, const unsigned char* needed) {
  const int width = kWidth > 0 ? kWidth : any_width;
  const int g0 = g + k;
  const bool n0 = !kPruned || needed[g0], n1 = !kPruned || needed[g0 + h];
  const bool n2 = !kPruned || needed[g0 + 2 * h], n3 = !kPruned || needed[g0 + 3 * h];
  if (!(n0 || n1 || n2 || n3)) return;
  const __m256 w1r = _mm256_set1_ps(axis.wr[h - 1 + k]);
  const __m256 w1i = _mm256_set1_ps(axis.wi[h - 1 + k]);
  const __m256 w2r = _mm256_set1_ps(axis.wr[2 * h - 1 + k]);
  const __m256 w2i = _mm256_set1_ps(axis.wi[2 * h - 1 + k]);
  const __m256 w3r = _mm256_set1_ps(axis.wr[2 * h - 1 + k + h]);
  const __m256 w3i = _mm256_set1_ps(axis.wi[2 * h - 1 + k + h]);
  const int line0 = g0 * width, step = h * width;
  for (int c = 0; c < width; c += 8) {
    const int p0 = line0 + c, p1 = p0 + step, p2 = p1 + step, p3 = p2 + step;
    Complex8 l0 = load(re + p0, im + p0), l1 = load(re + p1, im + p1);
    Complex8 l2 = load(re + p2, im + p2), l3 = load(re + p3, im + p3);
    butterfly(l0, l1, w1r, w1i);
    butterfly(l2, l3, w1r, w1i);
    if (n0 || n2) {
      const Complex8 t = twiddled(l2, w2r, w2i);
      if (n0) store(re + p0, im + p0, plus(l0, t));
      if (n2) store(re + p2, im + p2, minus(l0, t));
    }
    if (n1 || n3) {
      const Complex8 t = twiddled(l3, w3r, w3i);
      if (n1) store(re + p1, im + p1, plus(l1, t));
      if (n3) store(re + p3, im + p3, minus(l1, t));
    }
  }
}

// needed (may be null: every line) marks the output lines that are read
// afterwards; only they are stored. It is given for the last stages only,
// whose outputs are final.
template <int kWidth>
TARVIK_AVX2 void double_stage(float* re, float* im, const AxisView& axis, int width, int h,
                              const unsigned char* needed) {
  for (int g = 0; g < axis.n; g += 4 * h) {
    for (int k = 0; k < h; ++k) {
      if (needed != nullptr) {
        stage_pair<kWidth, true>(re, im, axis, width, h, g, k, needed);
      } else {
        stage_pair<kWidth, false>(re, im, axis, width, h, g, k, nullptr);
      }
    }
  }
}

// needed: as double_stage's, for the final outputs; honoured when the last
// stages are a double one (the sizes the comparison uses), else every line
// is computed.
template <int kWidth = 0>
TARVIK_AVX2 void stages(float* re, float* im, const AxisView& axis, int width = kWidth,
                        const unsigned char* needed = nullptr) {
  int h = 1;
  for (; 4 * h <= axis.n; h *= 4) {
    double_stage<kWidth>(re, im, axis, width, h, 4 * h == axis.n ? needed : nullptr);
  }
  if (2 * h <= axis.n) single_stage<kWidth>(re, im, axis, width, h);
}

// Rows of v become its columns.
TARVIK_AVX2 inline void transpose8(__m256 v[8]) {
  const __m256 t0 = _mm256_unpacklo_ps(v[0], v[1]), t1 = _mm256_unpackhi_ps(v[0], v[1]);
  const __m256 t2 = _mm256_unpacklo_ps(v[2], v[3]), t3 = _mm256_unpackhi_ps(v[2], v[3]);
  const __m256 t4 = _mm256_unpacklo_ps(v[4], v[5]), t5 = _mm256_unpackhi_ps(v[4], v[5]);
  const __m256 t6 = _mm256_unpacklo_ps(v[6], v[7]), t7 = _mm256_unpackhi_ps(v[6], v[7]);
  const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
  const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
  const __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
  const __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
  v[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
  v[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
  v[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
  v[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
  v[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
  v[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
  v[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
  v[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}

// s x conj(t) of the `band` rows from r0, every column: line reversed[c] of
// the band (band floats per plane) gets column c of those rows. The spectra
// are planar and column-major, so each line is read straight from them.
TARVIK_AVX2 void product_into_band(const float* s_re, const float* s_im, const float* t_re,
                                   const float* t_im, const float* next_re, const float* next_im,
                                   int r0, int band, const AxisView& rows, const AxisView& cols,
                                   float* band_re, float* band_im) {
  for (int c = 0; c < cols.n; ++c) {
    const long at = static_cast<long>(c) * rows.n + r0;
    // s is a sub-cell spectrum of a batch member, one of hundreds, so it
    // comes from a far cache: ask early for the next band's part, and for
    // this band's part of the spectrum the next call will read.
    _mm_prefetch(reinterpret_cast<const char*>(s_re + at + band), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(s_im + at + band), _MM_HINT_T0);
    if (next_re != nullptr) {
      _mm_prefetch(reinterpret_cast<const char*>(next_re + at), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(next_im + at), _MM_HINT_T0);
    }
    float* to_re = band_re + band * cols.reversed[c];
    float* to_im = band_im + band * cols.reversed[c];
    for (int h = 0; h < band; h += 8) {
      const __m256 a = _mm256_loadu_ps(s_re + at + h), b = _mm256_loadu_ps(s_im + at + h);
      const __m256 x = _mm256_loadu_ps(t_re + at + h), y = _mm256_loadu_ps(t_im + at + h);
      _mm256_storeu_ps(to_re + h, _mm256_add_ps(_mm256_mul_ps(a, x), _mm256_mul_ps(b, y)));
      _mm256_storeu_ps(to_im + h, _mm256_sub_ps(_mm256_mul_ps(b, x), _mm256_mul_ps(a, y)));
    }
  }
}

// Columns k = 0 .. stride-1 of the band's rows in the output: the band's
// line column_of[k], or 0 where that is -1. Row r goes to line reversed[r],
// ready for the transforms along the rows.
TARVIK_AVX2 void band_into_output(const float* band_re, const float* band_im, int r0, int band,
                                  const AxisView& rows, const int* column_of, int stride,
                                  float* out_re, float* out_im) {
  for (int h = 0; h < band; h += 8) {
    for (int k0 = 0; k0 < stride; k0 += 8) {
      __m256 vr[8], vi[8];
      for (int j = 0; j < 8; ++j) {
        const int c = column_of[k0 + j];
        if (c >= 0) {
          vr[j] = _mm256_loadu_ps(band_re + band * c + h);
          vi[j] = _mm256_loadu_ps(band_im + band * c + h);
        } else {
          vr[j] = vi[j] = _mm256_setzero_ps();
        }
      }
      transpose8(vr);
      transpose8(vi);
      for (int i = 0; i < 8; ++i) {
        const long line = rows.reversed[r0 + h + i];
        _mm256_storeu_ps(out_re + line * stride + k0, vr[i]);
        _mm256_storeu_ps(out_im + line * stride + k0, vi[i]);
      }
    }
  }
}

}  // namespace

bool supported() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes;
}

TARVIK_AVX2 void butterfly_stages(float* re, float* im, const AxisView& axis, int width) {
  stages(re, im, axis, width);
}

TARVIK_AVX2 void inverse_at_shifts(const float* s_re, const float* s_im, const float* t_re,
                                   const float* t_im, const float* next_s, const AxisView& rows,
                                   const AxisView& cols, const int* column_of,
                                   const unsigned char* column_needed,
                                   const unsigned char* row_needed, int stride, float* band_re,
                                   float* band_im, float* out_re, float* out_im) {
  const float* next_re = next_s;
  const float* next_im = next_s == nullptr ? nullptr : next_s + (s_im - s_re);
  // Bands of 32 rows (two whole 64-byte cache lines of each column of the
  // spectra) were measured fastest; smaller ones when there are fewer rows.
  const int band = rows.n % 32 == 0 ? 32 : rows.n % 16 == 0 ? 16 : 8;
  for (int r0 = 0; r0 < rows.n; r0 += band) {
    product_into_band(s_re, s_im, t_re, t_im, next_re, next_im, r0, band, rows, cols, band_re,
                      band_im);
    // The transforms along the columns of these rows, side by side.
    if (band == 32) {
      stages<32>(band_re, band_im, cols, 32, column_needed);
    } else if (band == 16) {
      stages<16>(band_re, band_im, cols, 16, column_needed);
    } else {
      stages<8>(band_re, band_im, cols, 8, column_needed);
    }
    band_into_output(band_re, band_im, r0, band, rows, column_of, stride, out_re, out_im);
  }
  stages(out_re, out_im, rows, stride, row_needed);
}

TARVIK_AVX2 void peak_bits(const float* up, const float* mid, const float* down, long n,
                           unsigned* bits) {
  for (long w = 0; w < (n + 31) / 32; ++w) bits[w] = 0;
  // Whole vectors from position 1, the last one moved back to end at n-2:
  // positions tested twice get the same answer twice.
  for (long j = 1; j < n - 1; j += 8) {
    if (j + 8 > n - 1) j = n - 9;
    const __m256 v = _mm256_loadu_ps(mid + j);
    __m256 all = _mm256_cmp_ps(v, _mm256_loadu_ps(mid + j - 1), _CMP_GT_OQ);
    all = _mm256_and_ps(all, _mm256_cmp_ps(v, _mm256_loadu_ps(mid + j + 1), _CMP_GT_OQ));
    const float* const outer[2] = {up, down};
    for (const float* row : outer) {
      all = _mm256_and_ps(all, _mm256_cmp_ps(v, _mm256_loadu_ps(row + j - 1), _CMP_GT_OQ));
      all = _mm256_and_ps(all, _mm256_cmp_ps(v, _mm256_loadu_ps(row + j), _CMP_GT_OQ));
      all = _mm256_and_ps(all, _mm256_cmp_ps(v, _mm256_loadu_ps(row + j + 1), _CMP_GT_OQ));
    }
    const unsigned found = static_cast<unsigned>(_mm256_movemask_ps(all));
    bits[j / 32] |= found << (j % 32);
    if (j % 32 > 24) bits[j / 32 + 1] |= found >> (32 - j % 32);
  }
}

TARVIK_AVX2 void weigh_row(float* out, const float* w, const float* src, float scale, long n) {
  const __m256 scale8 = _mm256_set1_ps(scale);
  const __m256 zero = _mm256_setzero_ps();
  long j = 0;
  for (; j + 8 <= n; j += 8) {
    const __m256 weight = _mm256_loadu_ps(w + j);
    const __m256 value = _mm256_mul_ps(weight, _mm256_mul_ps(_mm256_loadu_ps(src + j), scale8));
    _mm256_storeu_ps(out + j, _mm256_and_ps(_mm256_cmp_ps(weight, zero, _CMP_GT_OQ), value));
  }
  for (; j < n; ++j) out[j] = w[j] > 0 ? w[j] * (src[j] * scale) : 0.0f;
}

namespace {

// Four lanes of a + b * r + c * col + (d * r) * col, in the baseline's order.
TARVIK_AVX2 inline __m256d bilinear(const double m[4], __m256d r, __m256d col) {
  const __m256d a = _mm256_add_pd(_mm256_set1_pd(m[0]), _mm256_mul_pd(_mm256_set1_pd(m[1]), r));
  const __m256d b = _mm256_add_pd(a, _mm256_mul_pd(_mm256_set1_pd(m[2]), col));
  return _mm256_add_pd(b, _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(m[3]), r), col));
}

// Lanes where lo <= v < hi (false for NaN).
TARVIK_AVX2 inline __m256d inside(__m256d v, double lo, double hi) {
  return _mm256_and_pd(_mm256_cmp_pd(v, _mm256_set1_pd(lo), _CMP_GE_OQ),
                       _mm256_cmp_pd(v, _mm256_set1_pd(hi), _CMP_LT_OQ));
}

}  // namespace

TARVIK_AVX2 int warp_row(const unsigned char* x_row, const unsigned char* y, int rows, int cols,
                         int r, int c_lo, int c_hi, const double g[4], const double h[4], int* xv,
                         double* yv, int* lo, int* hi, int* next_c) {
  constexpr int kMasked = 64;
  const __m256d rd = _mm256_set1_pd(static_cast<double>(r));
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d zero = _mm256_setzero_pd();
  int count = 0;
  int c = c_lo;
  for (; c + 3 <= c_hi; c += 4) {
    const __m256d cd =
        _mm256_add_pd(_mm256_set1_pd(static_cast<double>(c)), _mm256_setr_pd(0.0, 1.0, 2.0, 3.0));
    const __m256d d = bilinear(g, rd, cd);
    const __m256d e = bilinear(h, rd, cd);
    const __m256d in_d = inside(d, 1.0, rows);
    const __m256d in_e = inside(e, 1.0, cols);
    const int within = _mm256_movemask_pd(_mm256_and_pd(in_d, in_e));
    // The four pixels of x, as bytes of one word (they lie inside the row).
    unsigned x4;
    __builtin_memcpy(&x4, x_row + c - 1, 4);
    const __m128i x_bytes = _mm_cvtsi32_si128(static_cast<int>(x4));
    const int x_masked = _mm_movemask_epi8(_mm_cmpeq_epi8(x_bytes, _mm_set1_epi8(kMasked))) & 0xF;
    const int wanted = within & ~x_masked;
    if (wanted == 0) continue;
    // Lanes that do not count take position 1 so that nothing is read out
    // of the image; their results are dropped.
    const __m256d keep = _mm256_and_pd(in_d, in_e);
    const __m256d ds = _mm256_blendv_pd(one, d, keep);
    const __m256d es = _mm256_blendv_pd(one, e, keep);
    const __m128i i0 = _mm256_cvttpd_epi32(ds);
    const __m128i j0 = _mm256_cvttpd_epi32(es);
    const __m256d fr = _mm256_sub_pd(ds, _mm256_cvtepi32_pd(i0));
    const __m256d fc = _mm256_sub_pd(es, _mm256_cvtepi32_pd(j0));
    const __m256d weight_r[2] = {_mm256_sub_pd(one, fr), fr};
    const __m256d weight_c[2] = {_mm256_sub_pd(one, fc), fc};
    // The 2 x 2 neighbours, from two 4-byte reads per lane: the upper pair
    // starts the word at the upper left neighbour, the lower pair ends the
    // word two bytes before the lower left one, so that no read passes the
    // last byte of the image (rows and columns are at least 2 apart from
    // its end there).
    const __m128i ones = _mm_set1_epi32(1);
    const __m128i at = _mm_add_epi32(_mm_mullo_epi32(_mm_sub_epi32(i0, ones), _mm_set1_epi32(cols)),
                                     _mm_sub_epi32(j0, ones));
    const __m128i upper = _mm_i32gather_epi32(reinterpret_cast<const int*>(y), at, 1);
    const __m128i lower = _mm_i32gather_epi32(reinterpret_cast<const int*>(y + cols - 2), at, 1);
    const __m128i byte = _mm_set1_epi32(0xFF);
    const __m256d neighbour[2][2] = {
        {_mm256_cvtepi32_pd(_mm_and_si128(upper, byte)),
         _mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(upper, 8), byte))},
        {_mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(lower, 16), byte)),
         _mm256_cvtepi32_pd(_mm_srli_epi32(lower, 24))}};
    __m256d sw = zero, sv = zero;
    __m256d low = _mm256_set1_pd(256.0), high = _mm256_set1_pd(-1.0);
    for (int di = 0; di <= 1; ++di) {
      for (int dj = 0; dj <= 1; ++dj) {
        const __m256d vv = neighbour[di][dj];
        const __m256d present = _mm256_cmp_pd(vv, _mm256_set1_pd(kMasked), _CMP_NEQ_OQ);
        const __m256d w = _mm256_mul_pd(weight_r[di], weight_c[dj]);
        // A masked neighbour adds +0, which leaves the non-negative sums as
        // they are: the baseline skips it.
        sw = _mm256_add_pd(sw, _mm256_and_pd(present, w));
        sv = _mm256_add_pd(sv, _mm256_and_pd(present, _mm256_mul_pd(w, vv)));
        const __m256d used = _mm256_and_pd(present, _mm256_cmp_pd(w, zero, _CMP_GT_OQ));
        low = _mm256_min_pd(low, _mm256_blendv_pd(_mm256_set1_pd(256.0), vv, used));
        high = _mm256_max_pd(high, _mm256_blendv_pd(_mm256_set1_pd(-1.0), vv, used));
      }
    }
    const int enough =
        _mm256_movemask_pd(_mm256_cmp_pd(sw, _mm256_set1_pd(0.5), _CMP_GE_OQ)) & wanted;
    if (enough == 0) continue;
    alignas(32) double value[4], lows[4], highs[4];
    _mm256_store_pd(value, _mm256_div_pd(sv, sw));
    _mm256_store_pd(lows, low);
    _mm256_store_pd(highs, high);
    for (int k = 0; k < 4; ++k) {
      if (!((enough >> k) & 1)) continue;
      xv[count] = x_row[c + k - 1];
      yv[count] = value[k];
      lo[count] = static_cast<int>(lows[k]);
      hi[count] = static_cast<int>(highs[k]);
      ++count;
    }
  }
  *next_c = c;
  return count;
}

#else  // no AVX2 on this processor family: the baseline path is the only one

bool supported() {
  return false;
}
void butterfly_stages(float*, float*, const AxisView&, int) {}
void inverse_at_shifts(const float*, const float*, const float*, const float*, const float*,
                       const AxisView&, const AxisView&, const int*, const unsigned char*,
                       const unsigned char*, int, float*, float*, float*, float*) {}
void peak_bits(const float*, const float*, const float*, long, unsigned*) {}
void weigh_row(float*, const float*, const float*, float, long) {}
int warp_row(const unsigned char*, const unsigned char*, int, int, int, int c_lo, int,
             const double*, const double*, int*, double*, int*, int*, int* next_c) {
  *next_c = c_lo;
  return 0;
}

#endif

}  // namespace tarvik::avx2

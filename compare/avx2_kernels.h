// The AVX2 kernels of the comparison pass: the transforms of FourierPlan
// (fourier.cpp), the weighting of the surfaces, the peak test of list_peaks
// and the pixel sampling of the warp correlation (correlation.cpp).
//
// Each transform kernel runs eight 1-D transforms side by side, one per
// lane, and performs for every element exactly the operations of the
// baseline code in the same order: the same products, the same sums, no
// fused multiply-add (the functions are compiled for AVX2 only, which has
// none). Results are therefore bit for bit those of the baseline path; the
// peak test makes the same comparisons, and the warp sampling computes four
// pixels at once with the baseline's operations, leaving the sums, whose
// order matters, to the caller.
//
// Only call them when supported() says the processor runs them.
#pragma once

namespace tarvik::avx2 {

// The processor and the system run AVX2 instructions (checked once).
bool supported();

// One axis of a plan: n lines, the bit-reversed position of each line and the
// twiddles of one direction (stage with half-span h at offset h - 1).
struct AxisView {
  int n;
  const int* reversed;
  const float* wr;
  const float* wi;
};

// Every butterfly stage of the 1-D transforms along the line index of planes
// of axis.n lines of `width` floats (width a multiple of 8), the lines
// already in bit-reversed order.
void butterfly_stages(float* re, float* im, const AxisView& axis, int width);

// FourierPlan::inverse_real_at_shifts for rows and cols multiples of 8, the
// spectra s and t in planes (column-major real parts s_re, imaginary parts
// s_im): the product s x conj(t), the transforms along the columns in bands
// of up to 32 rows (band_re, band_im: 32 x cols floats each, rows x cols when
// fewer), the columns a correlation reads gathered into out_re, out_im
// (rows x stride, stride a multiple of 8; column k of the output is column
// column_of[k] of the transform, or 0 where that is -1), then the transforms
// along the rows. Both axes are of direction -1. column_needed[c] and
// row_needed[u] mark the columns and rows of the transform that are read
// afterwards: the last stages store only those (every value stored is the
// baseline's). next_s (planar, may be null) is fetched into the caches on
// the way.
void inverse_at_shifts(const float* s_re, const float* s_im, const float* t_re, const float* t_im,
                       const float* next_s, const AxisView& rows, const AxisView& cols,
                       const int* column_of, const unsigned char* column_needed,
                       const unsigned char* row_needed, int stride, float* band_re, float* band_im,
                       float* out_re, float* out_im);

// The positions j = 1 .. n-2 of the middle row `mid` that are strictly
// above their eight neighbours (rows up, mid, down; columns j-1 .. j+1), as
// bits: bit j % 32 of bits[j / 32]. Every word of the row is written; bits
// 0 and n-1 are clear. Needs n >= 10.
void peak_bits(const float* up, const float* mid, const float* down, long n, unsigned* bits);

// out[j] = w[j] * (src[j] * scale) where w[j] > 0, else 0, for j < n: the
// weighting of a correlation surface's row (fill_surface).
void weigh_row(float* out, const float* w, const float* src, float scale, long n);

// One image row r of the warp correlation (warp_correlation), columns
// c = c_lo, c_lo + 1, ... in groups of four while a whole group fits before
// c_hi + 1. x_row is row r of the first image, y the whole second image
// (rows x cols bytes, 64 masked), g and h the fitted row and column maps.
// For every pixel that counts, in column order, appends to the arrays: its
// value in x, the interpolated value in y, and the lowest and highest y
// value that took part. Returns how many pixels counted; *next_c is the
// first column not looked at (the caller does the rest).
int warp_row(const unsigned char* x_row, const unsigned char* y, int rows, int cols, int r,
             int c_lo, int c_hi, const double g[4], const double h[4], int* xv, double* yv, int* lo,
             int* hi, int* next_c);

}  // namespace tarvik::avx2

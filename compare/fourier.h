// The two-dimensional radix-2 Fourier transform of the comparison program.
//
// Data: a rows x cols complex array, row-major (the column index varies
// fastest), real and imaginary parts interleaved: element (r, c), counted
// from 0, has its real part at data[2 * (r * cols + c)]. The spectra of a
// Fingerprint are kept in the planar layout of transform_to_planes instead.
//
// Arithmetic: direction +1 uses exp(+2 pi i kn/N) along each dimension,
// direction -1 uses exp(-2 pi i kn/N) and the result is then scaled by
// 1 / (rows * cols). First every row is transformed along the columns, then
// every column along the rows; each 1-D transform is a bit-reversal reordering
// followed by in-place radix-2 butterflies. The twiddle factors of a stage of
// span m come from the recurrence started at sin(theta/2) and sin(theta),
// theta = +-2 pi / m, carried in 64-bit and rounded to 32-bit for the
// butterflies, which work on 32-bit floats.
//
// Speed: the recurrence depends only on the size and the direction, so a plan
// tabulates the twiddles once. The transform then works on separate real and
// imaginary planes laid out so that every pass combines whole rows of
// contiguous floats (the first pass on the transposed array), which the
// compiler turns into vector operations. Every butterfly keeps its operands
// and its order of operations, so the result is bit for bit that of the plain
// transform.
//
// Two paths compute it: the baseline one (plain C++, for any processor) and,
// where the processor has AVX2, one that runs eight transforms side by side
// in its registers (avx2_kernels.h). Their results are identical bit for bit;
// a plan takes the AVX2 path when the processor has it, unless told
// otherwise.
//
// A plan owns its working planes: use one plan from one thread at a time.
#pragma once

#include <cstddef>
#include <vector>

#include "compare/vector_path.h"

namespace tarvik {

class FourierPlan {
 public:
  // rows and cols must be powers of two (1 .. 1024). An unavailable path
  // falls back to the baseline; so do sizes below 8 on the AVX2 path.
  FourierPlan(int rows, int cols, VectorPath path = default_vector_path());
  int rows() const { return rows_.n; }
  int cols() const { return cols_.n; }
  VectorPath path() const { return avx2_ ? VectorPath::kAvx2 : VectorPath::kBaseline; }

  // In place, direction +1 or -1 as above.
  void transform(float* data, int isign);

  // The transform of data (interleaved, as transform() takes it) into
  // planes: 2 * rows * cols floats, first the real parts column by column
  // (element (r, c) at planes[c * rows + r]), then the imaginary parts
  // likewise. The comparison keeps its spectra in this layout because the
  // first pass of the inverse below reads them column by column. data and
  // planes may be the same array.
  void transform_to_planes(const float* data, int isign, float* planes);

  // Real parts of the direction -1 transform of s x conj(t), before its
  // scaling, where s and t are spectra of this size in the planar layout of
  // transform_to_planes
  // (q.re = s.re t.re + s.im t.im, q.im = s.im t.re - s.re t.im); only the
  // columns a correlation over column shifts -col_reach .. col_reach reads
  // are computed. Row u of the result starts at re + u * stride, and its
  // entry [j + col_reach] is the real part at zero-based position
  // (u, (-j) mod cols). Valid until the plan is used again. Multiplying an
  // entry by 1 / (rows * cols) gives the real part of the scaled transform
  // exactly (the factor is a power of two).
  struct ShiftRows {
    const float* re;
    int stride;
  };
  //
  // next_s, when given, is the spectrum the next call will read in place of
  // s: it is fetched into the caches while this one computes. Only the rows
  // a correlation over row shifts -row_reach .. row_reach reads (u <=
  // row_reach or u >= rows - row_reach) need be right; by default all are.
  ShiftRows inverse_real_at_shifts(const float* s, const float* t, int col_reach,
                                   const float* next_s = nullptr, int row_reach = kAllRows);
  static constexpr int kAllRows = 1 << 30;

 private:
  struct Axis {
    int n = 0;
    std::vector<int> swaps;     // pairs (i, j), i < j, of the bit-reversal reordering
    std::vector<int> reversed;  // reversed[i]: where line i goes in that reordering
    // Twiddles of the stage with half-span h (h = 1, 2, 4, ...) at offset h - 1;
    // [0] for direction +1, [1] for direction -1.
    std::vector<float> wr[2], wi[2];
    explicit Axis(int size);
  };

  // Both passes of a transform of interleaved data into re_, im_.
  void both_passes(const float* data, int dir);
  float output_scale(int dir) const;

  Axis rows_, cols_;
  bool avx2_ = false;
  std::vector<float> re_, im_;    // rows x cols planes
  std::vector<float> tre_, tim_;  // cols x rows planes (transposed)
  std::vector<float> ore_, oim_;  // rows x stride planes, stride >= 2 col_reach + 1
  // Output column k: the column of the transform it holds, -1 for padding
  // (AVX2 path), for the reach column_reach_.
  std::vector<int> column_of_;
  int column_reach_ = -1;
  // Columns and rows of the transform that are read, for the reaches
  // column_reach_ and needed_row_reach_ (AVX2 path).
  std::vector<unsigned char> column_needed_, row_needed_;
  int needed_row_reach_ = -1;
};

// Convenience: a plan of this size, used once.
void fourier_2d(float* data, int rows, int cols, int isign);

}  // namespace tarvik

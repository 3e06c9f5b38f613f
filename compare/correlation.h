// The scoring core of one pair: sub-cell correlation surfaces, their peak
// lists, the constellation search over the shift model and the warped Pearson
// correlation of the two images.
//
// Frames: fingerprint images are 1-based (row 1 .. rows); a correlation
// surface is indexed by shift, rows -R .. R and columns -C .. C, where shift
// (i, j) means the sub-cell's pattern lies i rows lower and j columns further
// right in the second extract. Sub-cells are numbered 0 .. 3 (row of
// sub-cells by row of sub-cells).
#pragma once

#include <cstdint>

#include "compare/arrays.h"
#include "compare/fingerprint.h"
#include "compare/fourier.h"

namespace tarvik {

inline constexpr int kSubCells = 4;
inline constexpr int kMaxPeaks = 128;
inline constexpr float kNoScore = -9.99f;

// One axis of the shift model: the predicted shift of sub-cell 1 is
// a[0] + a[1] s0, of sub-cell 2 b[0] + b[1] s0 + b[2] s1, of sub-cell 3
// c[0] + c[1] s0 + c[2] s1 + c[3] s2 (s the shifts of the same axis).
struct ShiftModel {
  float a[4] = {};
  float b[4] = {};
  float c[4] = {};
};

// Whole-extract spectrum into fp.cell_spectrum: pixel - cell_mean where bit 6
// of the pixel is clear, 0 where it is set; forward transform, as planes
// (FourierPlan::transform_to_planes). False (and no spectrum) when its
// memory cannot be had. fp.image must be loaded.
bool make_cell_spectrum(Fingerprint& fp, FourierPlan& plan);

// Sub-cell spectrum into fp.subcell_spectrum: zero but inside the sub-cell
// (rows row_origin .. row_origin+subrows-1, likewise columns), where an
// unmasked pixel gives (pixel - sub_mean) * sub_scale; forward transform, as
// planes.
bool make_subcell_spectrum(Fingerprint& fp, FourierPlan& plan);

// Surface of one sub-cell record against the second fingerprint: for every
// shift, the cyclic correlation of the sub-cell with the whole second extract
// times the table entry of the shifted window (0 when that entry is not
// positive, or when the window falls outside the table). surface must span
// -R .. R by -C .. C. next_spectrum: as FourierPlan::inverse_real_at_shifts's
// next_s.
void fill_surface(const Fingerprint& sub, const Fingerprint& second, FourierPlan& plan,
                  Matrix<float>& surface, const float* next_spectrum = nullptr);

struct Peak {
  float value;
  int col_shift;
  int row_shift;
};

struct PeakList {
  Peak entries[kMaxPeaks];
  int count = 0;
};

// Interior positions strictly above all eight neighbours, in scan order (rows
// ascending, then columns), at most 128, then sorted by decreasing value
// (stable, so equal values keep scan order). Only the first `sorted` entries
// are put in that order (the search reads no more); the rest follow in no
// particular order.
void list_peaks(const Matrix<float>& surface, PeakList& list, int sorted = kMaxPeaks,
                VectorPath path = default_vector_path());

struct Candidate {
  float mean = kNoScore;  // mean of the four peak values
  float dev = 0;          // total deviation from the shift model
  float peak[kSubCells] = {};
  int col_shift[kSubCells] = {};
  int row_shift[kSubCells] = {};
};

struct SearchResult {
  int count = 0;          // 0, 1 (a) or 2 (a, b)
  bool a_filled = false;  // false when no constellation ever beat the initial mean
  Candidate a;            // highest mean peak value
  Candidate b;            // smallest total deviation
};

// Search over the first min(P, count) peaks of each list. Tolerances per level
// 0 .. 3; all comparisons strict, so the constellation met first keeps a tie.
SearchResult search_constellations(const PeakList lists[kSubCells], const ShiftModel& row_model,
                                   const ShiftModel& col_model, const float row_tol[4],
                                   const float col_tol[4], int peaks_per_subcell);

// LU decomposition of a 4 x 4 matrix with scaled partial pivoting; false when
// singular (a row without an entry above 1e-30, or a pivot not above 1e-30).
// perm[j] is the original row now in row j.
bool lu_decompose4(double a[4][4], int perm[4]);
// Solves with the factors of lu_decompose4; b in original row order.
void lu_solve4(const double lu[4][4], const int perm[4], double b[4]);

// Pearson correlation of the central part of X with Y warped by the bilinear
// map through four control points moved by the sub-cell shifts. X and Y are
// row-major rows x cols bytes; 64 marks a masked pixel. The central region is
// widened by margin on every side; a margin beyond a quarter of the size is
// cut to that quarter, so that the region stays inside the image. Sets
// *singular and returns NaN when the map cannot be fitted; returns NaN when
// no pixel pair is usable or either side is constant.
double warp_correlation(const std::uint8_t* x, const std::uint8_t* y, int rows, int cols,
                        const int row_shift[4], const int col_shift[4], double percentage,
                        int margin, bool* singular, VectorPath path = default_vector_path());

}  // namespace tarvik

// corrowen: N_FIDUCIAL_DOTS, the correlation comparison of two extracts with
// dot patterns, as the workstation's new-style comparison calls it.
//
// The call keeps the form of the outside library it stands for: fourteen
// arguments, every one by reference, 32-bit integers in and a 64-bit real
// out. For each of the two extracts, in this order:
//
//   cell     64 x 64 integers: block (row r, column c), counted from 1, at
//            (c - 1) * 64 + (r - 1); grey 0..254, 255 for a blank block
//   n_spot   spots in use, 0..200
//   spots    200 x 3 integers, spot k (from 0) at 3k: score + 1, row, column
//   n_seed   seed sets, 0..9
//   seeds    9 x 3 integers, set s (from 0) at 3s: three spot numbers 1..n_spot
//   top      2738 integers: the 296 x 296 spot map, bit n = 296 (y - 1) +
//            (x - 1) of pixel (x, y) is bit n mod 32 of word n div 32
//
// then `max_shift`, the shift range in blocks (kDefaultShift is what the
// workstation passes), and `corr`, which receives the correlation score of
// block_correlation.h: the best normalised correlation of the two block
// images over the shifts, in (-1, 1] for a usable pair and -1 for a pair that
// cannot be compared (too little usable pelt in common, or a flat image).
// The spots, seed sets and map are part of the call but do not enter this
// score: the dot family's score is the correlation alone.
//
// Thread-safe and allocation-free (about 60 KB of stack).
#pragma once

#include <cstdint>

inline constexpr int kFiducialMaxSpots = 200;
inline constexpr int kFiducialMaxSeeds = 9;
inline constexpr int kFiducialMapWords = 2738;

extern "C" {

void N_FIDUCIAL_DOTS(const int32_t* cell1, const int32_t* n_spot1, const int32_t* spots1,
                     const int32_t* n_seed1, const int32_t* seeds1, const int32_t* top1,
                     const int32_t* cell2, const int32_t* n_spot2, const int32_t* spots2,
                     const int32_t* n_seed2, const int32_t* seeds2, const int32_t* top2,
                     const int32_t* max_shift, double* corr);

}  // extern "C"

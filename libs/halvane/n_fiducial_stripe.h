// halvane: N_FIDUCIAL_STRIPE, the comparison of two extracts with stripe
// patterns, as the workstation's new-style comparison calls it.
//
// The call keeps the form of the outside library it stands for: eighteen
// arguments, every one by reference, 32-bit integers in and 64-bit reals
// out. For each of the two extracts, in this order:
//
//   cell     64 x 64 integers: block (row r, column c), counted from 1, at
//            (c - 1) * 64 + (r - 1); grey 0..254, 255 for a blank block
//   n_spot   spots in use, 0..200
//   spots    200 x 4 integers, spot k (from 0) at 4k: score + 1, row, column,
//            kind (1 stripe forward, 2 both sides, 3 backward)
//   n_seed   seed sets, 0..9
//   seeds    9 x 3 integers, set s (from 0) at 3s: three spot numbers 1..n_spot
//   top      2738 integers: the 296 x 296 map of the spots of kind <= 2, bit
//            n = 296 (y - 1) + (x - 1) of pixel (x, y) is bit n mod 32 of
//            word n div 32
//   bottom   2738 integers: the same for the spots of kind >= 2
//
// then `max_shift` (the correlation's shift range in blocks; the workstation
// passes corrowen's kDefaultShift), `max_turn` (the largest turn in degrees
// between two extracts the spot score accepts; the workstation passes
// kDefaultMaxTurnDegrees), and the two results:
//
//   corr     the correlation score of the block images (corrowen's
//            block_correlation.h): in (-1, 1], or -1 for an unusable pair
//   spot     the spot score of spot_alignment.h: the share of spots that land
//            on the other extract's spots once the seed triangles align the
//            two patterns, in (0, 1], or 0 when no alignment was found
//
// Thread-safe and allocation-free (about 60 KB of stack).
#pragma once

#include <cstdint>

extern "C" {

void N_FIDUCIAL_STRIPE(const int32_t* cell1, const int32_t* n_spot1, const int32_t* spots1,
                       const int32_t* n_seed1, const int32_t* seeds1, const int32_t* top1,
                       const int32_t* bottom1, const int32_t* cell2, const int32_t* n_spot2,
                       const int32_t* spots2, const int32_t* n_seed2, const int32_t* seeds2,
                       const int32_t* top2, const int32_t* bottom2, const int32_t* max_shift,
                       const int32_t* max_turn, double* corr, double* spot);

}  // extern "C"

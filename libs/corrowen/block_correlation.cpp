// The correlation score of two block images (see block_correlation.h).
#include "libs/corrowen/block_correlation.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velmora::corrowen {
namespace {

bool usable_grey(int32_t v) {
  return v >= 0 && v < kBlankBlock;
}

// The six sums of one shift over whole columns. Written as plain loops of a
// fixed length so that they vectorise; the padding makes every column
// complete, its blanks adding nothing.
struct ShiftSums {
  int32_t ab = 0, a = 0, b = 0, aa = 0, bb = 0, n = 0;
};

ShiftSums shift_sums(const BlockPlanes& f, const PaddedBlockPlanes& s, int dr, int dc) {
  ShiftSums t;
  int32_t ab = 0, a = 0, b = 0, aa = 0, bb = 0, n = 0;
  for (int c = 0; c < kBlockSide; ++c) {
    const int16_t* __restrict fv = f.value + c * kBlockSide;
    const int16_t* __restrict fs = f.square + c * kBlockSide;
    const int16_t* __restrict fu = f.usable + c * kBlockSide;
    const int at = (c + dc + kMaxShift) * kPaddedSide + dr + kMaxShift;
    const int16_t* __restrict sv = s.value + at;
    const int16_t* __restrict ss = s.square + at;
    const int16_t* __restrict su = s.usable + at;
    for (int r = 0; r < kBlockSide; ++r) {
      ab += int32_t{fv[r]} * sv[r];
      a += int32_t{fv[r]} * su[r];
      b += int32_t{fu[r]} * sv[r];
      aa += int32_t{fs[r]} * su[r];
      bb += int32_t{fu[r]} * ss[r];
      n += int32_t{fu[r]} * su[r];
    }
  }
  t.ab = ab, t.a = a, t.b = b, t.aa = aa, t.bb = bb, t.n = n;
  return t;
}

}  // namespace

void prepare_blocks(const int32_t* cells, BlockPlanes* out) {
  for (int i = 0; i < kBlocks; ++i) {
    const bool ok = usable_grey(cells[i]);
    const int v = ok ? cells[i] - 128 : 0;
    out->value[i] = static_cast<int16_t>(v);
    out->square[i] = static_cast<int16_t>(v * v);
    out->usable[i] = ok ? 1 : 0;
  }
}

void prepare_padded_blocks(const int32_t* cells, PaddedBlockPlanes* out) {
  std::memset(out, 0, sizeof *out);
  for (int c = 0; c < kBlockSide; ++c) {
    for (int r = 0; r < kBlockSide; ++r) {
      const int32_t g = cells[c * kBlockSide + r];
      if (!usable_grey(g)) continue;
      const int at = (c + kMaxShift) * kPaddedSide + r + kMaxShift;
      const int v = g - 128;
      out->value[at] = static_cast<int16_t>(v);
      out->square[at] = static_cast<int16_t>(v * v);
      out->usable[at] = 1;
    }
  }
}

double block_correlation(const BlockPlanes& first, const PaddedBlockPlanes& second, int max_shift) {
  max_shift = std::clamp(max_shift, 0, kMaxShift);
  double best = kUnusable;
  bool any = false;
  for (int dc = -max_shift; dc <= max_shift; ++dc) {
    for (int dr = -max_shift; dr <= max_shift; ++dr) {
      const ShiftSums t = shift_sums(first, second, dr, dc);
      if (t.n < kMinOverlap) continue;
      // Whole numbers up to about 2^40: exact in doubles.
      const double n = t.n, a = t.a, b = t.b;
      const double va = n * t.aa - a * a;
      const double vb = n * t.bb - b * b;
      if (va <= 0.0 || vb <= 0.0) continue;
      const double r = (n * t.ab - a * b) / std::sqrt(va * vb);
      if (!any || r > best) best = r;
      any = true;
    }
  }
  if (!any) return kUnusable;
  return std::clamp(best, kLowestUsable, 1.0);
}

double block_correlation(const int32_t* first, const int32_t* second, int max_shift) {
  BlockPlanes f;
  PaddedBlockPlanes s;
  prepare_blocks(first, &f);
  prepare_padded_blocks(second, &s);
  return block_correlation(f, s, max_shift);
}

}  // namespace velmora::corrowen

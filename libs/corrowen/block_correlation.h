// corrowen's correlation score: how well two 64 x 64 block images of a pelt
// agree, as the largest normalised correlation over a small range of shifts.
//
// A block image holds one byte per 4 x 4 block of a 256 x 256 extract (grey
// 0..254), and 255 for a block that touches a blank pixel. Blank blocks are
// left out: at each shift (dr, dc) only the blocks that are usable in both
// images, block (r, c) of the first against block (r + dr, c + dc) of the
// second, take part, and their Pearson correlation
//
//   (n Sab - Sa Sb) / sqrt((n Saa - Sa^2) (n Sbb - Sb^2))
//
// is the score of that shift. The score of the pair is the best shift's, in
// -1..1 (a pelt against itself gives 1; unrelated pelts scatter around 0).
// Two extracts of one animal are never placed exactly alike by the fit,
// which is why shifts of a few blocks (a block is 4 pixels) are tried; the
// range is small because the fit already places the body within a few
// pixels, and a wide search would only let unrelated pelts find a chance
// agreement.
//
// A shift counts only when at least kMinOverlap blocks are usable in both
// images and neither side is flat there (no variance: a correlation would be
// 0 / 0). A pair with no such shift is unusable and scores kUnusable (-1);
// a usable pair never scores -1 or below (a perfectly inverted pelt scores
// just above it), so that "-1 or less" means "could not be compared".
//
// Speed: this is the inner loop of the daily comparison (millions of pairs).
// Each image is first turned into three 16-bit planes, centred on 128 so that
// every product fits 16 x 16 -> 32 bits: the value (0 where blank), its square
// and the usable mask. The second image's planes are padded by the shift
// range with blanks, so every shift is the same fixed 64-long inner loop over
// whole columns, which the compiler turns into packed multiply-adds; the six
// sums of one shift are exact integers. No allocation: the planes live in the
// caller's PreparedBlocks (about 60 KB, fine on the stack).
#pragma once

#include <cstdint>

namespace velmora::corrowen {

inline constexpr int kBlockSide = 64;
inline constexpr int kBlocks = kBlockSide * kBlockSide;
inline constexpr int32_t kBlankBlock = 255;
inline constexpr double kUnusable = -1.0;
// The widest shift range a caller may ask for, in blocks (32 pixels).
inline constexpr int kMaxShift = 8;
// The shift range the workstation uses: +-2 blocks (8 pixels), twice the
// placement error of a good fit.
inline constexpr int kDefaultShift = 2;
// Fewest blocks usable in both images for a shift to count: an eighth of
// the image. Fewer would let a sliver of pelt decide the score.
inline constexpr int kMinOverlap = kBlocks / 8;
// The best a usable pair can score from below.
inline constexpr double kLowestUsable = -0.999999;

// The padded side of the second image's planes.
inline constexpr int kPaddedSide = kBlockSide + 2 * kMaxShift;
inline constexpr int kPadded = kPaddedSide * kPaddedSide;

// The 16-bit planes of one block image, column by column (block (r, c) at
// c * 64 + r, or in the padded planes at (c + kMaxShift) * kPaddedSide + r +
// kMaxShift).
struct BlockPlanes {
  alignas(64) int16_t value[kBlocks];   // grey - 128; 0 where blank
  alignas(64) int16_t square[kBlocks];  // (grey - 128)^2; 0 where blank
  alignas(64) int16_t usable[kBlocks];  // 1, or 0 where blank
};
struct PaddedBlockPlanes {
  alignas(64) int16_t value[kPadded];
  alignas(64) int16_t square[kPadded];
  alignas(64) int16_t usable[kPadded];
};

// `cells`: 64 x 64 integers, block (row r, column c), both from 0, at
// c * 64 + r. Any value outside 0..254 counts as blank.
void prepare_blocks(const int32_t* cells, BlockPlanes* out);
void prepare_padded_blocks(const int32_t* cells, PaddedBlockPlanes* out);

// The score above for shifts of up to `max_shift` blocks (held to
// 0..kMaxShift) in each direction.
double block_correlation(const BlockPlanes& first, const PaddedBlockPlanes& second, int max_shift);

// The same from the two images in the call's layout, with planes of its own
// on the stack.
double block_correlation(const int32_t* first, const int32_t* second, int max_shift);

}  // namespace velmora::corrowen

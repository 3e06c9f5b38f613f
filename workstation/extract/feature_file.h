// The feature file of an extract: what the spot and correlation comparisons
// read of it (block image, spots, seed sets, dilated spot maps), written when
// the extract is saved.
//
// No header; the fields follow each other without gaps:
//
//   block image  4096 bytes  64 x 64, row by row; byte (a, b) sums up the 4 x 4
//                            block of source rows 4a-3..4a and columns
//                            4b-3..4b: 255 when any source byte of the block
//                            is 255 (blank pixels are 255 in the source), else
//                            the block's mean rounded
//   N            1 byte      spots in the file
//   spots        N x 3 bytes score, row, column of spots 1..N; N x 4 with the
//                            kind as fourth byte when the file has kinds
//   M            1 byte      seed sets, 0..9
//   seed sets    M x 3 bytes spot numbers, each 1..N, three different ones
//   top map      2738 words  the 296 x 296 top spot map as bits: pixel (x, y)
//                            is bit n = 296 (y - 1) + (x - 1), bit n mod 32 of
//                            32-bit little-endian word n div 32; set = black
//   bottom map   2738 words  the same for the bottom map, only when the file
//                            has kinds
//
// A file has kinds (and the bottom map) when the aspect's pattern is
// "black_stripe" or "white_stripe" and all_green is false; the reader is told
// which, as the file itself does not say.
//
// Every value is made a byte by rounding to the nearest whole number, halves
// to even. Negative spot values are set to 0 in the spot list itself before
// they are written (the list then shows what was saved). Anything else that
// does not fit a byte (above 255, below 0, not a number) is stored as the
// nearest byte (NaN as 0) and counted, so that the operator can be told.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "workstation/common/rounding.h"
#include "workstation/common/status.h"
#include "workstation/extract/seeds.h"
#include "workstation/extract/spot_list.h"

namespace velmora::extract {

inline constexpr int kBlockImageSide = 64;
inline constexpr std::size_t kBlockImageBytes =
    static_cast<std::size_t>(kBlockImageSide) * kBlockImageSide;
inline constexpr std::size_t kSpotMapWords = kSpotMapPixels / 32;  // 2738
inline constexpr std::size_t kSpotMapBytes = kSpotMapWords * 4;
// The block image byte of a block that touches a blank pixel.
inline constexpr std::uint8_t kBlankBlock = 255;

// v as a byte as above; adds 1 to *clamped when v did not fit.
std::uint8_t to_byte(double v, int* clamped);

// Whether an aspect's feature files carry kinds and the bottom map.
bool feature_file_has_kinds(std::string_view pattern, bool all_green);

struct FeatureSpot {
  std::uint8_t score = 0, row = 0, column = 0;
  std::uint8_t kind = 2;  // 2 when the file has no kinds
  friend bool operator==(const FeatureSpot&, const FeatureSpot&) = default;
};

// A feature file's content as stored.
struct FeatureFile {
  std::vector<std::uint8_t> block_image = std::vector<std::uint8_t>(kBlockImageBytes, 0);
  bool has_kinds = false;
  std::vector<FeatureSpot> spots;
  SeedSets seeds;  // sets after seeds.count are all zero
  std::vector<std::uint32_t> top_map = std::vector<std::uint32_t>(kSpotMapWords, 0);
  std::vector<std::uint32_t> bottom_map;  // kSpotMapWords when has_kinds, else empty
  friend bool operator==(const FeatureFile&, const FeatureFile&) = default;
};

std::vector<std::uint32_t> pack_spot_map(const SpotMap& map);
// `words` must hold kSpotMapWords words.
SpotMap unpack_spot_map(std::span<const std::uint32_t> words);

// The 64 x 64 block image of a 256 x 256 source (blank pixels already 255).
std::vector<std::uint8_t> block_image(std::span<const std::uint8_t> marked_source);

// The content of a feature file: the block image of `marked_source`, spots
// 1..limit of `spots` (negative score, row and column first set to 0 in the
// list), the seed sets and maps of `seeds`. InvalidArgument, *out untouched,
// when a size is wrong, the limit is outside 0..min(255, spots->size()), a
// seed set names a spot outside 1..limit (seeds placed before the number of
// spots was lowered: place them again) or the same spot twice, or, with
// kinds, a kind does not round to 1, 2 or 3. *clamped counts the values that
// did not fit a byte.
Status build_feature_file(std::span<const std::uint8_t> marked_source, SpotList* spots, int limit,
                          const SeedResult& seeds, bool has_kinds, FeatureFile* out, int* clamped);

// The file's bytes. `file` must pass the checks of build_feature_file.
std::string feature_file_bytes(const FeatureFile& file);

// Reads a feature file; `label` (its path) begins every message. Fails,
// *out untouched, when the bytes end early or run on past the last field,
// M is above 9, a seed set names a spot outside 1..N or one spot twice, or a
// kind is not 1, 2 or 3.
Status parse_feature_file(std::string_view bytes, bool has_kinds, const std::string& label,
                          FeatureFile* out);

}  // namespace velmora::extract

// The bytes of a fingerprint file, as the comparison program reads them.
//
// Text header (LF line ends, numbers in the C locale whatever the process's
// locale is, reals in the shortest form that reads back to the same value):
//   1  "$ Quenbrook fingerprint file $"
//   2  "GreySeal"
//   3  code rows cols group_code_1 group_code_2 cell_mean unmasked
//        code: hexadecimal check value of the cell name and the image
//        (31 bits, so that any reader of a signed int takes it);
//        group_code_1 = 1: this writer's normalisation scheme, group_code_2 =
//        1: grey levels 0-63 with 64 masked. Fingerprints whose codes differ
//        are never compared, which is what a different scheme needs.
//   4  version masked sum sum_squares cell_mean deviation zero_share subcells
//        (writer version 1; pixel statistics; share of table entries that
//        are 0; number of sub-cells)
//   5  per sub-cell: sub_mean deviation unmasked_share (twelve reals)
//   6  the six reals of the writer's call, as given
//   7  row_origin col_origin across down subrows subcols
//   8… one line per sub-cell, row of sub-cells by row: row_origin col_origin
//      sub_mean sub_scale
// then, right after the last LF, rows x cols image bytes row by row and
// (rows - subrows + 1) x (cols - subcols + 1) little-endian 32-bit floats of
// the normalisation table row by row. Lines 4-6 are for people and tools; the
// comparison skips them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "libs/dunmarra/fingerprint_normalisation.h"

namespace velmora::dunmarra {

inline constexpr int kGroupCode1 = 1;
inline constexpr int kGroupCode2 = 1;
inline constexpr int kWriterVersion = 1;

// The whole file. `image` holds g.rows x g.cols bytes row-major; `norm` was
// computed from it with the same geometry.
std::string format_fingerprint(const FingerprintGeometry& g, const Normalisation& norm,
                               const std::vector<uint8_t>& image, std::string_view cell,
                               const std::array<double, 6>& reals);

// The check value of line 3: FNV-1a over the cell name, a zero byte and the
// image, cut to 31 bits.
uint32_t fingerprint_code(std::string_view cell, const std::vector<uint8_t>& image);

}  // namespace velmora::dunmarra

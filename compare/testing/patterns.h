// Test-only pelt-like patterns: seeded random blobs in grey levels 0..63.
//
// Patterns come from the raw output of std::mt19937 (whose sequence the
// standard fixes), never from the library's distributions, so that a seed
// gives the same image with every standard library.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvik::testing {

// A rows x cols pattern (row-major) of `blobs` dark and light elliptic blobs
// on a mid-grey ground.
std::vector<std::uint8_t> blob_pattern(int rows, int cols, std::uint32_t seed, int blobs = 40);

// The rows x cols window of a larger pattern (big_cols wide) whose top-left
// pixel is at zero-based (top, left).
std::vector<std::uint8_t> crop(const std::vector<std::uint8_t>& big, int big_cols, int top,
                               int left, int rows, int cols);

// Sets `count` pseudo-random pixels (seeded) to 64, the mask value.
void mask_pixels(std::vector<std::uint8_t>& image, std::uint32_t seed, int count);

}  // namespace tarvik::testing

// The distance-to-blank map of an extract.
//
// Responses of the pattern filters near an unsampled (blank) area are not
// trusted, so every pixel carries its distance in pixels to the nearest blank
// edge pixel: a blank pixel with at least one usable pixel among its 3 x 3
// neighbours. Only edges within 45 rows and 45 columns are looked at; a pixel
// with none that near keeps the cap of 100. Indexing as SharedExtract: 1-based
// (row, column), stored row-major from 0; a blank pixel is one whose flag is
// not 0.
//
// The map starts at the cap before each extract; it is computed only when the
// operator blanked pixels by hand and the configuration asks for it (the
// caller's decision). Cost: 91 x 91 updates per edge pixel, a few million for
// a long edge.
#pragma once

#include <vector>

#include "workstation/extract/shared_extract.h"

namespace velmora::extract {

inline constexpr float kBlankDistanceCap = 100.0f;
// Half-side of the square around an edge pixel that its distance reaches.
inline constexpr int kBlankDistanceReach = 45;

// Lowers each value of `distance` (kExtractPixels, normally all at the cap)
// to the distance of the nearest blank edge pixel within reach.
void compute_blank_distance(const SharedExtract& extract, std::vector<float>* distance);

}  // namespace velmora::extract

// The plain two-dimensional radix-2 transform, written as directly as
// possible (1-based indices, twiddles recomputed by the recurrence in every
// stage of every line), against which the fast transform is checked.
#pragma once

#include <vector>

namespace tarvik::testing {

// data: 2 * rows * cols floats, interleaved, row-major; element 1 of the
// 1-based layout at data[0]. isign +1 or -1 (-1 scaled by 1 / (rows * cols)).
void reference_fourier_2d(float* data, int rows, int cols, int isign);

// Between the interleaved row-major layout above and the planar
// column-major one the comparison keeps its spectra in
// (FourierPlan::transform_to_planes).
std::vector<float> to_planes(const float* interleaved, int rows, int cols);
std::vector<float> from_planes(const float* planes, int rows, int cols);

}  // namespace tarvik::testing

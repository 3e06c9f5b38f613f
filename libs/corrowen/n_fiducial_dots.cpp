// N_FIDUCIAL_DOTS (see n_fiducial_dots.h).
#include "libs/corrowen/n_fiducial_dots.h"

#include "libs/corrowen/block_correlation.h"

extern "C" void N_FIDUCIAL_DOTS(const int32_t* cell1, const int32_t*, const int32_t*,
                                const int32_t*, const int32_t*, const int32_t*,
                                const int32_t* cell2, const int32_t*, const int32_t*,
                                const int32_t*, const int32_t*, const int32_t*,
                                const int32_t* max_shift, double* corr) {
  if (corr == nullptr) return;
  if (cell1 == nullptr || cell2 == nullptr) {
    *corr = velmora::corrowen::kUnusable;
    return;
  }
  const int shift = max_shift != nullptr ? *max_shift : velmora::corrowen::kDefaultShift;
  *corr = velmora::corrowen::block_correlation(cell1, cell2, shift);
}

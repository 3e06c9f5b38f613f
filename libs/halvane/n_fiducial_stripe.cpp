// N_FIDUCIAL_STRIPE (see n_fiducial_stripe.h).
#include "libs/halvane/n_fiducial_stripe.h"

#include "libs/corrowen/block_correlation.h"
#include "libs/halvane/spot_alignment.h"

namespace {

int value_or(const int32_t* p, int fallback) {
  return p != nullptr ? *p : fallback;
}

}  // namespace

extern "C" void N_FIDUCIAL_STRIPE(
    const int32_t* cell1, const int32_t* n_spot1, const int32_t* spots1, const int32_t* n_seed1,
    const int32_t* seeds1, const int32_t* top1, const int32_t* bottom1, const int32_t* cell2,
    const int32_t* n_spot2, const int32_t* spots2, const int32_t* n_seed2, const int32_t* seeds2,
    const int32_t* top2, const int32_t* bottom2, const int32_t* max_shift, const int32_t* max_turn,
    double* corr, double* spot) {
  using namespace velmora;
  if (corr != nullptr) {
    *corr = (cell1 != nullptr && cell2 != nullptr)
                ? corrowen::block_correlation(cell1, cell2,
                                              value_or(max_shift, corrowen::kDefaultShift))
                : corrowen::kUnusable;
  }
  if (spot == nullptr) return;
  const bool given =
      spots1 != nullptr && seeds1 != nullptr && spots2 != nullptr && seeds2 != nullptr;
  if (!given) {
    *spot = 0.0;
    return;
  }
  const halvane::SpotPattern first{
      value_or(n_spot1, 0), spots1, value_or(n_seed1, 0), seeds1, top1, bottom1};
  const halvane::SpotPattern second{
      value_or(n_spot2, 0), spots2, value_or(n_seed2, 0), seeds2, top2, bottom2};
  *spot = halvane::spot_score(first, second, value_or(max_turn, halvane::kDefaultMaxTurnDegrees));
}

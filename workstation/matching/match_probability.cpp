// Gamma densities and the match probability (see match_probability.h).
#include "workstation/matching/match_probability.h"

#include <cmath>

#include "workstation/matching/numerics.h"

namespace velmora::matching {
namespace {

// Minimum number of an extract's own scores before its own non-match model is
// trusted over the one in table stats.
constexpr float kOwnModelMinimum = 20.0f;

struct GammaModel {
  double mean;
  double deviation;
};

// The non-match model of one extract from its count, sum and sum of squares.
GammaModel non_match_model(float n, float s, float ss, double rmu_nonmatch, double sigma_nonmatch) {
  if (n >= kOwnModelMinimum && s != 0.0f) {
    const double count = n, sum = s, squares = ss;
    const double variance = (squares - sum * sum / count) / (count - 1.0);
    return {sum / count, variance >= 0.0 ? std::sqrt(variance) : sigma_nonmatch};
  }
  return {rmu_nonmatch, sigma_nonmatch};
}

void set_fault(DensityFault* fault, DensityFault value) {
  if (fault != nullptr) *fault = value;
}

}  // namespace

double gamma_log_density(double& mean, double deviation, double x, DensityFault* fault) {
  set_fault(fault, DensityFault::kNone);
  if (mean < 0.0) mean = -mean;
  const double rate = mean / (deviation * deviation);
  const double shape = rate * mean;
  if (!std::isfinite(rate) || !std::isfinite(shape) || rate <= 0.0 || shape <= 0.0) {
    set_fault(fault, DensityFault::kShape);
    return 0.0;
  }
  int ifail = 0;
  const double lg = S14ABF(shape, ifail);
  if (ifail != 0) {
    set_fault(fault, DensityFault::kShape);
    return 0.0;
  }
  if (!(x > 0.0)) {
    set_fault(fault, DensityFault::kLogOfZero);
    return 0.0;
  }
  return (shape - 1.0) * std::log(x) + shape * std::log(rate) - rate * x - lg;
}

double gamma_density(double& mean, double deviation, double x, DensityFault* fault) {
  DensityFault f = DensityFault::kNone;
  const double log_density = gamma_log_density(mean, deviation, x, &f);
  set_fault(fault, f);
  return f == DensityFault::kNone ? std::exp(log_density) : 0.0;
}

double normscore(double score, float Rn, float Rs, float Rss, float Ln, float Ls, float Lss,
                 double rmu_match, double sigma_match, double rmu_nonmatch, double sigma_nonmatch,
                 double /*p*/, const std::string& /*letter*/, double prior, DensityFault* fault) {
  set_fault(fault, DensityFault::kNone);
  GammaModel second = non_match_model(Rn, Rs, Rss, rmu_nonmatch, sigma_nonmatch);
  GammaModel first = non_match_model(Ln, Ls, Lss, rmu_nonmatch, sigma_nonmatch);
  const double x = score;
  if (!(x >= 0.0 && x >= rmu_match - 3.0 * sigma_match)) return 0.0;

  DensityFault f1, f2, fm;
  const double ln_d1 = gamma_log_density(second.mean, second.deviation, x, &f1);
  const double ln_d2 = gamma_log_density(first.mean, first.deviation, x, &f2);
  // The match model's mean is a copy: the stats values stay as read for the
  // next pair, so no pair's probability depends on the pairs before it.
  double match_mean = rmu_match;
  const double ln_match = gamma_log_density(match_mean, sigma_match, x, &fm);
  for (DensityFault f : {f1, f2, fm}) {
    if (f != DensityFault::kNone) {
      set_fault(fault, f);
      return 0.0;
    }
  }
  const double ln_non = ln_d1 > ln_d2 ? ln_d1 : ln_d2;
  // dNon / dMatch; exp overflows to +inf (probability 0) or underflows to 0
  // (probability 1) without a NaN.
  const double ratio = std::exp(ln_non - ln_match);
  const double probability = prior / (prior + (1.0 - prior) * ratio);
  // Only a prior of exactly 0 or 1 against a ratio of 0 or infinity leaves
  // no value (0/0, 0 * inf); the prior then decides.
  if (std::isnan(probability)) return prior >= 1.0 ? 1.0 : 0.0;
  return probability;
}

}  // namespace velmora::matching

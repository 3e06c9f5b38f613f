// The probability that a scored pair is a match, from three Gamma densities.
//
// Scores of matching pairs follow one Gamma law (mean rmu_match, deviation
// sigma_match, from table stats); the non-matching scores of each extract
// follow another, estimated from the extract's own accumulated scores in
// table distribution (count n, sum s, sum of squares ss) once it has 20 of
// them, else taken from stats. With the prior probability P of a match,
//   probability = P / (P + (1 - P) * dNon / dMatch),
// dNon being the larger of the two extracts' non-match densities.
//
// A Gamma law needs a positive shape m^2/s^2 and rate m/s^2, and the density
// needs ln x: a mean or deviation of 0 (no stats row, an extract whose scores
// are all 0) or a score of exactly 0 has no density. Such a pair gets
// probability 0 and the fault is reported to the caller, which goes on with
// the next pair. The densities are combined in logarithms, so their ratio is
// found even where a density on its own would underflow to 0.
#pragma once

#include <string>

namespace velmora::matching {

enum class DensityFault {
  kNone,
  kShape,      // shape or rate not a positive finite number (a mean or deviation of 0)
  kLogOfZero,  // x <= 0: the density needs ln x
};

// The density at x of the Gamma law with mean |mean| and deviation
// `deviation`. `mean` is replaced by its absolute value, as callers expect.
// On a fault returns 0 and sets *fault (when given); otherwise *fault = kNone.
double gamma_density(double& mean, double deviation, double x, DensityFault* fault = nullptr);

// ln of the same density; on a fault returns 0 and sets *fault.
double gamma_log_density(double& mean, double deviation, double x, DensityFault* fault = nullptr);

// The match probability of a pair with `score`, whose second extract has the
// distribution counts Rn, Rs, Rss and whose first extract Ln, Ls, Lss (values
// as stored, 32-bit). p and letter are accepted as the callers pass them and
// not used. `prior` is the prior probability of a match (the operator's P(m),
// normally 0.005). Scores below 0 or below rmu_match - 3 * sigma_match give 0
// without a fault; a fault of any density gives 0 and sets *fault.
double normscore(double score, float Rn, float Rs, float Rss, float Ln, float Ls, float Lss,
                 double rmu_match, double sigma_match, double rmu_nonmatch, double sigma_nonmatch,
                 double p, const std::string& letter, double prior, DensityFault* fault = nullptr);

}  // namespace velmora::matching

// The pair loop of the correlation and spot comparison (see new_style_pairs.h).
#include "workstation/matching/new_style_pairs.h"

#include "libs/corrowen/block_correlation.h"
#include "libs/corrowen/n_fiducial_dots.h"
#include "libs/halvane/n_fiducial_stripe.h"
#include "workstation/common/number_text.h"

namespace velmora::matching {
namespace {

void append_line(std::string* out, const std::string& name1, const std::string& name2, double corr,
                 double spot, const PairScoring& scoring) {
  double score = 0;
  if (scoring.correlation && corr > corrowen::kUnusable) {
    score = corr;
  } else if (scoring.spot && spot > 0.0) {
    score = spot;
  } else {
    return;
  }
  out->append(name1).append(1, ',').append(name2).append(1, ',');
  out->append(real_to_text(score)).append(1, '\n');
}

}  // namespace

std::string pair_line(const std::string& name1, const std::string& name2, double corr, double spot,
                      const PairScoring& scoring) {
  std::string out;
  append_line(&out, name1, name2, corr, spot, scoring);
  return out;
}

int64_t compare_batches(const FeatureBatch& a, const FeatureBatch& b, const PairScoring& scoring,
                        const std::function<bool(const std::string&)>& line_out,
                        const std::function<bool(double)>& before) {
  const bool stripes = a.layout().stripes;
  const int32_t shift = scoring.max_shift, turn = scoring.max_turn;
  int64_t pairs = 0;
  std::string lines;
  for (int i = 0; i < a.n_files(); ++i) {
    if (before && !before(static_cast<double>(i) / a.n_files())) break;
    lines.clear();
    const std::string& name1 = a.filename(i);
    for (int j = 0; j < b.n_files(); ++j) {
      const std::string& name2 = b.filename(j);
      if (name1 == name2) continue;
      double corr = corrowen::kUnusable, spot = 0.0;
      if (stripes) {
        // The spot score is needed only where the correlation gives no line.
        N_FIDUCIAL_STRIPE(a.corrcell(i), a.n_spot(i), a.spots(i), a.n_seed(i), a.seeds(i), a.top(i),
                          a.bottom(i), b.corrcell(j), b.n_spot(j), b.spots(j), b.n_seed(j),
                          b.seeds(j), b.top(j), b.bottom(j), &shift, &turn,
                          scoring.correlation ? &corr : nullptr, nullptr);
        if (scoring.spot && !(scoring.correlation && corr > corrowen::kUnusable)) {
          N_FIDUCIAL_STRIPE(a.corrcell(i), a.n_spot(i), a.spots(i), a.n_seed(i), a.seeds(i),
                            a.top(i), a.bottom(i), b.corrcell(j), b.n_spot(j), b.spots(j),
                            b.n_seed(j), b.seeds(j), b.top(j), b.bottom(j), &shift, &turn, nullptr,
                            &spot);
        }
      } else if (scoring.correlation) {
        N_FIDUCIAL_DOTS(a.corrcell(i), a.n_spot(i), a.spots(i), a.n_seed(i), a.seeds(i), a.top(i),
                        b.corrcell(j), b.n_spot(j), b.spots(j), b.n_seed(j), b.seeds(j), b.top(j),
                        &shift, &corr);
      }
      ++pairs;
      append_line(&lines, name1, name2, corr, spot, scoring);
    }
    if (!lines.empty() && !line_out(lines)) break;
  }
  return pairs;
}

}  // namespace velmora::matching

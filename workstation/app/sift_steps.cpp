// The key-point family's step (see sift_steps.h).
#include "workstation/app/sift_steps.h"

#include <utility>

namespace velmora::app {

FamilyPlugin sift_plugin(const std::string& letter) {
  FamilyPlugin p;
  p.family = "CompSift";
  p.letter = letter;
  p.distribution_label = matching::kSiftDistributionLabel;
  p.completed_label = matching::kSiftCompletedLabel;
  p.scores = matching::kSiftScores;
  p.lateral_by_cell_type = true;
  p.compare_side = matching::compare_sift_side;
  return p;
}

runs::RunStep compare_sift_step(ComparisonFrame frame) {
  return [frame = std::move(frame)](runs::RunContext& ctx) {
    const std::string& letter = ctx.algorithm_letters.CompSift;
    if (letter.empty()) return Status::Ok();
    return frame(ctx, sift_plugin(letter));
  };
}

void install_sift_comparison(runs::RunHooks& hooks, ComparisonFrame frame) {
  if (!frame) return;
  hooks.comparison.compare_sift = compare_sift_step(std::move(frame));
}

}  // namespace velmora::app

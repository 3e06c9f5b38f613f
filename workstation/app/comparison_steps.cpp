// The comparison steps of the window's run (see comparison_steps.h).
#include "workstation/app/comparison_steps.h"

#include <utility>

namespace velmora::app {
namespace {

// "  name:   value" lines become "name: value".
std::string compact_summary(const std::string& text) {
  std::string out;
  bool line_start = true, after_colon = false;
  for (char c : text) {
    if (c == ' ' && line_start) continue;
    if (c == ' ' && after_colon) {
      if (out.back() != ' ') out += ' ';
      continue;
    }
    after_colon = c == ':';
    line_start = c == '\n';
    out += c;
  }
  return out;
}

// The operator sees at the end of a family what the headless program prints,
// its console columns closed up for a message box's proportional font. Not
// in real-time identification: there each photograph runs every family and
// its review opens at once, so a box per family would only be clicked away.
void show_completion(runs::RunContext& ctx, const std::string& family, const std::string& summary) {
  if (ctx.options.real_time || ctx.dialogs->program_ended()) return;
  ctx.dialogs->message("The " + family + " is complete.\n" + compact_summary(summary), Buttons::kOk,
                       Icon::kInformation);
}

}  // namespace

runs::RunStep batch_compare_step(std::shared_ptr<matching::ProcessRunner> runner,
                                 matching::BatchCompareOptions options,
                                 std::shared_ptr<matching::BatchCompareSummary> summary) {
  if (!summary) summary = std::make_shared<matching::BatchCompareSummary>();
  return [runner = std::move(runner), options = std::move(options),
          summary = std::move(summary)](runs::RunContext& ctx) {
    Status s = matching::batch_compare_old_style(ctx, *ctx.panel, *ctx.dialogs, *runner, options,
                                                 summary.get());
    if (s.ok())
      show_completion(ctx, "comparison through tarvikx",
                      matching::format_batch_summary(*summary, 0));
    return s;
  };
}

runs::RunStep compare_new_style_step(matching::NewStyleOptions options,
                                     std::shared_ptr<matching::BatchCompareSummary> summary) {
  if (!summary) summary = std::make_shared<matching::BatchCompareSummary>();
  return [options, summary = std::move(summary)](runs::RunContext& ctx) {
    Status s = matching::compare_new_style(ctx, *ctx.panel, *ctx.dialogs, options, summary.get());
    if (s.ok())
      show_completion(ctx, "correlation and spot comparison",
                      matching::format_batch_summary(*summary, 0));
    return s;
  };
}

runs::RunStep compare_sift_step(std::shared_ptr<matching::BatchCompareSummary> summary) {
  if (!summary) summary = std::make_shared<matching::BatchCompareSummary>();
  return [summary = std::move(summary)](runs::RunContext& ctx) {
    // Without a key-point algorithm there is nothing to compare, as when the
    // driver passes the family over.
    if (ctx.algorithm_letters.CompSift.empty()) return Status::Ok();
    Status s = matching::compare_sift(ctx, *ctx.panel, *ctx.dialogs, summary.get());
    if (s.ok())
      show_completion(ctx, "key-point comparison", matching::format_batch_summary(*summary, 0));
    return s;
  };
}

runs::RunStep change_p_to_v_step(std::shared_ptr<matching::ChangePtoVSummary> summary) {
  return [summary = std::move(summary)](runs::RunContext& ctx) {
    return matching::ChangePtoV(ctx, summary.get());
  };
}

runs::RunStep legcode_compare_step(std::shared_ptr<matching::LegCodeSummary> summary) {
  if (!summary) summary = std::make_shared<matching::LegCodeSummary>();
  return [summary = std::move(summary)](runs::RunContext& ctx) {
    Status s = matching::compare_legcodes(ctx, *ctx.panel, *ctx.dialogs, summary.get());
    if (s.ok() && (summary->compared || summary->imports > 0))
      show_completion(ctx, "leg-code comparison", matching::format_legcode_summary(*summary));
    return s;
  };
}

void install_legcode_comparison(runs::RunHooks& hooks) {
  hooks.comparison.compare_legcodes = legcode_compare_step();
}

void install_comparison_steps(runs::RunHooks& hooks,
                              std::shared_ptr<matching::ProcessRunner> runner,
                              matching::BatchCompareOptions options,
                              const ComparisonSummaries& summaries) {
  hooks.comparison.batch_compare_old_style =
      batch_compare_step(std::move(runner), std::move(options), summaries.tarvik);
  hooks.comparison.compare_new_style = compare_new_style_step({}, summaries.new_style);
  hooks.comparison.compare_legcodes = legcode_compare_step(summaries.legcodes);
  hooks.comparison.compare_sift = compare_sift_step(summaries.key_points);
  hooks.comparison.change_p_to_v = change_p_to_v_step(summaries.change_p_to_v);
}

}  // namespace velmora::app

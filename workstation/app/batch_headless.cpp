// The headless batch comparison (see batch_headless.h).
#include "workstation/app/batch_headless.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "workstation/app/command_line.h"
#include "workstation/app/comparison_steps.h"
#include "workstation/common/console_panel.h"
#include "workstation/matching/standardise.h"
#include "workstation/runs/start_driver.h"

namespace velmora::app {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDescription =
    "Compares the pending extracts with the library by every family the database names\n"
    "(through tarvikx, by correlation and spots, by leg codes, by key points), imports the\n"
    "results and moves the compared extracts to visual checking (state V).";

// The command line, bound to *o; the batch size is taken as text so that a
// size above the window's limit can be lowered with a note, as the window
// does, instead of refused.
void describe_command_line(CLI::App& cli, HeadlessOptions* o, std::string* batch_text,
                           std::string* jobs_text) {
  cli.description(kDescription);
  cli.set_help_flag("-h,--help", "print this help and exit");
  cli.add_option("--data-folder", o->data_folder,
                 "data files folder (fingerprints in DIR/oldlib/, orlain.ini)")
      ->type_name("DIR");
  cli.add_option("--database", o->database,
                 "the database; without it, DataFolder.txt names the folders")
      ->type_name("FILE");
  cli.add_option("--working-folder", o->working_folder,
                 "run files tarvik.ini / tarvik_head.ini, lists and results (default: the "
                 "current folder)")
      ->type_name("DIR");
  cli.add_option("--tarvikx", o->tarvikx, "the comparison program (default: beside velmora-batch)")
      ->type_name("PATH");
  cli.add_option("--batch-size", *batch_text,
                 "pending extracts per aspect and side, 0 to 400 (default 200); 0 imports the "
                 "results files on disk without comparing")
      ->type_name("N");
  cli.add_option("--jobs", *jobs_text,
                 "tarvikx programs run at once on a side whose library makes several lists, 1 "
                 "to " +
                     std::to_string(matching::kMaxJobs) + " (default: the processors, here " +
                     std::to_string(default_jobs()) + ")")
      ->type_name("N");
  cli.add_flag("--quick", o->quick, "stage only scores above the stats rows' limit")
      ->disable_flag_override();
  cli.add_flag("--standardise", o->standardise, "store match probabilities in temp")
      ->disable_flag_override();
  cli.add_option("--pm", o->prior_match, "prior probability of a match (default .005)")
      ->type_name("P");
  CLI::Option* aspect =
      cli.add_option("--aspect", o->aspect, "only this aspect (as \"use multiple cores\")")
          ->type_name("A");
  CLI::Option* side =
      cli.add_option("--side", o->side, "only this side of that aspect: L, R or M")->type_name("S");
  aspect->needs(side);
  side->needs(aspect);
  CLI::Option* test =
      cli.add_flag("--test", o->test,
                   "the test-rank evaluation: compare the test set, rank it, print the result")
          ->disable_flag_override();
  cli.add_flag("--combine", o->combine, "test: one result per animal over its extracts")
      ->disable_flag_override()
      ->needs(test);
  cli.add_flag("--previous", o->previous, "test: only show the last stored result")
      ->disable_flag_override()
      ->needs(test);
  cli.add_option("--chart", o->chart, "test: write the chart as a PNG picture")
      ->type_name("FILE.png")
      ->needs(test);
  test->excludes(aspect);
}

Status read_batch_size_argument(const std::string& text, HeadlessOptions* o, std::string* notes) {
  long long n = -1;
  auto r = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || n < 0) {
    return Status::InvalidArgument("The batch size \"" + text +
                                   "\" is not a whole number of 0 or more.");
  }
  if (n > kMaxBatchSize) {
    if (notes) {
      *notes += "The batch size " + text + " was lowered to " + std::to_string(kMaxBatchSize) +
                ", the most the workstation takes.\n";
    }
    o->batch_size = kMaxBatchSize;
  } else {
    o->batch_size = static_cast<int>(n);
  }
  return Status::Ok();
}

Status read_jobs_argument(const std::string& text, HeadlessOptions* o) {
  int n = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || n < 1 ||
      n > matching::kMaxJobs) {
    return Status::InvalidArgument("--jobs \"" + text + "\" is not a whole number from 1 to " +
                                   std::to_string(matching::kMaxJobs) +
                                   " (tarvikx programs at once).");
  }
  o->jobs = n;
  return Status::Ok();
}

std::string seconds_text(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", s);
  return buf;
}

}  // namespace

int default_jobs() {
  const unsigned processors = std::thread::hardware_concurrency();  // 0 when unknown
  return static_cast<int>(std::clamp(processors, 1u, static_cast<unsigned>(matching::kMaxJobs)));
}

std::string headless_usage() {
  HeadlessOptions o;
  std::string batch, jobs;
  CLI::App cli{"", "velmora-batch"};
  describe_command_line(cli, &o, &batch, &jobs);
  return cli.help();
}

Status parse_headless_arguments(const std::vector<std::string>& args, HeadlessOptions* o,
                                std::string* notes) {
  *o = HeadlessOptions{};
  std::string batch_text, jobs_text;
  CLI::App cli{"", "velmora-batch"};
  describe_command_line(cli, o, &batch_text, &jobs_text);
  Status parsed = parse_command_line(cli, args, &o->help);
  if (!parsed.ok() || o->help) return parsed;
  if (cli.count("--batch-size") > 0) {
    Status s = read_batch_size_argument(batch_text, o, notes);
    if (!s.ok()) return s;
  }
  o->jobs = default_jobs();
  if (cli.count("--jobs") > 0) {
    Status s = read_jobs_argument(jobs_text, o);
    if (!s.ok()) return s;
  }
  if (!o->data_folder.empty() && o->database.empty()) {
    return Status::InvalidArgument("--data-folder needs --database.");
  }
  double prior = 0;
  return matching::parse_prior_match(o->prior_match, &prior);
}

session::RunOptions headless_run_options(const HeadlessOptions& o) {
  session::RunOptions r;
  r.compares = true;
  r.batch_size = o.batch_size;
  r.quick = o.quick;
  r.standardise = o.standardise;
  r.prior_match = o.prior_match;
  r.multi_core = !o.aspect.empty();
  r.chosen_aspect = o.aspect;
  r.chosen_side = o.side;
  return r;
}

Status start_headless_batch(session::RunState& state, const config::FolderFileLocations& locations,
                            const HeadlessOptions& o, std::ostream& out) {
  state.options = headless_run_options(o);
  return session::start_run_without_window(
      state, locations, session::HeadlessFolders{o.data_folder, o.database, o.working_folder}, out);
}

std::string format_headless_summary(const HeadlessSummary& h) {
  const matching::BatchCompareSummary& c = h.compared;
  std::ostringstream s;
  auto compared_inside = [&](const char* title, const matching::BatchCompareSummary& f) {
    s << title << "\n" << matching::format_batch_summary(f, 0);
    s << "  time:                       " << seconds_text(f.compare_seconds)
      << " s comparing, import " << seconds_text(f.import_seconds) << " s\n";
  };
  s << "summary\n";
  if (h.tarvik_ran) {
    s << "tarvik comparison\n" << matching::format_batch_summary(c, 0);
  }
  if (h.new_style_ran) compared_inside("correlation and spot comparison", h.compared_new);
  if (h.legcodes_ran) {
    const matching::LegCodeSummary& l = h.compared_legcodes;
    s << "leg-code comparison\n" << matching::format_legcode_summary(l);
    s << "  time:                       " << seconds_text(l.compare_seconds)
      << " s comparing, import " << seconds_text(l.import_seconds) << " s\n";
  }
  if (h.key_points_ran) compared_inside("key-point comparison", h.compared_keys);
  const int64_t moved = c.moved_to_v + h.compared_new.moved_to_v + h.compared_legcodes.moved_to_v +
                        h.compared_keys.moved_to_v + h.changed.moved;
  s << "all families\n";
  s << "  extracts moved to V:        " << moved << " (" << h.changed.moved
    << " after the last family)\n";
  s << "  time:                       " << seconds_text(h.seconds) << " s";
  if (h.tarvik_ran) {
    s << " (tarvikx " << seconds_text(c.tarvikx_seconds) << " s, import "
      << seconds_text(c.import_seconds) << " s)";
  }
  s << "\n";
  s << "  result:                     " << (h.succeeded ? "ok" : "FAILED: " + h.failure) << "\n";
  return s.str();
}

int run_headless_batch(const HeadlessOptions& o, matching::ProcessRunner& runner, std::ostream& out,
                       HeadlessSummary* summary, const config::FolderFileLocations& locations) {
  HeadlessSummary local;
  HeadlessSummary& sum = summary != nullptr ? *summary : local;
  sum = HeadlessSummary{};
  const auto t0 = Clock::now();

  ConsolePanel panel(out);
  ConsoleDialogs dialogs(out);
  runs::RunContext ctx;
  ctx.panel = &panel;
  ctx.dialogs = &dialogs;
  const ComparisonSummaries families;

  auto finish = [&](const Status& s) {
    sum.compared = *families.tarvik;
    sum.compared_new = *families.new_style;
    sum.compared_legcodes = *families.legcodes;
    sum.compared_keys = *families.key_points;
    sum.changed = *families.change_p_to_v;
    sum.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    if (s.ok() && dialogs.program_ended()) {
      sum.failure = "the run ended early (see the message above)";
    } else if (!s.ok()) {
      sum.failure = s.message();
      out << "error: " << s.message() << "\n";
    }
    sum.succeeded = s.ok() && !dialogs.program_ended();
    out << format_headless_summary(sum) << std::flush;
    ctx.drop_database_work();
    ctx.session.close();
    return sum.succeeded ? 0 : 1;
  };

  Status s = start_headless_batch(ctx, locations, o, out);
  if (!s.ok()) return finish(s);
  const session::AlgorithmLetters& l = ctx.algorithm_letters;
  if (l.tarvik.empty() && l.compnew_corr.empty() && l.compnew_spot.empty() && l.legcode.empty() &&
      l.CompSift.empty()) {
    return finish(Status::NotFound(
        "Table algy has no row of type 'tarvik', 'compnew_corr', 'compnew_spot', 'legcode' or "
        "'CompSift': velmora-batch has nothing to compare."));
  }

  // The window's steps, with --tarvikx naming the comparison program; each
  // notes that it ran, for the summary.
  matching::BatchCompareOptions compare_options;
  compare_options.tarvikx = o.tarvikx;
  compare_options.jobs = o.jobs;
  // The runner outlives the run; the hooks share it without owning it.
  std::shared_ptr<matching::ProcessRunner> shared_runner(&runner, [](matching::ProcessRunner*) {});
  install_comparison_steps(ctx.hooks, shared_runner, compare_options, families);
  runs::ComparisonHooks& h = ctx.hooks.comparison;
  auto noting = [](runs::RunStep& step, bool* ran) {
    step = [inner = std::move(step), ran](runs::RunContext& c) {
      *ran = true;
      return inner(c);
    };
  };
  noting(h.batch_compare_old_style, &sum.tarvik_ran);
  noting(h.compare_new_style, &sum.new_style_ran);
  noting(h.compare_legcodes, &sum.legcodes_ran);
  noting(h.compare_sift, &sum.key_points_ran);

  s = runs::run_comparison_families(ctx);
  if (!s.ok() || dialogs.program_ended()) return finish(s);
  s = h.change_p_to_v(ctx);
  return finish(s);
}

}  // namespace velmora::app

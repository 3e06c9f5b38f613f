// The headless batch comparison (see batch_headless.h).
#include "workstation/matching/batch_headless.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "workstation/config/configuration_file.h"
#include "workstation/config/folder_file.h"
#include "workstation/config/open_database.h"
#include "workstation/db/statements.h"
#include "workstation/matching/batch_console.h"
#include "workstation/matching/standardise.h"
#include "workstation/runs/algorithm_letters.h"
#include "workstation/runs/cell_lookup.h"
#include "workstation/runs/start_driver.h"

namespace velmora::matching {
namespace {

using Clock = std::chrono::steady_clock;

Status usage_error(const std::string& text) {
  return Status::InvalidArgument(text);
}

void print_faults(const config::Faults& faults, std::ostream& out) {
  for (const Status& f : faults) out << "warning: " << f.message() << "\n";
}

// The aspect and side of --aspect / --side must be one the comparison walks.
Status check_chosen_side(const runs::RunContext& ctx, const HeadlessOptions& o) {
  if (o.aspect.empty()) return Status::Ok();
  const config::AspectList& list = ctx.aspects();
  for (int i = 0; i < list.count; ++i) {
    const config::AspectEntry& e = list.entries[i];
    if (e.aspect == "Skin") break;
    if (e.aspect != o.aspect) continue;
    const bool lateral = e.cell_type == "lateral";
    if ((lateral && (o.side == "L" || o.side == "R")) || (!lateral && o.side == "M")) {
      return Status::Ok();
    }
    return Status::InvalidArgument("Aspect " + o.aspect + " has no side " + o.side + " (" +
                                   (lateral ? "lateral: L or R" : "not lateral: M") + ").");
  }
  return Status::InvalidArgument("The database has no aspect " + o.aspect +
                                 " before \"Skin\" in its aspects table.");
}

std::string seconds_text(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", s);
  return buf;
}

}  // namespace

std::string headless_usage() {
  return "Usage: velmora-batch [--data-folder DIR] [--database FILE.sqlite] [--working-folder "
         "DIR]\n"
         "                     [--tarvikx PATH] [--batch-size N] [--quick] [--standardise]\n"
         "                     [--pm P] [--aspect A --side S]\n"
         "Compares the pending extracts with the library through tarvikx, imports the results\n"
         "and moves the compared extracts to visual checking (state V).\n"
         "  --data-folder DIR     data files folder (fingerprints in DIR/oldlib/, orlain.ini)\n"
         "  --database FILE       the database; without both, DataFolder.txt is read\n"
         "  --working-folder DIR  run files tarvik.ini / tarvik_head.ini, lists and results\n"
         "                        (default: the current folder)\n"
         "  --tarvikx PATH        the comparison program (default: beside velmora-batch)\n"
         "  --batch-size N        pending extracts per aspect and side, 0 to 400 (default 200);\n"
         "                        0 imports the results files on disk without comparing\n"
         "  --quick               stage only scores above the stats rows' limit\n"
         "  --standardise         store match probabilities in temp\n"
         "  --pm P                prior probability of a match (default .005)\n"
         "  --aspect A --side S   only this aspect and side (as \"use multiple cores\")\n";
}

Status parse_headless_arguments(const std::vector<std::string>& args, HeadlessOptions* o,
                                std::string* notes) {
  *o = HeadlessOptions{};
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool has_value = false;
    const size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      has_value = true;
    }
    auto take = [&](std::string* out) -> Status {
      if (!has_value) {
        if (i + 1 >= args.size()) return usage_error("Option " + arg + " needs a value.");
        value = args[++i];
      }
      *out = value;
      return Status::Ok();
    };
    auto flag = [&](bool* out) -> Status {
      if (has_value) return usage_error("Option " + arg + " takes no value.");
      *out = true;
      return Status::Ok();
    };
    Status s;
    if (arg == "--help" || arg == "-h") {
      s = flag(&o->help);
    } else if (arg == "--data-folder") {
      s = take(&o->data_folder);
    } else if (arg == "--database") {
      s = take(&o->database);
    } else if (arg == "--working-folder") {
      s = take(&o->working_folder);
    } else if (arg == "--tarvikx") {
      s = take(&o->tarvikx);
    } else if (arg == "--pm") {
      s = take(&o->prior_match);
    } else if (arg == "--aspect") {
      s = take(&o->aspect);
    } else if (arg == "--side") {
      s = take(&o->side);
    } else if (arg == "--quick") {
      s = flag(&o->quick);
    } else if (arg == "--standardise") {
      s = flag(&o->standardise);
    } else if (arg == "--batch-size") {
      std::string text;
      s = take(&text);
      if (s.ok()) {
        long long n = -1;
        auto r = std::from_chars(text.data(), text.data() + text.size(), n);
        if (r.ec != std::errc() || r.ptr != text.data() + text.size() || n < 0) {
          s = usage_error("The batch size \"" + text + "\" is not a whole number of 0 or more.");
        } else if (n > kMaxBatchSize) {
          if (notes) {
            *notes += "The batch size " + text + " was lowered to " +
                      std::to_string(kMaxBatchSize) + ", the most the workstation takes.\n";
          }
          o->batch_size = kMaxBatchSize;
        } else {
          o->batch_size = static_cast<int>(n);
        }
      }
    } else {
      s = usage_error("Unknown argument \"" + args[i] + "\".");
    }
    if (!s.ok()) return s;
  }
  if (o->aspect.empty() != o->side.empty()) {
    return usage_error("--aspect and --side go together.");
  }
  if (!o->database.empty() || !o->data_folder.empty()) {
    if (o->database.empty()) return usage_error("--data-folder needs --database.");
  }
  double prior = 0;
  Status s = parse_prior_match(o->prior_match, &prior);
  if (!s.ok()) return s;
  return Status::Ok();
}

Status start_headless_batch(runs::RunContext& ctx, const HeadlessOptions& o, std::ostream& out) {
  // The folders.
  config::FolderSettings folders;
  if (!o.database.empty()) {
    folders = o.data_folder.empty() ? config::folders_from_database_path(o.database)
                                    : config::FolderSettings{o.data_folder, o.database, ""};
    folders.database_path = o.database;
  } else {
    std::string read_from;
    Status s = config::read_folder_file(ctx.folder_file_locations, &folders, &read_from);
    if (s.code() == Status::Code::kNotFound) {
      return Status::NotFound("No --database was given and no " +
                              std::string(config::kFolderFileName) + " was found.");
    }
    if (!s.ok()) return s;
    out << "folders from " << read_from << "\n";
  }
  config::normalise_folders(&folders);
  ctx.folders = folders;
  if (ctx.working_folder.empty()) {
    std::error_code ec;
    ctx.working_folder =
        o.working_folder.empty() ? std::filesystem::current_path(ec).string() : o.working_folder;
  }

  // orlain.ini first: LimitSearch decides what the database session loads.
  config::Faults faults;
  config::read_configuration(ctx.folders.data_folder, &ctx.settings, &faults);
  print_faults(faults, out);
  faults.clear();
  ctx.drop_database_work();
  Status s = config::open_database(&ctx.folders, ctx.settings, &ctx.session, &faults);
  print_faults(faults, out);
  if (!s.ok()) return s;
  if (!ctx.session.is_open()) {
    return Status::NotFound("The database '" + ctx.folders.database_path +
                            "' cannot be opened: the path must name an existing file ending in "
                            "\"sqlite\".");
  }
  s = check_chosen_side(ctx, o);
  if (!s.ok()) return s;

  // The panel as the operator would have set it for a batch comparison.
  ControlPanel& p = *ctx.panel;
  p.set_checked("optBatchCompare", true);
  p.set_text("txtNumPend", std::to_string(o.batch_size));
  p.set_checked("chkQuick", o.quick);
  p.set_checked("chkStan", o.standardise);
  p.set_text("txtPm", o.prior_match);
  p.set_checked("chkMultiCore", !o.aspect.empty());
  p.set_text("cmbAspect", o.aspect);
  p.set_text("cmbSide", o.side);
  p.set_checked("optDontLimit", true);

  db::StatementOptions options;
  options.multi_aspect = ctx.settings.MultiAspect;
  options.limit_search = ctx.settings.LimitSearch;
  s = runs::prepare_run_database(ctx, options);
  if (!s.ok()) return s;

  db::RecordSet waiting;
  s = ctx.statement("review_list")->open(&waiting);
  if (!s.ok()) return s;
  if (waiting.row_count() > 0) out << runs::records_waiting_message(waiting.row_count()) << "\n";
  if (ctx.settings.MultiAspect) {
    s = runs::fill_multi_aspect_batch(ctx, o.batch_size);
    if (!s.ok()) return s;
  }
  s = runs::load_cell_lookup(ctx.statement("cells_by_number"), &ctx.cell_lookup);
  if (!s.ok()) return s;
  return runs::load_algorithm_letters(ctx.db(), &ctx.algorithm_letters);
}

std::string format_headless_summary(const HeadlessSummary& h) {
  const BatchCompareSummary& c = h.compared;
  std::ostringstream s;
  s << "summary\n";
  s << "  aspects and sides compared: " << c.aspect_sides << "\n";
  s << "  pending extracts compared:  " << c.pending_listed << " (" << c.pending_missing
    << " left out: no fingerprint file)\n";
  s << "  library extracts:           " << c.library_extracts << " selected, " << c.library_listed
    << " listed, " << c.library_missing << " left out: no fingerprint file\n";
  s << "  tarvikx runs:               " << c.tarvikx_runs << " (" << c.failed_runs << " failed)\n";
  s << "  results files imported:     " << c.imports << "\n";
  s << "  result lines imported:      " << c.result_lines << "\n";
  s << "  skipped lines:              " << c.skipped_lines << "\n";
  s << "  pairs staged:               " << c.staged << "\n";
  s << "  temp rows:                  " << c.temp_rows << "\n";
  s << "  extracts moved to V:        " << h.changed.moved + c.moved_after_failure << "\n";
  s << "  time:                       " << seconds_text(h.seconds) << " s (tarvikx "
    << seconds_text(c.tarvikx_seconds) << " s, import " << seconds_text(c.import_seconds)
    << " s)\n";
  s << "  result:                     " << (h.succeeded ? "ok" : "FAILED: " + h.failure) << "\n";
  return s.str();
}

int run_headless_batch(const HeadlessOptions& o, ProcessRunner& runner, std::ostream& out,
                       HeadlessSummary* summary) {
  HeadlessSummary local;
  HeadlessSummary& sum = summary != nullptr ? *summary : local;
  sum = HeadlessSummary{};
  const auto t0 = Clock::now();

  ConsolePanel panel(out);
  ConsoleDialogs dialogs(out);
  runs::RunContext ctx;
  ctx.panel = &panel;
  ctx.dialogs = &dialogs;
  ctx.folder_file_locations = config::default_folder_file_locations();
  ctx.working_folder = o.working_folder;

  auto finish = [&](const Status& s) {
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

  Status s = start_headless_batch(ctx, o, out);
  if (!s.ok()) return finish(s);
  const runs::AlgorithmLetters& letters = ctx.algorithm_letters;
  if (letters.tarvik.empty()) {
    return finish(Status::NotFound(
        "Table algy has no row of type 'tarvik': velmora-batch has nothing to compare."));
  }
  if (!letters.compnew_corr.empty() || !letters.compnew_spot.empty()) {
    out << runs::not_available_message("The correlation and spot comparison is")
        << " The comparison goes on without it.\n";
  }
  if (!letters.legcode.empty()) {
    out << runs::not_available_message("The leg-code comparison is")
        << " The comparison goes on without it.\n";
  }
  if (!letters.CompSift.empty()) {
    out << runs::not_available_message("The key-point comparison is")
        << " The comparison goes on without it.\n";
  }

  BatchCompareOptions compare_options;
  compare_options.tarvikx = o.tarvikx;
  s = batch_compare_old_style(ctx, runner, compare_options, &sum.compared);
  if (!s.ok() || dialogs.program_ended()) return finish(s);
  s = ChangePtoV(ctx, &sum.changed);
  return finish(s);
}

}  // namespace velmora::matching

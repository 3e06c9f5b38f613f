// The correlation and spot comparison (see new_style_compare.h).
//
// Per aspect and side: one pending batch (up to the batch size, at most 400
// extracts) and one library batch of 200 are allocated once and refilled,
// so the memory stays near 25 MB whatever the size of the library. The
// results file is appended to a first-extract's lines at a time; the
// operator's Stop is looked at between first extracts.
#include "workstation/matching/new_style_compare.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "workstation/config/folder_file.h"
#include "workstation/extract/feature_file.h"
#include "workstation/matching/batch_compare_helpers.h"
#include "workstation/matching/feature_arrays.h"
#include "workstation/matching/new_style_pairs.h"

namespace velmora::matching {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool stripe_pattern(const std::string& pattern) {
  return pattern == "black_stripe" || pattern == "white_stripe";
}

class NewStyleFamily : public ComparisonFamily {
 public:
  explicit NewStyleFamily(const NewStyleOptions& options) : options_(options) {}

  Status set_up(const FrameServices& frame, FamilySetup* setup) override;
  bool takes_aspect(const config::AspectEntry& aspect) const override {
    return aspect.show_n_spots_value() >= 1;
  }
  ExtractProblem extract_problem(const std::string& cell) const override;
  Status compare_side(const FrameServices& frame, SideWork& work) override;
  std::string completed_label(const std::string& aspect, const std::string& side) const override {
    return "completed compnew for " + aspect + ", " + side;
  }

 private:
  // Appends to the results file; false (and *failure set) when it fails.
  bool write(const std::string& text);
  void note_library_problems(const FrameServices& frame,
                             const std::vector<FeatureProblem>& problems);

  const NewStyleOptions& options_;
  PairScoring scoring_;
  std::string folder_;  // the feature files' folder, ending in '/'
  std::ofstream out_;
  std::string out_path_;
  bool stop_ = false;
};

Status NewStyleFamily::set_up(const FrameServices& frame, FamilySetup* setup) {
  const session::RunState& state = *frame.state;
  const std::string& corr = state.algorithm_letters.compnew_corr;
  const std::string& spot = state.algorithm_letters.compnew_spot;
  if (corr.empty() && spot.empty()) {
    return Status::InvalidArgument(
        "Table algy has no row of type 'compnew_corr' or 'compnew_spot': nothing to compare.");
  }
  scoring_.correlation = !corr.empty();
  scoring_.spot = !spot.empty();
  scoring_.max_shift = options_.max_shift;
  scoring_.max_turn = options_.max_turn;
  setup->letter = scoring_.correlation ? corr : spot;
  if (!corr.empty()) setup->distribution_letters.push_back(corr);
  if (!spot.empty()) setup->distribution_letters.push_back(spot);
  // A correlation (above -1) or, in its place, a spot score (above 0).
  setup->scores = ScoreRange{-1.0, 1.0, std::nullopt};
  setup->move_with_import = !later_family_in_run(state.algorithm_letters, FamilyOrder::kNewStyle);
  setup->making_lists_label = kNewStyleListsLabel;
  setup->all_completed_label = kNewStyleCompletedLabel;
  setup->refused_heading =
      "These extracts were left out of the comparison: their cell names cannot be written in a "
      "results file or name no file of the data folder.";
  setup->missing_heading =
      "These extracts were left out of the comparison: their feature files are missing.";
  setup->unreadable_heading =
      "These extracts were left out of the comparison: their feature files cannot be read.";

  const std::string& data = state.folders.data_folder;
  if (data.empty()) return Status::InvalidArgument("No data files folder is set.");
  folder_ = config::normalise_folder(config::normalise_folder(data) + state.settings.library_name);
  std::error_code ec;
  if (frame.batch_size > 0 && !fs::is_directory(folder_, ec)) {
    return Status::NotFound("The data files folder '" + data + "' has no feature file folder '" +
                            state.settings.library_name +
                            "' (configuration key library_name): nothing can be compared. "
                            "Nothing was changed.");
  }
  return Status::Ok();
}

ExtractProblem NewStyleFamily::extract_problem(const std::string& cell) const {
  // The results line is "name1,name2,score": a comma or a line end in a name
  // would change what the import reads.
  if (cell.empty() || cell.find_first_of(",\r\n") != std::string::npos) {
    return {ExtractProblem::Kind::kRefused, "a results line cannot hold the name"};
  }
  return extract_file_problem(folder_, cell, "feature file");
}

bool NewStyleFamily::write(const std::string& text) {
  out_.write(text.data(), static_cast<std::streamsize>(text.size()));
  return static_cast<bool>(out_);
}

void NewStyleFamily::note_library_problems(const FrameServices& frame,
                                           const std::vector<FeatureProblem>& problems) {
  for (const FeatureProblem& p : problems) {
    ++frame.summary->library_missing;
    if (!p.missing) note_left_out(&frame.summary->unreadable_library_names, p.cell, p.why);
  }
}

Status NewStyleFamily::compare_side(const FrameServices& frame, SideWork& work) {
  const config::AspectEntry& aspect = *work.aspect;
  const std::string& side = work.side;
  ControlPanel& panel = *frame.panel;
  BatchCompareSummary& sum = *frame.summary;
  sum.family = "compnew";
  const auto t0 = Clock::now();
  FeatureLayout layout;
  layout.stripes = stripe_pattern(aspect.pattern);
  layout.has_kinds = extract::feature_file_has_kinds(aspect.pattern, aspect.all_green_value());

  // The pending batch: what the frame listed, less the files that cannot be
  // read, which stay pending.
  FeatureBatch pending(static_cast<int>(work.pending.size()), layout);
  std::vector<FeatureProblem> problems;
  size_t next_pending = 0;
  FillArrays(
      [&](std::string* name) {
        if (next_pending >= work.pending.size()) return false;
        *name = work.pending[next_pending++];
        return true;
      },
      folder_, pending.capacity(), &pending, &problems);
  for (const FeatureProblem& p : problems) work.not_compared.emplace_back(p.cell, p.why);

  out_path_ = work.results_path;
  out_.open(out_path_, std::ios::binary | std::ios::app);
  auto failed = [&](const std::string& what) {
    out_.close();
    return Status::IOError(
        "The results file " + out_path_ + " " + what + "." +
        keep_failed_results(frame.working_folder, aspect.aspect, side, work.letter) +
        " The comparison of " + aspect.aspect + " " + side +
        " was not imported; its extracts stay pending.");
  };
  if (!out_) return failed("cannot be opened for writing");

  const int n = pending.n_files();
  const auto line_out = [&](const std::string& lines) { return write(lines); };
  auto compare = [&](const FeatureBatch& first, const FeatureBatch& second, double done,
                     double share) {
    sum.pairs_compared += compare_batches(first, second, scoring_, line_out, [&](double f) {
      show_progress(panel, done + f * share);
      panel.process_events();
      stop_ = panel.stop_requested();
      return !stop_;
    });
    return static_cast<bool>(out_) && !stop_;
  };

  panel.set_text("lblProgress", new_style_pending_label(n, side, aspect.aspect));
  if (!write("$ pending pending\n")) return failed("cannot be written");
  db::RecordSet& library = *work.library;
  const int total = library.row_count();
  sum.library_extracts += total;
  // The share of the work each pass is: pending x pending against the
  // library's 2 x pending x library.
  const double all = static_cast<double>(n) * n + 2.0 * n * total;
  const double pp_share = all > 0 ? static_cast<double>(n) * n / all : 1.0;
  if (!compare(pending, pending, 0.0, pp_share)) {
    return stop_ ? Status::Cancelled("The batch comparison was stopped during " + aspect.aspect +
                                     " " + side + ".")
                       .with_note(failed("was left incomplete").message())
                 : failed("cannot be written");
  }

  FeatureBatch lib(kLibraryFeatureBatch, layout);
  library.move_first();
  int batch_no = 0;
  double done = pp_share;
  while (!library.eof()) {
    ++batch_no;
    problems.clear();
    const int taken = FillArrays(
        [&](std::string* name) {
          if (library.eof()) return false;
          *name = library.text("cell");
          library.move_next();
          return true;
        },
        folder_, kLibraryFeatureBatch, &lib, &problems);
    note_library_problems(frame, problems);
    sum.library_listed += lib.n_files();
    if (taken == 0 || lib.n_files() == 0) continue;
    panel.set_text("lblProgress", new_style_library_label(n, side, aspect.aspect, batch_no));
    const double share = all > 0 ? static_cast<double>(n) * lib.n_files() / all : 0.0;
    bool ok = write("$ pending library\n") && compare(pending, lib, done, share);
    ok = ok && write("$ library pending\n") && compare(lib, pending, done + share, share);
    done += 2 * share;
    if (!ok) {
      return stop_ ? Status::Cancelled("The batch comparison was stopped during " + aspect.aspect +
                                       " " + side + ".")
                         .with_note(failed("was left incomplete").message())
                   : failed("cannot be written");
    }
  }
  out_.close();
  if (!out_) return failed("cannot be completed");
  sum.compare_seconds += std::chrono::duration<double>(Clock::now() - t0).count();
  return Status::Ok();
}

}  // namespace

std::string new_style_pending_label(int n, const std::string& side, const std::string& aspect) {
  return "compnew of " + std::to_string(n) + " new " + side + " side " + aspect +
         " extracts with each other";
}

std::string new_style_library_label(int n, const std::string& side, const std::string& aspect,
                                    int b) {
  if (n == 1) {
    return "compnew of new extract with batch " + std::to_string(b) + " of library extracts";
  }
  return "compnew of " + std::to_string(n) + " new " + side + " side " + aspect +
         " extracts with batch " + std::to_string(b) + " of library extracts";
}

Status compare_new_style(session::RunState& state, ControlPanel& panel, OperatorDialogs& dialogs,
                         const NewStyleOptions& options, BatchCompareSummary* summary) {
  BatchCompareSummary local;
  BatchCompareSummary* sum = summary != nullptr ? summary : &local;
  NewStyleFamily family(options);
  Status s = run_comparison_frame(state, panel, dialogs, family, sum);
  sum->family = "compnew";
  return s;
}

}  // namespace velmora::matching

// The old-style batch comparison: the family that compares through tarvikx
// (see batch_compare.h), run in the shared frame (batch_frame.h).
//
// Per aspect and side the frame hands over the pending extracts whose
// fingerprint file exists; this family writes them to the pending list, then
// writes the library extracts with a fingerprint file in lists of 199 names
// and runs tarvikx once per list, the first run also comparing the pending
// extracts with each other.
#include "workstation/matching/batch_compare.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "compare/tarvikx.h"
#include "workstation/common/safe_path.h"
#include "workstation/config/folder_file.h"
#include "workstation/matching/batch_compare_helpers.h"
#include "workstation/matching/line_reader.h"
#include "workstation/matching/list_files.h"
#include "workstation/matching/results_import.h"
#include "workstation/matching/run_file_check.h"
#include "workstation/session/aspect_sides.h"

namespace velmora::matching {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The cells whose own fingerprint tarvikx could not read, from its problem
// lines "  Error <n>: Can't read pending file <path>!!" and "Can't read
// pending fingerprint <path>!<n>". Such an extract was never compared.
std::set<std::string> unreadable_pending(const std::string& results_path) {
  std::set<std::string> cells;
  std::unique_ptr<LineReader> in;
  if (!LineReader::open(results_path, &in).ok()) return cells;
  std::string line;
  while (in->read_a_line(&line)) {
    size_t at = line.find("Can't read pending ");
    if (at == std::string::npos) continue;
    at += 19;
    for (const char* kind : {"file ", "fingerprint "}) {
      const std::string k = kind;
      if (line.compare(at, k.size(), k) == 0) {
        std::string path = line.substr(at + k.size());
        const size_t bang = path.rfind('!');
        if (bang != std::string::npos) path.erase(bang);
        while (!path.empty() && path.back() == '!') path.pop_back();
        const size_t slash = path.rfind('/');
        cells.insert(slash == std::string::npos ? path : path.substr(slash + 1));
      }
    }
  }
  return cells;
}

class TarvikFamily : public ComparisonFamily {
 public:
  TarvikFamily(ProcessRunner& runner, const BatchCompareOptions& options)
      : runner_(runner), options_(options) {}

  Status set_up(const FrameServices& frame, FamilySetup* setup) override;
  ExtractProblem extract_problem(const std::string& cell) const override;
  Status pending_taken(const std::string& side, const std::vector<std::string>& listed) override {
    return write_name_list(working_ + pending_list_name(side), listed);
  }
  Status compare_side(const FrameServices& frame, SideWork& work) override;
  std::string completed_label(const std::string& aspect, const std::string& side) const override {
    return matching::completed_label(aspect, side);
  }
  std::set<std::string> not_compared_in(const std::string& results_path) const override {
    return unreadable_pending(results_path);
  }

 private:
  // `within` (may be empty) gets the share of the run done, as tarvikx
  // reports it.
  Status run_tarvikx(const std::string& aspect, const std::string& side, bool first_run, int run,
                     const std::function<void(double)>& within = {});

  ProcessRunner& runner_;
  const BatchCompareOptions& options_;
  const FrameServices* frame_ = nullptr;
  std::string letter_;
  std::string tarvikx_;
  std::string working_;     // ends in '/' or is empty
  std::string oldlib_arg_;  // data folder + "oldlib", as tarvikx is given it
  std::string oldlib_dir_;  // the same with its separator, for the file checks
};

Status TarvikFamily::set_up(const FrameServices& frame, FamilySetup* setup) {
  const session::RunState& state = *frame.state;
  letter_ = state.algorithm_letters.tarvik;
  if (letter_.empty()) {
    return Status::InvalidArgument("Table algy has no row of type 'tarvik': nothing to compare.");
  }
  setup->letter = letter_;
  setup->scores = kTarvikScores;
  setup->making_lists_label = kMakingListsLabel;
  setup->all_completed_label = kAllCompletedLabel;
  setup->beep_at_end = true;
  setup->move_with_import = !later_family_in_run(state.algorithm_letters, FamilyOrder::kTarvik);
  setup->refused_heading =
      "These extracts were left out of the comparison: their cell names cannot be used in the "
      "comparison program's lists or results.";
  setup->missing_heading =
      "These extracts were left out of the comparison: their fingerprint files are missing.";
  setup->unreadable_heading =
      "The comparison program could not read the fingerprints of these extracts.";
  setup->not_compared_why = "the comparison program could not read its fingerprint";

  const int batch = frame.batch_size;
  working_ = frame.working_folder;
  tarvikx_ = options_.tarvikx.empty() ? tarvikx_beside_program() : options_.tarvikx;
  const std::string& data = state.folders.data_folder;
  if (data.empty()) return Status::InvalidArgument("No data files folder is set.");
  // tarvikx runs in the working folder: a data folder given relative to
  // this process's folder is made absolute so that both find the same files.
  std::error_code ec;
  fs::path oldlib = fs::absolute(fs::path(config::normalise_folder(data) + "oldlib"), ec);
  if (ec) return Status::IOError("The data files folder '" + data + "' cannot be resolved.");
  oldlib_arg_ = oldlib.string();
  oldlib_dir_ = oldlib_arg_ + "/";
  // Without the fingerprint folder every extract would be "left out" and
  // the run would compare nothing: a wrong data folder is said at once.
  if (batch > 0 && !fs::is_directory(oldlib, ec)) {
    return Status::NotFound("The data files folder '" + data +
                            "' has no fingerprint folder 'oldlib': nothing can be compared. Check "
                            "the data files folder. Nothing was changed.");
  }

  // tarvikx reads a wrong or missing run file as constants of 0 and
  // compares nothing: each aspect's run file is checked first.
  if (batch > 0) {
    std::set<std::string> run_files;
    for (const session::AspectSide& a : session::aspect_sides(state)) {
      run_files.insert(run_file_for_aspect(a.entry->aspect));
    }
    for (const std::string& name : run_files) {
      std::string path;
      Status s = join_safe(working_, name, &path);
      if (s.ok()) s = check_run_file(path.empty() ? name : path);
      if (s.code() == Status::Code::kNotFound) {
        return s.with_note(" The working folder is " +
                           (state.working_folder.empty() ? std::string("the current folder")
                                                         : state.working_folder) +
                           ". Nothing was changed.");
      }
      if (!s.ok()) return s.with_note(" Nothing was changed.");
    }
  }
  return Status::Ok();
}

ExtractProblem TarvikFamily::extract_problem(const std::string& cell) const {
  const std::string problem = list_name_problem(cell);
  if (!problem.empty()) return {ExtractProblem::Kind::kRefused, problem};
  std::error_code ec;
  if (!fs::is_regular_file(oldlib_dir_ + cell, ec)) {
    return {ExtractProblem::Kind::kMissing, "no fingerprint file"};
  }
  return {};
}

Status TarvikFamily::run_tarvikx(const std::string& aspect, const std::string& side, bool first_run,
                                 int run, const std::function<void(double)>& within) {
  TarvikRun r;
  r.tarvikx = tarvikx_;
  r.oldlib_dir = oldlib_arg_;
  r.working_folder = frame_->state->working_folder;
  r.aspect = aspect;
  r.side = side;
  r.letter = letter_;
  r.run_file = run_file_for_aspect(aspect);
  r.first_run = first_run;
  ProcessCommand command = tarvik_command(r);
  TarvikxProgress progress;
  if (within) {
    command.environment.push_back(std::string(tarvik::kProgressVariable) + "=1");
    command.on_output = [&progress, &within](std::string_view bytes) {
      progress.feed(bytes, within);
    };
  }

  const auto t0 = Clock::now();
  const ProcessOutcome outcome = runner_.start_and_wait(command, frame_->panel);
  frame_->summary->tarvikx_seconds += seconds_since(t0);
  ++frame_->summary->tarvikx_runs;
  if (outcome.succeeded()) return Status::Ok();

  ++frame_->summary->failed_runs;
  const std::string keep_note = keep_failed_results(working_, aspect, side, letter_);
  if (outcome.stopped) {
    return Status::Cancelled("The batch comparison was stopped during " + aspect + " " + side +
                             ". The comparison of " + aspect + " " + side +
                             " was not imported; its extracts stay pending." + keep_note);
  }
  std::string msg = "The comparison program failed on run " + std::to_string(run) + " of " +
                    aspect + " " + side + ": " + outcome.describe() + ".";
  const std::string tail = outcome.output_tail();
  if (!tail.empty()) msg += "\nIt printed:\n" + tail;
  msg += "\nCommand: " + command.text();
  msg += "\nThe comparison of " + aspect + " " + side +
         " is incomplete, so none of its results were imported." + keep_note +
         " Correct the fault and run the batch comparison again.";
  return Status::IOError(msg);
}

Status TarvikFamily::compare_side(const FrameServices& frame, SideWork& work) {
  frame_ = &frame;
  const config::AspectEntry& entry = *work.aspect;
  const std::string& side = work.side;
  const int pending_names = static_cast<int>(work.pending.size());
  db::RecordSet* library = work.library;
  ControlPanel& panel = *frame.panel;
  BatchCompareSummary& sum = *frame.summary;
  const std::string& aspect = entry.aspect;
  const int total = library->row_count();
  const std::string list_path = working_ + library_list_name(side);
  sum.library_extracts += total;
  if (total == 0) {
    Status s = write_name_list(list_path, {});
    if (!s.ok()) return s;
    panel.set_text("lblProgress", no_library_label(pending_names, side, aspect));
    return run_tarvikx(aspect, side, true, 1);
  }
  bool first_run = true;
  int batch_no = 0;
  library->move_first();
  while (!library->eof()) {
    ++batch_no;
    std::vector<std::string> names;
    for (; !library->eof() && static_cast<int>(names.size()) < kLibraryBatchNames;
         library->move_next()) {
      const std::string cell = library->text("cell");
      if (extract_problem(cell).ok()) {
        names.push_back(cell);
      } else {
        ++sum.library_missing;
      }
    }
    sum.library_listed += static_cast<int64_t>(names.size());
    Status s = write_name_list(list_path, names);
    if (!s.ok()) return s;
    panel.set_text("lblProgress", library_batch_label(pending_names, side, aspect, batch_no));
    const double done_before = static_cast<double>(batch_no - 1) * kLibraryBatchNames;
    const double in_run = static_cast<double>(names.size());
    s = run_tarvikx(aspect, side, first_run, batch_no,
                    [&](double f) { show_progress(panel, (done_before + f * in_run) / total); });
    if (!s.ok()) return s;
    first_run = false;
    show_progress(panel, (static_cast<double>(batch_no - 1) * kLibraryBatchNames +
                          static_cast<double>(names.size())) /
                             total);
  }
  return Status::Ok();
}

}  // namespace

Status batch_compare_old_style(session::RunState& state, ControlPanel& panel,
                               OperatorDialogs& dialogs, ProcessRunner& runner,
                               const BatchCompareOptions& options, BatchCompareSummary* summary) {
  TarvikFamily family(runner, options);
  return run_comparison_frame(state, panel, dialogs, family, summary);
}

}  // namespace velmora::matching

// The old-style batch comparison: the family that compares through tarvikx
// (see batch_compare.h), run in the shared frame (batch_frame.h).
//
// Per aspect and side the frame hands over the pending extracts whose
// fingerprint file exists; this family writes them to the pending list, then
// writes the library extracts with a fingerprint file in lists of 199 names
// and runs tarvikx once per list, the first run also comparing the pending
// extracts with each other; with jobs above 1 the lists run side by side and
// their results files are joined in run order.
#include "workstation/matching/batch_compare.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
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
  TarvikRun tarvik_run(const std::string& aspect, const std::string& side, bool first_run) const;
  // `within` (may be empty) gets the share of the run done, as tarvikx
  // reports it.
  Status run_tarvikx(const std::string& aspect, const std::string& side, bool first_run, int run,
                     const std::function<void(double)>& within = {});
  // Writes `names` to the side's library list and runs tarvikx on it as
  // library batch `batch_no`, of `total` library extracts selected.
  Status run_list(const std::string& aspect, const std::string& side, int pending_names,
                  const std::vector<std::string>& names, int batch_no, int total);
  // The batches of a side side by side (see batch_compare.h).
  Status run_side_by_side(const std::string& aspect, const std::string& side, int pending_names,
                          const std::vector<std::vector<std::string>>& lists, int total);
  // Appends the results files of runs 1..runs, in run order, to the side's
  // results file. `complete`: each run must have left one; otherwise those
  // that did are joined and, when none did, the side's file is not made.
  Status join_run_results(const std::string& aspect, const std::string& side, int runs,
                          bool complete) const;
  // Removes the run files of runs 1..runs, and those of later runs that a
  // comparison which died before its clean-up left behind.
  void remove_run_files(const std::string& aspect, const std::string& side, int runs) const;
  // Why a comparison of `aspect` and `side` failed on run `run`, for the
  // operator; `beside` when other runs went side by side with it.
  std::string failure_message(const std::string& aspect, const std::string& side, int run,
                              const ProcessOutcome& outcome, const ProcessCommand& command,
                              const std::string& keep_note, bool beside) const;
  Status stopped_status(const std::string& aspect, const std::string& side,
                        const std::string& keep_note) const;

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
  if (options_.jobs < 1 || options_.jobs > kMaxJobs) {
    return Status::InvalidArgument("The comparison programs to run at once must be 1 to " +
                                   std::to_string(kMaxJobs) + ", not " +
                                   std::to_string(options_.jobs) + ". Nothing was changed.");
  }
  if (options_.jobs > 1 && !runner_.runs_side_by_side()) {
    return Status::InvalidArgument(
        "This process runner starts one comparison program at a time, so " +
        std::to_string(options_.jobs) + " cannot run at once: ask for 1. Nothing was changed.");
  }
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

TarvikRun TarvikFamily::tarvik_run(const std::string& aspect, const std::string& side,
                                   bool first_run) const {
  TarvikRun r;
  r.tarvikx = tarvikx_;
  r.oldlib_dir = oldlib_arg_;
  r.working_folder = frame_->state->working_folder;
  r.aspect = aspect;
  r.side = side;
  r.letter = letter_;
  r.run_file = run_file_for_aspect(aspect);
  r.first_run = first_run;
  return r;
}

std::string TarvikFamily::failure_message(const std::string& aspect, const std::string& side,
                                          int run, const ProcessOutcome& outcome,
                                          const ProcessCommand& command,
                                          const std::string& keep_note, bool beside) const {
  std::string msg = "The comparison program failed on run " + std::to_string(run) + " of " +
                    aspect + " " + side + ": " + outcome.describe() + ".";
  const std::string tail = outcome.output_tail();
  if (!tail.empty()) msg += "\nIt printed:\n" + tail;
  msg += "\nCommand: " + command.text();
  if (beside) msg += "\nThe runs beside it were ended.";
  msg += "\nThe comparison of " + aspect + " " + side +
         " is incomplete, so none of its results were imported." + keep_note +
         " Correct the fault and run the batch comparison again.";
  return msg;
}

Status TarvikFamily::stopped_status(const std::string& aspect, const std::string& side,
                                    const std::string& keep_note) const {
  return Status::Cancelled("The batch comparison was stopped during " + aspect + " " + side +
                           ". The comparison of " + aspect + " " + side +
                           " was not imported; its extracts stay pending." + keep_note);
}

Status TarvikFamily::run_tarvikx(const std::string& aspect, const std::string& side, bool first_run,
                                 int run, const std::function<void(double)>& within) {
  ProcessCommand command = tarvik_command(tarvik_run(aspect, side, first_run));
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
  if (outcome.stopped) return stopped_status(aspect, side, keep_note);
  return Status::IOError(failure_message(aspect, side, run, outcome, command, keep_note, false));
}

Status TarvikFamily::run_list(const std::string& aspect, const std::string& side, int pending_names,
                              const std::vector<std::string>& names, int batch_no, int total) {
  ControlPanel& panel = *frame_->panel;
  Status s = write_name_list(working_ + library_list_name(side), names);
  if (!s.ok()) return s;
  panel.set_text("lblProgress", library_batch_label(pending_names, side, aspect, batch_no));
  const double done_before = static_cast<double>(batch_no - 1) * kLibraryBatchNames;
  const double in_run = static_cast<double>(names.size());
  s = run_tarvikx(aspect, side, batch_no == 1, batch_no,
                  [&](double f) { show_progress(panel, (done_before + f * in_run) / total); });
  if (!s.ok()) return s;
  show_progress(panel, (done_before + in_run) / total);
  return Status::Ok();
}

void TarvikFamily::remove_run_files(const std::string& aspect, const std::string& side,
                                    int runs) const {
  for (int run = 1;; ++run) {
    std::error_code ec;
    const bool list = fs::remove(working_ + run_library_list_name(side, run), ec);
    const bool results =
        fs::remove(working_ + run_results_file_name(aspect, side, letter_, run), ec);
    if (run > runs && !list && !results) break;
  }
}

Status TarvikFamily::join_run_results(const std::string& aspect, const std::string& side, int runs,
                                      bool complete) const {
  const std::string target = working_ + results_file_name(aspect, side, letter_);
  std::ofstream out;
  std::vector<char> buffer(1 << 16);
  for (int run = 1; run <= runs; ++run) {
    const std::string part = working_ + run_results_file_name(aspect, side, letter_, run);
    std::ifstream in(part, std::ios::binary);
    if (!in) {
      if (!complete) continue;
      return Status::IOError("Run " + std::to_string(run) + " of " + aspect + " " + side +
                             " ended well but left no results file " + part + ".");
    }
    if (!out.is_open()) {
      // Appending, as the runs one after another do.
      out.open(target, std::ios::binary | std::ios::app);
      if (!out) return Status::IOError("The results file " + target + " cannot be opened.");
    }
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
      out.write(buffer.data(), in.gcount());
    }
    if (in.bad() || !out) {
      return Status::IOError("The results of run " + std::to_string(run) + " (" + part +
                             ") could not be added to " + target + ".");
    }
  }
  if (out.is_open()) {
    out.close();
    if (!out) return Status::IOError("The results file " + target + " could not be written.");
  }
  return Status::Ok();
}

Status TarvikFamily::run_side_by_side(const std::string& aspect, const std::string& side,
                                      int pending_names,
                                      const std::vector<std::vector<std::string>>& lists,
                                      int total) {
  ControlPanel& panel = *frame_->panel;
  BatchCompareSummary& sum = *frame_->summary;
  const int runs = static_cast<int>(lists.size());
  // tarvikx appends: a results file of a run that died before its clean-up
  // would end up in this comparison.
  remove_run_files(aspect, side, runs);

  std::vector<ProcessCommand> commands;
  std::vector<TarvikxProgress> readers(lists.size());
  std::vector<double> share(lists.size(), 0.0);  // of each run, as its program reports it
  auto show = [&] {
    double done = 0;
    for (size_t r = 0; r < lists.size(); ++r)
      done += share[r] * static_cast<double>(lists[r].size());
    show_progress(panel, done / total);
  };
  for (int run = 1; run <= runs; ++run) {
    const size_t r = static_cast<size_t>(run - 1);
    Status s = write_name_list(working_ + run_library_list_name(side, run), lists[r]);
    if (!s.ok()) {
      remove_run_files(aspect, side, runs);
      return s;
    }
    TarvikRun t = tarvik_run(aspect, side, run == 1);
    t.library_list = run_library_list_name(side, run);
    t.results_file = run_results_file_name(aspect, side, letter_, run);
    ProcessCommand c = tarvik_command(t);
    c.environment.push_back(std::string(tarvik::kProgressVariable) + "=1");
    c.on_output = [&, r](std::string_view bytes) {
      readers[r].feed(bytes, [&](double f) {
        share[r] = f;
        show();
      });
    };
    commands.push_back(std::move(c));
  }
  panel.set_text("lblProgress", library_batches_label(pending_names, side, aspect, runs,
                                                      std::min(options_.jobs, runs)));

  const auto t0 = Clock::now();
  const std::vector<ProcessOutcome> outcomes =
      runner_.start_all_and_wait(commands, options_.jobs, &panel);
  sum.tarvikx_seconds += seconds_since(t0);
  bool all_succeeded = true, stopped = false;
  int failed = 0;  // the run that failed first on its own (from 1), 0 when none
  for (int run = 1; run <= runs; ++run) {
    const ProcessOutcome& o = outcomes[static_cast<size_t>(run - 1)];
    const bool tried = o.started || (!o.cut_short && !o.stopped);
    if (tried) ++sum.tarvikx_runs;
    if (o.succeeded()) continue;
    all_succeeded = false;
    if (tried) ++sum.failed_runs;
    stopped = stopped || o.stopped;
    if (failed == 0 && tried && !o.cut_short && !o.stopped) failed = run;
  }

  const Status joined = join_run_results(aspect, side, runs, all_succeeded);
  remove_run_files(aspect, side, runs);
  if (all_succeeded && joined.ok()) {
    double listed = 0;
    for (const std::vector<std::string>& names : lists) listed += static_cast<double>(names.size());
    show_progress(panel, listed / total);
    return Status::Ok();
  }
  const std::string keep_note = keep_failed_results(working_, aspect, side, letter_);
  if (stopped) return stopped_status(aspect, side, keep_note);
  if (failed == 0) {
    return Status::IOError(joined.message() + "\nThe comparison of " + aspect + " " + side +
                           " is incomplete, so none of its results were imported." + keep_note);
  }
  const size_t f = static_cast<size_t>(failed - 1);
  return Status::IOError(
      failure_message(aspect, side, failed, outcomes[f], commands[f], keep_note, true));
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
  sum.library_extracts += total;
  if (total == 0) {
    Status s = write_name_list(working_ + library_list_name(side), {});
    if (!s.ok()) return s;
    panel.set_text("lblProgress", no_library_label(pending_names, side, aspect));
    return run_tarvikx(aspect, side, true, 1);
  }
  // The next batch of up to kLibraryBatchNames library extracts the lists
  // can hold; the others are counted as left out.
  auto next_batch = [&] {
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
    return names;
  };
  library->move_first();
  if (options_.jobs > 1) {
    std::vector<std::vector<std::string>> lists;
    while (!library->eof()) lists.push_back(next_batch());
    if (lists.size() > 1) return run_side_by_side(aspect, side, pending_names, lists, total);
    return run_list(aspect, side, pending_names, lists.front(), 1, total);
  }
  for (int batch_no = 1; !library->eof(); ++batch_no) {
    Status s = run_list(aspect, side, pending_names, next_batch(), batch_no, total);
    if (!s.ok()) return s;
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

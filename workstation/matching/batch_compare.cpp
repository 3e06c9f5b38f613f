// The old-style batch comparison (see batch_compare.h).
//
// One BatchComparison object serves one call. Per aspect and side it reads
// the pending rows (a few hundred at most: the batch size is capped at 400
// by the window) and the library rows (thousands), and touches the disk once
// per extract to see whether its fingerprint file is there. The distribution
// rows of one aspect and side are made in one transaction, which is
// committed before tarvikx runs, since the import needs the database free of
// open transactions.
#include "workstation/matching/batch_compare.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <system_error>
#include <utility>
#include <vector>

#include "compare/tarvikx.h"
#include "workstation/common/control_panel.h"
#include "workstation/common/operator_dialogs.h"
#include "workstation/common/safe_path.h"
#include "workstation/config/folder_file.h"
#include "workstation/db/auto_match.h"
#include "workstation/db/statements.h"
#include "workstation/matching/batch_compare_helpers.h"
#include "workstation/matching/batch_locks.h"
#include "workstation/matching/line_reader.h"
#include "workstation/matching/list_files.h"
#include "workstation/matching/results_import.h"
#include "workstation/matching/run_file_check.h"
#include "workstation/session/aspect_sides.h"

namespace velmora::matching {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::string opposite_sex(const std::string& gender) {
  if (gender == "Female") return "Male";
  if (gender == "Male") return "Female";
  return "unset";
}

void note(std::vector<std::string>* list, const std::string& cell, const std::string& why) {
  if (list->size() < BatchCompareSummary::kMaxListed) {
    list->push_back("\"" + cell.substr(0, 80) + "\": " + why);
  }
}

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

std::vector<std::string> read_name_list(const std::string& path) {
  std::vector<std::string> names;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) names.push_back(line);
  }
  return names;
}

class BatchComparison {
 public:
  BatchComparison(session::RunState& state, ControlPanel& panel, OperatorDialogs& dialogs,
                  ProcessRunner& runner, const BatchCompareOptions& options,
                  BatchCompareSummary* summary)
      : state_(state),
        panel_(panel),
        dialogs_(dialogs),
        runner_(runner),
        options_(options),
        sum_(*summary) {}

  Status run();

 private:
  enum class SideResult { kNoPending, kNothingListed, kCompared, kProgramEnded };

  Status set_up();
  Status compare_side(const config::AspectEntry& aspect, const std::string& side,
                      SideResult* result);
  Status select_pending(const config::AspectEntry& aspect, const std::string& side,
                        db::RecordSet* rows, std::string* opposite);
  Status write_pending_list(const std::string& side, db::RecordSet* rows);
  Status ensure_distribution_row(const std::string& filename);
  Status select_library(const config::AspectEntry& aspect, const std::string& side,
                        const std::string& opposite, db::RecordSet* rows);
  Status run_library_batches(const config::AspectEntry& aspect, const std::string& side,
                             int pending_names, db::RecordSet* library);
  // `within` (may be empty) gets the share of the run done, as tarvikx
  // reports it.
  Status run_tarvikx(const std::string& aspect, const std::string& side, bool first_run, int run,
                     const std::function<void(double)>& within = {});
  Status import_and_move(const std::string& aspect, const std::string& side,
                         const std::vector<std::string>& compared);
  Status finish_multi_core_side(const std::string& aspect, const std::string& side);
  Status import_waiting_results(const std::string& aspect, const std::string& side);
  Status set_aside(const std::string& aspect, const std::string& side, const std::string& why);
  Status compare_all();
  void report_left_out();
  // Empty when `cell` can be listed and its fingerprint file exists, else
  // why not.
  std::string fingerprint_problem(const std::string& cell) const;
  Status results_path(const std::string& aspect, const std::string& side, std::string* path);

  session::RunState& state_;
  ControlPanel& panel_;
  OperatorDialogs& dialogs_;
  ProcessRunner& runner_;
  const BatchCompareOptions& options_;
  BatchCompareSummary& sum_;
  BatchLocks locks_;

  std::string letter_;
  std::string tarvikx_;
  std::string working_;     // ends in '/' or is empty
  std::string oldlib_arg_;  // data folder + "oldlib", as tarvikx is given it
  std::string oldlib_dir_;  // the same with its separator, for the file checks
  int batch_ = 0;
  bool multi_core_ = false;
  bool real_time_ = false;
  bool restricted_ = false;
  int64_t taken_ = 0;                // pending extracts taken, listed or not
  std::vector<std::string> listed_;  // pending names of the side being compared
  ScoringOptions scoring_;
  std::unique_ptr<db::Statement> insert_distribution_;
  std::unique_ptr<db::Statement> move_to_visual_;
};

Status BatchComparison::set_up() {
  if (!state_.ready_to_compare()) {
    return Status::InvalidArgument(
        "The batch comparison needs an open database, the statements and the side letters Start "
        "prepares.");
  }
  letter_ = state_.algorithm_letters.tarvik;
  if (letter_.empty()) {
    return Status::InvalidArgument("Table algy has no row of type 'tarvik': nothing to compare.");
  }
  const session::RunOptions& o = state_.options;
  batch_ = o.batch_size;
  multi_core_ = o.multi_core;
  real_time_ = o.real_time;
  restricted_ = o.restricted;

  scoring_.quick = o.quick;
  scoring_.standardise = o.standardise;
  scoring_.test_run = state_.test_run;
  if (scoring_.standardise) {
    Status s = parse_prior_match(o.prior_match, &scoring_.prior_match);
    if (!s.ok()) return s;
  }

  working_ = config::normalise_folder(state_.working_folder);
  tarvikx_ = options_.tarvikx.empty() ? tarvikx_beside_program() : options_.tarvikx;
  const std::string& data = state_.folders.data_folder;
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
  if (batch_ > 0 && !fs::is_directory(oldlib, ec)) {
    return Status::NotFound("The data files folder '" + data +
                            "' has no fingerprint folder 'oldlib': nothing can be compared. Check "
                            "the data files folder. Nothing was changed.");
  }

  // tarvikx reads a wrong or missing run file as constants of 0 and
  // compares nothing: each aspect's run file is checked first.
  if (batch_ > 0) {
    std::set<std::string> run_files;
    for (const session::AspectSide& a : session::aspect_sides(state_)) {
      run_files.insert(run_file_for_aspect(a.entry->aspect));
    }
    for (const std::string& name : run_files) {
      std::string path;
      Status s = join_safe(working_, name, &path);
      if (s.ok()) s = check_run_file(path.empty() ? name : path);
      if (s.code() == Status::Code::kNotFound) {
        return s.with_note(" The working folder is " +
                           (state_.working_folder.empty() ? std::string("the current folder")
                                                          : state_.working_folder) +
                           ". Nothing was changed.");
      }
      if (!s.ok()) return s.with_note(" Nothing was changed.");
    }
  }

  Status s =
      prepare_statement(state_.db(), db::insert_distribution_statement(), &insert_distribution_);
  if (!s.ok()) return s;
  return state_.db()->prepare("move_compared_to_visual",
                              "UPDATE cells SET AutoMatch = :pTo WHERE cell = :pCell AND "
                              "AutoMatch = :pFrom",
                              &move_to_visual_);
}

Status BatchComparison::results_path(const std::string& aspect, const std::string& side,
                                     std::string* path) {
  return join_safe(working_, results_file_name(aspect, side, letter_), path);
}

std::string BatchComparison::fingerprint_problem(const std::string& cell) const {
  const std::string problem = list_name_problem(cell);
  if (!problem.empty()) return problem;
  std::error_code ec;
  if (!fs::is_regular_file(oldlib_dir_ + cell, ec)) return "no fingerprint file";
  return "";
}

Status BatchComparison::select_pending(const config::AspectEntry& aspect, const std::string& side,
                                       db::RecordSet* rows, std::string* opposite) {
  *opposite = opposite_sex("");
  db::Statement* st = state_.statement(real_time_ ? "pending_cell" : "pending_cells");
  Status s = st->set("pAspect_letter", aspect.aspect_letter);
  if (s.ok()) s = st->set("pSide", side);
  if (s.ok() && real_time_) s = st->set("pCell", state_.current_cell);
  if (s.ok()) s = st->open(rows);
  if (!s.ok()) return s;
  rows->move_first();
  if (real_time_ && !rows->eof()) *opposite = opposite_sex(rows->text("gender"));
  return Status::Ok();
}

Status BatchComparison::ensure_distribution_row(const std::string& filename) {
  db::Statement* find = state_.statement("distribution_of_file");
  Status s = find->set("pFilename", filename);
  db::RecordSet found;
  if (s.ok()) s = find->open(&found);
  if (!s.ok() || found.row_count() > 0) return s;
  s = insert_distribution_->set("pFilename", filename);
  if (s.ok()) s = insert_distribution_->execute();
  return s;
}

Status BatchComparison::select_library(const config::AspectEntry& aspect, const std::string& side,
                                       const std::string& opposite, db::RecordSet* rows) {
  const std::string name = db::library_statement_name(state_.statements->options(), restricted_);
  db::Statement* st = state_.statement(name);
  Status s = st->set("pAspect_letter", aspect.aspect_letter);
  if (s.ok()) s = st->set("pSide", side);
  if (s.ok() && name == "library_cells_by_sex") s = st->set("pOppositeSex", opposite);
  if (s.ok() && name == "library_cells_at_site") s = st->set("pSite", state_.chosen_site);
  if (s.ok() && name == "library_cells_at_landscape") {
    s = st->set("pLandscape", state_.chosen_landscape);
  }
  if (s.ok()) s = st->open(rows);
  return s;
}

Status BatchComparison::run_tarvikx(const std::string& aspect, const std::string& side,
                                    bool first_run, int run,
                                    const std::function<void(double)>& within) {
  TarvikRun r;
  r.tarvikx = tarvikx_;
  r.oldlib_dir = oldlib_arg_;
  r.working_folder = state_.working_folder;
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
  const ProcessOutcome outcome = runner_.start_and_wait(command, &panel_);
  sum_.tarvikx_seconds += seconds_since(t0);
  ++sum_.tarvikx_runs;
  if (outcome.succeeded()) return Status::Ok();

  ++sum_.failed_runs;
  std::string results, kept;
  Status s = results_path(aspect, side, &results);
  std::string keep_note;
  std::error_code ec;
  if (s.ok() && fs::exists(results, ec)) {
    kept = working_ + failed_results_file_name(aspect, side, letter_);
    fs::rename(results, kept, ec);
    keep_note =
        ec ? " What the runs wrote stays in " + results +
                 "; delete it before the next import (it could not be renamed: " + ec.message() +
                 ")."
           : " What the runs wrote is kept in " + kept + ".";
  }
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

Status BatchComparison::run_library_batches(const config::AspectEntry& entry,
                                            const std::string& side, int pending_names,
                                            db::RecordSet* library) {
  const std::string& aspect = entry.aspect;
  const int total = library->row_count();
  const std::string list_path = working_ + library_list_name(side);
  sum_.library_extracts += total;
  if (total == 0) {
    Status s = write_name_list(list_path, {});
    if (!s.ok()) return s;
    panel_.set_text("lblProgress", no_library_label(pending_names, side, aspect));
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
      if (fingerprint_problem(cell).empty()) {
        names.push_back(cell);
      } else {
        ++sum_.library_missing;
      }
    }
    sum_.library_listed += static_cast<int64_t>(names.size());
    Status s = write_name_list(list_path, names);
    if (!s.ok()) return s;
    panel_.set_text("lblProgress", library_batch_label(pending_names, side, aspect, batch_no));
    const double done_before = static_cast<double>(batch_no - 1) * kLibraryBatchNames;
    const double in_run = static_cast<double>(names.size());
    s = run_tarvikx(aspect, side, first_run, batch_no,
                    [&](double f) { show_progress(panel_, (done_before + f * in_run) / total); });
    if (!s.ok()) return s;
    first_run = false;
    show_progress(panel_, (static_cast<double>(batch_no - 1) * kLibraryBatchNames +
                           static_cast<double>(names.size())) /
                              total);
  }
  return Status::Ok();
}

Status BatchComparison::write_pending_list(const std::string& side, db::RecordSet* rows) {
  listed_.clear();
  {
    db::Transaction tx(state_.db());
    if (!tx.begun().ok()) return tx.begun();
    int taken = 0;
    for (rows->move_first(); !rows->eof() && taken < batch_; rows->move_next()) {
      ++taken;
      const std::string cell = rows->text("cell");
      const std::string problem = fingerprint_problem(cell);
      if (problem.empty()) {
        listed_.push_back(cell);
      } else {
        ++sum_.pending_missing;
        note(problem == "no fingerprint file" ? &sum_.missing_names : &sum_.refused_names, cell,
             problem);
      }
      Status s = ensure_distribution_row(cell + "." + letter_);
      if (!s.ok()) return s;
    }
    taken_ += taken;
    Status s = tx.commit();
    if (!s.ok()) return s;
  }
  sum_.pending_listed += static_cast<int64_t>(listed_.size());
  return write_name_list(working_ + pending_list_name(side), listed_);
}

Status BatchComparison::compare_side(const config::AspectEntry& entry, const std::string& side,
                                     SideResult* result) {
  *result = SideResult::kNoPending;
  const std::string& aspect = entry.aspect;
  db::RecordSet pending;
  std::string opposite;
  Status s = select_pending(entry, side, &pending, &opposite);
  if (!s.ok()) return s;
  if (pending.row_count() == 0) return Status::Ok();

  std::string results;
  s = results_path(aspect, side, &results);
  if (!s.ok()) return s;
  std::error_code ec;
  if (fs::exists(results, ec)) {
    if (multi_core_) {
      // Appending to results that were never imported would mix two
      // comparisons in one file.
      dialogs_.message(previous_results_message(aspect, side, letter_));
      dialogs_.end_program();
      sum_.stopped_at_previous_results = true;
      *result = SideResult::kProgramEnded;
      return Status::Ok();
    }
    // A complete comparison of a copy under "use multiple cores" is
    // imported first; anything else on disk is an interrupted run's.
    s = import_waiting_results(aspect, side);
    if (!s.ok()) return s;
    s = select_pending(entry, side, &pending, &opposite);
    if (!s.ok()) return s;
    if (pending.row_count() == 0) return Status::Ok();
  }

  panel_.set_text("lblProgress", kMakingListsLabel);
  s = write_pending_list(side, &pending);
  if (!s.ok()) return s;
  ++sum_.aspect_sides;
  if (listed_.empty()) {
    *result = SideResult::kNothingListed;
    return Status::Ok();
  }
  *result = SideResult::kCompared;

  db::RecordSet library;
  s = select_library(entry, side, opposite, &library);
  if (!s.ok()) return s;
  s = run_library_batches(entry, side, static_cast<int>(listed_.size()), &library);
  if (!s.ok()) return s;
  panel_.set_text("lblProgress", completed_label(aspect, side));
  return Status::Ok();
}

// One transaction: the results, their distributions and candidates, and the
// move of the extracts compared into them from P to V. The results file and
// its list go only after the commit.
Status BatchComparison::import_and_move(const std::string& aspect, const std::string& side,
                                        const std::vector<std::string>& compared) {
  std::string results;
  Status s = results_path(aspect, side, &results);
  if (!s.ok()) return s;
  std::error_code ec;
  if (!fs::exists(results, ec)) {
    return Status::IOError("The comparison of " + aspect + " " + side + " compared " +
                           std::to_string(compared.size()) +
                           " pending extracts but left no results file " + results +
                           ". Nothing was imported; the extracts stay pending.");
  }
  const std::set<std::string> unreadable = unreadable_pending(results);
  ImportRequest request;
  request.working_folder = working_;
  request.aspect = aspect;
  request.side = side;
  request.letter = letter_;
  request.options = scoring_;
  request.delete_after_commit = true;
  request.cells = &state_.cells;
  // The window repaints between the import's steps.
  request.progress = [this](const std::string& text) {
    panel_.set_text("lblProgress", text);
    panel_.process_events();
  };
  // The list that marks a waiting results file complete is taken away as
  // the last step before the commit: should the process die after the
  // commit but before the file is deleted, the file is then found without
  // its list and set aside, never imported a second time.
  const std::string list = working_ + compared_list_file_name(aspect, side, letter_);
  const std::string list_taken = list + ".importing";
  bool list_moved = false;
  int64_t moved = 0;
  request.before_commit = [&]() {
    for (const std::string& cell : compared) {
      if (unreadable.count(cell) > 0) continue;
      int changed = 0;
      Status m = move_to_visual_->set("pTo", db::to_string(db::AutoMatch::kVisual));
      if (m.ok()) m = move_to_visual_->set("pFrom", db::to_string(db::AutoMatch::kPending));
      if (m.ok()) m = move_to_visual_->set("pCell", cell);
      if (m.ok()) m = move_to_visual_->execute(&changed);
      if (!m.ok()) return m;
      moved += changed;
    }
    std::error_code rename_error;
    if (fs::exists(list, rename_error)) {
      fs::rename(list, list_taken, rename_error);
      if (rename_error) {
        return Status::IOError("The list " + list + " cannot be renamed: " +
                               rename_error.message() + ". Nothing was imported.");
      }
      list_moved = true;
    }
    return Status::Ok();
  };
  ImportSummary imported;
  const auto t0 = Clock::now();
  s = import_results(state_.db(), state_.statements.get(), request, &imported);
  sum_.import_seconds += seconds_since(t0);
  if (list_moved) {
    if (imported.committed) {
      fs::remove(list_taken, ec);
    } else {
      fs::rename(list_taken, list, ec);  // nothing was stored: the file waits as before
    }
  }
  if (!s.ok()) return s;
  ++sum_.imports;
  sum_.moved_to_v += moved;
  sum_.result_lines += imported.result_lines;
  sum_.skipped_lines += imported.skipped_lines();
  sum_.staged += imported.staged;
  sum_.temp_rows += imported.standardised.temp_rows;
  for (const std::string& cell : compared) {
    if (unreadable.count(cell) == 0) continue;
    ++sum_.pending_unreadable;
    note(&sum_.unreadable_names, cell, "the comparison program could not read its fingerprint");
  }
  const std::string problems = imported.problems_message();
  if (!problems.empty()) dialogs_.message(problems, Buttons::kOk, Icon::kExclamation);
  return Status::Ok();
}

// Under "use multiple cores" the import waits for a run with batch size 0;
// the list of what was compared marks the results file complete.
Status BatchComparison::finish_multi_core_side(const std::string& aspect, const std::string& side) {
  return write_name_list(working_ + compared_list_file_name(aspect, side, letter_), listed_);
}

Status BatchComparison::set_aside(const std::string& aspect, const std::string& side,
                                  const std::string& why) {
  std::string results;
  Status s = results_path(aspect, side, &results);
  if (!s.ok()) return s;
  const std::string kept = working_ + failed_results_file_name(aspect, side, letter_);
  std::error_code ec;
  fs::rename(results, kept, ec);
  if (ec) {
    return Status::IOError("The results file " + results + " " + why +
                           ", and it cannot be set aside as " + kept + ": " + ec.message() +
                           ". Delete or move it, then run the batch comparison again.");
  }
  dialogs_.message("The results file " + results + " " + why +
                       ". It was not imported and is kept as " + kept +
                       "; its extracts stay pending and are compared again.",
                   Buttons::kOk, Icon::kExclamation);
  return Status::Ok();
}

Status BatchComparison::import_waiting_results(const std::string& aspect, const std::string& side) {
  std::string results;
  Status s = results_path(aspect, side, &results);
  if (!s.ok()) return s;
  std::error_code ec;
  if (!fs::exists(results, ec)) return Status::Ok();
  const std::string list = working_ + compared_list_file_name(aspect, side, letter_);
  if (!fs::exists(list, ec)) {
    return set_aside(aspect, side,
                     "has no list of the extracts compared into it: its comparison did not end");
  }
  return import_and_move(aspect, side, read_name_list(list));
}

void BatchComparison::report_left_out() {
  struct Group {
    const std::vector<std::string>* names;
    const char* what;
  };
  const Group groups[] = {
      {&sum_.refused_names,
       "These extracts were left out of the comparison: their cell names cannot be used in the "
       "comparison program's lists or results."},
      {&sum_.missing_names,
       "These extracts were left out of the comparison: their fingerprint files are missing."},
      {&sum_.unreadable_names,
       "The comparison program could not read the fingerprints of these extracts."}};
  for (const Group& g : groups) {
    if (g.names->empty()) continue;
    std::string msg = g.what;
    for (const std::string& n : *g.names) msg += "\n  " + n;
    msg += "\nThey stay pending and are taken again by the next batch comparison.";
    dialogs_.message(msg, Buttons::kOk, Icon::kExclamation);
  }
}

Status BatchComparison::run() {
  Status s = set_up();
  if (!s.ok()) return s;
  const std::vector<session::AspectSide> walk = session::aspect_sides(state_);
  s = locks_.take(state_, walk);
  if (!s.ok()) return s;
  s = compare_all();
  if (!s.ok() && sum_.moved_to_v > 0) {
    s = s.with_note("\n\n" + std::to_string(sum_.moved_to_v) +
                    " extracts compared and imported before the failure were moved on to "
                    "visual checking with their results.");
  }
  return s;
}

Status BatchComparison::compare_all() {
  show_progress(panel_, 0.0);
  for (const session::AspectSide& walk : session::aspect_sides(state_)) {
    const config::AspectEntry& entry = *walk.entry;
    const std::string& side = walk.side;
    std::string unused;
    Status s = results_path(entry.aspect, side, &unused);
    if (!s.ok()) return s;
    if (batch_ == 0) {
      s = import_waiting_results(entry.aspect, side);
      if (!s.ok()) return s;
      continue;
    }
    SideResult result;
    s = compare_side(entry, side, &result);
    if (!s.ok()) return s;
    if (result == SideResult::kProgramEnded) return Status::Ok();
    if (result != SideResult::kCompared) continue;
    s = multi_core_ ? finish_multi_core_side(entry.aspect, side)
                    : import_and_move(entry.aspect, side, listed_);
    if (!s.ok()) return s;
  }
  panel_.set_text("lblProgress", kAllCompletedLabel);
  show_progress(panel_, 1.0);
  report_left_out();
  if (taken_ > 0 && sum_.pending_listed == 0) {
    return Status::NotFound(
        "None of the " + std::to_string(taken_) +
        " pending extracts taken could be compared (see the extracts left out): nothing was "
        "compared and nothing moved. Check the data files folder '" +
        state_.folders.data_folder + "'.");
  }
  for (int i = 0; i < 3; ++i) dialogs_.beep();
  return Status::Ok();
}

}  // namespace

std::string format_batch_summary(const BatchCompareSummary& c, int64_t moved_afterwards) {
  std::ostringstream s;
  s << "  aspects and sides compared: " << c.aspect_sides << "\n";
  s << "  pending extracts compared:  " << c.pending_listed << " (" << c.pending_missing
    << " left out: no fingerprint file or an unusable name)\n";
  s << "  library extracts:           " << c.library_extracts << " selected, " << c.library_listed
    << " listed, " << c.library_missing << " left out: no fingerprint file\n";
  s << "  tarvikx runs:               " << c.tarvikx_runs << " (" << c.failed_runs << " failed)\n";
  s << "  results files imported:     " << c.imports << "\n";
  s << "  result lines imported:      " << c.result_lines << "\n";
  s << "  skipped lines:              " << c.skipped_lines << "\n";
  s << "  pairs staged:               " << c.staged << "\n";
  s << "  temp rows:                  " << c.temp_rows << "\n";
  s << "  extracts moved to V:        " << moved_afterwards + c.moved_to_v << "\n";
  // Every extract that was not compared is named, so none is lost unseen.
  for (const auto* names : {&c.refused_names, &c.missing_names, &c.unreadable_names}) {
    for (const std::string& n : *names) s << "  left pending: " << n << "\n";
  }
  if (c.pending_unreadable > 0) {
    s << "  unreadable fingerprints:    " << c.pending_unreadable << " (left pending)\n";
  }
  return s.str();
}

std::string compared_list_file_name(const std::string& aspect, const std::string& side,
                                    const std::string& letter) {
  return results_file_name(aspect, side, letter) + ".listed";
}

std::string failed_results_file_name(const std::string& aspect, const std::string& side,
                                     const std::string& letter) {
  return results_file_name(aspect, side, letter) + ".failed";
}

Status batch_compare_old_style(session::RunState& state, ControlPanel& panel,
                               OperatorDialogs& dialogs, ProcessRunner& runner,
                               const BatchCompareOptions& options, BatchCompareSummary* summary) {
  BatchCompareSummary local;
  BatchCompareSummary* sum = summary != nullptr ? summary : &local;
  *sum = BatchCompareSummary{};
  BatchComparison comparison(state, panel, dialogs, runner, options, sum);
  return comparison.run();
}

}  // namespace velmora::matching

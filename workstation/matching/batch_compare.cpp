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

#include <chrono>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "workstation/common/control_panel.h"
#include "workstation/common/operator_dialogs.h"
#include "workstation/common/safe_path.h"
#include "workstation/db/statements.h"
#include "workstation/matching/batch_compare_helpers.h"
#include "workstation/matching/change_p_to_v.h"
#include "workstation/matching/list_files.h"
#include "workstation/matching/results_import.h"
#include "workstation/session/aspect_sides.h"

namespace velmora::matching {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::string with_separator(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') return folder;
  return folder + "/";
}

std::string opposite_sex(const std::string& gender) {
  if (gender == "Female") return "Male";
  if (gender == "Male") return "Female";
  return "unset";
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
  enum class SideResult { kNoPending, kCompared, kProgramEnded };

  Status set_up();
  Status compare_side(const config::AspectEntry& aspect, const std::string& side,
                      SideResult* result);
  Status select_pending(const config::AspectEntry& aspect, const std::string& side,
                        db::RecordSet* rows, std::string* opposite);
  Status write_pending_list(const std::string& side, db::RecordSet* rows, int* written);
  Status ensure_distribution_row(const std::string& filename);
  Status select_library(const config::AspectEntry& aspect, const std::string& side,
                        const std::string& opposite, db::RecordSet* rows);
  Status run_library_batches(const config::AspectEntry& aspect, const std::string& side,
                             int pending_names, db::RecordSet* library);
  Status run_tarvikx(const std::string& aspect, const std::string& side, bool first_run, int run);
  Status import_side(const std::string& aspect, const std::string& side);
  Status compare_all();
  Status settle_imported_sides(const Status& failure);
  // True when `cell` can be listed and its fingerprint file exists; counts
  // and notes a refused name.
  bool has_fingerprint(const std::string& cell);
  Status results_path(const std::string& aspect, const std::string& side, std::string* path);

  session::RunState& state_;
  ControlPanel& panel_;
  OperatorDialogs& dialogs_;
  ProcessRunner& runner_;
  const BatchCompareOptions& options_;
  BatchCompareSummary& sum_;
  // Aspects and sides whose results were imported in this run, in order.
  std::vector<std::pair<const config::AspectEntry*, std::string>> imported_;

  std::string letter_;
  std::string tarvikx_;
  std::string working_;     // ends in '/' or is empty
  std::string oldlib_arg_;  // data folder + "oldlib", as tarvikx is given it
  std::string oldlib_dir_;  // the same with its separator, for the file checks
  int batch_ = 0;
  bool multi_core_ = false;
  bool real_time_ = false;
  bool restricted_ = false;
  ScoringOptions scoring_;
  std::unique_ptr<db::Statement> insert_distribution_;
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

  working_ = with_separator(state_.working_folder);
  tarvikx_ = options_.tarvikx.empty() ? tarvikx_beside_program() : options_.tarvikx;
  const std::string& data = state_.folders.data_folder;
  if (data.empty()) return Status::InvalidArgument("No data files folder is set.");
  // tarvikx runs in the working folder: a data folder given relative to
  // this process's folder is made absolute so that both find the same files.
  std::error_code ec;
  fs::path oldlib = fs::absolute(fs::path(with_separator(data) + "oldlib"), ec);
  if (ec) return Status::IOError("The data files folder '" + data + "' cannot be resolved.");
  oldlib_arg_ = oldlib.string();
  oldlib_dir_ = oldlib_arg_ + "/";

  return prepare_statement(state_.db(), db::insert_distribution_statement(), &insert_distribution_);
}

Status BatchComparison::results_path(const std::string& aspect, const std::string& side,
                                     std::string* path) {
  return join_safe(working_, results_file_name(aspect, side, letter_), path);
}

bool BatchComparison::has_fingerprint(const std::string& cell) {
  const std::string problem = list_name_problem(cell);
  if (!problem.empty()) {
    if (sum_.refused_names.size() < BatchCompareSummary::kMaxListed) {
      sum_.refused_names.push_back("\"" + cell.substr(0, 80) + "\": " + problem);
    }
    return false;
  }
  std::error_code ec;
  return fs::is_regular_file(oldlib_dir_ + cell, ec);
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

Status BatchComparison::write_pending_list(const std::string& side, db::RecordSet* rows,
                                           int* written) {
  std::vector<std::string> names;
  int missing = 0;
  {
    db::Transaction tx(state_.db());
    if (!tx.begun().ok()) return tx.begun();
    for (rows->move_first(); !rows->eof() && static_cast<int>(names.size()) + missing < batch_;
         rows->move_next()) {
      const std::string cell = rows->text("cell");
      if (has_fingerprint(cell)) {
        names.push_back(cell);
      } else {
        ++missing;
      }
      Status s = ensure_distribution_row(cell + "." + letter_);
      if (!s.ok()) return s;
    }
    Status s = tx.commit();
    if (!s.ok()) return s;
  }
  sum_.pending_listed += static_cast<int64_t>(names.size());
  sum_.pending_missing += missing;
  *written = static_cast<int>(names.size());
  return write_name_list(working_ + pending_list_name(side), names);
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
                                    bool first_run, int run) {
  TarvikRun r;
  r.tarvikx = tarvikx_;
  r.oldlib_dir = oldlib_arg_;
  r.working_folder = state_.working_folder;
  r.aspect = aspect;
  r.side = side;
  r.letter = letter_;
  r.run_file = run_file_for_aspect(aspect);
  r.first_run = first_run;
  const ProcessCommand command = tarvik_command(r);

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
      if (has_fingerprint(cell)) {
        names.push_back(cell);
      } else {
        ++sum_.library_missing;
      }
    }
    sum_.library_listed += static_cast<int64_t>(names.size());
    Status s = write_name_list(list_path, names);
    if (!s.ok()) return s;
    panel_.set_text("lblProgress", library_batch_label(pending_names, side, aspect, batch_no));
    s = run_tarvikx(aspect, side, first_run, batch_no);
    if (!s.ok()) return s;
    first_run = false;
    show_progress(panel_, (static_cast<double>(batch_no - 1) * kLibraryBatchNames +
                           static_cast<double>(names.size())) /
                              total);
  }
  return Status::Ok();
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
    fs::remove(results, ec);
    if (ec) {
      return Status::IOError("The old results file " + results +
                             " cannot be deleted: " + ec.message());
    }
  }

  panel_.set_text("lblProgress", kMakingListsLabel);
  int written = 0;
  s = write_pending_list(side, &pending, &written);
  if (!s.ok()) return s;
  ++sum_.aspect_sides;
  *result = SideResult::kCompared;

  // With no pending fingerprint in the list every run would compare
  // nothing; the import still follows.
  if (written > 0) {
    db::RecordSet library;
    s = select_library(entry, side, opposite, &library);
    if (!s.ok()) return s;
    s = run_library_batches(entry, side, written, &library);
    if (!s.ok()) return s;
  }
  panel_.set_text("lblProgress", completed_label(aspect, side));
  return Status::Ok();
}

Status BatchComparison::import_side(const std::string& aspect, const std::string& side) {
  ImportRequest request;
  request.working_folder = working_;
  request.aspect = aspect;
  request.side = side;
  request.letter = letter_;
  request.options = scoring_;
  request.delete_after_commit = true;
  request.cells = &state_.cells;
  request.progress = [this](const std::string& text) { panel_.set_text("lblProgress", text); };
  ImportSummary imported;
  const auto t0 = Clock::now();
  Status s = import_results(state_.db(), state_.statements.get(), request, &imported);
  sum_.import_seconds += seconds_since(t0);
  if (!s.ok()) return s;
  ++sum_.imports;
  sum_.result_lines += imported.result_lines;
  sum_.skipped_lines += imported.skipped_lines();
  sum_.staged += imported.staged;
  sum_.temp_rows += imported.standardised.temp_rows;
  const std::string problems = imported.problems_message();
  if (!problems.empty()) dialogs_.message(problems, Buttons::kOk, Icon::kExclamation);
  return Status::Ok();
}

Status BatchComparison::run() {
  Status s = compare_all();
  if (s.ok() || imported_.empty()) return s;
  return settle_imported_sides(s);
}

// The sides imported before a failure hold complete results in temp and
// distribution. Left in P, they would be compared and counted a second time
// by the next run; so they go on to the visual check now, as a successful
// run would have taken them, and the operator is told.
Status BatchComparison::settle_imported_sides(const Status& failure) {
  ChangePtoVSummary moved;
  std::string which;
  for (const auto& [entry, side] : imported_) {
    Status s = ChangePtoV_for_side(state_, *entry, side, &moved);
    if (!s.ok()) {
      return failure.with_note(
          "\n\nThe extracts already compared could not be moved on to "
          "visual checking either: " +
          s.message());
    }
    which += (which.empty() ? "" : ", ") + entry->aspect + " " + side;
  }
  sum_.moved_after_failure = moved.moved;
  return failure.with_note("\n\n" + std::to_string(moved.moved) +
                           " extracts compared and imported before the failure (" + which +
                           ") were moved on to visual checking, so that the next batch compare "
                           "does not compare and count them again.");
}

Status BatchComparison::compare_all() {
  Status s = set_up();
  if (!s.ok()) return s;
  show_progress(panel_, 0.0);
  for (const session::AspectSide& walk : session::aspect_sides(state_)) {
    const config::AspectEntry& entry = *walk.entry;
    const std::string& side = walk.side;
    std::string unused;
    s = results_path(entry.aspect, side, &unused);
    if (!s.ok()) return s;
    if (batch_ > 0) {
      SideResult result;
      s = compare_side(entry, side, &result);
      if (!s.ok()) return s;
      if (result == SideResult::kProgramEnded) return Status::Ok();
      if (result == SideResult::kNoPending) continue;
    }
    if (!multi_core_ || batch_ == 0) {
      s = import_side(entry.aspect, side);
      if (!s.ok()) return s;
      imported_.emplace_back(&entry, side);
    }
  }
  panel_.set_text("lblProgress", kAllCompletedLabel);
  if (!sum_.refused_names.empty()) {
    std::string msg =
        "These extracts were left out of the comparison: their cell names cannot be used in "
        "the comparison program's lists.";
    for (const std::string& n : sum_.refused_names) msg += "\n  " + n;
    dialogs_.message(msg, Buttons::kOk, Icon::kExclamation);
  }
  for (int i = 0; i < 3; ++i) dialogs_.beep();
  return Status::Ok();
}

}  // namespace

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

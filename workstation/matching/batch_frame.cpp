// The frame of the batch comparison families (see batch_frame.h).
//
// One Frame object serves one call. Per aspect and side it reads the pending
// rows (a few hundred at most: the batch size is capped at 400 by the
// window) and the library rows (thousands), and asks the family once per
// pending extract whether it can be used. The distribution rows of one
// aspect and side are made in one transaction, which is committed before
// the family compares, since the import needs the database free of open
// transactions.
#include "workstation/matching/batch_frame.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <utility>

#include "workstation/common/safe_path.h"
#include "workstation/config/folder_file.h"
#include "workstation/db/auto_match.h"
#include "workstation/db/statements.h"
#include "workstation/matching/batch_compare_helpers.h"
#include "workstation/matching/batch_locks.h"
#include "workstation/matching/list_files.h"
#include "workstation/session/aspect_sides.h"

namespace velmora::matching {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class Frame {
 public:
  Frame(session::RunState& state, ControlPanel& panel, OperatorDialogs& dialogs,
        ComparisonFamily& family, BatchCompareSummary* summary)
      : state_(state), panel_(panel), dialogs_(dialogs), family_(family), sum_(*summary) {}

  Status run();

 private:
  enum class SideResult { kNoPending, kNothingListed, kCompared, kProgramEnded };

  Status set_up();
  Status compare_side(const config::AspectEntry& aspect, const std::string& side,
                      SideResult* result);
  Status select_pending(const config::AspectEntry& aspect, const std::string& side,
                        db::RecordSet* rows, std::string* opposite);
  Status take_pending(const std::string& side, db::RecordSet* rows);
  Status select_library(const config::AspectEntry& aspect, const std::string& side,
                        const std::string& opposite, db::RecordSet* rows);
  Status import_and_move(const std::string& aspect, const std::string& side,
                         const std::vector<std::string>& compared);
  Status finish_multi_core_side(const std::string& aspect, const std::string& side);
  Status import_waiting_results(const std::string& aspect, const std::string& side);
  Status set_aside(const std::string& aspect, const std::string& side, const std::string& why);
  Status compare_all();
  void report_left_out();
  Status results_path(const std::string& aspect, const std::string& side, std::string* path);

  session::RunState& state_;
  ControlPanel& panel_;
  OperatorDialogs& dialogs_;
  ComparisonFamily& family_;
  BatchCompareSummary& sum_;
  BatchLocks locks_;
  FrameServices services_;
  FamilySetup setup_;
  std::vector<session::AspectSide> walk_;

  std::string working_;  // ends in '/' or is empty
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

Status Frame::set_up() {
  if (!state_.ready_to_compare()) {
    return Status::InvalidArgument(
        "The batch comparison needs an open database, the statements and the side letters Start "
        "prepares.");
  }
  const session::RunOptions& o = state_.options;
  batch_ = o.batch_size;
  multi_core_ = o.multi_core;
  real_time_ = o.real_time;
  restricted_ = o.restricted;

  scoring_.quick = o.quick;
  scoring_.standardise = o.standardise;
  scoring_.test_run = state_.test_run;
  working_ = config::normalise_folder(state_.working_folder);

  services_.state = &state_;
  services_.panel = &panel_;
  services_.dialogs = &dialogs_;
  services_.summary = &sum_;
  services_.working_folder = working_;
  services_.batch_size = batch_;
  services_.multi_core = multi_core_;
  Status s = family_.set_up(services_, &setup_);
  if (!s.ok()) return s;
  if (setup_.distribution_letters.empty()) setup_.distribution_letters = {setup_.letter};

  if (scoring_.standardise) {
    s = parse_prior_match(o.prior_match, &scoring_.prior_match);
    if (!s.ok()) return s;
  }
  s = prepare_statement(state_.db(), db::insert_distribution_statement(), &insert_distribution_);
  if (!s.ok()) return s;
  return state_.db()->prepare("move_compared_to_visual",
                              "UPDATE cells SET AutoMatch = :pTo WHERE cell = :pCell AND "
                              "AutoMatch = :pFrom",
                              &move_to_visual_);
}

Status Frame::results_path(const std::string& aspect, const std::string& side, std::string* path) {
  return join_safe(working_, results_file_name(aspect, side, setup_.letter), path);
}

Status Frame::select_pending(const config::AspectEntry& aspect, const std::string& side,
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

Status Frame::select_library(const config::AspectEntry& aspect, const std::string& side,
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

Status Frame::take_pending(const std::string& side, db::RecordSet* rows) {
  listed_.clear();
  {
    db::Transaction tx(state_.db());
    if (!tx.begun().ok()) return tx.begun();
    int taken = 0;
    for (rows->move_first(); !rows->eof() && taken < batch_; rows->move_next()) {
      ++taken;
      const std::string cell = rows->text("cell");
      const ExtractProblem problem = family_.extract_problem(cell);
      if (problem.ok()) {
        listed_.push_back(cell);
      } else {
        ++sum_.pending_missing;
        note_left_out(problem.kind == ExtractProblem::Kind::kMissing ? &sum_.missing_names
                                                                     : &sum_.refused_names,
                      cell, problem.why);
      }
      for (const std::string& letter : setup_.distribution_letters) {
        Status s = ensure_distribution_row(*state_.statement("distribution_of_file"),
                                           *insert_distribution_, cell + "." + letter);
        if (!s.ok()) return s;
      }
    }
    taken_ += taken;
    Status s = tx.commit();
    if (!s.ok()) return s;
  }
  sum_.pending_listed += static_cast<int64_t>(listed_.size());
  return family_.pending_taken(side, listed_);
}

Status Frame::compare_side(const config::AspectEntry& entry, const std::string& side,
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
      dialogs_.message(previous_results_message(aspect, side, setup_.letter));
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

  panel_.set_text("lblProgress", setup_.making_lists_label);
  s = take_pending(side, &pending);
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
  SideWork work;
  work.aspect = &entry;
  work.side = side;
  work.pending = listed_;
  work.library = &library;
  work.results_path = results;
  work.letter = setup_.letter;
  s = family_.compare_side(services_, work);
  if (!s.ok()) return s;
  // What the family could not compare after all stays pending: it is neither
  // moved to V nor listed as compared.
  for (const auto& [cell, why] : work.not_compared) {
    std::erase(listed_, cell);
    --sum_.pending_listed;
    ++sum_.pending_unreadable;
    note_left_out(&sum_.unreadable_names, cell, why);
  }
  panel_.set_text("lblProgress", family_.completed_label(aspect, side));
  return Status::Ok();
}

// One transaction: the results, their distributions and candidates, and the
// move of the extracts compared into them from P to V. The results file and
// its list go only after the commit.
Status Frame::import_and_move(const std::string& aspect, const std::string& side,
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
  const std::set<std::string> unreadable = family_.not_compared_in(results);
  ImportRequest request;
  request.working_folder = working_;
  request.aspect = aspect;
  request.side = side;
  request.letter = setup_.letter;
  request.options = scoring_;
  request.scores = setup_.scores;
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
  const std::string list = working_ + compared_list_file_name(aspect, side, setup_.letter);
  const std::string list_taken = list + ".importing";
  bool list_moved = false;
  int64_t moved = 0;
  static const std::vector<std::string> kNone;
  request.before_commit = [&]() {
    for (const std::string& cell : setup_.move_with_import ? compared : kNone) {
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
  if (!setup_.move_with_import) {
    std::set<std::string> noted(state_.compared_pending.begin(), state_.compared_pending.end());
    for (const std::string& cell : compared) {
      if (unreadable.count(cell) == 0 && noted.insert(cell).second) {
        state_.compared_pending.push_back(cell);
      }
    }
  }
  ++sum_.imports;
  sum_.moved_to_v += moved;
  sum_.result_lines += imported.result_lines;
  sum_.skipped_lines += imported.skipped_lines();
  sum_.staged += imported.staged;
  sum_.temp_rows += imported.standardised.temp_rows;
  for (const std::string& cell : compared) {
    if (unreadable.count(cell) == 0) continue;
    ++sum_.pending_unreadable;
    note_left_out(&sum_.unreadable_names, cell, setup_.not_compared_why);
  }
  const std::string problems = imported.problems_message();
  if (!problems.empty()) dialogs_.message(problems, Buttons::kOk, Icon::kExclamation);
  return Status::Ok();
}

// Under "use multiple cores" the import waits for a run with batch size 0;
// the list of what was compared marks the results file complete.
Status Frame::finish_multi_core_side(const std::string& aspect, const std::string& side) {
  return write_name_list(working_ + compared_list_file_name(aspect, side, setup_.letter), listed_);
}

Status Frame::set_aside(const std::string& aspect, const std::string& side,
                        const std::string& why) {
  std::string results;
  Status s = results_path(aspect, side, &results);
  if (!s.ok()) return s;
  const std::string kept = working_ + failed_results_file_name(aspect, side, setup_.letter);
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

Status Frame::import_waiting_results(const std::string& aspect, const std::string& side) {
  std::string results;
  Status s = results_path(aspect, side, &results);
  if (!s.ok()) return s;
  std::error_code ec;
  if (!fs::exists(results, ec)) return Status::Ok();
  const std::string list = working_ + compared_list_file_name(aspect, side, setup_.letter);
  if (!fs::exists(list, ec)) {
    return set_aside(aspect, side,
                     "has no list of the extracts compared into it: its comparison did not end");
  }
  return import_and_move(aspect, side, read_name_list(list));
}

void Frame::report_left_out() {
  struct Group {
    const std::vector<std::string>* names;
    const std::string* what;
  };
  const Group groups[] = {{&sum_.refused_names, &setup_.refused_heading},
                          {&sum_.missing_names, &setup_.missing_heading},
                          {&sum_.unreadable_names, &setup_.unreadable_heading}};
  for (const Group& g : groups) {
    if (g.names->empty()) continue;
    std::string msg = *g.what;
    for (const std::string& n : *g.names) msg += "\n  " + n;
    msg += "\nThey stay pending and are taken again by the next batch comparison.";
    dialogs_.message(msg, Buttons::kOk, Icon::kExclamation);
  }
  if (!sum_.unreadable_library_names.empty()) {
    std::string msg =
        "These library extracts were left out of the comparison: their files could not be read.";
    for (const std::string& n : sum_.unreadable_library_names) msg += "\n  " + n;
    dialogs_.message(msg, Buttons::kOk, Icon::kExclamation);
  }
}

Status Frame::run() {
  Status s = set_up();
  if (!s.ok()) return s;
  walk_ = session::aspect_sides(state_, setup_.lateral);
  s = locks_.take(state_, walk_);
  if (!s.ok()) return s;
  s = compare_all();
  if (!s.ok() && sum_.moved_to_v > 0) {
    s = s.with_note("\n\n" + std::to_string(sum_.moved_to_v) +
                    " extracts compared and imported before the failure were moved on to "
                    "visual checking with their results.");
  }
  return s;
}

Status Frame::compare_all() {
  show_progress(panel_, 0.0);
  for (const session::AspectSide& walk : walk_) {
    const config::AspectEntry& entry = *walk.entry;
    if (!family_.takes_aspect(entry)) continue;
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
  panel_.set_text("lblProgress", setup_.all_completed_label);
  show_progress(panel_, 1.0);
  report_left_out();
  if (taken_ > 0 && sum_.pending_listed == 0) {
    return Status::NotFound(
        "None of the " + std::to_string(taken_) +
        " pending extracts taken could be compared (see the extracts left out): nothing was "
        "compared and nothing moved. Check the data files folder '" +
        state_.folders.data_folder + "'.");
  }
  if (setup_.beep_at_end) {
    for (int i = 0; i < 3; ++i) dialogs_.beep();
  }
  return Status::Ok();
}

}  // namespace

bool later_family_in_run(const session::AlgorithmLetters& l, FamilyOrder family) {
  const bool on[] = {!l.tarvik.empty(), !l.compnew_corr.empty() || !l.compnew_spot.empty(),
                     !l.legcode.empty(), !l.CompSift.empty()};
  for (int i = static_cast<int>(family) + 1; i < 4; ++i) {
    if (on[i]) return true;
  }
  return false;
}

void note_left_out(std::vector<std::string>* list, const std::string& cell,
                   const std::string& why) {
  if (list->size() < BatchCompareSummary::kMaxListed) {
    list->push_back("\"" + cell.substr(0, 80) + "\": " + why);
  }
}

std::string format_batch_summary(const BatchCompareSummary& c, int64_t moved_afterwards) {
  const bool inside = !c.family.empty();  // compared by the workstation itself
  const std::string file = "no " + (!inside                  ? std::string("fingerprint file")
                                    : c.extract_file.empty() ? std::string("feature file")
                                                             : c.extract_file);
  std::ostringstream s;
  s << "  aspects and sides compared: " << c.aspect_sides << "\n";
  s << "  pending extracts compared:  " << c.pending_listed << " (" << c.pending_missing
    << " left out: " << file << " or an unusable name)\n";
  s << "  library extracts:           " << c.library_extracts << " selected, " << c.library_listed
    << " listed, " << c.library_missing << " left out: " << file
    << (inside ? " or an unreadable one" : "") << "\n";
  if (inside) {
    s << "  pairs compared:             " << c.pairs_compared << "\n";
  } else {
    s << "  tarvikx runs:               " << c.tarvikx_runs << " (" << c.failed_runs
      << " failed)\n";
  }
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
  for (const std::string& n : c.unreadable_library_names) s << "  library left out: " << n << "\n";
  if (c.pending_unreadable > 0) {
    s << "  unreadable "
      << (!inside                  ? "fingerprints"
          : c.extract_file.empty() ? "feature files"
                                   : c.extract_file + "s")
      << ":    " << c.pending_unreadable << " (left pending)\n";
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

std::string keep_failed_results(const std::string& working_folder, const std::string& aspect,
                                const std::string& side, const std::string& letter) {
  std::string results;
  if (!join_safe(working_folder, results_file_name(aspect, side, letter), &results).ok()) {
    return "";
  }
  std::error_code ec;
  if (!fs::exists(results, ec)) return "";
  const std::string kept = working_folder + failed_results_file_name(aspect, side, letter);
  fs::rename(results, kept, ec);
  return ec ? " What the runs wrote stays in " + results +
                  "; delete it before the next import (it could not be renamed: " + ec.message() +
                  ")."
            : " What the runs wrote is kept in " + kept + ".";
}

Status run_comparison_frame(session::RunState& state, ControlPanel& panel, OperatorDialogs& dialogs,
                            ComparisonFamily& family, BatchCompareSummary* summary) {
  BatchCompareSummary local;
  BatchCompareSummary* sum = summary != nullptr ? summary : &local;
  *sum = BatchCompareSummary{};
  Frame frame(state, panel, dialogs, family, sum);
  return frame.run();
}

ExtractProblem extract_file_problem(const std::string& folder, const std::string& cell,
                                    const std::string& file_kind) {
  std::string path;
  if (!join_safe(folder, cell, &path).ok()) {
    return {ExtractProblem::Kind::kRefused, "the name leaves the " + file_kind + " folder"};
  }
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return {ExtractProblem::Kind::kMissing, "no " + file_kind};
  return {};
}

}  // namespace velmora::matching

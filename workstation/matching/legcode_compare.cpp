// The leg-code comparison (see legcode_compare.h).
//
// Every extract's codes are read once, with one codes_of_cell query per
// extract, into one block of characters per side (LegCodeTable), so the pair
// loop touches no database and allocates nothing per pair. The lines go to
// the results file in pieces of about a megabyte: a pending extract against
// a library of thousands writes some hundred kilobytes.
#include "workstation/matching/legcode_compare.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <system_error>

#include "workstation/common/number_text.h"
#include "workstation/common/safe_path.h"
#include "workstation/config/folder_file.h"
#include "workstation/db/auto_match.h"
#include "workstation/db/statements.h"
#include "workstation/matching/batch_compare.h"
#include "workstation/matching/batch_compare_helpers.h"
#include "workstation/matching/batch_locks.h"
#include "workstation/matching/list_files.h"
#include "workstation/session/aspect_sides.h"

namespace velmora::matching {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kFlushBytes = size_t{1} << 20;
constexpr const char* kDistributionLabel = "legcodes: adding new distribution records";
constexpr const char* kCompletedLabel = "completed all LegCode comparisons";

class LegCodeComparison {
 public:
  LegCodeComparison(session::RunState& state, ControlPanel& panel, OperatorDialogs& dialogs,
                    LegCodeSummary* summary)
      : state_(state), panel_(panel), dialogs_(dialogs), sum_(*summary) {}

  Status run();

 private:
  Status set_up();
  Status compare();
  Status take_pending(db::RecordSet* rows);
  Status take_library();
  // The codes of `cell`, at most kMaxCodesPerExtract; NULL codes are not
  // codes.
  Status codes_of(const std::string& cell, std::vector<std::string>* codes);
  Status write_results();
  Status import_and_move(const std::vector<std::string>& compared);
  Status import_waiting_results();
  Status set_aside(const std::string& why);
  void note_left_out(const std::string& cell, const std::string& why);

  session::RunState& state_;
  ControlPanel& panel_;
  OperatorDialogs& dialogs_;
  LegCodeSummary& sum_;
  BatchLocks locks_;

  std::string letter_;
  std::string working_;  // ends in '/' or is empty
  std::string results_;  // the results file
  std::string listed_;   // its list of compared extracts
  std::string failed_;   // where a failed comparison's file is kept
  int batch_ = 0;
  bool multi_core_ = false;
  LegCodeScoring scoring_ = LegCodeScoring::kSliding;
  ScoringOptions import_options_;
  ScoreRange scores_;
  LegCodeBatch pending_, library_;
  std::unique_ptr<db::Statement> codes_;
  std::unique_ptr<db::Statement> insert_distribution_;
  std::unique_ptr<db::Statement> move_to_visual_;
};

void LegCodeComparison::note_left_out(const std::string& cell, const std::string& why) {
  ++sum_.pending_left_out;
  if (sum_.left_out_names.size() < LegCodeSummary::kMaxListed) {
    sum_.left_out_names.push_back("\"" + cell.substr(0, 80) + "\": " + why);
  }
}

Status LegCodeComparison::set_up() {
  if (!state_.ready_to_compare()) {
    return Status::InvalidArgument(
        "The leg-code comparison needs an open database, the statements and the side letters "
        "Start prepares.");
  }
  letter_ = state_.algorithm_letters.legcode;
  if (letter_.empty()) {
    return Status::InvalidArgument("Table algy has no row of type 'legcode': nothing to compare.");
  }
  const session::RunOptions& o = state_.options;
  batch_ = o.batch_size;
  multi_core_ = o.multi_core;
  scoring_ = legcode_scoring(state_.settings.fixLegCode_value);
  import_options_.quick = o.quick;
  import_options_.standardise = o.standardise;
  import_options_.test_run = state_.test_run;
  if (import_options_.standardise) {
    Status s = parse_prior_match(o.prior_match, &import_options_.prior_match);
    if (!s.ok()) return s;
  }
  working_ = config::normalise_folder(state_.working_folder);
  Status s =
      join_safe(working_, results_file_name(kLegCodeAspect, kLegCodeSide, letter_), &results_);
  if (!s.ok()) return s;
  listed_ = working_ + compared_list_file_name(kLegCodeAspect, kLegCodeSide, letter_);
  failed_ = working_ + failed_results_file_name(kLegCodeAspect, kLegCodeSide, letter_);

  // A waiting file may come from a copy that read other codes; any score up
  // to the longest code in the database is one this family can give.
  db::RecordSet longest;
  s = state_.db()->query("longest leg code", "SELECT max(length(code)) AS n FROM codes", &longest);
  if (!s.ok()) return s;
  scores_ = legcode_score_range(static_cast<size_t>(std::max<int64_t>(0, longest.integer("n"))));

  s = prepare_statement(state_.db(), db::codes_of_cell_statement(), &codes_);
  if (s.ok()) {
    s = prepare_statement(state_.db(), db::insert_distribution_statement(), &insert_distribution_);
  }
  if (s.ok()) {
    s = state_.db()->prepare("move_compared_to_visual",
                             "UPDATE cells SET AutoMatch = :pTo WHERE cell = :pCell AND "
                             "AutoMatch = :pFrom",
                             &move_to_visual_);
  }
  return s;
}

Status LegCodeComparison::codes_of(const std::string& cell, std::vector<std::string>* codes) {
  codes->clear();
  db::RecordSet rows;
  Status s = codes_->set("pCell", cell);
  if (s.ok()) s = codes_->open(&rows);
  if (!s.ok()) return s;
  for (rows.move_first(); !rows.eof(); rows.move_next()) {
    const db::Value v = rows.field("code");
    if (db::is_null(v)) continue;
    codes->push_back(db::as_text(v));
  }
  return Status::Ok();
}

Status LegCodeComparison::take_pending(db::RecordSet* rows) {
  pending_ = LegCodeBatch{};
  panel_.set_text("lblProgress", kDistributionLabel);
  db::Transaction tx(state_.db());
  if (!tx.begun().ok()) return tx.begun();
  std::vector<std::string> codes;
  int taken = 0;
  for (rows->move_first(); !rows->eof() && taken < batch_; rows->move_next()) {
    ++taken;
    const std::string cell = rows->text("cell");
    Status s = ensure_distribution_row(*state_.statement("distribution_of_file"),
                                       *insert_distribution_, cell + "." + letter_);
    if (!s.ok()) return s;
    const std::string problem = list_name_problem(cell);
    if (!problem.empty()) {
      note_left_out(cell, problem);
      continue;
    }
    s = codes_of(cell, &codes);
    if (!s.ok()) return s;
    if (codes.empty()) {
      note_left_out(cell, "no leg codes");
      continue;
    }
    pending_.add(cell, codes, &sum_.codes_passed_over);
  }
  sum_.pending_listed += static_cast<int64_t>(pending_.size());
  return tx.commit();
}

Status LegCodeComparison::take_library() {
  library_ = LegCodeBatch{};
  const bool restricted = state_.options.restricted;
  const std::string name = db::library_statement_name(state_.statements->options(), restricted);
  db::Statement* st = state_.statement(name);
  Status s = st->set("pAspect_letter", std::string(kLegCodeAspectLetter));
  if (s.ok()) s = st->set("pSide", std::string(kLegCodeSide));
  if (s.ok() && name == "library_cells_by_sex") {
    // The sex of the extract just saved, as the old-style comparison takes it.
    db::RecordSet current;
    std::unique_ptr<db::Statement> gender;
    s = state_.db()->prepare("gender of the current extract",
                             "SELECT gender FROM SYSTEM_ImageLinks WHERE cell = :pCell", &gender);
    if (s.ok()) s = gender->set("pCell", state_.current_cell);
    if (s.ok()) s = gender->open(&current);
    if (s.ok()) s = st->set("pOppositeSex", opposite_sex(current.text("gender")));
  }
  if (s.ok() && name == "library_cells_at_site") s = st->set("pSite", state_.chosen_site);
  if (s.ok() && name == "library_cells_at_landscape") {
    s = st->set("pLandscape", state_.chosen_landscape);
  }
  db::RecordSet rows;
  if (s.ok()) s = st->open(&rows);
  if (!s.ok()) return s;
  sum_.library_extracts += rows.row_count();
  std::vector<std::string> codes;
  for (rows.move_first(); !rows.eof(); rows.move_next()) {
    const std::string cell = rows.text("cell");
    if (!list_name_problem(cell).empty()) {
      ++sum_.library_left_out;
      continue;
    }
    s = codes_of(cell, &codes);
    if (!s.ok()) return s;
    if (codes.empty()) {
      ++sum_.library_left_out;
      continue;
    }
    library_.add(cell, codes, &sum_.codes_passed_over);
  }
  sum_.library_listed += static_cast<int64_t>(library_.size());
  return Status::Ok();
}

Status LegCodeComparison::write_results() {
  const auto t0 = Clock::now();
  std::ofstream out(results_, std::ios::binary | std::ios::trunc);
  if (!out) return Status::IOError("Cannot write the results file " + results_ + ".");
  const size_t n = pending_.size();
  const std::string n_text = std::to_string(n);
  const double total = static_cast<double>(n) * static_cast<double>(n - 1) / 2.0 +
                       static_cast<double>(n) * static_cast<double>(library_.size());
  double done = 0;
  std::string text;
  text.reserve(2 * kFlushBytes);
  bool stopped = false;
  auto flush = [&](bool always) {
    if (always || text.size() >= kFlushBytes) {
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      text.clear();
    }
  };
  // Both passes show their share of all pairs, and the window handles its
  // events once per pending extract.
  auto pass = [&](const char* header, const LegCodeBatch* second, const std::string& label) {
    text += header;
    panel_.set_text("lblProgress", label);
    for (size_t i = 0; i < n && !stopped && out; ++i) {
      const int64_t lines = append_legcode_lines(pending_, i, second, scoring_, &text);
      sum_.pairs += lines;
      done += static_cast<double>(lines);
      flush(false);
      show_progress(panel_, total > 0 ? done / total : 1.0);
      panel_.process_events();
      stopped = panel_.stop_requested();
    }
  };
  pass("$ pending pending\n", nullptr,
       "comparison of " + n_text + " new " + kLegCodeAspect + " strings with each other");
  pass("$ pending library\n", &library_,
       "comparison of " + n_text + " new " + kLegCodeAspect + " strings with " +
           std::to_string(library_.size()) + " library strings");
  flush(true);
  out.close();
  sum_.compare_seconds += seconds_since(t0);
  if (!stopped && out) return Status::Ok();

  std::error_code ec;
  fs::rename(results_, failed_, ec);
  const std::string kept = ec ? " What was written stays in " + results_ + "."
                              : " What was written is kept in " + failed_ + ".";
  if (stopped) {
    return Status::Cancelled(
        "The leg-code comparison was stopped; nothing of it was imported and its extracts stay "
        "pending." +
        kept);
  }
  return Status::IOError("Writing the results file " + results_ +
                         " failed; nothing was imported and its extracts stay pending." + kept);
}

// One transaction: the results, their distributions and candidates, and the
// move of the extracts compared into them from P to V; the results file and
// its list go only after the commit.
Status LegCodeComparison::import_and_move(const std::vector<std::string>& compared) {
  ImportRequest request;
  request.working_folder = working_;
  request.aspect = kLegCodeAspect;
  request.side = kLegCodeSide;
  request.letter = letter_;
  request.options = import_options_;
  request.scores = scores_;
  request.delete_after_commit = true;
  request.cells = &state_.cells;
  request.progress = [this](const std::string& text) {
    panel_.set_text("lblProgress", text);
    panel_.process_events();
  };
  // The list is taken away inside the transaction, as the old-style
  // comparison does, so that a file whose import was committed is never
  // imported again.
  const std::string list_taken = listed_ + ".importing";
  bool list_moved = false;
  int64_t moved = 0;
  request.before_commit = [&]() {
    for (const std::string& cell : compared) {
      int changed = 0;
      Status m = move_to_visual_->set("pTo", db::to_string(db::AutoMatch::kVisual));
      if (m.ok()) m = move_to_visual_->set("pFrom", db::to_string(db::AutoMatch::kPending));
      if (m.ok()) m = move_to_visual_->set("pCell", cell);
      if (m.ok()) m = move_to_visual_->execute(&changed);
      if (!m.ok()) return m;
      moved += changed;
    }
    std::error_code ec;
    if (fs::exists(listed_, ec)) {
      fs::rename(listed_, list_taken, ec);
      if (ec) {
        return Status::IOError("The list " + listed_ + " cannot be renamed: " + ec.message() +
                               ". Nothing was imported.");
      }
      list_moved = true;
    }
    return Status::Ok();
  };
  ImportSummary imported;
  const auto t0 = Clock::now();
  Status s = import_results(state_.db(), state_.statements.get(), request, &imported);
  sum_.import_seconds += seconds_since(t0);
  if (list_moved) {
    std::error_code ec;
    if (imported.committed) {
      fs::remove(list_taken, ec);
    } else {
      fs::rename(list_taken, listed_, ec);
    }
  }
  if (!s.ok()) return s;
  ++sum_.imports;
  sum_.moved_to_v += moved;
  sum_.result_lines += imported.result_lines;
  sum_.skipped_lines += imported.skipped_lines();
  sum_.staged += imported.staged;
  sum_.temp_rows += imported.standardised.temp_rows;
  const std::string problems = imported.problems_message();
  if (!problems.empty()) dialogs_.message(problems, Buttons::kOk, Icon::kExclamation);
  return Status::Ok();
}

Status LegCodeComparison::set_aside(const std::string& why) {
  std::error_code ec;
  fs::rename(results_, failed_, ec);
  if (ec) {
    return Status::IOError("The results file " + results_ + " " + why +
                           ", and it cannot be set aside as " + failed_ + ": " + ec.message() +
                           ". Delete or move it, then run the batch comparison again.");
  }
  dialogs_.message("The results file " + results_ + " " + why +
                       ". It was not imported and is kept as " + failed_ +
                       "; its extracts stay pending and are compared again.",
                   Buttons::kOk, Icon::kExclamation);
  return Status::Ok();
}

Status LegCodeComparison::import_waiting_results() {
  std::error_code ec;
  if (!fs::exists(results_, ec)) return Status::Ok();
  if (!fs::exists(listed_, ec)) {
    return set_aside("has no list of the extracts compared into it: its comparison did not end");
  }
  return import_and_move(read_name_list(listed_));
}

Status LegCodeComparison::compare() {
  show_progress(panel_, 0.0);
  if (batch_ == 0) {
    Status s = import_waiting_results();
    if (s.ok()) panel_.set_text("lblProgress", kCompletedLabel);
    return s;
  }
  db::Statement* select = state_.statement("pending_cells");
  Status s = select->set("pAspect_letter", std::string(kLegCodeAspectLetter));
  if (s.ok()) s = select->set("pSide", std::string(kLegCodeSide));
  db::RecordSet rows;
  if (s.ok()) s = select->open(&rows);
  if (!s.ok()) return s;
  if (rows.row_count() == 0) return s;

  std::error_code ec;
  if (fs::exists(results_, ec)) {
    if (multi_core_) {
      // Appending to results never imported would mix two comparisons.
      dialogs_.message(previous_results_message(kLegCodeAspect, kLegCodeSide, letter_));
      dialogs_.end_program();
      sum_.stopped_at_previous_results = true;
      return Status::Ok();
    }
    s = import_waiting_results();
    if (s.ok()) s = select->open(&rows);
    if (!s.ok()) return s;
    if (rows.row_count() == 0) return s;
  }

  s = take_pending(&rows);
  if (s.ok() && pending_.size() > 0) s = take_library();
  if (!s.ok()) return s;
  if (!sum_.left_out_names.empty()) {
    std::string msg =
        "These leg-code extracts were left out of the comparison (they stay pending and are "
        "taken again by the next batch comparison):";
    for (const std::string& n : sum_.left_out_names) msg += "\n  " + n;
    dialogs_.message(msg, Buttons::kOk, Icon::kExclamation);
  }
  if (pending_.size() == 0) return Status::Ok();
  sum_.compared = true;

  s = write_results();
  if (!s.ok()) return s;
  panel_.set_text("lblProgress", kCompletedLabel);
  show_progress(panel_, 1.0);
  if (multi_core_) return write_name_list(listed_, pending_.names);
  return import_and_move(pending_.names);
}

Status LegCodeComparison::run() {
  Status s = set_up();
  if (!s.ok()) return s;
  const session::RunOptions& o = state_.options;
  if (o.multi_core &&
      !(db::equal_nocase(o.chosen_aspect, kLegCodeAspect) && o.chosen_side == kLegCodeSide)) {
    return Status::Ok();  // another copy's aspect and side
  }
  config::AspectEntry entry;
  entry.aspect = kLegCodeAspect;
  entry.aspect_letter = kLegCodeAspectLetter;
  s = locks_.take(state_, {session::AspectSide{&entry, kLegCodeSide}});
  if (!s.ok()) return s;
  s = compare();
  if (!s.ok() && sum_.moved_to_v > 0) {
    s = s.with_note("\n\n" + std::to_string(sum_.moved_to_v) +
                    " leg-code extracts compared and imported before the failure were moved on "
                    "to visual checking with their results.");
  }
  return s;
}

}  // namespace

void LegCodeBatch::add(const std::string& name, const std::vector<std::string>& all,
                       int64_t* passed_over) {
  const size_t kept = std::min(all.size(), kMaxCodesPerExtract);
  if (passed_over != nullptr) *passed_over += static_cast<int64_t>(all.size() - kept);
  names.push_back(name);
  codes.add(std::span<const std::string>(all.data(), kept));
}

int64_t append_legcode_lines(const LegCodeBatch& first, size_t i, const LegCodeBatch* second,
                             LegCodeScoring scoring, std::string* out) {
  const LegCodeBatch& other = second != nullptr ? *second : first;
  const size_t from = second != nullptr ? 0 : i + 1;
  const std::string& name = first.names[i];
  char number[32];
  for (size_t j = from; j < other.size(); ++j) {
    const double score = legcode_score(first.codes, i, other.codes, j, scoring);
    const auto r = std::to_chars(number, number + sizeof number, static_cast<float>(score));
    *out += name;
    *out += ',';
    *out += other.names[j];
    *out += ',';
    out->append(number, r.ptr);
    *out += '\n';
  }
  return static_cast<int64_t>(other.size() - std::min(other.size(), from));
}

ScoreRange legcode_score_range(size_t longest_code) {
  return ScoreRange{0.0, std::max(1.0, static_cast<double>(longest_code)), std::nullopt};
}

std::string format_legcode_summary(const LegCodeSummary& c) {
  std::ostringstream s;
  s << "  leg-code extracts compared: " << c.pending_listed << " (" << c.pending_left_out
    << " left out: no codes or an unusable name)\n";
  s << "  library leg-code extracts:  " << c.library_extracts << " selected, " << c.library_listed
    << " with codes\n";
  if (c.codes_passed_over > 0) {
    s << "  codes passed over:          " << c.codes_passed_over << " (past the "
      << kMaxCodesPerExtract << "th of an extract)\n";
  }
  s << "  result lines written:       " << c.pairs << "\n";
  s << "  results files imported:     " << c.imports << "\n";
  s << "  result lines imported:      " << c.result_lines << "\n";
  s << "  skipped lines:              " << c.skipped_lines << "\n";
  s << "  pairs staged:               " << c.staged << "\n";
  s << "  temp rows:                  " << c.temp_rows << "\n";
  s << "  extracts moved to V:        " << c.moved_to_v << "\n";
  for (const std::string& n : c.left_out_names) s << "  left pending: " << n << "\n";
  return s.str();
}

Status compare_legcodes(session::RunState& state, ControlPanel& panel, OperatorDialogs& dialogs,
                        LegCodeSummary* summary) {
  LegCodeSummary local;
  LegCodeSummary* sum = summary != nullptr ? summary : &local;
  *sum = LegCodeSummary{};
  LegCodeComparison comparison(state, panel, dialogs, sum);
  return comparison.run();
}

}  // namespace velmora::matching

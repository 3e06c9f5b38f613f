// Reading one results file into distribution, pretemp and temp (see
// results_import.h).
//
// Per result line the import runs one prepared statement, the pretemp insert.
// Cell names are resolved in the CellDirectory, read once, instead of one
// cell_no_of_cell query per name. The distribution counts are added up in
// memory: each row is read once (distribution_of_file), every score is added
// in file order with the same double arithmetic the update statements use
// (count + 1, sum + score, squares + score * score), and each changed row is
// written once before standardise reads it. The result is bit for bit that of
// one add_distribution_L / add_distribution_R per line, at a few hundred
// statements per file instead of two per line. The transaction holds the
// database's write lock throughout, so no other copy can change a row between
// its read and its write.
#include "workstation/matching/results_import.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unordered_map>

#include "workstation/common/number_text.h"
#include "workstation/common/safe_path.h"
#include "workstation/matching/line_reader.h"
#include "workstation/matching/results_line.h"

namespace velmora::matching {
namespace {

constexpr size_t kShownLineLength = 80;

// The staged score: written with eight decimals, read back, increased by
// 2e-9, and given to the statement as text with 15 significant digits.
std::string staged_score_text(double score) {
  const double eight = real_from_text(real_to_fixed_text(score, 8)).value_or(score);
  return real_to_general_text(eight + 2e-9, 15);
}

// A line as it may be shown in a message: cut short, control bytes as '?'.
std::string shown_text(const std::string& line) {
  std::string out = line.substr(0, kShownLineLength);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  if (line.size() > kShownLineLength) out += "...";
  return out;
}

void note_skipped(ImportSummary* summary, int64_t line_no, const std::string& line,
                  std::string reason) {
  if (summary->skipped.size() < ImportSummary::kMaxListed) {
    summary->skipped.push_back(SkippedLine{line_no, shown_text(line), std::move(reason)});
  }
}

void note_unknown_cell(ImportSummary* summary, std::string_view cell) {
  for (const std::string& known : summary->unknown_cells) {
    if (known == cell) return;
  }
  if (summary->unknown_cells.size() < ImportSummary::kMaxListed) {
    summary->unknown_cells.push_back(shown_text(std::string(cell)));
  }
}

Status read_quick_limits(db::PreparedStatements* statements, const ImportRequest& request,
                         double* rmu, double* sigma) {
  *rmu = 0.0;
  *sigma = 0.0;
  if (!request.options.quick) return Status::Ok();
  db::Statement* q = statements->get("stats_of_algorithm");
  Status s = q->set("pAspect", request.aspect);
  if (s.ok()) s = q->set("pAlgy", request.letter);
  db::RecordSet rs;
  if (s.ok()) s = q->open(&rs);
  if (!s.ok()) return s;
  if (!rs.eof()) {
    *rmu = rs.number("rmu_match");
    *sigma = rs.number("sigma_match");
  }
  return Status::Ok();
}

// The distribution rows one import touches, read once and written once. Rows
// are found by cell number: names that differ only in letter case are one
// cell and one distribution row, as the key of that table ignores case.
class DistributionTally {
 public:
  DistributionTally(db::Database* database, db::Statement* read, std::string extension)
      : database_(database), read_(read), extension_(std::move(extension)) {}

  // Adds a score to the first-extract (L) or second-extract (R) counts of
  // cell `cell_no`, named `cell` in the file. A file without a row is
  // counted in *missing, as the update of a missing row changes nothing.
  Status add(int64_t cell_no, std::string_view cell, bool first, double score, int64_t* missing) {
    Row* row = nullptr;
    Status s = find(cell_no, cell, &row);
    if (!s.ok()) return s;
    if (!row->exists) {
      ++*missing;
      return Status::Ok();
    }
    const double square = score * score;
    if (first) {
      row->Ln += 1;
      row->Ls = row->Ls + score;
      row->Lss = row->Lss + square;
    } else {
      row->Rn += 1;
      row->Rs = row->Rs + score;
      row->Rss = row->Rss + square;
    }
    row->changed = true;
    return Status::Ok();
  }

  // Writes every changed row.
  Status write() {
    std::unique_ptr<db::Statement> update;
    Status s = database_->prepare(
        "store distribution counts",
        "UPDATE distribution SET Ln = :pLn, Ls = :pLs, Lss = :pLss, Rn = :pRn, Rs = :pRs, "
        "Rss = :pRss WHERE filename = :pFilename",
        &update);
    if (!s.ok()) return s;
    for (const auto& [cell_no, row] : rows_) {
      if (!row.changed) continue;
      s = update->set("pFilename", row.filename);
      if (s.ok()) s = update->set("pLn", row.Ln);
      if (s.ok()) s = update->set("pLs", row.Ls);
      if (s.ok()) s = update->set("pLss", row.Lss);
      if (s.ok()) s = update->set("pRn", row.Rn);
      if (s.ok()) s = update->set("pRs", row.Rs);
      if (s.ok()) s = update->set("pRss", row.Rss);
      if (s.ok()) s = update->execute();
      if (!s.ok()) return s;
    }
    return Status::Ok();
  }

 private:
  struct Row {
    std::string filename;  // the cell as first named in the file + "." + letter
    bool exists = false;
    bool changed = false;
    int64_t Ln = 0, Rn = 0;
    double Ls = 0, Lss = 0, Rs = 0, Rss = 0;
  };

  Status find(int64_t cell_no, std::string_view cell, Row** row) {
    auto it = rows_.find(cell_no);
    if (it != rows_.end()) {
      *row = &it->second;
      return Status::Ok();
    }
    Row r;
    r.filename = std::string(cell) + extension_;
    Status s = read_->set("pFilename", r.filename);
    db::RecordSet rs;
    if (s.ok()) s = read_->open(&rs);
    if (!s.ok()) return s;
    if (!rs.eof()) {
      r.exists = true;
      r.Ln = rs.integer("Ln");
      r.Ls = rs.number("Ls");
      r.Lss = rs.number("Lss");
      r.Rn = rs.integer("Rn");
      r.Rs = rs.number("Rs");
      r.Rss = rs.number("Rss");
    }
    *row = &rows_.emplace(cell_no, std::move(r)).first->second;
    return Status::Ok();
  }

  db::Database* database_;
  db::Statement* read_;
  std::string extension_;
  std::unordered_map<int64_t, Row> rows_;
};

// What the lines of one results file share while it is read.
struct FileImport {
  const CellDirectory* cells;
  const ScoringOptions& options;
  const ScoreRange& scores;
  DistributionTally& tally;
  db::Statement* insert;    // insert_pretemp
  std::string aspect_side;  // pretemp's aspect + side
  double rmu = 0.0;         // rmu_match and sigma_match of the aspect and letter, when
  double sigma = 0.0;       // "quick" asks for them
  // Which name is the pending extract, from the last header line.
  PairOrder order = PairOrder::kPendingLibrary;
  ImportSummary* summary;
};

// One line of the file (see the rules in results_import.h). A line that
// cannot be used is counted and noted; only a failing statement gives an
// error, which ends the import.
Status import_line(FileImport& file, const std::string& line, bool truncated, bool ended) {
  ImportSummary* summary = file.summary;
  const int64_t line_no = ++summary->lines;
  if (truncated) {
    ++summary->malformed_lines;
    note_skipped(summary, line_no, line, "line too long");
    return Status::Ok();
  }
  // The comparison program ends every line it writes, except its memory
  // messages; any other last line without a line end is what a writer
  // stopped half-way (a full disk) left of a line, and may read as a whole
  // one with a wrong score ("0.4" of "0.4567").
  const bool memory_message_alone = !line.empty() && memory_message_length(line) == line.size();
  if (!ended && !memory_message_alone) {
    ++summary->cut_short_lines;
    note_skipped(summary, line_no, line, "not ended by a line end: the file was cut short");
    return Status::Ok();
  }
  ResultsLine r = classify_results_line(line);
  switch (r.kind) {
    case ResultsLineKind::kEmpty:
      return Status::Ok();
    case ResultsLineKind::kCantLine:
      ++summary->cant_lines;
      return Status::Ok();
    case ResultsLineKind::kMalformed:
      ++summary->malformed_lines;
      note_skipped(summary, line_no, line, r.reason);
      return Status::Ok();
    case ResultsLineKind::kHeader:
      ++summary->headers;
      if (r.after_memory_message) {
        // The memory message in front of the header is itself a skipped line.
        ++summary->malformed_lines;
        note_skipped(summary, line_no, line, "memory message of the comparison program");
      }
      file.order = pair_order_of_header(r.first, r.second);
      return Status::Ok();
    case ResultsLineKind::kResult:
      break;
  }

  if (!file.scores.admits(r.score)) {
    ++summary->bad_score_lines;
    note_skipped(summary, line_no, line,
                 "score outside " + file.scores.text() + ", the range of the comparison family");
    return Status::Ok();
  }

  const CellDirectory* cells = file.cells;
  const int64_t number1 = cells->number_of(r.first);
  const int64_t number2 = cells->number_of(r.second);
  if (number1 == 0 || number2 == 0) {
    ++summary->unknown_cell_lines;
    if (number1 == 0) note_unknown_cell(summary, r.first);
    if (number2 == 0) note_unknown_cell(summary, r.second);
    note_skipped(summary, line_no, line, "cell not in the database");
    return Status::Ok();
  }
  ++summary->result_lines;

  if (!file.options.test_run) {
    // An empty ID is an extract without an encounter: not known to be the
    // same animal as anything.
    const std::string* id1 = cells->id_of(number1);
    const std::string* id2 = cells->id_of(number2);
    if (id1 != nullptr && id2 != nullptr && !id1->empty() && *id1 == *id2) {
      ++summary->same_animal;
      return Status::Ok();
    }
    Status s = file.tally.add(number1, r.first, true, r.score, &summary->missing_distribution_rows);
    if (s.ok()) {
      s = file.tally.add(number2, r.second, false, r.score, &summary->missing_distribution_rows);
    }
    if (!s.ok()) return s;
    ++summary->counted;
  }

  const bool keep = file.options.quick ? r.score > file.rmu - 3.0 * file.sigma : r.score > 0.0;
  if (!keep) return Status::Ok();
  // pname is the pending extract; a pending-pending pair lands on the same
  // (pname, fname) in either order.
  const bool first_is_pending = file.order == PairOrder::kPendingLibrary ||
                                (file.order == PairOrder::kPendingPending && r.second <= r.first);
  const int64_t pname = first_is_pending ? number1 : number2;
  const int64_t fname = first_is_pending ? number2 : number1;
  db::Statement* insert = file.insert;
  Status s = insert->set("pPname", std::to_string(pname));
  if (s.ok()) s = insert->set("pFname", std::to_string(fname));
  if (s.ok()) s = insert->set("pScore", staged_score_text(r.score));
  if (s.ok()) s = insert->set("pAspectSide", file.aspect_side);
  if (s.ok()) s = insert->execute();
  if (!s.ok()) return s;
  ++summary->staged;
  return Status::Ok();
}

}  // namespace

bool ScoreRange::admits(double score) const {
  return (score >= low && score <= high) || (no_score && score == *no_score);
}

std::string ScoreRange::text() const {
  return real_to_text(low) + " to " + real_to_text(high);
}

std::string results_file_name(const std::string& aspect, const std::string& side,
                              const std::string& letter) {
  return aspect + side + letter + "_results.txt";
}

std::string ImportSummary::problems_message() const {
  std::string msg;
  if (skipped_lines() > 0) {
    msg += std::to_string(skipped_lines()) + " line(s) of " + results_path + " were skipped";
    msg += " (" + std::to_string(malformed_lines) + " not a result, " +
           std::to_string(unknown_cell_lines) + " naming a cell not in the database";
    if (bad_score_lines > 0) {
      msg += ", " + std::to_string(bad_score_lines) + " with a score outside the family's range";
    }
    if (cut_short_lines > 0) {
      msg += ", " + std::to_string(cut_short_lines) + " cut short at the end of the file";
    }
    msg += "):\n";
    for (const SkippedLine& s : skipped) {
      msg += "  line " + std::to_string(s.line_no) + ": " + s.text + "  [" + s.reason + "]\n";
    }
    if (static_cast<int64_t>(skipped.size()) < skipped_lines()) msg += "  ...\n";
    if (!unknown_cells.empty()) {
      msg += "Cells not in the database:";
      for (const std::string& c : unknown_cells) msg += " " + c;
      msg += "\n";
    }
  }
  if (standardised.probability_faults > 0) {
    msg += std::to_string(standardised.probability_faults) +
           " pair(s) were given probability 0: their match probability has no value (a score "
           "of 0, or a mean or deviation of 0 in stats or distribution).\n";
  }
  if (standardised.unknown_cell_pairs > 0) {
    msg += std::to_string(standardised.unknown_cell_pairs) +
           " staged pair(s) named a cell number not in the database and were left out.\n";
  }
  return msg;
}

Status import_results(db::Database* database, db::PreparedStatements* statements,
                      const ImportRequest& request, ImportSummary* summary) {
  *summary = ImportSummary{};
  Status s = join_safe(request.working_folder,
                       results_file_name(request.aspect, request.side, request.letter),
                       &summary->results_path);
  if (!s.ok()) return s;
  if (database->in_transaction()) {
    return Status::InvalidArgument("The import of " + summary->results_path +
                                   " must run in a transaction of its own, but one is open.");
  }

  std::unique_ptr<LineReader> reader;
  s = LineReader::open(summary->results_path, &reader);
  if (s.code() == Status::Code::kNotFound) {
    reader.reset();  // no results: imports as an empty file
  } else if (!s.ok()) {
    return s;
  }
  summary->file_found = reader != nullptr;

  db::Transaction transaction(database);
  if (!transaction.begun().ok()) return transaction.begun();

  CellDirectory own_cells;
  const CellDirectory* cells = request.cells;
  if (cells == nullptr) {
    s = CellDirectory::load(statements, &own_cells);
    if (!s.ok()) return s;
    cells = &own_cells;
  }
  double rmu = 0.0, sigma = 0.0;
  s = read_quick_limits(statements, request, &rmu, &sigma);
  if (!s.ok()) return s;
  if (request.progress) {
    request.progress("adding " + request.letter + " type results for " + request.aspect + " " +
                     request.side + " to distribution and pretemp tables");
  }

  DistributionTally tally(database, statements->get("distribution_of_file"), "." + request.letter);
  FileImport file{.cells = cells,
                  .options = request.options,
                  .scores = request.scores,
                  .tally = tally,
                  .insert = statements->get("insert_pretemp"),
                  .aspect_side = request.aspect + request.side,
                  .rmu = rmu,
                  .sigma = sigma,
                  .summary = summary};
  std::string line;
  while (reader != nullptr && reader->read_a_line(&line)) {
    s = import_line(file, line, reader->line_truncated(), reader->line_ended());
    if (!s.ok()) return s;
  }
  if (reader != nullptr && reader->failed()) {
    return Status::IOError("Cannot read the results file " + summary->results_path +
                           " to its end; nothing of it was stored.");
  }
  reader.reset();
  s = tally.write();
  if (!s.ok()) return s;

  s = standardise(statements, *cells, request.aspect, request.side, request.letter, request.options,
                  request.progress, &summary->standardised);
  if (!s.ok()) return s;
  db::Statement* clear = statements->get("clear_pretemp");
  s = clear->set("pAspectSide", file.aspect_side);
  if (s.ok()) s = clear->execute();
  if (!s.ok()) return s;
  if (request.before_commit) {
    s = request.before_commit();
    if (!s.ok()) return s;
  }
  s = transaction.commit();
  if (!s.ok()) return s;
  summary->committed = true;

  if (summary->file_found && request.delete_after_commit) {
    std::error_code ec;
    std::filesystem::remove(summary->results_path, ec);
    if (ec) {
      return Status::IOError("The results of " + summary->results_path +
                             " were stored, but the file cannot be deleted (" + ec.message() +
                             "). Delete it before the next import, or its results would be "
                             "counted twice.");
    }
    summary->file_deleted = true;
  }
  return Status::Ok();
}

}  // namespace velmora::matching

// Renumbering the cells and reading the cell directory (see cell_directory.h).
#include "workstation/session/cell_directory.h"

#include <memory>

#include "workstation/db/database.h"
#include "workstation/db/statements.h"

namespace velmora::session {
namespace {

const std::string kNone;

unsigned char lower(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

}  // namespace

size_t CellDirectory::NoCaseHash::operator()(std::string_view name) const {
  uint64_t h = 1469598103934665603ull;  // FNV-1a over the lower-case bytes
  for (char c : name) {
    h ^= lower(c);
    h *= 1099511628211ull;
  }
  return static_cast<size_t>(h);
}

bool CellDirectory::NoCaseEqual::operator()(std::string_view a, std::string_view b) const {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

void CellDirectory::clear() {
  by_name_.clear();
  entries_.clear();
  count_ = 0;
}

Status CellDirectory::add(const std::string& cell, int64_t cell_no, const std::string& id) {
  if (cell_no < 1 || cell_no > kMaxCells) {
    return Status::InvalidArgument("The cell '" + cell + "' has no valid cell number (" +
                                   std::to_string(cell_no) + ", not within 1 to " +
                                   std::to_string(kMaxCells) +
                                   "); the cells are renumbered when Start is pressed.");
  }
  const size_t i = static_cast<size_t>(cell_no - 1);
  if (i >= entries_.size()) entries_.resize(i + 1);
  Entry& e = entries_[i];
  if (e.present) {
    // Two cells under one number would send one cell's scores to the other.
    return Status::InvalidArgument("The cells '" + e.cell + "' and '" + cell +
                                   "' have the same cell number " + std::to_string(cell_no) +
                                   "; the cells are renumbered when Start is pressed.");
  }
  e = Entry{cell, id, true};
  ++count_;
  by_name_.emplace(cell, cell_no);  // the first of a name wins
  return Status::Ok();
}

Status CellDirectory::load(db::PreparedStatements* statements, CellDirectory* directory) {
  directory->clear();
  CellDirectory fresh;
  db::RecordSet rs;
  Status s = statements->get("cells_by_name")->open(&rs);
  if (!s.ok()) return s;
  if (rs.row_count() > kMaxCells)
    return Status::InvalidArgument(too_many_cells_message(rs.row_count()));
  fresh.entries_.reserve(static_cast<size_t>(rs.row_count()));
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    const std::string cell = rs.text("cell");
    if (db::is_null(rs.field("cell_no"))) {
      return Status::Corruption("cell '" + cell +
                                "' has no cell number; the cells are renumbered when Start is "
                                "pressed.");
    }
    s = fresh.add(cell, rs.integer("cell_no"), "");
    if (!s.ok()) return s;
  }
  s = statements->get("cells_by_number")->open(&rs);
  if (!s.ok()) return s;
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    const int64_t n = rs.integer("cell_no");
    if (fresh.has(n)) fresh.entries_[static_cast<size_t>(n - 1)].id = rs.text("ID");
  }
  *directory = std::move(fresh);
  return Status::Ok();
}

int64_t CellDirectory::number_of(std::string_view cell) const {
  auto it = by_name_.find(cell);
  return it == by_name_.end() ? 0 : it->second;
}

bool CellDirectory::has(int64_t n) const {
  return n >= 1 && n <= highest() && entries_[static_cast<size_t>(n - 1)].present;
}

const std::string& CellDirectory::cell(int64_t n) const {
  return has(n) ? entries_[static_cast<size_t>(n - 1)].cell : kNone;
}

const std::string& CellDirectory::id(int64_t n) const {
  return has(n) ? entries_[static_cast<size_t>(n - 1)].id : kNone;
}

std::string too_many_cells_message(long long cells) {
  return "This database holds " + std::to_string(cells) + " cells, more than the " +
         std::to_string(kMaxCells) +
         " cells Velmora can number. Nothing was changed; split the extracts over two databases "
         "or remove cells that are no longer needed.";
}

Status renumber_cells(db::Database* db, db::Statement* cells_by_name, int* renumbered) {
  if (renumbered) *renumbered = 0;
  db::RecordSet rs;
  Status s = cells_by_name->open(&rs);
  if (!s.ok()) return s;
  if (rs.row_count() > kMaxCells)
    return Status::InvalidArgument(too_many_cells_message(rs.row_count()));

  std::unique_ptr<db::Statement> set_number;
  s = db->prepare("renumber_cell", "UPDATE cells SET cell_no = :pNo WHERE cell = :pCell",
                  &set_number);
  if (!s.ok()) return s;

  // One transaction: a failure part-way leaves the earlier numbering whole,
  // and 200000 single-row writes inside one transaction take about a second
  // instead of one disk sync each.
  db::Transaction tx(db);
  if (!tx.begun().ok()) return tx.begun();
  int written = 0;
  long long position = 0;
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    ++position;
    db::Value current = rs.field("cell_no");
    if (!db::is_null(current) && std::holds_alternative<int64_t>(current) &&
        std::get<int64_t>(current) == position)
      continue;
    s = set_number->set("pNo", static_cast<int64_t>(position));
    if (s.ok()) s = set_number->set("pCell", rs.field("cell"));
    if (s.ok()) s = set_number->execute();
    if (!s.ok()) return s;
    ++written;
  }
  s = tx.commit();
  if (!s.ok()) return s;
  if (renumbered) *renumbered = written;
  return Status::Ok();
}

}  // namespace velmora::session

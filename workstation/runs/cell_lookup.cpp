#include "workstation/runs/cell_lookup.h"

#include <memory>

#include "workstation/db/database.h"

namespace velmora::runs {
namespace {

const std::string kNone;

bool in_range(long long n) {
  return n >= 1 && n <= kMaxCells;
}

}  // namespace

void CellLookup::clear() {
  ids_.clear();
  cells_.clear();
  present_.clear();
}

Status CellLookup::set(long long n, const std::string& id, const std::string& cell) {
  if (!in_range(n)) {
    return Status::InvalidArgument("cell number " + std::to_string(n) + " of cell '" + cell +
                                   "' is outside 1 to " + std::to_string(kMaxCells));
  }
  const size_t i = static_cast<size_t>(n - 1);
  if (i >= ids_.size()) {
    ids_.resize(i + 1);
    cells_.resize(i + 1);
    present_.resize(i + 1, false);
  }
  ids_[i] = id;
  cells_[i] = cell;
  present_[i] = true;
  return Status::Ok();
}

bool CellLookup::has(long long n) const {
  return n >= 1 && n <= static_cast<long long>(present_.size()) && present_[n - 1];
}

const std::string& CellLookup::id(long long n) const {
  return has(n) ? ids_[n - 1] : kNone;
}

const std::string& CellLookup::cell(long long n) const {
  return has(n) ? cells_[n - 1] : kNone;
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

Status load_cell_lookup(db::Statement* cells_by_number, CellLookup* lookup) {
  lookup->clear();
  db::RecordSet rs;
  Status s = cells_by_number->open(&rs);
  if (!s.ok()) return s;
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    db::Value no = rs.field("cell_no");
    const std::string cell = rs.text("cell");
    if (db::is_null(no)) {
      lookup->clear();
      return Status::Corruption("cell '" + cell + "' has no cell number");
    }
    s = lookup->set(rs.integer("cell_no"), rs.text("ID"), cell);
    if (!s.ok()) {
      lookup->clear();
      return s;
    }
  }
  return Status::Ok();
}

}  // namespace velmora::runs

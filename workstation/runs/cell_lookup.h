// The cell-number lookup and the renumbering of cells at each Start.
//
// Comparison results refer to extracts by cell_no, a dense number given
// afresh at every Start: cells in ascending order of name get 1, 2, 3 ...
// (the order of cells_by_name, which compares names without regard to
// letter case). CellLookup then maps each number 1..kMaxCells back to the
// animal ID and the cell name (from cells_by_number).
//
// The lookup holds at most kMaxCells (200000) numbers. A database with more
// cells is refused before anything is renumbered, rather than storing
// numbers the lookup cannot hold. Storage grows with the highest number
// stored (two short texts per cell, a few MB at the limit).
#pragma once

#include <string>
#include <vector>

#include "workstation/common/status.h"

namespace velmora::db {
class Database;
class Statement;
}  // namespace velmora::db

namespace velmora::runs {

inline constexpr int kMaxCells = 200000;

class CellLookup {
 public:
  void clear();
  // Stores ID and cell under number n; InvalidArgument outside 1..kMaxCells.
  Status set(long long n, const std::string& id, const std::string& cell);
  // True when number n holds an entry.
  bool has(long long n) const;
  // The ID / cell of number n; empty text when n holds none.
  const std::string& id(long long n) const;
  const std::string& cell(long long n) const;
  // Highest number stored (0 when empty).
  int highest() const { return static_cast<int>(ids_.size()); }

 private:
  std::vector<std::string> ids_, cells_;  // index n - 1
  std::vector<bool> present_;
};

// The message shown when a database holds more cells than the lookup.
std::string too_many_cells_message(long long cells);

// Renumbers every cell: walks `cells_by_name` and gives each row the number
// of its position (1, 2, 3 ...), writing only the rows whose number changes,
// all in one transaction of `db`. Refuses, changing nothing, a database of
// more than kMaxCells cells. *renumbered (optional) receives the number of
// rows written.
Status renumber_cells(db::Database* db, db::Statement* cells_by_name, int* renumbered = nullptr);

// Fills *lookup from the rows of `cells_by_number` (ID, cell, cell_no). A
// cell_no outside 1..kMaxCells fails naming the cell, leaving the lookup
// empty.
Status load_cell_lookup(db::Statement* cells_by_number, CellLookup* lookup);

}  // namespace velmora::runs

// CellDirectory: the cells of the database by name and by number, renumbered
// and read once at each Start.
//
// Comparison results refer to extracts by cell_no, a dense number given
// afresh at every Start: cells in ascending order of name get 1, 2, 3 ...
// (the order of cells_by_name, which compares names without regard to
// letter case). The directory then answers, for every line of a results
// file, the questions the import, the standardisation and the review ask:
//   number_of(name)  the cell number of a name (0 when no cell has it)
//   cell(n), id(n)   the name and animal ID of a number (empty when none)
// Names are found without regard to ASCII letter case, as the cells table's
// text comparisons are (of two names differing only in case, the first in
// cell order wins, as the query's first row would).
//
// It holds at most kMaxCells (200000) numbers. A database with more cells is
// refused before anything is renumbered, rather than storing numbers the
// directory cannot hold. Storage is one entry per number (two short texts)
// plus a hash of the names: a few tens of MB at the limit.
//
// A directory is valid until the cells are renumbered or added (the next
// Start). Read-only after load, so the imports of one run share it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "workstation/common/status.h"

namespace velmora::db {
class Database;
class Statement;
class PreparedStatements;
}  // namespace velmora::db

namespace velmora::session {

inline constexpr int kMaxCells = 200000;

class CellDirectory {
 public:
  // Runs cells_by_name (names and numbers) and cells_by_number (animal IDs).
  // On failure *directory is left empty.
  static Status load(db::PreparedStatements* statements, CellDirectory* directory);

  // Adds one cell (for load, and for tests that need no database). A number
  // outside 1..kMaxCells, or one already given to another cell, is refused.
  Status add(const std::string& cell, int64_t cell_no, const std::string& id);
  void clear();

  // The cell number of `cell`, or 0 when no cell has that name.
  int64_t number_of(std::string_view cell) const;
  // True when number n belongs to a cell.
  bool has(int64_t n) const;
  // The name / animal ID of number n; empty text when n is unknown (the ID is
  // also empty for a cell without image or encounter).
  const std::string& cell(int64_t n) const;
  const std::string& id(int64_t n) const;
  // The same as pointers, null when n is unknown.
  const std::string* cell_of(int64_t n) const { return has(n) ? &cell(n) : nullptr; }
  const std::string* id_of(int64_t n) const { return has(n) ? &id(n) : nullptr; }
  // Highest number held (0 when empty); cells held.
  int64_t highest() const { return static_cast<int64_t>(entries_.size()); }
  size_t size() const { return count_; }

 private:
  struct Entry {
    std::string cell;
    std::string id;
    bool present = false;
  };
  // Names hash and compare without regard to ASCII letter case, and are
  // looked up without copying the caller's text.
  struct NoCaseHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const;
  };
  struct NoCaseEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  std::unordered_map<std::string, int64_t, NoCaseHash, NoCaseEqual> by_name_;
  std::vector<Entry> entries_;  // number n at index n - 1
  size_t count_ = 0;
};

// The message shown when a database holds more cells than the directory.
std::string too_many_cells_message(long long cells);

// Renumbers every cell: walks `cells_by_name` and gives each row the number
// of its position (1, 2, 3 ...), writing only the rows whose number changes,
// all in one transaction of `db`. Refuses, changing nothing, a database of
// more than kMaxCells cells. *renumbered (optional) receives the number of
// rows written.
Status renumber_cells(db::Database* db, db::Statement* cells_by_name, int* renumbered = nullptr);

}  // namespace velmora::session

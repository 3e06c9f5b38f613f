// CellDirectory: the cells of the database by name and by number, read once.
//
// The import and the standardisation turn cell names into cell numbers and
// back, and need each cell's animal ID, for every line of a results file.
// Asking the database each time would cost a query per name; the directory
// reads the two Start statements once instead:
//   cells_by_name    ("SELECT cell, cell_no FROM cells ORDER by cell")
//   cells_by_number  (ID, cell, cell_no of every cell with an image and encounter)
// and answers the same questions as cell_no_of_cell and the number-to-cell
// lookup of Start: names are found without regard to ASCII letter case, as
// the cells table's text comparisons are (a name given in another case
// finds its cell; of two names differing only in case, the first in
// cell order wins, as the query's first row would).
//
// Cell numbers are those of the last renumbering; a directory is valid until
// the cells are renumbered or added (the next Start). Read-only after load,
// so it may be shared by the imports of one run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/db/statements.h"

namespace velmora::matching {

class CellDirectory {
 public:
  // Runs cells_by_name and cells_by_number.
  static Status load(db::PreparedStatements* statements, CellDirectory* directory);

  // Adds one cell (for load, and for tests that need no database). A number
  // below 1 is refused.
  Status add(const std::string& cell, int64_t cell_no, const std::string& id);

  // The cell number of `cell`, or 0 when no cell has that name.
  int64_t number_of(std::string_view cell) const;
  // Cell name and animal ID of a number; nullptr when the number is unknown
  // (the ID is empty for a cell without image or encounter).
  const std::string* cell_of(int64_t cell_no) const;
  const std::string* id_of(int64_t cell_no) const;

  size_t size() const { return by_number_.size(); }

 private:
  struct Entry {
    std::string cell;
    std::string id;
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
  std::unordered_map<int64_t, Entry> by_number_;
};

}  // namespace velmora::matching

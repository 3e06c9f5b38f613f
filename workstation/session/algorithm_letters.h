// algorithm_letters: the algy letter of each comparison family.
//
// Table algy switches a comparison family on by holding a row of its type;
// the row's one-letter key is the extension of the family's result names and
// distribution keys (cell + "." + letter). Start looks each family up once;
// an empty letter means the family is off for this run.
#pragma once

#include <string>

#include "workstation/common/status.h"

namespace velmora::db {
class Database;
}

namespace velmora::session {

struct AlgorithmLetters {
  std::string tarvik;        // comparison through tarvikx
  std::string compnew_corr;  // correlation
  std::string compnew_spot;  // spot comparison
  std::string legcode;       // leg codes
  std::string CompSift;      // key points

  // The letter of a family by its algy type ("tarvik", ..., "CompSift");
  // empty for any other name.
  const std::string& letter(const std::string& family) const;
};

// Runs the five algorithm lookups and keeps the letter of the first row of
// each, or empty when the family has no row.
Status load_algorithm_letters(db::Database* db, AlgorithmLetters* letters);

}  // namespace velmora::session

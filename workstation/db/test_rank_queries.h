// The saved steps of the test-rank evaluation, stored in table saved_queries
// of every new database and run by name.
//
// After a test run, temp holds the scores of the test extracts (made pending
// for the run) against each other and against the library. The steps turn
// them into ranks: for each unit, the rank position at which the first
// extract of the same animal appears when the candidate animals are ordered
// by their best score, as the visual check orders them.
//
//   unit ("s" steps)  one test extract with one algorithm letter
//   unit ("t" steps)  one test animal, over all its extracts and letters
//
// rank = 1 + the number of other animals whose best score for the unit is
// higher than, or equal to, the unit's best score with its own animal (equal
// scores are counted against the unit: the visual check does not order
// them). A unit whose own animal scored nowhere in temp is ranked after all
// its candidates; a unit with no other extract of its animal of the same
// aspect and side in the comparison has nothing to find and is left out.
// A pending-pending pair is stored once in temp; it counts for both of its
// test extracts.
//
// Results: countranks (rank, count), countscum (cumulative), the views
// SYSTEM_overall_ranks (rank, percent) and, after "s15: count ranks by
// extension", SYSTEM_ranks_by_extension (extension, rank, count, percent).
#pragma once

#include <string>
#include <vector>

namespace velmora::db {

struct SavedQuery {
  std::string name;
  std::string sql;  // one or more statements separated by ";"
};

// Every saved step, "s01: make IDs" ... "s15: count ranks by extension" and
// "t01: make IDs" ... "t14: count ranks".
const std::vector<SavedQuery>& test_rank_queries();

}  // namespace velmora::db

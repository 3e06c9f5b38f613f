// SQL of the saved test-evaluation steps (see test_rank_queries.h for what
// they compute).
//
// Working tables, all keyed by the unit (ID, cell, extension); cell and
// extension are NULL for the combined ("t") units, so units are compared with
// "IS", which treats two NULLs as equal:
//   IDs          the test animals (ID not beginning with a digit 1 to 9)
//   matches      temp pairs of a unit with its own animal; reduced to the best
//                one per unit, with `bigger` = candidates ranked above it
//   nonmatches   temp pairs with other animals; reduced to the best per animal
//   typeranks    units ranked below 1
//   defaultrank  every unit: 1, or for a unit without a match the rank after
//                all its candidates, or NULL when it has nothing to find
//   mergedranks  typeranks where present, else defaultrank
//   ranks        the final rank of every unit
//   bestranks_overall  per extract ("s") its best rank over the letters; per
//                animal ("t") its rank
//   countranks, countscum  units per rank, and running totals
#include "workstation/db/test_rank_queries.h"

namespace velmora::db {

namespace {

// Unit equality between a working table row `a` and the outer row `b`.
#define SAME_UNIT(a, b) \
  a ".ID = " b ".ID AND " a ".cell IS " b ".cell AND " a ".extension IS " b ".extension"

const char* kMakeIds =
    "INSERT OR IGNORE INTO IDs (ID) SELECT DISTINCT encounter.ID FROM encounter"
    " INNER JOIN image ON image.encounter_no = encounter.encounter_no"
    " INNER JOIN cells ON cells.image = image.image"
    " WHERE cells.AutoMatch = 'L' AND encounter.ID IS NOT NULL"
    " AND substr(encounter.ID, 1, 1) NOT IN ('1','2','3','4','5','6','7','8','9')";

// pname without its "." and algorithm letter, and the letter, for the
// combined steps, which leave temp as the comparison wrote it.
#define PENDING_CELL                                                                      \
  "(CASE WHEN substr(t.pname, -2, 1) = '.' THEN substr(t.pname, 1, length(t.pname) - 2) " \
  "ELSE t.pname END)"

// Pairs of temp joined with the animals of both extracts. `a` is the pending
// extract of the row, `b` the other one; b counts as a test extract too when
// it is back in the library (L) and its animal is a test animal.
#define PAIR_JOIN(pending_cell)                                           \
  " FROM temp t INNER JOIN SYSTEM_ImageLinks a ON a.cell = " pending_cell \
  " INNER JOIN SYSTEM_ImageLinks b ON b.cell = t.fname"
#define A_IS_TEST " a.ID IN (SELECT ID FROM IDs)"
#define B_IS_TEST " b.AutoMatch = 'L' AND b.ID IN (SELECT ID FROM IDs) AND b.cell <> a.cell"

const char* kStripExtension =
    "UPDATE temp SET extension = substr(pname, -1), pname = substr(pname, 1, length(pname) - 2)"
    " WHERE length(pname) > 2 AND substr(pname, -2, 1) = '.'";

const char* kMatchesPerExtract =
    "INSERT INTO matches (cell, extension, ID, other_cell, otherID, score)"
    " SELECT a.cell, t.extension, a.ID, b.cell, b.ID, t.score" PAIR_JOIN(
        "t.pname") " WHERE a.ID = b.ID AND" A_IS_TEST
                   ";"
                   "INSERT INTO matches (cell, extension, ID, other_cell, otherID, score)"
                   " SELECT b.cell, t.extension, b.ID, a.cell, a.ID, t.score" PAIR_JOIN(
                       "t.pname") " WHERE a.ID = b.ID AND" B_IS_TEST;

const char* kNonmatchesPerExtract =
    "INSERT INTO nonmatches (cell, extension, ID, other_cell, otherID, score)"
    " SELECT a.cell, t.extension, a.ID, b.cell, b.ID, t.score" PAIR_JOIN(
        "t.pname") " WHERE a.ID IS NOT b.ID AND" A_IS_TEST
                   ";"
                   "INSERT INTO nonmatches (cell, extension, ID, other_cell, otherID, score)"
                   " SELECT b.cell, t.extension, b.ID, a.cell, a.ID, t.score" PAIR_JOIN(
                       "t.pname") " WHERE a.ID IS NOT b.ID AND" B_IS_TEST;

const char* kMatchesCombined =
    "INSERT INTO matches (cell, extension, ID, other_cell, otherID, score)"
    " SELECT NULL, NULL, a.ID, b.cell, b.ID, t.score" PAIR_JOIN(
        PENDING_CELL) " WHERE a.ID = b.ID AND" A_IS_TEST
                      ";"
                      "INSERT INTO matches (cell, extension, ID, other_cell, otherID, score)"
                      " SELECT NULL, NULL, b.ID, a.cell, a.ID, t.score" PAIR_JOIN(
                          PENDING_CELL) " WHERE a.ID = b.ID AND" B_IS_TEST;

const char* kNonmatchesCombined =
    "INSERT INTO nonmatches (cell, extension, ID, other_cell, otherID, score)"
    " SELECT NULL, NULL, a.ID, b.cell, b.ID, t.score" PAIR_JOIN(
        PENDING_CELL) " WHERE a.ID IS NOT b.ID AND" A_IS_TEST
                      ";"
                      "INSERT INTO nonmatches (cell, extension, ID, other_cell, otherID, score)"
                      " SELECT NULL, NULL, b.ID, a.cell, a.ID, t.score" PAIR_JOIN(
                          PENDING_CELL) " WHERE a.ID IS NOT b.ID AND" B_IS_TEST;

// Step 6a: the best match of each unit (one row; equal scores keep the first).
const char* kBestMatch =
    "DELETE FROM matches WHERE score IS NULL OR EXISTS (SELECT 1 FROM matches m2 WHERE " SAME_UNIT(
        "m2", "matches") " AND (m2.score > matches.score OR (m2.score = matches.score AND"
                         " m2.rowid < matches.rowid)))";
// Step 6b: the best score of each other animal for each unit.
const char* kBestNonmatch =
    "DELETE FROM nonmatches WHERE score IS NULL OR EXISTS (SELECT 1 FROM nonmatches n2 WHERE "
    SAME_UNIT("n2", "nonmatches") " AND n2.otherID IS nonmatches.otherID AND"
    " (n2.score > nonmatches.score OR (n2.score = nonmatches.score AND"
    " n2.rowid < nonmatches.rowid)))";
// Step 6c: other animals that score higher than the unit's own animal.
const char* kCountBigger =
    "UPDATE matches SET bigger = (SELECT count(*) FROM nonmatches n WHERE " SAME_UNIT(
        "n", "matches") " AND n.score > matches.score)";
// Step 6d: other animals with the same score: the visual check does not
// order them, so they count as ranked above.
const char* kCountEqual =
    "UPDATE matches SET bigger = bigger + (SELECT count(*) FROM nonmatches n WHERE " SAME_UNIT(
        "n", "matches") " AND n.score = matches.score)";
// Step 7.
const char* kNonOneRanks =
    "INSERT INTO typeranks (cell, extension, ID, rank)"
    " SELECT cell, extension, ID, bigger + 1 FROM matches WHERE bigger > 0";
// Step 8: every unit that took part, rank 1 to begin with.
const char* kDefaultRanks =
    "INSERT INTO defaultrank (cell, extension, ID, rank) SELECT cell, extension, ID, 1 FROM"
    " (SELECT cell, extension, ID FROM matches UNION SELECT cell, extension, ID FROM nonmatches)";
// Step 9a: a unit whose own animal scored nowhere comes after all its candidates.
const char* kDefaultRankUnmatched =
    "UPDATE defaultrank SET rank = 1 + (SELECT count(*) FROM nonmatches n WHERE " SAME_UNIT(
        "n",
        "defaultrank") ") WHERE NOT EXISTS (SELECT 1 FROM matches m WHERE " SAME_UNIT("m",
                                                                                      "defaultr"
                                                                                      "ank") ")";
// Step 9b: ... unless its animal had no other extract of the same aspect and
// side in the comparison, so that there was nothing to find.
const char* kDefaultRankNothingToFindPerExtract =
    "UPDATE defaultrank SET rank = NULL WHERE NOT EXISTS (SELECT 1 FROM matches m WHERE " SAME_UNIT(
        "m", "defaultrank") ") AND NOT EXISTS (SELECT 1 FROM SYSTEM_ImageLinks me"
                            " INNER JOIN SYSTEM_ImageLinks o ON o.ID = me.ID AND o.cell <> me.cell"
                            " AND substr(o.cell, -2) = substr(me.cell, -2) COLLATE NOCASE"
                            " AND o.side IS me.side"
                            " WHERE me.cell = defaultrank.cell AND o.AutoMatch IN ('L','V'))";
const char* kDefaultRankNothingToFindCombined =
    "UPDATE defaultrank SET rank = NULL WHERE NOT EXISTS (SELECT 1 FROM matches m WHERE " SAME_UNIT(
        "m", "defaultrank") ") AND NOT EXISTS (SELECT 1 FROM SYSTEM_ImageLinks me"
                            " INNER JOIN SYSTEM_ImageLinks o ON o.ID = me.ID AND o.cell <> me.cell"
                            " AND substr(o.cell, -2) = substr(me.cell, -2) COLLATE NOCASE"
                            " AND o.side IS me.side"
                            " WHERE me.ID = defaultrank.ID AND me.AutoMatch = 'L'"
                            " AND o.AutoMatch IN ('L','V'))";
// Step 10.
const char* kMergedRanks =
    "INSERT INTO mergedranks (cell, extension, ID, rank)"
    " SELECT d.cell, d.extension, d.ID, t.rank FROM defaultrank d LEFT JOIN typeranks t "
    "ON " SAME_UNIT("t", "d") " WHERE d.rank IS NOT NULL";
// Step 11.
const char* kMergedRankNulls =
    "UPDATE mergedranks SET rank = (SELECT d.rank FROM defaultrank d WHERE " SAME_UNIT(
        "d", "mergedranks") ") WHERE rank IS NULL";
// Step 12.
const char* kMakeRanks =
    "INSERT INTO ranks (cell, extension, ID, aspect_letter, rank)"
    " SELECT cell, extension, ID, substr(cell, -2), rank FROM mergedranks";
// Step 13.
const char* kBestOverallPerExtract =
    "INSERT INTO bestranks_overall (cell, ID, rank)"
    " SELECT cell, ID, min(rank) FROM ranks GROUP BY ID, cell";
const char* kBestOverallCombined =
    "INSERT INTO bestranks_overall (cell, ID, rank) SELECT cell, ID, rank FROM ranks";
// Step 14.
const char* kCountRanks =
    "INSERT INTO countranks (rank, count)"
    " SELECT rank, count(*) FROM bestranks_overall WHERE rank IS NOT NULL GROUP BY rank;"
    "INSERT INTO countscum (rank, count, cumulative, percent)"
    " SELECT rank, count, sum(count) OVER (ORDER BY rank),"
    " 100.0 * sum(count) OVER (ORDER BY rank) / sum(count) OVER () FROM countranks";
// Per-extension count, from the ranks of the last evaluation.
const char* kCountRanksByExtension =
    "INSERT INTO ranks_by_extension (extension, cell, ID, rank)"
    " SELECT extension, cell, ID, rank FROM ranks WHERE extension IS NOT NULL;"
    "INSERT INTO countranks_by_extension (extension, rank, count)"
    " SELECT extension, rank, count(*) FROM ranks"
    " WHERE extension IS NOT NULL AND rank IS NOT NULL GROUP BY extension, rank";

#undef SAME_UNIT
#undef PENDING_CELL
#undef PAIR_JOIN
#undef A_IS_TEST
#undef B_IS_TEST

}  // namespace

const std::vector<SavedQuery>& test_rank_queries() {
  static const std::vector<SavedQuery> kQueries = {
      {"s01: make IDs", kMakeIds},
      {"s02: update temp, strip extension", kStripExtension},
      {"s04: matching temp", kMatchesPerExtract},
      {"s05: non-matching temp", kNonmatchesPerExtract},
      {"s06a: count bigger nonmatch scores", kBestMatch},
      {"s06b: count bigger nonmatch scores", kBestNonmatch},
      {"s06c: count bigger nonmatch scores", kCountBigger},
      {"s06d: count bigger nonmatch scores", kCountEqual},
      {"s07: non-1 ranks by type", kNonOneRanks},
      {"s08: make default ranks", kDefaultRanks},
      {"s09a: update default rank", kDefaultRankUnmatched},
      {"s09b: update default rank", kDefaultRankNothingToFindPerExtract},
      {"s10: make merged ranks", kMergedRanks},
      {"s11: update mergedrank nulls", kMergedRankNulls},
      {"s12: make ranks", kMakeRanks},
      {"s13: make best overall ranks", kBestOverallPerExtract},
      {"s14: count ranks", kCountRanks},
      {"s15: count ranks by extension", kCountRanksByExtension},
      {"t01: make IDs", kMakeIds},
      {"t04: matching temp", kMatchesCombined},
      {"t05: non-matching temp", kNonmatchesCombined},
      {"t06a: count bigger nonmatch scores", kBestMatch},
      {"t06b: count bigger nonmatch scores", kBestNonmatch},
      {"t06c: count bigger nonmatch scores", kCountBigger},
      {"t06d: count bigger nonmatch scores", kCountEqual},
      {"t07: non-1 ranks", kNonOneRanks},
      {"t08: make default ranks", kDefaultRanks},
      {"t09a: update default rank", kDefaultRankUnmatched},
      {"t09b: update default rank", kDefaultRankNothingToFindCombined},
      {"t10: make merged ranks", kMergedRanks},
      {"t11: update mergedrank nulls", kMergedRankNulls},
      {"t12: make ranks", kMakeRanks},
      {"t13: save ranks as bestranks overall", kBestOverallCombined},
      {"t14: count ranks", kCountRanks},
  };
  return kQueries;
}

}  // namespace velmora::db

// SQL of the saved test-evaluation steps (see test_rank_queries.h for what
// they compute).
//
// Working tables, all keyed by the unit (ID, cell, extension):
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
// Cell and extension are NULL for the combined ("t") units, so two units are
// compared with "IS", which treats two NULLs as equal:
//   x.ID = y.ID AND x.cell IS y.cell AND x.extension IS y.extension
#include "workstation/db/test_rank_queries.h"

namespace velmora::db {

namespace {

constexpr char kMakeIds[] = R"sql(
INSERT OR IGNORE INTO IDs (ID)
SELECT DISTINCT encounter.ID FROM encounter
INNER JOIN image ON image.encounter_no = encounter.encounter_no
INNER JOIN cells ON cells.image = image.image
WHERE cells.AutoMatch = 'L' AND encounter.ID IS NOT NULL
  AND substr(encounter.ID, 1, 1) NOT IN ('1','2','3','4','5','6','7','8','9')
)sql";

constexpr char kStripExtension[] = R"sql(
UPDATE temp SET extension = substr(pname, -1), pname = substr(pname, 1, length(pname) - 2)
WHERE length(pname) > 2 AND substr(pname, -2, 1) = '.'
)sql";

// Steps 4 and 5: pairs of temp joined with the animals of both extracts. `a`
// is the pending extract of the row, `b` the other one; the first statement
// takes the pair for a when a's animal is a test animal, the second for b
// when b is back in the library (L) and its animal is a test animal too.
constexpr char kMatchesPerExtract[] = R"sql(
INSERT INTO matches (cell, extension, ID, other_cell, otherID, score)
SELECT a.cell, t.extension, a.ID, b.cell, b.ID, t.score
FROM temp t
INNER JOIN SYSTEM_ImageLinks a ON a.cell = t.pname
INNER JOIN SYSTEM_ImageLinks b ON b.cell = t.fname
WHERE a.ID = b.ID AND a.ID IN (SELECT ID FROM IDs);

INSERT INTO matches (cell, extension, ID, other_cell, otherID, score)
SELECT b.cell, t.extension, b.ID, a.cell, a.ID, t.score
FROM temp t
INNER JOIN SYSTEM_ImageLinks a ON a.cell = t.pname
INNER JOIN SYSTEM_ImageLinks b ON b.cell = t.fname
WHERE a.ID = b.ID
  AND b.AutoMatch = 'L' AND b.ID IN (SELECT ID FROM IDs) AND b.cell <> a.cell
)sql";

constexpr char kNonmatchesPerExtract[] = R"sql(
INSERT INTO nonmatches (cell, extension, ID, other_cell, otherID, score)
SELECT a.cell, t.extension, a.ID, b.cell, b.ID, t.score
FROM temp t
INNER JOIN SYSTEM_ImageLinks a ON a.cell = t.pname
INNER JOIN SYSTEM_ImageLinks b ON b.cell = t.fname
WHERE a.ID IS NOT b.ID AND a.ID IN (SELECT ID FROM IDs);

INSERT INTO nonmatches (cell, extension, ID, other_cell, otherID, score)
SELECT b.cell, t.extension, b.ID, a.cell, a.ID, t.score
FROM temp t
INNER JOIN SYSTEM_ImageLinks a ON a.cell = t.pname
INNER JOIN SYSTEM_ImageLinks b ON b.cell = t.fname
WHERE a.ID IS NOT b.ID
  AND b.AutoMatch = 'L' AND b.ID IN (SELECT ID FROM IDs) AND b.cell <> a.cell
)sql";

// The combined steps leave temp as the comparison wrote it, so the pending
// cell is pname without its "." and algorithm letter.
constexpr char kMatchesCombined[] = R"sql(
INSERT INTO matches (cell, extension, ID, other_cell, otherID, score)
SELECT NULL, NULL, a.ID, b.cell, b.ID, t.score
FROM temp t
INNER JOIN SYSTEM_ImageLinks a ON a.cell = (CASE WHEN substr(t.pname, -2, 1) = '.'
                                            THEN substr(t.pname, 1, length(t.pname) - 2)
                                            ELSE t.pname END)
INNER JOIN SYSTEM_ImageLinks b ON b.cell = t.fname
WHERE a.ID = b.ID AND a.ID IN (SELECT ID FROM IDs);

INSERT INTO matches (cell, extension, ID, other_cell, otherID, score)
SELECT NULL, NULL, b.ID, a.cell, a.ID, t.score
FROM temp t
INNER JOIN SYSTEM_ImageLinks a ON a.cell = (CASE WHEN substr(t.pname, -2, 1) = '.'
                                            THEN substr(t.pname, 1, length(t.pname) - 2)
                                            ELSE t.pname END)
INNER JOIN SYSTEM_ImageLinks b ON b.cell = t.fname
WHERE a.ID = b.ID
  AND b.AutoMatch = 'L' AND b.ID IN (SELECT ID FROM IDs) AND b.cell <> a.cell
)sql";

constexpr char kNonmatchesCombined[] = R"sql(
INSERT INTO nonmatches (cell, extension, ID, other_cell, otherID, score)
SELECT NULL, NULL, a.ID, b.cell, b.ID, t.score
FROM temp t
INNER JOIN SYSTEM_ImageLinks a ON a.cell = (CASE WHEN substr(t.pname, -2, 1) = '.'
                                            THEN substr(t.pname, 1, length(t.pname) - 2)
                                            ELSE t.pname END)
INNER JOIN SYSTEM_ImageLinks b ON b.cell = t.fname
WHERE a.ID IS NOT b.ID AND a.ID IN (SELECT ID FROM IDs);

INSERT INTO nonmatches (cell, extension, ID, other_cell, otherID, score)
SELECT NULL, NULL, b.ID, a.cell, a.ID, t.score
FROM temp t
INNER JOIN SYSTEM_ImageLinks a ON a.cell = (CASE WHEN substr(t.pname, -2, 1) = '.'
                                            THEN substr(t.pname, 1, length(t.pname) - 2)
                                            ELSE t.pname END)
INNER JOIN SYSTEM_ImageLinks b ON b.cell = t.fname
WHERE a.ID IS NOT b.ID
  AND b.AutoMatch = 'L' AND b.ID IN (SELECT ID FROM IDs) AND b.cell <> a.cell
)sql";

// Step 6a: the best match of each unit (one row; equal scores keep the first).
constexpr char kBestMatch[] = R"sql(
DELETE FROM matches
WHERE score IS NULL
   OR EXISTS (SELECT 1 FROM matches m2
              WHERE m2.ID = matches.ID AND m2.cell IS matches.cell
                AND m2.extension IS matches.extension
                AND (m2.score > matches.score
                     OR (m2.score = matches.score AND m2.rowid < matches.rowid)))
)sql";

// Step 6b: the best score of each other animal for each unit.
constexpr char kBestNonmatch[] = R"sql(
DELETE FROM nonmatches
WHERE score IS NULL
   OR EXISTS (SELECT 1 FROM nonmatches n2
              WHERE n2.ID = nonmatches.ID AND n2.cell IS nonmatches.cell
                AND n2.extension IS nonmatches.extension
                AND n2.otherID IS nonmatches.otherID
                AND (n2.score > nonmatches.score
                     OR (n2.score = nonmatches.score AND n2.rowid < nonmatches.rowid)))
)sql";

// Step 6c: other animals that score higher than the unit's own animal.
constexpr char kCountBigger[] = R"sql(
UPDATE matches SET bigger = (SELECT count(*) FROM nonmatches n
                             WHERE n.ID = matches.ID AND n.cell IS matches.cell
                               AND n.extension IS matches.extension
                               AND n.score > matches.score)
)sql";

// Step 6d: other animals with the same score: the visual check does not
// order them, so they count as ranked above.
constexpr char kCountEqual[] = R"sql(
UPDATE matches SET bigger = bigger + (SELECT count(*) FROM nonmatches n
                                      WHERE n.ID = matches.ID AND n.cell IS matches.cell
                                        AND n.extension IS matches.extension
                                        AND n.score = matches.score)
)sql";

// Step 7.
constexpr char kNonOneRanks[] = R"sql(
INSERT INTO typeranks (cell, extension, ID, rank)
SELECT cell, extension, ID, bigger + 1 FROM matches WHERE bigger > 0
)sql";

// Step 8: every unit that took part, rank 1 to begin with.
constexpr char kDefaultRanks[] = R"sql(
INSERT INTO defaultrank (cell, extension, ID, rank)
SELECT cell, extension, ID, 1
FROM (SELECT cell, extension, ID FROM matches
      UNION
      SELECT cell, extension, ID FROM nonmatches)
)sql";

// Step 9a: a unit whose own animal scored nowhere comes after all its candidates.
constexpr char kDefaultRankUnmatched[] = R"sql(
UPDATE defaultrank SET rank = 1 + (SELECT count(*) FROM nonmatches n
                                   WHERE n.ID = defaultrank.ID AND n.cell IS defaultrank.cell
                                     AND n.extension IS defaultrank.extension)
WHERE NOT EXISTS (SELECT 1 FROM matches m
                  WHERE m.ID = defaultrank.ID AND m.cell IS defaultrank.cell
                    AND m.extension IS defaultrank.extension)
)sql";

// Step 9b: ... unless its animal had no other extract of the same aspect and
// side in the comparison, so that there was nothing to find.
constexpr char kDefaultRankNothingToFindPerExtract[] = R"sql(
UPDATE defaultrank SET rank = NULL
WHERE NOT EXISTS (SELECT 1 FROM matches m
                  WHERE m.ID = defaultrank.ID AND m.cell IS defaultrank.cell
                    AND m.extension IS defaultrank.extension)
  AND NOT EXISTS (SELECT 1 FROM SYSTEM_ImageLinks me
                  INNER JOIN SYSTEM_ImageLinks o
                          ON o.ID = me.ID AND o.cell <> me.cell
                         AND substr(o.cell, -2) = substr(me.cell, -2) COLLATE NOCASE
                         AND o.side IS me.side
                  WHERE me.cell = defaultrank.cell AND o.AutoMatch IN ('L','V'))
)sql";

constexpr char kDefaultRankNothingToFindCombined[] = R"sql(
UPDATE defaultrank SET rank = NULL
WHERE NOT EXISTS (SELECT 1 FROM matches m
                  WHERE m.ID = defaultrank.ID AND m.cell IS defaultrank.cell
                    AND m.extension IS defaultrank.extension)
  AND NOT EXISTS (SELECT 1 FROM SYSTEM_ImageLinks me
                  INNER JOIN SYSTEM_ImageLinks o
                          ON o.ID = me.ID AND o.cell <> me.cell
                         AND substr(o.cell, -2) = substr(me.cell, -2) COLLATE NOCASE
                         AND o.side IS me.side
                  WHERE me.ID = defaultrank.ID AND me.AutoMatch = 'L'
                    AND o.AutoMatch IN ('L','V'))
)sql";

// Step 10.
constexpr char kMergedRanks[] = R"sql(
INSERT INTO mergedranks (cell, extension, ID, rank)
SELECT d.cell, d.extension, d.ID, t.rank
FROM defaultrank d
LEFT JOIN typeranks t ON t.ID = d.ID AND t.cell IS d.cell AND t.extension IS d.extension
WHERE d.rank IS NOT NULL
)sql";

// Step 11.
constexpr char kMergedRankNulls[] = R"sql(
UPDATE mergedranks SET rank = (SELECT d.rank FROM defaultrank d
                               WHERE d.ID = mergedranks.ID AND d.cell IS mergedranks.cell
                                 AND d.extension IS mergedranks.extension)
WHERE rank IS NULL
)sql";

// Step 12.
constexpr char kMakeRanks[] = R"sql(
INSERT INTO ranks (cell, extension, ID, aspect_letter, rank)
SELECT cell, extension, ID, substr(cell, -2), rank FROM mergedranks
)sql";

// Step 13.
constexpr char kBestOverallPerExtract[] = R"sql(
INSERT INTO bestranks_overall (cell, ID, rank)
SELECT cell, ID, min(rank) FROM ranks GROUP BY ID, cell
)sql";

constexpr char kBestOverallCombined[] = R"sql(
INSERT INTO bestranks_overall (cell, ID, rank) SELECT cell, ID, rank FROM ranks
)sql";

// Step 14.
constexpr char kCountRanks[] = R"sql(
INSERT INTO countranks (rank, count)
SELECT rank, count(*) FROM bestranks_overall WHERE rank IS NOT NULL GROUP BY rank;

INSERT INTO countscum (rank, count, cumulative, percent)
SELECT rank, count, sum(count) OVER (ORDER BY rank),
       100.0 * sum(count) OVER (ORDER BY rank) / sum(count) OVER ()
FROM countranks
)sql";

// Per-extension count, from the ranks of the last evaluation.
constexpr char kCountRanksByExtension[] = R"sql(
INSERT INTO ranks_by_extension (extension, cell, ID, rank)
SELECT extension, cell, ID, rank FROM ranks WHERE extension IS NOT NULL;

INSERT INTO countranks_by_extension (extension, rank, count)
SELECT extension, rank, count(*) FROM ranks
WHERE extension IS NOT NULL AND rank IS NOT NULL
GROUP BY extension, rank
)sql";

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

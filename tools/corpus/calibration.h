// Match statistics for table stats: the mean and spread of the comparison
// scores of known matching pairs and of known non-matching pairs, estimated
// the way a lab estimates them, from animals it has already identified.
//
// A calibration run compares two lists of library extracts both ways (first
// with second, then second with first) with the run file the batch
// comparison uses, through the comparison program's own pass. Typically the
// first list holds one sighting of each of M library animals and the second
// another sighting of the same animals: M matching and M (M - 1)
// non-matching pairs per direction, so M = 100 costs about 20,000 pair
// comparisons (a few seconds). Extracts of a lateral aspect are compared
// side by side (a left flank never meets a right one in a batch
// comparison), so a run holds one such pair of lists per side, and pairs
// across two sides' lists are never compared.
//
// Only result lines enter the statistics. A pair for which the comparison
// finds no constellation is not written (its score is below the run file's
// threshold), exactly as the results import of a batch comparison never sees
// it; such missing match pairs are counted and reported.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

#include "workstation/common/status.h"

namespace velmora::corpus {

struct ScoreStatistics {
  int64_t count = 0;
  double mean = 0;
  double sigma = 0;  // sample standard deviation (n - 1)
};

struct CalibrationSummary {
  ScoreStatistics match, nonmatch;
  int64_t result_lines = 0;
  int64_t header_lines = 0;   // "$ first second" lines
  int64_t other_lines = 0;    // problem reports of the comparison
  int64_t unknown_lines = 0;  // result lines naming a cell without a known animal
  int64_t expected_matches = 0;
  int64_t missing_matches = 0;  // expected match lines the comparison did not write
};

// Reads a results file of the calibration run. `animal_of` gives the animal
// of every listed cell; `expected_matches` is the number of matching pairs
// the run compared (for the missing count). Fails when fewer than two
// matching or two non-matching scores were found, since no spread can be
// estimated then.
Status score_statistics(std::istream& results, const std::map<std::string, std::string>& animal_of,
                        int64_t expected_matches, CalibrationSummary* summary);

// The two lists compared with each other, both ways.
struct CalibrationLists {
  std::string side;  // what the lists share; names their files
  std::vector<std::string> first, second;
};

struct CalibrationRun {
  std::string fingerprint_folder;  // ends in '/'
  std::string run_file;            // the run file the batch comparison uses
  std::string results_file;        // created; must not exist yet
  std::vector<CalibrationLists> groups;
  std::map<std::string, std::string> animal_of;  // every cell of the lists
};

// Runs both passes of every group into run.results_file and reads the
// statistics from it.
Status run_calibration(const CalibrationRun& run, CalibrationSummary* summary);

// A library extract as a lab knows it: its animal and the side it shows.
struct LibraryExtract {
  std::string cell, animal, side;
};

// The calibration lists of a library: for each side (in order of first
// appearance), the first two extracts of each animal that has two on that
// side, for at most `max_animals` animals per side in order of their first
// extract; the earlier of the two goes to `first`. Sides without such an
// animal give no group.
std::vector<CalibrationLists> calibration_groups(const std::vector<LibraryExtract>& library,
                                                 int max_animals);

}  // namespace velmora::corpus

// Match statistics for table stats from a library the workstation's own steps
// extracted: a photograph season (synthetic_photo.h) after its photographs
// went through fitting (velmora-fit) and extract processing
// (velmora-extract), before the batch comparison.
//
// As for a data folder (data_folder.h), the statistics come from the library
// alone, from what a lab knows of it: the extracts in state L of the aspect,
// their animal IDs (encounter) and the sides their fits recorded. No pending
// extract and nothing of the truth files is used. The calibration compares,
// side by side, the first two library extracts of each animal that has two
// on that side (calibration_groups), for at most M animals per side; a
// library extract without a recorded side (never fitted) or without its
// fingerprint file is left out and counted.
//
// Files, in DATA:
//   calibration/first_<side>.txt, second_<side>.txt   the lists of each side
//   calibration/results.txt                            the run's results; the
//                                                      folder must hold none
// and the stats row of the aspect and the tarvik letter, in place of any
// row they had, in one transaction.
#pragma once

#include <string>
#include <vector>

#include "tools/corpus/calibration.h"
#include "workstation/common/status.h"
#include "workstation/db/database.h"

namespace velmora::corpus {

struct LibraryStatsOptions {
  std::string data_folder;  // oldlib/ and work/tarvik.ini are read from it
  std::string database;
  std::string aspect = "Flank";
  int calibration_animals = 100;  // per side
};

struct LibraryStatsSummary {
  std::string letter;           // the tarvik letter
  int library = 0;              // library extracts of the aspect
  int without_side = 0;         // of them, no side recorded
  int without_fingerprint = 0;  // of them, no fingerprint file
  std::vector<CalibrationLists> groups;
  CalibrationSummary calibration;
  std::string results_file;
};

// The library extracts of `aspect` (state L) in cell order, with their
// animal IDs and recorded sides ("" when none).
Status read_library_extracts(db::Database* db, const std::string& aspect,
                             std::vector<LibraryExtract>* library);

// Runs the calibration and writes the stats row (see the header).
Status write_library_stats(const LibraryStatsOptions& o, LibraryStatsSummary* summary);

}  // namespace velmora::corpus

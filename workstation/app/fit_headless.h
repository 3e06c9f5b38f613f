// velmora-fit: the operator's saved fitting work replayed without a screen.
//
//   velmora-fit extract PHOTO FITFILE BUNDLE [PHOTO FITFILE BUNDLE ...]
//               --data-folder DIR --database FILE --aspect NAME
//               [--accept] [--cell NAME]
//
// For each photograph: load it and the aspect's model file, reset the
// model, restore the marks and the crop from the fit file as "Retrieve"
// does (rescaled from the crop record's destination size to the work
// picture, kWorkWidth x kWorkHeight), run Initial Fit, Fit (with "Auto
// order") and Extract, and write the extract bundle. The cell is the fit
// file's name, or --cell (one photograph only). --accept also performs OK:
// the fit files, the blank file and the values of the cell's record.
//
// Exit code: 0 when every photograph was extracted (and accepted), 1 when
// one was not (the others still go on), 2 for a wrong command line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/db/database.h"
#include "workstation/model/fit_session.h"

namespace velmora::app {

// The work picture the fits are made on: 3:2, as the window's.
inline constexpr int kWorkWidth = 900;
inline constexpr int kWorkHeight = 600;

struct FitCommandLine {
  struct Job {
    std::string photo, fit_file, bundle;
  };
  std::vector<Job> jobs;
  std::string data_folder, database, aspect, cell;
  bool accept = false;
  bool help = false;
};

Status parse_fit_arguments(const std::vector<std::string>& args, FitCommandLine* line);
std::string fit_usage();

// What one photograph gave, for the summary.
struct FitOutcome {
  std::string cell;
  double rms = 0;  // of the marks after Fit, pixels
  std::vector<std::string> warnings;
};

// One photograph from its files to its bundle (and, with accept, OK).
Status fit_and_extract(const FitCommandLine& line, const FitCommandLine::Job& job, db::Database* db,
                       FitOutcome* outcome);

int run_fit_extract(const FitCommandLine& line, std::ostream& out, std::ostream& err);

}  // namespace velmora::app

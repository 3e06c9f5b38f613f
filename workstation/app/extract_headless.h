// velmora-extract: extract processing without the operator, for
// re-processing a library after a settings change and for checking.
//
//   velmora-extract features BUNDLE... --data-folder DIR --database FILE
//                   --aspect NAME [--dump OUT]
//   velmora-extract show BUNDLE --data-folder DIR --database FILE --aspect NAME
//
// The settings are read as the workstation reads them: DIR/orlain.ini, the
// aspect's row of `aspects` and the letters of `algy`. "features" runs the
// pipeline on each bundle with the operator step at its defaults (filter 4,
// average depth avg_depth_default, as many spots as the aspect shows, seeds
// placed once with the triangle measure "5000", saved once), writes the
// save step's files into DIR and marks the cell pending (P) when its row is
// waiting for extraction (E); a row in any other state keeps it. "show" opens the processing window
// on one bundle so that an operator can work the spot step by hand (built with the window only).
//
// With one bundle, --dump OUT also writes the intermediate results that
// other tools check: work.f64, wavelet.f32, filled.i16, spots.txt,
// seeds.txt, fingerprint.img and, with a key-point algorithm, anim.pgm.
//
// Exit code: 0 when every bundle was saved, 1 when one was not (the reason
// is printed and the other bundles still go on), 2 for a wrong command line.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/db/database.h"
#include "workstation/extract/pipeline.h"
#include "workstation/extract/shared_extract.h"

namespace velmora::app {

struct ExtractCommandLine {
  std::string command;  // "features" or "show"
  std::vector<std::string> bundles;
  std::string data_folder;
  std::string database;
  std::string aspect;
  std::string dump;  // "" = no dump
  bool help = false;
};

Status parse_extract_arguments(const std::vector<std::string>& args, ExtractCommandLine* line);
std::string extract_usage();

// The database and the processing, set up for the command line's aspect.
struct ExtractSession {
  std::unique_ptr<db::Database> db;
  std::unique_ptr<extract::ExtractProcessing> processing;
  std::vector<std::string> warnings;  // configuration faults, for the operator
};

Status open_extract_session(const ExtractCommandLine& line, ExtractSession* session);

// Reads a bundle into *extract and runs the pipeline on it up to the
// operator step; *cell receives its name. The distance-to-blank map is made
// when the bundle's blank was edited and the configuration asks for it.
Status load_and_process(ExtractSession& session, const std::string& bundle,
                        extract::SharedExtract* extract, std::string* cell, bool* operator_step);

// What became of the cell's row after a save.
enum class RowMark {
  kMarked,  // it was waiting for extraction (E) and is now pending (P)
  kKept,    // it was in another state (a library or compared extract being
            // processed again) and keeps it: re-processing must not take an
            // animal out of the library
  kNoRow,   // the database has no row for the cell
};

// The operator step at its defaults, the save, and the cell's row marked.
Status save_with_defaults(ExtractSession& session, const extract::SharedExtract& extract,
                          bool operator_step, RowMark* mark);

// Marks the cell's row pending when it is waiting for extraction.
Status mark_pending(db::Database* db, const std::string& cell, RowMark* mark);

// Writes the intermediate results of the last processed extract into OUT.
Status write_dump(const ExtractSession& session, const std::string& out);

// "features": every bundle in turn, a progress line each when there are
// several, and a closing summary. Returns the exit code.
int run_extract_features(const ExtractCommandLine& line, std::ostream& out, std::ostream& err);

}  // namespace velmora::app

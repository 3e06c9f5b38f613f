// Test and benchmark support for the batch comparison: a test database
// (workstation/db/testing/test_database.h) with a data folder and a working
// folder beside it, and a fake process runner.
//
// Layout under one temporary folder DIR:
//   DIR/data/            data files folder (orlain.ini, oldlib/<cell>)
//   DIR/data/seals.sqlite
//   DIR/work/            working folder: tarvik.ini, tarvik_head.ini, the
//                        list and results files
// Rows are added through the workspace's own connection (`db`), outside
// any transaction, so a RunContext opened on the same file sees them.
// Nothing here uses GoogleTest, so the benchmark shares it.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/db/testing/test_database.h"
#include "workstation/matching/process_runner.h"
#include "workstation/session/run_state.h"

namespace velmora::matching::batch_testing {

// The run file the tests and the benchmark use: the shift models and
// tolerances suit 64 x 64 fingerprints with four 16 x 16 sub-cells; the
// threshold -1 writes every pair that gets a correlation.
extern const char kRunFileText[];

class BatchWorkspace : public db::testing::TestDatabase {
 public:
  // Makes DIR (under the system's temporary folder, named after `name`), the
  // two folders with the run files kRunFileText, and an empty database with
  // the schema; status() tells whether that worked.
  explicit BatchWorkspace(const std::string& name);

  const std::string dir = folder.dir();  // folders end in '/'
  const std::string working_folder = dir + "work/";
  // An aspect with the columns the comparison reads.
  Status add_aspect(const std::string& aspect, const std::string& letter,
                    const std::string& cell_type);
  // Writes tarvik.ini and tarvik_head.ini into the working folder.
  Status write_run_files(const std::string& text = kRunFileText);
  // Writes placeholder fingerprint files oldlib/<cell> (for a fake runner).
  Status touch_fingerprints(const std::vector<std::string>& cells);
  // Writes a real fingerprint file oldlib/<cell> through save_fprint from a
  // 64 x 64 image (row-major, grey 0..63, 64 masked).
  Status save_fingerprint(const std::string& cell, const std::vector<uint8_t>& image);

  // The cells "<prefix><n>_<k><letter>" that add_bulk_extracts makes.
  static std::vector<std::string> bulk_cells(const std::string& prefix, int animals, int per_animal,
                                             const std::string& letter);
};

// A runner that starts nothing: it records each command and the contents of
// its two list files at that moment, and calls `respond` (when set) so a
// test can append lines to the results file or report a failure.
class FakeProcessRunner : public ProcessRunner {
 public:
  struct Call {
    ProcessCommand command;
    std::vector<std::string> pending_names;
    std::vector<std::string> library_names;
  };
  // Receives the command; returns the outcome to report.
  std::function<ProcessOutcome(const ProcessCommand&)> respond;
  // Whether a run that started and left no results file creates one with
  // the pass headers, as the comparison program does (false: it leaves none).
  bool write_headers = true;

  ProcessOutcome start_and_wait(const ProcessCommand& command, ControlPanel* panel) override;
  const std::vector<Call>& calls() const { return calls_; }

  // A successful outcome.
  static ProcessOutcome success();

 private:
  std::vector<Call> calls_;
};

// The options of a batch comparison with the window's default batch size
// (200), nothing else ticked.
session::RunOptions batch_options();

// Start without a window for a batch comparison on the workspace's folders
// (data folder, database, working folder), as velmora-batch does.
Status start_batch(session::RunState& state, const BatchWorkspace& ws,
                   const session::RunOptions& options, std::ostream& notes);

}  // namespace velmora::matching::batch_testing

// velmora-batch --test: the test-rank evaluation without a display.
//
//   velmora-batch --test [--combine] [--previous] [--chart FILE.png]
//                 [--data-folder DIR --database FILE.sqlite] [--working-folder DIR]
//
// The same Start pieces as the batch comparison, in the test's statement
// forms; then the run_test step (test_steps.h) with the comparison families
// velmora-batch installs. It prints the ten cumulative percentages and,
// without --combine, the count per algorithm letter, and writes the chart
// (the window's picture) to FILE.png when asked. The questions of the run
// are answered OK; "temp table is not empty" ends it with exit code 1.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "workstation/app/batch_headless.h"
#include "workstation/matching/process_runner.h"

namespace velmora::app {

// The whole headless test; returns the exit code (0 ok, 1 failed).
int run_headless_test(
    const HeadlessOptions& options, std::shared_ptr<matching::ProcessRunner> runner,
    std::ostream& out,
    const config::FolderFileLocations& locations = config::default_folder_file_locations());

}  // namespace velmora::app

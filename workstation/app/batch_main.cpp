// velmora-batch: the batch comparison without a display (see
// batch_headless.h for the command line and the exit codes).
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "workstation/app/batch_headless.h"
#include "workstation/app/test_headless.h"
#include "workstation/matching/process_runner.h"

int main(int argc, char** argv) {
  using namespace velmora::app;
  const std::vector<std::string> args(argv + 1, argv + argc);
  HeadlessOptions options;
  std::string notes;
  velmora::Status s = parse_headless_arguments(args, &options, &notes);
  if (!s.ok()) {
    std::cerr << "velmora-batch: " << s.message() << "\n" << headless_usage();
    return 2;
  }
  if (options.help) {
    std::cout << headless_usage();
    return 0;
  }
  std::cout << notes;
  if (options.test) {
    return run_headless_test(options, std::make_shared<velmora::matching::PosixProcessRunner>(),
                             std::cout);
  }
  velmora::matching::PosixProcessRunner runner;
  return run_headless_batch(options, runner, std::cout);
}

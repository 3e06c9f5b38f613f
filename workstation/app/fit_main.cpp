// velmora-fit: the saved fitting work replayed without a screen (see
// fit_headless.h for the command line and the exit codes).
#include <iostream>
#include <string>
#include <vector>

#include "workstation/app/fit_headless.h"

int main(int argc, char** argv) {
  using namespace velmora::app;
  const std::vector<std::string> args(argv + 1, argv + argc);
  FitCommandLine line;
  velmora::Status s = parse_fit_arguments(args, &line);
  if (!s.ok()) {
    std::cerr << "velmora-fit: " << s.message() << "\n" << fit_usage();
    return 2;
  }
  if (line.help) {
    std::cout << fit_usage();
    return 0;
  }
  return run_fit_extract(line, std::cout, std::cerr);
}

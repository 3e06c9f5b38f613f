// tarvikx: compares a list of pending fingerprint files with a list of
// library fingerprint files and appends the similar pairs to a results file.
#include <cstdio>
#include <string>
#include <vector>

#include "compare/tarvikx.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  return tarvik::tarvikx_main(args, stdout);
}

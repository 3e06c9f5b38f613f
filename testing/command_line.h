// A program's command-line parser run as its main() runs it, for tests of
// the options without starting the program. Standard library only.
#pragma once

#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace velmora::testing {

// What the parser made of a command line, and what it printed.
template <typename Line>
struct ParsedCommandLine {
  int code = 0;  // the parser's result: -1 to go on, else the exit code
  Line line;
  std::string out, err;  // standard output, standard error
};

// Runs `parser` on the words `program` followed by `args`.
template <typename Line>
ParsedCommandLine<Line> parse_command_line(int (*parser)(int, const char* const*, Line*,
                                                         std::ostream&, std::ostream&),
                                           const char* program, std::vector<const char*> args) {
  args.insert(args.begin(), program);
  ParsedCommandLine<Line> p;
  std::ostringstream out, err;
  p.code = parser(static_cast<int>(args.size()), args.data(), &p.line, out, err);
  p.out = out.str();
  p.err = err.str();
  return p;
}

}  // namespace velmora::testing

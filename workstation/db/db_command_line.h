// The command line of velmora-db, parsed apart from running it so that tests
// can check it without starting the program.
//
//   velmora-db create FILE.sqlite   a new, empty database with the whole schema
//   velmora-db check FILE.sqlite    opens a database and prepares every statement
//                                   the workstation uses, in every form
#pragma once

#include <ostream>
#include <string>

namespace velmora::db {

extern const char kDbUsage[];

struct DbCommandLine {
  std::string command;  // "create" or "check"
  std::string path;     // FILE.sqlite
};

// Parses argv into *line. Returns -1 when the command is to run; otherwise
// the program's exit code after the text is printed: 0 after --help (the
// usage on `out`), 2 for a wrong command line (the parser's message and the
// usage on `err`).
int parse_db_command_line(int argc, const char* const* argv, DbCommandLine* line, std::ostream& out,
                          std::ostream& err);

}  // namespace velmora::db

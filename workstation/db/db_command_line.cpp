// The velmora-db command line on CLI11 (see db_command_line.h).
#include "workstation/db/db_command_line.h"

#include "workstation/common/command_line.h"

namespace velmora::db {

const char kDbUsage[] =
    "usage: velmora-db create FILE.sqlite   make a new, empty workstation database\n"
    "       velmora-db check FILE.sqlite    prepare every workstation statement on FILE\n";

int parse_db_command_line(int argc, const char* const* argv, DbCommandLine* line, std::ostream& out,
                          std::ostream& err) {
  CLI::App app("Makes and checks workstation database files.", "velmora-db");
  use_usage_text(app, "velmora-db", kDbUsage);
  for (const char* name : {"create", "check"}) {
    CLI::App* command = app.add_subcommand(name);
    command->add_option("FILE.sqlite", line->path)->required();
    command->callback([line, name] { line->command = name; });
  }
  require_known_command(app);
  return parse_command_line(app, argc, argv, out, err);
}

}  // namespace velmora::db

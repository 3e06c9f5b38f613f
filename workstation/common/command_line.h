// What the command-line programs share on top of CLI11.
//
// Each program keeps a hand-written usage text: it is the --help output (of
// the program and of each command), and it follows every complaint about the
// command line, which reads "<program>: <CLI11's message>". A wrong command
// line exits with 2, whatever CLI11's own code for the error is, so scripts
// can tell it from a failed run (1).
//
// Parsing never lets an exception out: parse_command_line returns the exit
// code to end with, or kRunCommand.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>
#include <string>

namespace velmora {

inline constexpr int kRunCommand = -1;
inline constexpr int kCommandLineError = 2;

// The usage text as the help of `app` and of every command added after this
// call, and errors as "<program>: <message>" followed by the usage. Call it
// before adding commands.
inline void use_usage_text(CLI::App& app, const std::string& program, const std::string& usage) {
  app.formatter_fn([usage](const CLI::App*, std::string, CLI::AppFormatMode) { return usage; });
  app.failure_message([program, usage](const CLI::App*, const CLI::Error& e) {
    return program + ": " + e.what() + "\n" + usage;
  });
}

// Exactly one command; a first word that names none is refused as "unknown
// command 'WORD'" rather than as an unexpected argument. Call it after adding
// the commands.
inline void require_known_command(CLI::App& app) {
  app.require_subcommand(1);
  // Commands are matched before positional words, so this one only ever
  // receives a word that is not a command.
  app.add_option_function<std::string>("command", [](const std::string& word) {
    throw CLI::ValidationError("unknown command '" + word + "'");
  });
}

// Parses argv with `app`. kRunCommand when the command is to run; otherwise
// the exit code, after the help (0) or the complaint (kCommandLineError) is
// printed.
inline int parse_command_line(CLI::App& app, int argc, const char* const* argv, std::ostream& out,
                              std::ostream& err) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help
    app.exit(e, out, err);
    return 0;
  } catch (const CLI::ParseError& e) {
    app.exit(e, out, err);
    return kCommandLineError;
  }
  return kRunCommand;
}

}  // namespace velmora

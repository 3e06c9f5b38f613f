// The command-line parsing the headless programs share: CLI11 over the
// arguments after the program name, with "--help" reported rather than
// printed and every parse error turned into a Status.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "workstation/common/status.h"

namespace velmora::app {

// Parses `args` with `cli`. Sets *help (and returns Ok) when help was asked
// for; InvalidArgument with CLI11's message on a wrong command line.
inline Status parse_command_line(CLI::App& cli, const std::vector<std::string>& args, bool* help) {
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    cli.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    *help = true;
  } catch (const CLI::ParseError& e) {
    return Status::InvalidArgument(e.what());
  }
  return Status::Ok();
}

}  // namespace velmora::app

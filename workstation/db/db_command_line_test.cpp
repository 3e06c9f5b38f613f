// The velmora-db command line, parsed without running the program.
#include "workstation/db/db_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "testing/command_line.h"

namespace velmora::db {
namespace {

using Parsed = velmora::testing::ParsedCommandLine<DbCommandLine>;

Parsed parse(std::vector<const char*> args) {
  return velmora::testing::parse_command_line(parse_db_command_line, "velmora-db", std::move(args));
}

TEST(DbCommandLine, BothCommandsTakeOneFile) {
  for (const char* command : {"create", "check"}) {
    const Parsed p = parse({command, "seals 2024.sqlite"});
    EXPECT_EQ(p.code, -1) << p.err;
    EXPECT_EQ(p.line.command, command);
    EXPECT_EQ(p.line.path, "seals 2024.sqlite");
    EXPECT_EQ(p.out + p.err, "");
  }
}

TEST(DbCommandLine, HelpIsTheUsageOnStandardOutput) {
  for (const std::vector<const char*>& args :
       std::vector<std::vector<const char*>>{{"--help"}, {"-h"}, {"create", "--help"}}) {
    const Parsed p = parse(args);
    EXPECT_EQ(p.code, 0);
    EXPECT_EQ(p.out, kDbUsage);
    EXPECT_EQ(p.err, "");
  }
}

TEST(DbCommandLine, WrongCommandLinesExitWithTwoAndTheUsage) {
  struct Case {
    std::vector<const char*> args;
    std::string message;  // the first line on standard error
  };
  const std::vector<Case> cases = {
      {{}, "velmora-db: A subcommand is required"},
      {{"make", "x.sqlite"}, "velmora-db: unknown command 'make'"},
      {{"x.sqlite"}, "velmora-db: unknown command 'x.sqlite'"},
      {{"create"}, "velmora-db: FILE.sqlite is required"},
      {{"check", "a.sqlite", "b.sqlite"},
       "velmora-db: The following argument was not expected: b.sqlite"},
      {{"create", "a.sqlite", "--force"},
       "velmora-db: The following argument was not expected: --force"},
      {{"--force", "create", "a.sqlite"},
       "velmora-db: The following argument was not expected: --force"},
  };
  for (const Case& c : cases) {
    const Parsed p = parse(c.args);
    SCOPED_TRACE(c.message);
    EXPECT_EQ(p.code, 2);
    EXPECT_EQ(p.err, c.message + "\n" + kDbUsage);
    EXPECT_EQ(p.out, "");
  }
}

}  // namespace
}  // namespace velmora::db

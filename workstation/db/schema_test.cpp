// Tests of the schema and of the velmora-db command: a new file opens in the
// sqlite3 shell, every statement prepares and runs on it, existing files are
// never overwritten, every view column is routed to its base table, text
// columns ignore letter case, and the statements' filters use indexes.
#include "workstation/db/schema.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/programs.h"
#include "testing/temp_dir.h"
#include "workstation/db/statements.h"
#include "workstation/db/testing/fixture_database.h"

namespace velmora::db {
namespace {

using velmora::testing::CommandRun;
using velmora::testing::read_file;
using velmora::testing::run_command;
using velmora::testing::shell_quote;
using velmora::testing::TempDir;

CommandRun velmora_db(const std::string& args) {
  return run_command(shell_quote(velmora::testing::built_program("velmora-db")) + " " + args);
}

// ----------------------------------------------------------- the command

TEST(VelmoraDbCommandTest, CreateMakesAFileTheShellOpens) {
  TempDir dir;
  std::string path = dir.path("new.sqlite");
  CommandRun r = velmora_db("create " + shell_quote(path));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  ASSERT_TRUE(std::filesystem::exists(path));
  CommandRun tables = run_command("sqlite3 " + shell_quote(path) + " .tables");
  ASSERT_EQ(tables.exit_code, 0) << tables.output;
  for (const std::string& t : schema_table_names()) {
    EXPECT_NE(tables.output.find(t), std::string::npos) << t;
  }
  for (const char* v : {"SYSTEM_ImageLinks", "SYSTEM_overall_ranks", "SYSTEM_ranks_by_extension"}) {
    EXPECT_NE(tables.output.find(v), std::string::npos) << v;
  }
  CommandRun count =
      run_command("sqlite3 " + shell_quote(path) +
                  " \"SELECT count(*) FROM saved_queries; PRAGMA integrity_check;\"");
  ASSERT_EQ(count.exit_code, 0) << count.output;
  EXPECT_EQ(count.output, std::to_string(saved_query_names().size()) + "\nok\n");
  CommandRun check = velmora_db("check " + shell_quote(path));
  EXPECT_EQ(check.exit_code, 0) << check.output;
}

TEST(VelmoraDbCommandTest, CreateNeverOverwritesAFile) {
  TempDir dir;
  std::string path = dir.path("precious.sqlite");
  std::ofstream(path) << "field notes, not a database";
  std::string before = read_file(path);
  CommandRun r = velmora_db("create " + shell_quote(path));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("already exists"), std::string::npos) << r.output;
  EXPECT_EQ(read_file(path), before);

  // Nor an existing database.
  std::string db = dir.path("db.sqlite");
  ASSERT_EQ(velmora_db("create " + shell_quote(db)).exit_code, 0);
  ASSERT_EQ(run_command("sqlite3 " + shell_quote(db) +
                        " \"INSERT INTO encounter (ID) VALUES ('keep me')\"")
                .exit_code,
            0);
  EXPECT_EQ(velmora_db("create " + shell_quote(db)).exit_code, 1);
  CommandRun kept = run_command("sqlite3 " + shell_quote(db) + " \"SELECT ID FROM encounter\"");
  EXPECT_EQ(kept.output, "keep me\n");
}

TEST(VelmoraDbCommandTest, BadCommandLinesGetClearMessages) {
  TempDir dir;
  CommandRun r = velmora_db("");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.output.find("usage"), std::string::npos);
  r = velmora_db("make " + shell_quote(dir.path("x.sqlite")));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.output.find("unknown command 'make'"), std::string::npos);
  r = velmora_db("create " + shell_quote(dir.path("x.mdb")));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find(".sqlite"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.path("x.mdb")));
  r = velmora_db("create " + shell_quote(dir.path("no/such/folder/x.sqlite")));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("does not exist"), std::string::npos);
  r = velmora_db("check " + shell_quote(dir.path("absent.sqlite")));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("does not exist"), std::string::npos);
}

TEST(VelmoraDbCommandTest, CheckNamesTheStatementThatNoLongerPrepares) {
  TempDir dir;
  std::string path = dir.path("damaged.sqlite");
  ASSERT_EQ(velmora_db("create " + shell_quote(path)).exit_code, 0);
  ASSERT_EQ(run_command("sqlite3 " + shell_quote(path) + " \"DROP TABLE codes\"").exit_code, 0);
  CommandRun r = velmora_db("check " + shell_quote(path));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("codes_of_cell"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("no such table: codes"), std::string::npos) << r.output;
}

// A file of `bytes` at `path`.
void write_all(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// An SQLite file made by the shell from `sql`, as some other program would
// make one; returns its bytes.
std::string make_foreign_database(const std::string& path, const std::string& sql) {
  CommandRun r = run_command("sqlite3 " + shell_quote(path) + " " + shell_quote(sql));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  return read_file(path);
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

// The workstation tables other than `present`.
std::vector<std::string> tables_except(const std::vector<std::string>& present) {
  std::vector<std::string> out;
  for (const std::string& t : schema_table_names()) {
    if (std::find(present.begin(), present.end(), t) == present.end()) out.push_back(t);
  }
  return out;
}

TEST(VelmoraDbCommandTest, CheckOfAFileThatIsNoWorkstationDatabaseSaysSoInOneLine) {
  TempDir dir;
  struct Case {
    std::string name;
    std::string sql;  // the foreign file's making; "" for an empty file
    std::vector<std::string> missing;
  };
  const std::vector<Case> cases = {
      {"notes.sqlite", "CREATE TABLE notes (x); INSERT INTO notes VALUES (1);",
       schema_table_names()},
      // Tables that happen to share workstation names (in any letter case)
      // are not missing; the rest are.
      {"shared.sqlite", "CREATE TABLE IMAGE (a); CREATE TABLE cells (b); CREATE TABLE other (c);",
       tables_except({"image", "cells"})},
      {"wal.sqlite", "PRAGMA journal_mode=WAL; CREATE TABLE notes (x);", schema_table_names()},
      {"empty.sqlite", "", schema_table_names()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.path(c.name);
    if (c.sql.empty()) {
      write_all(path, "");
    } else {
      make_foreign_database(path, c.sql);
    }
    const std::string before = read_file(path);
    CommandRun r = velmora_db("check " + shell_quote(path));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.output, "velmora-db: " + path + ": not a workstation database: missing tables " +
                            joined(c.missing) + "\n");
    EXPECT_EQ(read_file(path), before);
  }
}

TEST(VelmoraDbCommandTest, CheckOfAWorkstationDatabaseThatLostTablesNamesThemAndGoesOn) {
  TempDir dir;
  std::string path = dir.path("damaged.sqlite");
  ASSERT_EQ(velmora_db("create " + shell_quote(path)).exit_code, 0);
  ASSERT_EQ(run_command("sqlite3 " + shell_quote(path) + " \"DROP TABLE codes; DROP TABLE stats\"")
                .exit_code,
            0);
  CommandRun r = velmora_db("check " + shell_quote(path));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("velmora-db: " + path + ": missing tables codes, stats\n"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("not a workstation database"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("no such table: codes"), std::string::npos) << r.output;
}

// ------------------------------------------------------------ the schema

// A plausible value for each declared parameter type.
Value sample(ParamType t) {
  switch (t) {
    case ParamType::kDouble:
    case ParamType::kSingle:
      return 0.5;
    case ParamType::kLong:
    case ParamType::kByte:
    case ParamType::kLogical:
      return int64_t{1};
    case ParamType::kDate:
      return std::string("2024-01-02 03:04:05");
    default:
      return std::string("1");
  }
}

void run_every_statement(Database* db) {
  auto texts = all_statement_texts();
  for (auto& t : direct_statement_texts()) texts.push_back(std::move(t));
  for (const StatementText& t : texts) {
    std::unique_ptr<Statement> st;
    Status s = prepare_statement(db, t, &st);
    ASSERT_TRUE(s.ok()) << s.message();
    for (const ParameterDecl& p : t.parameters) ASSERT_TRUE(st->set(p.name, sample(p.type)).ok());
    bool query = t.sql.rfind("SELECT", 0) == 0 || t.sql.rfind("select", 0) == 0;
    if (query) {
      RecordSet rs;
      s = st->open(&rs);
    } else {
      s = st->execute();
    }
    EXPECT_TRUE(s.ok()) << s.message();
  }
}

TEST(SchemaTest, EveryStatementPreparesAndRunsOnANewFile) {
  TempDir dir;
  std::string path = dir.path("fresh.sqlite");
  ASSERT_TRUE(create_database_file(path).ok());
  std::unique_ptr<Database> db;
  ASSERT_TRUE(Database::open(path, false, &db).ok());
  run_every_statement(db.get());
  // And on a populated one.
  std::unique_ptr<Database> fixture;
  ASSERT_TRUE(testing::make_standard_fixture(":memory:", &fixture).ok());
  run_every_statement(fixture.get());
  // Every option set prepares as a whole.
  for (int bits = 0; bits < 128; bits += 5) {
    StatementOptions o;
    o.multi_aspect = bits & 1;
    o.test_mode = bits & 2;
    o.combine = bits & 4;
    o.show_crop = bits & 8;
    o.limit_to_site = bits & 16;
    o.limit_to_landscape = bits & 32;
    o.limit_search = bits & 64;
    std::unique_ptr<PreparedStatements> st;
    Status s = PreparedStatements::prepare(db.get(), o, &st);
    EXPECT_TRUE(s.ok()) << s.message();
  }
}

TEST(SchemaTest, MarksTheFileAndRefusesASecondSchema) {
  std::unique_ptr<Database> db;
  ASSERT_TRUE(testing::make_empty_database(":memory:", &db).ok());
  RecordSet rs;
  ASSERT_TRUE(db->query("id", "PRAGMA application_id", &rs).ok());
  EXPECT_EQ(rs.integer("application_id"), kApplicationId);
  ASSERT_TRUE(db->query("version", "PRAGMA user_version", &rs).ok());
  EXPECT_EQ(rs.integer("user_version"), kSchemaVersion);
  Status s = create_schema(db.get());
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("already holds tables"), std::string::npos);
}

TEST(SchemaTest, FailedCreationLeavesNoFile) {
  TempDir dir;
  std::string path = dir.path("sub/x.sqlite");
  EXPECT_FALSE(create_database_file(path).ok());
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(create_database_file("").ok());
}

// The names in a folder, sorted.
std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The workstation tables a file lacks, read from its schema table.
std::vector<std::string> tables_missing_from(const std::string& path) {
  std::unique_ptr<Database> db;
  Status s = Database::open(path, Database::OpenMode::kReadOnly, &db);
  EXPECT_TRUE(s.ok()) << s.message();
  if (!s.ok()) return schema_table_names();
  std::vector<std::string> missing;
  for (const std::string& t : schema_table_names()) {
    RecordSet rs;
    s = db->query(
        "table",
        "SELECT name FROM sqlite_schema WHERE type = 'table' AND name = '" + t + "' COLLATE NOCASE",
        &rs);
    if (!s.ok() || rs.row_count() != 1) missing.push_back(t);
  }
  return missing;
}

TEST(SchemaTest, CreatesOfOneFileAtOnceLeaveOneWholeDatabase) {
  // Several processes create the same file at the same moment: exactly one
  // succeeds, and the file it made is whole and stays (a create that lost
  // the race once removed the winner's finished database).
  constexpr int kRounds = 8;
  constexpr int kCreators = 6;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    TempDir dir;
    const std::string path = dir.path("race.sqlite");
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kCreators; ++i) {
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        close(go[1]);
        char byte;
        // Every creator waits here until the pipe is closed, then all start at once.
        if (read(go[0], &byte, 1) != 0) _exit(3);
        _exit(create_database_file(path).ok() ? 0 : 1);
      }
      children.push_back(child);
    }
    close(go[0]);
    close(go[1]);
    int made = 0, refused = 0;
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status));
      if (WEXITSTATUS(status) == 0) ++made;
      if (WEXITSTATUS(status) == 1) ++refused;
    }
    EXPECT_EQ(made, 1);
    EXPECT_EQ(refused, kCreators - 1);
    // Nothing but the database: no temporary file of any creator is left.
    EXPECT_EQ(names_in(dir.path("")), std::vector<std::string>{"race.sqlite"});
    EXPECT_EQ(tables_missing_from(path), std::vector<std::string>{});
  }
}

TEST(SchemaTest, AFileThatAppearsWhileTheDatabaseIsMadeIsNeverReplaced) {
  // What another creator (or anyone) puts at the path after the first check
  // and before the new database is given its name.
  TempDir source;
  const std::string other_db = source.path("other.sqlite");
  ASSERT_TRUE(create_database_file(other_db).ok());
  struct Case {
    std::string what;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"text", "field notes, not a database"},
      {"an empty file", ""},
      {"another database", read_file(other_db)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.path("seals.sqlite");
    int calls = 0;
    Status s = create_database_file(path, [&] {
      ++calls;
      std::ofstream(path, std::ios::binary) << c.bytes;
    });
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find("already exists"), std::string::npos) << s.message();
    EXPECT_EQ(read_file(path), c.bytes);
    EXPECT_EQ(names_in(dir.path("")), std::vector<std::string>{"seals.sqlite"});
  }
  // Without anything in the way the same call makes the database, and only it.
  TempDir dir;
  const std::string path = dir.path("seals.sqlite");
  int calls = 0;
  Status s = create_database_file(path, [&] {
    ++calls;
    EXPECT_FALSE(std::filesystem::exists(path));
  });
  EXPECT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(names_in(dir.path("")), std::vector<std::string>{"seals.sqlite"});
  EXPECT_EQ(tables_missing_from(path), std::vector<std::string>{});
}

TEST(VelmoraDbCommandTest, CreateLeavesOnlyTheDatabaseAndRefusesAnExistingOne) {
  TempDir dir;
  const std::string path = dir.path("fresh.sqlite");
  CommandRun r = velmora_db("create " + shell_quote(path));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(names_in(dir.path("")), std::vector<std::string>{"fresh.sqlite"});
  const std::string before = read_file(path);
  r = velmora_db("create " + shell_quote(path));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("already exists"), std::string::npos) << r.output;
  EXPECT_EQ(read_file(path), before);
  EXPECT_EQ(names_in(dir.path("")), std::vector<std::string>{"fresh.sqlite"});
}

TEST(SchemaTest, OpeningForUseRefusesAForeignOrEmptyFileAndChangesNothing) {
  struct Case {
    std::string what;
    std::string sql;      // the file's making by the shell; "" to write `bytes`
    std::string bytes;    // the file's bytes when not made by the shell
    std::string message;  // in the refusal
  };
  const std::vector<Case> cases = {
      {"a foreign database", "CREATE TABLE notes (x); INSERT INTO notes VALUES (1);", "",
       "is not a workstation database: missing tables encounter, sighting"},
      {"a foreign WAL database", "PRAGMA journal_mode=WAL; CREATE TABLE notes (x);", "",
       "is not a workstation database: missing tables encounter, sighting"},
      {"a workstation database without two tables", "", "",
       "is not a workstation database: missing tables codes, stats"},
      {"an empty file", "", "", "is not a workstation database: missing tables encounter"},
      {"text", "", "field notes, not a database\n", "is not a usable database"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.path("grey.sqlite");
    if (!c.sql.empty()) {
      make_foreign_database(path, c.sql);
    } else if (c.what.rfind("a workstation", 0) == 0) {
      ASSERT_TRUE(create_database_file(path).ok());
      make_foreign_database(path, "DROP TABLE codes; DROP TABLE stats;");
    } else {
      write_all(path, c.bytes);
    }
    const std::string before = read_file(path);
    std::unique_ptr<Database> db;
    Status s = open_workstation_database(path, &db);
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(db, nullptr);
    EXPECT_NE(s.message().find("'" + path + "' " + c.message), std::string::npos) << s.message();
    // Not switched to WAL, nothing written, no journal file left beside it.
    EXPECT_EQ(read_file(path), before);
    EXPECT_EQ(names_in(dir.path("")), std::vector<std::string>{"grey.sqlite"});
  }
  // A workstation database opens for use, in WAL mode.
  TempDir dir;
  const std::string path = dir.path("grey.sqlite");
  ASSERT_TRUE(create_database_file(path).ok());
  make_foreign_database(path, "PRAGMA journal_mode=DELETE;");
  std::unique_ptr<Database> db;
  Status s = open_workstation_database(path, &db);
  ASSERT_TRUE(s.ok()) << s.message();
  RecordSet rs;
  ASSERT_TRUE(db->query("mode", "PRAGMA journal_mode", &rs).ok());
  EXPECT_EQ(rs.text("journal_mode"), "wal");
}

TEST(SchemaTest, EveryTextColumnIgnoresLetterCase) {
  std::unique_ptr<Database> db;
  ASSERT_TRUE(testing::make_empty_database(":memory:", &db).ok());
  int text_columns = 0;
  for (const std::string& table : schema_table_names()) {
    RecordSet cols;
    ASSERT_TRUE(
        db->query("columns", "SELECT name, type FROM pragma_table_info('" + table + "')", &cols)
            .ok());
    ASSERT_GT(cols.row_count(), 0) << table;
    RecordSet sql;
    ASSERT_TRUE(
        db->query("sql", "SELECT sql FROM sqlite_schema WHERE name='" + table + "'", &sql).ok());
    std::string ddl = sql.text("sql");
    for (cols.move_first(); !cols.eof(); cols.move_next()) {
      if (cols.text("type") != "TEXT") continue;
      ++text_columns;
      std::string decl = cols.text("name") + " TEXT COLLATE NOCASE";
      bool found =
          ddl.find(" " + decl) != std::string::npos || ddl.find("(" + decl) != std::string::npos;
      EXPECT_TRUE(found) << table << "." << cols.text("name");
    }
  }
  EXPECT_GT(text_columns, 40);
}

TEST(SchemaTest, AspectsTableHoldsEverySettingColumn) {
  std::unique_ptr<Database> db;
  ASSERT_TRUE(testing::make_empty_database(":memory:", &db).ok());
  RecordSet cols;
  ASSERT_TRUE(
      db->query("columns", "SELECT name, type FROM pragma_table_info('aspects')", &cols).ok());
  std::map<std::string, std::string> type_of;
  for (cols.move_first(); !cols.eof(); cols.move_next()) {
    type_of[cols.text("name")] = cols.text("type");
  }
  for (const char* c : {"aspect", "aspect_letter", "cell_type", "pattern", "model_fname"}) {
    EXPECT_EQ(type_of[c], "TEXT") << c;
  }
  for (const char* c :
       {"dorsal_midline", "adjust_extract", "no_order", "left_right", "show_n_spots",
        "fennick_code", "from_r", "to_r", "step_r", "from_theta_deg", "to_theta_deg",
        "step_theta_deg", "all_green", "merged_only"}) {
    EXPECT_EQ(type_of[c], "INTEGER") << c;
  }
  for (const char* c : {"scale_special", "scale_mid", "scale_overspill", "scale_mag", "scale_edge",
                        "scale_stiff", "scale_twist", "scale_thin", "sigmax_ratio", "sigmay"}) {
    EXPECT_EQ(type_of[c], "REAL") << c;
  }
  // A 16-bit setting out of range is refused, as its stored type would.
  Status s = db->execute("range", "INSERT INTO aspects (aspect, from_r) VALUES ('x', 40000)");
  EXPECT_FALSE(s.ok());
}

// Where each updatable column of SYSTEM_ImageLinks lives.
struct Route {
  const char* column;
  const char* table;
  const char* key;  // the base table's key column, matched to the view's
  const char* view_key;
  Value value;
};

TEST(SchemaTest, EveryViewColumnIsUpdatedInItsBaseTable) {
  std::unique_ptr<Database> db;
  ASSERT_TRUE(testing::make_standard_fixture(":memory:", &db).ok());
  const Route routes[] = {
      {"AutoMatch", "cells", "cell", "cell", std::string("V")},
      {"side", "cells", "cell", "cell", std::string("M")},
      {"facing", "cells", "cell", "cell", std::string("R")},
      {"aspect", "cells", "cell", "cell", std::string("Dorsal")},
      {"off_square", "cells", "cell", "cell", 33.25},
      {"pcb", "cells", "cell", "cell", int64_t{12}},
      {"scale", "cells", "cell", "cell", 1.125},
      {"tagged", "cells", "cell", "cell", int64_t{1}},
      {"cell_no", "cells", "cell", "cell", int64_t{77}},
      {"image_no", "image", "image", "image", int64_t{42}},
      {"photo", "image", "image", "image", std::string("renamed")},
      {"comments", "image", "image", "image", std::string("fresh note")},
      {"dt", "image", "image", "image", std::string("2020-01-01 00:00:00")},
      {"ID", "encounter", "encounter_no", "encounter_no", std::string("Z9")},
      {"gender", "encounter", "encounter_no", "encounter_no", std::string("Female")},
      {"site", "sighting", "sighting_no", "sighting_no", std::string("Skerry")},
      {"landscape", "sighting", "sighting_no", "sighting_no", std::string("Islands")},
  };
  const std::string cell = "101_1FL";
  for (const Route& r : routes) {
    RecordSet rs;
    ASSERT_TRUE(db->query("row", "SELECT * FROM SYSTEM_ImageLinks WHERE cell='" + cell + "'", &rs,
                          "SYSTEM_ImageLinks", "cell")
                    .ok());
    ASSERT_EQ(rs.row_count(), 1);
    rs.edit(r.column, r.value);
    Status s = rs.update();
    ASSERT_TRUE(s.ok()) << r.column << ": " << s.message();
    RecordSet base;
    ASSERT_TRUE(db->query("base",
                          std::string("SELECT ") + r.column + " AS v FROM " + r.table + " WHERE " +
                              r.key + " = '" + rs.text(r.view_key) + "'",
                          &base)
                    .ok());
    ASSERT_EQ(base.row_count(), 1) << r.column;
    EXPECT_EQ(as_text(base.field("v")), as_text(r.value)) << r.column;
  }
  // Renaming the extract itself goes to cells as well.
  ASSERT_TRUE(
      db->execute("rename", "UPDATE SYSTEM_ImageLinks SET cell='101_9FL' WHERE cell='101_1FL'")
          .ok());
  RecordSet rs;
  ASSERT_TRUE(db->query("check", "SELECT count(*) AS n FROM cells WHERE cell='101_9FL'", &rs).ok());
  EXPECT_EQ(rs.integer("n"), 1);
}

TEST(SchemaTest, StatementFiltersUseIndexes) {
  std::unique_ptr<Database> db;
  ASSERT_TRUE(testing::make_standard_fixture(":memory:", &db).ok());
  // Statements whose filter must be an index search, and the tables that
  // must not be scanned whole.
  const std::pair<const char*, const char*> checks[] = {
      {"pending_cells", "cells"},
      {"pending_cell", "cells"},
      {"library_cells", "cells"},
      {"cell_no_of_cell", "cells"},
      {"distribution_of_file", "distribution"},
      {"add_distribution_L", "distribution"},
      {"clear_pretemp", "pretemp"},
      {"best_pretemp_scores", "pretemp"},
      {"delete_temp_of_pending", "temp"},
      {"best_ids_for_pending", "temp"},
      {"merge_id", "encounter"},
      {"merge_mum_id", "encounter"},
      {"mark_automatched", "encounter"},
      {"left_images_of_id", "encounter"},
      {"photos_of_id", "encounter"},
      {"stats_of_algorithm", "stats"},
      {"aspect_settings", "aspects"},
      {"review_item", "cells"},
  };
  std::map<std::string, std::string> sql_of;
  for (const auto& t : all_statement_texts()) sql_of.emplace(t.name, t.sql);
  for (const auto& [name, table] : checks) {
    RecordSet plan;
    ASSERT_TRUE(db->query("plan", "EXPLAIN QUERY PLAN " + sql_of.at(name), &plan).ok()) << name;
    std::string all;
    for (plan.move_first(); !plan.eof(); plan.move_next()) all += plan.text("detail") + "\n";
    EXPECT_EQ(all.find(std::string("SCAN ") + table + "\n"), std::string::npos) << name << ":\n"
                                                                                << all;
    EXPECT_EQ(all.find(std::string("SCAN ") + table + " "), std::string::npos) << name << ":\n"
                                                                               << all;
  }
}

TEST(FixtureTest, StandardFixtureHoldsEveryStatusBothAspectKindsAndFiveFamilies) {
  std::unique_ptr<Database> db;
  ASSERT_TRUE(testing::make_standard_fixture(":memory:", &db).ok());
  RecordSet rs;
  ASSERT_TRUE(db->query("statuses", "SELECT DISTINCT AutoMatch FROM SYSTEM_ImageLinks", &rs).ok());
  EXPECT_EQ(rs.row_count(), 8);
  ASSERT_TRUE(db->query("view rows", "SELECT count(*) AS n FROM SYSTEM_ImageLinks", &rs).ok());
  EXPECT_EQ(rs.integer("n"), static_cast<int64_t>(testing::standard_extracts().size()));
  ASSERT_TRUE(db->query("types", "SELECT DISTINCT type FROM algy", &rs).ok());
  EXPECT_EQ(rs.row_count(), 5);
  ASSERT_TRUE(db->query("sides",
                        "SELECT cell_type FROM aspects WHERE cell_type IN ('lateral', "
                        "'Dorsal', 'Ventral')",
                        &rs)
                  .ok());
  EXPECT_EQ(rs.row_count(), 3);
  // The view agrees with the list other tests derive their expectations from.
  for (const auto& e : testing::standard_extracts()) {
    ASSERT_TRUE(db->query("row",
                          "SELECT ID, aspect, AutoMatch, gender, site FROM SYSTEM_ImageLinks "
                          "WHERE cell='" +
                              e.cell + "'",
                          &rs)
                    .ok());
    ASSERT_EQ(rs.row_count(), 1) << e.cell;
    EXPECT_EQ(rs.text("ID"), e.id);
    EXPECT_EQ(rs.text("aspect"), e.aspect);
    EXPECT_EQ(rs.text("AutoMatch"), e.auto_match);
    EXPECT_EQ(rs.text("gender"), e.gender);
    EXPECT_EQ(rs.text("site"), e.site);
  }
}

TEST(FixtureTest, BulkExtractsForLargeDatabases) {
  std::unique_ptr<Database> db;
  ASSERT_TRUE(testing::make_empty_database(":memory:", &db).ok());
  testing::FixtureBuilder b(db.get());
  ASSERT_TRUE(b.add_bulk_extracts("L", 3, 150, "Flank", "FL", "L", "P").ok());
  RecordSet rs;
  ASSERT_TRUE(db->query("count",
                        "SELECT count(*) AS n, count(DISTINCT ID) AS a FROM "
                        "SYSTEM_ImageLinks WHERE side='L'",
                        &rs)
                  .ok());
  EXPECT_EQ(rs.integer("n"), 450);
  EXPECT_EQ(rs.integer("a"), 3);
  // A name that is taken already fails and leaves nothing of the batch.
  Status s = b.add_bulk_extracts("L", 1, 2, "Flank", "FL", "L", "P");
  EXPECT_FALSE(s.ok());
  ASSERT_TRUE(db->query("count", "SELECT count(*) AS n FROM cells", &rs).ok());
  EXPECT_EQ(rs.integer("n"), 450);
}

}  // namespace
}  // namespace velmora::db

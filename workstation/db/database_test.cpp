// Tests of the database layer itself: record-set movement, fields, named and
// typed parameters, edits through the view, transactions, saved queries and
// the messages of failures (bad SQL, constraint, read-only file).
#include "workstation/db/database.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <vector>

#include "testing/temp_dir.h"
#include "workstation/db/schema.h"
#include "workstation/db/testing/fixture_database.h"
#include "workstation/db/testing/test_database.h"

namespace velmora::db {
namespace {

using testing::count_of;
using testing::make_standard_fixture;
using velmora::testing::TempDir;

std::unique_ptr<Database> memory_db() {
  std::unique_ptr<Database> db;
  EXPECT_TRUE(Database::open(":memory:", true, &db).ok());
  return db;
}

// ------------------------------------------------------------ record sets

TEST(RecordSetTest, EmptySetIsAtItsEndAtOnce) {
  auto db = memory_db();
  ASSERT_TRUE(db->execute("make", "CREATE TABLE t (a INTEGER, b TEXT)").ok());
  RecordSet rs;
  ASSERT_TRUE(db->query("empty", "SELECT a, b FROM t", &rs).ok());
  EXPECT_EQ(rs.row_count(), 0);
  EXPECT_TRUE(rs.eof());
  EXPECT_FALSE(rs.bof());
  rs.move_first();
  EXPECT_TRUE(rs.eof());
  rs.move_last();
  EXPECT_TRUE(rs.eof());
  rs.move_next();
  EXPECT_TRUE(rs.eof());
  // The columns are known even without rows, and reading one gives NULL.
  EXPECT_TRUE(rs.has_column("A"));
  EXPECT_TRUE(is_null(rs.field("a")));
  rs.edit("a", int64_t{1});
  EXPECT_FALSE(rs.update().ok());
}

TEST(RecordSetTest, MovesOverEveryRowBothWays) {
  auto db = memory_db();
  ASSERT_TRUE(db->execute("make", "CREATE TABLE t (a INTEGER)").ok());
  ASSERT_TRUE(db->execute("fill", "INSERT INTO t VALUES (1), (2), (3)").ok());
  RecordSet rs;
  ASSERT_TRUE(db->query("all", "SELECT a FROM t ORDER BY a", &rs).ok());
  ASSERT_EQ(rs.row_count(), 3);
  std::vector<int64_t> forward, backward;
  for (rs.move_first(); !rs.eof(); rs.move_next()) forward.push_back(rs.integer("a"));
  EXPECT_EQ(forward, (std::vector<int64_t>{1, 2, 3}));
  rs.move_next();  // past the end stays at the end
  EXPECT_TRUE(rs.eof());
  for (rs.move_last(); !rs.bof(); rs.move_previous()) backward.push_back(rs.integer("a"));
  EXPECT_EQ(backward, (std::vector<int64_t>{3, 2, 1}));
  EXPECT_FALSE(rs.eof());
  rs.move_previous();  // before the start stays before the start
  EXPECT_TRUE(rs.bof());
  EXPECT_TRUE(is_null(rs.field("a")));
  rs.move_first();
  EXPECT_EQ(rs.integer("a"), 1);
}

TEST(RecordSetTest, FieldsByNameIgnoreLetterCase) {
  auto db = memory_db();
  RecordSet rs;
  ASSERT_TRUE(
      db->query("q", "SELECT 7 AS cell_no, 'x' AS AutoMatch, 2.5 AS score, NULL AS n", &rs).ok());
  EXPECT_EQ(rs.integer("CELL_NO"), 7);
  EXPECT_EQ(rs.text("automatch"), "x");
  EXPECT_DOUBLE_EQ(rs.number("Score"), 2.5);
  EXPECT_TRUE(is_null(rs.field("n")));
  EXPECT_TRUE(rs.has_column("N"));
  EXPECT_FALSE(rs.has_column("missing"));
  EXPECT_TRUE(is_null(rs.field("missing")));
}

TEST(ValueTest, ConversionsRoundHalfToEvenAndReadText) {
  EXPECT_EQ(as_integer(Value(2.5)), 2);
  EXPECT_EQ(as_integer(Value(3.5)), 4);
  EXPECT_EQ(as_integer(Value(-2.5)), -2);
  EXPECT_EQ(as_integer(Value(std::string("12"))), 12);
  EXPECT_EQ(as_integer(Value(std::string("x"))), 0);
  EXPECT_EQ(as_integer(Value(1e300)), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(as_integer(Value()), 0);
  EXPECT_EQ(as_text(Value()), "");
  EXPECT_EQ(as_text(Value(int64_t{-4})), "-4");
  // Shortest text that reads back as the same double.
  EXPECT_EQ(as_text(Value(0.1)), "0.1");
  EXPECT_EQ(std::stod(as_text(Value(1.0 / 3.0))), 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(as_double(Value(std::string("0.25"))), 0.25);
}

// -------------------------------------------------------------- parameters

TEST(StatementTest, NamedParametersMatchWithoutLetterCaseAndKeepTheirValues) {
  auto db = memory_db();
  std::unique_ptr<Statement> st;
  ASSERT_TRUE(db->prepare("echo", "SELECT :Pcell AS v", &st).ok());
  ASSERT_TRUE(st->set("pCell", std::string("A1")).ok());
  RecordSet rs;
  ASSERT_TRUE(st->open(&rs).ok());
  EXPECT_EQ(rs.text("v"), "A1");
  // Run again without setting: the value stays.
  ASSERT_TRUE(st->open(&rs).ok());
  EXPECT_EQ(rs.text("v"), "A1");
  Status s = st->set("pSide", std::string("L"));
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("echo"), std::string::npos);
  EXPECT_NE(s.message().find("pSide"), std::string::npos);
}

TEST(StatementTest, TypedParametersConvertOrRefuse) {
  Value out;
  EXPECT_TRUE(
      convert_parameter("pScore", ParamType::kDouble, Value(std::string(" 0.5 ")), &out).ok());
  EXPECT_DOUBLE_EQ(std::get<double>(out), 0.5);
  Status s = convert_parameter("pScore", ParamType::kDouble, Value(std::string("abc")), &out);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("pScore"), std::string::npos);
  EXPECT_FALSE(convert_parameter("p", ParamType::kDouble, Value(std::string("inf")), &out).ok());
  EXPECT_FALSE(convert_parameter("p", ParamType::kDouble, Value(std::string("0x10")), &out).ok());
  EXPECT_FALSE(convert_parameter("pRank", ParamType::kByte, Value(int64_t{256}), &out).ok());
  EXPECT_FALSE(convert_parameter("pRank", ParamType::kByte, Value(int64_t{-1}), &out).ok());
  ASSERT_TRUE(convert_parameter("pRank", ParamType::kByte, Value(int64_t{255}), &out).ok());
  EXPECT_EQ(std::get<int64_t>(out), 255);
  ASSERT_TRUE(convert_parameter("pN", ParamType::kLong, Value(2.5), &out).ok());
  EXPECT_EQ(std::get<int64_t>(out), 2);  // half to even
  EXPECT_FALSE(convert_parameter("pN", ParamType::kLong, Value(3e9), &out).ok());
  ASSERT_TRUE(
      convert_parameter("pStan", ParamType::kLogical, Value(std::string("TRUE")), &out).ok());
  EXPECT_EQ(std::get<int64_t>(out), 1);
  ASSERT_TRUE(convert_parameter("pStan", ParamType::kLogical, Value(int64_t{-1}), &out).ok());
  EXPECT_EQ(std::get<int64_t>(out), 1);
  ASSERT_TRUE(convert_parameter("pStan", ParamType::kLogical, Value(int64_t{0}), &out).ok());
  EXPECT_EQ(std::get<int64_t>(out), 0);
  EXPECT_FALSE(
      convert_parameter("pStan", ParamType::kLogical, Value(std::string("yes")), &out).ok());
  ASSERT_TRUE(convert_parameter("pScore", ParamType::kString, Value(0.25), &out).ok());
  EXPECT_EQ(std::get<std::string>(out), "0.25");
  ASSERT_TRUE(convert_parameter("pScore", ParamType::kSingle, Value(0.1), &out).ok());
  EXPECT_EQ(std::get<double>(out), static_cast<double>(0.1f));
  EXPECT_TRUE(
      convert_parameter("pD", ParamType::kDate, Value(std::string("2024-02-29 13:05:09")), &out)
          .ok());
  EXPECT_TRUE(
      convert_parameter("pD", ParamType::kDate, Value(std::string("2024-02-29")), &out).ok());
  EXPECT_FALSE(
      convert_parameter("pD", ParamType::kDate, Value(std::string("29/02/2024")), &out).ok());
  EXPECT_FALSE(convert_parameter("pD", ParamType::kDate, Value(45000.5), &out).ok());
  // NULL stays NULL for every type.
  EXPECT_TRUE(convert_parameter("pD", ParamType::kByte, Value(), &out).ok());
  EXPECT_TRUE(is_null(out));
}

TEST(StatementTest, DeclaredTypeAppliesWhenSet) {
  auto db = memory_db();
  std::unique_ptr<Statement> st;
  ASSERT_TRUE(db->prepare("typed", "SELECT :pScore AS v, typeof(:pScore) AS t", &st).ok());
  ASSERT_TRUE(st->declare("PSCORE", ParamType::kString).ok());
  ASSERT_TRUE(st->set("pScore", 0.5).ok());
  RecordSet rs;
  ASSERT_TRUE(st->open(&rs).ok());
  EXPECT_EQ(rs.text("t"), "text");
  EXPECT_FALSE(st->declare("pOther", ParamType::kString).ok());
}

TEST(StatementTest, UnavailableStatementFailsEveryCallWithItsReason) {
  auto st = Statement::unavailable("library_cells_at_site", "no site limit in force");
  RecordSet rs;
  Status s = st->open(&rs);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("library_cells_at_site"), std::string::npos);
  EXPECT_NE(s.message().find("no site limit in force"), std::string::npos);
  EXPECT_FALSE(st->set("pSite", std::string("x")).ok());
  int changes = 7;
  EXPECT_FALSE(st->execute(&changes).ok());
  EXPECT_EQ(changes, 0);
}

TEST(StatementTest, ToSingleRoundsToFloatPrecision) {
  auto db = memory_db();
  RecordSet rs;
  ASSERT_TRUE(db->query("single",
                        "SELECT to_single(0.1) AS a, to_single('0.1') AS b, "
                        "to_single(NULL) AS c, to_single('x') AS d",
                        &rs)
                  .ok());
  EXPECT_EQ(rs.number("a"), static_cast<double>(0.1f));
  EXPECT_EQ(rs.number("b"), static_cast<double>(0.1f));
  EXPECT_TRUE(is_null(rs.field("c")));
  EXPECT_EQ(rs.text("d"), "x");
}

TEST(StatementTest, ToSingleStaysWithinTheSingleRange) {
  auto db = memory_db();
  const double kMax = static_cast<double>(std::numeric_limits<float>::max());
  struct Case {
    const char* sql;  // the argument of to_single
    double value;     // what it gives
  };
  const std::vector<Case> cases = {
      {"3.5e38", kMax},   {"-1e39", -kMax}, {"1e999", kMax},        {"-1e999", -kMax},
      {"'3.5e38'", kMax}, {"1e300", kMax},  {"3.4028234e38", kMax}, {"1", 1.0},
      {"-0.25", -0.25},   {"2", 2.0},
  };
  for (const Case& c : cases) {
    RecordSet rs;
    ASSERT_TRUE(db->query("single", std::string("SELECT to_single(") + c.sql + ") AS v", &rs).ok())
        << c.sql;
    EXPECT_EQ(rs.number("v"), c.value) << c.sql;
  }
  // A single-precision score column takes what to_single gives, whatever it was given.
  ASSERT_TRUE(db->execute("make", "CREATE TABLE t (score REAL) STRICT").ok());
  Status s = db->execute("fill", "INSERT INTO t VALUES (to_single(3.5e38)), (to_single(-1e999))");
  EXPECT_TRUE(s.ok()) << s.message();
}

// ----------------------------------------------------------------- failures

TEST(FailureTest, BadStatementNamesItselfItsSqlAndTheEngineMessage) {
  auto db = memory_db();
  std::unique_ptr<Statement> st;
  Status s = db->prepare("pending_cells", "SELECT cell FROM nosuchtable", &st);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.code(), Status::Code::kDatabase);
  EXPECT_NE(s.message().find("pending_cells"), std::string::npos);
  EXPECT_NE(s.message().find("SELECT cell FROM nosuchtable"), std::string::npos);
  EXPECT_NE(s.message().find("no such table: nosuchtable"), std::string::npos);
  EXPECT_EQ(st, nullptr);
}

TEST(FailureTest, RunTimeFailureNamesTheStatement) {
  auto db = memory_db();
  ASSERT_TRUE(db->execute("make", "CREATE TABLE t (a INTEGER PRIMARY KEY)").ok());
  ASSERT_TRUE(db->execute("fill", "INSERT INTO t VALUES (1)").ok());
  Status s = db->execute("insert_again", "INSERT INTO t VALUES (1)");
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("insert_again"), std::string::npos);
  EXPECT_NE(s.message().find("UNIQUE constraint failed"), std::string::npos);
}

TEST(FailureTest, TwoStatementsInOneTextAreRefused) {
  auto db = memory_db();
  std::unique_ptr<Statement> st;
  Status s = db->prepare("two", "SELECT 1; SELECT 2", &st);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("more than one statement"), std::string::npos);
  EXPECT_TRUE(db->prepare("one", "SELECT 1;  ", &st).ok());
}

TEST(FailureTest, MissingAndForeignFilesAreReportedClearly) {
  TempDir dir;
  std::unique_ptr<Database> db;
  Status s = Database::open(dir.path("absent.sqlite"), false, &db);
  EXPECT_EQ(s.code(), Status::Code::kNotFound);
  EXPECT_NE(s.message().find("absent.sqlite"), std::string::npos);
  EXPECT_EQ(db, nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir.path("absent.sqlite")));

  std::ofstream(dir.path("notes.sqlite")) << "this is not a database, just some text\n";
  s = Database::open(dir.path("notes.sqlite"), false, &db);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("notes.sqlite"), std::string::npos);
  EXPECT_NE(s.message().find("not a database"), std::string::npos);
}

TEST(FailureTest, ReadOnlyDatabaseReportsTheFailedWrite) {
  TempDir dir;
  std::string path = dir.path("ro.sqlite");
  ASSERT_TRUE(create_database_file(path).ok());
  std::unique_ptr<Database> db;
  ASSERT_TRUE(Database::open(path, Database::OpenMode::kReadOnly, &db).ok());
  Status s = db->execute("mark_automatched", "UPDATE encounter SET AutoMatched=1 WHERE ID='x'");
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("mark_automatched"), std::string::npos);
  EXPECT_NE(s.message().find("readonly"), std::string::npos);
}

// Opens `path` as the workstation does; 0 when refused as read-only.
int open_expecting_read_only(const std::string& path) {
  std::unique_ptr<Database> db;
  Status s = Database::open(path, false, &db);
  if (s.ok()) return 1;
  if (s.message().find("read-only") == std::string::npos) return 2;
  if (s.message().find(path) == std::string::npos) return 3;
  return 0;
}

TEST(FailureTest, WriteProtectedFileIsRefusedAtOpen) {
  TempDir dir;
  std::string path = dir.path("locked.sqlite");
  ASSERT_TRUE(create_database_file(path).ok());
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  if (geteuid() != 0) {
    EXPECT_EQ(open_expecting_read_only(path), 0);
    return;
  }
  // File permissions do not bind the super-user: try as an ordinary user in
  // a child process.
  ASSERT_EQ(chmod(std::filesystem::path(path).parent_path().c_str(), 0755), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    _exit(open_expecting_read_only(path));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: opened, 2/3: wrong message, 10: no ordinary user";
}

TEST(FailureTest, ReadOnlyFolderNoteNamesTheFolder) {
  const std::string here = std::filesystem::current_path().lexically_normal().string();
  struct Case {
    std::string path;
    bool folder_writable;
    std::string folder;  // named in the note; "" when there is no note
  };
  const std::vector<Case> cases = {
      {"/data/seals/grey.sqlite", false, "/data/seals"},
      {"/data/seals/../seals/grey.sqlite", false, "/data/seals"},
      {"grey.sqlite", false, here},
      {"/data/seals/grey.sqlite", true, ""},
      {"grey.sqlite", true, ""},
  };
  for (const Case& c : cases) {
    const std::string note = read_only_folder_note(c.path, c.folder_writable);
    if (c.folder.empty()) {
      EXPECT_EQ(note, "") << c.path;
      continue;
    }
    EXPECT_NE(note.find("The folder '" + c.folder + "' holding the database must be writable"),
              std::string::npos)
        << note;
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
      EXPECT_NE(note.find(std::string("grey.sqlite") + suffix), std::string::npos) << note;
    }
  }
}

// Runs `work` as the ordinary user "nobody" when this process is the
// super-user (whom file permissions do not bind), in a child process, and
// returns what it returned; "no ordinary user" when the child could not
// become one.
std::string as_ordinary_user(const std::function<std::string()>& work) {
  if (geteuid() != 0) return work();
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  pid_t child = fork();
  if (child < 0) return "no child";
  if (child == 0) {
    close(out[0]);
    std::string text = "no ordinary user";
    if (setgid(65534) == 0 && setuid(65534) == 0) text = work();
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = write(out[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(out[1]);
  std::string text;
  char buf[512];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return text;
}

TEST(FailureTest, ReadOnlyFolderIsNamedWhenTheDatabaseCannotBeWritten) {
  // Really run as an ordinary user in a read-only folder holding a database
  // file that user may write: the engine reports "attempt to write a
  // readonly database", and the message must point at the folder.
  TempDir dir;
  ASSERT_EQ(chmod(dir.path("").c_str(), 0755), 0);
  struct Case {
    std::string journal;  // the file's journal mode before the workstation opens it
    // Whether even reading needs a file beside the database (WAL: its -shm).
    bool reading_needs_the_folder;
  };
  const std::vector<Case> cases = {{"wal", true}, {"delete", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.journal);
    const std::string folder = dir.path(c.journal);
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const std::string path = folder + "/grey.sqlite";
    ASSERT_TRUE(create_database_file(path).ok());
    {
      std::unique_ptr<Database> db;
      ASSERT_TRUE(Database::open(path, false, &db).ok());
      RecordSet rs;
      ASSERT_TRUE(db->query("journal", "PRAGMA journal_mode=" + c.journal, &rs).ok());
      EXPECT_EQ(rs.text("journal_mode"), c.journal);
    }
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    const std::string message = as_ordinary_user([&] {
      std::unique_ptr<Database> db;
      Status s = Database::open(path, false, &db);
      return s.ok() ? std::string("opened") : s.message();
    });
    EXPECT_NE(message.find("attempt to write a readonly database"), std::string::npos) << message;
    EXPECT_NE(message.find("The folder '" + folder + "' holding the database must be writable"),
              std::string::npos)
        << message;
    // Reading only (velmora-db check): a WAL database cannot even be read
    // there, which is the folder's fault too; where it can, a write refused
    // on a connection opened for reading only is expected and gets no note.
    const std::string read_only = as_ordinary_user([&] {
      std::unique_ptr<Database> db;
      Status s = Database::open(path, Database::OpenMode::kReadOnly, &db);
      if (!s.ok()) return "open: " + s.message();
      s = db->execute("write", "UPDATE encounter SET ID = 'x'");
      return s.ok() ? std::string("written") : "write: " + s.message();
    });
    EXPECT_EQ(read_only.rfind(c.reading_needs_the_folder ? "open: " : "write: ", 0), 0u)
        << read_only;
    EXPECT_NE(read_only.find("readonly database"), std::string::npos) << read_only;
    EXPECT_EQ(read_only.find("The folder '" + folder + "' holding the database must be writable") !=
                  std::string::npos,
              c.reading_needs_the_folder)
        << read_only;
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  }
}

TEST(ConnectionTest, FileDatabaseUsesWalAndABusyTimeout) {
  TempDir dir;
  std::string path = dir.path("wal.sqlite");
  ASSERT_TRUE(create_database_file(path).ok());
  std::unique_ptr<Database> db;
  ASSERT_TRUE(Database::open(path, false, &db).ok());
  RecordSet rs;
  ASSERT_TRUE(db->query("mode", "PRAGMA journal_mode", &rs).ok());
  EXPECT_EQ(rs.text("journal_mode"), "wal");
  ASSERT_TRUE(db->query("timeout", "PRAGMA busy_timeout", &rs).ok());
  EXPECT_GE(rs.integer("timeout"), 1000);
}

// ------------------------------------------------------------- transactions

TEST(TransactionTest, RollbackLeavesNothingBehind) {
  auto db = memory_db();
  ASSERT_TRUE(db->execute("make", "CREATE TABLE t (a INTEGER)").ok());
  {
    Transaction tx(db.get());
    ASSERT_TRUE(tx.begun().ok());
    ASSERT_TRUE(db->execute("fill", "INSERT INTO t VALUES (1), (2)").ok());
    // No commit: the destructor rolls back.
  }
  EXPECT_EQ(count_of(db.get(), "SELECT count(*) FROM t"), 0);
  EXPECT_FALSE(db->in_transaction());
  {
    Transaction tx(db.get());
    ASSERT_TRUE(db->execute("fill", "INSERT INTO t VALUES (3)").ok());
    ASSERT_TRUE(tx.commit().ok());
  }
  EXPECT_EQ(count_of(db.get(), "SELECT count(*) FROM t"), 1);
}

TEST(TransactionTest, NestedUnitRollsBackOnlyItsOwnPart) {
  auto db = memory_db();
  ASSERT_TRUE(db->execute("make", "CREATE TABLE t (a INTEGER)").ok());
  Transaction outer(db.get());
  ASSERT_TRUE(outer.begun().ok());
  ASSERT_TRUE(db->execute("fill", "INSERT INTO t VALUES (1)").ok());
  {
    Transaction inner(db.get());
    ASSERT_TRUE(inner.begun().ok());
    ASSERT_TRUE(db->execute("fill", "INSERT INTO t VALUES (2)").ok());
  }
  EXPECT_EQ(count_of(db.get(), "SELECT count(*) FROM t"), 1);
  ASSERT_TRUE(outer.commit().ok());
  EXPECT_EQ(count_of(db.get(), "SELECT count(*) FROM t"), 1);
  EXPECT_TRUE(db->rollback().ok());  // nothing open: nothing to do
}

// ------------------------------------------------------------ saved queries

TEST(SavedQueryTest, RunsByNameAllOrNothing) {
  auto db = memory_db();
  ASSERT_TRUE(
      db->execute("make", "CREATE TABLE saved_queries (name TEXT PRIMARY KEY, sql TEXT)").ok());
  ASSERT_TRUE(db->execute("make", "CREATE TABLE t (a INTEGER PRIMARY KEY)").ok());
  ASSERT_TRUE(db->execute("save",
                          "INSERT INTO saved_queries VALUES ('good', 'INSERT INTO t "
                          "VALUES (1); INSERT INTO t VALUES (2)'), ('bad', 'INSERT INTO "
                          "t VALUES (3); INSERT INTO t VALUES (1)')")
                  .ok());
  ASSERT_TRUE(db->run_saved_query("good").ok());
  EXPECT_EQ(count_of(db.get(), "SELECT count(*) FROM t"), 2);
  Status s = db->run_saved_query("bad");
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("bad"), std::string::npos);
  EXPECT_NE(s.message().find("UNIQUE"), std::string::npos);
  // Row 3 of the failed step is gone again.
  EXPECT_EQ(count_of(db.get(), "SELECT count(*) FROM t"), 2);
  // Inside a caller's transaction a failed step undoes only itself.
  {
    Transaction tx(db.get());
    ASSERT_TRUE(db->execute("fill", "INSERT INTO t VALUES (10)").ok());
    EXPECT_FALSE(db->run_saved_query("bad").ok());
    EXPECT_TRUE(db->in_transaction());
    ASSERT_TRUE(tx.commit().ok());
  }
  EXPECT_EQ(count_of(db.get(), "SELECT count(*) FROM t"), 3);
  s = db->run_saved_query("s99: nothing");
  EXPECT_EQ(s.code(), Status::Code::kNotFound);
  EXPECT_NE(s.message().find("s99: nothing"), std::string::npos);
}

TEST(SavedQueryTest, DatabaseWithoutTheTableSaysSo) {
  auto db = memory_db();
  Status s = db->run_saved_query("s01: make IDs");
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("saved_queries"), std::string::npos);
}

// ----------------------------------------------------- edits through the view

class ViewEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Status s = make_standard_fixture(":memory:", &db_);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  RecordSet extract_rows() {
    RecordSet rs;
    Status s = db_->query("images_to_extract",
                          "SELECT photo, image, cell, id, side, facing, AutoMatch, off_square, "
                          "pcb, scale, tagged, comments FROM SYSTEM_ImageLinks WHERE "
                          "AutoMatch='E' ORDER BY cell",
                          &rs, "SYSTEM_ImageLinks", "cell");
    EXPECT_TRUE(s.ok()) << s.message();
    return rs;
  }
  std::unique_ptr<Database> db_;
};

TEST_F(ViewEditTest, ExtractionAttributesAndStatusReachTheBaseTables) {
  RecordSet rs = extract_rows();
  ASSERT_GT(rs.row_count(), 0);
  rs.move_first();
  std::string cell = rs.text("cell");
  rs.edit("side", std::string("L"));
  rs.edit("facing", std::string("L"));
  rs.edit("off_square", 12.5);
  rs.edit("pcb", int64_t{7});
  rs.edit("scale", 0.75);
  rs.edit("tagged", int64_t{1});
  Status s = rs.update();
  ASSERT_TRUE(s.ok()) << s.message();
  // The set shows the new values, and so do the base tables.
  EXPECT_EQ(rs.text("side"), "L");
  RecordSet check;
  ASSERT_TRUE(db_->query("check",
                         "SELECT side, facing, off_square, pcb, scale, tagged, AutoMatch FROM "
                         "cells WHERE cell='" +
                             cell + "'",
                         &check)
                  .ok());
  EXPECT_EQ(check.text("side"), "L");
  EXPECT_EQ(check.text("facing"), "L");
  EXPECT_DOUBLE_EQ(check.number("off_square"), 12.5);
  EXPECT_EQ(check.integer("pcb"), 7);
  EXPECT_DOUBLE_EQ(check.number("scale"), 0.75);
  EXPECT_EQ(check.integer("tagged"), 1);
  EXPECT_EQ(check.text("AutoMatch"), "E");  // not edited, not changed
  rs.edit("AutoMatch", std::string("P"));
  ASSERT_TRUE(rs.update().ok());
  EXPECT_EQ(
      count_of(db_.get(), "SELECT count(*) FROM cells WHERE cell='" + cell + "' AND AutoMatch='P'"),
      1);
}

TEST_F(ViewEditTest, PhotographColumnsGoToTheImageTable) {
  RecordSet rs = extract_rows();
  rs.move_first();
  std::string image = rs.text("image");
  rs.edit("comments", std::string("re-checked"));
  ASSERT_TRUE(rs.update().ok());
  RecordSet check;
  ASSERT_TRUE(
      db_->query("check", "SELECT comments FROM image WHERE image='" + image + "'", &check).ok());
  EXPECT_EQ(check.text("comments"), "re-checked");
}

TEST_F(ViewEditTest, BadEditsAreRefusedWithAMessage) {
  RecordSet rs = extract_rows();
  rs.move_first();
  rs.edit("AutoMatch", std::string("X"));  // not a status code
  Status s = rs.update();
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("CHECK constraint failed"), std::string::npos);
  rs.edit("no_such_column", int64_t{1});
  s = rs.update();
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("no_such_column"), std::string::npos);
  rs.edit("pcb", std::string("lots"));  // STRICT column: text is no integer
  EXPECT_FALSE(rs.update().ok());

  RecordSet unbound;
  ASSERT_TRUE(db_->query("plain", "SELECT cell, AutoMatch FROM cells", &unbound).ok());
  unbound.edit("AutoMatch", std::string("P"));
  EXPECT_FALSE(unbound.update().ok());
}

TEST_F(ViewEditTest, RowDeletedMeanwhileIsReported) {
  RecordSet rs = extract_rows();
  rs.move_first();
  std::string cell = rs.text("cell");
  ASSERT_TRUE(db_->execute("remove", "DELETE FROM cells WHERE cell='" + cell + "'").ok());
  rs.edit("AutoMatch", std::string("P"));
  Status s = rs.update();
  EXPECT_EQ(s.code(), Status::Code::kNotFound);
  EXPECT_NE(s.message().find(cell), std::string::npos);
}

TEST_F(ViewEditTest, SightingColumnsNeedASighting) {
  ASSERT_TRUE(
      db_->execute("detach", "UPDATE encounter SET sighting_no = NULL WHERE ID = '401'").ok());
  RecordSet rs = extract_rows();
  rs.move_first();
  rs.edit("site", std::string("Skerry"));
  // "site" is not a column of this set; the edit is refused, not dropped.
  EXPECT_FALSE(rs.update().ok());
  Status s = db_->execute("site", "UPDATE SYSTEM_ImageLinks SET site='Skerry' WHERE ID='401'");
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("no sighting"), std::string::npos);
  s = db_->execute("key", "UPDATE SYSTEM_ImageLinks SET encounter_no=99 WHERE ID='401'");
  EXPECT_FALSE(s.ok());
}

TEST_F(ViewEditTest, ChangesThroughTheViewAreCounted) {
  int changes = -1;
  ASSERT_TRUE(db_->execute("park_pending",
                           "UPDATE SYSTEM_ImageLinks SET AutoMatch='T' WHERE AutoMatch='P'",
                           &changes)
                  .ok());
  int64_t pending = 0;
  for (const auto& e : testing::standard_extracts()) pending += e.auto_match == "P";
  EXPECT_EQ(changes, pending);
}

}  // namespace
}  // namespace velmora::db

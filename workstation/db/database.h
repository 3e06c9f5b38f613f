// The workstation's database layer: one SQLite file behind a small interface
// that offers exactly what the workstation asks of its engine.
//
// Database owns the sqlite3 connection; Statement is one prepared statement
// with named parameters (":pCell" in the SQL, set as "pCell"); RecordSet is a
// materialised result (all rows copied out), so it can move first / next /
// previous / last and count rows, and its current row can be edited and
// written back through the table or view it was read from. Every sqlite3_*
// call lives in database.cpp; a failure is returned as a Status naming the
// statement, its SQL and the engine's message. Field values and their
// conversions are in value.h.
//
// Threading: one Database per thread; Statements and RecordSets must not
// outlive their Database. Several processes may share one file (WAL journal,
// busy timeout of a few seconds).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/db/value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velmora::db {

class Database;
class Statement;

class RecordSet {
 public:
  RecordSet() = default;
  // Movement over the materialised rows. An empty set is at its end at once.
  void move_first() { pos_ = 0; }
  void move_last() { pos_ = rows_.empty() ? 0 : static_cast<int>(rows_.size()) - 1; }
  void move_next() {
    if (pos_ < static_cast<int>(rows_.size())) ++pos_;
  }
  void move_previous() {
    if (pos_ >= 0) --pos_;
  }
  bool eof() const { return pos_ >= static_cast<int>(rows_.size()); }
  bool bof() const { return pos_ < 0; }
  int row_count() const { return static_cast<int>(rows_.size()); }

  // Field of the current row by column name (case-insensitive, as the
  // engine's own names are). A missing name or a position off the rows gives
  // NULL; has_column tells the two apart.
  bool has_column(const std::string& name) const;
  Value field(const std::string& name) const;
  std::string text(const std::string& name) const { return as_text(field(name)); }
  int64_t integer(const std::string& name) const { return as_integer(field(name)); }
  double number(const std::string& name) const { return as_double(field(name)); }
  const std::vector<std::string>& columns() const { return columns_; }

  // Edit the current row: set a column's new value, then update() writes the
  // changed columns back with "UPDATE <source> SET ... WHERE <key>=<old key>",
  // source and key being those given when the set was opened.
  void edit(const std::string& name, Value v);
  Status update();

 private:
  friend class Statement;
  Database* db_ = nullptr;
  std::string source_, key_;
  std::vector<std::string> columns_;
  std::vector<std::vector<Value>> rows_;
  std::map<int, Value> pending_edits_;
  std::string pending_unknown_;  // an edited name the set does not have
  // Prepared UPDATE statements by their SQL: a walk that edits every row
  // prepares its statement once.
  std::map<std::string, std::shared_ptr<Statement>> update_cache_;
  int pos_ = 0;
  int column_index(const std::string& name) const;
};

class Statement {
 public:
  // A statement that could not be had (not prepared under the options in
  // force, or no such name): every call fails with `reason`.
  static std::unique_ptr<Statement> unavailable(std::string name, std::string reason);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  const std::string& name() const { return name_; }
  const std::string& sql() const { return sql_; }

  // Sets a named parameter, given without the colon ("pCell"); the name is
  // matched without regard to letter case. Parameters keep their values
  // between runs until set again; a parameter never set is NULL.
  Status set(const std::string& param, Value v);
  // Gives a parameter its declared type (see ParamType); later set() calls
  // convert to it.
  Status declare(const std::string& param, ParamType type);
  // Runs an action statement; *changes receives the number of rows changed.
  Status execute(int* changes = nullptr);
  // Runs a query and copies every row into *rs. For edits through the set,
  // `source` names the table or view to update and `key` its key column.
  Status open(RecordSet* rs, const std::string& source = "", const std::string& key = "");

 private:
  friend class Database;
  Statement(Database* db, std::string name, std::string sql, sqlite3_stmt* stmt)
      : db_(db), name_(std::move(name)), sql_(std::move(sql)), stmt_(stmt) {}
  Database* db_;
  std::string name_, sql_;
  sqlite3_stmt* stmt_;
  std::string unavailable_;         // why this statement cannot run; empty when it can
  std::map<int, ParamType> types_;  // declared types by parameter index
  int parameter_index(const std::string& param) const;
};

class Database {
 public:
  enum class OpenMode {
    kExisting,  // an existing file, for reading and writing
    kCreate,    // create the file when it does not exist
    kReadOnly,  // an existing file, reading only (writes fail with a message)
  };
  // Opens (create=false: an existing file only) a database file, in WAL mode
  // with a busy timeout. ":memory:" opens a private in-memory database. A
  // file that exists but cannot be written is refused with a message, since
  // every run writes to the database.
  static Status open(const std::string& path, bool create, std::unique_ptr<Database>* db);
  static Status open(const std::string& path, OpenMode mode, std::unique_ptr<Database>* db);
  // A test of what an opened file holds, made after it has been read and
  // before anything is written to it (the switch to WAL): a file it refuses
  // is closed and left exactly as it was.
  using ContentCheck = std::function<Status(Database*)>;
  static Status open(const std::string& path, OpenMode mode, const ContentCheck& check,
                     std::unique_ptr<Database>* db);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Prepares an unnamed statement; `name` is used in error messages.
  Status prepare(const std::string& name, const std::string& sql, std::unique_ptr<Statement>* stmt);
  // Prepares and runs a statement at once (action statements).
  Status execute(const std::string& name, const std::string& sql, int* changes = nullptr);
  // Prepares and opens a query at once.
  Status query(const std::string& name, const std::string& sql, RecordSet* rs,
               const std::string& source = "", const std::string& key = "");
  // Runs the saved action query `name` from table saved_queries. Its text
  // may hold several statements; they run as one unit (all or nothing).
  Status run_saved_query(const std::string& name);

  // BEGIN IMMEDIATE / COMMIT / ROLLBACK; rollback without an open
  // transaction does nothing.
  Status begin();
  Status commit();
  Status rollback();
  bool in_transaction() const;

  const std::string& path() const { return path_; }
  sqlite3* handle() { return db_; }
  // The last engine error text, for messages. When the engine refused a
  // write as "attempt to write a readonly database" on a connection opened
  // for writing and the folder holding the file cannot be written, the text
  // says so (read_only_folder_note): the file itself is writable then, and
  // the message alone would send the operator looking at the wrong thing.
  std::string engine_message() const;

 private:
  Database(sqlite3* db, std::string path, bool read_only)
      : db_(db), path_(std::move(path)), read_only_(read_only) {}
  sqlite3* db_;
  std::string path_;
  bool read_only_;  // opened with OpenMode::kReadOnly: refused writes are expected
};

// The note for a write the engine refused on the database file `path` when
// the folder holding it is not writable (`folder_writable` false): the engine
// creates its journal and WAL files (<file>-journal, -wal, -shm) beside the
// database, so that folder must be writable, whatever the file's own
// permissions. Names the folder (absolute). Empty when the folder is writable.
std::string read_only_folder_note(const std::string& path, bool folder_writable);

// Begins a transaction on construction; rolls it back on destruction unless
// commit() succeeded. Work that belongs together (one results import) uses it.
// Inside an open transaction it makes a savepoint instead, so that units nest.
class Transaction {
 public:
  explicit Transaction(Database* db);
  ~Transaction();
  const Status& begun() const { return begun_; }
  Status commit();

 private:
  Database* db_;
  Status begun_;
  bool done_ = false;
  bool nested_ = false;
};

}  // namespace velmora::db

// The SQLite side of the database layer: every sqlite3_* call of the
// workstation lives here.
//
// A Statement keeps its sqlite3_stmt for its whole life and is reset before
// each run, so bound parameters survive between runs. Parameter names are
// matched without regard to letter case (":Pcell" is set as "pCell"), the way
// the workstation's statements were written. A RecordSet is filled by copying
// every row out of the engine at open, which is what makes previous / last /
// row count possible without holding a read transaction open.
//
// Connection settings: WAL journal (several workstation copies on one file),
// a busy timeout so that a copy waits for another copy's short write instead
// of failing at once, and to_single(), which rounds a number to 32-bit
// precision for the columns the workstation stores as single-precision.
#include "workstation/db/database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace velmora::db {

namespace {

constexpr int kBusyTimeoutMs = 10000;

std::string quote_identifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

Status unavailable_failure(const std::string& name, const std::string& why) {
  return Status::Database("Database statement '" + name + "' cannot be run: " + why);
}

Status engine_failure(const std::string& name, const std::string& sql, const std::string& msg) {
  return Status::Database("Database statement '" + name + "' failed: " + msg + "\nSQL: " + sql);
}

Value column_value(sqlite3_stmt* stmt, int i) {
  switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER:
      return static_cast<int64_t>(sqlite3_column_int64(stmt, i));
    case SQLITE_FLOAT:
      return sqlite3_column_double(stmt, i);
    case SQLITE_NULL:
      return std::monostate{};
    default: {
      // Text, and blobs read as their bytes: the workstation stores no blobs.
      const unsigned char* p = sqlite3_column_text(stmt, i);
      int n = sqlite3_column_bytes(stmt, i);
      return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n))
               : std::string();
    }
  }
}

// to_single(x): x rounded to the nearest 32-bit float, for the score columns
// that the workstation keeps in single precision; beyond the float range it
// is the largest float of its sign (to_single_precision), so what such a
// column holds always reads back into a float. Text that reads as a number is
// converted first; NULL stays NULL; other text is returned as it is, so that
// the column's own type check reports it.
void to_single_function(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc != 1) return;
  sqlite3_value* v = argv[0];
  int type = sqlite3_value_numeric_type(v);
  if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
    sqlite3_result_double(ctx, static_cast<double>(to_single_precision(sqlite3_value_double(v))));
    return;
  }
  sqlite3_result_value(ctx, v);
}

// The folder holding the database file `path`, as an absolute path.
std::string folder_of(const std::string& path) {
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
  if (ec) return folder.string();
  absolute = absolute.lexically_normal();
  // "/data/." normalises to "/data/": name the folder without the separator.
  if (!absolute.has_filename() && absolute.has_relative_path()) absolute = absolute.parent_path();
  return absolute.string();
}

// Whether this process may create files in the folder holding `path` (with
// its effective user, as the engine's own file creation would be judged).
bool folder_is_writable(const std::string& path) {
  return ::faccessat(AT_FDCWD, folder_of(path).c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

// ---------------------------------------------------------------- RecordSet

int RecordSet::column_index(const std::string& name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (equal_nocase(columns_[i], name)) return static_cast<int>(i);
  }
  return -1;
}

bool RecordSet::has_column(const std::string& name) const {
  return column_index(name) >= 0;
}

Value RecordSet::field(const std::string& name) const {
  int c = column_index(name);
  if (c < 0 || eof() || bof()) return std::monostate{};
  return rows_[static_cast<size_t>(pos_)][static_cast<size_t>(c)];
}

void RecordSet::edit(const std::string& name, Value v) {
  int c = column_index(name);
  // An unknown column is remembered so that update() reports it instead of
  // dropping the value silently.
  if (c < 0) {
    pending_unknown_ = name;
    return;
  }
  pending_edits_[c] = std::move(v);
}

Status RecordSet::update() {
  std::string what = "update of the current row of '" + source_ + "'";
  if (!pending_unknown_.empty()) {
    std::string bad = pending_unknown_;
    pending_unknown_.clear();
    pending_edits_.clear();
    return Status::InvalidArgument("Cannot " + what + ": the record set has no column '" + bad +
                                   "'.");
  }
  if (db_ == nullptr || source_.empty() || key_.empty()) {
    pending_edits_.clear();
    return Status::InvalidArgument(
        "Cannot update a record set that was opened without a table or view and key.");
  }
  if (eof() || bof()) {
    pending_edits_.clear();
    return Status::InvalidArgument("Cannot " + what + ": there is no current row.");
  }
  int k = column_index(key_);
  if (k < 0) {
    pending_edits_.clear();
    return Status::InvalidArgument("Cannot " + what + ": the record set has no key column '" +
                                   key_ + "'.");
  }
  if (pending_edits_.empty()) return Status::Ok();

  std::string sql = "UPDATE " + quote_identifier(source_) + " SET ";
  bool first = true;
  for (const auto& [col, value] : pending_edits_) {
    if (!first) sql += ", ";
    first = false;
    sql += quote_identifier(columns_[static_cast<size_t>(col)]) + " = :v" + std::to_string(col);
  }
  sql += " WHERE " + quote_identifier(key_) + " = :key";

  std::shared_ptr<Statement>& stmt = update_cache_[sql];
  Status s;
  if (!stmt) {
    std::unique_ptr<Statement> fresh;
    s = db_->prepare(what, sql, &fresh);
    if (!s.ok()) {
      update_cache_.erase(sql);
      pending_edits_.clear();
      return s;
    }
    stmt = std::move(fresh);
  }
  for (const auto& [col, value] : pending_edits_) {
    s = stmt->set("v" + std::to_string(col), value);
    if (!s.ok()) break;
  }
  std::vector<Value>& row = rows_[static_cast<size_t>(pos_)];
  if (s.ok()) s = stmt->set("key", row[static_cast<size_t>(k)]);
  int changed = 0;
  if (s.ok()) s = stmt->execute(&changed);
  if (s.ok() && changed == 0) {
    s = Status::NotFound("Cannot " + what + ": no row has " + key_ + " = '" +
                         as_text(row[static_cast<size_t>(k)]) +
                         "' any more (changed by another copy of the workstation?).");
  }
  if (s.ok()) {
    for (auto& [col, value] : pending_edits_) row[static_cast<size_t>(col)] = std::move(value);
  }
  pending_edits_.clear();
  return s;
}

// ---------------------------------------------------------------- Statement

std::unique_ptr<Statement> Statement::unavailable(std::string name, std::string reason) {
  std::unique_ptr<Statement> s(new Statement(nullptr, std::move(name), "", nullptr));
  s->unavailable_ = reason.empty() ? "it is not prepared" : std::move(reason);
  return s;
}

Statement::~Statement() {
  sqlite3_finalize(stmt_);
}

int Statement::parameter_index(const std::string& param) const {
  int count = sqlite3_bind_parameter_count(stmt_);
  for (int i = 1; i <= count; ++i) {
    const char* n = sqlite3_bind_parameter_name(stmt_, i);
    if (n != nullptr && (n[0] == ':' || n[0] == '@' || n[0] == '$') && equal_nocase(n + 1, param)) {
      return i;
    }
  }
  return 0;
}

Status Statement::declare(const std::string& param, ParamType type) {
  if (stmt_ == nullptr) return unavailable_failure(name_, unavailable_);
  int index = parameter_index(param);
  if (index == 0) {
    return Status::InvalidArgument("Database statement '" + name_ + "' has no parameter '" + param +
                                   "'.\nSQL: " + sql_);
  }
  types_[index] = type;
  return Status::Ok();
}

Status Statement::set(const std::string& param, Value v) {
  if (stmt_ == nullptr) return unavailable_failure(name_, unavailable_);
  int index = parameter_index(param);
  if (index == 0) {
    return Status::InvalidArgument("Database statement '" + name_ + "' has no parameter '" + param +
                                   "'.\nSQL: " + sql_);
  }
  auto t = types_.find(index);
  if (t != types_.end()) {
    Value converted;
    Status s = convert_parameter(param, t->second, v, &converted);
    if (!s.ok()) {
      return Status::InvalidArgument("Database statement '" + name_ + "': " + s.message());
    }
    v = std::move(converted);
  }
  sqlite3_reset(stmt_);
  int rc = SQLITE_OK;
  if (auto p = std::get_if<int64_t>(&v)) {
    rc = sqlite3_bind_int64(stmt_, index, *p);
  } else if (auto p = std::get_if<double>(&v)) {
    rc = sqlite3_bind_double(stmt_, index, *p);
  } else if (auto p = std::get_if<std::string>(&v)) {
    rc = sqlite3_bind_text(stmt_, index, p->data(), static_cast<int>(p->size()), SQLITE_TRANSIENT);
  } else {
    rc = sqlite3_bind_null(stmt_, index);
  }
  if (rc != SQLITE_OK) return engine_failure(name_, sql_, db_->engine_message());
  return Status::Ok();
}

Status Statement::execute(int* changes) {
  if (changes != nullptr) *changes = 0;
  if (stmt_ == nullptr) return unavailable_failure(name_, unavailable_);
  sqlite3_reset(stmt_);
  sqlite3* h = db_->handle();
  // Changes through a view's INSTEAD OF triggers are not counted by
  // sqlite3_changes(); the total counter does count them.
  int64_t before = sqlite3_total_changes64(h);
  int rc;
  while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) {
    std::string msg = db_->engine_message();
    sqlite3_reset(stmt_);
    return engine_failure(name_, sql_, msg);
  }
  int64_t direct = sqlite3_changes64(h);
  int64_t total = sqlite3_total_changes64(h) - before;
  sqlite3_reset(stmt_);
  if (changes != nullptr) *changes = static_cast<int>(direct > 0 ? direct : total);
  return Status::Ok();
}

Status Statement::open(RecordSet* rs, const std::string& source, const std::string& key) {
  if (stmt_ == nullptr) {
    *rs = RecordSet();
    return unavailable_failure(name_, unavailable_);
  }
  RecordSet fresh;
  if (rs->db_ == db_) fresh.update_cache_ = std::move(rs->update_cache_);
  fresh.db_ = db_;
  fresh.source_ = source;
  fresh.key_ = key;
  sqlite3_reset(stmt_);
  int n = sqlite3_column_count(stmt_);
  for (int i = 0; i < n; ++i) {
    const char* c = sqlite3_column_name(stmt_, i);
    fresh.columns_.push_back(c ? c : "");
  }
  int rc;
  while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
    std::vector<Value> row;
    row.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) row.push_back(column_value(stmt_, i));
    fresh.rows_.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) {
    std::string msg = db_->engine_message();
    sqlite3_reset(stmt_);
    return engine_failure(name_, sql_, msg);
  }
  sqlite3_reset(stmt_);
  fresh.pos_ = 0;
  *rs = std::move(fresh);
  return Status::Ok();
}

// ----------------------------------------------------------------- Database

Status Database::open(const std::string& path, bool create, std::unique_ptr<Database>* db) {
  return open(path, create ? OpenMode::kCreate : OpenMode::kExisting, db);
}

Status Database::open(const std::string& path, OpenMode mode, std::unique_ptr<Database>* db) {
  return open(path, mode, nullptr, db);
}

Status Database::open(const std::string& path, OpenMode mode, const ContentCheck& check,
                      std::unique_ptr<Database>* db) {
  db->reset();
  bool memory = path == ":memory:";
  if (path.empty()) return Status::InvalidArgument("No database file was given.");
  if (!memory && mode != OpenMode::kCreate) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
      return Status::NotFound("The database file '" + path + "' does not exist.");
    }
    if (std::filesystem::is_directory(path, ec)) {
      return Status::InvalidArgument("'" + path + "' is a folder, not a database file.");
    }
  }
  int flags = SQLITE_OPEN_NOMUTEX;
  if (mode == OpenMode::kReadOnly) {
    flags |= SQLITE_OPEN_READONLY;
  } else {
    flags |= SQLITE_OPEN_READWRITE;
    if (mode == OpenMode::kCreate) flags |= SQLITE_OPEN_CREATE;
  }
  sqlite3* h = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &h, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = h ? sqlite3_errmsg(h) : sqlite3_errstr(rc);
    sqlite3_close(h);
    return Status::IOError("Cannot open the database file '" + path + "': " + msg);
  }
  std::unique_ptr<Database> d(new Database(h, path, mode == OpenMode::kReadOnly));
  sqlite3_extended_result_codes(h, 1);
  sqlite3_busy_timeout(h, kBusyTimeoutMs);
  if (mode != OpenMode::kReadOnly && sqlite3_db_readonly(h, "main") == 1) {
    return Status::IOError("The database file '" + path +
                           "' is read-only; the workstation writes to its database, so it "
                           "needs write access to the file and its folder.");
  }
  rc = sqlite3_create_function(h, "to_single", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                               to_single_function, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    return Status::IOError("Cannot set up the database file '" + path +
                           "': " + d->engine_message());
  }
  // Reading a page tells a database file from any other file at once,
  // instead of at the first statement some run makes.
  Status s = d->execute("check the database file", "SELECT count(*) FROM sqlite_schema");
  if (!s.ok()) {
    // A database in WAL mode cannot even be read when the engine may not
    // create its -shm file beside it: that is the folder's fault, not the file's.
    // That holds for a connection opened for reading only too.
    if ((sqlite3_extended_errcode(h) & 0xff) == SQLITE_READONLY) {
      std::string msg = sqlite3_errmsg(h);
      const std::string note = read_only_folder_note(path, folder_is_writable(path));
      if (!note.empty()) msg += ". " + note;
      return Status::IOError("Cannot open the database file '" + path + "': " + msg);
    }
    return Status::Corruption("The file '" + path +
                              "' is not a usable database: " + d->engine_message());
  }
  if (check) {
    s = check(d.get());
    if (!s.ok()) return s;
  }
  if (!memory && mode != OpenMode::kReadOnly) {
    RecordSet rs;
    s = d->query("set WAL journal", "PRAGMA journal_mode=WAL", &rs);
    if (!s.ok()) return s;
  }
  *db = std::move(d);
  return Status::Ok();
}

Database::~Database() {
  sqlite3_close_v2(db_);
}

Status Database::prepare(const std::string& name, const std::string& sql,
                         std::unique_ptr<Statement>* stmt) {
  stmt->reset();
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &raw, &tail);
  if (rc != SQLITE_OK) {
    std::string msg = engine_message();
    sqlite3_finalize(raw);
    return engine_failure(name, sql, msg);
  }
  if (raw == nullptr) return engine_failure(name, sql, "the statement text is empty");
  // A second statement after the first would be silently ignored.
  for (const char* p = tail; p && *p; ++p) {
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n' && *p != ';') {
      sqlite3_finalize(raw);
      return engine_failure(name, sql, "the text holds more than one statement");
    }
  }
  stmt->reset(new Statement(this, name, sql, raw));
  return Status::Ok();
}

Status Database::execute(const std::string& name, const std::string& sql, int* changes) {
  std::unique_ptr<Statement> stmt;
  Status s = prepare(name, sql, &stmt);
  if (!s.ok()) return s;
  return stmt->execute(changes);
}

Status Database::query(const std::string& name, const std::string& sql, RecordSet* rs,
                       const std::string& source, const std::string& key) {
  std::unique_ptr<Statement> stmt;
  Status s = prepare(name, sql, &stmt);
  if (!s.ok()) return s;
  return stmt->open(rs, source, key);
}

Status Database::run_saved_query(const std::string& name) {
  std::unique_ptr<Statement> lookup;
  Status s =
      prepare("find saved query", "SELECT sql FROM saved_queries WHERE name = :name", &lookup);
  if (!s.ok()) {
    return Status::Database("The saved query '" + name +
                            "' cannot be run: the database has no usable table saved_queries (" +
                            s.message() + ")");
  }
  s = lookup->set("name", name);
  RecordSet rs;
  if (s.ok()) s = lookup->open(&rs);
  if (!s.ok()) return s;
  if (rs.row_count() == 0) {
    return Status::NotFound("The database has no saved query '" + name + "'.");
  }
  std::string sql = rs.text("sql");
  // A saved step may hold several statements; they run as one unit, so a
  // step that fails half-way leaves nothing of itself behind (a savepoint
  // also nests inside a transaction the caller holds).
  s = execute("begin saved query '" + name + "'", "SAVEPOINT saved_query");
  if (!s.ok()) return s;
  const char* p = sql.c_str();
  const char* end = p + sql.size();
  while (s.ok() && p < end) {
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db_, p, static_cast<int>(end - p), &raw, &tail);
    if (rc != SQLITE_OK) {
      s = engine_failure(name, sql, engine_message());
      sqlite3_finalize(raw);
      break;
    }
    if (raw != nullptr) {
      while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
      }
      if (rc != SQLITE_DONE) s = engine_failure(name, sql, engine_message());
      sqlite3_finalize(raw);
    }
    if (tail == nullptr || tail <= p) break;
    p = tail;
  }
  if (s.ok()) {
    s = execute("end saved query '" + name + "'", "RELEASE saved_query");
  } else {
    sqlite3_exec(db_, "ROLLBACK TO saved_query; RELEASE saved_query", nullptr, nullptr, nullptr);
  }
  return s;
}

Status Database::begin() {
  return execute("begin transaction", "BEGIN IMMEDIATE");
}

Status Database::commit() {
  return execute("commit transaction", "COMMIT");
}

Status Database::rollback() {
  if (sqlite3_get_autocommit(db_) != 0) return Status::Ok();  // nothing open
  return execute("roll back transaction", "ROLLBACK");
}

bool Database::in_transaction() const {
  return sqlite3_get_autocommit(db_) == 0;
}

std::string Database::engine_message() const {
  const char* m = sqlite3_errmsg(db_);
  std::string msg = m ? m : "";
  if (!read_only_ && path_ != ":memory:" &&
      (sqlite3_extended_errcode(db_) & 0xff) == SQLITE_READONLY) {
    const std::string note = read_only_folder_note(path_, folder_is_writable(path_));
    if (!note.empty()) msg += ". " + note;
  }
  return msg;
}

std::string read_only_folder_note(const std::string& path, bool folder_writable) {
  if (folder_writable) return "";
  const std::string folder = folder_of(path);
  const std::string name = std::filesystem::path(path).filename().string();
  return "The folder '" + folder +
         "' holding the database must be writable: SQLite creates the database's journal and "
         "WAL files (" +
         name + "-journal, " + name + "-wal, " + name +
         "-shm) there, so a database whose folder is read-only cannot be written even when the "
         "file itself can.";
}

// -------------------------------------------------------------- Transaction

Transaction::Transaction(Database* db) : db_(db) {
  // Inside a transaction already (work that is part of a larger unit), a
  // savepoint gives the same all-or-nothing for this part.
  nested_ = db_->in_transaction();
  begun_ =
      nested_ ? db_->execute("begin nested transaction", "SAVEPOINT velmora_nested") : db_->begin();
}

Transaction::~Transaction() {
  if (!begun_.ok() || done_) return;
  if (nested_) {
    sqlite3_exec(db_->handle(), "ROLLBACK TO velmora_nested; RELEASE velmora_nested", nullptr,
                 nullptr, nullptr);
  } else {
    // A destructor has no caller to hand a failure to, and the work undone
    // here has already failed with its own Status; a connection that cannot
    // roll back fails its next statement, which reports.
    (void)db_->rollback();
  }
}

Status Transaction::commit() {
  if (!begun_.ok()) return begun_;
  if (done_) return Status::Ok();
  Status s =
      nested_ ? db_->execute("end nested transaction", "RELEASE velmora_nested") : db_->commit();
  if (s.ok()) done_ = true;
  return s;
}

}  // namespace velmora::db

// velmora-db: makes and checks workstation database files.
//
//   velmora-db create FILE.sqlite   a new, empty database with the whole schema
//   velmora-db check FILE.sqlite    opens a database and prepares every statement
//                                   the workstation uses, in every form; a file
//                                   that is no workstation database is refused in
//                                   one line naming the tables it lacks
//
// Exit code 0 on success, 1 on failure (message on standard error), 2 on a
// wrong command line (db_command_line.h).
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "workstation/db/database.h"
#include "workstation/db/db_command_line.h"
#include "workstation/db/schema.h"
#include "workstation/db/statements.h"

namespace {

bool ends_with_sqlite(const std::string& path) {
  const std::string ext = ".sqlite";
  return path.size() > ext.size() && path.compare(path.size() - ext.size(), ext.size(), ext) == 0;
}

int create(const std::string& path) {
  if (!ends_with_sqlite(path)) {
    std::fprintf(stderr, "velmora-db: the database file name must end in \".sqlite\": %s\n",
                 path.c_str());
    return 1;
  }
  velmora::Status s = velmora::db::create_database_file(path);
  if (!s.ok()) {
    std::fprintf(stderr, "velmora-db: %s\n", s.message().c_str());
    return 1;
  }
  std::printf("created %s\n", path.c_str());
  return 0;
}

int check(const std::string& path) {
  std::unique_ptr<velmora::db::Database> db;
  velmora::Status s =
      velmora::db::Database::open(path, velmora::db::Database::OpenMode::kReadOnly, &db);
  if (!s.ok()) {
    std::fprintf(stderr, "velmora-db: %s\n", s.message().c_str());
    return 1;
  }
  // A file without the workstation's tables would fail nearly every
  // statement below; one line says what it is. A workstation database (its
  // mark) that lost tables is checked on, to name what no longer prepares.
  std::vector<std::string> missing;
  bool marked = false;
  s = velmora::db::missing_workstation_tables(db.get(), &missing);
  if (s.ok()) s = velmora::db::has_workstation_mark(db.get(), &marked);
  if (!s.ok()) {
    std::fprintf(stderr, "velmora-db: %s\n", s.message().c_str());
    return 1;
  }
  const std::string missing_text = velmora::db::missing_tables_text(missing);
  if (!missing.empty() && !marked) {
    std::fprintf(stderr, "velmora-db: %s: not a workstation database: %s\n", path.c_str(),
                 missing_text.c_str());
    return 1;
  }
  int failed = 0, count = 0;
  if (!missing.empty()) {
    std::fprintf(stderr, "velmora-db: %s: %s\n", path.c_str(), missing_text.c_str());
    ++failed;
    ++count;
  }
  auto texts = velmora::db::all_statement_texts();
  for (auto& t : velmora::db::direct_statement_texts()) texts.push_back(std::move(t));
  for (const auto& text : texts) {
    std::unique_ptr<velmora::db::Statement> stmt;
    s = velmora::db::prepare_statement(db.get(), text, &stmt);
    ++count;
    if (!s.ok()) {
      std::fprintf(stderr, "velmora-db: %s\n", s.message().c_str());
      ++failed;
    }
  }
  for (const auto& name : velmora::db::saved_query_names()) {
    velmora::db::RecordSet rs;
    std::unique_ptr<velmora::db::Statement> stmt;
    s = db->prepare("find saved query", "SELECT name FROM saved_queries WHERE name = :n", &stmt);
    if (s.ok()) s = stmt->set("n", name);
    if (s.ok()) s = stmt->open(&rs);
    ++count;
    if (!s.ok() || rs.row_count() != 1) {
      std::fprintf(stderr, "velmora-db: the saved query '%s' is missing%s%s\n", name.c_str(),
                   s.ok() ? "" : ": ", s.ok() ? "" : s.message().c_str());
      ++failed;
    }
  }
  if (failed > 0) {
    std::fprintf(stderr, "velmora-db: %d of %d checks failed on %s\n", failed, count, path.c_str());
    return 1;
  }
  std::printf("%s: all %d statements and saved queries are in order\n", path.c_str(), count);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  velmora::db::DbCommandLine line;
  const int code = velmora::db::parse_db_command_line(argc, argv, &line, std::cout, std::cerr);
  if (code >= 0) return code;
  return line.command == "create" ? create(line.path) : check(line.path);
}

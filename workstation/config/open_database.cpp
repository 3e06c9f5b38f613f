// open_database and the session it fills.
//
// The lists are read into a fresh session and moved into the caller's only
// when everything succeeded, so a failing query never leaves an open database
// with half-loaded lists behind.
#include "workstation/config/open_database.h"

#include <filesystem>
#include <system_error>

#include "workstation/db/database.h"
#include "workstation/db/schema.h"

namespace velmora::config {

DatabaseSession::DatabaseSession() = default;
DatabaseSession::~DatabaseSession() = default;
DatabaseSession::DatabaseSession(DatabaseSession&&) noexcept = default;
DatabaseSession& DatabaseSession::operator=(DatabaseSession&&) noexcept = default;

void DatabaseSession::close() {
  db.reset();
  aspects.clear();
  sites.clear();
  landscapes.clear();
}

namespace {

// One column of a DISTINCT query as a list led by an empty entry; NULLs are
// not offered as choices.
Status load_choice_list(db::Database* db, const char* name, const char* sql, const char* column,
                        std::vector<std::string>* out) {
  db::RecordSet rs;
  Status s = db->query(name, sql, &rs);
  if (!s.ok()) return s;
  out->assign(1, std::string());
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    db::Value v = rs.field(column);
    if (db::is_null(v)) continue;
    out->push_back(db::as_text(v));
  }
  return Status::Ok();
}

}  // namespace

bool is_database_path(const std::string& path) {
  if (!path.ends_with(kDatabaseEnding)) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

Status open_database(FolderSettings* folders, const Settings& settings, DatabaseSession* session,
                     Faults* faults) {
  normalise_folders(folders);
  session->close();
  if (!is_database_path(folders->database_path)) return Status::Ok();

  DatabaseSession opened;
  // Checked before anything is written: a file that is no workstation
  // database is refused as it was, not switched to WAL first.
  Status s = db::open_workstation_database(folders->database_path, &opened.db);
  if (!s.ok()) return s;

  db::RecordSet rs;
  s = opened.db->query("aspect_list", kAspectListSql, &rs);
  if (!s.ok()) return s;
  Faults list_faults;
  fill_aspect_list(&rs, folders->database_path, &opened.aspects, &list_faults);

  if (settings.LimitSearch) {
    s = load_choice_list(opened.db.get(), "site_list", kSiteListSql, "site", &opened.sites);
    if (!s.ok()) return s;
    s = load_choice_list(opened.db.get(), "landscape_list", kLandscapeListSql, "landscape",
                         &opened.landscapes);
    if (!s.ok()) return s;
  }
  *session = std::move(opened);
  faults->insert(faults->end(), list_faults.begin(), list_faults.end());
  return Status::Ok();
}

}  // namespace velmora::config

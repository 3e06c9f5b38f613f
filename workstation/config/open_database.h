// open_database: normalise the folders, open the database file, load the
// aspect list and (with LimitSearch) the site and landscape lists.
//
// The workstation holds one open database at a time. open_database first
// closes the one in *session, so every Statement and RecordSet prepared on it
// must have been dropped before the call (they must not outlive their
// Database). A path that is not a database file leaves the session closed
// and empty, without a message: the operator may still be typing the path.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/config/aspects.h"
#include "workstation/config/config_faults.h"
#include "workstation/config/folder_file.h"
#include "workstation/config/settings.h"

namespace velmora::db {
class Database;
}

namespace velmora::config {

// The ending a database path must have, letter for letter.
inline constexpr const char* kDatabaseEnding = "sqlite";
inline constexpr const char* kSiteListSql = "SELECT DISTINCT site from Landscapes ORDER BY site";
inline constexpr const char* kLandscapeListSql =
    "SELECT distinct landscape from Landscapes ORDER BY landscape";

struct DatabaseSession {
  DatabaseSession();
  ~DatabaseSession();
  DatabaseSession(DatabaseSession&&) noexcept;
  DatabaseSession& operator=(DatabaseSession&&) noexcept;

  std::unique_ptr<db::Database> db;  // null while closed
  AspectList aspects;
  // Filled only when LimitSearch is true; each starts with an empty entry,
  // the one cmbSites / cmbLandscapes select first.
  std::vector<std::string> sites;
  std::vector<std::string> landscapes;

  bool is_open() const { return db != nullptr; }
  void close();
};

// True when the path ends in "sqlite" (exact letters) and names an existing
// regular file.
bool is_database_path(const std::string& path);

// Normalises *folders (see normalise_folders), then, when the database path
// passes is_database_path, opens it and loads the lists into *session.
// Returns Ok both when the database was opened (session->is_open()) and when
// the path was refused (closed, no message due); an engine error while
// opening or loading returns that error with the session closed. A file that
// is no workstation database (db::open_workstation_database) is an error too,
// and is left exactly as it was. More than kMaxAspects aspects add a fault to
// *faults and keep the first ten.
Status open_database(FolderSettings* folders, const Settings& settings, DatabaseSession* session,
                     Faults* faults);

}  // namespace velmora::config

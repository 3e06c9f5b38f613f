// The schema of a workstation database: tables, indexes, the view
// SYSTEM_ImageLinks with its update triggers, the saved views of the test
// evaluation and the saved test steps (table saved_queries).
//
// Where the columns of SYSTEM_ImageLinks live (one view row per extract):
//   cells      cell, cell_no, image, AutoMatch, side, facing, aspect,
//              off_square, pcb, scale, tagged   (what belongs to one extract)
//   image      image_no, photo, comments, dt    (what belongs to one photograph)
//   encounter  ID, gender, encounter_no, sighting_no  (the animal at one sighting)
//   sighting   site, landscape  (left join: an encounter without a sighting
//              still shows its extracts, with NULL site and landscape)
// Every view column except encounter_no and sighting_no can be updated
// through the view; an update is routed to the table the column lives in.
//
// Tables are STRICT, so a value that does not fit a column's type (a text
// that is no number in a score) is refused instead of stored; yes/no columns
// hold 0 or 1; dates are text "YYYY-MM-DD HH:MM:SS". Every text column
// compares without regard to letter case (COLLATE NOCASE).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/db/database.h"

namespace velmora::db {

// Identifies a workstation database file (PRAGMA application_id) and the
// schema generation it carries (PRAGMA user_version).
inline constexpr int kApplicationId = 0x564C4D52;  // "VLMR"
inline constexpr int kSchemaVersion = 1;

// Creates the whole schema in an empty database, in one transaction: either
// all of it exists afterwards or none. Fails on a database that already holds
// tables.
Status create_schema(Database* db);

// Creates a new database file with the whole schema. The database is made
// whole in a temporary file beside `path` and then given its name only if no
// file has that name by then, so that no file is ever overwritten or removed:
// of two creates of one file at once, one succeeds and the other is refused
// ("already exists") without touching what the first made. A failed create
// leaves nothing behind.
Status create_database_file(const std::string& path);
// The same, calling `before_placing` once the temporary database is finished
// and closed, just before it is given its name (tests make a file appear
// there, as a second creator would).
Status create_database_file(const std::string& path, const std::function<void()>& before_placing);

// The base tables, views and saved steps that create_schema makes, for checks.
std::vector<std::string> schema_table_names();
std::vector<std::string> saved_query_names();

// The tables of schema_table_names that `db` does not have (names compared
// without regard to letter case), in that order; empty for a workstation
// database. Only reads.
Status missing_workstation_tables(Database* db, std::vector<std::string>* missing);
// Whether `db` carries the workstation's mark (application_id kApplicationId),
// as every database create_schema makes does. Only reads.
Status has_workstation_mark(Database* db, bool* marked);
// "missing tables a, b, c", for the messages about such a file.
std::string missing_tables_text(const std::vector<std::string>& missing);
// Refuses a database without every workstation table: "The file '<path>' is
// not a workstation database: missing tables ...". Only reads, so it can
// serve as the content check of Database::open.
Status check_workstation_tables(Database* db);

// Opens an existing workstation database for use: for reading and writing,
// WAL journal. The file is checked before anything is written to it: a file
// that is no database, an empty file and a database without the
// workstation's tables are refused and left exactly as they were (not
// switched to WAL, no journal files left beside them).
Status open_workstation_database(const std::string& path, std::unique_ptr<Database>* db);

}  // namespace velmora::db

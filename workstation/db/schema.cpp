// The DDL of a workstation database, and the creation of a new file.
//
// Table groups, in the order they are created:
//   animals and photographs  encounter, sighting, landscapes, image, cells, codes
//   settings                 aspects, algy, stats
//   comparison run           compIDs, temp, pretemp, distribution, scorelog
//   test evaluation          IDs, matches, nonmatches, typeranks, defaultrank,
//                            mergedranks, ranks, bestranks_overall, countranks,
//                            countscum, ranks_by_extension, countranks_by_extension
//   saved queries            saved_queries; views SYSTEM_ImageLinks,
//                            SYSTEM_overall_ranks, SYSTEM_ranks_by_extension
// Indexes follow the WHERE clauses and joins of the workstation's statements:
// cells by cell name (key), by number, by image and by aspect letter (the
// last two characters of the name) with side and status; image by encounter;
// encounter by ID and mum_id; temp by pname, fname and both image names;
// pretemp by AspectSide; distribution by filename (key); stats by aspect and
// letter (key); algy by type.
#include "workstation/db/schema.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "workstation/db/test_rank_queries.h"

namespace velmora::db {

namespace {

// A yes/no column: 0 or 1, never NULL, No by default.
#define YESNO(name) name " INTEGER NOT NULL DEFAULT 0 CHECK (" name " IN (0, 1))"

const char* const kTables[] = {
    // One row per sighting of an identified animal. gender is the animal's
    // sex as recorded at this sighting ("Male", "Female" or other text).
    "CREATE TABLE encounter ("
    " encounter_no INTEGER PRIMARY KEY,"
    " ID TEXT COLLATE NOCASE,"
    " " YESNO("AutoMatched") ","
    " mum_id TEXT COLLATE NOCASE,"
    " gender TEXT COLLATE NOCASE,"
    " sighting_no INTEGER"
    ") STRICT",
    "CREATE INDEX encounter_by_id ON encounter (ID)",
    "CREATE INDEX encounter_by_mum_id ON encounter (mum_id)",
    "CREATE INDEX encounter_by_sighting ON encounter (sighting_no)",

    "CREATE TABLE sighting ("
    " sighting_no INTEGER PRIMARY KEY,"
    " site TEXT COLLATE NOCASE,"
    " landscape TEXT COLLATE NOCASE"
    ") STRICT",
    "CREATE INDEX sighting_by_site ON sighting (site)",
    "CREATE INDEX sighting_by_landscape ON sighting (landscape)",

    // Which landscape each site lies in: one landscape per site.
    "CREATE TABLE landscapes ("
    " site TEXT COLLATE NOCASE PRIMARY KEY,"
    " landscape TEXT COLLATE NOCASE"
    ") STRICT",
    "CREATE INDEX landscapes_by_landscape ON landscapes (landscape)",

    // One row per photograph. photo is the photograph's file name in the
    // newpics folder without ".jpg"; dt its date and time.
    "CREATE TABLE image ("
    " image TEXT COLLATE NOCASE PRIMARY KEY,"
    " image_no INTEGER,"
    " encounter_no INTEGER NOT NULL,"
    " photo TEXT COLLATE NOCASE,"
    " dt TEXT COLLATE NOCASE,"
    " comments TEXT COLLATE NOCASE"
    ") STRICT",
    "CREATE INDEX image_by_encounter ON image (encounter_no)",

    // One row per extract. The attributes an extraction records (side,
    // facing, off_square in degrees, pcb = percentage of blank pixels, scale,
    // tagged) belong to the extract, since one photograph can give extracts
    // of several aspects.
    "CREATE TABLE cells ("
    " cell TEXT COLLATE NOCASE PRIMARY KEY,"
    " cell_no INTEGER CHECK (cell_no IS NULL OR cell_no BETWEEN -2147483648 AND 2147483647),"
    " image TEXT COLLATE NOCASE NOT NULL,"
    " AutoMatch TEXT COLLATE NOCASE"
    "  CHECK (AutoMatch IS NULL OR AutoMatch IN ('E','P','V','L','R','S','G','T')),"
    " side TEXT COLLATE NOCASE CHECK (side IS NULL OR side IN ('L','R','M')),"
    " facing TEXT COLLATE NOCASE,"
    " aspect TEXT COLLATE NOCASE,"
    " off_square REAL,"
    " pcb INTEGER,"
    " scale REAL,"
    " " YESNO("tagged") ") STRICT",
    "CREATE INDEX cells_by_number ON cells (cell_no)",
    "CREATE INDEX cells_by_image ON cells (image)",
    "CREATE INDEX cells_by_aspect_letter ON cells (substr(cell, -2) COLLATE NOCASE, side, "
    "AutoMatch)",
    "CREATE INDEX cells_by_status ON cells (AutoMatch)",

    // Leg codes read off leg-code extracts; several per extract.
    "CREATE TABLE codes ("
    " cell TEXT COLLATE NOCASE NOT NULL,"
    " code TEXT COLLATE NOCASE"
    ") STRICT",
    "CREATE INDEX codes_by_cell ON codes (cell)",

    // Per-aspect settings. aspect_no keeps the operator's order of the
    // aspects: the aspect list is read in that order.
    "CREATE TABLE aspects ("
    " aspect_no INTEGER PRIMARY KEY,"
    " aspect TEXT COLLATE NOCASE NOT NULL UNIQUE,"
    " aspect_letter TEXT COLLATE NOCASE,"
    " cell_type TEXT COLLATE NOCASE,"
    " pattern TEXT COLLATE NOCASE,"
    " model_fname TEXT COLLATE NOCASE,"
    " " YESNO("dorsal_midline") ","
    " adjust_extract INTEGER NOT NULL DEFAULT 0 CHECK (adjust_extract BETWEEN -32768 AND 32767),"
    " " YESNO("no_order") ","
    " " YESNO("left_right") ","
    " show_n_spots INTEGER NOT NULL DEFAULT 0 CHECK (show_n_spots BETWEEN -32768 AND 32767),"
    " fennick_code INTEGER NOT NULL DEFAULT 0"
    "  CHECK (fennick_code BETWEEN -2147483648 AND 2147483647),"
    " scale_special REAL NOT NULL DEFAULT 0,"
    " scale_mid REAL NOT NULL DEFAULT 0,"
    " scale_overspill REAL NOT NULL DEFAULT 0,"
    " scale_mag REAL NOT NULL DEFAULT 0,"
    " scale_edge REAL NOT NULL DEFAULT 0,"
    " scale_stiff REAL NOT NULL DEFAULT 0,"
    " scale_twist REAL NOT NULL DEFAULT 0,"
    " scale_thin REAL NOT NULL DEFAULT 0,"
    " from_r INTEGER NOT NULL DEFAULT 0 CHECK (from_r BETWEEN -32768 AND 32767),"
    " to_r INTEGER NOT NULL DEFAULT 0 CHECK (to_r BETWEEN -32768 AND 32767),"
    " step_r INTEGER NOT NULL DEFAULT 0 CHECK (step_r BETWEEN -32768 AND 32767),"
    " from_theta_deg INTEGER NOT NULL DEFAULT 0 CHECK (from_theta_deg BETWEEN -32768 AND 32767),"
    " to_theta_deg INTEGER NOT NULL DEFAULT 0 CHECK (to_theta_deg BETWEEN -32768 AND 32767),"
    " step_theta_deg INTEGER NOT NULL DEFAULT 0 CHECK (step_theta_deg BETWEEN -32768 AND 32767),"
    " sigmax_ratio REAL NOT NULL DEFAULT 0,"
    " sigmay REAL NOT NULL DEFAULT 0,"
    " " YESNO("all_green") ","
    " " YESNO("merged_only") ") STRICT",

    // Comparison algorithms: a family is switched on by its row.
    "CREATE TABLE algy ("
    " letter TEXT COLLATE NOCASE PRIMARY KEY CHECK (length(letter) = 1),"
    " type TEXT COLLATE NOCASE NOT NULL"
    ") STRICT",
    "CREATE INDEX algy_by_type ON algy (type)",

    // Score statistics per aspect and algorithm letter.
    "CREATE TABLE stats ("
    " aspect TEXT COLLATE NOCASE NOT NULL,"
    " algy_letter TEXT COLLATE NOCASE NOT NULL,"
    " rmu_match REAL NOT NULL DEFAULT 0,"
    " sigma_match REAL NOT NULL DEFAULT 0,"
    " rmu_nonmatch REAL NOT NULL DEFAULT 0,"
    " sigma_nonmatch REAL NOT NULL DEFAULT 0,"
    " p REAL NOT NULL DEFAULT 0,"
    " PRIMARY KEY (aspect, algy_letter)"
    ") STRICT",

    // The animals of the current multi-aspect batch.
    "CREATE TABLE compIDs (ID TEXT COLLATE NOCASE) STRICT",
    "CREATE INDEX compIDs_by_id ON compIDs (ID)",

    // Candidate scores for the visual check. score is kept in single
    // precision (written through to_single()); extension is used only by the
    // test evaluation, which moves the algorithm letter out of pname into it.
    "CREATE TABLE temp ("
    " imgPname TEXT COLLATE NOCASE,"
    " imgFname TEXT COLLATE NOCASE,"
    " pname TEXT COLLATE NOCASE,"
    " fname TEXT COLLATE NOCASE,"
    " score REAL,"
    " extension TEXT COLLATE NOCASE"
    ") STRICT",
    "CREATE INDEX temp_by_pname ON temp (pname)",
    "CREATE INDEX temp_by_fname ON temp (fname)",
    "CREATE INDEX temp_by_img_pname ON temp (imgPname)",
    "CREATE INDEX temp_by_img_fname ON temp (imgFname)",

    // Raw scores of one aspect and side: cell numbers as text.
    "CREATE TABLE pretemp ("
    " pname TEXT COLLATE NOCASE,"
    " fname TEXT COLLATE NOCASE,"
    " score REAL,"
    " AspectSide TEXT COLLATE NOCASE"
    ") STRICT",
    "CREATE INDEX pretemp_by_aspect_side ON pretemp (AspectSide, pname, fname)",

    // Running score statistics per feature file; a new row starts at zero so
    // that the first score adds to 0, not to NULL.
    "CREATE TABLE distribution ("
    " filename TEXT COLLATE NOCASE PRIMARY KEY,"
    " Ln INTEGER NOT NULL DEFAULT 0,"
    " Ls REAL NOT NULL DEFAULT 0,"
    " Lss REAL NOT NULL DEFAULT 0,"
    " Rn INTEGER NOT NULL DEFAULT 0,"
    " Rs REAL NOT NULL DEFAULT 0,"
    " Rss REAL NOT NULL DEFAULT 0"
    ") STRICT",

    // The log of confirmed matches.
    "CREATE TABLE scorelog ("
    " scorelog_no INTEGER PRIMARY KEY,"
    " pendingID TEXT COLLATE NOCASE,"
    " libraryID TEXT COLLATE NOCASE,"
    " score REAL,"
    " rank INTEGER CHECK (rank IS NULL OR rank BETWEEN 0 AND 255),"
    " " YESNO("standardised") ","
    " " YESNO("combined") ","
    " date_time TEXT COLLATE NOCASE"
    ") STRICT",

    // Test evaluation. A unit of the evaluation is one test extract with one
    // algorithm letter (cell, extension: per-extract steps) or one test animal
    // (cell and extension NULL: combined steps); ID is the unit's animal.
    "CREATE TABLE IDs (ID TEXT COLLATE NOCASE PRIMARY KEY) STRICT",
    "CREATE TABLE matches ("
    " cell TEXT COLLATE NOCASE, extension TEXT COLLATE NOCASE, ID TEXT COLLATE NOCASE,"
    " other_cell TEXT COLLATE NOCASE, otherID TEXT COLLATE NOCASE, score REAL,"
    " bigger INTEGER NOT NULL DEFAULT 0"
    ") STRICT",
    "CREATE INDEX matches_by_unit ON matches (ID, cell, extension)",
    "CREATE TABLE nonmatches ("
    " cell TEXT COLLATE NOCASE, extension TEXT COLLATE NOCASE, ID TEXT COLLATE NOCASE,"
    " other_cell TEXT COLLATE NOCASE, otherID TEXT COLLATE NOCASE, score REAL"
    ") STRICT",
    "CREATE INDEX nonmatches_by_unit ON nonmatches (ID, cell, extension, otherID, score)",
    "CREATE TABLE typeranks ("
    " cell TEXT COLLATE NOCASE, extension TEXT COLLATE NOCASE, ID TEXT COLLATE NOCASE,"
    " rank INTEGER"
    ") STRICT",
    "CREATE INDEX typeranks_by_unit ON typeranks (ID, cell, extension)",
    "CREATE TABLE defaultrank ("
    " cell TEXT COLLATE NOCASE, extension TEXT COLLATE NOCASE, ID TEXT COLLATE NOCASE,"
    " rank INTEGER"
    ") STRICT",
    "CREATE INDEX defaultrank_by_unit ON defaultrank (ID, cell, extension)",
    "CREATE TABLE mergedranks ("
    " cell TEXT COLLATE NOCASE, extension TEXT COLLATE NOCASE, ID TEXT COLLATE NOCASE,"
    " rank INTEGER"
    ") STRICT",
    "CREATE TABLE ranks ("
    " cell TEXT COLLATE NOCASE, extension TEXT COLLATE NOCASE, ID TEXT COLLATE NOCASE,"
    " aspect_letter TEXT COLLATE NOCASE, rank INTEGER"
    ") STRICT",
    "CREATE TABLE bestranks_overall ("
    " cell TEXT COLLATE NOCASE, ID TEXT COLLATE NOCASE, rank INTEGER"
    ") STRICT",
    "CREATE TABLE countranks (rank INTEGER PRIMARY KEY, count INTEGER NOT NULL) STRICT",
    "CREATE TABLE countscum ("
    " rank INTEGER PRIMARY KEY, count INTEGER NOT NULL, cumulative INTEGER NOT NULL,"
    " percent REAL NOT NULL"
    ") STRICT",
    "CREATE TABLE ranks_by_extension ("
    " extension TEXT COLLATE NOCASE, cell TEXT COLLATE NOCASE, ID TEXT COLLATE NOCASE,"
    " rank INTEGER"
    ") STRICT",
    "CREATE TABLE countranks_by_extension ("
    " extension TEXT COLLATE NOCASE, rank INTEGER, count INTEGER NOT NULL,"
    " PRIMARY KEY (extension, rank)"
    ") STRICT",

    // Saved action queries, run by name.
    "CREATE TABLE saved_queries ("
    " name TEXT COLLATE NOCASE PRIMARY KEY,"
    " sql TEXT COLLATE NOCASE NOT NULL"
    ") STRICT",
};

#undef YESNO

const char* const kViews[] = {
    "CREATE VIEW SYSTEM_ImageLinks AS SELECT"
    " cells.cell AS cell, cells.image AS image, image.image_no AS image_no,"
    " image.photo AS photo, encounter.ID AS ID, cells.side AS side, cells.facing AS facing,"
    " cells.AutoMatch AS AutoMatch, cells.off_square AS off_square, cells.pcb AS pcb,"
    " cells.scale AS scale, cells.tagged AS tagged, cells.aspect AS aspect,"
    " image.comments AS comments, image.dt AS dt, encounter.gender AS gender,"
    " sighting.site AS site, sighting.landscape AS landscape, cells.cell_no AS cell_no,"
    " encounter.encounter_no AS encounter_no, encounter.sighting_no AS sighting_no"
    " FROM cells INNER JOIN image ON image.image = cells.image"
    " INNER JOIN encounter ON encounter.encounter_no = image.encounter_no"
    " LEFT JOIN sighting ON sighting.sighting_no = encounter.sighting_no",

    // Each trigger writes the columns of one base table, and fires only when
    // the UPDATE names one of them, so a status change touches cells alone.
    "CREATE TRIGGER SYSTEM_ImageLinks_update_cells INSTEAD OF UPDATE OF"
    " cell, image, AutoMatch, side, facing, aspect, off_square, pcb, scale, tagged, cell_no"
    " ON SYSTEM_ImageLinks BEGIN"
    " UPDATE cells SET cell = NEW.cell, image = NEW.image, AutoMatch = NEW.AutoMatch,"
    " side = NEW.side, facing = NEW.facing, aspect = NEW.aspect, off_square = NEW.off_square,"
    " pcb = NEW.pcb, scale = NEW.scale, tagged = NEW.tagged, cell_no = NEW.cell_no"
    " WHERE cell = OLD.cell;"
    " END",
    "CREATE TRIGGER SYSTEM_ImageLinks_update_image INSTEAD OF UPDATE OF"
    " image_no, photo, comments, dt ON SYSTEM_ImageLinks BEGIN"
    " UPDATE image SET image_no = NEW.image_no, photo = NEW.photo, comments = NEW.comments,"
    " dt = NEW.dt WHERE image = OLD.image;"
    " END",
    "CREATE TRIGGER SYSTEM_ImageLinks_update_encounter INSTEAD OF UPDATE OF"
    " ID, gender ON SYSTEM_ImageLinks BEGIN"
    " UPDATE encounter SET ID = NEW.ID, gender = NEW.gender"
    " WHERE encounter_no = OLD.encounter_no;"
    " END",
    // A sighting column of an encounter without a sighting has nowhere to
    // go; refusing it is better than dropping the value silently.
    "CREATE TRIGGER SYSTEM_ImageLinks_update_sighting INSTEAD OF UPDATE OF"
    " site, landscape ON SYSTEM_ImageLinks BEGIN"
    " SELECT RAISE(ABORT, 'SYSTEM_ImageLinks: this extract''s encounter has no sighting to"
    " hold site and landscape') WHERE OLD.sighting_no IS NULL"
    "  OR NOT EXISTS (SELECT 1 FROM sighting WHERE sighting_no = OLD.sighting_no);"
    " UPDATE sighting SET site = NEW.site, landscape = NEW.landscape"
    " WHERE sighting_no = OLD.sighting_no;"
    " END",
    "CREATE TRIGGER SYSTEM_ImageLinks_read_only INSTEAD OF UPDATE OF"
    " encounter_no, sighting_no ON SYSTEM_ImageLinks"
    " WHEN NEW.encounter_no IS NOT OLD.encounter_no OR NEW.sighting_no IS NOT OLD.sighting_no"
    " BEGIN"
    " SELECT RAISE(ABORT, 'SYSTEM_ImageLinks: encounter_no and sighting_no cannot be changed"
    " through the view');"
    " END",

    // One row per rank position found: rank (1 = best) and the percentage of
    // the evaluated units found at exactly that rank.
    "CREATE VIEW SYSTEM_overall_ranks AS SELECT rank,"
    " 100.0 * count / (SELECT sum(count) FROM countranks) AS percent"
    " FROM countranks ORDER BY rank",

    // Per algorithm letter: rank, count and the percentage of that letter's
    // evaluated extracts found at exactly that rank.
    "CREATE VIEW SYSTEM_ranks_by_extension AS SELECT c.extension AS extension, c.rank AS rank,"
    " c.count AS count,"
    " 100.0 * c.count / (SELECT sum(t.count) FROM countranks_by_extension t"
    "  WHERE t.extension IS c.extension) AS percent"
    " FROM countranks_by_extension c ORDER BY c.extension, c.rank",
};

std::string lower_case(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

Status already_exists(const std::string& path) {
  return Status::InvalidArgument("The file '" + path +
                                 "' already exists; a new database is never written over an "
                                 "existing file.");
}

// A new, empty file beside `path` (same folder, so the same file system for
// the link that puts it in place), with a name no other creator uses: O_EXCL
// refuses a name that is taken. Its permissions are those of a plain create
// (0666 less the umask), as the engine would give the file itself.
Status make_temporary_file(const std::string& path, std::string* temporary) {
  static std::atomic<uint64_t> counter{0};
  const std::filesystem::path target(path);
  std::string name = target.filename().string();
  // Room for ".new-<pid>-<n>" and the engine's "-journal" after it.
  constexpr size_t kRoom = NAME_MAX - 48;
  if (name.size() > kRoom) name.resize(kRoom);
  const std::string stem = (target.parent_path() / name).string() + ".new-" +
                           std::to_string(static_cast<long long>(::getpid())) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate =
        stem + std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      *temporary = candidate;
      return Status::Ok();
    }
    if (errno != EEXIST) {
      return Status::IOError("Cannot make the new database beside '" + path +
                             "': " + std::strerror(errno));
    }
  }
  return Status::IOError("Cannot make the new database beside '" + path +
                         "': every temporary name tried is taken.");
}

// Flushes the folder holding `path`, so that the new name survives a crash.
// The database is whole either way; a folder that cannot be flushed (some
// network file systems) is no reason to report a failure.
void flush_folder_of(const std::string& path) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Gives the finished database the name `path`, only when no file has that
// name: a hard link, or where the file system has none a rename told not to
// replace, fails on a taken name instead of replacing whatever another
// creator (or anyone) put there meanwhile.
Status place_without_replacing(const std::string& temporary, const std::string& path) {
  if (::link(temporary.c_str(), path.c_str()) == 0) {
    flush_folder_of(path);
    return Status::Ok();
  }
  int error = errno;
  if (error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK) {
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
      flush_folder_of(path);
      return Status::Ok();
    }
    error = errno;
  }
  if (error == EEXIST) return already_exists(path);
  return Status::IOError("Cannot put the new database in place at '" + path +
                         "': " + std::strerror(error));
}

void remove_database_files(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    ::unlink((path + suffix).c_str());
  }
}

}  // namespace

Status create_schema(Database* db) {
  RecordSet existing;
  Status s = db->query("check the database is empty",
                       "SELECT name FROM sqlite_schema WHERE type IN ('table','view')", &existing);
  if (!s.ok()) return s;
  if (existing.row_count() > 0) {
    return Status::InvalidArgument("The database '" + db->path() +
                                   "' already holds tables; the schema is made only in a new, "
                                   "empty database.");
  }
  Transaction tx(db);
  if (!tx.begun().ok()) return tx.begun();
  for (const char* sql : kTables) {
    s = db->execute("create schema", sql);
    if (!s.ok()) return s;
  }
  for (const char* sql : kViews) {
    s = db->execute("create schema", sql);
    if (!s.ok()) return s;
  }
  std::unique_ptr<Statement> insert;
  s = db->prepare("store saved query", "INSERT INTO saved_queries (name, sql) VALUES (:n, :q)",
                  &insert);
  if (!s.ok()) return s;
  for (const SavedQuery& q : test_rank_queries()) {
    s = insert->set("n", q.name);
    if (s.ok()) s = insert->set("q", q.sql);
    if (s.ok()) s = insert->execute();
    if (!s.ok()) return s;
  }
  s = db->execute("mark the database", "PRAGMA application_id = " + std::to_string(kApplicationId));
  if (s.ok()) {
    s = db->execute("mark the database", "PRAGMA user_version = " + std::to_string(kSchemaVersion));
  }
  if (!s.ok()) return s;
  return tx.commit();
}

Status create_database_file(const std::string& path) {
  return create_database_file(path, nullptr);
}

Status create_database_file(const std::string& path, const std::function<void()>& before_placing) {
  std::error_code ec;
  if (path.empty()) return Status::InvalidArgument("No database file name was given.");
  if (std::filesystem::exists(path, ec) || std::filesystem::is_symlink(path, ec)) {
    return already_exists(path);
  }
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) {
    return Status::NotFound("The folder '" + parent.string() + "' does not exist.");
  }
  std::string temporary;
  Status s = make_temporary_file(path, &temporary);
  if (!s.ok()) return s;
  {
    std::unique_ptr<Database> db;
    s = Database::open(temporary, Database::OpenMode::kCreate, &db);
    if (s.ok()) s = create_schema(db.get());
  }
  // Closing the last connection folds the WAL into the file and removes it;
  // a WAL left behind would hold part of the database, which the link below
  // would not carry.
  if (s.ok() && std::filesystem::exists(temporary + "-wal", ec)) {
    s = Status::IOError("The new database '" + temporary +
                        "' could not be closed cleanly (its -wal file stays); it was not put in "
                        "place at '" +
                        path + "'.");
  }
  if (s.ok() && before_placing) before_placing();
  if (s.ok()) s = place_without_replacing(temporary, path);
  // Only files this call made are removed: the temporary database and its
  // journal files, never anything at `path`.
  remove_database_files(temporary);
  return s;
}

std::vector<std::string> schema_table_names() {
  return {"encounter",
          "sighting",
          "landscapes",
          "image",
          "cells",
          "codes",
          "aspects",
          "algy",
          "stats",
          "compIDs",
          "temp",
          "pretemp",
          "distribution",
          "scorelog",
          "IDs",
          "matches",
          "nonmatches",
          "typeranks",
          "defaultrank",
          "mergedranks",
          "ranks",
          "bestranks_overall",
          "countranks",
          "countscum",
          "ranks_by_extension",
          "countranks_by_extension",
          "saved_queries"};
}

std::vector<std::string> saved_query_names() {
  std::vector<std::string> names;
  for (const SavedQuery& q : test_rank_queries()) names.push_back(q.name);
  return names;
}

Status missing_workstation_tables(Database* db, std::vector<std::string>* missing) {
  missing->clear();
  RecordSet rs;
  Status s =
      db->query("list the tables", "SELECT name FROM sqlite_schema WHERE type = 'table'", &rs);
  if (!s.ok()) return s;
  std::vector<std::string> present;
  for (rs.move_first(); !rs.eof(); rs.move_next()) present.push_back(lower_case(rs.text("name")));
  for (const std::string& table : schema_table_names()) {
    if (std::find(present.begin(), present.end(), lower_case(table)) == present.end()) {
      missing->push_back(table);
    }
  }
  return Status::Ok();
}

Status has_workstation_mark(Database* db, bool* marked) {
  *marked = false;
  RecordSet rs;
  Status s = db->query("read the mark", "PRAGMA application_id", &rs);
  if (!s.ok()) return s;
  *marked = !rs.eof() && rs.integer("application_id") == kApplicationId;
  return Status::Ok();
}

std::string missing_tables_text(const std::vector<std::string>& missing) {
  std::string text = "missing tables ";
  for (size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) text += ", ";
    text += missing[i];
  }
  return text;
}

Status check_workstation_tables(Database* db) {
  std::vector<std::string> missing;
  Status s = missing_workstation_tables(db, &missing);
  if (!s.ok()) return s;
  if (missing.empty()) return Status::Ok();
  return Status::Corruption("The file '" + db->path() +
                            "' is not a workstation database: " + missing_tables_text(missing));
}

Status open_workstation_database(const std::string& path, std::unique_ptr<Database>* db) {
  return Database::open(path, Database::OpenMode::kExisting, check_workstation_tables, db);
}

}  // namespace velmora::db

// The statement catalogue: each prepared statement's name, the options under
// which Start prepares that form, its parameters with their declared types,
// and its SQLite text.
//
// The texts keep the meaning of the workstation's statements exactly:
//  - the last two letters of a cell name are substr(cell,-2); that value is
//    no column, so its comparison asks for NOCASE itself, as every text
//    comparison of the workstation ignores letter case;
//  - conditions keep their three-valued logic as written, with one
//    exception: library_cells_by_sex keeps animals of unknown sex (gender
//    NULL) as candidates, since only a recorded opposite sex rules one out;
//  - updates through a join become "WHERE key IN (SELECT ...)";
//  - scores kept in single precision pass through to_single() (a function
//    of the connection, database.cpp) so that the score read back from temp
//    finds its row again when given as a single.
// Catalogue order is the order Start prepares them in.
#include "workstation/db/statements.h"

#include <cctype>

namespace velmora::db {

namespace {

enum class When {
  kAlways,
  kMultiAspectBatch,     // MultiAspect and not the test mode
  kNotMultiAspectBatch,  // otherwise
  kSiteLimit,            // limit to site chosen and LimitSearch
  kLandscapeLimit,       // limit to landscape chosen, LimitSearch, no site limit
  kNoLimit,              // neither limit applies
  kCombine,
  kNotCombine,
  kShowCrop,
  kNotShowCrop,
};

struct Def {
  const char* name;
  When when;
  const char* params;  // "pCell string, pSide string"
  const char* sql;
};

// The extract-selection conditions shared by the pending and library lists.
#define ASPECT_SIDE "substr(cell,-2)=:pAspect_letter COLLATE NOCASE AND side=:pSide"
#define NOT_OTHER_ALGY \
  "NOT((aspect='legcode' AND letter<>'h') OR (aspect<>'legcode' AND letter='h'))"
#define TEMP_PAIR_JOIN                                                                   \
  "FROM (SYSTEM_ImageLinks INNER JOIN temp ON SYSTEM_ImageLinks.image = temp.imgPname) " \
  "INNER JOIN SYSTEM_ImageLinks AS SYSTEM_ImageLinks_1 ON temp.imgFname = "              \
  "SYSTEM_ImageLinks_1.image "

const Def kCatalogue[] = {
    {"images_to_extract", When::kAlways, "",
     "SELECT photo, image, image_no, cell, id, side, facing, AutoMatch, off_square, pcb, scale, "
     "aspect, tagged, comments FROM SYSTEM_ImageLinks WHERE AutoMatch='E' ORDER BY cell"},
    {"pending_cells", When::kMultiAspectBatch, "pAspect_letter string, pSide string",
     "SELECT cell, side, AutoMatch FROM ((compIDs INNER JOIN encounter ON compIDs.ID = "
     "encounter.id) INNER JOIN [image] ON encounter.encounter_no = image.encounter_no) INNER "
     "JOIN cells ON image.image = cells.image WHERE " ASPECT_SIDE
     " AND AutoMatch='P' ORDER BY cell"},
    {"pending_cells", When::kNotMultiAspectBatch, "pAspect_letter string, pSide string",
     "SELECT cell, side, AutoMatch FROM SYSTEM_ImageLinks WHERE " ASPECT_SIDE
     " AND AutoMatch='P' ORDER BY cell"},
    {"library_cells_at_site", When::kSiteLimit, "pAspect_letter string, pSide string, pSite string",
     "SELECT cell, side, AutoMatch FROM SYSTEM_ImageLinks WHERE " ASPECT_SIDE
     " AND site=:pSite AND (AutoMatch='L' or AutoMatch='V')"},
    {"library_cells_at_landscape", When::kLandscapeLimit,
     "pAspect_letter string, pSide string, pLandscape string",
     "SELECT cell, side, AutoMatch FROM SYSTEM_ImageLinks WHERE " ASPECT_SIDE
     " AND landscape=:pLandscape AND (AutoMatch='L' or AutoMatch='V')"},
    {"library_cells", When::kNoLimit, "pAspect_letter string, pSide string",
     "SELECT cell, side, AutoMatch FROM SYSTEM_ImageLinks WHERE " ASPECT_SIDE
     " AND (AutoMatch='L' or AutoMatch='V')"},
    {"pending_cell", When::kAlways, "pAspect_letter string, pCell string, pSide string",
     "SELECT cell, side, AutoMatch, gender FROM SYSTEM_ImageLinks WHERE cell=:pCell AND "
     "substr(cell,-2)=:pAspect_letter COLLATE NOCASE AND side=:pSide AND AutoMatch='P'"},
    {"library_cells_by_sex", When::kAlways,
     "pAspect_letter string, pSide string, pOppositeSex string",
     "SELECT cell, side, AutoMatch, gender FROM SYSTEM_ImageLinks WHERE " ASPECT_SIDE
     " AND (gender IS NULL OR NOT (gender=:pOppositeSex)) AND (AutoMatch='L' or AutoMatch='V')"},
    {"review_list", When::kCombine, "",
     "SELECT distinct ID FROM SYSTEM_ImageLinks WHERE AutoMatch='V'"},
    {"review_item", When::kCombine, "pID string",
     "SELECT distinct ID FROM SYSTEM_ImageLinks WHERE AutoMatch='V' and ID=:pID"},
    {"set_review_status", When::kCombine, "pID string, pAutoMatch string",
     "UPDATE SYSTEM_ImageLinks SET AutoMatch=:pAutoMatch WHERE ID=:pID AND AutoMatch='V'"},
    {"review_list", When::kNotCombine, "",
     "SELECT id, cell, photo, AutoMatch, side, facing, aspect, algy.letter AS extension FROM "
     "SYSTEM_ImageLinks, algy WHERE AutoMatch='V' AND " NOT_OTHER_ALGY
     " ORDER BY cell, algy.letter desc"},
    // The cell picks one row, and for that the engine (3.40) walks algy's
    // letter index forwards whatever the direction asked; "+" makes it sort.
    {"review_item", When::kNotCombine, "pCell string",
     "SELECT id, cell, photo, algy.letter AS extension, AutoMatch, side, facing, aspect FROM "
     "SYSTEM_ImageLinks, algy WHERE cell=:pCell AND AutoMatch='V' AND " NOT_OTHER_ALGY
     " ORDER BY +algy.letter desc"},
    {"set_review_status", When::kNotCombine, "pCell string, pAutoMatch string",
     "UPDATE SYSTEM_ImageLinks SET AutoMatch=:pAutoMatch WHERE cell=:pCell AND AutoMatch='V'"},
    {"mark_automatched", When::kAlways, "pID string",
     "UPDATE encounter SET AutoMatched=1 WHERE ID=:pID"},
    {"photos_of_id", When::kShowCrop, "pID string",
     "SELECT distinct photo, cell, aspect, dt, side, facing, comments from SYSTEM_ImageLinks "
     "WHERE ID=:pID AND NOT(AutoMatch='S') order by cell ASC"},
    {"photos_of_id", When::kNotShowCrop, "pID string",
     "SELECT distinct photo, 'Unset1' as cell, 'Unset2' as aspect, dt, side, facing, comments "
     "from SYSTEM_ImageLinks WHERE ID=:pID AND NOT(AutoMatch='S')"},
    {"left_images_of_id", When::kAlways, "pID string",
     "SELECT distinct image from SYSTEM_ImageLinks WHERE ID=:pID AND side='L' "},
    {"right_images_of_id", When::kAlways, "pID string",
     "SELECT distinct image from SYSTEM_ImageLinks WHERE ID=:pID AND side='R' "},
    {"best_ids_for_pending", When::kAlways, "pPname string",
     "SELECT ID, max(temp.score) AS maxOfscore FROM SYSTEM_ImageLinks INNER JOIN temp ON "
     "SYSTEM_ImageLinks.cell = temp.fname WHERE pname=:pPname GROUP BY ID ORDER BY "
     "max(temp.score) DESC"},
    {"best_ids_for_id", When::kAlways, "pID string",
     "SELECT SYSTEM_ImageLinks_1.ID, max(temp.score) AS maxOfscore " TEMP_PAIR_JOIN
     "WHERE SYSTEM_ImageLinks.ID=:pID GROUP BY SYSTEM_ImageLinks_1.ID ORDER BY max(temp.score) "
     "DESC"},
    {"temp_pair_for_ids", When::kAlways, "pID1 string, pID2 string, pScore single",
     "SELECT temp.pname, temp.fname " TEMP_PAIR_JOIN
     "WHERE SYSTEM_ImageLinks.ID=:pID1 AND SYSTEM_ImageLinks_1.ID=:pID2 and "
     "temp.score=to_single(:pScore)"},
    {"merge_id", When::kAlways, "pID1 string, pID2 string",
     "UPDATE encounter set ID=:pID2 WHERE ID=:pID1"},
    {"merge_mum_id", When::kAlways, "pID1 string, pID2 string",
     "UPDATE encounter set mum_id=:pID2 WHERE mum_id=:pID1"},
    {"mark_temp_for_deletion", When::kAlways, "pID string",
     "UPDATE temp SET pname='DELIT' WHERE imgPname IN (SELECT image FROM SYSTEM_ImageLinks "
     "WHERE ID=:pID)"},
    {"delete_marked_temp", When::kAlways, "", "DELETE from temp where pname='DELIT'"},
    {"delete_temp_of_pending", When::kAlways, "pPname string",
     "DELETE from temp WHERE pname = :pPname"},
    {"clear_pretemp", When::kAlways, "pAspectSide string",
     "DELETE from pretemp WHERE AspectSide=:pAspectSide"},
    {"distribution_of_file", When::kAlways, "pFilename string",
     "SELECT * from distribution where filename=:pFilename"},
    {"add_distribution_L", When::kAlways, "pFilename string, pScore double",
     "UPDATE distribution SET Ln = Ln+1, Ls = Ls+:pScore, Lss = Lss+:pScore*:pScore WHERE "
     "filename=:pFilename"},
    {"add_distribution_R", When::kAlways, "pFilename string, pScore double",
     "UPDATE distribution SET Rn = Rn+1, Rs = Rs+:pScore, Rss = Rss+:pScore*:pScore WHERE "
     "filename=:pFilename"},
    {"best_pretemp_scores", When::kAlways, "pAspectSide string",
     "SELECT max(score) as maxscore, pname, fname FROM pretemp WHERE AspectSide=:pAspectSide "
     "GROUP BY pname, fname"},
    {"all_temp", When::kAlways, "", "SELECT * from temp"},
    {"park_pending", When::kAlways, "",
     "UPDATE SYSTEM_ImageLinks SET AutoMatch='T' WHERE AutoMatch='P'"},
    {"restore_pending", When::kAlways, "",
     "UPDATE SYSTEM_ImageLinks SET AutoMatch='P' WHERE AutoMatch='T'"},
    {"test_set_to_pending", When::kAlways, "",
     "UPDATE SYSTEM_ImageLinks SET AutoMatch = 'P' WHERE AutoMatch='L' AND substr(id,1,1) NOT "
     "IN ('1','2','3','4','5','6','7','8','9')"},
    {"test_set_to_library", When::kAlways, "",
     "UPDATE SYSTEM_ImageLinks SET AutoMatch = 'L' WHERE AutoMatch='P' AND substr(id,1,1) NOT "
     "IN ('1','2','3','4','5','6','7','8','9')"},
    {"aspect_settings", When::kAlways, "pAspect string",
     "SELECT * from aspects WHERE aspect=:pAspect"},
    {"stats_of_algorithm", When::kAlways, "pAspect string, pAlgy string",
     "SELECT * FROM stats WHERE aspect=:pAspect AND algy_letter=:pAlgy"},
    {"insert_pretemp", When::kAlways,
     "pPname string, pFname string, pScore string, pAspectSide string",
     "INSERT INTO pretemp (pname,fname,score,AspectSide) VALUES "
     "(:pPname,:pFname,:pScore,:pAspectSide)"},
    {"cells_by_number", When::kAlways, "",
     "SELECT ID, cell, cell_no FROM encounter INNER JOIN ([image] INNER JOIN cells ON "
     "image.image = cells.image) ON encounter.encounter_no = image.encounter_no ORDER BY "
     "cell_no"},
    {"cell_no_of_cell", When::kAlways, "Pcell string",
     "SELECT cell_no FROM cells WHERE cell=:Pcell"},
    {"insert_temp", When::kAlways,
     "pImgPname string, pImgFname string, pPname string, pFname string, pScore string",
     "INSERT INTO temp (imgPname,imgFname,pname,fname,score) VALUES "
     "(:pImgPname,:pImgFname,:pPname,:pFname,to_single(:pScore))"},
    {"pending_ids", When::kMultiAspectBatch, "",
     "SELECT distinct ID FROM SYSTEM_ImageLinks where AutoMatch='P'"},
    {"insert_comp_id", When::kMultiAspectBatch, "pID string",
     "INSERT INTO compIDs (ID) VALUES (:pID)"},
    {"insert_scorelog", When::kAlways,
     "pPendingID string, pLibraryID string, pScore double, pRank byte, pStan logical, "
     "pComb logical, pDate_time date",
     "INSERT INTO scorelog (pendingID,libraryID,score,rank,standardised,combined,date_time) "
     "VALUES (:pPendingID,:pLibraryID,:pScore,:pRank,:pStan,:pComb,:pDate_time)"},
    {"cells_by_name", When::kAlways, "", "SELECT cell, cell_no FROM cells ORDER by cell"},
    {"copy_site_landscape", When::kAlways, "",
     "UPDATE sighting SET landscape = (SELECT landscapes.landscape FROM landscapes WHERE "
     "landscapes.site = sighting.site) WHERE site IN (SELECT site FROM landscapes)"},
};

#undef ASPECT_SIDE
#undef NOT_OTHER_ALGY
#undef TEMP_PAIR_JOIN

bool site_limit(const StatementOptions& o) {
  return o.limit_to_site && o.limit_search;
}
bool landscape_limit(const StatementOptions& o) {
  return o.limit_to_landscape && o.limit_search && !site_limit(o);
}
bool multi_aspect_batch(const StatementOptions& o) {
  return o.multi_aspect && !o.test_mode;
}

bool applies(When w, const StatementOptions& o) {
  switch (w) {
    case When::kAlways:
      return true;
    case When::kMultiAspectBatch:
      return multi_aspect_batch(o);
    case When::kNotMultiAspectBatch:
      return !multi_aspect_batch(o);
    case When::kSiteLimit:
      return site_limit(o);
    case When::kLandscapeLimit:
      return landscape_limit(o);
    case When::kNoLimit:
      return !site_limit(o) && !landscape_limit(o);
    case When::kCombine:
      return o.combine;
    case When::kNotCombine:
      return !o.combine;
    case When::kShowCrop:
      return o.show_crop;
    case When::kNotShowCrop:
      return !o.show_crop;
  }
  return false;
}

// Why a statement is missing under the options in force, for the message of
// a statement asked for by name but not prepared.
std::string missing_reason(const std::string& name) {
  for (const Def& d : kCatalogue) {
    if (name != d.name) continue;
    switch (d.when) {
      case When::kMultiAspectBatch:
        return "it is prepared only when MultiAspect is true and the test mode is not chosen";
      case When::kSiteLimit:
        return "it is prepared only when \"limit to site\" is chosen and LimitSearch is true";
      case When::kLandscapeLimit:
        return "it is prepared only when \"limit to landscape\" is chosen, LimitSearch is true "
               "and no site limit applies";
      case When::kNoLimit:
        return "it is prepared only when no site or landscape limit applies";
      default:
        return "it was not prepared under the options of this run";
    }
  }
  return "no statement of that name exists";
}

ParamType type_of(const std::string& word) {
  static const std::pair<const char*, ParamType> kTypes[] = {
      {"string", ParamType::kString}, {"long", ParamType::kLong}, {"single", ParamType::kSingle},
      {"double", ParamType::kDouble}, {"byte", ParamType::kByte}, {"logical", ParamType::kLogical},
      {"date", ParamType::kDate}};
  for (const auto& [w, t] : kTypes) {
    if (word == w) return t;
  }
  return ParamType::kAny;
}

// "pCell string, pSide string" -> declarations. The catalogue is fixed text,
// so a malformed entry is a programming error caught by the tests.
std::vector<ParameterDecl> parse_params(const char* text) {
  std::vector<ParameterDecl> out;
  std::string s(text);
  size_t pos = 0;
  while (pos < s.size()) {
    size_t comma = s.find(',', pos);
    std::string item = s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    size_t b = item.find_first_not_of(' ');
    size_t blank = item.find(' ', b);
    ParameterDecl d;
    d.name = item.substr(b, blank - b);
    d.type = blank == std::string::npos ? ParamType::kAny : type_of(item.substr(blank + 1));
    out.push_back(d);
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return out;
}

StatementText text_of(const Def& d) {
  return StatementText{d.name, d.sql, parse_params(d.params)};
}

}  // namespace

std::vector<StatementText> statement_texts(const StatementOptions& options) {
  std::vector<StatementText> out;
  for (const Def& d : kCatalogue) {
    if (applies(d.when, options)) out.push_back(text_of(d));
  }
  return out;
}

std::vector<StatementText> all_statement_texts() {
  std::vector<StatementText> out;
  for (const Def& d : kCatalogue) out.push_back(text_of(d));
  return out;
}

std::string library_statement_name(const StatementOptions& options, bool restricted) {
  if (restricted) return "library_cells_by_sex";
  if (site_limit(options)) return "library_cells_at_site";
  if (landscape_limit(options)) return "library_cells_at_landscape";
  return "library_cells";
}

Status prepare_statement(Database* db, const StatementText& text,
                         std::unique_ptr<Statement>* stmt) {
  Status s = db->prepare(text.name, text.sql, stmt);
  if (!s.ok()) return s;
  for (const ParameterDecl& p : text.parameters) {
    s = (*stmt)->declare(p.name, p.type);
    if (!s.ok()) {
      stmt->reset();
      return s;
    }
  }
  return Status::Ok();
}

Status PreparedStatements::prepare(Database* db, const StatementOptions& options,
                                   std::unique_ptr<PreparedStatements>* out) {
  out->reset();
  std::unique_ptr<PreparedStatements> set(new PreparedStatements());
  set->options_ = options;
  for (const StatementText& t : statement_texts(options)) {
    std::unique_ptr<Statement> stmt;
    Status s = prepare_statement(db, t, &stmt);
    if (!s.ok()) return s;
    set->order_.push_back(t.name);
    set->by_name_[t.name] = std::move(stmt);
  }
  *out = std::move(set);
  return Status::Ok();
}

Statement* PreparedStatements::get(const std::string& name) {
  auto it = by_name_.find(name);
  if (it != by_name_.end()) return it->second.get();
  auto& missing = missing_[name];
  if (!missing) missing = Statement::unavailable(name, missing_reason(name));
  return missing.get();
}

bool PreparedStatements::has(const std::string& name) const {
  return by_name_.count(name) != 0;
}

std::string algorithm_lookup_sql(const std::string& family) {
  // The family names are the program's own constants; a quote in one would
  // be a programming error, doubled here so the text stays one literal.
  std::string quoted;
  for (char c : family) {
    if (c == '\'') quoted += '\'';
    quoted += c;
  }
  return "SELECT letter from algy where type='" + quoted + "'";
}

StatementText codes_of_cell_statement() {
  return StatementText{
      "codes_of_cell", "SELECT code from codes WHERE cell=:pCell", {{"pCell", ParamType::kString}}};
}

StatementText insert_distribution_statement() {
  return StatementText{"insert_distribution",
                       "INSERT INTO distribution (filename) VALUES (:pFilename)",
                       {{"pFilename", ParamType::kString}}};
}

std::string delete_all_sql(const std::string& table) {
  std::string quoted = "\"";
  for (char c : table) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return "DELETE FROM " + quoted + "\"";
}

std::vector<StatementText> direct_statement_texts() {
  std::vector<StatementText> out;
  out.push_back({"delete compIDs", kDeleteCompIdsSql, {}});
  for (const char* family : kAlgorithmFamilies) {
    out.push_back({std::string("algorithm lookup ") + family, algorithm_lookup_sql(family), {}});
  }
  out.push_back({"aspect list", kAspectListSql, {}});
  out.push_back({"site list", kSiteListSql, {}});
  out.push_back({"landscape list", kLandscapeListSql, {}});
  out.push_back(codes_of_cell_statement());
  out.push_back(insert_distribution_statement());
  out.push_back({"renumber cells", kRenumberCellsSql, {}});
  for (const char* t : kTestRankTables)
    out.push_back({std::string("empty ") + t, delete_all_sql(t), {}});
  for (const char* t : kRanksByExtensionTables) {
    out.push_back({std::string("empty ") + t, delete_all_sql(t), {}});
  }
  out.push_back({"delete * from temp", kDeleteTempSql, {}});
  out.push_back({"overall ranks", kOverallRanksSql, {}});
  out.push_back({"ranks by extension", kRanksByExtensionSql, {}});
  return out;
}

std::vector<TestStep> test_steps(bool combine) {
  const char p = combine ? 't' : 's';
  auto step = [&](const char* rest) { return TestStep{std::string(1, p) + rest, true}; };
  std::vector<TestStep> steps;
  steps.push_back(step("01: make IDs"));
  if (!combine) steps.push_back(step("02: update temp, strip extension"));
  steps.push_back(step("04: matching temp"));
  steps.push_back(step("05: non-matching temp"));
  steps.push_back(TestStep{kDeleteTempSql, false});
  steps.push_back(step("06a: count bigger nonmatch scores"));
  steps.push_back(step("06b: count bigger nonmatch scores"));
  steps.push_back(step("06c: count bigger nonmatch scores"));
  steps.push_back(step("06d: count bigger nonmatch scores"));
  steps.push_back(step(combine ? "07: non-1 ranks" : "07: non-1 ranks by type"));
  steps.push_back(step("08: make default ranks"));
  steps.push_back(step("09a: update default rank"));
  steps.push_back(step("09b: update default rank"));
  steps.push_back(step("10: make merged ranks"));
  steps.push_back(step("11: update mergedrank nulls"));
  steps.push_back(step("12: make ranks"));
  steps.push_back(
      step(combine ? "13: save ranks as bestranks overall" : "13: make best overall ranks"));
  steps.push_back(step("14: count ranks"));
  return steps;
}

}  // namespace velmora::db

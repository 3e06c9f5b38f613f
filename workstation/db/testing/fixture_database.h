// Test databases for every area's tests: a builder that adds encounters,
// photographs, extracts and settings to a database made by create_schema, and
// the standard fixture, a small population that exercises every status code,
// both kinds of aspect, the five comparison families, sites and landscapes.
//
// Typical use:
//   std::unique_ptr<Database> db;
//   ASSERT_TRUE(make_standard_fixture(":memory:", &db).ok());
//   // or a file, for code that opens the database by path:
//   ASSERT_TRUE(make_standard_fixture(dir + "/fixture.sqlite", &db).ok());
// and, for data of one's own, FixtureBuilder on make_empty_database().
//
// The standard fixture (standard_extracts() lists every extract; tests
// should derive their expectations from that list, not copy it):
//
//   aspects, in this order        letter  cell_type  sides
//     "Flank"                     FL      lateral    L, R
//     "Dorsal"                    DO      Dorsal     M
//     "LegCode"                   LC      Ventral    M   (the leg-code aspect)
//   algy   a tarvik, c compnew_corr, s compnew_spot, h legcode, k CompSift
//   landscapes  "North Beach" and "South Beach" in "Coast", "Skerry" in
//               "Islands"; sighting.landscape starts NULL (copy_site_landscape
//               fills it)
//   animals (ID, gender, site): 101 Male North Beach; 102 Female South Beach;
//     12A Male Skerry; A12 Female North Beach (the only test-set animal with
//     library extracts); 205 "unset" South Beach; 206 NULL Skerry;
//     301 Male North Beach (mum_id 102); B7 Female Skerry; 401 Female North Beach
//   extracts: E 4 (401_...: one with "#", one "_LC"), P 3 (301_1FL, 301_1DO and
//     B7_1fl, whose letters are written in lower case), V 2 (102_2FL and the
//     leg-code 12A_2_LC), L 10, R 1, S 1, G 1, T 1
//   codes of 12A_1_LC and 12A_2_LC; stats rows for (Flank, a), (Flank, c),
//   (Dorsal, a), (LegCode, h); one distribution row "101_1FL.a" at zero.
//   Photograph file names are "P" + image name; dates 2023-06-01 onwards.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/db/database.h"

namespace velmora::db::testing {

struct AspectRow {
  std::string aspect, aspect_letter, cell_type, pattern;
  int show_n_spots = 0;
  bool all_green = false;
  std::string model_fname;
  int from_r = 0, to_r = 0, step_r = 0;
  int from_theta_deg = 0, to_theta_deg = 0, step_theta_deg = 0;
  double sigmax_ratio = 0, sigmay = 0;
};

struct StatsRow {
  std::string aspect, algy_letter;
  double rmu_match = 0, sigma_match = 0, rmu_nonmatch = 0, sigma_nonmatch = 0;
};

// One extract of a fixture, with what the view shows of it.
struct FixtureExtract {
  std::string cell, image, id, aspect;
  std::string side;        // "" = NULL
  std::string auto_match;  // one letter
  std::string gender;      // "" = NULL
  std::string site, landscape;
};

// Adds rows one at a time; every call returns the engine's failure as a
// Status naming what was being added.
class FixtureBuilder {
 public:
  explicit FixtureBuilder(Database* db) : db_(db) {}

  Status add_aspect(const AspectRow& a);
  Status add_algorithm(const std::string& letter, const std::string& type);
  Status add_landscape(const std::string& site, const std::string& landscape);
  // A sighting at `site` (landscape left NULL) and an encounter of `id` at it.
  // gender / mum_id "" are stored as NULL. *encounter_no receives the key.
  Status add_encounter(const std::string& id, const std::string& gender, const std::string& site,
                       int64_t* encounter_no, const std::string& mum_id = "");
  Status add_image(const std::string& image, int64_t encounter_no, int image_no,
                   const std::string& photo, const std::string& dt,
                   const std::string& comments = "");
  // side "" is stored as NULL.
  Status add_cell(const std::string& cell, const std::string& image, const std::string& aspect,
                  const std::string& side, const std::string& auto_match);
  Status add_code(const std::string& cell, const std::string& code);
  Status add_stats(const StatsRow& s);
  Status add_distribution(const std::string& filename);
  Status add_temp(const std::string& img_pname, const std::string& img_fname,
                  const std::string& pname, const std::string& fname, double score);

  // `animals` animals "<prefix>1" ... each with one photograph per extract
  // and `extracts_per_animal` extracts "<prefix><n>_<k><letter>" of one aspect,
  // side and status, added in one transaction (fast enough for 200000).
  Status add_bulk_extracts(const std::string& prefix, int animals, int extracts_per_animal,
                           const std::string& aspect, const std::string& aspect_letter,
                           const std::string& side, const std::string& auto_match);

 private:
  Status run(const std::string& what, const std::string& sql,
             const std::vector<std::pair<std::string, Value>>& params);
  Database* db_;
};

// A new database with the whole schema and no rows (":memory:" or a new file).
Status make_empty_database(const std::string& path, std::unique_ptr<Database>* db);
// A new database with the schema and the standard fixture.
Status make_standard_fixture(const std::string& path, std::unique_ptr<Database>* db);
// Fills an empty database made by create_schema with the standard fixture.
Status fill_standard_fixture(Database* db);

// The standard fixture's contents.
const std::vector<FixtureExtract>& standard_extracts();
const std::vector<AspectRow>& standard_aspects();
// (letter, type) of the five algy rows.
const std::vector<std::pair<std::string, std::string>>& standard_algorithms();

}  // namespace velmora::db::testing

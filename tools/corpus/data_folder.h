// A workstation data folder made from a synthetic corpus: what the batch
// comparison (velmora-batch) runs on, with the truth kept apart for rating.
//
// Folder DATA:
//   oldlib/<cell>         fingerprint file of every extract, by save_fprint
//   orlain.ini            configuration file: a header item, then two switches
//   seals.sqlite          database made by the workstation's own schema code
//   work/tarvik.ini       run file (and tarvik_head.ini, the same constants) in
//                         the working folder the comparison runs in:
//                           velmora-batch --data-folder DATA
//                             --database DATA/seals.sqlite --working-folder DATA/work
//   calibration/          the calibration run behind the stats row: its two
//                         lists and its results file (calibration.h)
//   corpus.txt            the truth: one line "cell animal role" per extract,
//                         animal being the library ID of the animal really
//                         photographed (corpus_writer.h reads it)
//
// Database rows:
//   aspects    one lateral aspect (default "Flank", letter "FL"); every
//              extract shows the animal's left side ("L")
//   algy       one row of type "tarvik" (default letter "a")
//   stats      aspect + letter: match and non-match mean and spread from
//              the calibration run
//   landscapes, sighting, encounter, image, cells: one sighting, encounter
//              and photograph per extract
//     library  sightings 2..K of animal n: ID "GS" + n (4 digits), status L
//     pending  sighting 1 of every animal, status P, under a provisional ID
//              "U" + 4 digits: a seeded shuffle of the animal numbers, as a
//              new photograph is entered before anyone knows whose it is
// Names: image = ID + "_" + sighting number (2 digits); cell = image + "_" +
// aspect letter, so that a cell name without its last three characters (the
// workstation's image-name rule for temp) is its image, and the last two are
// the aspect letter. cell_no is numbered 1, 2, ... in cell order.
//
// The stats row is honest: the calibration compares library extracts only
// (sightings 2 and 3 of the first M library animals, both ways), whose
// animals a lab knows; no pending extract and nothing of the truth file is
// used, so the statistics know nothing of the answers the batch comparison
// is rated against.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tools/corpus/calibration.h"
#include "tools/corpus/corpus_writer.h"
#include "workstation/common/status.h"
#include "workstation/db/database.h"

namespace velmora::corpus {

inline constexpr char kDatabaseFileName[] = "seals.sqlite";
inline constexpr char kWorkingFolderName[] = "work";
inline constexpr char kTruthFileName[] = "corpus.txt";
inline constexpr char kSide[] = "L";
inline constexpr int kMaxCalibrationAnimals = 200;

struct DataFolderOptions {
  CorpusOptions corpus = [] {
    CorpusOptions o;
    o.aspect_letter = "FL";
    return o;
  }();
  std::string aspect = "Flank";
  std::string letter = "a";  // the algy letter of the tarvik family
  int calibration_animals = 100;
};

// One extract of the data folder.
struct DataExtract {
  std::string cell, image;
  std::string id;      // the database's animal ID (provisional for pending ones)
  std::string animal;  // the animal really photographed: its library ID
  std::string gender;  // "Male" or "Female", the animal's
  std::string dt;      // date and time of the photograph
  int animal_number = 0;
  int sighting = 0;
  bool pending = false;
};

// Empty when the options can make a data folder, else the reason.
std::string check_data_options(const DataFolderOptions& o);

// All extracts, animal by animal, sighting by sighting.
std::vector<DataExtract> plan_data_folder(const DataFolderOptions& o);

// The same for corpus.animals animals numbered from `first_animal` on (IDs
// "GS" + that number), so that several groups of animals in one database
// keep apart: the provisional IDs of the pending sightings are a seeded
// shuffle of the group's own numbers. plan_data_folder is
// plan_animals(o.corpus, 1).
std::vector<DataExtract> plan_animals(const CorpusOptions& corpus, int first_animal);

// The library cells the calibration compares: sighting 2 (first) and
// sighting 3 (second) of the first M animals (calibration_groups over the
// plan's library).
void calibration_lists(const DataFolderOptions& o, std::vector<std::string>* first,
                       std::vector<std::string>* second);

struct DataFolderSummary {
  int pending = 0;
  int library = 0;
  int calibration_animals = 0;
  CalibrationSummary calibration;
  std::string database_path;
  std::string working_folder;
};

// --- The database pieces the data folders share.

// Runs the prepared `stmt` with `params`; with `key` set, the statement
// returns one row and *key receives its first column.
Status run_statement(db::Statement* stmt,
                     const std::vector<std::pair<std::string, db::Value>>& params,
                     int64_t* key = nullptr);

// Creates a database file at `path` with the workstation's schema and fills
// it through `fill` in one transaction. On failure the file is removed.
Status create_filled_database(const std::string& path,
                              const std::function<Status(db::Database*)>& fill);

// The landscape row of the synthetic site every sighting is made at; once
// per database.
Status insert_synthetic_site(db::Database* db);

// One sighting, encounter, image and cells row per extract of `plan`: status
// `pending_status` for a pending extract (P, or E for a photograph waiting to
// be extracted), L for a library one, on `side` of `aspect`. Image numbers
// continue from *image_number, which is left at the last one given. An empty
// `side` leaves the side NULL, as the extraction records it.
Status insert_extracts(db::Database* db, const std::vector<DataExtract>& plan,
                       const std::string& aspect, const std::string& side, int64_t* image_number,
                       const std::string& pending_status = "P");

// The stats row of `aspect` and algorithm `letter` from a calibration, in
// place of any row they had.
Status write_stats_row(db::Database* db, const std::string& aspect, const std::string& letter,
                       const CalibrationSummary& calibration);

// The run files tarvik.ini and tarvik_head.ini (the same constants) in the
// working folder `work`, which must exist.
Status write_run_files(const std::string& work);

// The dense numbering the workstation gives the cells at every Start (1, 2,
// ... in cell order), so that a database is consistent before its first
// Start too.
Status number_cells(db::Database* db);

// --- The comparison families and the leg-code extracts of the synthetic
// data folders of extracts and photographs.
//
// Their table algy names every family, so that a batch comparison runs
// each of them in turn (or says it is not available in this version):
// tarvik "a", compnew_corr "c", compnew_spot "s", legcode "h" (the letter
// review lists keep for the leg-code aspect) and CompSift "k". After the
// pattern aspects come "Skin", where the pattern families' walk over the
// aspects ends, and "LegCode" (letter LC, side M), whose extracts are
// compared by their codes alone.
//
// A few animals also have leg-code extracts: cell = image + "_LC" for the
// photograph of their pending sighting (state P: read off and entered) and
// of their second sighting (library, L). An animal carries one or two codes
// (a letter and three digits, one per hind flipper tag); each sighting reads
// them with about one character in eight unreadable ('*'), and the pending
// sighting sometimes only one of them. Their roles go to a file of their own
// (kLegCodeTruthFileName, the manifest format of corpus_writer.h), apart from
// the roles of the photographs and pattern extracts.
struct FamilyLetter {
  const char* type;
  const char* letter;
};
inline constexpr FamilyLetter kFamilyLetters[] = {{"tarvik", "a"},
                                                  {"compnew_corr", "c"},
                                                  {"compnew_spot", "s"},
                                                  {"legcode", "h"},
                                                  {"CompSift", "k"}};
inline constexpr char kLegCodeTruthFileName[] = "legcodes.txt";
inline constexpr int kLegCodeAnimals = 4;

struct LegCodeExtract {
  std::string cell, image;
  std::string animal;  // the library ID of the animal
  bool pending = false;
  std::vector<std::string> codes;
};

// One algy row per family.
Status insert_family_letters(db::Database* db);
// The aspects "Skin" and "LegCode", after the aspects already there.
Status insert_legcode_aspects(db::Database* db);
// The leg-code extracts of the first kLegCodeAnimals animals of `plan`
// (sightings 1 and 2).
std::vector<LegCodeExtract> plan_legcode_extracts(const std::vector<DataExtract>& plan,
                                                  uint64_t seed);
// Their cells rows (on the photographs `plan` made) and codes rows.
Status insert_legcode_extracts(db::Database* db, const std::vector<LegCodeExtract>& extracts);
// Their roles, "cell animal pending|library" a line, after a comment line.
std::string legcode_truth(const std::vector<LegCodeExtract>& extracts);

// Makes the data folder in `dir`, which must be absent or empty. The path
// of every fingerprint file must stay under 80 characters (the writer's
// limit). On failure the database file is removed (the folder is not).
Status write_data_folder(const std::string& dir, const DataFolderOptions& o,
                         DataFolderSummary* summary);

}  // namespace velmora::corpus

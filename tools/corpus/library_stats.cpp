// The library's match statistics (see the header).
#include "tools/corpus/library_stats.h"

#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

#include "tools/corpus/data_folder.h"
#include "tools/corpus/temp_ranking.h"
#include "workstation/common/atomic_file.h"

namespace velmora::corpus {
namespace {

namespace fs = std::filesystem;

std::string names_text(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += n + "\n";
  return text;
}

}  // namespace

Status read_library_extracts(db::Database* db, const std::string& aspect,
                             std::vector<LibraryExtract>* library) {
  std::unique_ptr<db::Statement> st;
  Status s = db->prepare("library extracts",
                         "SELECT cells.cell AS cell, cells.side AS side, encounter.ID AS ID "
                         "FROM cells JOIN image ON image.image = cells.image "
                         "JOIN encounter ON encounter.encounter_no = image.encounter_no "
                         "WHERE cells.AutoMatch = 'L' AND cells.aspect = :aspect "
                         "ORDER BY cells.cell",
                         &st);
  if (s.ok()) s = st->set("aspect", aspect);
  db::RecordSet rs;
  if (s.ok()) s = st->open(&rs);
  if (!s.ok()) return s;
  library->clear();
  for (rs.move_first(); !rs.eof(); rs.move_next())
    library->push_back(
        {rs.text("cell"), rs.text("ID"), db::is_null(rs.field("side")) ? "" : rs.text("side")});
  return Status::Ok();
}

Status write_library_stats(const LibraryStatsOptions& o, LibraryStatsSummary* summary) {
  if (o.calibration_animals < 2 || o.calibration_animals > kMaxCalibrationAnimals)
    return Status::InvalidArgument("the number of calibration animals must be from 2 to " +
                                   std::to_string(kMaxCalibrationAnimals));
  std::unique_ptr<db::Database> db;
  Status s = db::Database::open(o.database, db::Database::OpenMode::kExisting, &db);
  if (!s.ok()) return s;
  LibraryStatsSummary sum;
  s = read_tarvik_letter(db.get(), &sum.letter);
  std::vector<LibraryExtract> all;
  if (s.ok()) s = read_library_extracts(db.get(), o.aspect, &all);
  if (!s.ok()) return s;

  const fs::path root(o.data_folder);
  const std::string oldlib = (root / "oldlib" / "").string();
  std::vector<LibraryExtract> library;
  std::map<std::string, std::string> animal_of;
  std::error_code ec;
  for (const LibraryExtract& e : all) {
    ++sum.library;
    if (e.side.empty()) {
      ++sum.without_side;
    } else if (!fs::is_regular_file(oldlib + e.cell, ec)) {
      ++sum.without_fingerprint;
    } else {
      library.push_back(e);
      animal_of[e.cell] = e.animal;
    }
  }
  sum.groups = calibration_groups(library, o.calibration_animals);
  if (sum.groups.empty())
    return Status::InvalidArgument("no library animal of the aspect " + o.aspect +
                                   " has two extracts on one side (" + std::to_string(sum.library) +
                                   " library extracts, " + std::to_string(sum.without_side) +
                                   " without a side, " + std::to_string(sum.without_fingerprint) +
                                   " without a fingerprint): no match statistics can be estimated");

  const fs::path calibration = root / "calibration";
  fs::create_directories(calibration, ec);
  if (ec) return Status::IOError("cannot create " + calibration.string() + ": " + ec.message());
  CalibrationRun run;
  run.fingerprint_folder = oldlib;
  run.run_file = (root / kWorkingFolderName / "tarvik.ini").string();
  run.results_file = (calibration / "results.txt").string();
  run.groups = sum.groups;
  run.animal_of = std::move(animal_of);
  for (const CalibrationLists& g : sum.groups) {
    s = write_file_atomically((calibration / ("first_" + g.side + ".txt")).string(),
                              names_text(g.first));
    if (s.ok())
      s = write_file_atomically((calibration / ("second_" + g.side + ".txt")).string(),
                                names_text(g.second));
    if (!s.ok()) return s;
  }
  s = run_calibration(run, &sum.calibration);
  if (!s.ok()) return s;
  sum.results_file = run.results_file;
  {
    db::Transaction tx(db.get());
    s = tx.begun();
    if (s.ok()) s = write_stats_row(db.get(), o.aspect, sum.letter, sum.calibration);
    if (s.ok()) s = tx.commit();
  }
  if (s.ok()) *summary = std::move(sum);
  return s;
}

}  // namespace velmora::corpus

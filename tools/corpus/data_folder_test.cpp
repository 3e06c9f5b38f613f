#include "tools/corpus/data_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "compare/fingerprint.h"
#include "compare/run_file.h"
#include "testing/files.h"
#include "testing/in_temp_folder.h"
#include "tools/corpus/run_file.h"
#include "workstation/common/safe_path.h"
#include "workstation/config/configuration_file.h"
#include "workstation/db/database.h"
#include "workstation/matching/standardise.h"

namespace velmora::corpus {
namespace {

namespace fs = std::filesystem;
using testing::read_file;

DataFolderOptions small_options(int animals = 6) {
  DataFolderOptions o;
  o.corpus.animals = animals;
  o.corpus.sightings = 3;
  o.corpus.seed = 5;
  o.calibration_animals = animals;
  return o;
}

TEST(DataFolderPlan, NamesFitTheWorkstationsRules) {
  const DataFolderOptions o = small_options(30);
  const std::vector<DataExtract> plan = plan_data_folder(o);
  ASSERT_EQ(plan.size(), 90u);
  std::set<std::string> cells, pending_ids, library_ids;
  for (const DataExtract& e : plan) {
    EXPECT_TRUE(cells.insert(e.cell).second) << e.cell;
    EXPECT_TRUE(is_safe_file_name(e.cell)) << e.cell;
    EXPECT_EQ(e.cell.substr(e.cell.size() - 2), "FL");
    // temp's image names are the cell names without their last three
    // characters: they must be the photographs' own names.
    EXPECT_EQ(matching::image_name_of_cell(e.cell), e.image) << e.cell;
    for (const char* special : {"#", "_LC", "."})
      EXPECT_EQ(e.cell.find(special), std::string::npos) << e.cell << " holds " << special;
    EXPECT_EQ(e.animal, "GS" + zero_padded(e.animal_number, 4));
    EXPECT_EQ(e.pending, e.sighting == 1);
    EXPECT_TRUE(e.gender == "Male" || e.gender == "Female") << e.gender;
    if (e.pending) {
      EXPECT_TRUE(pending_ids.insert(e.id).second) << "provisional ID used twice: " << e.id;
      EXPECT_EQ(e.id[0], 'U');
      // A pending extract's name must not give its animal away.
      EXPECT_EQ(e.cell.find(e.animal), std::string::npos) << e.cell;
    } else {
      EXPECT_EQ(e.id, e.animal);
      library_ids.insert(e.id);
    }
  }
  EXPECT_EQ(pending_ids.size(), 30u);
  EXPECT_EQ(library_ids.size(), 30u);
  for (const std::string& id : pending_ids) EXPECT_EQ(library_ids.count(id), 0u) << id;
  // The provisional numbers are shuffled, not the animal numbers again.
  int same_number = 0;
  for (const DataExtract& e : plan)
    if (e.pending && e.id.substr(1) == e.animal.substr(2)) ++same_number;
  EXPECT_LT(same_number, 30);

  // The plan is a function of the options alone.
  const std::vector<DataExtract> again = plan_data_folder(o);
  for (size_t i = 0; i < plan.size(); ++i) EXPECT_EQ(again[i].cell, plan[i].cell);
  DataFolderOptions other = o;
  other.corpus.seed = 6;
  const std::vector<DataExtract> reseeded = plan_data_folder(other);
  bool differs = false;
  for (size_t i = 0; i < plan.size(); ++i) differs |= reseeded[i].id != plan[i].id;
  EXPECT_TRUE(differs);

  std::vector<std::string> first, second;
  calibration_lists(o, &first, &second);
  ASSERT_EQ(first.size(), 30u);
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(cells.count(first[i]), 1u) << first[i];
    EXPECT_EQ(cells.count(second[i]), 1u) << second[i];
  }
}

TEST(DataFolderPlan, RefusesOptionsTheWorkstationCannotUse) {
  EXPECT_EQ(check_data_options(small_options()), "");
  auto refused = [](auto change) {
    DataFolderOptions o = small_options();
    change(o);
    return !check_data_options(o).empty();
  };
  EXPECT_TRUE(refused([](DataFolderOptions& o) { o.corpus.sightings = 2; }));
  EXPECT_TRUE(refused([](DataFolderOptions& o) { o.corpus.animals = 1; }));
  EXPECT_TRUE(refused([](DataFolderOptions& o) { o.aspect = "Skin"; }));
  EXPECT_TRUE(refused([](DataFolderOptions& o) { o.aspect = "LegCode"; }));
  EXPECT_TRUE(refused([](DataFolderOptions& o) { o.aspect = "Fl/ank"; }));
  EXPECT_TRUE(refused([](DataFolderOptions& o) { o.aspect = ""; }));
  EXPECT_TRUE(refused([](DataFolderOptions& o) { o.letter = "h"; }));
  EXPECT_TRUE(refused([](DataFolderOptions& o) { o.letter = "ab"; }));
  EXPECT_TRUE(refused([](DataFolderOptions& o) { o.letter = "."; }));
  EXPECT_TRUE(refused([](DataFolderOptions& o) { o.corpus.aspect_letter = "lc"; }));
  EXPECT_TRUE(refused([](DataFolderOptions& o) { o.corpus.aspect_letter = "F_"; }));
  EXPECT_TRUE(refused([](DataFolderOptions& o) { o.calibration_animals = 1; }));
  EXPECT_TRUE(
      refused([](DataFolderOptions& o) { o.calibration_animals = kMaxCalibrationAnimals + 1; }));
}

using DataFolderFiles = testing::InTempFolder;

struct CellRow {
  std::string image, status, side, aspect, id;
  int64_t number = 0;
};

TEST_F(DataFolderFiles, DatabaseMatchesFingerprintsAndTruth) {
  const DataFolderOptions o = small_options(8);
  DataFolderSummary sum;
  const Status written = write_data_folder("d", o, &sum);
  ASSERT_TRUE(written.ok()) << written.message();
  EXPECT_EQ(sum.pending, 8);
  EXPECT_EQ(sum.library, 16);
  EXPECT_EQ(sum.database_path, "d/seals.sqlite");

  std::vector<CorpusSighting> truth;
  ASSERT_TRUE(read_manifest("d/corpus.txt", &truth).ok());
  std::map<std::string, CorpusSighting> truth_of;
  for (const CorpusSighting& c : truth) truth_of[c.cell] = c;
  ASSERT_EQ(truth_of.size(), 24u);

  std::set<std::string> files;
  for (const auto& entry : fs::directory_iterator("d/oldlib")) {
    EXPECT_TRUE(entry.is_regular_file()) << entry.path();
    files.insert(entry.path().filename().string());
  }

  std::unique_ptr<db::Database> db;
  ASSERT_TRUE(db::Database::open("d/seals.sqlite", db::Database::OpenMode::kReadOnly, &db).ok());
  db::RecordSet rs;
  ASSERT_TRUE(db->query("cells",
                        "SELECT cell, cells.image AS image, AutoMatch, side, aspect, cell_no, "
                        "encounter.ID AS ID FROM cells JOIN image ON image.image = cells.image "
                        "JOIN encounter ON encounter.encounter_no = image.encounter_no",
                        &rs)
                  .ok());
  std::map<std::string, CellRow> cells;
  for (rs.move_first(); !rs.eof(); rs.move_next())
    cells[rs.text("cell")] = {rs.text("image"),  rs.text("AutoMatch"), rs.text("side"),
                              rs.text("aspect"), rs.text("ID"),        rs.integer("cell_no")};

  // Every cell has its fingerprint file and every file its cell.
  std::set<std::string> cell_names;
  for (const auto& [cell, row] : cells) cell_names.insert(cell);
  EXPECT_EQ(cell_names, files);
  std::set<std::string> truth_names;
  for (const auto& [cell, c] : truth_of) truth_names.insert(cell);
  EXPECT_EQ(cell_names, truth_names);

  db::RecordSet aspects;
  ASSERT_TRUE(db->query("aspects", "SELECT * FROM aspects", &aspects).ok());
  ASSERT_EQ(aspects.row_count(), 1);
  EXPECT_EQ(aspects.text("aspect"), "Flank");
  EXPECT_EQ(aspects.text("cell_type"), "lateral");
  const std::string letter = aspects.text("aspect_letter");
  EXPECT_EQ(letter, "FL");

  int64_t expected_number = 0;
  for (const auto& [cell, row] : cells) {  // in cell order
    const CorpusSighting& t = truth_of.at(cell);
    EXPECT_EQ(row.status, t.pending ? "P" : "L") << cell;
    EXPECT_EQ(row.side, "L") << cell;
    EXPECT_EQ(row.aspect, "Flank") << cell;
    EXPECT_EQ(cell.substr(cell.size() - 2), letter) << cell;
    EXPECT_EQ(matching::image_name_of_cell(cell), row.image) << cell;
    EXPECT_EQ(row.number, ++expected_number) << cell;
    if (t.pending) {
      EXPECT_NE(row.id, t.animal) << cell << ": a pending extract's ID must not be the answer";
      EXPECT_EQ(row.id[0], 'U') << cell;
    } else {
      EXPECT_EQ(row.id, t.animal) << cell;
    }
    // The fingerprint is the sighting's image.
    tarvik::Fingerprint fp;
    ASSERT_EQ(tarvik::read_fingerprint("d/oldlib/" + cell, fp, tarvik::kLoadImage), tarvik::kReadOk)
        << cell;
    const int animal = std::stoi(t.animal.substr(2));
    const int sighting = std::stoi(row.image.substr(row.image.size() - 2));
    const std::vector<uint8_t> img = sighting_image(o.corpus, animal, sighting);
    for (int r = 1; r <= 64; ++r)
      for (int c = 1; c <= 64; ++c) ASSERT_EQ(fp.image(r, c), img[(r - 1) * 64 + (c - 1)]) << cell;
    tarvik::release_fingerprint(fp);
  }

  // What the batch comparison's own queries select through the view.
  db::RecordSet pending, library;
  ASSERT_TRUE(db->query("pending",
                        "SELECT cell FROM SYSTEM_ImageLinks WHERE substr(cell,-2)='FL' "
                        "AND side='L' AND AutoMatch='P'",
                        &pending)
                  .ok());
  ASSERT_TRUE(db->query("library",
                        "SELECT cell FROM SYSTEM_ImageLinks WHERE substr(cell,-2)='FL' "
                        "AND side='L' AND (AutoMatch='L' or AutoMatch='V')",
                        &library)
                  .ok());
  EXPECT_EQ(pending.row_count(), 8);
  EXPECT_EQ(library.row_count(), 16);

  db::RecordSet algy;
  ASSERT_TRUE(db->query("algy", "SELECT letter, type FROM algy", &algy).ok());
  ASSERT_EQ(algy.row_count(), 1);
  EXPECT_EQ(algy.text("type"), "tarvik");
  EXPECT_EQ(algy.text("letter"), "a");
}

TEST_F(DataFolderFiles, StatsComeFromTheLibraryCalibration) {
  const DataFolderOptions o = small_options(8);
  DataFolderSummary sum;
  ASSERT_TRUE(write_data_folder("d", o, &sum).ok());
  std::unique_ptr<db::Database> db;
  ASSERT_TRUE(db::Database::open("d/seals.sqlite", db::Database::OpenMode::kReadOnly, &db).ok());
  db::RecordSet stats;
  ASSERT_TRUE(
      db->query("stats", "SELECT * FROM stats WHERE aspect='Flank' AND algy_letter='a'", &stats)
          .ok());
  ASSERT_EQ(stats.row_count(), 1);
  const double rmu_match = stats.number("rmu_match"), sigma_match = stats.number("sigma_match");
  const double rmu_non = stats.number("rmu_nonmatch"), sigma_non = stats.number("sigma_nonmatch");
  EXPECT_GT(rmu_match, rmu_non);
  EXPECT_GT(sigma_match, 0.0);
  EXPECT_GT(sigma_non, 0.0);
  // Scores are correlations: means and spreads within their range.
  EXPECT_LE(rmu_match, 1.0);
  EXPECT_GE(rmu_non, -1.0);
  EXPECT_LT(sigma_match, 1.0);
  EXPECT_LT(sigma_non, 1.0);

  // The row is what the calibration results say, from library extracts only.
  std::vector<CorpusSighting> truth;
  ASSERT_TRUE(read_manifest("d/corpus.txt", &truth).ok());
  std::map<std::string, std::string> animal_of;
  for (const CorpusSighting& c : truth)
    if (!c.pending) animal_of[c.cell] = c.animal;
  std::ifstream results("d/calibration/results.txt", std::ios::binary);
  CalibrationSummary again;
  ASSERT_TRUE(score_statistics(results, animal_of, 16, &again).ok());
  EXPECT_EQ(again.unknown_lines, 0) << "the calibration compared a cell outside the library";
  EXPECT_EQ(again.match.count + again.missing_matches, 16);  // 8 pairs, both ways
  EXPECT_EQ(again.match.count, sum.calibration.match.count);
  // The database stores the doubles as they are.
  EXPECT_DOUBLE_EQ(rmu_match, again.match.mean);
  EXPECT_DOUBLE_EQ(sigma_match, again.match.sigma);
  EXPECT_DOUBLE_EQ(rmu_non, again.nonmatch.mean);
  EXPECT_DOUBLE_EQ(sigma_non, again.nonmatch.sigma);
  EXPECT_EQ(read_file("d/calibration/first.txt").find("U"), std::string::npos);
  EXPECT_EQ(read_file("d/calibration/second.txt").find("U"), std::string::npos);
}

TEST_F(DataFolderFiles, ConfigurationAndRunFilesReadBack) {
  DataFolderSummary sum;
  ASSERT_TRUE(write_data_folder("d", small_options(4), &sum).ok());
  const std::string ini = read_file("d/orlain.ini");
  const std::vector<config::ConfigItem> items = config::split_config_items(ini);
  ASSERT_GE(items.size(), 2u);
  EXPECT_EQ(items[0].text.rfind("[Velmora", 0), 0u) << items[0].text;
  for (size_t i = 1; i < items.size(); ++i) {
    if (items[i].text.empty()) continue;
    EXPECT_NE(items[i].text.find('='), std::string::npos) << items[i].text;
  }
  config::Settings settings;
  settings.MultiAspect = true;  // the file must switch it off
  config::Faults faults;
  config::read_configuration("d/", &settings, &faults);
  EXPECT_TRUE(faults.empty()) << config::fault_text(faults);
  EXPECT_FALSE(settings.MultiAspect);

  const RunConstants k = corpus_run_constants();
  for (const char* name : {"d/work/tarvik.ini", "d/work/tarvik_head.ini"}) {
    tarvik::RunFile run;
    ASSERT_TRUE(tarvik::read_run_file(name, run)) << name;
    EXPECT_EQ(run.threshold, k.threshold) << name;
    EXPECT_EQ(run.peaks_per_subcell, k.peaks) << name;
    EXPECT_EQ(run.margin, k.margin) << name;
    EXPECT_EQ(run.row_tol[1], k.row_tolerance[1]) << name;
  }
}

TEST_F(DataFolderFiles, SameSeedSameFolder) {
  DataFolderSummary a, b;
  ASSERT_TRUE(write_data_folder("a", small_options(4), &a).ok());
  ASSERT_TRUE(write_data_folder("b", small_options(4), &b).ok());
  for (const char* name : {"corpus.txt", "orlain.ini", "calibration/results.txt"})
    EXPECT_EQ(read_file(fs::path("a") / name), read_file(fs::path("b") / name)) << name;
  EXPECT_EQ(a.calibration.match.mean, b.calibration.match.mean);
  EXPECT_EQ(a.calibration.nonmatch.sigma, b.calibration.nonmatch.sigma);
}

TEST_F(DataFolderFiles, RefusesUsedFoldersLongPathsAndBadOptions) {
  fs::create_directory("used");
  std::ofstream("used/x") << "keep";
  DataFolderSummary sum;
  Status s = write_data_folder("used", small_options(), &sum);
  EXPECT_NE(s.message().find("not an empty folder"), std::string::npos) << s.message();
  EXPECT_EQ(read_file("used/x"), "keep");
  EXPECT_FALSE(fs::exists("used/seals.sqlite"));

  s = write_data_folder(std::string(62, 'd'), small_options(), &sum);
  EXPECT_NE(s.message().find("79 characters"), std::string::npos) << s.message();
  EXPECT_FALSE(fs::exists(std::string(62, 'd')));

  DataFolderOptions bad = small_options();
  bad.corpus.sightings = 2;
  s = write_data_folder("new", bad, &sum);
  EXPECT_EQ(s.code(), Status::Code::kInvalidArgument);
  EXPECT_FALSE(fs::exists("new"));
}

}  // namespace
}  // namespace velmora::corpus

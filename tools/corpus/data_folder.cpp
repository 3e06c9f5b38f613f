// Writing the data folder (layout and rows in the header). Order: the
// fingerprints, the run files, the calibration, then the database in one
// transaction, the configuration file and last the truth file. The rows go
// in through the database layer's prepared statements, each prepared once.
#include "tools/corpus/data_folder.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <system_error>

#include "tools/corpus/random.h"
#include "tools/corpus/run_file.h"
#include "workstation/common/atomic_file.h"
#include "workstation/common/safe_path.h"
#include "workstation/db/database.h"
#include "workstation/db/schema.h"

namespace velmora::corpus {
namespace {

namespace fs = std::filesystem;

// Stream purposes under the corpus seed, beside those of corpus_writer.cpp.
constexpr uint64_t kProvisionalStream = 4;
constexpr uint64_t kGenderStream = 5;
constexpr uint64_t kLegCodeStream = 6;

constexpr char kSite[] = "Synthetic Skerry";
constexpr char kLandscape[] = "Synthetic Coast";

bool alphanumeric(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(),
                                   [](unsigned char c) { return c < 0x80 && std::isalnum(c); });
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

Status write_text(const fs::path& path, const std::string& text) {
  return write_file_atomically(path.string(), text);
}

std::string names_text(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += n + "\n";
  return text;
}

Status fill_database(db::Database* db, const DataFolderOptions& o,
                     const std::vector<DataExtract>& plan, const CalibrationSummary& calibration) {
  std::unique_ptr<db::Statement> aspect, algy;
  const std::pair<std::unique_ptr<db::Statement>*, const char*> statements[] = {
      {&aspect,
       "INSERT INTO aspects (aspect, aspect_letter, cell_type, pattern, show_n_spots) "
       "VALUES (:aspect, :letter, 'lateral', 'none', 0)"},
      {&algy, "INSERT INTO algy (letter, type) VALUES (:letter, 'tarvik')"},
  };
  for (const auto& [stmt, sql] : statements)
    if (Status s = db->prepare("data folder", sql, stmt); !s.ok()) return s;

  Status s =
      run_statement(aspect.get(), {{"aspect", o.aspect}, {"letter", o.corpus.aspect_letter}});
  if (s.ok()) s = run_statement(algy.get(), {{"letter", o.letter}});
  if (s.ok()) s = write_stats_row(db, o.aspect, o.letter, calibration);
  if (s.ok()) s = insert_synthetic_site(db);
  int64_t image_number = 0;
  if (s.ok()) s = insert_extracts(db, plan, o.aspect, kSide, &image_number);
  if (s.ok()) s = number_cells(db);
  return s;
}

}  // namespace

std::string check_data_options(const DataFolderOptions& o) {
  if (std::string why = check_options(o.corpus); !why.empty()) return why;
  if (o.corpus.sightings < 3)
    return "the data folder needs at least 3 sightings per animal: one pending and two in the "
           "library, whose pair the match statistics are estimated from";
  if (!alphanumeric(o.corpus.aspect_letter))
    return "the aspect letter must be two letters or digits";
  if (lower(o.corpus.aspect_letter) == "lc")
    return "the aspect letter LC is taken: cell names with \"_LC\" are leg-code extracts";
  if (!alphanumeric(o.aspect)) return "the aspect name must be letters or digits";
  // The comparison's aspect walk stops at "Skin"; review lists give "legcode"
  // only the leg-code letter.
  if (o.aspect == "Skin" || lower(o.aspect) == "legcode")
    return "the aspect name " + o.aspect + " is reserved";
  if (o.letter.size() != 1 || !alphanumeric(o.letter))
    return "the algorithm letter must be one letter or digit";
  if (lower(o.letter) == "h") return "the algorithm letter h belongs to the leg-code comparison";
  if (o.calibration_animals < 2 || o.calibration_animals > kMaxCalibrationAnimals)
    return "the number of calibration animals must be from 2 to " +
           std::to_string(kMaxCalibrationAnimals);
  return {};
}

std::vector<DataExtract> plan_data_folder(const DataFolderOptions& o) {
  return plan_animals(o.corpus, 1);
}

std::vector<DataExtract> plan_animals(const CorpusOptions& corpus, int first_animal) {
  const int n = corpus.animals;
  // provisional[a - first_animal]: the provisional number of animal a's
  // pending sighting.
  std::vector<int> provisional(static_cast<size_t>(n));
  std::iota(provisional.begin(), provisional.end(), first_animal);
  Random shuffle(stream_seed(corpus.seed, kProvisionalStream));
  for (int i = n - 1; i > 0; --i)
    std::swap(provisional[static_cast<size_t>(i)],
              provisional[static_cast<size_t>(shuffle.below(i + 1))]);

  std::vector<DataExtract> plan;
  plan.reserve(static_cast<size_t>(n) * static_cast<size_t>(corpus.sightings));
  char dt[32];
  for (int a = first_animal; a < first_animal + n; ++a) {
    Random gender(stream_seed(corpus.seed, kGenderStream, static_cast<uint64_t>(a)));
    const std::string animal = "GS" + zero_padded(a, 4);
    const std::string sex = gender.chance(0.5) ? "Female" : "Male";
    for (int s = 1; s <= corpus.sightings; ++s) {
      DataExtract e;
      e.pending = s == 1;
      e.animal = animal;
      e.animal_number = a;
      e.sighting = s;
      e.gender = sex;
      const int p = provisional[static_cast<size_t>(a - first_animal)];
      e.id = e.pending ? "U" + zero_padded(p, 4) : animal;
      e.image = e.id + "_" + zero_padded(s, 2);
      e.cell = e.image + "_" + corpus.aspect_letter;
      // Library photographs from earlier seasons; the pending ones are new.
      if (e.pending) {
        std::snprintf(dt, sizeof dt, "2024-07-%02d %02d:%02d:00", 1 + p % 28, 8 + p % 10, p % 60);
      } else {
        std::snprintf(dt, sizeof dt, "%04d-%02d-%02d 12:%02d:00", 2023 - (s - 2) / 12,
                      1 + (s - 2) % 12, 1 + a % 28, a % 60);
      }
      e.dt = dt;
      plan.push_back(e);
    }
  }
  return plan;
}

void calibration_lists(const DataFolderOptions& o, std::vector<std::string>* first,
                       std::vector<std::string>* second) {
  first->clear();
  second->clear();
  std::vector<LibraryExtract> library;
  for (const DataExtract& e : plan_data_folder(o))
    if (!e.pending) library.push_back({e.cell, e.id, kSide});
  const std::vector<CalibrationLists> groups = calibration_groups(library, o.calibration_animals);
  if (groups.empty()) return;
  *first = groups.front().first;
  *second = groups.front().second;
}

Status run_statement(db::Statement* stmt,
                     const std::vector<std::pair<std::string, db::Value>>& params, int64_t* key) {
  for (const auto& [name, value] : params)
    if (Status s = stmt->set(name, value); !s.ok()) return s;
  if (key == nullptr) return stmt->execute();
  db::RecordSet rs;
  if (Status s = stmt->open(&rs); !s.ok()) return s;
  if (rs.eof() || rs.columns().empty())
    return Status::Corruption(stmt->name() + " returned no key");
  *key = rs.integer(rs.columns().front());
  return Status::Ok();
}

Status create_filled_database(const std::string& path,
                              const std::function<Status(db::Database*)>& fill) {
  Status s = db::create_database_file(path);
  if (!s.ok()) return s;
  {
    std::unique_ptr<db::Database> db;
    s = db::Database::open(path, db::Database::OpenMode::kExisting, &db);
    if (s.ok()) {
      db::Transaction tx(db.get());
      s = tx.begun();
      if (s.ok()) s = fill(db.get());
      if (s.ok()) s = tx.commit();
    }
  }
  if (!s.ok()) {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path + suffix, ec);
  }
  return s;
}

Status insert_synthetic_site(db::Database* db) {
  std::unique_ptr<db::Statement> landscape;
  Status s = db->prepare("data folder",
                         "INSERT INTO landscapes (site, landscape) VALUES (:site, :landscape)",
                         &landscape);
  if (s.ok())
    s = run_statement(landscape.get(), {{"site", std::string(kSite)}, {"landscape", kLandscape}});
  return s;
}

Status insert_extracts(db::Database* db, const std::vector<DataExtract>& plan,
                       const std::string& aspect, const std::string& side, int64_t* image_number,
                       const std::string& pending_status) {
  std::unique_ptr<db::Statement> sighting, encounter, image, cell;
  const std::pair<std::unique_ptr<db::Statement>*, const char*> statements[] = {
      {&sighting, "INSERT INTO sighting (site) VALUES (:site) RETURNING sighting_no"},
      {&encounter,
       "INSERT INTO encounter (ID, gender, sighting_no) VALUES (:id, :gender, :sighting) "
       "RETURNING encounter_no"},
      {&image,
       "INSERT INTO image (image, image_no, encounter_no, photo, dt) VALUES (:image, :number, "
       ":encounter, :image, :dt)"},
      {&cell,
       "INSERT INTO cells (cell, image, AutoMatch, side, aspect) VALUES (:cell, :image, "
       ":status, :side, :aspect)"},
  };
  for (const auto& [stmt, sql] : statements)
    if (Status s = db->prepare("data folder", sql, stmt); !s.ok()) return s;
  Status s = cell->set("side", side.empty() ? db::Value{} : db::Value{side});
  if (s.ok()) s = cell->set("aspect", aspect);
  if (s.ok()) s = sighting->set("site", std::string(kSite));
  for (const DataExtract& e : plan) {
    if (!s.ok()) break;
    int64_t sighting_no = 0, encounter_no = 0;
    s = run_statement(sighting.get(), {}, &sighting_no);
    if (s.ok())
      s = run_statement(encounter.get(),
                        {{"id", e.id}, {"gender", e.gender}, {"sighting", sighting_no}},
                        &encounter_no);
    if (s.ok())
      s = run_statement(image.get(), {{"image", e.image},
                                      {"number", ++*image_number},
                                      {"encounter", encounter_no},
                                      {"dt", e.dt}});
    if (s.ok())
      s = run_statement(cell.get(), {{"cell", e.cell},
                                     {"image", e.image},
                                     {"status", e.pending ? pending_status : std::string("L")}});
  }
  return s;
}

Status write_stats_row(db::Database* db, const std::string& aspect, const std::string& letter,
                       const CalibrationSummary& calibration) {
  std::unique_ptr<db::Statement> clear, stats;
  Status s = db->prepare(
      "stats row", "DELETE FROM stats WHERE aspect = :aspect AND algy_letter = :letter", &clear);
  if (s.ok())
    s = db->prepare("stats row",
                    "INSERT INTO stats (aspect, algy_letter, rmu_match, sigma_match, "
                    "rmu_nonmatch, sigma_nonmatch) VALUES (:aspect, :letter, :rmu_match, "
                    ":sigma_match, :rmu_nonmatch, :sigma_nonmatch)",
                    &stats);
  if (s.ok()) s = run_statement(clear.get(), {{"aspect", aspect}, {"letter", letter}});
  if (s.ok())
    s = run_statement(stats.get(), {{"aspect", aspect},
                                    {"letter", letter},
                                    {"rmu_match", calibration.match.mean},
                                    {"sigma_match", calibration.match.sigma},
                                    {"rmu_nonmatch", calibration.nonmatch.mean},
                                    {"sigma_nonmatch", calibration.nonmatch.sigma}});
  return s;
}

Status write_run_files(const std::string& work) {
  const std::string run_text = format_run_file(corpus_run_constants());
  for (const char* name : {"tarvik.ini", "tarvik_head.ini"})
    if (Status s = write_text(fs::path(work) / name, run_text); !s.ok()) return s;
  return Status::Ok();
}

Status number_cells(db::Database* db) {
  return db->execute("data folder: number the cells",
                     "UPDATE cells SET cell_no = n.no FROM (SELECT cell, row_number() OVER "
                     "(ORDER BY cell) AS no FROM cells) AS n WHERE cells.cell = n.cell");
}

Status insert_family_letters(db::Database* db) {
  std::unique_ptr<db::Statement> algy;
  Status s =
      db->prepare("family letters", "INSERT INTO algy (letter, type) VALUES (:l, :t)", &algy);
  for (const FamilyLetter& f : kFamilyLetters) {
    if (!s.ok()) break;
    s = run_statement(algy.get(), {{"l", std::string(f.letter)}, {"t", std::string(f.type)}});
  }
  return s;
}

Status insert_legcode_aspects(db::Database* db) {
  // Neither is lateral: their extracts lie on side M. Neither has marks to
  // process.
  return db->execute("leg-code aspects",
                     "INSERT INTO aspects (aspect, aspect_letter, cell_type, pattern) VALUES "
                     "('Skin', 'SK', 'Dorsal', 'none'), ('LegCode', 'LC', 'Dorsal', 'none')");
}

std::vector<LegCodeExtract> plan_legcode_extracts(const std::vector<DataExtract>& plan,
                                                  uint64_t seed) {
  std::vector<LegCodeExtract> out;
  std::vector<int> animals;
  for (const DataExtract& e : plan) {
    if (std::find(animals.begin(), animals.end(), e.animal_number) == animals.end()) {
      if (static_cast<int>(animals.size()) == kLegCodeAnimals) continue;
      animals.push_back(e.animal_number);
    }
    if (e.sighting > 2) continue;
    const auto a = static_cast<uint64_t>(e.animal_number);
    // The animal's tags, the same for every sighting.
    Random tags(stream_seed(seed, kLegCodeStream, a));
    std::vector<std::string> codes(tags.chance(0.5) ? 2 : 1);
    for (std::string& code : codes) {
      code = std::string(1, static_cast<char>('A' + tags.below(26))) +
             zero_padded(tags.below(1000), 3);
    }
    Random read(stream_seed(seed, kLegCodeStream, a, static_cast<uint64_t>(e.sighting)));
    LegCodeExtract x;
    x.image = e.image;
    x.cell = e.image + "_LC";
    x.animal = e.animal;
    x.pending = e.pending;
    for (size_t k = 0; k < codes.size(); ++k) {
      if (k > 0 && e.pending && read.chance(0.5)) continue;  // the other tag not seen
      std::string seen = codes[k];
      for (char& c : seen)
        if (read.chance(0.125)) c = '*';
      x.codes.push_back(seen);
    }
    out.push_back(x);
  }
  return out;
}

Status insert_legcode_extracts(db::Database* db, const std::vector<LegCodeExtract>& extracts) {
  std::unique_ptr<db::Statement> cell, code;
  Status s = db->prepare("leg-code extracts",
                         "INSERT INTO cells (cell, image, AutoMatch, side, aspect) VALUES (:cell, "
                         ":image, :status, 'M', 'LegCode')",
                         &cell);
  if (s.ok())
    s = db->prepare("leg codes", "INSERT INTO codes (cell, code) VALUES (:cell, :code)", &code);
  for (const LegCodeExtract& x : extracts) {
    if (!s.ok()) break;
    s = run_statement(
        cell.get(),
        {{"cell", x.cell}, {"image", x.image}, {"status", std::string(x.pending ? "P" : "L")}});
    for (const std::string& c : x.codes)
      if (s.ok()) s = run_statement(code.get(), {{"cell", x.cell}, {"code", c}});
  }
  return s;
}

std::string legcode_truth(const std::vector<LegCodeExtract>& extracts) {
  std::string text = "; leg-code extracts: cell, the animal (its library ID), role\n";
  for (const LegCodeExtract& x : extracts)
    text += x.cell + " " + x.animal + " " + (x.pending ? "pending" : "library") + "\n";
  return text;
}

Status write_data_folder(const std::string& dir, const DataFolderOptions& o,
                         DataFolderSummary* summary) {
  if (std::string why = check_data_options(o); !why.empty()) return Status::InvalidArgument(why);
  const std::vector<DataExtract> plan = plan_data_folder(o);
  size_t longest = 0;
  for (const DataExtract& e : plan) longest = std::max(longest, e.cell.size());
  std::string folder;
  if (Status s = check_new_corpus_folder(dir, longest, &folder); !s.ok()) return s;
  std::error_code ec;
  const fs::path root(dir);
  const fs::path work = root / kWorkingFolderName;
  const fs::path calibration = root / "calibration";
  for (const fs::path& p : {root / "oldlib", work, calibration}) {
    fs::create_directories(p, ec);
    if (ec) return Status::IOError("cannot create " + p.string() + ": " + ec.message());
  }

  DataFolderSummary sum;
  PeltPattern pelt;
  int pelt_of = 0;  // the plan goes animal by animal: one pelt at a time
  std::string truth = "; Truth of a synthetic data folder: seed " + std::to_string(o.corpus.seed) +
                      ", " + std::to_string(o.corpus.animals) + " animals, " +
                      std::to_string(o.corpus.sightings) +
                      " sightings each\n; cell, the animal really photographed (its library "
                      "ID), role\n";
  for (const DataExtract& e : plan) {
    if (e.animal_number != pelt_of) {
      pelt = animal_pelt(o.corpus, e.animal_number);
      pelt_of = e.animal_number;
    }
    if (Status s = save_sighting_fingerprint(
            folder, e.cell, sighting_image(o.corpus, pelt, e.animal_number, e.sighting));
        !s.ok())
      return s;
    (e.pending ? sum.pending : sum.library) += 1;
    truth += e.cell + " " + e.animal + " " + (e.pending ? "pending" : "library") + "\n";
  }
  if (Status s = write_run_files(work.string()); !s.ok()) return s;

  CalibrationRun cal;
  cal.fingerprint_folder = folder;
  cal.run_file = (work / "tarvik.ini").string();
  cal.results_file = (calibration / "results.txt").string();
  CalibrationLists lists;
  calibration_lists(o, &lists.first, &lists.second);
  lists.side = kSide;
  cal.groups = {lists};
  for (const DataExtract& e : plan)
    if (!e.pending) cal.animal_of[e.cell] = e.id;  // the IDs a lab knows
  if (Status s = write_text(calibration / "first.txt", names_text(lists.first)); !s.ok()) return s;
  if (Status s = write_text(calibration / "second.txt", names_text(lists.second)); !s.ok())
    return s;
  if (Status s = run_calibration(cal, &sum.calibration); !s.ok()) return s;
  sum.calibration_animals = static_cast<int>(lists.first.size());

  sum.database_path = (root / kDatabaseFileName).string();
  sum.working_folder = work.string();
  if (Status s = create_filled_database(
          sum.database_path,
          [&](db::Database* db) { return fill_database(db, o, plan, sum.calibration); });
      !s.ok())
    return s;
  // The first item of the file is a header; no comma in it, since a comma
  // would end the item and make the rest a key line without "=".
  const std::string ini = "[Velmora synthetic data folder seed " + std::to_string(o.corpus.seed) +
                          "]\nMultiAspect=False\nLimitSearch=False\n";
  if (Status s = write_text(root / "orlain.ini", ini); !s.ok()) return s;
  if (Status s = write_text(root / kTruthFileName, truth); !s.ok()) return s;
  *summary = sum;
  return Status::Ok();
}

}  // namespace velmora::corpus

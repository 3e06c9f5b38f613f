// The fixture builder and the standard fixture's data (see the header for the
// population). The extract table below is the single source of the standard
// fixture: encounters, photographs and sightings are derived from it.
#include "workstation/db/testing/fixture_database.h"

#include <cstdio>
#include <map>

#include "workstation/db/schema.h"

namespace velmora::db::testing {

namespace {

Value text_or_null(const std::string& s) {
  if (s.empty()) return std::monostate{};
  return s;
}

struct AnimalRow {
  const char* id;
  const char* gender;  // "" = NULL
  const char* site;
  const char* mum_id;
};

const AnimalRow kAnimals[] = {
    {"101", "Male", "North Beach", ""},    {"102", "Female", "South Beach", ""},
    {"12A", "Male", "Skerry", ""},         {"A12", "Female", "North Beach", ""},
    {"205", "unset", "South Beach", ""},   {"206", "", "Skerry", ""},
    {"301", "Male", "North Beach", "102"}, {"B7", "Female", "Skerry", ""},
    {"401", "Female", "North Beach", ""},
};

struct CellRow {
  const char* cell;
  const char* image;
  const char* id;
  const char* aspect;
  const char* side;  // "" = NULL
  const char* auto_match;
};

const CellRow kCells[] = {
    {"101_1FL", "101_1", "101", "Flank", "L", "L"},
    {"101_1DO", "101_1", "101", "Dorsal", "M", "L"},
    {"101_2FL", "101_2", "101", "Flank", "R", "R"},
    {"102_1FL", "102_1", "102", "Flank", "R", "L"},
    {"102_2FL", "102_2", "102", "Flank", "L", "V"},
    {"102_3FL", "102_3", "102", "Flank", "L", "S"},
    {"12A_1FL", "12A_1", "12A", "Flank", "L", "L"},
    {"12A_1_LC", "12A_1", "12A", "LegCode", "M", "L"},
    {"12A_2_LC", "12A_2", "12A", "LegCode", "M", "V"},
    {"A12_1FL", "A12_1", "A12", "Flank", "L", "L"},
    {"A12_2FL", "A12_2", "A12", "Flank", "L", "L"},
    {"A12_2DO", "A12_2", "A12", "Dorsal", "M", "L"},
    {"205_1FL", "205_1", "205", "Flank", "L", "L"},
    {"206_1FL", "206_1", "206", "Flank", "L", "L"},
    {"301_1FL", "301_1", "301", "Flank", "L", "P"},
    {"301_1DO", "301_1", "301", "Dorsal", "M", "P"},
    {"301_2DO", "301_2", "301", "Dorsal", "M", "T"},
    {"B7_1fl", "B7_1", "B7", "Flank", "R", "P"},
    {"B7_1#DO", "B7_1", "B7", "Dorsal", "M", "G"},
    {"401_1FL", "401_1", "401", "Flank", "", "E"},
    {"401_2DO", "401_2", "401", "Dorsal", "", "E"},
    {"401_3#FL", "401_3", "401", "Flank", "", "E"},
    {"401_4_LC", "401_4", "401", "LegCode", "", "E"},
};

const char* landscape_of(const std::string& site) {
  return site == "Skerry" ? "Islands" : "Coast";
}

}  // namespace

// ------------------------------------------------------------------ builder

Status FixtureBuilder::run(const std::string& what, const std::string& sql,
                           const std::vector<std::pair<std::string, Value>>& params) {
  std::unique_ptr<Statement> stmt;
  Status s = db_->prepare(what, sql, &stmt);
  for (const auto& [name, value] : params) {
    if (!s.ok()) break;
    s = stmt->set(name, value);
  }
  if (s.ok()) s = stmt->execute();
  return s;
}

Status FixtureBuilder::add_aspect(const AspectRow& a) {
  return run("fixture: add aspect " + a.aspect,
             "INSERT INTO aspects (aspect, aspect_letter, cell_type, pattern, show_n_spots, "
             "all_green, model_fname, from_r, to_r, step_r, from_theta_deg, to_theta_deg, "
             "step_theta_deg, sigmax_ratio, sigmay) VALUES (:a, :l, :t, :p, :n, :g, :m, :fr, "
             ":tr, :sr, :ft, :tt, :st, :sx, :sy)",
             {{"a", a.aspect},
              {"l", a.aspect_letter},
              {"t", a.cell_type},
              {"p", a.pattern},
              {"n", int64_t{a.show_n_spots}},
              {"g", int64_t{a.all_green ? 1 : 0}},
              {"m", a.model_fname},
              {"fr", int64_t{a.from_r}},
              {"tr", int64_t{a.to_r}},
              {"sr", int64_t{a.step_r}},
              {"ft", int64_t{a.from_theta_deg}},
              {"tt", int64_t{a.to_theta_deg}},
              {"st", int64_t{a.step_theta_deg}},
              {"sx", a.sigmax_ratio},
              {"sy", a.sigmay}});
}

Status FixtureBuilder::add_algorithm(const std::string& letter, const std::string& type) {
  return run("fixture: add algorithm " + letter, "INSERT INTO algy (letter, type) VALUES (:l, :t)",
             {{"l", letter}, {"t", type}});
}

Status FixtureBuilder::add_landscape(const std::string& site, const std::string& landscape) {
  return run("fixture: add landscape of " + site,
             "INSERT INTO landscapes (site, landscape) VALUES (:s, :l)",
             {{"s", site}, {"l", text_or_null(landscape)}});
}

Status FixtureBuilder::add_encounter(const std::string& id, const std::string& gender,
                                     const std::string& site, int64_t* encounter_no,
                                     const std::string& mum_id) {
  Status s = run("fixture: add sighting for " + id, "INSERT INTO sighting (site) VALUES (:s)",
                 {{"s", text_or_null(site)}});
  if (!s.ok()) return s;
  s = run("fixture: add encounter " + id,
          "INSERT INTO encounter (ID, gender, mum_id, sighting_no) VALUES (:i, :g, :m, "
          "(SELECT max(sighting_no) FROM sighting))",
          {{"i", id}, {"g", text_or_null(gender)}, {"m", text_or_null(mum_id)}});
  if (!s.ok()) return s;
  RecordSet rs;
  s = db_->query("fixture: encounter key", "SELECT max(encounter_no) AS n FROM encounter", &rs);
  if (s.ok() && encounter_no != nullptr) *encounter_no = rs.integer("n");
  return s;
}

Status FixtureBuilder::add_image(const std::string& image, int64_t encounter_no, int image_no,
                                 const std::string& photo, const std::string& dt,
                                 const std::string& comments) {
  return run("fixture: add image " + image,
             "INSERT INTO image (image, image_no, encounter_no, photo, dt, comments) VALUES (:i, "
             ":n, :e, :p, :d, :c)",
             {{"i", image},
              {"n", int64_t{image_no}},
              {"e", encounter_no},
              {"p", photo},
              {"d", text_or_null(dt)},
              {"c", text_or_null(comments)}});
}

Status FixtureBuilder::add_cell(const std::string& cell, const std::string& image,
                                const std::string& aspect, const std::string& side,
                                const std::string& auto_match) {
  return run(
      "fixture: add cell " + cell,
      "INSERT INTO cells (cell, image, aspect, side, AutoMatch) VALUES (:c, :i, :a, :s, :m)",
      {{"c", cell}, {"i", image}, {"a", aspect}, {"s", text_or_null(side)}, {"m", auto_match}});
}

Status FixtureBuilder::add_code(const std::string& cell, const std::string& code) {
  return run("fixture: add code of " + cell, "INSERT INTO codes (cell, code) VALUES (:c, :k)",
             {{"c", cell}, {"k", code}});
}

Status FixtureBuilder::add_stats(const StatsRow& r) {
  return run("fixture: add stats " + r.aspect + " " + r.algy_letter,
             "INSERT INTO stats (aspect, algy_letter, rmu_match, sigma_match, rmu_nonmatch, "
             "sigma_nonmatch) VALUES (:a, :l, :m, :s, :n, :t)",
             {{"a", r.aspect},
              {"l", r.algy_letter},
              {"m", r.rmu_match},
              {"s", r.sigma_match},
              {"n", r.rmu_nonmatch},
              {"t", r.sigma_nonmatch}});
}

Status FixtureBuilder::add_distribution(const std::string& filename) {
  return run("fixture: add distribution " + filename,
             "INSERT INTO distribution (filename) VALUES (:f)", {{"f", filename}});
}

Status FixtureBuilder::add_temp(const std::string& img_pname, const std::string& img_fname,
                                const std::string& pname, const std::string& fname, double score) {
  return run("fixture: add temp " + pname + " " + fname,
             "INSERT INTO temp (imgPname, imgFname, pname, fname, score) VALUES (:ip, :if, :p, "
             ":f, to_single(:s))",
             {{"ip", img_pname}, {"if", img_fname}, {"p", pname}, {"f", fname}, {"s", score}});
}

Status FixtureBuilder::add_bulk_extracts(const std::string& prefix, int animals,
                                         int extracts_per_animal, const std::string& aspect,
                                         const std::string& aspect_letter, const std::string& side,
                                         const std::string& auto_match) {
  Transaction tx(db_);
  if (!tx.begun().ok()) return tx.begun();
  std::unique_ptr<Statement> enc, img, cell;
  Status s = db_->prepare("fixture: bulk encounter",
                          "INSERT INTO encounter (ID) VALUES (:i) RETURNING encounter_no", &enc);
  if (s.ok()) {
    s = db_->prepare("fixture: bulk image",
                     "INSERT INTO image (image, image_no, encounter_no, photo) VALUES (:i, :n, "
                     ":e, :p)",
                     &img);
  }
  if (s.ok()) {
    s = db_->prepare("fixture: bulk cell",
                     "INSERT INTO cells (cell, image, aspect, side, AutoMatch) VALUES (:c, :i, "
                     ":a, :s, :m)",
                     &cell);
  }
  if (s.ok()) s = cell->set("a", aspect);
  if (s.ok()) s = cell->set("s", text_or_null(side));
  if (s.ok()) s = cell->set("m", auto_match);
  for (int n = 1; s.ok() && n <= animals; ++n) {
    std::string id = prefix + std::to_string(n);
    RecordSet key;
    s = enc->set("i", id);
    if (s.ok()) s = enc->open(&key);
    if (s.ok()) s = img->set("e", key.integer("encounter_no"));
    for (int k = 1; s.ok() && k <= extracts_per_animal; ++k) {
      std::string image = id + "_" + std::to_string(k);
      s = img->set("i", image);
      if (s.ok()) s = img->set("n", int64_t{k});
      if (s.ok()) s = img->set("p", "P" + image);
      if (s.ok()) s = img->execute();
      if (s.ok()) s = cell->set("c", image + aspect_letter);
      if (s.ok()) s = cell->set("i", image);
      if (s.ok()) s = cell->execute();
    }
  }
  if (!s.ok()) return s;
  return tx.commit();
}

// --------------------------------------------------------- standard fixture

const std::vector<AspectRow>& standard_aspects() {
  static const std::vector<AspectRow> kAspects = [] {
    std::vector<AspectRow> v(3);
    v[0].aspect = "Flank";
    v[0].aspect_letter = "FL";
    v[0].cell_type = "lateral";
    v[0].pattern = "white_stripe";
    v[0].show_n_spots = 20;
    v[0].model_fname = "flank.mdl";
    v[0].from_r = 4;
    v[0].to_r = 16;
    v[0].step_r = 4;
    v[0].from_theta_deg = 0;
    v[0].to_theta_deg = 150;
    v[0].step_theta_deg = 30;
    v[0].sigmax_ratio = 1.5;
    v[0].sigmay = 2.0;
    v[1].aspect = "Dorsal";
    v[1].aspect_letter = "DO";
    v[1].cell_type = "Dorsal";
    v[1].pattern = "black_dots";
    v[1].show_n_spots = 30;
    v[1].all_green = true;
    v[1].model_fname = "dorsal.mdl";
    v[1].from_r = 3;
    v[1].to_r = 9;
    v[1].step_r = 3;
    v[2].aspect = "LegCode";
    v[2].aspect_letter = "LC";
    v[2].cell_type = "Ventral";
    v[2].pattern = "none";
    v[2].model_fname = "legcode.mdl";
    return v;
  }();
  return kAspects;
}

const std::vector<std::pair<std::string, std::string>>& standard_algorithms() {
  static const std::vector<std::pair<std::string, std::string>> kAlgy = {{"a", "tarvik"},
                                                                         {"c", "compnew_corr"},
                                                                         {"s", "compnew_spot"},
                                                                         {"h", "legcode"},
                                                                         {"k", "CompSift"}};
  return kAlgy;
}

const std::vector<FixtureExtract>& standard_extracts() {
  static const std::vector<FixtureExtract> kExtracts = [] {
    std::map<std::string, const AnimalRow*> animals;
    for (const AnimalRow& a : kAnimals) animals[a.id] = &a;
    std::vector<FixtureExtract> v;
    for (const CellRow& c : kCells) {
      const AnimalRow* a = animals.at(c.id);
      v.push_back(FixtureExtract{c.cell, c.image, c.id, c.aspect, c.side, c.auto_match, a->gender,
                                 a->site, landscape_of(a->site)});
    }
    return v;
  }();
  return kExtracts;
}

Status fill_standard_fixture(Database* db) {
  Transaction tx(db);
  if (!tx.begun().ok()) return tx.begun();
  FixtureBuilder b(db);
  Status s;
  for (const AspectRow& a : standard_aspects()) {
    if (s.ok()) s = b.add_aspect(a);
  }
  for (const auto& [letter, type] : standard_algorithms()) {
    if (s.ok()) s = b.add_algorithm(letter, type);
  }
  for (const char* site : {"North Beach", "South Beach", "Skerry"}) {
    if (s.ok()) s = b.add_landscape(site, landscape_of(site));
  }
  std::map<std::string, int64_t> encounter_of;
  for (const AnimalRow& a : kAnimals) {
    if (!s.ok()) break;
    s = b.add_encounter(a.id, a.gender, a.site, &encounter_of[a.id], a.mum_id);
  }
  std::map<std::string, int> images;
  int day = 0;
  for (const CellRow& c : kCells) {
    if (!s.ok()) break;
    if (images.count(c.image) == 0) {
      int number = static_cast<int>(images.size()) + 1;
      images[c.image] = number;
      ++day;
      char dt[32];
      std::snprintf(dt, sizeof dt, "2023-06-%02d 10:%02d:00", 1 + day % 28, day % 60);
      s = b.add_image(c.image, encounter_of.at(c.id), number, std::string("P") + c.image, dt,
                      day % 3 == 0 ? "partly hidden" : "");
      if (!s.ok()) break;
    }
    s = b.add_cell(c.cell, c.image, c.aspect, c.side, c.auto_match);
  }
  if (s.ok()) s = b.add_code("12A_1_LC", "ABC");
  if (s.ok()) s = b.add_code("12A_1_LC", "XYZ");
  if (s.ok()) s = b.add_code("12A_2_LC", "XABC");
  if (s.ok()) s = b.add_stats({"Flank", "a", 0.6, 0.1, 0.2, 0.1});
  if (s.ok()) s = b.add_stats({"Flank", "c", 0.7, 0.08, 0.3, 0.12});
  if (s.ok()) s = b.add_stats({"Dorsal", "a", 0.55, 0.12, 0.25, 0.1});
  if (s.ok()) s = b.add_stats({"LegCode", "h", 3.0, 0.5, 1.0, 0.6});
  if (s.ok()) s = b.add_distribution("101_1FL.a");
  if (!s.ok()) return s;
  return tx.commit();
}

Status make_empty_database(const std::string& path, std::unique_ptr<Database>* db) {
  Status s = Database::open(path, Database::OpenMode::kCreate, db);
  if (s.ok()) s = create_schema(db->get());
  if (!s.ok()) db->reset();
  return s;
}

Status make_standard_fixture(const std::string& path, std::unique_ptr<Database>* db) {
  Status s = make_empty_database(path, db);
  if (s.ok()) s = fill_standard_fixture(db->get());
  if (!s.ok()) db->reset();
  return s;
}

}  // namespace velmora::db::testing

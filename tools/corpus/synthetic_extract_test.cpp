#include "tools/corpus/synthetic_extract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "testing/files.h"
#include "testing/temp_dir.h"
#include "tools/corpus/corpus_writer.h"
#include "workstation/config/aspects.h"
#include "workstation/config/configuration_file.h"
#include "workstation/db/database.h"
#include "workstation/extract/extract_bundle.h"

namespace velmora::corpus {
namespace {

namespace fs = std::filesystem;
using extract::SharedExtract;
using testing::read_file;

// A whole file in one read: the bundles are a megabyte each.
std::string file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return "(missing " + path + ")";
  std::string bytes(static_cast<size_t>(in.tellg()), '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

ExtractCorpusOptions options(int animals, int sightings, uint64_t seed) {
  ExtractCorpusOptions o;
  o.animals = animals;
  o.sightings = sightings;
  o.seed = seed;
  return o;
}

// What is wrong with an extract's colour and blanks, or "": a usable pixel's
// grey is the mean of its planes; a blank one carries the usable pixels'
// mean grey, and that mean rounded in every plane.
std::string colour_fault(const SharedExtract& e) {
  double sum = 0;
  int usable = 0;
  for (size_t i = 0; i < extract::kExtractPixels; ++i) {
    if (e.blank[i] != 0 && e.blank[i] != -1) return "flag " + std::to_string(e.blank[i]);
    if (e.blank[i] == -1) continue;
    const int total =
        e.rgb[i] + e.rgb[i + extract::kExtractPixels] + e.rgb[i + 2 * extract::kExtractPixels];
    if (e.intensity[i] != total / 3.0)
      return "grey is not the planes' mean at " + std::to_string(i);
    sum += e.intensity[i];
    ++usable;
  }
  const double mean = sum / usable;
  bool any_blank = false;
  for (size_t i = 0; i < extract::kExtractPixels; ++i) {
    if (e.blank[i] != -1) continue;
    any_blank = true;
    if (std::abs(e.intensity[i] - mean) > 1e-9)
      return "blank grey off the mean at " + std::to_string(i);
    for (int p = 0; p < 3; ++p)
      if (e.rgb[i + static_cast<size_t>(p) * extract::kExtractPixels] != std::nearbyint(mean))
        return "blank plane " + std::to_string(p) + " off the mean at " + std::to_string(i);
  }
  if (any_blank != e.blank_edited) return "blank_edited does not say whether a pixel is blank";
  return "";
}

// Pearson correlation of the 4 x 4 block means of two extracts, blocks with a
// blank pixel left out and slow brightness changes taken off (each block less
// the mean of the 9 x 9 blocks round it), at the best shift of up to 3
// blocks: a plain stand-in for detrending and the fingerprint comparison.
std::vector<double> blocks(const SharedExtract& e) {
  std::vector<double> b(64 * 64, NAN);
  for (int br = 0; br < 64; ++br)
    for (int bc = 0; bc < 64; ++bc) {
      double s = 0;
      bool blank = false;
      for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 4; ++c) {
          s += e.cell_intensity(4 * br + r, 4 * bc + c);
          blank |= e.is_blank(4 * br + r, 4 * bc + c);
        }
      if (!blank) b[static_cast<size_t>(br * 64 + bc)] = s / 16;
    }
  std::vector<double> detail(b.size(), NAN);
  for (int br = 0; br < 64; ++br)
    for (int bc = 0; bc < 64; ++bc) {
      if (std::isnan(b[static_cast<size_t>(br * 64 + bc)])) continue;
      double s = 0;
      int n = 0;
      for (int r = std::max(0, br - 4); r <= std::min(63, br + 4); ++r)
        for (int c = std::max(0, bc - 4); c <= std::min(63, bc + 4); ++c)
          if (!std::isnan(b[static_cast<size_t>(r * 64 + c)])) {
            s += b[static_cast<size_t>(r * 64 + c)];
            ++n;
          }
      detail[static_cast<size_t>(br * 64 + bc)] = b[static_cast<size_t>(br * 64 + bc)] - s / n;
    }
  return detail;
}

double best_correlation(const std::vector<double>& a, const std::vector<double>& b) {
  double best = -1;
  for (int dr = -3; dr <= 3; ++dr)
    for (int dc = -3; dc <= 3; ++dc) {
      double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
      for (int r = std::max(0, -dr); r < std::min(64, 64 - dr); ++r)
        for (int c = std::max(0, -dc); c < std::min(64, 64 - dc); ++c) {
          const double x = a[static_cast<size_t>(r * 64 + c)];
          const double y = b[static_cast<size_t>((r + dr) * 64 + c + dc)];
          if (std::isnan(x) || std::isnan(y)) continue;
          n += 1;
          sx += x;
          sy += y;
          sxx += x * x;
          syy += y * y;
          sxy += x * y;
        }
      const double v = (sxx - sx * sx / n) * (syy - sy * sy / n);
      if (n > 500 && v > 0) best = std::max(best, (sxy - sx * sy / n) / std::sqrt(v));
    }
  return best;
}

TEST(SyntheticExtract, SameAnimalSightingsAreFarMoreAlikeThanOtherAnimals) {
  const ExtractCorpusOptions o = options(6, 3, 8);
  for (int k = 0; k < static_cast<int>(extract_aspects().size()); ++k) {
    SCOPED_TRACE(extract_aspects()[static_cast<size_t>(k)].aspect);
    // b[animal][sighting]; misdrawn[animal][sighting]: the same views over the
    // next animal's pelt, as a writer that lost track of the layouts would
    // draw them.
    std::vector<ExtractPelt> pelts;
    for (int a = 1; a <= 6; ++a) pelts.push_back(extract_pelt(o, k, a));
    std::vector<std::vector<std::vector<double>>> b(6), misdrawn(6);
    for (int a = 1; a <= 6; ++a)
      for (int s = 1; s <= 3; ++s) {
        b[a - 1].push_back(blocks(sighting_extract(o, k, pelts[a - 1], a, s)));
        misdrawn[a - 1].push_back(blocks(sighting_extract(o, k, pelts[a % 6], a, s)));
      }
    double same = 0, different = 0, faked = 0;
    int n_same = 0, n_different = 0, rank1 = 0;
    for (int a = 0; a < 6; ++a) {
      // Sighting 1 is the pending one: is its best library match its own animal?
      double own = -2, others = -2;
      for (int x = 0; x < 6; ++x)
        for (int s = 1; s < 3; ++s) {
          const double r = best_correlation(b[a][0], b[x][s]);
          if (x == a) {
            own = std::max(own, r);
            same += r;
            faked += best_correlation(b[a][0], misdrawn[a][s]);
            ++n_same;
          } else {
            others = std::max(others, r);
            different += r;
            ++n_different;
          }
        }
      rank1 += own > others ? 1 : 0;
    }
    same /= n_same;
    different /= n_different;
    faked /= n_same;
    // Typical values: 0.35..0.6 for the same animal, 0.05..0.07 for others.
    EXPECT_GT(same, 0.3);
    EXPECT_LT(different, 0.12);
    EXPECT_EQ(rank1, 6);
    EXPECT_LT(faked, 0.12);
  }
}

// A corpus written once for the tests that read it, in a folder of its own
// that is the current folder meanwhile (fingerprint paths must stay short).
class ExtractCorpusFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    temp_ = std::make_unique<testing::TempDir>("extract_corpus");
    here_ = std::make_unique<testing::CurrentFolder>(temp_->root());
    written_ = write_extract_corpus("a", options(2, 2, 5), &summary_);
  }
  static void TearDownTestSuite() {
    here_.reset();
    temp_.reset();
  }
  void SetUp() override { ASSERT_TRUE(written_.ok()) << written_.message(); }

  // cell -> the truth line's animal and role.
  static std::map<std::string, CorpusSighting> truth() {
    std::vector<CorpusSighting> lines;
    EXPECT_TRUE(read_manifest("a/corpus.txt", &lines).ok());
    std::map<std::string, CorpusSighting> by_cell;
    for (const CorpusSighting& t : lines) by_cell[t.cell] = t;
    return by_cell;
  }
  static std::set<std::string> bundle_folders(const std::string& root) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(root + "/bundles"))
      names.insert(entry.path().filename().string());
    return names;
  }

  static inline std::unique_ptr<testing::TempDir> temp_;
  static inline std::unique_ptr<testing::CurrentFolder> here_;
  static inline Status written_;
  static inline ExtractCorpusSummary summary_;
};

TEST_F(ExtractCorpusFiles, EveryBundleReadsBackWithItsBlanksFilledFromTheUsableMean) {
  const std::map<std::string, CorpusSighting> by_cell = truth();
  ASSERT_EQ(by_cell.size(), 2u * 2u * extract_aspects().size());
  std::set<std::string> truth_cells;
  for (const auto& [cell, t] : by_cell) truth_cells.insert(cell);
  EXPECT_EQ(bundle_folders("a"), truth_cells);
  int blanked = 0;
  SharedExtract sample;  // a blanked one, for the faults below
  for (const std::string& cell : truth_cells) {
    SharedExtract e;
    std::string named;
    const Status s = extract::read_extract_bundle("a/bundles/" + cell, &e, &named);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(named, cell);
    EXPECT_EQ(colour_fault(e), "") << cell;
    // Brownish: red above blue everywhere on average.
    double red = 0, blue = 0;
    for (size_t i = 0; i < extract::kExtractPixels; ++i) {
      red += e.rgb[i];
      blue += e.rgb[i + 2 * extract::kExtractPixels];
    }
    EXPECT_GT(red, blue) << cell;
    const auto blank = std::count(e.blank.begin(), e.blank.end(), extract::kBlankPixel);
    EXPECT_LT(blank, static_cast<long>(extract::kExtractPixels / 3)) << cell;
    if (e.blank_edited) {
      ++blanked;
      sample = e;
    }
  }
  // Most extracts carry a blanked region, some none.
  EXPECT_GT(blanked, static_cast<int>(truth_cells.size()) / 2);
  EXPECT_LT(blanked, static_cast<int>(truth_cells.size()));
  ASSERT_TRUE(sample.blank_edited);

  // The check above sees each way of getting the blanks or the grey wrong.
  const auto first_blank = static_cast<size_t>(
      std::find(sample.blank.begin(), sample.blank.end(), extract::kBlankPixel) -
      sample.blank.begin());
  const auto first_usable = static_cast<size_t>(
      std::find(sample.blank.begin(), sample.blank.end(), extract::kUsablePixel) -
      sample.blank.begin());
  const std::vector<void (*)(SharedExtract&, size_t, size_t)> faults = {
      [](SharedExtract& e, size_t b, size_t) { e.rgb[b + 2 * extract::kExtractPixels] += 1; },
      [](SharedExtract& e, size_t b, size_t) { e.intensity[b] += 1e-6; },
      [](SharedExtract& e, size_t, size_t u) { e.intensity[u] += 0.5; },
      [](SharedExtract& e, size_t, size_t) { e.blank_edited = false; },
      [](SharedExtract& e, size_t b, size_t) { e.blank[b] = extract::kUsablePixel; },
  };
  for (size_t f = 0; f < faults.size(); ++f) {
    SharedExtract broken = sample;
    faults[f](broken, first_blank, first_usable);
    EXPECT_NE(colour_fault(broken), "") << "fault " << f;
  }
}

// The (radius, angle) pairs a kernel bank of these settings visits, as the
// correlation counts them; -1 when a loop would not end.
int kernel_pairs(const config::AspectSettings& a) {
  if (a.step_r == 0 || a.step_theta_deg == 0) return -1;
  int pairs = 0;
  for (int r = a.from_r; a.step_r > 0 ? r <= a.to_r : r >= a.to_r; r += a.step_r)
    for (int t = a.from_theta_deg; a.step_theta_deg > 0 ? t <= a.to_theta_deg : t >= a.to_theta_deg;
         t += a.step_theta_deg)
      ++pairs;
  return pairs;
}

bool bank_builds(const config::AspectSettings& a) {
  const int pairs = kernel_pairs(a);
  const bool one_angle = a.from_theta_deg == a.to_theta_deg;
  const bool dots_or_rings =
      a.pattern.find("dots") != std::string::npos || a.pattern.find("rings") != std::string::npos;
  return pairs >= 1 && pairs <= 48 && (!dots_or_rings || one_angle);
}

TEST_F(ExtractCorpusFiles, DatabaseHoldsEveryAspectExtractAndAlgorithm) {
  std::unique_ptr<db::Database> db;
  ASSERT_TRUE(
      db::Database::open("a/data/seals.sqlite", db::Database::OpenMode::kReadOnly, &db).ok());
  db::RecordSet rows;
  ASSERT_TRUE(db->query("aspects", "SELECT aspect FROM aspects ORDER BY aspect_no", &rows).ok());
  // The pattern aspects, then "Skin" and "LegCode".
  ASSERT_EQ(rows.row_count(), static_cast<int>(extract_aspects().size()) + 2);
  // What the corpus must offer the processing: pattern -> cell type.
  std::multimap<std::string, std::string> offered;
  for (const ExtractAspect& a : extract_aspects()) {
    SCOPED_TRACE(a.aspect);
    EXPECT_EQ(rows.text("aspect"), a.aspect);
    rows.move_next();
    config::AspectSettings s;
    ASSERT_TRUE(config::load_aspect_settings(db.get(), a.aspect, &s).ok());
    offered.insert({s.pattern, s.cell_type});
    EXPECT_TRUE(bank_builds(s)) << kernel_pairs(s) << " pairs";
    EXPECT_GE(s.show_n_spots, 20);
    EXPECT_LE(s.show_n_spots, 40);
    if (s.pattern.find("stripe") != std::string::npos) {
      EXPECT_GE(kernel_pairs(s), 24);  // 8..12 angles x 3..4 radii
      EXPECT_GT(s.sigmay, 0);
      EXPECT_GT(s.sigmax_ratio, 0);
    }
    if (s.pattern.find("rings") != std::string::npos) {
      EXPECT_NEAR(s.sigmax_ratio, 0.5, 0.1);
    }
    db::RecordSet cells;
    ASSERT_TRUE(db->query("cells",
                          "SELECT cell, AutoMatch, side FROM SYSTEM_ImageLinks WHERE aspect = '" +
                              std::string(a.aspect) + "'",
                          &cells)
                    .ok());
    EXPECT_EQ(cells.row_count(), 2 * 2);
    for (; !cells.eof(); cells.move_next())
      EXPECT_EQ(cells.text("side"), s.cell_type == "lateral" ? "L" : "M") << cells.text("cell");
  }
  for (const auto& [pattern, cell_type] :
       std::vector<std::pair<std::string, std::string>>{{"black_dots", "lateral"},
                                                        {"white_dots", "lateral"},
                                                        {"black_rings", "lateral"},
                                                        {"black_stripe", "lateral"}}) {
    const auto [lo, hi] = offered.equal_range(pattern);
    EXPECT_TRUE(std::any_of(lo, hi, [&](const auto& p) { return p.second == cell_type; }))
        << pattern;
  }
  EXPECT_EQ(std::count_if(offered.begin(), offered.end(),
                          [](const auto& p) { return p.second != "lateral"; }),
            1);
  EXPECT_EQ(rows.text("aspect"), "Skin");
  rows.move_next();
  EXPECT_EQ(rows.text("aspect"), "LegCode");

  // Every extract: its status from the truth, its animal's ID in the library;
  // the leg-code extracts (their roles apart) numbered among them.
  std::map<std::string, CorpusSighting> by_cell = truth();
  const size_t pattern_extracts = by_cell.size();
  std::vector<CorpusSighting> legcode_roles;
  ASSERT_TRUE(read_manifest("a/legcodes.txt", &legcode_roles).ok());
  for (const CorpusSighting& t : legcode_roles) by_cell[t.cell] = t;
  ASSERT_EQ(by_cell.size(), pattern_extracts + legcode_roles.size());
  ASSERT_TRUE(db->query("extracts",
                        "SELECT cell, AutoMatch, ID, cell_no FROM SYSTEM_ImageLinks ORDER BY cell",
                        &rows)
                  .ok());
  ASSERT_EQ(rows.row_count(), static_cast<int>(by_cell.size()));
  for (int64_t number = 1; !rows.eof(); rows.move_next(), ++number) {
    const CorpusSighting& t = by_cell.at(rows.text("cell"));
    EXPECT_EQ(rows.text("AutoMatch"), t.pending ? "P" : "L") << t.cell;
    EXPECT_EQ(rows.text("ID") == t.animal, !t.pending) << t.cell;
    EXPECT_EQ(rows.integer("cell_no"), number) << t.cell;
  }
  // Every family has its letter; tarvik and compnew_spot those the corpus
  // names.
  ASSERT_TRUE(db->query("algy", "SELECT letter, type FROM algy ORDER BY type", &rows).ok());
  std::map<std::string, std::string> letter_of;
  for (; !rows.eof(); rows.move_next()) letter_of[rows.text("type")] = rows.text("letter");
  EXPECT_EQ(letter_of, (std::map<std::string, std::string>{{"CompSift", "k"},
                                                           {"compnew_corr", "c"},
                                                           {"compnew_spot", "s"},
                                                           {"legcode", "h"},
                                                           {"tarvik", "a"}}));
  EXPECT_EQ(letter_of["compnew_spot"], kExtractSpotLetter);
  EXPECT_EQ(letter_of["tarvik"], kExtractTarvikLetter);

  // The bank check above refuses what the processing could not build.
  config::AspectSettings bad;
  ASSERT_TRUE(config::load_aspect_settings(db.get(), "Reticulated", &bad).ok());
  bad.step_theta_deg = 0;
  EXPECT_FALSE(bank_builds(bad));
  bad.step_theta_deg = 3;  // 56 angles
  EXPECT_FALSE(bank_builds(bad));
  ASSERT_TRUE(config::load_aspect_settings(db.get(), "Spotted", &bad).ok());
  bad.to_theta_deg = 90;
  bad.step_theta_deg = 45;  // dots with three angles
  EXPECT_FALSE(bank_builds(bad));
}

TEST_F(ExtractCorpusFiles, DataFolderIsReadyForTheProcessing) {
  for (const char* sub : {"a/data/oldlib", "a/data/newlib", "a/data/raw"}) {
    EXPECT_TRUE(fs::is_directory(sub)) << sub;
    EXPECT_TRUE(fs::is_empty(sub)) << sub;
  }
  config::Settings settings;
  settings.MultiAspect = true;  // the file must switch it off
  config::Faults faults;
  config::read_configuration("a/data/", &settings, &faults);
  EXPECT_TRUE(faults.empty()) << config::fault_text(faults);
  EXPECT_EQ(settings.library_name, "newlib/");
  EXPECT_TRUE(settings.do_blankdist);
  EXPECT_EQ(settings.avg_depth_default, 10);
  EXPECT_EQ(settings.critical_distance, 9.0f);
  EXPECT_EQ(settings.dilate_proportion, 0.25f);
  EXPECT_FALSE(settings.MultiAspect);

  ASSERT_EQ(summary_.aspects.size(), extract_aspects().size());
  const ExtractAspectSummary& s = summary_.aspects.front();
  EXPECT_EQ(s.extracts, 4);
  EXPECT_EQ(s.pending, 2);
  EXPECT_EQ(s.library, 2);
  EXPECT_GT(s.marked_share, 0.03);
  EXPECT_LT(s.marked_share, 0.5);
}

TEST_F(ExtractCorpusFiles, SameSeedSameBytesOtherSeedOtherPelts) {
  ExtractCorpusSummary sum;
  ASSERT_TRUE(write_extract_corpus("b", options(2, 2, 5), &sum).ok());
  const std::set<std::string> cells = bundle_folders("a");
  EXPECT_EQ(bundle_folders("b"), cells);
  for (const std::string& cell : cells)
    for (const char* file : {"intensity.f64", "rgb.i16", "blank.i16", "extract.ini"}) {
      const std::string name = "/bundles/" + cell + "/" + file;
      EXPECT_TRUE(file_bytes("a" + name) == file_bytes("b" + name)) << name;
    }
  for (const char* file : {"/corpus.txt", "/data/orlain.ini"})
    EXPECT_EQ(read_file(std::string("a") + file), read_file(std::string("b") + file)) << file;

  // Another seed: other pelts and other views of every aspect's animals.
  const ExtractCorpusOptions one = options(2, 2, 5), other = options(2, 2, 6);
  for (int k = 0; k < static_cast<int>(extract_aspects().size()); ++k) {
    const SharedExtract a = sighting_extract(one, k, extract_pelt(one, k, 1), 1, 2);
    const SharedExtract b = sighting_extract(other, k, extract_pelt(other, k, 1), 1, 2);
    const SharedExtract same_pelt = sighting_extract(other, k, extract_pelt(one, k, 1), 1, 2);
    EXPECT_NE(a.intensity, b.intensity) << k;
    EXPECT_NE(a.intensity, same_pelt.intensity) << k;  // the view is seeded too
  }
}

TEST(ExtractCorpusRefusals, OptionsAndFoldersThatCannotMakeACorpus) {
  testing::TempDir temp("extract_options");
  const testing::CurrentFolder here(temp.root());
  const int most = 9999 / static_cast<int>(extract_aspects().size());
  struct Case {
    ExtractCorpusOptions options;
    std::string folder, message;
  };
  const std::vector<Case> cases = {
      {options(1, 3, 1), "n1", "the number of animals per aspect must be from 2 to 1999"},
      {options(most + 1, 3, 1), "n2", "the number of animals per aspect must be from 2 to 1999"},
      {options(2, 1, 1), "n3", "the number of sightings per animal must be from 2 to 99"},
      {options(2, 2, 1), std::string(60, 'd'), "would be longer than the writer's 79 characters"},
      {options(2, 2, 1), "used", "exists and is not an empty folder"},
  };
  ASSERT_EQ(most, 1999);
  fs::create_directory("used");
  std::ofstream("used/x") << "keep";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    ExtractCorpusSummary sum;
    const Status s = write_extract_corpus(c.folder, c.options, &sum);
    EXPECT_NE(s.message().find(c.message), std::string::npos) << s.message();
    if (c.folder != "used") {
      EXPECT_FALSE(fs::exists(c.folder));
    }
  }
  EXPECT_EQ(read_file("used/x"), "keep");
  EXPECT_EQ(std::distance(fs::directory_iterator("used"), fs::directory_iterator()), 1);
}

// The leg-code extracts: the first animals of the first aspect, on the
// photographs of their first two sightings, with their roles in a file of
// their own and codes whose readable characters agree between sightings.
TEST_F(ExtractCorpusFiles, LegCodeExtractsOfAFewAnimals) {
  std::unique_ptr<db::Database> db;
  ASSERT_TRUE(
      db::Database::open("a/data/seals.sqlite", db::Database::OpenMode::kReadOnly, &db).ok());
  std::vector<CorpusSighting> roles;
  ASSERT_TRUE(read_manifest("a/legcodes.txt", &roles).ok());
  ASSERT_EQ(roles.size(), 4u);  // both animals of the first aspect, two sightings each
  const std::map<std::string, CorpusSighting> pattern = truth();
  std::map<std::string, std::vector<std::string>> codes_of_animal;
  for (const CorpusSighting& r : roles) {
    SCOPED_TRACE(r.cell);
    ASSERT_EQ(r.cell.substr(r.cell.size() - 3), "_LC");
    // The same photograph carries a pattern extract of the same animal.
    const std::string image = r.cell.substr(0, r.cell.size() - 3);
    const auto same_photo = std::find_if(pattern.begin(), pattern.end(), [&](const auto& p) {
      return p.first.rfind(image + "_", 0) == 0;
    });
    ASSERT_NE(same_photo, pattern.end());
    EXPECT_EQ(same_photo->second.animal, r.animal);
    EXPECT_EQ(same_photo->second.pending, r.pending);
    db::RecordSet row;
    ASSERT_TRUE(db->query("row",
                          "SELECT AutoMatch, side, aspect, (SELECT group_concat(code, ' ') FROM "
                          "codes WHERE codes.cell = c.cell) AS codes FROM SYSTEM_ImageLinks c "
                          "WHERE cell = '" +
                              r.cell + "'",
                          &row)
                    .ok());
    ASSERT_EQ(row.row_count(), 1);
    EXPECT_EQ(row.text("AutoMatch"), r.pending ? "P" : "L");
    EXPECT_EQ(row.text("side"), "M");
    EXPECT_EQ(row.text("aspect"), "LegCode");
    std::vector<std::string> codes;
    std::istringstream in(row.text("codes"));
    for (std::string c; in >> c;) codes.push_back(c);
    ASSERT_GE(codes.size(), 1u);
    ASSERT_LE(codes.size(), 2u);
    for (const std::string& c : codes) {
      ASSERT_EQ(c.size(), 4u) << c;
      EXPECT_TRUE(c[0] == '*' || (c[0] >= 'A' && c[0] <= 'Z')) << c;
      for (size_t k = 1; k < 4; ++k) EXPECT_TRUE(c[k] == '*' || std::isdigit(c[k])) << c;
    }
    std::vector<std::string>& seen = codes_of_animal[r.animal];
    if (seen.empty()) {
      seen = codes;
      continue;
    }
    // The first code of each sighting is the same tag.
    for (size_t k = 0; k < 4; ++k) {
      if (seen[0][k] != '*' && codes[0][k] != '*') {
        EXPECT_EQ(seen[0][k], codes[0][k]);
      }
    }
  }
  EXPECT_EQ(codes_of_animal.size(), 2u);
}

}  // namespace
}  // namespace velmora::corpus

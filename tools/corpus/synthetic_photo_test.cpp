#include "tools/corpus/synthetic_photo.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "libs/fennick/fennick.h"
#include "testing/files.h"
#include "testing/temp_dir.h"
#include "tools/corpus/corpus_writer.h"
#include "workstation/config/aspects.h"
#include "workstation/db/database.h"
#include "workstation/db/statements.h"
#include "workstation/model/fit_file.h"
#include "workstation/model/photo.h"

namespace velmora::corpus {
namespace {

namespace fs = std::filesystem;

struct Rendered {
  std::unique_ptr<PhotoModel> model = std::make_unique<PhotoModel>();
  PhotoView view;
  Photo photo;
  PhotoMarks marks;
};

// Sighting `sighting` of animal `animal`, its flank and pose replaced when
// `pose` is given (side, yaw, pitch, roll).
struct Pose {
  char side;
  double yaw, pitch, roll;
};

std::unique_ptr<Rendered> render(int animal, int sighting, const Pose* pose = nullptr) {
  auto r = std::make_unique<Rendered>();
  PhotoCorpusOptions o;
  o.seed = 11;
  const Status loaded = load_photo_model(photo_model_path(o), r->model.get());
  EXPECT_TRUE(loaded.ok()) << loaded.message();
  const fennick::ModelRecord& record = *r->model->record;
  r->view = photo_view(o, record, animal, sighting);
  if (pose != nullptr) {
    r->view.side = pose->side;
    r->view.yaw = pose->yaw;
    r->view.pitch = pose->pitch;
    r->view.roll = pose->roll;
  }
  const Status s =
      render_photo(photo_pelt(o, record, animal), photo_build(o, record, animal), &r->view,
                   photo_noise_seed(o, animal, sighting), r->model.get(), &r->photo, &r->marks);
  EXPECT_TRUE(s.ok()) << s.message();
  return r;
}

// Distance from (x, y) to the nearest pixel on the body's boundary (a body
// pixel with a neighbour off the body), searched within `reach`.
double boundary_distance(const Photo& p, int x, int y, int reach) {
  double best = 1e9;
  for (int v = y - reach; v <= y + reach; ++v)
    for (int u = x - reach; u <= x + reach; ++u) {
      if (!p.on_body(u, v)) continue;
      if (p.on_body(u - 1, v) && p.on_body(u + 1, v) && p.on_body(u, v - 1) && p.on_body(u, v + 1))
        continue;
      best = std::min(best, std::hypot(u - x, v - y));
    }
  return best;
}

// How many edge marks lie on the outline (within 4 pixels of the boundary)
// with the body on their inner side (below a top mark, above a bottom one)
// and none on the outer side, after moving each mark by (dx, dy).
int marks_on_outline(const Rendered& r, int dx, int dy) {
  int good = 0;
  for (int list = 0; list < 2; ++list) {
    const int inward = list == 0 ? 1 : -1;
    for (const PixelPoint& m : list == 0 ? r.marks.top : r.marks.bottom) {
      const int x = m.x + dx, y = m.y + dy;
      if (boundary_distance(r.photo, x, y, 6) <= 4 && r.photo.on_body(x, y + 7 * inward) &&
          !r.photo.on_body(x, y - 7 * inward))
        ++good;
    }
  }
  return good;
}

// Whether the shoulder and hip marks are those of the flank shown (3 and 5
// of seal_flank.dat for a right flank, 2 and 4 for a left), each within its
// jitter of the picture position of its surface point at the pose, that
// point facing the camera and the mark on the rendered body.
void expect_near_points_on_the_flank_shown(const Rendered& r, char side) {
  std::vector<int> indices;
  for (const SpecialMark& p : r.marks.near_points) indices.push_back(p.index);
  EXPECT_EQ(indices, side == 'R' ? std::vector<int>({3, 5}) : std::vector<int>({2, 4}));
  const fennick::ModelRecord& record = *r.model->record;
  for (const SpecialMark& p : r.marks.near_points) {
    SCOPED_TRACE("special point " + std::to_string(p.index));
    fennick::RayRecord ray{};
    ASSERT_EQ(fennick::find_ray(record, r.model->control, record.special_y[p.index],
                                record.special_theta[p.index], ray),
              fennick::kFennickOk);
    EXPECT_LT(ray.v[10], 0);
    EXPECT_LE(std::abs(p.at.x - ray.v[0]), 2.5);
    EXPECT_LE(std::abs(p.at.y - ray.v[1]), 2.5);
    EXPECT_TRUE(r.photo.on_body(p.at.x, p.at.y)) << p.at.x << "," << p.at.y;
  }
}

TEST(SyntheticPhoto, MarksLieOnTheRenderedBodyAtEveryPose) {
  // Side views and the corners of the pose range, both flanks.
  const Pose poses[] = {
      {'R', 0, 0, 0},     {'L', 0, 0, 0},      {'R', 25, 10, 15},  {'R', -25, -10, -15},
      {'L', 25, -10, 15}, {'L', -25, 10, -15}, {'R', 12, -10, 15}, {'L', -8, 10, 0},
  };
  for (const Pose& pose : poses) {
    SCOPED_TRACE(std::string(1, pose.side) + " yaw " + std::to_string(pose.yaw) + " pitch " +
                 std::to_string(pose.pitch) + " roll " + std::to_string(pose.roll));
    const auto r = render(3, 2, &pose);
    const int marks = static_cast<int>(r->marks.top.size() + r->marks.bottom.size());
    ASSERT_GE(r->marks.top.size(), 8u);
    ASSERT_LE(r->marks.top.size(), 12u);
    ASSERT_GE(r->marks.bottom.size(), 8u);
    ASSERT_LE(r->marks.bottom.size(), 12u);
    EXPECT_EQ(marks_on_outline(*r, 0, 0), marks);
    // The check tells a misplaced outline: marks moved off by 10 pixels
    // either way, or along the body past its ends, mostly fail it.
    EXPECT_LT(marks_on_outline(*r, 0, 10), marks / 3);
    EXPECT_LT(marks_on_outline(*r, 0, -10), marks / 3);
    // Left to right within each list; the head lies on the flank's side.
    for (const auto* list : {&r->marks.top, &r->marks.bottom})
      EXPECT_TRUE(
          std::is_sorted(list->begin(), list->end(),
                         [](const PixelPoint& a, const PixelPoint& b) { return a.x < b.x; }));
    EXPECT_EQ(r->marks.tail_base.x < r->marks.sternum.x, pose.side == 'R');
    expect_near_points_on_the_flank_shown(*r, pose.side);
    // The crop holds the whole body and every mark.
    for (int y = 0; y < r->photo.height; ++y)
      for (int x = 0; x < r->photo.width; ++x)
        if (r->photo.on_body(x, y)) {
          ASSERT_TRUE(x >= r->marks.crop0.x && x <= r->marks.crop1.x && y >= r->marks.crop0.y &&
                      y <= r->marks.crop1.y)
              << x << "," << y;
        }
  }
}

// Grey of the photograph at the picture position of surface point (y,
// theta) in the pose the model of `r` holds; false when the point faces
// away or is not the nearest surface there.
bool sample(const Rendered& r, double y, double theta, double* grey) {
  fennick::RayRecord ray{};
  if (fennick::find_ray(*r.model->record, r.model->control, y, theta, ray) != fennick::kFennickOk)
    return false;
  if (ray.v[10] > -0.35) return false;
  const int x = static_cast<int>(std::lround(ray.v[0])),
            v = static_cast<int>(std::lround(ray.v[1]));
  if (!r.photo.on_body(x, v)) return false;
  const size_t i = 3 * (static_cast<size_t>(v) * r.photo.width + x);
  *grey = (r.photo.rgb[i] + r.photo.rgb[i + 1] + r.photo.rgb[i + 2]) / 3.0;
  return true;
}

// The greys of a photograph on a grid of surface points of one flank (Y
// from 110 to 350 by 4 units, |theta| from 0.6 to 2.5 by 0.06, about 3.6
// units), each less the mean of its seen neighbours within 3 grid steps:
// what is left is the pelt's marks, without the light's shading and the
// pelt's own slow shading from back to belly. NaN where the point is not
// seen.
std::vector<double> flank_detail(const Rendered& r, double theta_sign) {
  constexpr int kRows = 61, kColumns = 32, kReach = 3;
  std::vector<double> grey(kRows * kColumns, std::nan(""));
  for (int i = 0; i < kRows; ++i)
    for (int j = 0; j < kColumns; ++j) {
      double g = 0;
      if (sample(r, 110 + 4 * i, theta_sign * (0.6 + 0.06 * j), &g)) grey[i * kColumns + j] = g;
    }
  std::vector<double> detail(grey.size(), std::nan(""));
  for (int i = 0; i < kRows; ++i)
    for (int j = 0; j < kColumns; ++j) {
      if (std::isnan(grey[i * kColumns + j])) continue;
      double sum = 0;
      int n = 0;
      for (int a = std::max(0, i - kReach); a <= std::min(kRows - 1, i + kReach); ++a)
        for (int b = std::max(0, j - kReach); b <= std::min(kColumns - 1, j + kReach); ++b)
          if (!std::isnan(grey[a * kColumns + b])) {
            sum += grey[a * kColumns + b];
            ++n;
          }
      detail[i * kColumns + j] = grey[i * kColumns + j] - sum / n;
    }
  return detail;
}

// Correlation of two photographs' pelt detail (flank_detail) where both see
// the point; *count says how many points that is.
double pelt_correlation(const std::vector<double>& a, const std::vector<double>& b, int* count) {
  std::vector<double> ga, gb;
  for (size_t i = 0; i < a.size(); ++i)
    if (!std::isnan(a[i]) && !std::isnan(b[i])) {
      ga.push_back(a[i]);
      gb.push_back(b[i]);
    }
  *count = static_cast<int>(ga.size());
  const double n = static_cast<double>(ga.size());
  double ma = 0, mb = 0;
  for (size_t i = 0; i < ga.size(); ++i) {
    ma += ga[i] / n;
    mb += gb[i] / n;
  }
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < ga.size(); ++i) {
    sab += (ga[i] - ma) * (gb[i] - mb);
    saa += (ga[i] - ma) * (ga[i] - ma);
    sbb += (gb[i] - mb) * (gb[i] - mb);
  }
  return sab / std::sqrt(saa * sbb);
}

TEST(SyntheticPhoto, SightingsOfAFlankShareThePeltOtherFlanksAndAnimalsDoNot) {
  const Pose right_a{'R', 18, -6, 10}, right_b{'R', -15, 8, -12}, left{'L', 5, 3, -4};
  const auto first = render(4, 1, &right_a);
  const auto again = render(4, 2, &right_b);
  const auto other_flank = render(4, 3, &left);
  const auto other_animal = render(5, 1, &right_b);
  struct Row {
    const char* what;
    const Rendered* second;
    double theta_sign;  // the flank of the second photograph sampled
    double lo, hi;
  };
  const Row rows[] = {
      {"the same flank in another pose", again.get(), -1, 0.7, 1.0},
      {"the other flank of the same animal", other_flank.get(), 1, -0.25, 0.25},
      {"the same flank of another animal", other_animal.get(), -1, -0.25, 0.25},
  };
  const std::vector<double> reference = flank_detail(*first, -1);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    int count = 0;
    const double c = pelt_correlation(reference, flank_detail(*row.second, row.theta_sign), &count);
    EXPECT_GE(count, 300);
    EXPECT_GE(c, row.lo) << count << " points";
    EXPECT_LE(c, row.hi) << count << " points";
  }
}

std::string file_bytes(const fs::path& p) {
  return velmora::testing::read_file(p);
}

class PhotoCorpusFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new velmora::testing::TempDir("photos");
    PhotoCorpusOptions o;
    o.animals = 2;
    o.sightings = 2;
    o.seed = 5;
    for (const char* name : {"a", "b"}) {
      const Status s = write_photo_corpus(dir_->path(name), o, &summary_);
      ASSERT_TRUE(s.ok()) << s.message();
    }
    o.seed = 6;
    const Status s = write_photo_corpus(dir_->path("c"), o, &summary_);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static fs::path path(const std::string& p) { return fs::path(dir_->path(p)); }
  static velmora::testing::TempDir* dir_;
  static PhotoCorpusSummary summary_;
};
velmora::testing::TempDir* PhotoCorpusFiles::dir_ = nullptr;
PhotoCorpusSummary PhotoCorpusFiles::summary_;

TEST_F(PhotoCorpusFiles, SameSeedSameBytesOtherSeedOtherPhotographs) {
  int files = 0, photos = 0;
  for (const auto& entry : fs::recursive_directory_iterator(path("a"))) {
    if (!entry.is_regular_file() || entry.path().extension() == ".sqlite") continue;
    const fs::path rel = fs::relative(entry.path(), path("a"));
    SCOPED_TRACE(rel.string());
    EXPECT_EQ(file_bytes(entry.path()), file_bytes(path("b") / rel));
    ++files;
    if (entry.path().extension() == ".jpg") {
      ++photos;
      EXPECT_NE(file_bytes(entry.path()), file_bytes(path("c") / rel));
    }
  }
  EXPECT_EQ(photos, 4);
  // photographs, marks, fit files, orlain.ini, model file, truth, roles, the
  // leg-code roles, the two run files
  EXPECT_EQ(files, 4 + 4 + 4 + 3 + 4);
}

TEST_F(PhotoCorpusFiles, DatabaseRowsLoadAsTheExtractionRunTakesThem) {
  std::unique_ptr<db::Database> db;
  ASSERT_TRUE(
      db::Database::open(path("a/seals.sqlite").string(), db::Database::OpenMode::kReadOnly, &db)
          .ok());
  config::AspectSettings aspect;
  ASSERT_TRUE(config::load_aspect_settings(db.get(), kPhotoAspect, &aspect).ok());
  EXPECT_EQ(aspect.model_fname, kPhotoModelFile);
  EXPECT_EQ(aspect.cell_type, "lateral");
  EXPECT_EQ(aspect.pattern, "black_stripe");
  EXPECT_GT(aspect.show_n_spots, 0);
  EXPECT_GT(aspect.sigmay, 0);
  EXPECT_LT(aspect.from_theta_deg, aspect.to_theta_deg);
  db::RecordSet algy;
  ASSERT_TRUE(db->query("algy", "SELECT letter from algy where type='tarvik'", &algy).ok());
  ASSERT_EQ(algy.row_count(), 1);
  EXPECT_EQ(algy.text("letter"), kPhotoTarvikLetter);

  // The season: the new photographs wait for extraction under a provisional
  // ID, the library's are the earlier seasons' confirmed matches under their
  // animal's ID; no side until a fit records it. The roles file says which
  // is which, and the truth file covers them all.
  std::vector<CorpusSighting> roles;
  ASSERT_TRUE(read_manifest(path("a/corpus.txt").string(), &roles).ok());
  std::map<std::string, const CorpusSighting*> role_of;
  for (const CorpusSighting& r : roles) role_of[r.cell] = &r;
  const std::vector<std::string> truth = velmora::testing::read_lines(path("a/truth.txt"));
  std::vector<std::string> truth_cells;
  for (const std::string& line : truth)
    if (!line.empty() && line[0] != ';') truth_cells.push_back(line.substr(0, line.find(' ')));
  std::sort(truth_cells.begin(), truth_cells.end());

  std::unique_ptr<db::PreparedStatements> st;
  ASSERT_TRUE(db::PreparedStatements::prepare(db.get(), db::StatementOptions{}, &st).ok());
  db::RecordSet waiting;
  ASSERT_TRUE(st->get("images_to_extract")->open(&waiting).ok());
  EXPECT_EQ(waiting.row_count(), 2);
  for (; !waiting.eof(); waiting.move_next()) {
    SCOPED_TRACE(waiting.text("cell"));
    ASSERT_EQ(role_of.count(waiting.text("cell")), 1u);
    EXPECT_TRUE(role_of.at(waiting.text("cell"))->pending);
  }
  db::RecordSet rows;
  ASSERT_TRUE(db->query("rows",
                        "SELECT cell, photo, id, side, AutoMatch, aspect FROM SYSTEM_ImageLinks "
                        "WHERE aspect <> 'LegCode' ORDER BY cell",
                        &rows)
                  .ok());
  ASSERT_EQ(rows.row_count(), 4);
  std::vector<std::string> cells;
  for (; !rows.eof(); rows.move_next()) {
    const std::string cell = rows.text("cell");
    SCOPED_TRACE(cell);
    cells.push_back(cell);
    ASSERT_EQ(role_of.count(cell), 1u);
    const CorpusSighting& role = *role_of.at(cell);
    EXPECT_EQ(rows.text("AutoMatch"), role.pending ? "E" : "L");
    if (role.pending) {
      EXPECT_EQ(rows.text("id").substr(0, 1), "U");
    } else {
      EXPECT_EQ(rows.text("id"), role.animal);
    }
    EXPECT_TRUE(db::is_null(rows.field("side")));
    EXPECT_EQ(rows.text("aspect"), kPhotoAspect);
    EXPECT_EQ(cell.substr(cell.size() - 2), kPhotoAspectLetter);
    // The photograph the window loads, and the marks the fit is made from.
    const QImage photo(
        QString::fromStdString(path("a/newpics/" + rows.text("photo") + ".jpg").string()));
    EXPECT_EQ(photo.width(), kPhotoWidth);
    EXPECT_EQ(photo.height(), kPhotoHeight);
    PhotoMarks marks;
    const Status s = parse_photo_marks(file_bytes(path("a/marks/" + cell + ".txt")), cell, &marks);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(marks.photo, rows.text("photo") + ".jpg");
  }
  EXPECT_EQ(cells, truth_cells);
  EXPECT_EQ(roles.size(), truth_cells.size());
  db::RecordSet stats;
  ASSERT_TRUE(db->query("stats", "SELECT count(*) AS n FROM stats", &stats).ok());
  EXPECT_EQ(stats.integer("n"), 0) << "no statistics before the library is extracted";
  // Leg-code extracts of both animals on their photographs, the new ones
  // pending with their codes entered; their roles in a file of their own.
  std::vector<CorpusSighting> legcode_roles;
  ASSERT_TRUE(read_manifest(path("a/legcodes.txt").string(), &legcode_roles).ok());
  std::sort(legcode_roles.begin(), legcode_roles.end(),
            [](const CorpusSighting& a, const CorpusSighting& b) { return a.cell < b.cell; });
  std::string expected;
  for (const CorpusSighting& r : legcode_roles)
    expected += r.cell + " " + (r.pending ? "P" : "L") + "\n";
  db::RecordSet legcodes;
  ASSERT_TRUE(db->query("legcodes",
                        "SELECT group_concat(cell || ' ' || AutoMatch || char(10), '') AS c FROM "
                        "(SELECT cell, AutoMatch FROM cells WHERE aspect = 'LegCode' AND side = "
                        "'M' AND cell IN (SELECT cell FROM codes) ORDER BY cell)",
                        &legcodes)
                  .ok());
  EXPECT_EQ(legcode_roles.size(), 4u);
  EXPECT_EQ(legcodes.text("c"), expected);
  PhotoModel model;
  const Status s = load_photo_model(path("a/" + std::string(kPhotoModelFile)).string(), &model);
  EXPECT_TRUE(s.ok()) << s.message();
}

// Every sighting of an animal shows its one flank, so a new photograph
// always has library photographs of that flank; over the animals both
// flanks come up about equally.
TEST(PhotoSeason, AnAnimalShowsOneFlankInEverySighting) {
  PhotoModel model;
  PhotoCorpusOptions o;
  ASSERT_TRUE(load_photo_model(photo_model_path(o), &model).ok());
  for (uint64_t seed : {1u, 2u}) {
    o.seed = seed;
    int left = 0;
    for (int animal = 1; animal <= 60; ++animal) {
      const char flank = photo_view(o, *model.record, animal, 1).side;
      left += flank == 'L';
      for (int sighting = 2; sighting <= 4; ++sighting)
        EXPECT_EQ(photo_view(o, *model.record, animal, sighting).side, flank)
            << "seed " << seed << " animal " << animal << " sighting " << sighting;
    }
    EXPECT_GE(left, 18) << "seed " << seed;
    EXPECT_LE(left, 42) << "seed " << seed;
  }
}

// A hard season widens the pose and noise bounds and changes nothing else:
// the same seed gives the same side, scale, posture and light, and the
// widened draws leave the ordinary bounds often enough to matter.
TEST(PhotoSeason, AHardSeasonPosesAndExposesTheSameAnimalsWorse) {
  PhotoModel model;
  PhotoCorpusOptions o;
  ASSERT_TRUE(load_photo_model(photo_model_path(o), &model).ok());
  struct Bounds {
    bool hard;
    double yaw, pitch, roll, noise_low, noise_high;
  };
  const Bounds table[] = {{false, 25, 10, 15, 2, 5}, {true, 35, 15, 22, 4, 10}};
  int beyond_ordinary = 0;
  const int kViews = 200;
  for (uint64_t seed = 1; seed <= kViews; ++seed) {
    PhotoView views[2];
    for (int i = 0; i < 2; ++i) {
      const Bounds& b = table[i];
      const PhotoView v = make_photo_view(seed, *model.record, b.hard);
      SCOPED_TRACE("seed " + std::to_string(seed) + (b.hard ? " hard" : " ordinary"));
      EXPECT_LE(std::abs(v.yaw), b.yaw);
      EXPECT_LE(std::abs(v.pitch), b.pitch);
      EXPECT_LE(std::abs(v.roll), b.roll);
      EXPECT_GE(v.noise, b.noise_low);
      EXPECT_LE(v.noise, b.noise_high);
      views[i] = v;
    }
    const PhotoView &plain = views[0], &hard = views[1];
    EXPECT_EQ(hard.side, plain.side) << "seed " << seed;
    EXPECT_EQ(hard.scale, plain.scale) << "seed " << seed;
    EXPECT_EQ(hard.bend_up, plain.bend_up) << "seed " << seed;
    EXPECT_EQ(hard.light, plain.light) << "seed " << seed;
    EXPECT_EQ(hard.exposure, plain.exposure) << "seed " << seed;
    // Same draw, wider interval: the sign of every angle is kept.
    EXPECT_EQ(hard.yaw > 0, plain.yaw > 0) << "seed " << seed;
    EXPECT_GT(hard.noise, plain.noise) << "seed " << seed;
    beyond_ordinary += std::abs(hard.yaw) > 25 || std::abs(hard.roll) > 15;
  }
  EXPECT_GE(beyond_ordinary, kViews / 4);
  // The season's views go through the option.
  o.hard = true;
  const PhotoView season = photo_view(o, *model.record, 3, 2);
  o.hard = false;
  EXPECT_NE(season.yaw, photo_view(o, *model.record, 3, 2).yaw);
}

// A photograph whose every pixel carries its own index from 1, so that a
// work picture cut from it tells where each of its pixels came from.
model::Photo numbered_photo(int width, int height) {
  model::Photo p(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int i = y * width + x + 1;
      p.set(x, y, static_cast<uint8_t>(i & 255), static_cast<uint8_t>((i >> 8) & 255),
            static_cast<uint8_t>(i >> 16));
    }
  return p;
}

TEST_F(PhotoCorpusFiles, FitFilesHoldTheTextMarksOnTheWorkPictureTheCropMakes) {
  PhotoModel weights;
  ASSERT_TRUE(load_photo_model(path("a/" + std::string(kPhotoModelFile)).string(), &weights).ok());
  const model::Photo numbered = numbered_photo(kPhotoWidth, kPhotoHeight);
  // Each cell's flank, from the truth.
  std::map<std::string, char> sides;
  for (const std::string& line : velmora::testing::read_lines(path("a/truth.txt"))) {
    if (line.empty() || line[0] == ';') continue;
    std::istringstream words(line);
    std::string cell, animal;
    char side = 0;
    words >> cell >> animal >> side;
    sides[cell] = side;
  }
  int cells = 0;
  for (const auto& entry : fs::directory_iterator(path("a/marks"))) {
    const std::string cell = entry.path().stem().string();
    SCOPED_TRACE(cell);
    ++cells;
    PhotoMarks marks;
    ASSERT_TRUE(parse_photo_marks(file_bytes(entry.path()), cell, &marks).ok());
    std::string fit_path;
    ASSERT_TRUE(model::fit_file_path(path("a").string() + "/", cell, &fit_path).ok());
    EXPECT_EQ(fs::file_size(fit_path), model::kFitFileBytes);
    model::FitRecord fit;
    const Status read = model::read_fit_file(fit_path, cell, &fit);
    ASSERT_TRUE(read.ok()) << read.message();
    EXPECT_FALSE(fit.has_picked);

    // The crop the window makes from the operator's two clicks.
    model::Photo work;
    model::Crop crop;
    ASSERT_TRUE(model::crop_photo(
                    numbered, {false, marks.crop0.x, marks.crop0.y, marks.crop1.x, marks.crop1.y},
                    kFitWorkWidth, kFitWorkHeight, &work, &crop)
                    .ok());
    EXPECT_EQ(fit.crop, crop.record);
    EXPECT_EQ(fit.crop.destination_width, kFitWorkWidth);
    EXPECT_EQ(fit.crop.destination_height, kFitWorkHeight);

    // Each mark where the crop put its pixel: the work pixel the file names
    // holds the copy of a photograph pixel within one copying step of the
    // text mark, and is the mark mapped and rounded.
    const double step = std::max(1.0, crop.grown_width / kFitWorkWidth);
    const auto check = [&](const PixelPoint& text, int32_t x, int32_t y, const char* what) {
      SCOPED_TRACE(std::string(what) + " at " + std::to_string(text.x) + "," +
                   std::to_string(text.y));
      const fennick::ScreenPoint expected = model::photo_pixel_to_work(crop, text.x, text.y);
      EXPECT_EQ(x, expected.x);
      EXPECT_EQ(y, expected.y);
      const int32_t c = work.colour(x, y);
      ASSERT_GT(c, 0);
      EXPECT_LE(std::abs((c - 1) % kPhotoWidth - text.x), step);
      EXPECT_LE(std::abs((c - 1) / kPhotoWidth - text.y), step);
    };
    const fennick::MarkedPoints& m = fit.marks;
    check(marks.tail_base, m.special[0], m.special[1], "tail base");
    check(marks.sternum, m.special[2], m.special[3], "sternum");
    // The near shoulder and hip as well: four points placed.
    const char side = sides.at(cell);
    const std::vector<int> near_indices =
        side == 'R' ? std::vector<int>({3, 5}) : std::vector<int>({2, 4});
    ASSERT_EQ(marks.near_points.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
      const SpecialMark& p = marks.near_points[k];
      ASSERT_EQ(p.index, near_indices[k]);
      check(p.at, m.special[2 * p.index], m.special[2 * p.index + 1], "near special point");
    }
    int placed = 0;
    for (int i = 0; i < fennick::kMaxSpecialPoints; ++i) {
      const bool near = i == near_indices[0] || i == near_indices[1];
      EXPECT_EQ(m.placed[i], i < 2 || near ? 1 : 0) << i;
      EXPECT_EQ(m.weights[i], weights.marks->weights[i]) << i;
      placed += m.placed[i];
    }
    EXPECT_EQ(placed, 4);
    EXPECT_GT(m.weights[0], 0);
    ASSERT_EQ(m.top.count, static_cast<int32_t>(marks.top.size()));
    ASSERT_EQ(m.bottom.count, static_cast<int32_t>(marks.bottom.size()));
    EXPECT_EQ(m.midline.count, 0);
    for (size_t k = 0; k < marks.top.size(); ++k)
      check(marks.top[k], m.top.x[k], m.top.y[k], "top");
    for (size_t k = 0; k < marks.bottom.size(); ++k)
      check(marks.bottom[k], m.bottom.x[k], m.bottom.y[k], "bottom");
    for (int32_t t : m.trailing) EXPECT_EQ(t, 1000);
  }
  EXPECT_EQ(cells, 4);
}

TEST(PhotoFitRecord, RefusesMarksTheWindowCouldNotHoldAndACropWithoutArea) {
  PhotoMarks good;
  good.photo = "p.jpg";
  good.crop0 = {10, 20};
  good.crop1 = {700, 500};
  good.tail_base = {100, 300};
  good.sternum = {600, 280};
  good.near_points = {{3, {520, 300}}, {5, {180, 310}}};
  good.top = {{120, 250}, {300, 240}};
  good.bottom = {{130, 350}};
  fennick::MarkedPoints weights{};
  weights.weights[0] = 3000;
  model::FitRecord fit;
  ASSERT_TRUE(photo_fit_record(good, weights, &fit).ok());
  EXPECT_EQ(fit.marks.weights[0], 3000);
  const int placed[fennick::kMaxSpecialPoints] = {1, 1, 0, 1, 0, 1};
  for (int i = 0; i < fennick::kMaxSpecialPoints; ++i)
    EXPECT_EQ(fit.marks.placed[i], placed[i]) << i;

  struct Case {
    const char* what;
    PhotoMarks marks;
  };
  Case cases[] = {{"51 top marks", good},
                  {"51 bottom marks", good},
                  {"a flat crop", good},
                  {"a mid-flank point", good}};
  cases[0].marks.top.assign(51, {200, 250});
  cases[1].marks.bottom.assign(51, {200, 350});
  cases[2].marks.crop1.y = cases[2].marks.crop0.y;
  cases[3].marks.near_points[1].index = 7;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::FitRecord untouched = fit;
    const Status s = photo_fit_record(c.marks, weights, &untouched);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find("p.jpg"), std::string::npos) << s.message();
    EXPECT_EQ(model::fit_file_bytes(untouched), model::fit_file_bytes(fit));
  }
}

TEST(PhotoMarksFile, ReadsBackWhatIsWrittenAndNamesTheLineOfAFault) {
  PhotoMarks m;
  m.photo = "GS0001_02.jpg";
  m.crop0 = {10, 20};
  m.crop1 = {900, 700};
  m.tail_base = {100, 300};
  m.sternum = {600, -3};
  m.top = {{120, 280}, {200, 270}};
  m.bottom = {{130, 350}};
  const std::string text = format_photo_marks(m);
  PhotoMarks back;
  ASSERT_TRUE(parse_photo_marks(text, "m.txt", &back).ok());
  EXPECT_EQ(back, m);
  PhotoMarks with_near = m;
  with_near.near_points = {{2, {480, 260}}, {4, {150, 290}}};
  const std::string near_text = format_photo_marks(with_near);
  ASSERT_TRUE(parse_photo_marks(near_text, "m.txt", &back).ok());
  EXPECT_EQ(back, with_near);

  struct Case {
    std::string text, message;
  };
  const Case cases[] = {
      {text + "top 1 2x\n", "m.txt line 9: '2x' is not a whole number"},
      {text + "middle 1 2\n", "m.txt line 9: expected photo"},
      {text + "special 6 1 2\n", "m.txt line 9: expected photo"},
      {near_text + "special 4 1 2\n", "m.txt line 11: special point 4 twice"},
      {text + "crop 1 2 3\n", "m.txt line 9: expected photo"},
      {text.substr(0, text.find("special 1")), "the photo, crop and both special points"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    PhotoMarks untouched = m;
    const Status s = parse_photo_marks(c.text, "m.txt", &untouched);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find(c.message), std::string::npos) << s.message();
    EXPECT_EQ(untouched, m);
  }
}

TEST(PhotoCorpusRefusals, AMissingModelFileOrABusyFolderMakesNothing) {
  velmora::testing::TempDir dir("photo_refusals");
  PhotoCorpusOptions o;
  o.animals = 1;
  o.sightings = 1;
  o.models_folder = dir.path("no_models");
  PhotoCorpusSummary sum;
  Status s = write_photo_corpus(dir.path("out"), o, &sum);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("seal_flank.dat"), std::string::npos) << s.message();
  EXPECT_FALSE(dir.exists("out"));

  ASSERT_TRUE(dir.write("busy/x.txt", "x"));
  o.models_folder.clear();
  s = write_photo_corpus(dir.path("busy"), o, &sum);
  EXPECT_FALSE(s.ok());
  EXPECT_FALSE(dir.exists("busy/newpics"));

  for (const auto& [animals, sightings] : {std::pair{0, 1}, {1, 0}, {10000, 1}, {1, 100}}) {
    o.animals = animals;
    o.sightings = sightings;
    EXPECT_FALSE(check_photo_options(o).empty()) << animals << " x " << sightings;
  }
}

}  // namespace
}  // namespace velmora::corpus

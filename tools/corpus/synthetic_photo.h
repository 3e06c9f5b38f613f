// Synthetic field photographs: lateral views of seals for the fitting and
// extraction steps, with the marks an operator would place on them and the
// truth of every pose.
//
// An animal is a body shape and a pelt. The shape is the body model of
// seal_flank.dat deformed through the model's own parameters: its girth
// knots, body width and a length factor (how many pixels a model unit spans
// at a given distance), so that a fit must absorb shapes the model file was
// not made from. The pelt is a grey-seal-like reticulation painted in the
// body's surface coordinates (Y along the body, theta round it, as the model
// file defines them), one raster round the whole body, so the left and the
// right flank carry different patterns and both sightings of a flank carry
// the same. A sighting is one photograph: a flank (left or right, the head
// pointing that way), a pose off the side view (yaw up to 25 degrees, pitch
// up to 10, roll up to 15; more in a hard season), a posture (bends up and sideways), a distance,
// a light from some direction above, a background of water or rock and
// sensor noise.
//
// The photographs make a season as the workstation meets it: sighting 1 of
// every animal is new, under a provisional ID and waiting for extraction;
// sightings 2..K are the earlier seasons' confirmed matches, in the library
// under the animal's ID, their photographs extracted again with this
// version (extraction keeps a library row's state). An animal shows the same
// flank in all its sightings (the side it hauls out on), half the animals
// the left and half the right, so that every new photograph has library
// photographs of its own flank to be found among, and every library animal
// with two of them gives a matching pair for the match statistics.
//
// The renderer projects a dense mesh of surface points through the
// library's find_ray and fills its triangles with a depth buffer, carrying Y,
// theta and the normal to every pixel: the pelt is looked up at (Y, theta),
// shaded by the normal, and the pixels the body covers are kept as a mask.
//
// Folder DIR:
//   newpics/<image>.jpg   the photographs, 1200 x 800, JPEG
//   orlain.ini            the data folder's configuration (DIR is the data
//                         folder, its database DIR/seals.sqlite)
//   seal_flank.dat        the model definition file of aspect "Flank"
//   seals.sqlite          the workstation's schema: aspect "Flank" (letter
//                         FL, lateral, reticulated dark stripes, model file
//                         seal_flank.dat), algy row "a" of type tarvik, one
//                         sighting, encounter, photograph and cell per
//                         photograph with no side yet (the fit records it):
//                         the new ones in state E, the library in state L
//                         (names and IDs as data_folder.h gives them); no
//                         stats row until the library is extracted
//                         (library_stats.h)
//   oldlib/ newlib/ raw/ blank/   empty, for what extraction writes
//   work/tarvik.ini       the comparison's run files (as data_folder.h's)
//   corpus.txt            the roles: "cell animal pending|library", as the
//                         data folder's truth (corpus_writer.h reads it)
//   marks/<cell>.txt      the operator's marks of each photograph (below)
//   savedraw/<cell>       the fit file the window's OK would keep for those
//                         marks (fit_file.h), as if the operator had cropped,
//                         placed them and pressed OK without fitting (below)
//   truth.txt             one line per photograph: cell, animal (library ID),
//                         side L or R, yaw, pitch, roll (degrees off the side
//                         view: the model's p1 less 180 for a left flank, p2,
//                         p0), then scale (pixels per model unit) and the
//                         picture position of the model origin
//
// Marks file, lines "key values", in photograph pixels (x right, y down,
// origin at the top-left pixel's centre), whole pixels as the window rounds
// them; lines starting with ";" are comments:
//   photo <image>.jpg <width> <height>
//   crop <x0> <y0> <x1> <y1>       the corners the operator clicked
//   special 0 <x> <y>              tail base
//   special 1 <x> <y>              sternum
//   special <i> <x> <y>            the shoulder and the hip of the flank
//                                  shown: 3 and 5 for a right flank, 2 and
//                                  4 for a left (seal_flank.dat's order)
//   top <x> <y>                    8 to 12 lines, upper outline, left to right
//   bottom <x> <y>                 8 to 12 lines, lower outline, left to right
//
// Fit file: the marks on a work picture of 900 x 600 (kFitWorkWidth x
// kFitWorkHeight, the photograph's 3:2 at three quarters), cut by crop_photo
// from the photograph with the crop's corners as the two clicks; every
// position mapped by photo_pixel_to_work (photo.h). MarkedPoints: special
// points 0 and 1 and the near shoulder and hip placed (four), the others
// not; the top and bottom lists the edge marks left to right, their counts
// the marks' (the closing points a Fit adds are not stored); no midline; the special-point weights
// of seal_flank.dat; the per-mille multipliers the window sets, the stiffness slider at its start,
// 1000. The crop record follows, no picked points (the aspect's adjust_extract is 0). Only the
// cell's own file is written: the partner "HA" file OK would also write belongs to no cell of this
// corpus.
//
// A photograph is a pure function of the seed, the animal's number and the
// sighting number.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "libs/fennick/body_model.h"
#include "libs/fennick/fennick_records.h"
#include "workstation/common/status.h"
#include "workstation/model/fit_file.h"

namespace velmora::corpus {

inline constexpr int kPhotoWidth = 1200;
inline constexpr int kPhotoHeight = 800;
inline constexpr char kPhotoModelFile[] = "seal_flank.dat";
inline constexpr char kPhotoAspect[] = "Flank";
inline constexpr char kPhotoAspectLetter[] = "FL";
inline constexpr char kPhotoTarvikLetter[] = "a";
inline constexpr char kNewpicsFolderName[] = "newpics";
inline constexpr char kMarksFolderName[] = "marks";
inline constexpr char kPhotoTruthFileName[] = "truth.txt";
inline constexpr int kFitWorkWidth = 900;
inline constexpr int kFitWorkHeight = 600;

struct PhotoCorpusOptions {
  int animals = 20;
  int sightings = 3;
  uint64_t seed = 1;
  // A harder season: poses further off the side view (yaw up to 35
  // degrees, pitch up to 15, roll up to 22) and twice the sensor noise. The
  // same random draws are taken as without it, so a hard season shows the
  // same animals on the same flanks, only posed and exposed worse.
  bool hard = false;
  // Folder of the shipped model files; by default the source tree's.
  std::string models_folder;
};

// Empty when the options can make a corpus, else the reason.
std::string check_photo_options(const PhotoCorpusOptions& o);

// The model file of the source tree: models_folder/seal_flank.dat.
std::string photo_model_path(const PhotoCorpusOptions& o);

// The body model as the window holds it after reading the model file.
struct PhotoModel {
  std::unique_ptr<fennick::ModelRecord> record = std::make_unique<fennick::ModelRecord>();
  std::unique_ptr<fennick::MarkedPoints> marks = std::make_unique<fennick::MarkedPoints>();
  fennick::FitParams params{};
  fennick::FitControl control{};
};

Status load_photo_model(const std::string& path, PhotoModel* model);

// One animal's pelt: grey levels over (Y, theta), theta periodic.
class PhotoPelt {
 public:
  static PhotoPelt make(uint64_t seed, double first_y, double last_y);
  // Grey (0..255 scale) at surface point (y, theta), bilinear.
  double grey(double y, double theta) const;
  // Red, green and blue relative to the grey.
  const std::array<double, 3>& tint() const { return tint_; }

 private:
  int columns_ = 0, rows_ = 0;  // along Y, round theta
  double first_y_ = 0, step_y_ = 1;
  std::vector<float> raster_;  // row-major: row = theta step, column = Y step
  std::array<double, 3> tint_{1, 1, 1};
};

// The animal's own build.
struct AnimalBuild {
  double length = 1;          // factor on the pixels per model unit
  double body_width = 1;      // fennick body width factor
  std::vector<double> girth;  // the girth knots' values
};

// One photograph's view of an animal.
struct PhotoView {
  char side = 'R';      // flank shown: 'R' head to the right, 'L' head to the left
  double yaw = 0;       // degrees off the side view
  double pitch = 0;     // degrees
  double roll = 0;      // degrees
  double scale = 1.5;   // pixels per model unit
  double x = 0, y = 0;  // picture position of the model origin, set by the renderer
  std::vector<double> bend_up, bend_side;  // knot values, model units
  std::array<double, 3> light{0, -1, 0};   // unit direction towards the light, camera axes
  double ambient = 0.4;
  double exposure = 1;
  bool water = true;  // background: water, else rock
  double noise = 3;
  double centre_dx = 0, centre_dy = 0;  // where the body's box centre lies off the photo centre
};

// A photograph: RGB bytes row by row, and the pixels the body covers.
struct Photo {
  int width = kPhotoWidth, height = kPhotoHeight;
  std::vector<uint8_t> rgb;
  std::vector<uint8_t> body;  // 1 where the body is the nearest surface
  bool on_body(int x, int y) const {
    return x >= 0 && y >= 0 && x < width && y < height &&
           body[static_cast<size_t>(y) * width + x] != 0;
  }
};

struct PixelPoint {
  int x = 0, y = 0;
  bool operator==(const PixelPoint&) const = default;
};

// Special points 2 to 5 (shoulders and hips) may be marked in a marks file;
// the mid-flank points are not: an operator finds no landmark there.
inline constexpr int kFirstNearSpecial = 2;
inline constexpr int kLastNearSpecial = 5;

struct SpecialMark {
  int index = 0;  // the model file's special point
  PixelPoint at;
  bool operator==(const SpecialMark&) const = default;
};

struct PhotoMarks {
  std::string photo;
  int width = kPhotoWidth, height = kPhotoHeight;
  PixelPoint crop0, crop1;
  PixelPoint tail_base, sternum;
  std::vector<SpecialMark> near_points;  // the shoulder and hip the photograph shows
  std::vector<PixelPoint> top, bottom;
  bool operator==(const PhotoMarks&) const = default;
};

std::string format_photo_marks(const PhotoMarks& m);
// Reads a marks file's text; `name` names it in messages.
Status parse_photo_marks(const std::string& text, const std::string& name, PhotoMarks* m);

// The fit file's record for `marks` (see the header); `model_marks` holds
// the special-point weights as the model file gave them. Marks beyond what
// the window offers, or a crop crop_photo refuses, are refused.
Status photo_fit_record(const PhotoMarks& marks, const fennick::MarkedPoints& model_marks,
                        model::FitRecord* record);

AnimalBuild make_animal_build(uint64_t seed, const fennick::ModelRecord& record);
PhotoView make_photo_view(uint64_t seed, const fennick::ModelRecord& record, bool hard = false);

// Places the model at the view's pose and shape (x, y chosen so the body
// lies where the view asks), renders the photograph and finds the marks.
// `model` is left at that pose. `view` receives the position.
Status render_photo(const PhotoPelt& pelt, const AnimalBuild& build, PhotoView* view,
                    uint64_t noise_seed, PhotoModel* model, Photo* photo, PhotoMarks* marks);

// The marks render_photo finds on `photo` of the model at `view`'s pose (as
// render_photo left `model`) for `noise_seed`, each point moved by `jitter`
// times the operator's hand (a normal draw clamped to 2 pixels each way): 1
// gives render_photo's marks, 0 the exact positions rounded to whole pixels,
// at the same places along the body and with the same crop.
Status find_photo_marks(const PhotoModel& model, const PhotoView& view, const Photo& photo,
                        uint64_t noise_seed, double jitter, PhotoMarks* marks);

// The pelt, build and view of animal `animal` (from 1), sighting `sighting`.
PhotoPelt photo_pelt(const PhotoCorpusOptions& o, const fennick::ModelRecord& r, int animal);
AnimalBuild photo_build(const PhotoCorpusOptions& o, const fennick::ModelRecord& r, int animal);
PhotoView photo_view(const PhotoCorpusOptions& o, const fennick::ModelRecord& r, int animal,
                     int sighting);
// The flank animal `animal` shows in every sighting of the season.
char photo_flank(const PhotoCorpusOptions& o, int animal);
uint64_t photo_noise_seed(const PhotoCorpusOptions& o, int animal, int sighting);

// The photograph as JPEG bytes (through Qt's image writer).
Status encode_jpeg(const Photo& photo, std::string* bytes);

struct PhotoCorpusSummary {
  int photographs = 0;
  int left = 0, right = 0;
  int pending = 0, library = 0;
  std::string database_path, newpics, marks, fits, truth, roles, working_folder;
};

// Makes the corpus in `dir`, which must be absent or empty. On failure the
// database file is removed (the folder and what was written so far are not).
Status write_photo_corpus(const std::string& dir, const PhotoCorpusOptions& o,
                          PhotoCorpusSummary* summary);

}  // namespace velmora::corpus

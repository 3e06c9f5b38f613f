// Synthetic pelt extracts: what fitting would hand to extract processing,
// for testing the processing and the comparisons over its features, and as
// demo data.
//
// Each aspect of the corpus shows one kind of marks (dark dots, light dots,
// ringed marks, reticulated dark stripes and blotches, dorsal blotches along
// a darker midline). An animal is a pelt: its marks laid out once from the
// seed, with its own ground grey, mottling, fur texture and tint. A sighting
// is a 256 x 256 extract of that pelt seen anew: shifted, turned, scaled and
// gently bent, under another brightness trend, with pixel noise, and with a
// region blanked out (an irregular patch at an edge, a band across, a glare
// blob) or none. Colour is sampled as fitting samples it: integer red, green
// and blue with a brownish tint, the grey their mean; blank pixels carry the
// mean grey of the usable ones in the grey and, rounded, in all three planes.
//
// Folder DIR:
//   bundles/<cell>/     one extract bundle per extract (extract_bundle.h);
//                       blank_edited=1 when a region was blanked
//   data/               a workstation data folder for the processing:
//     orlain.ini        header item, then library_name=newlib/,
//                       do_blankdist, avg_depth_default, critical_distance,
//                       dilate_proportion, MultiAspect, LimitSearch
//     oldlib/ newlib/ raw/   empty, for the fingerprint, feature and raw files
//     seals.sqlite      the workstation's schema: one aspects row per aspect
//                       (kernel settings that suit its marks), algy rows of
//                       types tarvik and compnew_spot, and the photographs and
//                       extracts as the data folder names them (data_folder.h):
//                       image = ID + "_" + sighting, cell = image + "_" +
//                       aspect letter; sighting 1 of each animal pending (P)
//                       under a provisional ID, the others in the library (L)
//   corpus.txt          the truth: "cell animal role" per extract (the
//                       manifest format of corpus_writer.h)
// Animals are numbered across the aspects (aspect k has animals k*N+1 ..
// k*N+N), so that no ID is shared by two aspects' different animals.
//
// A sighting's pixels are a pure function of the seed, the aspect, the
// animal's number within its aspect and the sighting number: they do not
// change when animals or sightings are added (its cell name may, as IDs are
// numbered across the aspects).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/extract/shared_extract.h"

namespace velmora::corpus {

// How an aspect's marks are drawn.
enum class MarkStyle { kDarkDots, kLightDots, kRings, kReticulated, kDorsalBlotches };

// One aspect: its row of table aspects and the marks its animals carry.
struct ExtractAspect {
  const char* aspect;     // name
  const char* letter;     // aspect_letter: the last two characters of its cells
  const char* pattern;    // what processing looks for
  const char* cell_type;  // "lateral" or "Dorsal"
  const char* side;       // "L" for a flank, "M" for the midline
  MarkStyle style;
  int16_t from_r, to_r, step_r;
  int16_t from_theta_deg, to_theta_deg, step_theta_deg;
  double sigmax_ratio, sigmay;
  int16_t show_n_spots;
  bool left_right, all_green;
};

// The corpus's aspects, in the order of table aspects.
const std::vector<ExtractAspect>& extract_aspects();

inline constexpr char kExtractTarvikLetter[] = "a";
inline constexpr char kExtractSpotLetter[] = "s";
inline constexpr char kBundlesFolderName[] = "bundles";
inline constexpr char kExtractDataFolderName[] = "data";

struct ExtractCorpusOptions {
  int animals = 10;   // per aspect
  int sightings = 3;  // per animal: one pending, the others in the library
  uint64_t seed = 1;
};

// Empty when the options can make a corpus, else the reason.
std::string check_extract_options(const ExtractCorpusOptions& o);

// One animal's pelt over pelt coordinates (row, column in extract pixels; a
// sighting at rest sees 1..256), with a margin for the sightings' movement.
class ExtractPelt {
 public:
  static ExtractPelt make(const ExtractAspect& aspect, uint64_t seed);
  // Grey at pelt coordinates, bilinear between raster points, constant
  // beyond the raster.
  double grey(double row, double col) const;
  // The share of the frame at rest (rows and columns 1..256) that the marks
  // cover by more than 10 grey levels.
  double marked_share() const { return marked_share_; }
  // Red, green and blue relative to the grey; they average 1.
  const double* tint() const { return tint_; }

 private:
  std::vector<float> raster_;
  double marked_share_ = 0;
  double tint_[3] = {1, 1, 1};
};

// The blanked region of one sighting.
enum class BlankShape { kNone, kEdgePatch, kBand, kGlare };

// How one sighting sees the pelt. Shifts in pixels, angles in radians,
// brightness in grey levels.
struct ExtractView {
  double shift[2] = {0, 0};  // row, column
  double rotation = 0;
  double scale = 1;
  double bend[2] = {0, 0};  // amplitude of a slow sideways bend, per axis
  double bend_phase[2] = {0, 0};
  double gain = 1;
  double offset = 0;
  double ramp[2] = {0, 0};  // from the centre to the edge, per axis
  double bulge = 0;         // centre brighter (or darker) than the corners
  double balance[3] = {0, 0, 0};
  double noise = 0;
  BlankShape blank = BlankShape::kNone;
  double blank_params[6] = {0, 0, 0, 0, 0, 0};
};

ExtractView make_extract_view(uint64_t seed);

// The extract of one sighting: intensity, colour, blank mask and
// blank_edited; the other flags off.
extract::SharedExtract render_extract(const ExtractPelt& pelt, const ExtractView& view,
                                      uint64_t noise_seed);

// The pelt of animal `animal_number` (1-based, within its aspect) of aspect
// `aspect_index`, and the extract of its sighting `sighting`.
ExtractPelt extract_pelt(const ExtractCorpusOptions& o, int aspect_index, int animal_number);
extract::SharedExtract sighting_extract(const ExtractCorpusOptions& o, int aspect_index,
                                        const ExtractPelt& pelt, int animal_number, int sighting);

struct ExtractAspectSummary {
  std::string aspect, letter, pattern, cell_type;
  int animals = 0;
  int extracts = 0, pending = 0, library = 0;
  int blanked = 0;          // extracts with a blanked region
  double blank_share = 0;   // mean share of blank pixels, 0..1
  double marked_share = 0;  // mean marked share of the pelts, 0..1
};

struct ExtractCorpusSummary {
  std::vector<ExtractAspectSummary> aspects;
  std::string bundles, data_folder, database_path, truth;
};

// One line: name, letter, pattern, view and counts of an aspect.
std::string format_aspect_summary(const ExtractAspectSummary& s);

// Makes the corpus in `dir`, which must be absent or empty; the fingerprint
// paths the processing will write under DIR/data/oldlib/ must stay under the
// writer's 80 characters. Order: the bundles, the database, orlain.ini and
// last the truth. On failure the database file is removed (the folder and
// the bundles written so far are not).
Status write_extract_corpus(const std::string& dir, const ExtractCorpusOptions& o,
                            ExtractCorpusSummary* summary);

}  // namespace velmora::corpus

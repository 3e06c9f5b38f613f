// ExtractProcessing: the extract-processing pipeline from a ready extract to
// its saved files, headless. One instance per processing window (or per
// headless run); it owns the working images and the kernel bank and is
// reused for every extract.
//
//   set_up         once per aspect: settings, letters, folders; builds the
//                  kernel bank when the aspect's kernels changed
//   run_pipeline   load, detrend, transform, correlate; then either the
//                  extract is saved at once (no spot features) or the
//                  features are computed at the default average depth and
//                  the operator step follows
//   operator step  set_avg_depth, set_spot_limit, the spot edits,
//                  place_seeds, filter_preview
//   save           the files of the extract; the caller marks the row
//
// The window draws what the accessors return; nothing here paints. Notes
// for the operator (degenerate data that still left a usable result) are
// collected in notes() and cleared by run_pipeline.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/config/aspects.h"
#include "workstation/config/settings.h"
#include "workstation/extract/feature_file.h"
#include "workstation/extract/save_extract.h"
#include "workstation/extract/seeds.h"
#include "workstation/extract/shared_extract.h"
#include "workstation/extract/spot_list.h"
#include "workstation/extract/stripes.h"
#include "workstation/extract/wavelets.h"
#include "workstation/extract/work_images.h"
#include "workstation/session/algorithm_letters.h"

namespace velmora::extract {

// Border the wavelet correlation leaves untouched in the extraction modes.
inline constexpr int kExtractionMargin = 12;
// Start values of the operator's controls when the window opens.
inline constexpr int kDefaultFilterCutoff = 4;                  // hscFilter
inline constexpr const char* kDefaultTriangleMeasure = "5000";  // txtDet
// Range of hscAvgDepth: 100 at the left end, 1 at the right.
inline constexpr int kAvgDepthLeft = 100;
inline constexpr int kAvgDepthRight = 1;

struct ProcessingSetup {
  std::string aspect;  // name, for messages
  config::AspectSettings aspect_settings;
  config::Settings settings;
  session::AlgorithmLetters letters;
  std::string folders;         // data folder, ends in '/'
  std::string working_folder;  // where "anim.pgm" goes; ends in '/' or is empty
  int margin = kExtractionMargin;
  // The key-point generator the save runs (see save_extract.h); empty = the
  // save writes "anim.pgm" but makes no key file.
  KeyMaker make_keys;
};

class ExtractProcessing {
 public:
  ExtractProcessing();

  // Takes the aspect's settings. The kernel bank is rebuilt only when the
  // aspect or its kernel settings differ from the last call; a refused bank
  // (a loop that would not end, too many kernels) fails here, naming the
  // aspect, and leaves no bank.
  Status set_up(const ProcessingSetup& setup);
  const ProcessingSetup& setup() const { return setup_; }

  // The distance-to-blank map of `extract` into the working images (the
  // caller decides whether the map is wanted; reset_blank_distance puts it
  // back to the cap).
  void reset_blank_distance();
  void compute_blank_distance(const SharedExtract& extract);

  // The pipeline for one extract, up to the operator step. `extract` is
  // rotated in place for non-lateral aspects (its blank mask, as every later
  // step needs it). On return *operator_step says whether the operator
  // step follows; when false the extract is ready for save() at once.
  Status run_pipeline(SharedExtract& extract, const std::string& cell, bool* operator_step);

  // Operator step.
  Status set_avg_depth(int depth);  // re-runs the dots or stripes
  int avg_depth() const { return avg_depth_; }
  void set_spot_limit(int limit);  // clamped to 0..spot_limit_max()
  int spot_limit() const { return spot_limit_; }
  int spot_limit_max() const { return spot_limit_max_; }
  // picExtract clicks: left adds a spot (kind 3 with shift, else 1), right
  // removes the nearest shown one. Returns true when the list changed.
  bool click_extract(bool right_button, bool shift, int x, int y);
  // picProcess right click: the nearest shown spot may no longer be a seed
  // corner; the seeds are placed again. Returns true when a spot was marked.
  Status exclude_spot_at(int x, int y, bool* changed);
  // "place seeds" with the operator's minimum triangle measure (txtDet).
  Status place_seeds(const std::string& triangle_measure_text);
  bool seeds_placed() const { return seeds_placed_; }
  // hscFilter: the high-pass preview of the unrotated extract at `cutoff`,
  // rescaled to 1..254 when it is not flat.
  Status filter_preview(const SharedExtract& extract, int cutoff, std::vector<float>* preview);

  // The save step's files (raw image, "anim.pgm", feature file,
  // fingerprint) under their conditions. Fails naming the file that could
  // not be written; files written before it stay. The database row is the
  // caller's.
  Status save(const SharedExtract& extract, SaveReport* report);

  // What the save hands on, for checking: the 64 x 64 fingerprint image
  // (4096 bytes, row by row) and the key input ("anim.pgm").
  std::string fingerprint_block_bytes() const;
  std::string key_input_bytes() const;

  // What the window shows.
  const WorkImages& images() const { return images_; }
  const WaveletImage& wavelets() const { return wavelets_; }
  const StripeImages& stripe_images() const { return stripe_images_; }
  const std::vector<std::int16_t>& filled() const { return stripe_images_.filled; }
  const SpotList& spots() const { return spots_; }
  const SeedResult& seeds() const { return seeds_; }
  const std::string& cell() const { return cell_; }
  bool has_wavelets() const { return has_wavelets_; }
  bool stripe_pattern() const;
  const std::vector<std::string>& notes() const { return notes_; }

 private:
  Status compute_features();
  void add_note(const std::string& note);

  ProcessingSetup setup_;
  bool set_up_ = false;
  KernelBank bank_;
  WorkImages images_;
  WaveletImage wavelets_;
  bool has_wavelets_ = false;
  StripeImages stripe_images_;
  SpotList spots_;
  SeedResult seeds_;
  bool seeds_placed_ = false;
  std::string cell_;
  int avg_depth_ = kAvgDepthLeft;
  int spot_limit_ = 0;
  int spot_limit_max_ = 0;
  std::vector<std::string> notes_;
  int filter_cutoff_ = kDefaultFilterCutoff;                     // hscFilter, used by detrending
  std::string triangle_measure_text_ = kDefaultTriangleMeasure;  // txtDet of the last seeds
  std::vector<std::int16_t> blank_mask_;  // the extract's blank mask, as rotated by loading
  WorkImages preview_;                    // the filter preview's own buffers
};

}  // namespace velmora::extract

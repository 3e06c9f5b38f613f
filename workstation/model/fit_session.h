// The fitting window's work without the window: one photograph of one cell,
// from the model's start-up through the crop, the marks, "Initial Fit",
// "Fit" and "Extract". The window (or a test) drives it with positions in
// work-picture pixels and shows what it reports.
//
// What "OK" stores (the fit and blank files, the database record) is built
// elsewhere from the plain data this session exposes: the marks, the crop
// record, the picked surface points, the model's parameters and the last
// surface ray.
#pragma once

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "libs/fennick/fennick_records.h"
#include "libs/fennick/model_file.h"
#include "workstation/common/status.h"
#include "workstation/config/aspects.h"
#include "workstation/config/settings.h"
#include "workstation/extract/shared_extract.h"
#include "workstation/model/photo.h"
#include "workstation/model/sample_extract.h"

namespace velmora::model {

struct SessionSetup {
  std::string cell;  // the record's cell name, named in every message
  std::string aspect;
  config::AspectSettings aspect_settings;
  config::Settings settings;
  std::filesystem::path data_folder;     // holds the model definition file
  std::filesystem::path working_folder;  // holds rot_xy.dat
  int32_t stiffness = 1000;              // the stiffness slider, 0..1000
};

enum class MarkList { kTop, kBottom, kMidline };

// Markers the window offers per list.
inline constexpr int kTopMarkers = 50;
inline constexpr int kBottomMarkers = 50;
inline constexpr int kMidlineMarkers = 30;

// The pose Initial Fit starts from, and its lock code.
struct InitialPose {
  double p0 = 0, p1 = 0, p2 = 0, p3 = 0, p4 = 0;
  int32_t lock_code = 0;
};

// Initial Fit's start for a lateral aspect. `hind_leg_angles` (the flank's
// fitted orientation, rot_xy.dat) is read only for the "HindLeg" aspect.
InitialPose lateral_initial_pose(const std::string& aspect, bool dorsal_midline, bool facing,
                                 bool lock_roll, bool lock_yaw, const double hind_leg_angles[3]);

// Reads the three angles of rot_xy.dat in `folder`; a missing file reads as
// 0, 0, 0 (and is not created); a short one or one holding a value that is
// not a number is refused.
Status read_rot_xy(const std::filesystem::path& folder, double angles[3]);

class FitSession {
 public:
  // Window start-up: reads the aspect's model definition file (a missing or
  // empty one stops here), resets the model with the aspect's code, sets the
  // fit controls and the lock boxes.
  static Status open(const SessionSetup& setup, std::unique_ptr<FitSession>* session);
  const SessionSetup& setup() const { return setup_; }

  // ---- crop and work picture ----
  Status crop(const Photo& photo, const CropRequest& request, int work_width, int work_height);
  const Photo& work_picture() const { return work_; }
  const CropRecord& crop_record() const { return crop_.record; }
  double crop_scale() const { return crop_.crop_scale; }
  // The blanking brush: a pure blue square of half-side `half` (3..25).
  void paint_blank_square(int x, int y, int half);
  // Puts back a saved copy of the work picture (the brush's undo, from the
  // picture saved at the crop); it must be the work picture's size.
  Status restore_work_picture(const Photo& picture);

  // ---- special points ----
  int special_count() const;
  // Point i's name as the model file gives it, and its label: the name
  // without its first and last characters, left and right turned into near
  // and far once the animal's facing is known.
  std::string special_name(int i) const;
  std::string special_label(int i) const;
  Status place_special_point(int i, int x, int y);
  Status remove_special_point(int i);
  bool facing() const { return facing_; }
  bool facing_known() const;
  // The extraction's side options: forces the facing flag.
  void set_facing(bool facing) { facing_ = facing; }

  // ---- edge points and midline ----
  Status add_mark(MarkList list, int x, int y);
  Status move_mark(MarkList list, int index, int x, int y);
  void clear_marks(MarkList list);
  int mark_count(MarkList list) const;
  // Where marker `index` of the list stands now (the top and bottom lists
  // of marked_points() hold the positions of the last Fit instead).
  fennick::ScreenPoint mark_position(MarkList list, int index) const;

  // Reads another model definition file from the data folder in place of
  // the aspect's (the window's keys for the head views), leaving the marks
  // where they are; from then on the session works as if the aspect named
  // that file and was `unordered` (edge lists left and right instead of top
  // and bottom). A missing, unreadable or empty file is refused and the
  // current model kept.
  Status switch_model_file(const std::string& model_fname, bool unordered);
  bool unordered() const { return !ordered(); }

  // ---- fitting ----
  // The stiffness slider (0..1000), read by the next fit.
  void set_stiffness(int32_t value) { marks_->trailing[3] = std::clamp(value, 0, 1000); }
  void set_auto_order(bool on) { auto_order_ = on; }
  void set_lock_roll(bool on) { lock_roll_ = on; }
  void set_lock_yaw(bool on) { lock_yaw_ = on; }
  bool lock_roll() const { return lock_roll_; }
  bool lock_yaw() const { return lock_yaw_; }
  double widths() const { return widths_; }
  void set_widths(double widths) { widths_ = widths; }

  Status initial_fit();
  // Builds the closed outline and fits. `warnings` receives "acute angle"
  // for each sharp turn of the outline (the fit goes on).
  Status fit(std::vector<std::string>* warnings);

  // ---- extraction ----
  // Picks a surface point at a work-picture position (after an extraction,
  // with adjust_extract -1, -2 or -3): P1 with Shift, else P2. `faces_away`
  // tells whether the point is on the far side (the window beeps).
  Status pick_surface_point(int x, int y, bool shift, bool* faces_away);
  Status extract(extract::SharedExtract* cell, double max_angle = 90);
  bool fitted() const { return fitted_; }
  bool extracted() const { return extracted_; }
  // Retrieve brings back the points picked before.
  void set_picked_points(const PickedPoints& picked) { picked_ = picked; }

  // ---- what the window draws (work-picture pixels) ----
  // The model's visible wireframe as segments: points 2k and 2k + 1.
  std::vector<fennick::ScreenPoint> model_lines() const;
  // Where surface point (y, theta) lies on the work picture.
  Status surface_to_screen(double y, double theta, fennick::ScreenPoint* point) const;
  // Special point i's surface position (from the model file) on the picture.
  Status special_point_on_model(int i, fennick::ScreenPoint* point) const;
  // The outline of the last extraction's sampling grid: one pixel outside
  // each of its four borders (the first and last row one pixel up and down,
  // the first and last column one pixel left and right), walking
  // 256 x oversampling grid entries along each border. Empty before an
  // extraction.
  std::vector<fennick::ScreenPoint> grid_outline() const;
  const SamplingResult& last_extract() const { return last_extract_; }
  const fennick::SamplingCorners& corners() const { return corners_; }

  // ---- what OK stores ----
  const fennick::MarkedPoints& marked_points() const { return *marks_; }
  const PickedPoints& picked_points() const { return picked_; }
  // The ray of the most recent find_ray (patch centre or picked point).
  const fennick::RayRecord& last_ray() const { return last_ray_; }
  // The model's parameters after the last successful reset or fit.
  const fennick::ModelParms& model_parms() const { return parms_; }
  char side_letter() const { return facing_ ? 'R' : 'L'; }

  const fennick::ModelRecord& model() const { return *model_; }
  const fennick::FitControl& control() const { return control_; }
  const fennick::FitParams& params() const { return params_; }
  const fennick::ModelDefinition& definition() const { return definition_; }

 private:
  FitSession() = default;
  bool ordered() const { return !setup_.aspect_settings.no_order; }
  Status run_fit(int initial, int refine, const char* what);
  void build_outline(std::vector<std::string>* warnings);

  SessionSetup setup_;
  std::unique_ptr<fennick::ModelRecord> model_ = std::make_unique<fennick::ModelRecord>();
  std::unique_ptr<fennick::MarkedPoints> marks_ = std::make_unique<fennick::MarkedPoints>();
  std::unique_ptr<fennick::GridPositions> grid_;
  fennick::FitControl control_{};
  fennick::FitParams params_{};
  fennick::ModelParms parms_{};
  fennick::ModelDefinition definition_;
  Photo work_;
  Crop crop_;
  // The edge markers where the operator left them; the lists in marks_ are
  // rebuilt from them before each Fit.
  std::vector<fennick::ScreenPoint> top_, bottom_;
  bool facing_ = false;
  bool auto_order_ = false;
  bool lock_roll_ = false, lock_yaw_ = false;
  double widths_ = 100;
  bool fitted_ = false;
  bool extracted_ = false;
  PickedPoints picked_;
  fennick::RayRecord last_ray_{};
  fennick::SamplingCorners corners_{};
  SamplingResult last_extract_;
};

}  // namespace velmora::model

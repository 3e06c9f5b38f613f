// Extraction of the cell: the patch of the body's surface to sample (its
// four corners in (Y, theta)), and the sampling of the work picture over a
// 256 x 256 grid on that patch into the shared extract.
#pragma once

#include <string>

#include "libs/fennick/fennick_records.h"
#include "libs/fennick/model_file.h"
#include "workstation/common/status.h"
#include "workstation/extract/shared_extract.h"
#include "workstation/model/photo.h"

namespace velmora::model {

// PickedPoints (fit_records.h): the surface points the operator picked
// after an extraction, P1 = (y1, theta1), P2 = (y2, theta2).

// What decides the patch.
struct CornerChoice {
  std::string aspect;
  std::string model_file;  // the aspect's model definition file name
  bool facing = false;     // tail base left of the sternum
  int adjust_extract = 0;  // 0, -1, -2 or -3
  fennick::SurfaceRange range1;
  fennick::SurfaceRange range2;
  PickedPoints picked;
};

// The aspects whose patch is range 2 whichever way the animal faces.
bool is_box_aspect(const std::string& aspect);

// The four corners of the patch. Fails only when the two points that frame
// a head patch coincide (no direction to lay the patch along).
Status choose_corners(const CornerChoice& choice, fennick::SamplingCorners* corners);

struct SamplingRequest {
  std::string cell;  // named in messages
  const Photo* picture = nullptr;
  const fennick::ModelRecord* model = nullptr;
  const fennick::FitControl* control = nullptr;
  std::string cell_type;  // "lateral", "Dorsal", ...
  bool facing = false;
  bool yellow_black = false;
  double max_angle = 90;  // degrees off square beyond which the pelt is blank
};

struct SamplingResult {
  fennick::RayRecord centre_ray{};  // find_ray at the patch's centre, for OK
  float mean_grey = 0;              // of the usable pixels
  int blank_count = 0;
};

// Samples the picture over the patch into `out` and sets its ExtractReady.
// The blank mask is kept when `out` says it was retrieved. `grid` receives
// the picture positions of the grid. When every pixel is blank, or a call
// of the body model fails, `out` is left as it was.
Status sample_extract(const SamplingRequest& request, const fennick::SamplingCorners& corners,
                      fennick::GridPositions* grid, extract::SharedExtract* out,
                      SamplingResult* result);

}  // namespace velmora::model

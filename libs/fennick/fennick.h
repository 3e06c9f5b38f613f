// fennick: the body-model library the fitting window calls.
//
// The calls keep the argument order the window uses; records are passed by
// reference and filled in place (layouts in fennick_records.h). The body,
// its surface coordinates and the camera are described in body_model.h; the
// model's pose and deformations live inside the ModelRecord
// (model_state.h), so every call sees the pose of the last reset or fit of
// that record. Each call returns kFennickOk or a failure code and, after a
// failure, fennick_last_message() says what went wrong; a failed call leaves
// its output records as they were.
//
// FitParams (71 doubles), as this library reads them at a reset and a fit
// and writes them back after a fit:
//   0, 1, 2   orientation angles p0, p1, p2 (radians)
//   3, 4      picture position of the model origin (pixels); written after a
//             fit, never read (the initial fit places the model from the marks)
//   5         scale, pixels per model unit (0 reads as 1)
//   6         body width in percent (0 reads as 100)
//   7 ...     the knot values of the groups, group after group, knots 1 to
//             k-1 of each (knot 0 keeps its rest value): group 0 from 7,
//             group 1 from k0 + 6, group 2 from k0 + k1 + 5, group 3 from
//             k0 + k1 + k2 + 4. Girth values are factors (0 reads as 1).
//
// ModelParms (16 doubles): 0, 1, 2 the angles; 3, 4 the picture position;
// 5 the scale (pixels per model unit); 6 the body width in percent; 7 the
// rms distance of the last fit's marks (pixels); 8 its iterations; 9 its
// result code; 10 the belly bulge; 11 the model code; the rest zero.
//
// RayRecord (16 doubles): 0, 1 the picture position (pixels); 2 the depth
// along the line of sight (pixels, larger is farther); 3, 4, 5 the surface
// point in the model frame; 6, 7 Y and theta; 8, 9, 10 the unit surface
// normal in camera axes (x right, y down, z away from the camera, so 10 > 0
// means the point faces away); 11 the cosine between the normal and the
// direction to the camera (-element 10); 12 1 when Y lies on the body (first
// to last profile position), else 0; 13 to 15 zero.
//
// Threads: the calls may be made from any thread; each thread keeps its own
// cache of the body it evaluated last (rebuilt when the record changes), and
// get_model_parms reports the last reset or fit made by any thread.
#pragma once

#include <cstdint>
#include <string>

#include "libs/fennick/fennick_records.h"

namespace velmora::fennick {

inline constexpr int32_t kFennickOk = 0;
// A record holds something the call cannot take: a count beyond its
// capacity, a value that is not finite, an unknown lock code, a grid
// larger than GridPositions.
inline constexpr int32_t kFennickBadArguments = 1;
// The ModelRecord does not describe a body (see Body::build).
inline constexpr int32_t kFennickBadModel = 2;
// Too few marks to fit: the initial fit needs two placed special points,
// the fit two special points or four edge points.
inline constexpr int32_t kFennickTooFewMarks = 3;
// The fit did not converge (or met a value that is not finite on the way);
// the model keeps its previous pose and shape.
inline constexpr int32_t kFennickNotConverged = 4;

// Text of the last failure of a call on this thread ("" after a success).
std::string fennick_last_message();

// The model takes its default pose and shape: angles, scale, body width and
// knot values from FitParams (above), its position at the picture's origin.
// `one` and `zero` (the window passes 1 and 0), the marks and the controls
// are not read. `model_code` is kept and reported in ModelParms[11]; this
// library has one kind of body, defined wholly by the model file.
int32_t reset_model_parameters(ModelRecord& model, MarkedPoints& marks, FitControl& control,
                               int32_t one, int32_t zero, FitParams& params, int32_t model_code);

// Fits pose and shape to the marks (method, terms and lock code in fit.h).
// initial 1: "Initial Fit", a coarse pose from the special points and the
// midline, starting from the angles in FitParams[0..2] and the body width in
// FitParams[6]; refine 1: "Fit", pose and shape from the current pose with
// the edge lists as the window builds them before each Fit. Both may be set
// (initial first); neither does nothing. The window handle and `zero` are
// not read. On success the record holds the new pose and shape, FitParams
// mirrors them (elements above), control.fit_iterations holds the
// iterations taken and ModelParms reports them. On failure the record,
// FitParams and the controls are left as they were.
int32_t fit_to_known_points(ModelRecord& model, MarkedPoints& marks, FitControl& control,
                            int32_t initial, int32_t refine, int32_t window, int32_t zero,
                            FitParams& params);

// Fills ModelParms with the pose of the last reset or fit.
int32_t get_model_parms(ModelParms& parms);

// The wireframe and outline of the body as segments (points 2k, 2k + 1) in
// picture pixels: rings across the body, lines along it, and the outline.
// With `visible_only` 1 a segment is kept only when both its ends face the
// camera (the outline always). Returns the number of points written (even,
// at most kMaxModelLinePoints), 0 after a failure.
int32_t get_model_lines(const ModelRecord& model, ModelLines& lines, int32_t visible_only);

// The picture position of surface point (y, theta), rounded to whole pixels
// (halves to even). The scratch record receives the unrounded x, y and depth
// as three doubles at its start.
int32_t y_theta_to_screen(const ModelRecord& model, const FitControl& control, double y,
                          double theta, ScreenScratch& scratch, ScreenPoint& point);

// The picture positions of a columns x rows grid over the patch of the
// corners: cell (k, j), both from 1, holds the position of
// start + (end - start) u with start = P00 + (P10 - P00) t, end = P01 +
// (P11 - P01) t, t = (j - 1) / (rows - 1), u = (k - 1) / (columns - 1).
// With control.oversampling 2 the cells up to 2 columns and 2 rows repeat
// the last column and row, so that a walk along a border of the larger grid
// stays on the patch's border. Columns and rows from 2 to 320.
int32_t get_sampling_positions(const ModelRecord& model, const FitControl& control, int32_t columns,
                               int32_t rows, const SamplingCorners& corners, GridPositions& grid);

// Everything about surface point (y, theta) as the camera sees it (RayRecord
// above).
int32_t find_ray(const ModelRecord& model, const FitControl& control, double y, double theta,
                 RayRecord& ray);

}  // namespace velmora::fennick

// Fitting the body model to the operator's marks.
//
// The fit is weighted least squares, solved by Levenberg-Marquardt with the
// correspondences between marks and model renewed after every step (so
// each step is a smooth problem, and the whole a closest-point fit):
//
//   special points  each placed point against the picture position of its
//                   surface coordinate, weighted by its file weight
//   midline         each midline mark's distance to the surface line the
//                   camera sees most squarely (the dorsal midline of a view
//                   from above, the flank's middle of a lateral one)
//   edges           each top or bottom mark's distance to the model's outline
//                   (Fit only; the closing points the window appends are
//                   taken off first, outline.h)
//   overspill       the model's outline where it leaves the polygon of the
//                   marked edges, within the stretch of body the edges cover
//   priors (Fit)    mag: bends and girth away from their rest values;
//                   stiff: their second differences along the body; twist:
//                   the twist; thin: the body width and belly away from their
//                   starting values
//
// Each term is a mean over its points, distances in units of 1% of the marks'
// extent, so the eight scale weights of FitControl (0 read as 1) balance the
// terms whatever the picture's size or the number of marks. The per-mille
// integers at the end of MarkedPoints multiply the top edge, bottom edge,
// midline, priors and special-point terms.
//
// "Initial Fit" finds a coarse pose from the special points and the midline
// (the edge lists are not up to date then): the two-point similarity of the
// placed special points gives the turn in the picture, the scale and the
// position, and Levenberg-Marquardt runs from that start with the
// out-of-picture angles spread round their starting values; the best wins.
// "Fit" refines pose and shape from the current pose with every term.
//
// Marks that lie only on the body's plane of symmetry and its outline (the
// tail base, the sternum, the edges) fit a side view and its mirror image,
// roll and yaw negated, equally well; from such marks both fits keep roll
// and yaw at their starting values (as though locked) while the start is
// near its own mirror image (a side view). A midline, or a placed special
// point off the plane (a shoulder, a hip), frees them.
//
// Lock code: its decimal digits name the angles kept at their starting
// values: 1 the turn about the picture's vertical (p1: yaw of a lateral view,
// pitch of one from above), 2 the turn about the picture's horizontal (p0:
// roll), 3 adds nothing (the turn within the picture is always fitted: the
// picture shows it directly).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "libs/fennick/body_model.h"
#include "libs/fennick/fennick_records.h"
#include "libs/fennick/model_state.h"

namespace velmora::fennick {

inline constexpr int32_t kFitTooFewMarks = 3;
inline constexpr int32_t kFitNotConverged = 4;

struct FitRequest {
  const ModelRecord* model = nullptr;  // the special points' surface coordinates
  const MarkedPoints* marks = nullptr;
  const FitControl* control = nullptr;
  bool initial = false;
  bool refine = false;
  // Initial fit only: the starting angles (locked ones stay there) and body
  // width factor.
  std::array<double, 3> start_angles{0, 0, 0};
  double start_width = 1;
  int max_iterations = 100;  // per run of Levenberg-Marquardt
};

// Fits `start` to the marks. On success (0) `fitted` holds the new pose and
// shape with its report; otherwise a code of fennick.h or above, a message,
// and `fitted` untouched.
int32_t fit_model(const Body& body, const ModelState& start, const FitRequest& request,
                  ModelState* fitted, std::string* message);

// Decimal digits of a lock code: whether p0 and p1 are kept; false for a
// code that is negative or holds a digit other than 1, 2, 3.
bool read_lock_code(int32_t code, std::array<bool, 3>* locked);

}  // namespace velmora::fennick

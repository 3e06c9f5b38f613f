// The body model's pose and deformations, kept inside the ModelRecord.
//
// The workstation hands the same ModelRecord to every call, so the library
// keeps what it fits there, in the parts the workstation never writes:
//
//   knot i's value of group g       groups[g].knots[2i + 1]
//   knot i's rest value of group g  groups[g].library[26 + i]
//   the pose and the last fit       groups[0].library[0..14]:
//     0 mark (kStateMark once reset), 1..3 the angles, 4, 5 the picture
//     position, 6 the scale, 7 the body width, 8 the belly, 9 the model
//     code, 10 the body width the priors pull towards, 11 the rms distance
//     of the last fit (pixels), 12 its iterations, 13 its result code
//
// A record never reset carries no mark and reads as the rest pose and shape.
#pragma once

#include <cstdint>

#include "libs/fennick/body_model.h"
#include "libs/fennick/fennick_records.h"

namespace velmora::fennick {

inline constexpr double kStateMark = 4660.0078125;

struct FitReport {
  double rms = 0;  // pixels
  int32_t iterations = 0;
  int32_t result = 0;
};

struct ModelState {
  Pose pose;
  Shape shape;
  Shape rest;  // what the shape priors pull towards
  int32_t model_code = 0;
  FitReport last_fit;
};

// The state the record holds for `body`: false (and the rest state) when the
// record was never reset or holds values the body cannot take.
bool load_state(const ModelRecord& model, const Body& body, ModelState* state);
void store_state(const ModelState& state, ModelRecord* model);

}  // namespace velmora::fennick

// The state inside the ModelRecord (model_state.h).
#include "libs/fennick/model_state.h"

#include <cmath>

namespace velmora::fennick {
namespace {

constexpr int kRestBase = 26;

}  // namespace

bool load_state(const ModelRecord& model, const Body& body, ModelState* state) {
  ModelState s;
  s.shape = body.rest_shape();
  s.rest = s.shape;
  *state = s;
  const KnotGroup& g0 = model.groups[0];
  if (g0.library[0] != kStateMark) return false;
  for (int i = 0; i < 3; ++i) s.pose.angles[i] = g0.library[1 + i];
  s.pose.x = g0.library[4];
  s.pose.y = g0.library[5];
  s.pose.scale = g0.library[6];
  s.shape.body_width = g0.library[7];
  s.shape.belly = g0.library[8];
  s.model_code = static_cast<int32_t>(g0.library[9]);
  s.rest.body_width = g0.library[10];
  s.last_fit = {g0.library[11], static_cast<int32_t>(g0.library[12]),
                static_cast<int32_t>(g0.library[13])};
  for (int g = 0; g < kKnotGroups; ++g)
    for (int i = 0; i < body.knot_count(g); ++i) {
      s.shape.knots[g][i] = model.groups[g].knots[2 * i + 1];
      s.rest.knots[g][i] = model.groups[g].library[kRestBase + i];
    }
  bool usable = std::isfinite(s.pose.x) && std::isfinite(s.pose.y) && std::isfinite(s.pose.scale) &&
                s.pose.scale > 0;
  for (double a : s.pose.angles) usable = usable && std::isfinite(a);
  // Both shapes must be ones the body can take.
  Body probe = body;
  usable = usable && probe.set_shape(s.rest).ok() && probe.set_shape(s.shape).ok();
  if (!usable) return false;
  *state = s;
  return true;
}

void store_state(const ModelState& s, ModelRecord* model) {
  KnotGroup& g0 = model->groups[0];
  g0.library[0] = kStateMark;
  for (int i = 0; i < 3; ++i) g0.library[1 + i] = s.pose.angles[i];
  g0.library[4] = s.pose.x;
  g0.library[5] = s.pose.y;
  g0.library[6] = s.pose.scale;
  g0.library[7] = s.shape.body_width;
  g0.library[8] = s.shape.belly;
  g0.library[9] = s.model_code;
  g0.library[10] = s.rest.body_width;
  g0.library[11] = s.last_fit.rms;
  g0.library[12] = s.last_fit.iterations;
  g0.library[13] = s.last_fit.result;
  for (int g = 0; g < kKnotGroups; ++g)
    for (std::size_t i = 0; i < s.shape.knots[g].size() && i < kMaxKnots; ++i) {
      model->groups[g].knots[2 * i + 1] = s.shape.knots[g][i];
      model->groups[g].library[kRestBase + i] = s.rest.knots[g][i];
    }
}

}  // namespace velmora::fennick

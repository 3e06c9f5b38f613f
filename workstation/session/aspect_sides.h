// The walk over aspects and sides that every comparison step shares.
//
// Aspects are taken in the order of the aspect list up to the first one
// named "Skin" (the aspects after it are never compared); a lateral aspect
// is compared on its two sides, "L" and "R", any other on "M". Which
// cell_type makes an aspect lateral depends on the family: "lateral" for
// most, "lateral" or "Lateral" for the key-point comparison. Under "use
// multiple cores" a workstation copy takes only the aspect and side chosen
// for it, so several copies can share the work.
#pragma once

#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/session/run_state.h"

namespace velmora::session {

struct AspectSide {
  const config::AspectEntry* entry;  // points into the run's aspect list
  std::string side;                  // "L", "R" or "M" (the run's side letters)
};

// The cell_type values that make an aspect lateral.
enum class LateralTypes {
  kLateral,           // "lateral" only
  kLateralOrCapital,  // "lateral" or "Lateral"
};
bool is_lateral(const std::string& cell_type, LateralTypes types);

// Every aspect and side of the walk, whatever the options say.
std::vector<AspectSide> all_aspect_sides(const RunState& state,
                                         LateralTypes types = LateralTypes::kLateral);

// The aspects and sides this run takes: all of them, or under "use multiple
// cores" only the chosen one.
std::vector<AspectSide> aspect_sides(const RunState& state,
                                     LateralTypes types = LateralTypes::kLateral);

// Under "use multiple cores", InvalidArgument when the chosen aspect and
// side are not part of any family's walk (a copy that took them would
// compare nothing and report success). An aspect of cell_type "Lateral" is
// walked on "M" by most families and on "L" and "R" by the key points, so
// any of the three is accepted for it.
Status check_chosen_aspect_side(const RunState& state);

}  // namespace velmora::session

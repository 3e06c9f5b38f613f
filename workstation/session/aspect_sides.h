// The walk over aspects and sides that every comparison step shares.
//
// Aspects are taken in the order of the aspect list up to the first one
// named "Skin" (the aspects after it are never compared); a lateral aspect
// is compared on its two sides, "L" and "R", any other on "M". Under "use
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

// Every aspect and side of the walk, whatever the options say.
std::vector<AspectSide> all_aspect_sides(const RunState& state);

// The aspects and sides this run takes: all of them, or under "use multiple
// cores" only the chosen one.
std::vector<AspectSide> aspect_sides(const RunState& state);

// Under "use multiple cores", InvalidArgument when the chosen aspect and
// side are not part of the walk (a copy that took them would compare
// nothing and report success).
Status check_chosen_aspect_side(const RunState& state);

}  // namespace velmora::session

// The aspect and side walk (see aspect_sides.h).
#include "workstation/session/aspect_sides.h"

namespace velmora::session {

std::vector<AspectSide> all_aspect_sides(const RunState& state) {
  std::vector<AspectSide> walk;
  const config::AspectList& list = state.aspects();
  for (int i = 0; i < list.count; ++i) {
    const config::AspectEntry& entry = list.entries[i];
    if (entry.aspect == "Skin") break;
    if (entry.cell_type == "lateral") {
      walk.push_back({&entry, state.side_letters[0]});
      walk.push_back({&entry, state.side_letters[1]});
    } else {
      walk.push_back({&entry, state.side_letters[2]});
    }
  }
  return walk;
}

std::vector<AspectSide> aspect_sides(const RunState& state) {
  std::vector<AspectSide> walk = all_aspect_sides(state);
  const RunOptions& o = state.options;
  if (!o.multi_core) return walk;
  std::vector<AspectSide> chosen;
  for (const AspectSide& a : walk) {
    if (a.entry->aspect == o.chosen_aspect && a.side == o.chosen_side) chosen.push_back(a);
  }
  return chosen;
}

Status check_chosen_aspect_side(const RunState& state) {
  const RunOptions& o = state.options;
  if (!o.multi_core) return Status::Ok();
  const config::AspectList& list = state.aspects();
  for (int i = 0; i < list.count; ++i) {
    const config::AspectEntry& e = list.entries[i];
    if (e.aspect == "Skin") break;
    if (e.aspect != o.chosen_aspect) continue;
    const bool lateral = e.cell_type == "lateral";
    if ((lateral && (o.chosen_side == "L" || o.chosen_side == "R")) ||
        (!lateral && o.chosen_side == "M")) {
      return Status::Ok();
    }
    return Status::InvalidArgument("Aspect " + o.chosen_aspect + " has no side " + o.chosen_side +
                                   " (" + (lateral ? "lateral: L or R" : "not lateral: M") + ").");
  }
  return Status::InvalidArgument("The database has no aspect " + o.chosen_aspect +
                                 " before \"Skin\" in its aspects table.");
}

}  // namespace velmora::session

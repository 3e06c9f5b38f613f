// The aspect and side walk (see aspect_sides.h).
#include "workstation/session/aspect_sides.h"

namespace velmora::session {

bool is_lateral(const std::string& cell_type, LateralTypes types) {
  return cell_type == "lateral" ||
         (types == LateralTypes::kLateralOrCapital && cell_type == "Lateral");
}

std::vector<AspectSide> all_aspect_sides(const RunState& state, LateralTypes types) {
  std::vector<AspectSide> walk;
  const config::AspectList& list = state.aspects();
  for (int i = 0; i < list.count; ++i) {
    const config::AspectEntry& entry = list.entries[i];
    if (entry.aspect == "Skin") break;
    if (is_lateral(entry.cell_type, types)) {
      walk.push_back({&entry, state.side_letters[0]});
      walk.push_back({&entry, state.side_letters[1]});
    } else {
      walk.push_back({&entry, state.side_letters[2]});
    }
  }
  return walk;
}

std::vector<AspectSide> aspect_sides(const RunState& state, LateralTypes types) {
  std::vector<AspectSide> walk = all_aspect_sides(state, types);
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
    const bool either = e.cell_type == "Lateral";
    const bool flank_side = o.chosen_side == "L" || o.chosen_side == "R";
    if (((lateral || either) && flank_side) || (!lateral && o.chosen_side == "M")) {
      return Status::Ok();
    }
    return Status::InvalidArgument("Aspect " + o.chosen_aspect + " has no side " + o.chosen_side +
                                   " (" +
                                   (lateral  ? "lateral: L or R"
                                    : either ? "Lateral: L, R or M"
                                             : "not lateral: M") +
                                   ").");
  }
  return Status::InvalidArgument("The database has no aspect " + o.chosen_aspect +
                                 " before \"Skin\" in its aspects table.");
}

}  // namespace velmora::session

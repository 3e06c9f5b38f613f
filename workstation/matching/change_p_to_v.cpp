// Moving compared extracts from P to V (see change_p_to_v.h).
#include "workstation/matching/change_p_to_v.h"

#include <memory>
#include <string>

#include "workstation/db/auto_match.h"
#include "workstation/db/database.h"

namespace velmora::matching {

Status ChangePtoV(session::RunState& state, ChangePtoVSummary* summary) {
  ChangePtoVSummary local;
  ChangePtoVSummary* sum = summary != nullptr ? summary : &local;
  *sum = ChangePtoVSummary{};
  if (!state.ready_to_compare()) {
    return Status::InvalidArgument(
        "Moving compared extracts to the visual check needs an open database, the statements and "
        "the side letters Start prepares.");
  }
  if (state.compared_pending.empty()) return Status::Ok();
  std::unique_ptr<db::Statement> move;
  Status s = state.db()->prepare(
      "ChangePtoV", "UPDATE cells SET AutoMatch = :pTo WHERE cell = :pCell AND AutoMatch = :pFrom",
      &move);
  if (!s.ok()) return s;
  db::Transaction tx(state.db());
  if (!tx.begun().ok()) return tx.begun();
  int64_t moved = 0;
  for (const std::string& cell : state.compared_pending) {
    int changed = 0;
    s = move->set("pTo", db::to_string(db::AutoMatch::kVisual));
    if (s.ok()) s = move->set("pFrom", db::to_string(db::AutoMatch::kPending));
    if (s.ok()) s = move->set("pCell", cell);
    if (s.ok()) s = move->execute(&changed);
    if (!s.ok()) return s;
    moved += changed;
  }
  s = tx.commit();
  if (!s.ok()) return s;
  sum->moved = moved;
  state.compared_pending.clear();
  return Status::Ok();
}

}  // namespace velmora::matching

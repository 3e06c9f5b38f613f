// Moving compared extracts from P to V (see change_p_to_v.h).
#include "workstation/matching/change_p_to_v.h"

#include <string>

#include "workstation/db/auto_match.h"
#include "workstation/db/statements.h"
#include "workstation/session/aspect_sides.h"

namespace velmora::matching {
namespace {

// One aspect and side: at most the batch size of rows of the pending list
// become V.
Status move_side(session::RunState& state, const config::AspectEntry& entry,
                 const std::string& side, int64_t* moved) {
  const session::RunOptions& o = state.options;
  db::Statement* st = state.statement(o.real_time ? "pending_cell" : "pending_cells");
  Status s = st->set("pAspect_letter", entry.aspect_letter);
  if (s.ok()) s = st->set("pSide", side);
  if (s.ok() && o.real_time) s = st->set("pCell", state.current_cell);
  db::RecordSet rows;
  if (s.ok()) s = st->open(&rows, db::kEditSource, db::kEditKey);
  if (!s.ok()) return s;

  db::Transaction tx(state.db());
  if (!tx.begun().ok()) return tx.begun();
  int changed = 0;
  for (rows.move_first(); changed < o.batch_size && !rows.eof(); rows.move_next()) {
    rows.edit("AutoMatch", db::to_string(db::AutoMatch::kVisual));
    s = rows.update();
    if (!s.ok()) return s;
    ++changed;
  }
  s = tx.commit();
  if (!s.ok()) return s;
  *moved += changed;
  return Status::Ok();
}

Status check_ready(const session::RunState& state) {
  if (state.ready_to_compare()) return Status::Ok();
  return Status::InvalidArgument(
      "Moving compared extracts to the visual check needs an open database, the statements and "
      "the side letters Start prepares.");
}

}  // namespace

Status ChangePtoV(session::RunState& state, ChangePtoVSummary* summary) {
  ChangePtoVSummary local;
  ChangePtoVSummary* sum = summary != nullptr ? summary : &local;
  *sum = ChangePtoVSummary{};
  Status s = check_ready(state);
  if (!s.ok()) return s;
  for (const session::AspectSide& walk : session::aspect_sides(state)) {
    s = move_side(state, *walk.entry, walk.side, &sum->moved);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

Status ChangePtoV_for_side(session::RunState& state, const config::AspectEntry& entry,
                           const std::string& side, ChangePtoVSummary* summary) {
  Status s = check_ready(state);
  if (!s.ok()) return s;
  return move_side(state, entry, side, &summary->moved);
}

}  // namespace velmora::matching

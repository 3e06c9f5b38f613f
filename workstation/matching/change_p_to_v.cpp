// Moving compared extracts from P to V (see change_p_to_v.h).
#include "workstation/matching/change_p_to_v.h"

#include <string>
#include <vector>

#include "workstation/common/control_panel.h"
#include "workstation/db/auto_match.h"
#include "workstation/db/statements.h"
#include "workstation/runs/start_driver.h"

namespace velmora::matching {
namespace {

// One aspect and side: at most `batch` rows of the pending list become V.
Status move_side(runs::RunContext& ctx, const config::AspectEntry& entry, const std::string& side,
                 bool real_time, int batch, int64_t* moved) {
  db::Statement* st = ctx.statement(real_time ? "pending_cell" : "pending_cells");
  Status s = st->set("pAspect_letter", entry.aspect_letter);
  if (s.ok()) s = st->set("pSide", side);
  if (s.ok() && real_time) s = st->set("pCell", ctx.extraction.current_image_row.text("cell"));
  db::RecordSet rows;
  if (s.ok()) s = st->open(&rows, db::kEditSource, db::kEditKey);
  if (!s.ok()) return s;

  db::Transaction tx(ctx.db());
  if (!tx.begun().ok()) return tx.begun();
  int changed = 0;
  for (rows.move_first(); changed < batch && !rows.eof(); rows.move_next()) {
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

}  // namespace

Status ChangePtoV(runs::RunContext& ctx, ChangePtoVSummary* summary) {
  ChangePtoVSummary local;
  ChangePtoVSummary* sum = summary != nullptr ? summary : &local;
  *sum = ChangePtoVSummary{};
  if (ctx.panel == nullptr || ctx.db() == nullptr || !ctx.statements) {
    return Status::InvalidArgument(
        "Moving compared extracts to the visual check needs an open database and the statements "
        "Start prepares.");
  }
  for (const std::string& s : ctx.side_letters) {
    if (s.empty())
      return Status::InvalidArgument("The side letters are not set (Start sets them).");
  }
  const ControlPanel& p = *ctx.panel;
  int batch = 0;
  Status s = runs::batch_size(p, &batch);
  if (!s.ok()) return s;
  const bool multi_core = p.checked("chkMultiCore");
  const bool real_time = p.checked("optInField");
  const std::string chosen_aspect = p.text("cmbAspect");
  const std::string chosen_side = p.text("cmbSide");

  const config::AspectList& aspects = ctx.aspects();
  for (int i = 0; i < aspects.count; ++i) {
    const config::AspectEntry& entry = aspects.entries[i];
    if (entry.aspect == "Skin") break;
    std::vector<std::string> sides;
    if (entry.cell_type == "lateral") {
      sides = {ctx.side_letters[0], ctx.side_letters[1]};
    } else {
      sides = {ctx.side_letters[2]};
    }
    for (const std::string& side : sides) {
      if (multi_core && (entry.aspect != chosen_aspect || side != chosen_side)) continue;
      s = move_side(ctx, entry, side, real_time, batch, &sum->moved);
      if (!s.ok()) return s;
    }
  }
  return Status::Ok();
}

Status ChangePtoV_for_side(runs::RunContext& ctx, const config::AspectEntry& entry,
                           const std::string& side, ChangePtoVSummary* summary) {
  int batch = 0;
  Status s = runs::batch_size(*ctx.panel, &batch);
  if (!s.ok()) return s;
  return move_side(ctx, entry, side, ctx.panel->checked("optInField"), batch, &summary->moved);
}

runs::RunStep change_p_to_v_step(std::shared_ptr<ChangePtoVSummary> summary) {
  return [summary = std::move(summary)](runs::RunContext& ctx) {
    return ChangePtoV(ctx, summary.get());
  };
}

}  // namespace velmora::matching

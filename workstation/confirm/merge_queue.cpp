// The queued identity merges (see merge_queue.h).
#include "workstation/confirm/merge_queue.h"

#include "workstation/db/database.h"

namespace velmora::confirm {

Status MergeQueue::apply(session::RunState& state) {
  if (!waiting()) return Status::Ok();
  if (!state.session.is_open() || !state.statements) {
    return Status::InvalidArgument(
        "The confirmed matches cannot be saved: the database is not open.");
  }
  db::Statement* merge_id = state.statement("merge_id");
  db::Statement* merge_mum_id = state.statement("merge_mum_id");
  db::Statement* mark = state.statement("mark_automatched");
  db::Transaction tx(state.db());
  if (!tx.begun().ok()) return tx.begun();
  for (std::size_t i = applied_; i < merges_.size(); ++i) {
    const Merge& m = merges_[i];
    for (db::Statement* rename : {merge_id, merge_mum_id}) {
      Status s = rename->set("pID1", m.old_id);
      if (s.ok()) s = rename->set("pID2", m.new_id);
      if (s.ok()) s = rename->execute();
      if (!s.ok()) return s;
    }
    Status s = mark->set("pID", m.new_id);
    if (s.ok()) s = mark->execute();
    if (!s.ok()) return s;
  }
  Status s = tx.commit();
  if (s.ok()) applied_ = merges_.size();
  return s;
}

std::string MergeQueue::describe() const {
  std::string text;
  for (std::size_t i = applied_; i < merges_.size(); ++i) {
    const Merge& m = merges_[i];
    text += m.old_id + " -> " + m.new_id + "\n";
  }
  return text;
}

}  // namespace velmora::confirm

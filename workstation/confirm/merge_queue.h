// The identity merges the operator confirmed, waiting to rename animal IDs
// in table encounter.
//
// A confirmed match renames one animal's ID into the other's; the renaming
// waits until the next pending item starts (so that the temp rows and photo
// lists of the item under review keep the IDs they were made with), and also
// happens when the window closes and on every error path before the program
// ends. The queue lives as long as the program and is emptied only at the
// window's start-up: each application renames again from the first merge, in
// order, which leaves merges applied before without effect, so applying it
// twice leaves encounter as applying it once.
//
// The queue holds any number of merges, and one application is one
// transaction: either every merge reaches encounter or none does, and the
// queue stays as it was to be applied again.
#pragma once

#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/session/run_state.h"

namespace velmora::confirm {

struct Merge {
  std::string old_id;  // the ID that disappears
  std::string new_id;  // the ID that survives
  friend bool operator==(const Merge&, const Merge&) = default;
};

class MergeQueue {
 public:
  void add(const std::string& old_id, const std::string& new_id) {
    merges_.push_back({old_id, new_id});
  }
  void clear() { merges_.clear(); }
  const std::vector<Merge>& merges() const { return merges_; }
  bool empty() const { return merges_.empty(); }

  // For each merge from the first: merge_id and merge_mum_id (pID1 = old,
  // pID2 = new), then mark_automatched (pID = new); one transaction. Nothing
  // to do when the queue is empty.
  Status apply(session::RunState& state) const;

  // "old -> new" lines, for the operator when the queue could not be applied
  // and the program ends: the matches can be made again by hand.
  std::string describe() const;

 private:
  std::vector<Merge> merges_;
};

}  // namespace velmora::confirm

// The identity merges the operator confirmed, waiting to rename animal IDs
// in table encounter.
//
// A confirmed match renames one animal's ID into the other's; the renaming
// waits until the next pending item starts (so that the temp rows and photo
// lists of the item under review keep the IDs they were made with), and also
// happens when the window closes and on every error path before the program
// ends. The queue lives as long as the program and is emptied only at the
// window's start-up.
//
// Each application renames with the merges not applied before, in the order
// they were confirmed, so applying the queue twice leaves encounter as
// applying it once. Renaming again from the first merge would not: once a
// merge has made an ID free, a later one may give that ID to another animal
// (A -> B, then C -> A), and a second pass of A -> B would then join C to B.
//
// The queue holds any number of merges, and one application is one
// transaction: either every waiting merge reaches encounter or none does, and
// then they wait to be applied again.
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
  void clear() {
    merges_.clear();
    applied_ = 0;
  }
  // Every merge confirmed since the window started, in order.
  const std::vector<Merge>& merges() const { return merges_; }
  // How many of them have reached encounter.
  std::size_t applied() const { return applied_; }
  bool waiting() const { return applied_ < merges_.size(); }

  // For each merge not applied yet, in order: merge_id and merge_mum_id
  // (pID1 = old, pID2 = new), then mark_automatched (pID = new); one
  // transaction. Nothing to do when none waits.
  Status apply(session::RunState& state);

  // "old -> new" lines of the merges still waiting, for the operator when
  // they could not be applied and the program ends: the matches can then be
  // made again by hand.
  std::string describe() const;

 private:
  std::vector<Merge> merges_;
  std::size_t applied_ = 0;
};

}  // namespace velmora::confirm

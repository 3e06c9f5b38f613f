// The locks a batch comparison holds from before its first write to its end.
//
//   database.sqlite.batch.lock          the database: exclusive for a run
//                                       over every aspect and side, shared by
//                                       the copies under "use multiple cores"
//   database.sqlite.batch-<aspect>-<side>.lock
//                                       the aspect and side of such a copy
//   <working folder>/velmora-batch-<side>.lock
//                                       the list files of one side; passed on
//                                       to tarvikx, so that a comparison
//                                       program of an earlier run still
//                                       writing keeps a new run out
// All are taken at once, before anything is written; the first that is
// held elsewhere refuses the run with a message naming its holder. They end
// with the process, however it ends (see common/file_lock.h).
#pragma once

#include <string>
#include <vector>

#include "workstation/common/file_lock.h"
#include "workstation/common/status.h"
#include "workstation/session/aspect_sides.h"

namespace velmora::matching {

class BatchLocks {
 public:
  // Takes the locks for the run's walk and options; on failure holds none.
  Status take(const session::RunState& state, const std::vector<session::AspectSide>& walk);
  void release() { locks_.clear(); }

 private:
  std::vector<FileLock> locks_;
};

// The lock file names, for messages and tests.
std::string database_lock_path(const std::string& database_path);
std::string aspect_side_lock_path(const std::string& database_path, const std::string& aspect,
                                  const std::string& side);
std::string working_folder_lock_path(const std::string& working_folder, const std::string& side);

}  // namespace velmora::matching

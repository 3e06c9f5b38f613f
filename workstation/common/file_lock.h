// FileLock: an advisory lock on a file that ends with its holder.
//
// Two batch comparisons on one database (or one working folder) would count
// every score twice, so a run takes its locks before it writes anything and
// a second run is refused at once, told who holds them. The lock is an
// open-file-description lock (flock): the kernel drops it when the last
// descriptor goes, so a holder that was killed (even by SIGKILL) leaves no
// stale lock behind; the next run takes it over without anyone deleting
// files. The lock file itself stays on disk, holding the last holder's
// description ("process 4242 (velmora-batch), started 2026-12-08 10:41:07")
// for the message.
//
// A lock that a child program must keep while it lives (so that a run never
// starts while a comparison program of an earlier run is still writing) is
// taken with Inherit::kYes: its descriptor is passed on to the children
// started while it is held. Every other lock is closed on exec.
//
// Not for locking between threads of one process (flock locks belong to the
// open file, and a second FileLock in the same process on the same file is
// refused like any other holder).
#pragma once

#include <string>

#include "workstation/common/status.h"

namespace velmora {

class FileLock {
 public:
  enum class Mode { kShared, kExclusive };
  enum class Inherit { kNo, kYes };

  FileLock() = default;
  ~FileLock();
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Tries once, never waits. On success *lock holds the lock and the file
  // holds `holder` (of several shared holders, the latest). When another holder has it:
  // Status kCancelled whose message is `what` + " is in use by " + the
  // holder the file names (or "another run" when it names none). Other
  // failures (a folder that cannot be written) are kIOError naming the file.
  static Status try_lock(const std::string& path, Mode mode, Inherit inherit,
                         const std::string& what, const std::string& holder, FileLock* lock);

  bool held() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  // Releases the lock now (the destructor does the same).
  void release();

 private:
  int fd_ = -1;
  std::string path_;
};

// "process <pid> (<program>), started <local date and time>": who this
// process is, for a lock file.
std::string this_process_description();

// The holder text a lock file names now ("" when none or unreadable).
std::string lock_holder(const std::string& path);

}  // namespace velmora

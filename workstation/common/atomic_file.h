// Writing a file whole or not at all.
//
// Every file the workstation and its tools write for another program to read
// (DataFolder.txt, the comparison's list files, fingerprint files, the corpus
// folders) goes through here. The bytes go to a temporary file in the target's
// own folder ("<name>.XXXXXX", a fresh name per writer, so two writers never
// share one and the rename never crosses file systems), are flushed to disk,
// and the temporary file is renamed over the target; then the folder itself is
// flushed, so that the rename survives a crash. Until the rename the target is
// untouched; any failure before it removes the temporary file and leaves the
// target exactly as it was.
//
// A new file gets the permissions a plain create would give it (0666 less the
// umask), not the 0600 of a private temporary file: fingerprint files and
// lists are read by other people and programs of the lab.
//
// Failures are IOError Status values naming the target, the step and the
// system's message ("/data/oldlib/GS0001_01_FL: cannot write its temporary
// file ...: No space left on device").
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "workstation/common/status.h"

namespace velmora {

// The system calls the writer makes. The default forwards to the system;
// tests derive from it to make any one step fail.
class FileSystemCalls {
 public:
  virtual ~FileSystemCalls() = default;
  virtual int open(const char* path, int flags, mode_t mode);
  virtual ssize_t write(int fd, const void* data, size_t size);
  virtual int fsync(int fd);
  virtual int close(int fd);
  virtual int rename(const char* from, const char* to);
  virtual int unlink(const char* path);
};

// The calls of the running system.
FileSystemCalls& system_file_calls();

// A file being written: open, append as often as needed, commit. Destroyed
// (or abandoned) without a commit, it removes its temporary file and the
// target keeps its old content. After a failed step the file is abandoned and
// every later append or commit returns that step's failure.
class AtomicFile {
 public:
  explicit AtomicFile(FileSystemCalls& calls = system_file_calls()) : calls_(calls) {}
  ~AtomicFile() { abandon(); }
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Makes the temporary file beside `path`. InvalidArgument when `path` names
  // no file (empty or ending in '/') or this object already has one open.
  Status open(const std::string& path);
  Status append(std::string_view bytes);
  // Flushes, renames over the target, flushes the folder. A failure to flush
  // the folder comes after the rename: the target then already holds the new
  // bytes, but a crash could still bring the old ones back, so it is reported.
  Status commit();
  // Closes and removes the temporary file; the target is left alone.
  void abandon();

  bool is_open() const { return fd_ >= 0; }
  const std::string& target() const { return target_; }
  const std::string& temporary() const { return temporary_; }

 private:
  Status fail(const std::string& what, int error);

  FileSystemCalls& calls_;
  int fd_ = -1;
  std::string target_;
  std::string temporary_;
  Status failed_;
};

// `bytes` as the whole new content of `path`.
Status write_file_atomically(const std::string& path, std::string_view bytes,
                             FileSystemCalls& calls = system_file_calls());

}  // namespace velmora

// The whole-or-nothing writer (see atomic_file.h).
#include "workstation/common/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>

namespace velmora {
namespace {

// Tries before giving up on finding a free temporary name; with 62^6 names a
// clash is already rare, so running out means something else is wrong.
constexpr int kNameAttempts = 100;
constexpr size_t kSuffixLength = 6;  // the "XXXXXX" after the dot

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Six letters or digits, different for every call in this process and, through
// the process id and the clock, unlikely to repeat in another one.
std::string random_suffix() {
  static std::atomic<uint64_t> counter{0};
  static constexpr char kAlphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  uint64_t x = mix(
      counter.fetch_add(1, std::memory_order_relaxed) ^ (static_cast<uint64_t>(::getpid()) << 40) ^
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::string s(kSuffixLength, 'x');
  for (char& c : s) {
    c = kAlphabet[x % (sizeof kAlphabet - 1)];
    x /= sizeof kAlphabet - 1;
  }
  return s;
}

// The folder holding `path`, for flushing the rename to disk.
std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// "<folder>/<name>.XXXXXX", with the name shortened when the whole would not
// fit in one file name.
std::string temporary_name(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  std::string name = path.substr(name_start);
  const size_t room = NAME_MAX - 1 - kSuffixLength;
  if (name.size() > room) name.resize(room);
  return path.substr(0, name_start) + name + "." + random_suffix();
}

}  // namespace

int FileSystemCalls::open(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}
ssize_t FileSystemCalls::write(int fd, const void* data, size_t size) {
  return ::write(fd, data, size);
}
int FileSystemCalls::fsync(int fd) {
  return ::fsync(fd);
}
int FileSystemCalls::close(int fd) {
  return ::close(fd);
}
int FileSystemCalls::rename(const char* from, const char* to) {
  return ::rename(from, to);
}
int FileSystemCalls::unlink(const char* path) {
  return ::unlink(path);
}

FileSystemCalls& system_file_calls() {
  static FileSystemCalls calls;
  return calls;
}

Status AtomicFile::fail(const std::string& what, int error) {
  abandon();
  failed_ = Status::IOError(target_ + ": " + what + ": " + std::strerror(error));
  return failed_;
}

Status AtomicFile::open(const std::string& path) {
  if (is_open()) {
    return Status::InvalidArgument(path + ": cannot be written while " + target_ +
                                   " is still being written through the same writer");
  }
  if (path.empty() || path.back() == '/') {
    return Status::InvalidArgument("'" + path + "' names no file to write");
  }
  target_ = path;
  failed_ = Status::Ok();
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temporary_ = temporary_name(path);
    fd_ = calls_.open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) return Status::Ok();
    if (errno != EEXIST) break;
  }
  const int error = errno;
  temporary_.clear();  // nothing of ours to remove
  return fail("cannot make a temporary file in " + folder_of(path), error);
}

Status AtomicFile::append(std::string_view bytes) {
  if (!failed_.ok()) return failed_;
  if (!is_open()) return Status::InvalidArgument(target_ + ": not open for writing");
  while (!bytes.empty()) {
    const ssize_t n = calls_.write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    // A write that takes nothing without an error would loop for ever.
    if (n <= 0) return fail("cannot write its temporary file " + temporary_, n < 0 ? errno : EIO);
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return Status::Ok();
}

Status AtomicFile::commit() {
  if (!failed_.ok()) return failed_;
  if (!is_open()) return Status::InvalidArgument(target_ + ": not open for writing");
  if (calls_.fsync(fd_) != 0) {
    return fail("cannot flush its temporary file " + temporary_ + " to disk", errno);
  }
  const int fd = fd_;
  fd_ = -1;
  // Some file systems report a failed write only when the file is closed.
  if (calls_.close(fd) != 0) {
    return fail("cannot flush its temporary file " + temporary_ + " to disk", errno);
  }
  if (calls_.rename(temporary_.c_str(), target_.c_str()) != 0) {
    return fail("cannot be replaced by its temporary file " + temporary_, errno);
  }
  temporary_.clear();

  const std::string folder = folder_of(target_);
  const int dir = calls_.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  int error = dir < 0 ? errno : 0;
  if (dir >= 0) {
    if (calls_.fsync(dir) != 0) error = errno;
    calls_.close(dir);
  }
  // A file system that cannot flush a folder at all has nothing to lose.
  if (error != 0 && error != EINVAL && error != ENOTSUP) {
    failed_ = Status::IOError(target_ + ": written, but its folder " + folder +
                              " cannot be flushed to disk, so a crash may bring back the old "
                              "file: " +
                              std::strerror(error));
    return failed_;
  }
  return Status::Ok();
}

void AtomicFile::abandon() {
  if (fd_ >= 0) {
    calls_.close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    calls_.unlink(temporary_.c_str());
    temporary_.clear();
  }
}

Status write_file_atomically(const std::string& path, std::string_view bytes,
                             FileSystemCalls& calls) {
  AtomicFile file(calls);
  Status s = file.open(path);
  if (s.ok()) s = file.append(bytes);
  if (s.ok()) s = file.commit();
  return s;
}

}  // namespace velmora

// Advisory file locks that end with their holder (see file_lock.h).
#include "workstation/common/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

namespace velmora {
namespace {

std::string error_text(int e) {
  return std::strerror(e);
}

std::string program_name() {
  std::ifstream comm("/proc/self/comm");
  std::string name;
  std::getline(comm, name);
  return name.empty() ? "unknown program" : name;
}

// When this process started, from the boot-relative start time in
// /proc/self/stat; falls back to "now", which is close enough for a message.
std::time_t process_start_time() {
  std::ifstream stat("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Field 22 (start time in clock ticks) counts from the last ')' (the
  // program name may hold blanks and brackets).
  const size_t close = text.rfind(')');
  std::ifstream uptime_file("/proc/uptime");
  double uptime = 0;
  uptime_file >> uptime;
  const long ticks = sysconf(_SC_CLK_TCK);
  if (close == std::string::npos || ticks <= 0 || uptime <= 0) return std::time(nullptr);
  size_t pos = close + 2;
  for (int field = 3; field < 22 && pos < text.size(); ++field) {
    pos = text.find(' ', pos);
    if (pos == std::string::npos) return std::time(nullptr);
    ++pos;
  }
  const double start_ticks = std::strtod(text.c_str() + pos, nullptr);
  const double age = uptime - start_ticks / static_cast<double>(ticks);
  return std::time(nullptr) - static_cast<std::time_t>(age > 0 ? age : 0);
}

}  // namespace

std::string this_process_description() {
  const std::time_t start = process_start_time();
  std::tm local{};
  localtime_r(&start, &local);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  return "process " + std::to_string(getpid()) + " (" + program_name() + "), started " + when;
}

std::string lock_holder(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::string text;
  std::getline(f, text);
  // A description is one short line; anything else is not ours to show whole.
  if (text.size() > 200) text.resize(200);
  return text;
}

FileLock::~FileLock() {
  release();
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

void FileLock::release() {
  if (fd_ >= 0) {
    ::close(fd_);  // closing drops the flock
    fd_ = -1;
  }
}

Status FileLock::try_lock(const std::string& path, Mode mode, Inherit inherit,
                          const std::string& what, const std::string& holder, FileLock* lock) {
  lock->release();
  const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | (inherit == Inherit::kYes ? 0 : O_CLOEXEC);
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) {
    return Status::IOError("The lock file " + path + " cannot be opened: " + error_text(errno) +
                           ". The folder must be writable.");
  }
  const int op = (mode == Mode::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  if (::flock(fd, op) != 0) {
    const int e = errno;
    ::close(fd);
    if (e == EWOULDBLOCK) {
      const std::string name = lock_holder(path);
      return Status::Cancelled(what + " is in use by " + (name.empty() ? "another run" : name) +
                               ".");
    }
    return Status::IOError("The lock file " + path + " cannot be locked: " + error_text(e));
  }
  // The holder's description replaces the last one (of several shared
  // holders, the latest is named); a failure to write it only makes a later
  // message less precise.
  if (::ftruncate(fd, 0) == 0) {
    const std::string line = holder + "\n";
    ssize_t written = ::pwrite(fd, line.data(), line.size(), 0);
    (void)written;
  }
  lock->fd_ = fd;
  lock->path_ = path;
  return Status::Ok();
}

}  // namespace velmora

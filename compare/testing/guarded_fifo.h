// Test-only FIFO that never leaves a reader waiting. Opening a FIFO for
// reading blocks until a writer comes, so code that wrongly opens one would
// hang its test. A watcher thread keeps trying to open the write end without
// blocking, which succeeds only while some reader has the FIFO open: it then
// notes that the FIFO was opened and closes again at once, and the reader,
// released, reads end of file. The test fails on the note instead of hanging.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace tarvik::testing {

class GuardedFifo {
 public:
  explicit GuardedFifo(const std::string& path) : path_(path) {
    if (::mkfifo(path_.c_str(), 0600) != 0) return;
    made_ = true;
    watcher_ = std::thread([this] {
      while (!stop_.load()) {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
          opened_.store(true);
          ::close(fd);
        } else {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      }
    });
  }
  ~GuardedFifo() {
    stop_.store(true);
    if (watcher_.joinable()) watcher_.join();
  }
  GuardedFifo(const GuardedFifo&) = delete;
  GuardedFifo& operator=(const GuardedFifo&) = delete;

  bool ok() const { return made_; }
  // Whether anything has opened the FIFO for reading so far.
  bool opened() const { return opened_.load(); }

 private:
  std::string path_;
  bool made_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<bool> opened_{false};
  std::thread watcher_;
};

}  // namespace tarvik::testing

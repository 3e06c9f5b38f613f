// The whole-or-nothing writer: each system call failing in turn, short and
// interrupted writes, replacing a file whole, places that cannot be written.
#include "workstation/common/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/temp_dir.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::write_file;

enum class Step { kNone, kCreate, kWrite, kFsync, kClose, kRename, kOpenFolder, kFsyncFolder };

const char* step_name(Step s) {
  switch (s) {
    case Step::kNone:
      return "none";
    case Step::kCreate:
      return "create";
    case Step::kWrite:
      return "write";
    case Step::kFsync:
      return "fsync";
    case Step::kClose:
      return "close";
    case Step::kRename:
      return "rename";
    case Step::kOpenFolder:
      return "open folder";
    case Step::kFsyncFolder:
      return "fsync folder";
  }
  return "?";
}

// The real calls, except that the chosen step fails once with the chosen
// error. Writes can also be cut short or interrupted, as a signal or a pipe
// would. `fired` proves the fault was reached, so no case passes by skipping it.
class FaultyCalls : public FileSystemCalls {
 public:
  FaultyCalls(Step step, int error) : step_(step), error_(error) {}

  int open(const char* path, int flags, mode_t mode) override {
    const bool folder = (flags & O_DIRECTORY) != 0;
    if (fault(folder ? Step::kOpenFolder : Step::kCreate)) return -1;
    const int fd = FileSystemCalls::open(path, flags, mode);
    (folder ? folder_fd_ : file_fd_) = fd;
    return fd;
  }
  ssize_t write(int fd, const void* data, size_t size) override {
    ++writes;
    if (interrupt_first_write && writes == 1) {
      errno = EINTR;
      return -1;
    }
    if (fault(Step::kWrite)) return -1;
    return FileSystemCalls::write(fd, data, std::min(size, max_chunk));
  }
  int fsync(int fd) override {
    if (fault(fd == folder_fd_ ? Step::kFsyncFolder : Step::kFsync)) return -1;
    return FileSystemCalls::fsync(fd);
  }
  int close(int fd) override {
    const int r = FileSystemCalls::close(fd);  // never leak the descriptor
    if (fd == file_fd_ && fault(Step::kClose)) return -1;
    return r;
  }
  int rename(const char* from, const char* to) override {
    if (fault(Step::kRename)) return -1;
    return FileSystemCalls::rename(from, to);
  }

  bool fired = false;
  size_t max_chunk = static_cast<size_t>(-1);
  bool interrupt_first_write = false;
  int writes = 0;

 private:
  bool fault(Step here) {
    if (here != step_ || fired) return false;
    fired = true;
    errno = error_;
    return true;
  }
  Step step_;
  int error_;
  int file_fd_ = -1;
  int folder_fd_ = -1;
};

class AtomicFileTest : public ::testing::Test {
 protected:
  // Every name in the folder, to prove that no temporary file is left.
  std::set<std::string> names() const {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) out.insert(e.path().filename().string());
    return out;
  }

  testing::TempDir temp_{"velmora_atomic"};
  const std::string dir_ = temp_.root().string();
  const std::string target_ = dir_ + "/DataFolder.txt";
};

TEST_F(AtomicFileTest, EachStepBeforeTheRenameFailingLeavesTheTargetAsItWas) {
  struct Case {
    Step step;
    int error;
    const char* step_words;  // what the message says about the step
  };
  const Case cases[] = {
      {Step::kCreate, EACCES, "cannot make a temporary file in"},
      {Step::kCreate, ENOSPC, "cannot make a temporary file in"},
      {Step::kWrite, ENOSPC, "cannot write its temporary file"},
      {Step::kWrite, EIO, "cannot write its temporary file"},
      {Step::kFsync, EIO, "cannot flush its temporary file"},
      {Step::kClose, EDQUOT, "cannot flush its temporary file"},
      {Step::kRename, EXDEV, "cannot be replaced by its temporary file"},
      {Step::kRename, EBUSY, "cannot be replaced by its temporary file"},
  };
  for (const bool existed : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(step_name(c.step)) + " " + std::strerror(c.error) +
                   (existed ? ", old file" : ", no file"));
      fs::remove(target_);
      if (existed) write_file(target_, "old content\n");
      FaultyCalls calls(c.step, c.error);
      const Status s = write_file_atomically(target_, "new, longer content\n", calls);
      ASSERT_TRUE(calls.fired);
      EXPECT_EQ(s.code(), Status::Code::kIOError);
      EXPECT_EQ(s.message().rfind(target_ + ": ", 0), 0u) << s.message();
      EXPECT_NE(s.message().find(c.step_words), std::string::npos) << s.message();
      EXPECT_NE(s.message().find(std::strerror(c.error)), std::string::npos) << s.message();
      if (existed) {
        EXPECT_EQ(read_file(target_), "old content\n");
        EXPECT_EQ(names(), std::set<std::string>{"DataFolder.txt"});
      } else {
        EXPECT_TRUE(names().empty());
      }
    }
  }
}

TEST_F(AtomicFileTest, FolderFlushFailingAfterTheRenameIsReportedWithTheNewFileInPlace) {
  for (const Step step : {Step::kOpenFolder, Step::kFsyncFolder}) {
    SCOPED_TRACE(step_name(step));
    write_file(target_, "old\n");
    FaultyCalls calls(step, EIO);
    const Status s = write_file_atomically(target_, "new\n", calls);
    ASSERT_TRUE(calls.fired);
    EXPECT_EQ(s.code(), Status::Code::kIOError);
    EXPECT_NE(s.message().find("its folder " + dir_ + " cannot be flushed"), std::string::npos)
        << s.message();
    EXPECT_NE(s.message().find(std::strerror(EIO)), std::string::npos) << s.message();
    EXPECT_EQ(read_file(target_), "new\n");
    EXPECT_EQ(names(), std::set<std::string>{"DataFolder.txt"});
  }
  // A file system that cannot flush folders at all loses nothing by it.
  FaultyCalls calls(Step::kFsyncFolder, EINVAL);
  EXPECT_TRUE(write_file_atomically(target_, "newer\n", calls).ok());
  EXPECT_TRUE(calls.fired);
  EXPECT_EQ(read_file(target_), "newer\n");
}

TEST_F(AtomicFileTest, ShortAndInterruptedWritesStillWriteEveryByte) {
  std::string bytes;
  for (int i = 0; i < 5000; ++i) bytes += static_cast<char>(i * 7 % 256);
  write_file(target_, "old");
  FaultyCalls calls(Step::kNone, 0);
  calls.max_chunk = 333;
  calls.interrupt_first_write = true;
  ASSERT_TRUE(write_file_atomically(target_, bytes, calls).ok());
  EXPECT_GT(calls.writes, 15);  // the pieces really were short
  EXPECT_EQ(read_file(target_), bytes);
  EXPECT_EQ(names(), std::set<std::string>{"DataFolder.txt"});
}

TEST_F(AtomicFileTest, ExistingTargetIsReplacedWholeNotOverwrittenInPlace) {
  write_file(target_, std::string(10000, 'o'));
  // A reader that opened the old file keeps seeing all of it.
  const std::string keeper = dir_ + "/reader";
  fs::create_hard_link(target_, keeper);
  ASSERT_TRUE(write_file_atomically(target_, "short\n").ok());
  EXPECT_EQ(read_file(target_), "short\n");
  EXPECT_EQ(read_file(keeper), std::string(10000, 'o'));
  ASSERT_TRUE(write_file_atomically(target_, "").ok());
  EXPECT_TRUE(fs::exists(target_));
  EXPECT_EQ(read_file(target_), "");
  EXPECT_EQ(names(), (std::set<std::string>{"DataFolder.txt", "reader"}));
}

TEST_F(AtomicFileTest, NewFileGetsThePermissionsOfAPlainCreate) {
  const mode_t mask = ::umask(022);
  ASSERT_TRUE(write_file_atomically(target_, "x").ok());
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(::stat(target_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(AtomicFileTest, StreamingWriterCommitsWholeOrLeavesNothing) {
  write_file(target_, "old\n");
  {
    AtomicFile file;
    ASSERT_TRUE(file.open(target_).ok());
    // The temporary file lies beside the target: "<name>.XXXXXX".
    EXPECT_EQ(file.temporary().rfind(target_ + ".", 0), 0u);
    EXPECT_EQ(file.temporary().size(), target_.size() + 7);
    EXPECT_TRUE(fs::exists(file.temporary()));
    ASSERT_TRUE(file.append("half ").ok());
    // Dropped without a commit.
  }
  EXPECT_EQ(read_file(target_), "old\n");
  EXPECT_EQ(names(), std::set<std::string>{"DataFolder.txt"});

  AtomicFile file;
  ASSERT_TRUE(file.open(target_).ok());
  for (const char* piece : {"one\n", "two\n", "three\n"}) ASSERT_TRUE(file.append(piece).ok());
  EXPECT_EQ(read_file(target_), "old\n");  // nothing shows before the commit
  ASSERT_TRUE(file.commit().ok());
  EXPECT_FALSE(file.is_open());
  EXPECT_EQ(read_file(target_), "one\ntwo\nthree\n");
  EXPECT_EQ(file.append("late").code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(names(), std::set<std::string>{"DataFolder.txt"});
}

TEST_F(AtomicFileTest, AfterAFailedStepEveryLaterStepGivesThatFailure) {
  write_file(target_, "old\n");
  FaultyCalls calls(Step::kWrite, ENOSPC);
  AtomicFile file(calls);
  ASSERT_TRUE(file.open(target_).ok());
  const Status first = file.append("a");
  ASSERT_FALSE(first.ok());
  EXPECT_FALSE(file.is_open());
  EXPECT_EQ(file.append("b").message(), first.message());
  EXPECT_EQ(file.commit().message(), first.message());
  EXPECT_EQ(read_file(target_), "old\n");
  EXPECT_EQ(names(), std::set<std::string>{"DataFolder.txt"});
}

TEST_F(AtomicFileTest, TwoWritersOfOneFileNeverShareATemporary) {
  AtomicFile a, b;
  ASSERT_TRUE(a.open(target_).ok());
  ASSERT_TRUE(b.open(target_).ok());
  EXPECT_NE(a.temporary(), b.temporary());
  ASSERT_TRUE(a.append("from a\n").ok());
  ASSERT_TRUE(b.append("from b\n").ok());
  ASSERT_TRUE(a.commit().ok());
  EXPECT_EQ(read_file(target_), "from a\n");
  ASSERT_TRUE(b.commit().ok());
  EXPECT_EQ(read_file(target_), "from b\n");
  EXPECT_EQ(names(), std::set<std::string>{"DataFolder.txt"});
  // One writer holds one file at a time.
  ASSERT_TRUE(a.open(target_).ok());
  EXPECT_EQ(a.open(dir_ + "/other").code(), Status::Code::kInvalidArgument);
}

TEST_F(AtomicFileTest, PlacesThatCannotBeWrittenGiveAClearStatus) {
  write_file(dir_ + "/plain", "x");
  fs::create_directories(dir_ + "/folder/inside");
  struct Case {
    std::string path;
    std::string reason;  // the system's message
  };
  std::vector<Case> cases = {
      {dir_ + "/missing/list.txt", std::strerror(ENOENT)},
      {dir_ + "/plain/list.txt", std::strerror(ENOTDIR)},
      // A target that is a folder cannot be replaced by a file.
      {dir_ + "/folder", std::strerror(EISDIR)},
  };
  // Permissions stop everyone but the superuser, who writes anywhere.
  fs::create_directory(dir_ + "/locked");
  fs::permissions(dir_ + "/locked", fs::perms::owner_read | fs::perms::owner_exec);
  if (::geteuid() != 0) cases.push_back({dir_ + "/locked/list.txt", std::strerror(EACCES)});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const Status s = write_file_atomically(c.path, "a\n");
    EXPECT_EQ(s.code(), Status::Code::kIOError);
    EXPECT_EQ(s.message().rfind(c.path + ": ", 0), 0u) << s.message();
    EXPECT_NE(s.message().find(c.reason), std::string::npos) << s.message();
  }
  EXPECT_TRUE(fs::is_directory(dir_ + "/folder/inside"));
  EXPECT_EQ(read_file(dir_ + "/plain"), "x");
  EXPECT_EQ(names(), (std::set<std::string>{"plain", "folder", "locked"}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ + "/folder"), fs::directory_iterator()), 1);
  EXPECT_TRUE(fs::is_empty(dir_ + "/locked"));

  for (const std::string& no_file : {std::string(), dir_ + "/"}) {
    EXPECT_EQ(write_file_atomically(no_file, "a").code(), Status::Code::kInvalidArgument);
  }
}

TEST_F(AtomicFileTest, LongNamesKeepTheirTemporaryWithinOneFileName) {
  const std::string longest = dir_ + "/" + std::string(255, 'n');
  ASSERT_TRUE(write_file_atomically(longest, "x").ok());
  EXPECT_EQ(read_file(longest), "x");
  EXPECT_EQ(names().size(), 1u);
}

}  // namespace
}  // namespace velmora

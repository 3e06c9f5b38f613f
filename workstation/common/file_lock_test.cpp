// File locks: refused while held (naming the holder), shared with shared
// only, taken over from a killed holder, kept by a child that inherited it.
#include "workstation/common/file_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "testing/temp_dir.h"

extern char** environ;

namespace velmora {
namespace {

using Mode = FileLock::Mode;
using Inherit = FileLock::Inherit;

Status lock(const std::string& path, Mode mode, FileLock* l, const std::string& holder = "me",
            Inherit inherit = Inherit::kNo) {
  return FileLock::try_lock(path, mode, inherit, "The test file", holder, l);
}

// Polls `done` for up to two seconds (a child's exit takes a moment to be seen).
template <typename F>
bool eventually(F done) {
  for (int i = 0; i < 200; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

TEST(FileLock, ModesExcludeEachOtherAsTheyShould) {
  testing::TempDir dir;
  const std::string path = dir.path("db.lock");
  struct Case {
    Mode first, second;
    bool second_taken;
  };
  const Case cases[] = {{Mode::kExclusive, Mode::kExclusive, false},
                        {Mode::kExclusive, Mode::kShared, false},
                        {Mode::kShared, Mode::kExclusive, false},
                        {Mode::kShared, Mode::kShared, true}};
  for (const Case& c : cases) {
    FileLock a, b;
    ASSERT_TRUE(lock(path, c.first, &a, "process 11 (first)").ok());
    Status s = lock(path, c.second, &b, "process 22 (second)");
    EXPECT_EQ(s.ok(), c.second_taken);
    EXPECT_EQ(b.held(), c.second_taken);
    if (!c.second_taken) {
      EXPECT_EQ(s.code(), Status::Code::kCancelled);
      EXPECT_EQ(s.message(), "The test file is in use by process 11 (first).");
    }
    a.release();
    b.release();
    // Released: taken at once, and the file names the new holder.
    ASSERT_TRUE(lock(path, c.second, &b, "process 33 (third)").ok());
    EXPECT_EQ(lock_holder(path), "process 33 (third)");
  }
}

TEST(FileLock, AFolderThatCannotHoldTheFileIsAnIOError) {
  FileLock l;
  Status s = lock("/nonexistent-velmora-folder/x.lock", Mode::kExclusive, &l);
  EXPECT_EQ(s.code(), Status::Code::kIOError);
  EXPECT_NE(s.message().find("/nonexistent-velmora-folder/x.lock"), std::string::npos);
  EXPECT_FALSE(l.held());
}

TEST(FileLock, AKilledHolderLeavesNoStaleLock) {
  testing::TempDir dir;
  const std::string path = dir.path("db.lock");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FileLock held;
    const bool ok = lock(path, Mode::kExclusive, &held, this_process_description()).ok();
    char c = ok ? '1' : '0';
    if (write(ready[1], &c, 1) != 1) _exit(2);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  ASSERT_EQ(c, '1');

  FileLock mine;
  Status s = lock(path, Mode::kExclusive, &mine);
  EXPECT_EQ(s.code(), Status::Code::kCancelled);
  // The holder is named with its process number and program.
  EXPECT_NE(s.message().find("process " + std::to_string(child) + " ("), std::string::npos)
      << s.message();

  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(lock(path, Mode::kExclusive, &mine).ok());
}

TEST(FileLock, AnInheritedLockLivesAsLongAsTheChild) {
  testing::TempDir dir;
  const std::string path = dir.path("side.lock");
  FileLock parent;
  ASSERT_TRUE(lock(path, Mode::kExclusive, &parent, "parent", Inherit::kYes).ok());
  pid_t child = 0;
  char sleep_path[] = "/bin/sleep";
  char seconds[] = "30";
  char* argv[] = {sleep_path, seconds, nullptr};
  ASSERT_EQ(posix_spawn(&child, "/bin/sleep", nullptr, nullptr, argv, environ), 0);
  parent.release();

  FileLock other;
  EXPECT_EQ(lock(path, Mode::kExclusive, &other).code(), Status::Code::kCancelled);
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(eventually([&] { return lock(path, Mode::kExclusive, &other).ok(); }));

  // Without inheritance the child never holds it.
  other.release();
  ASSERT_TRUE(lock(path, Mode::kExclusive, &parent, "parent", Inherit::kNo).ok());
  ASSERT_EQ(posix_spawn(&child, "/bin/sleep", nullptr, nullptr, argv, environ), 0);
  parent.release();
  EXPECT_TRUE(lock(path, Mode::kExclusive, &other).ok());
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
}

}  // namespace
}  // namespace velmora

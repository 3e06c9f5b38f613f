#include "workstation/config/folder_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "testing/files.h"
#include "testing/temp_dir.h"

namespace velmora::config {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

TEST(NormaliseFolder, AppendsTheSeparatorOnlyWhenMissing) {
  EXPECT_EQ(normalise_folder("/data/seals"), "/data/seals/");
  EXPECT_EQ(normalise_folder("/data/seals/"), "/data/seals/");
  EXPECT_EQ(normalise_folder("/"), "/");
  EXPECT_EQ(normalise_folder(""), "");

  FolderSettings f{"/data", "/data/seals.sqlite", "/data/newpic"};
  normalise_folders(&f);
  EXPECT_EQ(f.data_folder, "/data/");
  EXPECT_EQ(f.database_path, "/data/seals.sqlite");
  EXPECT_EQ(f.newpics_folder, "/data/newpic/");
}

TEST(BrowseDerivation, FoldersComeFromTheDatabasePath) {
  FolderSettings f = folders_from_database_path("/data/seals/grey.sqlite");
  EXPECT_EQ(f.database_path, "/data/seals/grey.sqlite");
  EXPECT_EQ(f.data_folder, "/data/seals/");
  EXPECT_EQ(f.newpics_folder, "/data/seals/newpic/");

  f = folders_from_database_path("/grey.sqlite");
  EXPECT_EQ(f.data_folder, "/");
  EXPECT_EQ(f.newpics_folder, "/newpic/");

  f = folders_from_database_path("grey.sqlite");  // no folder part at all
  EXPECT_EQ(f.data_folder, "");
  EXPECT_EQ(f.newpics_folder, "newpic/");
}

TEST(BrowseDerivation, ResetsLimitSearchThenReadsTheNewFolder) {
  TempDir dir;
  fs::create_directory(dir.dir() + "a");
  fs::create_directory(dir.dir() + "b");
  EXPECT_TRUE(write_file(dir.dir() + "a/orlain.ini", "hdr\nLimitSearch=True\noversampling=5\n"));
  EXPECT_TRUE(write_file(dir.dir() + "b/orlain.ini", "hdr\nuse_cell=1\n"));

  Settings s;
  FolderSettings f;
  Faults faults;
  apply_browse_choice(dir.dir() + "a/x.sqlite", &f, &s, &faults);
  EXPECT_TRUE(s.LimitSearch);
  EXPECT_EQ(f.data_folder, dir.dir() + "a/");

  apply_browse_choice(dir.dir() + "b/y.sqlite", &f, &s, &faults);
  EXPECT_FALSE(s.LimitSearch);   // reset, and b does not set it
  EXPECT_EQ(s.oversampling, 5);  // never cleared between readings
  EXPECT_TRUE(s.use_cell);
  EXPECT_EQ(f.newpics_folder, dir.dir() + "b/newpic/");
  EXPECT_TRUE(faults.empty()) << fault_text(faults);

  apply_browse_choice(dir.dir() + "c/z.sqlite", &f, &s, &faults);
  ASSERT_EQ(faults.size(), 1u);  // no orlain.ini there
  EXPECT_EQ(faults[0].code(), Status::Code::kNotFound);
}

class FolderFile : public ::testing::Test {
 protected:
  FolderFile() {
    fs::create_directory(dir_.dir() + "bin");
    where_.program_folder = dir_.dir() + "bin";
    where_.user_config_folder = dir_.dir() + "home/.config/velmora";
  }
  TempDir dir_;
  FolderFileLocations where_;
  FolderSettings folders_{"/data/seals, 2024/", "/data/seals, 2024/grey.sqlite",
                          "/data/seals, 2024/newpic/"};
};

TEST_F(FolderFile, WritesThreeLinesBesideTheProgramAndReadsThemBack) {
  std::string written;
  ASSERT_TRUE(write_folder_file(where_, folders_, &written).ok());
  EXPECT_EQ(written, dir_.dir() + "bin/DataFolder.txt");
  EXPECT_EQ(read_file(written),
            "/data/seals, 2024/\n/data/seals, 2024/grey.sqlite\n/data/seals, 2024/newpic/\n");
  EXPECT_FALSE(fs::exists(where_.user_config_folder));

  FolderSettings back;
  std::string from;
  ASSERT_TRUE(read_folder_file(where_, &back, &from).ok());
  EXPECT_EQ(from, written);
  EXPECT_EQ(back.data_folder, folders_.data_folder);
  EXPECT_EQ(back.database_path, folders_.database_path);
  EXPECT_EQ(back.newpics_folder, folders_.newpics_folder);
}

TEST_F(FolderFile, RewriteReplacesTheWholeFileAndLeavesNoTemporaryFile) {
  ASSERT_TRUE(write_folder_file(where_, folders_).ok());
  FolderSettings shorter{"/a/", "/a/b.sqlite", "/a/newpic/"};
  ASSERT_TRUE(write_folder_file(where_, shorter).ok());
  EXPECT_EQ(read_file(where_.program_folder + "/DataFolder.txt"), "/a/\n/a/b.sqlite\n/a/newpic/\n");
  int entries = 0;
  for (const auto& e : fs::directory_iterator(where_.program_folder)) {
    ++entries;
    EXPECT_EQ(e.path().filename(), "DataFolder.txt");
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(FolderFile, TypedFolderIsWrittenBackWithItsSeparator) {
  FolderSettings typed{"/data/seals", "/data/seals/grey.sqlite", "/data/pics"};
  normalise_folders(&typed);
  ASSERT_TRUE(write_folder_file(where_, typed).ok());
  FolderSettings back;
  ASSERT_TRUE(read_folder_file(where_, &back).ok());
  EXPECT_EQ(back.data_folder, "/data/seals/");
  EXPECT_EQ(back.newpics_folder, "/data/pics/");
}

TEST_F(FolderFile, FallsBackToTheUserFolderWhenTheProgramFolderIsNotWritable) {
  // A program "folder" below a plain file cannot hold files for anyone, root included.
  EXPECT_TRUE(write_file(dir_.dir() + "plain", "x"));
  where_.program_folder = dir_.dir() + "plain/bin";
  std::string written;
  ASSERT_TRUE(write_folder_file(where_, folders_, &written).ok());
  EXPECT_EQ(written, where_.user_config_folder + "/DataFolder.txt");

  FolderSettings back;
  std::string from;
  ASSERT_TRUE(read_folder_file(where_, &back, &from).ok());
  EXPECT_EQ(from, written);
  EXPECT_EQ(back.database_path, folders_.database_path);
}

TEST_F(FolderFile, NeitherPlaceWritableIsAnErrorNamingBoth) {
  EXPECT_TRUE(write_file(dir_.dir() + "plain", "x"));
  where_.program_folder = dir_.dir() + "plain/bin";
  where_.user_config_folder = dir_.dir() + "plain/cfg";
  Status s = write_folder_file(where_, folders_);
  EXPECT_EQ(s.code(), Status::Code::kIOError);
  EXPECT_NE(s.message().find("plain/bin"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("plain/cfg"), std::string::npos) << s.message();

  where_.program_folder.clear();
  where_.user_config_folder.clear();
  EXPECT_FALSE(write_folder_file(where_, folders_).ok());
}

TEST_F(FolderFile, PathWithALineEndIsRefusedAndTheOldFileKept) {
  ASSERT_TRUE(write_folder_file(where_, folders_).ok());
  const std::string before = read_file(where_.program_folder + "/DataFolder.txt");
  for (const char* bad : {"/data/a\nb/", "/data/a\rb/"}) {
    FolderSettings f = folders_;
    f.newpics_folder = bad;
    EXPECT_EQ(write_folder_file(where_, f).code(), Status::Code::kInvalidArgument);
  }
  EXPECT_EQ(read_file(where_.program_folder + "/DataFolder.txt"), before);
}

TEST_F(FolderFile, NoFileAnywhereIsNotFound) {
  FolderSettings f{"keep", "keep", "keep"};
  EXPECT_EQ(read_folder_file(where_, &f).code(), Status::Code::kNotFound);
  EXPECT_EQ(f.data_folder, "keep");
}

TEST_F(FolderFile, ProgramFolderCopyComesFirstUnlessTheOtherIsNewer) {
  fs::create_directories(where_.user_config_folder);
  const std::string prog = where_.program_folder + "/DataFolder.txt";
  const std::string user = where_.user_config_folder + "/DataFolder.txt";
  EXPECT_TRUE(write_file(prog, "/p/\n/p/p.sqlite\n/p/newpic/\n"));
  EXPECT_TRUE(write_file(user, "/u/\n/u/u.sqlite\n/u/newpic/\n"));
  const auto t0 = fs::last_write_time(prog);

  fs::last_write_time(user, t0);  // same moment: the program folder wins
  FolderSettings f;
  std::string from;
  ASSERT_TRUE(read_folder_file(where_, &f, &from).ok());
  EXPECT_EQ(from, prog);
  EXPECT_EQ(f.data_folder, "/p/");

  fs::last_write_time(user, t0 - std::chrono::hours(1));
  ASSERT_TRUE(read_folder_file(where_, &f, &from).ok());
  EXPECT_EQ(f.data_folder, "/p/");

  // Written to the user folder after the program folder became read-only:
  // the stale copy beside the program must not hide it.
  fs::last_write_time(user, t0 + std::chrono::hours(1));
  ASSERT_TRUE(read_folder_file(where_, &f, &from).ok());
  EXPECT_EQ(from, user);
  EXPECT_EQ(f.data_folder, "/u/");
}

TEST_F(FolderFile, LinesAreReadWholeAndCrIsDropped) {
  EXPECT_TRUE(write_file(where_.program_folder + "/DataFolder.txt",
                         "  /d, e/\r\n\"/q.sqlite\"\r\n/n/\r\nextra line\n"));
  FolderSettings f;
  ASSERT_TRUE(read_folder_file(where_, &f).ok());
  EXPECT_EQ(f.data_folder, "  /d, e/");
  EXPECT_EQ(f.database_path, "\"/q.sqlite\"");
  EXPECT_EQ(f.newpics_folder, "/n/");
}

TEST_F(FolderFile, ShortFileFillsWhatItHasAndSaysSo) {
  const std::string path = where_.program_folder + "/DataFolder.txt";
  EXPECT_TRUE(write_file(path, "/d/\n/d/x.sqlite"));
  FolderSettings f{"old", "old", "old"};
  Status s = read_folder_file(where_, &f);
  EXPECT_EQ(s.code(), Status::Code::kCorruption);
  EXPECT_NE(s.message().find(path), std::string::npos);
  EXPECT_EQ(f.data_folder, "/d/");
  EXPECT_EQ(f.database_path, "/d/x.sqlite");
  EXPECT_EQ(f.newpics_folder, "");

  EXPECT_TRUE(write_file(path, ""));
  EXPECT_EQ(read_folder_file(where_, &f).code(), Status::Code::kCorruption);
  EXPECT_EQ(f.data_folder, "");
}

TEST_F(FolderFile, BinaryOrHugeFileIsRefusedAndChangesNothing) {
  const std::string path = where_.program_folder + "/DataFolder.txt";
  EXPECT_TRUE(write_file(path, std::string("/d/\n\0\n/n/\n", 10)));
  FolderSettings f{"old", "old", "old"};
  EXPECT_EQ(read_folder_file(where_, &f).code(), Status::Code::kCorruption);
  EXPECT_TRUE(write_file(path, std::string(100000, 'a')));
  EXPECT_EQ(read_folder_file(where_, &f).code(), Status::Code::kCorruption);
  EXPECT_EQ(f.database_path, "old");
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(FolderFileLocations, UserFolderFollowsXdgThenHome) {
  ScopedEnv home("HOME", "/home/seal");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(default_user_config_folder(), "/cfg/velmora");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/cfg");  // not absolute: ignored
    EXPECT_EQ(default_user_config_folder(), "/home/seal/.config/velmora");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(default_user_config_folder(), "/home/seal/.config/velmora");
    ScopedEnv no_home("HOME", nullptr);
    EXPECT_EQ(default_user_config_folder(), "");
  }
}

TEST(FolderFileLocations, ProgramFolderHoldsThisTestProgram) {
  const std::string folder = default_program_folder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(fs::exists(fs::path(folder) / "config_test"));
  EXPECT_EQ(folder_file_path(folder), folder + "/DataFolder.txt");
  EXPECT_EQ(folder_file_path(folder + "/"), folder + "/DataFolder.txt");
}

}  // namespace
}  // namespace velmora::config

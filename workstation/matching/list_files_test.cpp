// The list files: names, the names a list can hold, whole writes.
#include "workstation/matching/list_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testing/files.h"
#include "testing/temp_dir.h"

namespace velmora::matching {
namespace {

using testing::read_file;

TEST(ListFiles, NamesCarryTheSide) {
  EXPECT_EQ(pending_list_name("L"), "pending_filesL.txt");
  EXPECT_EQ(library_list_name("M"), "library_filesM.txt");
}

TEST(ListFiles, NamesTheComparisonReadsAsWritten) {
  for (const char* ok :
       {"101_1FL", "GS0007_02BL", "a..b", "seal 12_1FL", "x;y@z", "x$1", "Cant1"}) {
    EXPECT_EQ(list_name_problem(ok), "") << ok;
  }
  // Each of these would be read as another name, or leave the folder.
  for (const char* bad : {"", ".", "..", "../101_1FL", "a/b", "a\\b", "a\nb", "a\rb", " 101_1FL",
                          "101_1FL ", "101_1FL\t", ";101_1FL", "@101_1FL", "101[x]_1FL", "10]1",
                          // ... or would move or drop its scores in the results file.
                          "101,1FL", "Can't_1FL", "x_Can't", "$101_1FL"}) {
    EXPECT_NE(list_name_problem(bad), "") << bad;
  }
  EXPECT_EQ(list_name_problem(std::string(kMaxListName, 'c')), "");
  EXPECT_NE(list_name_problem(std::string(kMaxListName + 1, 'c')), "");
}

class ListFileWrite : public ::testing::Test {
 protected:
  testing::TempDir temp_{"velmora_lists"};
  const std::filesystem::path dir_ = temp_.root();
};

TEST_F(ListFileWrite, OneNameALineReplacingTheOldList) {
  const std::string path = (dir_ / "pending_filesL.txt").string();
  std::ofstream(path) << "old1\nold2\nold3\n";
  ASSERT_TRUE(write_name_list(path, {"101_1FL", "102_2FL"}).ok());
  EXPECT_EQ(read_file(path), "101_1FL\n102_2FL\n");
  ASSERT_TRUE(write_name_list(path, {}).ok());
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(read_file(path), "");
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(ListFileWrite, UnwritableFolderFailsAndKeepsTheOldList) {
  const std::string missing = (dir_ / "no such folder" / "list.txt").string();
  Status s = write_name_list(missing, {"a"});
  EXPECT_EQ(s.code(), Status::Code::kIOError);
  EXPECT_NE(s.message().find(missing), std::string::npos);
  // A list that is a folder cannot be replaced; the folder stays.
  const std::string folder = (dir_ / "library_filesL.txt").string();
  std::filesystem::create_directories(folder + "/inside");
  EXPECT_FALSE(write_name_list(folder, {"a"}).ok());
  EXPECT_TRUE(std::filesystem::is_directory(folder + "/inside"));
  EXPECT_FALSE(std::filesystem::exists(folder + ".tmp"));
  // Nor any temporary file of another name.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
}  // namespace velmora::matching

// Test support for the corpus tool: a fresh scratch folder per test, made
// the current folder so that tests use short relative paths (fingerprint
// paths must fit the writer's 80-byte buffer), and whole-file reading.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace velmora::corpus {

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Each test runs in <temp>/corpus_<pid>_<test name>, removed afterwards.
class ScratchFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("corpus_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(root_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(root_);
  }
  std::filesystem::path root_, old_;
};

}  // namespace velmora::corpus

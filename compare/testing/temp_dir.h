// Test-only temporary folder: created empty, removed with everything in it
// when the object goes. Paths are returned with a trailing separator.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace tarvik::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ok() const { return !path_.empty(); }
  // The folder, ending in the separator.
  std::string dir() const { return path_ + "/"; }
  std::string path(const std::string& name) const { return dir() + name; }

  // Writes text (bytes) into dir() + name, creating sub-folders as needed.
  void write(const std::string& name, const std::string& bytes) const {
    const std::filesystem::path p = path(name);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f << bytes;
  }
  std::string read(const std::string& name) const {
    std::ifstream f(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(path(name)); }

 private:
  std::string path_;
};

}  // namespace tarvik::testing

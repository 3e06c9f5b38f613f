// Temporary folders for tests and benchmarks, and the current folder moved
// into one for a while. Standard library only.
#pragma once

#include <filesystem>
#include <string>

namespace velmora::testing {

// A new, empty folder under the system's temporary folder, removed with all
// it holds when the object goes, also where a test took the owner's rights
// away from a folder inside. Its name starts with `label`, which may hold
// blanks and quotes (for tests of paths that need quoting).
class TempDir {
 public:
  explicit TempDir(const std::string& label = "velmora");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Whether the folder is still there.
  bool ok() const;
  // The folder, ending in '/'.
  const std::string& dir() const { return dir_; }
  // The folder without its final '/'.
  std::filesystem::path root() const { return std::filesystem::path(dir_).parent_path(); }
  std::string path(const std::string& name) const { return dir_ + name; }

  // Writes bytes to path(name), making the folders on the way.
  bool write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string dir_;
};

// Makes `folder` the current folder until the object goes.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::filesystem::path& folder);
  ~CurrentFolder();
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  std::filesystem::path before_;
};

}  // namespace velmora::testing

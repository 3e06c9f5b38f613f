#include "testing/temp_dir.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>

#include "testing/files.h"

namespace velmora::testing {

namespace fs = std::filesystem;

namespace {

// Gives the owner every right on `folder` and the folders inside it, so that
// all of it can be removed.
void unlock(const fs::path& folder) {
  std::error_code ec;
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) unlock(it->path());
  }
}

}  // namespace

TempDir::TempDir(const std::string& label) {
  std::string pattern = (fs::temp_directory_path() / (label + "-XXXXXX")).string();
  // Without its folder a test would write wherever its paths lead: stop.
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror(("cannot make the temporary folder " + pattern).c_str());
    std::abort();
  }
  dir_ = pattern + "/";
}

TempDir::~TempDir() {
  unlock(root());
  std::error_code ec;
  fs::remove_all(root(), ec);
}

bool TempDir::ok() const {
  return fs::is_directory(root());
}

bool TempDir::write(const std::string& name, const std::string& bytes) const {
  std::error_code ec;
  fs::create_directories(fs::path(path(name)).parent_path(), ec);
  return write_file(path(name), bytes);
}

std::string TempDir::read(const std::string& name) const {
  return read_file(path(name));
}

bool TempDir::exists(const std::string& name) const {
  return fs::exists(path(name));
}

CurrentFolder::CurrentFolder(const fs::path& folder) : before_(fs::current_path()) {
  fs::current_path(folder);
}

CurrentFolder::~CurrentFolder() {
  std::error_code ec;
  fs::current_path(before_, ec);
}

}  // namespace velmora::testing

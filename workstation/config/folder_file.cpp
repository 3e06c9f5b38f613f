// Folder normalisation, the browse derivation and the DataFolder.txt reader
// and writer.
//
// Writing goes through write_file_atomically, so a crash or a full disk never
// leaves a half file and two workstation copies starting at once never write
// into each other's temporary file.
#include "workstation/config/folder_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "workstation/common/atomic_file.h"
#include "workstation/config/configuration_file.h"

namespace velmora::config {
namespace fs = std::filesystem;

namespace {

// A folder file holds three paths; anything much larger is not one.
constexpr size_t kMaxFolderFileBytes = 64 * 1024;

bool ends_with_slash(const std::string& s) {
  return !s.empty() && s.back() == '/';
}

Status read_one(const std::string& path, FolderSettings* folders) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::IOError(path + ": cannot be opened (" + std::strerror(errno) + ")");
  std::string text;
  char buf[4096];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    text.append(buf, static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxFolderFileBytes) {
      return Status::Corruption(path + ": larger than " + std::to_string(kMaxFolderFileBytes) +
                                " bytes, not a folder file");
    }
  }
  if (in.bad()) return Status::IOError(path + ": cannot be read");
  if (text.find('\0') != std::string::npos) {
    return Status::Corruption(path + ": holds a zero byte, not a folder file");
  }

  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size() && lines.size() < 3) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  FolderSettings read;
  if (lines.size() > 0) read.data_folder = lines[0];
  if (lines.size() > 1) read.database_path = lines[1];
  if (lines.size() > 2) read.newpics_folder = lines[2];
  *folders = read;
  if (lines.size() < 3) {
    return Status::Corruption(path + ": holds " + std::to_string(lines.size()) +
                              " of its 3 lines (data files folder, database path, newpics " +
                              "folder); the missing ones are left empty");
  }
  return Status::Ok();
}

}  // namespace

std::string normalise_folder(const std::string& folder) {
  if (folder.empty() || ends_with_slash(folder)) return folder;
  return folder + "/";
}

void normalise_folders(FolderSettings* folders) {
  folders->data_folder = normalise_folder(folders->data_folder);
  folders->newpics_folder = normalise_folder(folders->newpics_folder);
}

FolderSettings folders_from_database_path(const std::string& database_path) {
  FolderSettings f;
  f.database_path = database_path;
  size_t slash = database_path.rfind('/');
  f.data_folder = slash == std::string::npos ? std::string() : database_path.substr(0, slash + 1);
  f.newpics_folder = f.data_folder + kNewpicsSubfolder;
  return f;
}

void apply_browse_choice(const std::string& database_path, FolderSettings* folders,
                         Settings* settings, Faults* faults) {
  *folders = folders_from_database_path(database_path);
  settings->LimitSearch = false;
  read_configuration(folders->data_folder, settings, faults);
}

std::string default_program_folder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec && exe.has_parent_path()) return exe.parent_path().string();
  fs::path cwd = fs::current_path(ec);
  return ec ? std::string() : cwd.string();
}

std::string default_user_config_folder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return normalise_folder(xdg) + "velmora";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return normalise_folder(home) + ".config/velmora";
  return std::string();
}

FolderFileLocations default_folder_file_locations() {
  return FolderFileLocations{default_program_folder(), default_user_config_folder()};
}

std::string folder_file_path(const std::string& folder) {
  return normalise_folder(folder) + kFolderFileName;
}

Status read_folder_file(const FolderFileLocations& where, FolderSettings* folders,
                        std::string* read_from) {
  std::string chosen;
  fs::file_time_type chosen_time{};
  for (const std::string& folder : {where.program_folder, where.user_config_folder}) {
    if (folder.empty()) continue;
    std::string path = folder_file_path(folder);
    std::error_code ec;
    if (!fs::exists(path, ec)) continue;
    fs::file_time_type t = fs::last_write_time(path, ec);
    // The program folder's copy wins unless the other one was written later.
    if (chosen.empty() || (!ec && t > chosen_time)) {
      chosen = path;
      chosen_time = ec ? fs::file_time_type{} : t;
    }
  }
  if (chosen.empty()) return Status::NotFound(std::string(kFolderFileName) + " not found");
  if (read_from != nullptr) *read_from = chosen;
  return read_one(chosen, folders);
}

Status write_folder_file(const FolderFileLocations& where, const FolderSettings& folders,
                         std::string* written_to) {
  for (const std::string* value :
       {&folders.data_folder, &folders.database_path, &folders.newpics_folder}) {
    if (value->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
      return Status::InvalidArgument(std::string(kFolderFileName) + " not written: the path '" +
                                     *value + "' holds a line end or a zero byte");
    }
  }
  const std::string content =
      folders.data_folder + "\n" + folders.database_path + "\n" + folders.newpics_folder + "\n";

  std::string reasons;
  if (!where.program_folder.empty()) {
    std::string path = folder_file_path(where.program_folder);
    Status s = write_file_atomically(path, content);
    if (s.ok()) {
      if (written_to != nullptr) *written_to = path;
      return s;
    }
    reasons = s.message();
  }
  if (!where.user_config_folder.empty()) {
    std::error_code ec;
    fs::create_directories(where.user_config_folder, ec);
    std::string path = folder_file_path(where.user_config_folder);
    Status s = ec ? Status::IOError(where.user_config_folder + ": " + ec.message())
                  : write_file_atomically(path, content);
    if (s.ok()) {
      if (written_to != nullptr) *written_to = path;
      return s;
    }
    reasons += (reasons.empty() ? "" : "; ") + s.message();
  }
  if (reasons.empty()) reasons = "no folder to write it in is known";
  return Status::IOError(std::string(kFolderFileName) +
                         " could not be written, the folders are not remembered: " + reasons);
}

}  // namespace velmora::config

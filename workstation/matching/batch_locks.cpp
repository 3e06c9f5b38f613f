// The batch comparison's locks (see batch_locks.h).
#include "workstation/matching/batch_locks.h"

#include <set>

#include "workstation/config/folder_file.h"

namespace velmora::matching {
namespace {

// Aspect names come from the database: only letters and digits reach a
// file name, everything else becomes '_'.
std::string file_name_part(const std::string& text) {
  std::string out;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    out += (u < 0x80 && std::isalnum(u)) ? c : '_';
  }
  return out.empty() ? "_" : out;
}

}  // namespace

std::string database_lock_path(const std::string& database_path) {
  return database_path + ".batch.lock";
}

std::string aspect_side_lock_path(const std::string& database_path, const std::string& aspect,
                                  const std::string& side) {
  return database_path + ".batch-" + file_name_part(aspect) + "-" + file_name_part(side) + ".lock";
}

std::string working_folder_lock_path(const std::string& working_folder, const std::string& side) {
  return config::normalise_folder(working_folder) + "velmora-batch-" + file_name_part(side) +
         ".lock";
}

Status BatchLocks::take(const session::RunState& state,
                        const std::vector<session::AspectSide>& walk) {
  release();
  const std::string holder = this_process_description();
  const std::string& database = state.folders.database_path;
  const bool multi_core = state.options.multi_core;
  auto take_one = [&](const std::string& path, FileLock::Mode mode, FileLock::Inherit inherit,
                      const std::string& what) {
    FileLock lock;
    Status s = FileLock::try_lock(path, mode, inherit, what, holder, &lock);
    if (!s.ok()) {
      release();
      return s.code() == Status::Code::kCancelled
                 ? s.with_note(
                       " Another batch comparison is running; wait for it to end, or stop "
                       "it, before starting this one. Nothing was changed.")
                 : s;
    }
    locks_.push_back(std::move(lock));
    return Status::Ok();
  };

  Status s = take_one(database_lock_path(database),
                      multi_core ? FileLock::Mode::kShared : FileLock::Mode::kExclusive,
                      FileLock::Inherit::kNo, "The database " + database);
  if (!s.ok()) return s;
  std::set<std::string> sides;
  for (const session::AspectSide& a : walk) {
    if (multi_core) {
      s = take_one(
          aspect_side_lock_path(database, a.entry->aspect, a.side), FileLock::Mode::kExclusive,
          FileLock::Inherit::kNo,
          "Aspect " + a.entry->aspect + " side " + a.side + " of the database " + database);
      if (!s.ok()) return s;
    }
    sides.insert(a.side);
  }
  for (const std::string& side : sides) {
    s = take_one(working_folder_lock_path(state.working_folder, side), FileLock::Mode::kExclusive,
                 FileLock::Inherit::kYes,
                 "The side " + side + " list files of the working folder " + state.working_folder);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

}  // namespace velmora::matching

#include "workstation/common/safe_path.h"

namespace velmora {

bool is_safe_file_name(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char ch : name) {
    if (ch == '/' || ch == '\\' || ch < 0x20 || ch == 0x7f) return false;
  }
  return true;
}

Status join_safe(const std::string& folder, std::string_view name, std::string* path) {
  if (!is_safe_file_name(name)) {
    std::string shown;
    for (unsigned char ch : name) shown += ch < 0x20 ? '?' : static_cast<char>(ch);
    return Status::InvalidArgument("The name '" + shown +
                                   "' cannot be used as a file name: it would lead outside its "
                                   "folder or holds a control character.");
  }
  *path = folder;
  path->append(name);
  return Status::Ok();
}

}  // namespace velmora

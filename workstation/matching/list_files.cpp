// Writing the comparison program's list files (see list_files.h).
#include "workstation/matching/list_files.h"

#include "workstation/common/atomic_file.h"
#include "workstation/common/safe_path.h"

namespace velmora::matching {

std::string pending_list_name(const std::string& side) {
  return "pending_files" + side + ".txt";
}
std::string library_list_name(const std::string& side) {
  return "library_files" + side + ".txt";
}

std::string list_name_problem(std::string_view cell) {
  if (!is_safe_file_name(cell)) {
    return "not usable as a file name in the oldlib folder (empty, a separator, a control "
           "character, \".\" or \"..\")";
  }
  if (cell.size() > kMaxListName) return "longer than the comparison program reads";
  const char first = cell.front(), last = cell.back();
  if (first == ' ' || first == '\t' || last == ' ' || last == '\t') {
    return "begins or ends with a blank, which the comparison program drops";
  }
  if (first == ';' || first == '@') {
    return "begins with \";\" or \"@\", which the comparison program reads as a comment";
  }
  if (cell.find_first_of("[]") != std::string_view::npos) {
    return "holds \"[\" or \"]\", which the comparison program cuts out";
  }
  // The results file separates names by commas, and the import takes a
  // line holding "Can't" for a problem line and one beginning with "$" for a
  // header: such a name would move or drop its scores.
  if (cell.find(',') != std::string_view::npos) {
    return "holds a comma, which separates the names in the results file";
  }
  if (cell.find("Can't") != std::string_view::npos) {
    return "holds \"Can't\", which marks a problem line in the results file";
  }
  if (first == '$') return "begins with \"$\", which marks a header in the results file";
  return std::string();
}

Status write_name_list(const std::string& path, const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) {
    text += n;
    text += '\n';
  }
  Status s = write_file_atomically(path, text);
  if (!s.ok()) return Status::IOError("Cannot write the list file " + s.message() + ".");
  return s;
}

}  // namespace velmora::matching

// The list files of the comparison program: "pending_files" + side + ".txt"
// and "library_files" + side + ".txt" in the working folder, one cell name a
// line ("\n" line ends), naming fingerprint files of the data folder's
// "oldlib/" folder.
//
// tarvikx reads a list with its data-line reader, which trims blanks, drops
// lines starting with ";" or "@" and cuts out bracketed text, and opens
// oldlib/ + name. A cell name that reader would change, or that would leave
// the folder, is never written: list_name_problem tells why, and the batch
// comparison leaves such an extract out as if its file were missing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "workstation/common/status.h"

namespace velmora::matching {

// Library names per tarvikx run.
inline constexpr int kLibraryBatchNames = 199;
// Longest name tarvikx's line reader keeps whole.
inline constexpr size_t kMaxListName = 1023;

std::string pending_list_name(const std::string& side);  // "pending_files" + side + ".txt"
std::string library_list_name(const std::string& side);  // "library_files" + side + ".txt"

// Empty when `cell` can stand in a list file and name its fingerprint file;
// otherwise the reason, for the operator.
std::string list_name_problem(std::string_view cell);

// Writes the names, one a line, to `path` through write_file_atomically, so
// the list is replaced whole or not at all. An empty list gives an empty file.
Status write_name_list(const std::string& path, const std::vector<std::string>& names);

}  // namespace velmora::matching

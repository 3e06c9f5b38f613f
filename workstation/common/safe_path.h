// Building file paths from names that come from the database or from files.
//
// Cell names, aspect names and side letters end up in file names under the
// data folder ("oldlib/" + cell + ".fpt"). A name taken from a shared database
// must never lead a path out of its folder, so every such name passes
// is_safe_file_name before it is joined to a folder.
#pragma once

#include <string>
#include <string_view>

#include "workstation/common/status.h"

namespace velmora {

// True when `name` can be used as one file name inside a folder: not empty,
// no '/' or '\\', no NUL or other control byte, and not "." or "..". A name
// that merely contains ".." between other characters ("a..b") is harmless
// without a separator and is allowed.
bool is_safe_file_name(std::string_view name);

// folder + name, where folder already ends in '/' (or is empty). Fails with
// InvalidArgument naming the offending text when the name is not safe.
Status join_safe(const std::string& folder, std::string_view name, std::string* path);

}  // namespace velmora

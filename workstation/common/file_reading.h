// Reading a small file whole once its size has been checked: the readers of
// extract bundles, fit files and blank files each check what they expect
// first, then take the bytes here.
#pragma once

#include <cstddef>
#include <string>

#include "workstation/common/status.h"

namespace velmora {

// Reads the `size` bytes of the file at `path` into *bytes. Fails, naming
// `label`, when it cannot be opened, gives fewer bytes, or has grown since
// its size was taken (then it is not the file that was checked).
Status read_file_of_size(const std::string& path, std::size_t size, const std::string& label,
                         std::string* bytes);

}  // namespace velmora

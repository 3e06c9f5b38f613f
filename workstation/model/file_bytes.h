// Reading the small binary files of a fit (fit file, blank file) whole.
#pragma once

#include <cstddef>
#include <string>

#include "workstation/common/status.h"

namespace velmora::model {

// The file's bytes into *bytes. A file larger than `limit` is refused
// without reading it, so that a stray huge file costs nothing; a missing
// file is NotFound. Messages start with `label`.
Status read_file_bytes(const std::string& path, std::size_t limit, const std::string& label,
                       std::string* bytes);

}  // namespace velmora::model

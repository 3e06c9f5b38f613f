// Whole-file reads and writes for tests, byte for byte. Standard library only.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::testing {

// The file's bytes; "" when it cannot be read.
std::string read_file(const std::filesystem::path& path);
// Replaces the file with `bytes`; false when that failed.
bool write_file(const std::filesystem::path& path, const std::string& bytes);
// Adds `bytes` at the end of the file, making it when missing.
bool append_file(const std::filesystem::path& path, const std::string& bytes);
// The file's lines without their line ends; a last line without one counts.
std::vector<std::string> read_lines(const std::filesystem::path& path);

}  // namespace velmora::testing

#include "workstation/model/file_bytes.h"

#include <filesystem>
#include <system_error>

#include "workstation/common/file_reading.h"

namespace velmora::model {

Status read_file_bytes(const std::string& path, std::size_t limit, const std::string& label,
                       std::string* bytes) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) return Status::NotFound(label + ": no such file");
  if (!std::filesystem::is_regular_file(status)) {
    return Status::IOError(label + ": not a plain file");
  }
  const auto size = std::filesystem::file_size(path, error);
  if (error) return Status::IOError(label + ": cannot take its size: " + error.message());
  if (size > limit) {
    return Status::Corruption(label + ": " + std::to_string(size) + " bytes, more than the " +
                              std::to_string(limit) + " such a file holds");
  }
  return read_file_of_size(path, static_cast<std::size_t>(size), label, bytes);
}

}  // namespace velmora::model

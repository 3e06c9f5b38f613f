#include "workstation/model/file_bytes.h"

#include <filesystem>
#include <fstream>
#include <system_error>

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
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::IOError(label + ": cannot be opened");
  std::string data(static_cast<std::size_t>(size), '\0');
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  if (in.gcount() != static_cast<std::streamsize>(data.size())) {
    return Status::IOError(label + ": cannot be read whole (did it change while being read?)");
  }
  if (in.peek() != std::char_traits<char>::eof()) {
    return Status::Corruption(label + ": grew while being read");
  }
  *bytes = std::move(data);
  return Status::Ok();
}

}  // namespace velmora::model

#include "workstation/common/file_reading.h"

#include <fstream>

namespace velmora {

Status read_file_of_size(const std::string& path, std::size_t size, const std::string& label,
                         std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::IOError(label + ": cannot be opened");
  std::string data(size, '\0');
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

}  // namespace velmora

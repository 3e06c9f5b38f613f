// Fuzz target: next_data_line under settings taken from the input's first
// bytes, checking the properties every returned line must have.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "compare/line_reader.h"

using namespace tarvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int length = 2 + data[0] % 64 * (data[0] & 0x80 ? 32 : 1);
  const std::string comments(1, static_cast<char>(data[1]));
  const std::string brackets = data[2] & 1 ? std::string("[]") : std::string();
  reset_line_options();
  set_line_options(length, comments.c_str(), brackets.c_str());
  MemorySource in(data + 3, size - 3);
  std::string line;
  std::size_t lines = 0;
  while (next_data_line(in, line)) {
    if (line.empty() || line.size() > static_cast<std::size_t>(length) - 1) std::abort();
    if (line.find('\n') != std::string::npos) std::abort();
    if (line.front() == ' ' || line.front() == '\t' || line.back() == ' ' || line.back() == '\t') {
      std::abort();
    }
    if (!brackets.empty() && line.find_first_of(brackets) != std::string::npos) std::abort();
    if (++lines > size) std::abort();  // every line consumes at least one byte
  }
  reset_line_options();
  return 0;
}

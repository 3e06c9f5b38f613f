// Byte-by-byte line reading over stdio's buffer (see line_reader.h).
#include "workstation/matching/line_reader.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace velmora::matching {

Status LineReader::open(const std::string& path, std::unique_ptr<LineReader>* reader,
                        size_t max_line) {
  reader->reset();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    return Status::NotFound("The file '" + path + "' does not exist.");
  }
  if (std::filesystem::is_directory(path, ec)) {
    return Status::IOError("'" + path + "' is a folder, not a file.");
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    return Status::IOError("Cannot open the file '" + path + "': " + std::strerror(errno));
  }
  reader->reset(new LineReader(f, path, max_line == 0 ? kDefaultMaxLine : max_line));
  return Status::Ok();
}

LineReader::~LineReader() {
  std::fclose(file_);
}

bool LineReader::failed() const {
  return std::ferror(file_) != 0;
}

bool LineReader::read_a_line(std::string* text) {
  text->clear();
  truncated_ = false;
  ended_ = false;
  int c = std::getc(file_);
  if (c == EOF) return false;
  while (c != EOF) {
    if (c == '\r' || c == '\0') {
      int next = std::getc(file_);
      if (next != '\n' && next != EOF) std::ungetc(next, file_);
      ended_ = true;
      return true;
    }
    if (c == '\n') {
      ended_ = true;
      return true;
    }
    if (text->size() < max_line_) {
      text->push_back(static_cast<char>(c));
    } else {
      truncated_ = true;
    }
    c = std::getc(file_);
  }
  if (failed()) {
    text->clear();
    return false;
  }
  return true;
}

}  // namespace velmora::matching

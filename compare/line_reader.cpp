// The text-line reader: settings, byte sources and next_data_line.
//
// A line is read as the C library's line reader would: at most length - 1
// bytes, stopping after an LF. The settings live in one process-wide record;
// tarvikx is single-threaded.
#include "compare/line_reader.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace tarvik {
namespace {

struct LineOptions {
  int length = kDefaultLineLength;
  std::string comments = ";@";
  std::string brackets = "[]";
};

LineOptions& options() {
  static LineOptions instance;
  return instance;
}

bool is_leading_blank(unsigned char ch) {
  return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

// Reads and drops bytes up to and including the next LF, or to the end.
void discard_rest_of_line(ByteSource& in) {
  for (int ch = in.get(); ch >= 0 && ch != '\n'; ch = in.get()) {
  }
}

}  // namespace

FileSource::FileSource(const std::string& path) {
  if (path.find('\0') != std::string::npos) return;
  std::error_code ec;
  // A folder opens on some systems but never reads as a file.
  if (std::filesystem::is_directory(path, ec)) return;
  file_ = std::fopen(path.c_str(), "rb");
}

FileSource::~FileSource() {
  if (file_ != nullptr) std::fclose(file_);
}

int FileSource::get() {
  const int ch = std::getc(file_);
  return ch == EOF ? -1 : ch;
}

std::size_t FileSource::read(void* dst, std::size_t n) {
  return std::fread(dst, 1, n, file_);
}

void FileSource::skip(std::size_t n) {
  while (n > 0) {
    const long step = static_cast<long>(std::min<std::size_t>(n, LONG_MAX));
    std::fseek(file_, step, SEEK_CUR);
    n -= static_cast<std::size_t>(step);
  }
}

std::size_t MemorySource::read(void* dst, std::size_t n) {
  const std::size_t count = std::min(n, size_ - pos_);
  if (count > 0) std::memcpy(dst, data_ + pos_, count);
  pos_ += count;
  return count;
}

void set_line_options(int length, const char* comment_chars, const char* bracket_chars) {
  LineOptions& o = options();
  if (length != 0) o.length = std::max(length, 2);
  if (comment_chars != nullptr) {
    o.comments.assign(comment_chars, std::min(std::strlen(comment_chars), kMaxOptionCharacters));
  }
  if (bracket_chars != nullptr) {
    o.brackets.assign(bracket_chars, std::min(std::strlen(bracket_chars), kMaxOptionCharacters));
  }
}

void reset_line_options() {
  options() = LineOptions();
}
int line_length() {
  return options().length;
}
const std::string& comment_characters() {
  return options().comments;
}
const std::string& bracket_characters() {
  return options().brackets;
}

void strip_bracketed(std::string& line, std::string_view brackets) {
  if (brackets.empty()) return;
  std::size_t from = 0;
  for (;;) {
    const std::size_t open = line.find_first_of(brackets, from);
    if (open == std::string::npos) return;
    const std::size_t close = line.find_first_of(brackets, open + 1);
    if (close == std::string::npos) {
      line.resize(open);
      return;
    }
    line.erase(open, close - open + 1);
    from = open;
  }
}

void trim_blanks(std::string& line) {
  auto blank = [](char ch) { return ch == ' ' || ch == '\t'; };
  std::size_t end = line.size();
  while (end > 0 && blank(line[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && blank(line[begin])) ++begin;
  line = line.substr(begin, end - begin);
}

bool next_data_line(ByteSource& in, std::string& line) {
  const LineOptions& o = options();
  const std::size_t keep = static_cast<std::size_t>(o.length) - 1;
  std::string raw;
  raw.reserve(128);
  for (;;) {
    raw.clear();
    bool has_lf = false;
    while (raw.size() < keep) {
      const int ch = in.get();
      if (ch < 0) break;
      raw.push_back(static_cast<char>(ch));
      if (ch == '\n') {
        has_lf = true;
        break;
      }
    }
    if (raw.empty()) return false;

    std::size_t start = 0;
    while (start < raw.size() && is_leading_blank(static_cast<unsigned char>(raw[start]))) ++start;
    // A piece holding nothing but blanks is skipped like a blank line; the
    // rest of its line is read as the next piece, so text behind a long run
    // of blanks is not lost.
    if (start == raw.size()) continue;
    // The tail of an overlong comment or data line belongs to that line; it
    // must never come back as a line of its own.
    if (!has_lf) discard_rest_of_line(in);
    if (o.comments.find(raw[start]) != std::string::npos) continue;

    std::string text = raw.substr(start, raw.size() - start - (has_lf ? 1 : 0));
    strip_bracketed(text, o.brackets);
    trim_blanks(text);
    // Only bracket removal can empty a line here; a line that was nothing
    // but a remark is no data line.
    if (text.empty()) continue;
    line = std::move(text);
    return true;
  }
}

}  // namespace tarvik

// Byte streams and the text-line reader of the comparison program.
//
// Every text file tarvikx reads (fingerprint headers, the run file, the two
// list files) goes through next_data_line, which skips blank and comment
// lines, removes bracketed remarks and trims blanks. The settings it works
// with (line length, comment characters, bracket characters) are process-wide:
// the fingerprint reader switches them to ";" and no brackets at the start of
// every fingerprint, and they stay so for the rest of the run.
//
// A ByteSource is the stream a reader works on: a file opened for binary
// reading, or bytes in memory (tests and the fuzz targets). Line ends are LF
// only; a CR before the LF stays part of the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace tarvik {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The next byte (0 .. 255), or -1 at the end.
  virtual int get() = 0;
  // Up to n bytes into dst; returns how many were read (fewer at the end).
  virtual std::size_t read(void* dst, std::size_t n) = 0;
  // Moves n bytes forward; moving past the end is allowed (reads then fail).
  virtual void skip(std::size_t n) = 0;
};

// A file opened for binary reading; closed when the source goes.
class FileSource : public ByteSource {
 public:
  // Opens path; is_open() tells whether that worked. A path holding a NUL
  // byte never opens (it cannot name the file it spells).
  explicit FileSource(const std::string& path);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  bool is_open() const { return file_ != nullptr; }
  int get() override;
  std::size_t read(void* dst, std::size_t n) override;
  void skip(std::size_t n) override;

 private:
  std::FILE* file_ = nullptr;
};

// Bytes in memory; the caller keeps them alive while the source is in use.
class MemorySource : public ByteSource {
 public:
  MemorySource(const void* data, std::size_t size)
      : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
  explicit MemorySource(std::string_view bytes) : MemorySource(bytes.data(), bytes.size()) {}
  int get() override { return pos_ < size_ ? data_[pos_++] : -1; }
  std::size_t read(void* dst, std::size_t n) override;
  void skip(std::size_t n) override { pos_ = n > size_ - pos_ ? size_ : pos_ + n; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Line-reader settings. Defaults: length 1024 (at most 1023 characters of a
// line are kept), comment characters ";@", bracket characters "[]".
inline constexpr int kDefaultLineLength = 1024;
inline constexpr std::size_t kMaxOptionCharacters = 15;

// Replaces each setting whose argument is given: a length of 0 or a null
// string leaves that setting as it is. Lengths below 2 are raised to 2 (a
// line must be able to hold one character); longer character sets are cut to
// 15 characters. An empty bracket set switches bracket removal off.
void set_line_options(int length, const char* comment_chars, const char* bracket_chars);
// Back to the defaults (tests; the program itself never needs it).
void reset_line_options();
int line_length();
const std::string& comment_characters();
const std::string& bracket_characters();

// The next data line of `in` into `line`; false at the end of the stream.
// Blank lines, lines whose first non-blank character is a comment character
// and lines that hold nothing but bracketed text are skipped. A line longer
// than the line length keeps its first length - 1 characters; the rest of it,
// up to and including its LF, is read and dropped. When those first
// characters are blanks only, they count as a blank line and the rest of the
// line is read on as the next one.
bool next_data_line(ByteSource& in, std::string& line);

// Removes every section from one bracket character to the next one (both
// included); an unpaired bracket character cuts the line there.
void strip_bracketed(std::string& line, std::string_view brackets);
// Removes leading and trailing spaces and tabs (bytes of 128 or more never
// count as blanks).
void trim_blanks(std::string& line);

}  // namespace tarvik

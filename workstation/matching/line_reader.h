// LineReader: the workstation's shared reader of text files opened as bytes
// (results files of the comparison program, model definition files).
//
// read_a_line appends bytes to the line until a line end and drops the line
// end. A line ends at a carriage return, a line feed or a zero byte; a line
// feed straight after a carriage return or a zero byte belongs to the same
// line end and is dropped with it. So "a\r\nb", "a\nb" and "a\0\nb" all give
// the lines "a" and "b" — files written on either platform read alike. At the
// end of the file the reader returns what it has; a file ending in a line
// end gives no extra empty line. line_ended() tells whether the line just
// returned had its line end: a last line without one may be all there is of
// a line whose writer was stopped (a full disk), and a reader that must not
// take half a line for a whole one asks.
//
// A line longer than max_line bytes keeps its first max_line bytes and the
// rest of it is dropped up to its line end; line_truncated() tells the caller,
// so a reader of outside files never grows without bound on a file without
// line ends. One LineReader per file, used on one thread.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "workstation/common/status.h"

namespace velmora::matching {

class LineReader {
 public:
  static constexpr size_t kDefaultMaxLine = 64 * 1024;

  // Opens `path` for reading as bytes. NotFound when the file does not
  // exist, IOError when it exists but cannot be opened.
  static Status open(const std::string& path, std::unique_ptr<LineReader>* reader,
                     size_t max_line = kDefaultMaxLine);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Reads the next line into *text (without its line end). Returns false,
  // with *text empty, when the file was already at its end or a read error
  // occurred (failed() tells the two apart).
  bool read_a_line(std::string* text);

  bool line_truncated() const { return truncated_; }
  // True when the line last returned was ended by a line end; false for a
  // last line that ran into the end of the file.
  bool line_ended() const { return ended_; }
  // True when the file could not be read to its end.
  bool failed() const;
  const std::string& path() const { return path_; }

 private:
  LineReader(std::FILE* f, std::string path, size_t max_line)
      : file_(f), path_(std::move(path)), max_line_(max_line) {}
  std::FILE* file_;
  std::string path_;
  size_t max_line_;
  bool truncated_ = false;
  bool ended_ = false;
};

}  // namespace velmora::matching

// Status: the outcome of a core operation, carried as a value.
//
// Core code (configuration, database, import, algorithms) never throws across
// a module boundary; it returns a Status that is either ok or carries a code
// and a message written for the operator ("orlain.ini line 4: key 'ThreshMax'
// ..."). The windows turn a failed Status into a message box. A Status is a
// small value type; copy it freely. It is [[nodiscard]]: a dropped Status is a
// failure nobody hears of, so where dropping one is right the code says so
// with (void) and a comment giving the reason.
#pragma once

#include <string>
#include <utility>

namespace velmora {

class [[nodiscard]] Status {
 public:
  enum class Code {
    kOk,
    kNotFound,
    kCorruption,
    kIOError,
    kInvalidArgument,
    kDatabase,
    kCancelled
  };

  Status() = default;
  static Status Ok() { return Status(); }
  static Status NotFound(std::string msg) { return Status(Code::kNotFound, std::move(msg)); }
  static Status Corruption(std::string msg) { return Status(Code::kCorruption, std::move(msg)); }
  static Status IOError(std::string msg) { return Status(Code::kIOError, std::move(msg)); }
  static Status InvalidArgument(std::string msg) {
    return Status(Code::kInvalidArgument, std::move(msg));
  }
  static Status Database(std::string msg) { return Status(Code::kDatabase, std::move(msg)); }
  static Status Cancelled(std::string msg) { return Status(Code::kCancelled, std::move(msg)); }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }
  // The same failure with more text for the operator after its message.
  Status with_note(const std::string& note) const {
    Status copy = *this;
    copy.message_ += note;
    return copy;
  }

 private:
  Status(Code code, std::string msg) : code_(code), message_(std::move(msg)) {}
  Code code_ = Code::kOk;
  std::string message_;
};

}  // namespace velmora

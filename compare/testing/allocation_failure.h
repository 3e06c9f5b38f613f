// Test-only: makes allocations of one purpose fail while the object lives.
#pragma once

#include <string>
#include <string_view>

#include "compare/arrays.h"

namespace tarvik::testing {

class FailAllocations {
 public:
  // Allocations tagged `purpose` fail after the first `allowed` of them.
  explicit FailAllocations(std::string purpose, int allowed = 0)
      : purpose_(std::move(purpose)), allowed_(allowed) {
    set_allocation_hook([this](std::string_view what, std::size_t) {
      if (what != purpose_) return true;
      ++seen_;
      return seen_ <= allowed_;
    });
  }
  ~FailAllocations() { set_allocation_hook(nullptr); }
  FailAllocations(const FailAllocations&) = delete;
  FailAllocations& operator=(const FailAllocations&) = delete;
  int seen() const { return seen_; }

 private:
  std::string purpose_;
  int allowed_;
  int seen_ = 0;
};

}  // namespace tarvik::testing

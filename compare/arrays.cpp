// The process-wide allocation hook of the bounded arrays (see arrays.h).
#include "compare/arrays.h"

#include <utility>

namespace tarvik {
namespace {
AllocationHook& hook() {
  static AllocationHook instance;
  return instance;
}
}  // namespace

void set_allocation_hook(AllocationHook h) {
  hook() = std::move(h);
}

bool allocation_allowed(std::string_view purpose, std::size_t bytes) {
  const AllocationHook& h = hook();
  return !h || h(purpose, bytes);
}

}  // namespace tarvik

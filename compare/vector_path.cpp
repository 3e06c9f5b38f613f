// The process-wide choice of the comparison's code path (vector_path.h).
#include "compare/vector_path.h"

#include <atomic>

#include "compare/avx2_kernels.h"

namespace tarvik {
namespace {

std::atomic<VectorPath>& chosen() {
  static std::atomic<VectorPath> path{avx2::supported() ? VectorPath::kAvx2
                                                        : VectorPath::kBaseline};
  return path;
}

}  // namespace

const char* vector_path_name(VectorPath path) {
  return path == VectorPath::kAvx2 ? "avx2" : "baseline";
}

bool vector_path_available(VectorPath path) {
  return path == VectorPath::kBaseline || avx2::supported();
}

VectorPath default_vector_path() {
  return chosen().load(std::memory_order_relaxed);
}

bool set_default_vector_path(VectorPath path) {
  if (!vector_path_available(path)) return false;
  chosen().store(path, std::memory_order_relaxed);
  return true;
}

}  // namespace tarvik

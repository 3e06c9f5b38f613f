// Fuzz target: any bytes, cut into lines as the line reader cuts them, are
// told apart without reading outside the line, and what is taken as a
// result always carries two names inside the line and a finite score.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "workstation/matching/results_line.h"

using velmora::matching::ResultsLine;
using velmora::matching::ResultsLineKind;

static bool inside(std::string_view part, std::string_view whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find_first_of(std::string_view("\r\n\0", 3), start);
    if (end == std::string_view::npos) end = all.size();
    std::string_view line = all.substr(start, end - start);
    ResultsLine r = velmora::matching::classify_results_line(line);
    if (r.kind == ResultsLineKind::kResult) {
      if (r.first.empty() || r.second.empty() || !inside(r.first, line) ||
          !inside(r.second, line) || !std::isfinite(r.score)) {
        std::abort();
      }
    }
    if (r.kind == ResultsLineKind::kHeader && (!inside(r.first, line) || !inside(r.second, line))) {
      std::abort();
    }
    if (r.kind == ResultsLineKind::kMalformed && r.reason.empty()) std::abort();
    start = end + 1;
  }
  return 0;
}

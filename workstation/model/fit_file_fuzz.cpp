// Fuzz target: any bytes, read as a fit file, are either refused with a
// message naming the file and the cell, or give a record whose lists count
// within their capacity and that writes back to the very same bytes.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "workstation/model/fit_file.h"

using namespace velmora::model;

static void check(bool condition) {
  if (!condition) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  FitRecord record;
  const velmora::Status s = parse_fit_file(input, "savedraw/GS1_FL", "GS1_FL", &record);
  if (!s.ok()) {
    check(s.message().rfind("savedraw/GS1_FL (cell GS1_FL): ", 0) == 0);
    return 0;
  }
  for (const auto* list : {&record.marks.midline, &record.marks.top, &record.marks.bottom}) {
    check(list->count >= 0 && list->count <= velmora::fennick::kMaxListPoints);
  }
  check(record.crop.destination_width > 0 && record.crop.destination_height > 0);
  check(record.has_picked == (size == kFitFileWithPicksBytes));
  if (record.has_picked)
    check(std::isfinite(record.picked.y1) && std::isfinite(record.picked.theta2));
  check(fit_file_bytes(record) == input);
  return 0;
}

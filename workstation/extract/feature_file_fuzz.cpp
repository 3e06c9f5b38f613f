// Fuzz target: any bytes, read as a feature file with and without kinds, are
// either refused with a message naming the file or give a content whose seed
// sets name spots of the file and that writes back to the very same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "workstation/extract/feature_file.h"

using namespace velmora::extract;

static void check(bool condition) {
  if (!condition) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  for (bool kinds : {false, true}) {
    FeatureFile file;
    const velmora::Status s = parse_feature_file(input, kinds, "lib/GS1", &file);
    if (!s.ok()) {
      check(s.message().rfind("lib/GS1: ", 0) == 0);
      continue;
    }
    check(file.has_kinds == kinds && file.seeds.count >= 0 && file.seeds.count <= kMaxSeedSets);
    for (int k = 0; k < file.seeds.count; ++k) {
      for (int number : file.seeds.sets[k]) {
        check(number >= 1 && number <= static_cast<int>(file.spots.size()));
      }
    }
    for (const FeatureSpot& spot : file.spots) check(spot.kind >= 1 && spot.kind <= 3);
    check(pack_spot_map(unpack_spot_map(file.top_map)) == file.top_map);
    check(feature_file_bytes(file) == input);
  }
  return 0;
}

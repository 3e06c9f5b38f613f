// Fuzz target: any bytes read as a key file are either refused with a
// message naming the file, or give at most kMaxKeys keys with positive
// scales whose arrays match their count, and whose text reads back as the
// very same keys.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "libs/bristane/key_file.h"

using namespace velmora::bristane;

static void check(bool condition) {
  if (!condition) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  KeyList keys;
  const velmora::Status s = parse_key_text(input, "SiftLib/GS1", &keys);
  if (!s.ok()) {
    check(s.message().rfind("SiftLib/GS1", 0) == 0 && keys == KeyList{});
    return 0;
  }
  const int n = keys.count();
  check(n == std::min(keys.announced, kMaxKeys));
  check(keys.locations.size() == static_cast<size_t>(n) * kLocationValues);
  check(keys.descriptors.size() == static_cast<size_t>(n) * kDescriptorLength);
  for (int k = 0; k < n; ++k) {
    for (int v = 0; v < kLocationValues; ++v) check(std::isfinite(keys.locations[k * 4 + v]));
    check(keys.locations[k * 4 + 2] > 0.0f);
  }
  KeyList again;
  check(parse_key_text(key_file_text(keys), "again", &again).ok());
  again.announced = keys.announced;
  check(again == keys);
  return 0;
}

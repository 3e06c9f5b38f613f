// KeyList: the key points of one extract, as the key-point generator writes
// them and the matcher (list_matches.h) takes them.
//
// A key is a location in the extract (row and column in pixels from the top
// left corner, 0-based, the scale of its neighbourhood in pixels and the
// direction of its dominant gradient in radians, measured from the column
// axis towards the row axis, in (-pi, pi]) and a descriptor of 128 values
// 0..255 (gradient histograms of its neighbourhood).
//
// Memory layout, kept flat so that a batch of extracts can hold its lists
// back to back and the matcher can stream over them: `locations` holds four
// floats per key (row, column, scale, orientation), `descriptors` 128 bytes
// per key, keys in the same order in both. At most kMaxKeys keys are kept;
// a file announcing more is cut to the first kMaxKeys, which the generator
// writes strongest first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora::bristane {

inline constexpr int kDescriptorLength = 128;
inline constexpr int kLocationValues = 4;  // row, column, scale, orientation
inline constexpr int kMaxKeys = 1000;

struct KeyList {
  int announced = 0;                      // the count the file gave (may exceed kMaxKeys)
  std::vector<float> locations;           // kLocationValues per key
  std::vector<std::uint8_t> descriptors;  // kDescriptorLength per key

  int count() const { return static_cast<int>(locations.size() / kLocationValues); }
  bool operator==(const KeyList&) const = default;
};

}  // namespace velmora::bristane

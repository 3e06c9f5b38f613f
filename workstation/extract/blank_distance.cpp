// The distance-to-blank map (see blank_distance.h).
#include "workstation/extract/blank_distance.h"

#include <algorithm>
#include <cmath>

namespace velmora::extract {
namespace {

bool blank(const SharedExtract& e, int row, int column) {
  return e.cell_blank(row, column) != kUsablePixel;
}

// A blank pixel with a usable neighbour (the 3 x 3 square clipped to the
// extract).
bool on_blank_edge(const SharedExtract& e, int row, int column) {
  if (!blank(e, row, column)) return false;
  for (int r = std::max(1, row - 1); r <= std::min(kExtractRows, row + 1); ++r) {
    for (int c = std::max(1, column - 1); c <= std::min(kExtractColumns, column + 1); ++c) {
      if (!blank(e, r, c)) return true;
    }
  }
  return false;
}

}  // namespace

void compute_blank_distance(const SharedExtract& extract, std::vector<float>* distance) {
  distance->resize(kExtractPixels, kBlankDistanceCap);
  for (int i = 1; i <= kExtractRows; ++i) {
    for (int j = 1; j <= kExtractColumns; ++j) {
      if (!on_blank_edge(extract, i, j)) continue;
      const int k0 = std::max(1, i - kBlankDistanceReach);
      const int k1 = std::min(kExtractRows, i + kBlankDistanceReach);
      const int l0 = std::max(1, j - kBlankDistanceReach);
      const int l1 = std::min(kExtractColumns, j + kBlankDistanceReach);
      for (int k = k0; k <= k1; ++k) {
        const int dk = i - k;
        float* row = distance->data() + SharedExtract::index(k, 1);
        for (int l = l0; l <= l1; ++l) {
          const int dl = j - l;
          const float d = static_cast<float>(std::sqrt(static_cast<double>(dk * dk + dl * dl)));
          float& v = row[l - 1];
          if (d < v) v = d;
        }
      }
    }
  }
}

}  // namespace velmora::extract

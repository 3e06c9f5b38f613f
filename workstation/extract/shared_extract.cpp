#include "workstation/extract/shared_extract.h"

#include <cstdio>
#include <cstdlib>

namespace velmora::extract {

SharedExtract::SharedExtract()
    : intensity(kExtractPixels, 0.0),
      rgb(static_cast<std::size_t>(kColourPlanes) * kExtractPixels, 0),
      blank(kExtractPixels, kUsablePixel) {}

std::size_t SharedExtract::index(int row, int column) {
  if (!in_range(row, column)) {
    std::fprintf(stderr, "shared extract: pixel (%d, %d) is outside 1..256 x 1..256\n", row,
                 column);
    std::abort();
  }
  return static_cast<std::size_t>(row - 1) * kExtractColumns + static_cast<std::size_t>(column - 1);
}

}  // namespace velmora::extract

// Fuzz target: read_fingerprint on arbitrary bytes, with every flag set and
// with the table alone, checking that whatever it accepts is consistent and
// holds no NaN or infinity in a real it read.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "compare/fingerprint.h"

using namespace tarvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (int flags : {kLoadImage | kLoadNormTable | kParseExtra, kLoadNormTable, 0}) {
    MemorySource in(data, size);
    Fingerprint fp;
    SubCellLayout layout;
    FingerprintExtra extra;
    const int code = read_fingerprint(in, fp, flags, &layout, &extra);
    if (code != kReadOk) {
      if (!fp.image.empty() || !fp.norm_table.empty() || fp.rows != 0) std::abort();
      continue;
    }
    if (fp.rows < 1 || fp.rows > kMaxExtractSize || fp.cols < 1 || fp.cols > kMaxExtractSize) {
      std::abort();
    }
    if (layout.across * layout.down != 4) std::abort();
    if (!std::isfinite(fp.cell_mean)) std::abort();
    for (int k = 0; k < 4; ++k) {
      if (!std::isfinite(layout.sub_mean[k]) || !std::isfinite(layout.sub_scale[k])) std::abort();
    }
    if (flags & kParseExtra) {
      for (float v : {extra.real1, extra.real2, extra.real3}) {
        if (!std::isfinite(v)) std::abort();
      }
      for (double v : extra.line5) {
        if (!std::isfinite(v)) std::abort();
      }
      for (double v : extra.line6) {
        if (!std::isfinite(v)) std::abort();
      }
    }
    if ((flags & kLoadImage) && fp.image.rows() != fp.rows) std::abort();
    if (flags & kLoadNormTable) {
      if (fp.norm_table.rows() != fp.rows - fp.subrows + 1) std::abort();
      for (int r = 1; r <= fp.norm_table.row_hi(); ++r) {
        for (int c = 1; c <= fp.norm_table.col_hi(); ++c) {
          if (!std::isfinite(fp.norm_table(r, c))) std::abort();
        }
      }
      // Touch the corners so that a wrong size shows under the sanitizers.
      volatile float sink =
          fp.norm_table(1, 1) + fp.norm_table(fp.norm_table.row_hi(), fp.norm_table.col_hi());
      (void)sink;
    }
  }
  return 0;
}

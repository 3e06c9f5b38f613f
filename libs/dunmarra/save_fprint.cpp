// save_fprint: argument checks, then the file written whole or not at all
// through the workstation's writer (see the header for the contract).
#include "libs/dunmarra/save_fprint.h"

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "libs/dunmarra/fingerprint_file.h"
#include "libs/dunmarra/fingerprint_normalisation.h"
#include "workstation/common/atomic_file.h"

namespace velmora::dunmarra {
namespace {

// The text of an 80-byte buffer, or false when no terminator lies inside it.
bool buffer_text(const char* buffer, std::string_view* text) {
  const void* end = std::memchr(buffer, '\0', kTextBufferSize);
  if (end == nullptr) return false;
  *text = std::string_view(buffer, static_cast<size_t>(static_cast<const char*>(end) - buffer));
  return true;
}

}  // namespace
}  // namespace velmora::dunmarra

extern "C" int32_t save_fprint(const int32_t* geometry, const double* reals, const char* cell,
                               const char* path, const uint8_t* image) {
  using namespace velmora::dunmarra;
  if (geometry == nullptr || reals == nullptr || image == nullptr) return kSaveFprintBadGeometry;
  if (cell == nullptr || path == nullptr) return kSaveFprintBadText;

  FingerprintGeometry g;
  g.rows = geometry[0];
  g.cols = geometry[1];
  g.row_origin = geometry[2];
  g.col_origin = geometry[3];
  g.subrows = geometry[4];
  g.subcols = geometry[5];
  g.across = geometry[6];
  g.down = geometry[7];
  if (!check_geometry(g).empty()) return kSaveFprintBadGeometry;

  std::string_view cell_text;
  std::string_view path_text;
  if (!buffer_text(cell, &cell_text) || !buffer_text(path, &path_text) || path_text.empty())
    return kSaveFprintBadText;

  std::array<double, 6> given;
  for (size_t i = 0; i < given.size(); ++i) {
    if (!std::isfinite(reals[i])) return kSaveFprintBadReal;
    given[i] = reals[i];
  }

  std::vector<uint8_t> packed(static_cast<size_t>(g.rows) * g.cols);
  for (int r = 0; r < g.rows; ++r)
    for (int c = 0; c < g.cols; ++c) {
      const uint8_t p = image[static_cast<size_t>(r) * kImageStride + c];
      if (p > kMaskedPixel) return kSaveFprintBadPixel;
      packed[static_cast<size_t>(r) * g.cols + c] = p;
    }

  const Normalisation norm = compute_normalisation(g, packed);
  const std::string bytes = format_fingerprint(g, norm, packed, cell_text, given);
  // The caller gets only a code; the writer's message (which file, which
  // step, why) has no place in this call.
  if (!velmora::write_file_atomically(std::string(path_text), bytes).ok())
    return kSaveFprintNotWritable;
  return kSaveFprintOk;
}

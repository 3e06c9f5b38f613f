// dunmarra: the fingerprint writer the workstation calls when it saves an extract.
//
// save_fprint keeps the call of the outside library it replaces: plain
// pointers, fixed-size text buffers and a 32-bit result, -1 for success. It
// writes one fingerprint file (layout in fingerprint_file.h) whole or not at
// all through write_file_atomically (workstation/common/atomic_file.h): the
// bytes go to a temporary file beside the target, are flushed to disk and
// then renamed over the target, so a failure or a crash leaves either the old
// file or the new one, never a part, and no temporary file.
//
// Thread-safe: it keeps no state beyond the writer's counter for temporary
// names.
#pragma once

#include <cstdint>

namespace velmora::dunmarra {

inline constexpr int32_t kSaveFprintOk = -1;
// The eight integers do not describe a geometry the comparison can use
// (see check_geometry), or a pointer is null.
inline constexpr int32_t kSaveFprintBadGeometry = 1;
// The file could not be written: folder missing, not writable, disk full,
// target is a folder, ...
inline constexpr int32_t kSaveFprintNotWritable = 2;
// An image byte above 64: the comparison would take it as masked in one step
// and as a grey level in another.
inline constexpr int32_t kSaveFprintBadPixel = 3;
// The cell name or the path is not a zero-terminated text inside its 80-byte
// buffer, or the path is empty.
inline constexpr int32_t kSaveFprintBadText = 4;
// One of the six reals is not a finite number (it could not be read back).
inline constexpr int32_t kSaveFprintBadReal = 5;

inline constexpr int kTextBufferSize = 80;
inline constexpr int kImageStride = 256;

}  // namespace velmora::dunmarra

extern "C" {

// geometry: eight integers rows, cols, row_origin, col_origin, subrows,
//   subcols, across, down (the workstation passes 64, 64, 17, 17, 16, 16, 2, 2:
//   four 16 x 16 sub-cells covering rows and columns 17-48).
// reals: six doubles, stored in line 6 of the file (the workstation passes 0).
// cell, path: 80-byte buffers holding zero-terminated texts.
// image: rows x cols bytes, 0-63 grey and 64 masked, row r starting at
//   image + r * 256 (the buffer is read only where the image lies).
// Returns kSaveFprintOk or one of the codes above.
int32_t save_fprint(const int32_t* geometry, const double* reals, const char* cell,
                    const char* path, const uint8_t* image);

}  // extern "C"

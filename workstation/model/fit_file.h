// The fit file: what OK keeps of a fit so that Retrieve can bring it back and
// the confirmation window can frame the photograph on the crop.
//
// Binary, little-endian, no header; the fields follow each other:
//
//   offset  bytes  field
//   0       2608   MarkedPoints, byte for byte as fennick_records.h lays it out
//   2608      18   crop record: nine int16 — destination x (0), destination
//                  y (0), destination width, destination height (the work
//                  picture), source x, source y, source width, source height
//                  (photograph pixels), width-limited flag (-1 or 0)
//   2626      32   picked points, doubles Y1, Y2, theta1, theta2 — only when
//                  the aspect's adjust_extract is -1, -2 or -3 at OK
//
// So a fit file is 2626 or 2658 bytes long, nothing else. The reader takes the
// picked points whenever the file holds them; whether they are used depends on
// the aspect that retrieves it (retrieve.h), because a partner cell ("HA" of an
// "FL", "NK" of an "HD") reads the file its partner's aspect wrote.
//
// The reader is strict: a file of any other length, a list count outside
// 0..100, a placed flag other than 0 or 1, a placed special point or counted
// list entry outside the int16 range a picture can have, a crop that is not a
// picture (destination not at 0, 0; a size not above zero; a negative source
// corner; a width-limited flag other than -1 or 0) or a picked point that is
// not a finite number is refused with a message naming the file and the cell.
// What lies beyond a list's count and the positions of unplaced special points
// carry no meaning and are kept as stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "libs/fennick/fennick_records.h"
#include "workstation/common/atomic_file.h"
#include "workstation/common/status.h"
#include "workstation/model/fit_records.h"

namespace velmora::model {

inline constexpr std::size_t kMarkedPointsBytes = sizeof(fennick::MarkedPoints);  // 2608
inline constexpr std::size_t kCropRecordBytes = 18;
inline constexpr std::size_t kPickedPointsBytes = 32;
inline constexpr std::size_t kFitFileBytes = kMarkedPointsBytes + kCropRecordBytes;        // 2626
inline constexpr std::size_t kFitFileWithPicksBytes = kFitFileBytes + kPickedPointsBytes;  // 2658

// The folder of the fit files under the data folder.
inline constexpr std::string_view kFitFolder = "savedraw/";

struct FitRecord {
  fennick::MarkedPoints marks{};
  CropRecord crop;
  bool has_picked = false;  // written (or found) after the crop record
  PickedPoints picked;
};

// Whether an aspect's adjust_extract makes OK store the picked points.
inline bool adjust_extract_keeps_picks(int adjust_extract) {
  return adjust_extract == -1 || adjust_extract == -2 || adjust_extract == -3;
}

// What OK stores: the picked points only when adjust_extract asks for them.
FitRecord fit_record_for_ok(const fennick::MarkedPoints& marks, const CropRecord& crop,
                            const PickedPoints& picked, int adjust_extract);

// The file's bytes (kFitFileBytes, or kFitFileWithPicksBytes with picks).
std::string fit_file_bytes(const FitRecord& record);

// Reads `bytes` as the fit file of `cell`; `file` names it in messages.
// *record is untouched on failure.
Status parse_fit_file(std::string_view bytes, const std::string& file, const std::string& cell,
                      FitRecord* record);

// data_folder + "savedraw/" + cell, the file that OK writes and Retrieve and
// the window's start-up look for. Refuses a cell name that would leave the
// folder. `data_folder` ends in '/' (or is empty).
Status fit_file_path(const std::string& data_folder, const std::string& cell, std::string* path);

// The same for showing a photograph framed on its crop: a path ending in
// "A_HD" ends in "1_HD" instead, the fit of an animal's first head view
// serving for its others.
Status display_fit_file_path(const std::string& data_folder, const std::string& cell,
                             std::string* path);

// The cells whose fit files OK writes for `cell`: the cell itself, and for a
// code "HD" also its "NK", for "FL" also its "HA" (the same fit serves both).
std::vector<std::string> fit_file_cells_for_ok(const std::string& cell);

// OK's fit files for `cell`, each whole or not at all. Every file is made in
// full before the first takes its name, so a failure while writing leaves
// every target as it was.
Status write_fit_files(const std::string& data_folder, const std::string& cell,
                       const FitRecord& record, FileSystemCalls& calls = system_file_calls());

// Reads the fit file at `path` (from fit_file_path) for `cell`. A missing file
// is NotFound.
Status read_fit_file(const std::string& path, const std::string& cell, FitRecord* record);

}  // namespace velmora::model

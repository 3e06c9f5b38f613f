// The extract bundle: the one exchange format between fitting and extract
// processing, on disk and in memory.
//
// A bundle is a folder holding exactly four files:
//
//   intensity.f64  256 x 256 little-endian IEEE-754 doubles, CellIntensity row
//                  1 first, columns 1..256 within a row (524288 bytes). Every
//                  value finite and within 0..255.
//   rgb.i16        3 x 256 x 256 little-endian int16: the red plane, then the
//                  green plane, then the blue plane, each row by row as above
//                  (393216 bytes; the blue plane starts at byte 262144).
//   blank.i16      256 x 256 little-endian int16 CellBlank flags, row by row
//                  (131072 bytes). Every value -1 (blank) or 0 (usable).
//   extract.ini    text, one key=value per line, LF or CRLF line ends:
//                    cell=NAME          the cell the extract belongs to; must
//                                       be a safe file name
//                    blank_edited=0|1   whether the mask was edited by hand
//                  Both keys exactly once. Any other key, an empty line or a
//                  line without '=' is refused: the format is our own, so
//                  anything else is damage or a newer writer we do not know.
//
// Byte order is fixed (little-endian) and handled byte by byte, so a bundle
// reads the same on any host. extract.ini is written last and removed first
// when a bundle is replaced: a folder without it is an unfinished bundle.
//
// Failures are Status values whose message names the file ("<folder>/
// blank.i16: pixel (3, 7) has blank flag 2, expected 0 or -1").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/extract/shared_extract.h"

namespace velmora::extract {

inline constexpr char kIntensityFileName[] = "intensity.f64";
inline constexpr char kRgbFileName[] = "rgb.i16";
inline constexpr char kBlankFileName[] = "blank.i16";
inline constexpr char kExtractIniFileName[] = "extract.ini";

inline constexpr std::size_t kIntensityFileBytes = kExtractPixels * 8;
inline constexpr std::size_t kRgbFileBytes = kColourPlanes * kExtractPixels * 2;
inline constexpr std::size_t kBlankFileBytes = kExtractPixels * 2;
// Far more than two short lines need; a longer extract.ini is not ours.
inline constexpr std::size_t kExtractIniMaxBytes = 64 * 1024;

// What extract.ini says.
struct ExtractIni {
  std::string cell;
  bool blank_edited = false;
};

// The four files' contents, as read from a bundle folder or built in memory.
struct ExtractBundleBytes {
  std::string intensity;
  std::string rgb;
  std::string blank;
  std::string ini;
};

// --- In-memory entry points. `label` names the file in messages (the path
// when the bytes came from disk). On failure the output is left untouched.

Status parse_intensity(std::string_view bytes, const std::string& label,
                       std::vector<double>* intensity);
Status parse_rgb(std::string_view bytes, const std::string& label, std::vector<std::int16_t>* rgb);
Status parse_blank(std::string_view bytes, const std::string& label,
                   std::vector<std::int16_t>* blank);
Status parse_extract_ini(std::string_view text, const std::string& label, ExtractIni* ini);

// The files' bytes for an extract. The caller checks the extract first with
// check_extract_for_bundle; these only encode.
std::string intensity_bytes(const SharedExtract& extract);
std::string rgb_bytes(const SharedExtract& extract);
std::string blank_bytes(const SharedExtract& extract);
std::string extract_ini_text(const ExtractIni& ini);

// InvalidArgument when the extract or cell could not be read back from a
// bundle: wrong buffer sizes, an intensity not finite or outside 0..255, a
// blank flag other than 0 or -1, a cell name that is not a safe file name.
Status check_extract_for_bundle(const SharedExtract& extract, const std::string& cell);

// All four files' bytes into an extract: the three buffers and blank_edited
// are replaced, the other flags (the run's state) are left as they were.
// `folder` only prefixes the file names in messages. On failure neither
// output changes.
Status read_extract_bundle_bytes(const ExtractBundleBytes& bytes, const std::string& folder,
                                 SharedExtract* extract, std::string* cell);

// --- On disk.

// Reads the bundle in `folder` as read_extract_bundle_bytes does. A missing
// file is NotFound, a file of the wrong size or with bad contents Corruption.
Status read_extract_bundle(const std::string& folder, SharedExtract* extract, std::string* cell);

// Writes a bundle into `folder`, making the folder when missing. The extract
// is checked first (nothing is touched when it fails); an old extract.ini is
// removed, each binary file is written whole or not at all, and extract.ini
// comes last.
Status write_extract_bundle(const std::string& folder, const SharedExtract& extract,
                            const std::string& cell);

}  // namespace velmora::extract

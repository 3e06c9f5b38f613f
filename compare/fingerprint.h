// Fingerprint files and their reader.
//
// A fingerprint file holds one extract in the form tarvikx correlates: a text
// header, the grey image as raw bytes and a table of normalisation factors.
//
//   line 1  "$ Quenbrook fingerprint file $"
//   line 2  "GreySeal"
//   line 3  "%x %d %d %d %d %g %d"  code (unused), rows, cols, group_code_1,
//                                   group_code_2, cell_mean, spare
//   line 4  "%d %d %ld %ld %g %g %g %d"        (FingerprintExtra)
//   line 5  twelve reals                        (FingerprintExtra)
//   line 6  six reals                           (FingerprintExtra)
//   line 7  "%d %d %d %d %d %d"  row_origin, col_origin, across, down,
//                                subrows, subcols
//   then across x down lines "%d %d %g %g": row_origin, col_origin, sub_mean,
//   sub_scale of sub-cell k = h * across + j (h the sub-cell row)
//   right after the LF of the last sub-cell line:
//     rows x cols image bytes, row by row (0..63 grey, 64 masked);
//     (rows-subrows+1) x (cols-subcols+1) float32 little-endian, row by row.
//
// Header lines end with LF; a CR before it stays part of the line, so
// "GreySeal\r\n" does not match. Blank lines and lines starting with ";" may
// stand before any header line. All indices are 1-based.
//
// Beyond the layout, the reader refuses (code 16) a file whose geometry the
// comparison cannot use without reading outside its arrays: rows and cols must
// be powers of two from 1 to 1024, across x down must be 4 (the comparison
// works on four sub-cells), 1 <= subrows <= rows, 1 <= subcols <= cols,
// down x subrows <= rows, across x subcols <= cols, and every sub-cell's
// window shifted by up to R rows and C columns (R = (rows - down*subrows)/2,
// C likewise) must lie inside the normalisation table.
//
// It refuses (code 16) as well a real that is NaN or infinite, whether written
// as such ("nan", "inf") or beyond the range of its type: cell_mean, every
// sub_mean and sub_scale, every table entry when the table is loaded, and the
// reals of lines 4-6 when they are parsed. Such a number would make every
// score of the extract NaN or infinite instead of refusing it as unreadable.
#pragma once

#include <cstdint>
#include <string>

#include "compare/arrays.h"
#include "compare/line_reader.h"

namespace tarvik {

// read_fingerprint flags.
inline constexpr int kLoadImage = 1;      // load `image`; otherwise its bytes are skipped
inline constexpr int kLoadNormTable = 4;  // load `norm_table`
inline constexpr int kParseExtra = 8;     // parse lines 4-6 into FingerprintExtra

// read_fingerprint results.
inline constexpr int kReadOk = 0;
inline constexpr int kReadNoMemory = 8;         // image or table could not be allocated
inline constexpr int kReadEndOfFile = 10;       // a line, the image or the table is missing
inline constexpr int kReadCannotOpen = 14;      // not a regular file, or it could not be opened
inline constexpr int kReadTooFewFields = 15;    // a numeric line has too few fields
inline constexpr int kReadBadGeometry = 16;     // geometry or a real unusable (see above)
inline constexpr int kReadNotFingerprint = 19;  // line 1 or 2 is not the expected text

inline constexpr char kFingerprintIdentification[] = "$ Quenbrook fingerprint file $";
inline constexpr char kFingerprintSpecies[] = "GreySeal";
inline constexpr int kMaxSubCells = 16;
inline constexpr int kMaxExtractSize = 1024;

// One extract, or one sub-cell of it. The sub-cell records of a batch member
// are copies of the record read from the file: they share its image and carry
// their own origins, sub_mean, sub_scale and subcell_spectrum.
struct Fingerprint {
  Matrix<std::uint8_t> image;  // [1..rows][1..cols]
  Matrix<float> norm_table;    // [1..rows-subrows+1][1..cols-subcols+1]
  // [1..2*rows*cols]: real parts, then imaginary parts, each column-major
  // (FourierPlan::transform_to_planes).
  Vector<float> subcell_spectrum;
  Vector<float> cell_spectrum;
  float sub_mean = -9.99f;   // subtracted from sub-cell pixels
  float sub_scale = -9.99f;  // multiplies sub-cell pixels after the subtraction
  float cell_mean = -9.99f;  // subtracted from every pixel of the whole extract
  std::int32_t rows = 0, cols = 0;
  std::int32_t row_origin = 0, col_origin = 0;  // first row and column of the sub-cell
  std::int32_t subrows = 0, subcols = 0;
  std::int32_t spare = 0;                           // last number of line 3; not used
  std::int32_t group_code_1 = 1, group_code_2 = 1;  // must agree for a comparison
};

// Line 7 and the sub-cell lines. Entries beyond across x down stay 0.
struct SubCellLayout {
  std::int32_t across = 0, down = 0, subrows = 0, subcols = 0;
  float sub_mean[kMaxSubCells] = {};
  float sub_scale[kMaxSubCells] = {};
  std::int32_t row_origin[kMaxSubCells] = {};
  std::int32_t col_origin[kMaxSubCells] = {};
};

// Lines 4-6, parsed only on request; the comparison never needs them.
struct FingerprintExtra {
  std::int32_t int1 = 0, int2 = 0;
  std::int64_t long1 = 0, long2 = 0;
  float real1 = 0, real2 = 0, real3 = 0;
  std::int32_t last = -1;  // -1 when line 4 holds only seven numbers
  double line5[12] = {};
  double line6[6] = {};
};

// The empty state: no arrays, the three reals -9.99, sizes and origins 0,
// both group codes 1.
void reset_fingerprint(Fingerprint& fp);
// Drops whichever arrays the record holds (a shared image stays alive for its
// other holders) and resets it.
void release_fingerprint(Fingerprint& fp);

// Reads the fingerprint file at path into fp. Returns 0 or one of the codes
// above; prints nothing. Only a regular file (or a link to one) is opened:
// anything else (a FIFO, a folder, a device) gives 14 without being opened.
// On any failure fp is left empty. layout and extra may be null. Sets the
// line-reader options to length 1024, comment ";" and no brackets (they stay
// so afterwards). The record's row_origin and col_origin are those of line 7;
// its sub_mean and sub_scale stay -9.99 (the per-sub-cell values are in the
// layout).
int read_fingerprint(const std::string& path, Fingerprint& fp, int flags,
                     SubCellLayout* layout = nullptr, FingerprintExtra* extra = nullptr);
// The same from an open stream positioned at the start of the file.
int read_fingerprint(ByteSource& in, Fingerprint& fp, int flags, SubCellLayout* layout = nullptr,
                     FingerprintExtra* extra = nullptr);

}  // namespace tarvik

// The shared extract: the one home of the pixel extract that the fitting
// window writes and extract processing reads.
//
// An extract is 256 x 256 pixels. Rows run along the body axis, columns round
// the body. Every accessor takes (row, column) counted from 1, as the fitting
// and processing code count them; the buffers underneath are plain
// std::vectors in row-major order counted from 0:
//
//   element index = (row - 1) * 256 + (column - 1)
//
// so row 1 is elements 0..255, row 2 elements 256..511, and so on. The colour
// buffer holds three such planes one after another: red, green, blue, each of
// 65536 elements (plane p starts at element p * 65536).
//
//   intensity  CellIntensity: grey level as a double, 0 (black) .. 255 (white).
//   rgb        CellRGB: red, green and blue as int16 grey levels.
//   blank      CellBlank: int16 flag, -1 for a blank pixel (outside the seal or
//              edited out), 0 for a usable one. Blank pixels carry the mean
//              grey of the usable ones in intensity, so that processing can
//              filter the whole extract without edge artefacts.
//
// The flags say where the extract is in its life: ExtractReady (fitting has
// finished one), ImageScrapped (the operator threw the image away),
// BlankEdited (the blank mask was edited by hand), BlankRetrieved (the mask
// was taken from a stored extract rather than made afresh).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora::extract {

inline constexpr int kExtractRows = 256;
inline constexpr int kExtractColumns = 256;
inline constexpr std::size_t kExtractPixels =
    static_cast<std::size_t>(kExtractRows) * static_cast<std::size_t>(kExtractColumns);

// The colour planes, in the order they are stored.
enum class ColourPlane { kRed = 0, kGreen = 1, kBlue = 2 };
inline constexpr int kColourPlanes = 3;

// CellBlank values; nothing else is a valid flag.
inline constexpr std::int16_t kBlankPixel = -1;
inline constexpr std::int16_t kUsablePixel = 0;

// Grey levels an intensity may take.
inline constexpr double kMinGrey = 0.0;
inline constexpr double kMaxGrey = 255.0;

struct SharedExtract {
  // Buffers sized for a whole extract: every pixel black, usable; flags off.
  SharedExtract();

  // Row and column each in 1..256.
  static bool in_range(int row, int column) {
    return row >= 1 && row <= kExtractRows && column >= 1 && column <= kExtractColumns;
  }
  // The 0-based element index of (row, column). Out of range is a programming
  // error, not a data error: it stops the program rather than touch memory
  // outside the buffer.
  static std::size_t index(int row, int column);

  double& cell_intensity(int row, int column) { return intensity[index(row, column)]; }
  double cell_intensity(int row, int column) const { return intensity[index(row, column)]; }
  std::int16_t& cell_rgb(ColourPlane plane, int row, int column) {
    return rgb[plane_offset(plane) + index(row, column)];
  }
  std::int16_t cell_rgb(ColourPlane plane, int row, int column) const {
    return rgb[plane_offset(plane) + index(row, column)];
  }
  std::int16_t& cell_blank(int row, int column) { return blank[index(row, column)]; }
  std::int16_t cell_blank(int row, int column) const { return blank[index(row, column)]; }
  bool is_blank(int row, int column) const { return cell_blank(row, column) == kBlankPixel; }

  static std::size_t plane_offset(ColourPlane plane) {
    return static_cast<std::size_t>(plane) * kExtractPixels;
  }

  std::vector<double> intensity;    // kExtractPixels
  std::vector<std::int16_t> rgb;    // kColourPlanes * kExtractPixels
  std::vector<std::int16_t> blank;  // kExtractPixels

  bool extract_ready = false;
  bool image_scrapped = false;
  bool blank_edited = false;
  bool blank_retrieved = false;
};

}  // namespace velmora::extract

// The files "Save extract" writes for one extract, without any window or
// database: the raw image, the key input "anim.pgm", the feature file and the
// fingerprint file.
//
//   raw image     folders + "raw/" + cell + ".raw"   only when that folder exists
//   anim.pgm      working folder + "anim.pgm"        when a key algorithm is set
//   feature file  folders + library_name + cell      when a spot or correlation
//                                                    algorithm is set and the
//                                                    aspect shows spots
//   fingerprint   folders + "oldlib/" + cell         when the comparison
//                                                    program's algorithm is set
//   key file      folders + "SiftLib/" + cell        when a key algorithm is set
//                                                    and a key maker is given
//
// They are written in that order, each whole or not at all. Every check comes
// before the first file (the cell name, the fingerprint's text buffers, the
// image sizes, the spots and seeds), so a refused save leaves the disk as it
// was; a file that cannot be written stops the save there, with a message
// naming it, and the files before it stay.
//
// The key maker (the key-point generator, run by the caller's process
// runner) runs right after "anim.pgm" is written and must leave "anim.key"
// in the working folder; a maker that fails, writes no "anim.key" or writes
// one that is not a key file stops the save there. The key file is stored
// last, replacing the cell's earlier one whole, and "anim.key" is removed.
//
// Not here: marking the extract pending in the database (the caller does
// that once the save has succeeded).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "workstation/common/atomic_file.h"
#include "workstation/common/status.h"
#include "workstation/extract/seeds.h"
#include "workstation/extract/spot_list.h"

namespace velmora::extract {

inline constexpr std::string_view kAnimPgmName = "anim.pgm";
inline constexpr std::string_view kAnimPgmHeader = "P5 256 256 255 ";
inline constexpr std::string_view kAnimKeyName = "anim.key";
// The data folder's folder of key files.
inline constexpr std::string_view kKeyFolder = "SiftLib/";

// Runs the key-point generator on "anim.pgm" in the working folder; it must
// leave "anim.key" there. The Status names what went wrong for the operator.
using KeyMaker = std::function<Status()>;
// save_fprint's text buffers hold this many characters and a terminator.
inline constexpr std::size_t kFprintTextMax = 79;
// The fingerprint value of a 4 x 4 block that touches a blank pixel.
inline constexpr double kMaskedFingerprintValue = 64.0;

// The 256 x 256 source of the block image and the fingerprint: work_image
// when use_cell is set, else wavelet_image, rounded to bytes (no marking of
// blank pixels). *clamped counts values that did not fit a byte. Both images
// must hold 65536 values.
std::vector<std::uint8_t> source_image(std::span<const double> work_image,
                                       std::span<const float> wavelet_image, bool use_cell,
                                       int* clamped);
// `source` with 255 at every blank pixel (blank flag not 0).
std::vector<std::uint8_t> marked_source(std::span<const std::uint8_t> source,
                                        std::span<const std::int16_t> blank);

// work_image rounded to bytes, row by row: the raw image.
std::string raw_image_bytes(std::span<const double> work_image, int* clamped);
// The key input: the header, then the raw image bytes.
std::string anim_pgm_bytes(std::string_view raw_image);

// The fingerprint image: v(a, b) = sum of the 4 x 4 block (a, b) of `source`
// / 64, or 64.0 when a pixel of the block is blank; the byte is v - 0.4
// rounded. Placed row by row in a 256 x 256 buffer (row stride 256), only the
// first 64 bytes of the first 64 rows used.
std::vector<std::uint8_t> fingerprint_image(std::span<const std::uint8_t> source,
                                            std::span<const std::int16_t> blank);

// Hands the image to save_fprint with the geometry of a 64 x 64 extract in
// four 16 x 16 sub-cells. InvalidArgument when the cell or the path does not
// fit its buffer (79 characters); IOError "extract not saved, error N" naming
// the path when save_fprint fails.
Status write_fingerprint(const std::string& cell, const std::string& path,
                         std::span<const std::uint8_t> image);

struct SaveExtractInputs {
  std::span<const double> work_image;
  std::span<const float> wavelet_image;
  std::span<const std::int16_t> blank;  // CellBlank as processing turned it
  bool use_cell = false;                // configuration: source is work_image
  // The spot list: negative values of the saved spots are set to 0 in it.
  SpotList* spots = nullptr;
  int limit = 0;  // spots in use
  int show_n_spots = 0;
  std::string pattern;
  bool all_green = false;
  // The last "place seeds": sets and maps. Needed only for the feature file.
  const SeedResult* seeds = nullptr;
  // Run after "anim.pgm" is written; empty = no key file is made.
  KeyMaker make_keys;
};

// Where the files go. `folders` (the data files folder) gets a trailing '/'
// when it has none; so does `working_folder` (where "anim.pgm" goes; empty
// is the current folder). library_name is the configuration key naming the
// feature files' folder, with its trailing '/'.
struct SaveFolders {
  std::string folders;
  std::string library_name;
  std::string working_folder;
};

// Which comparison algorithms the database has (letters; empty when absent).
struct SaveLetters {
  std::string tarvik;
  std::string corr;
  std::string spot;
  std::string sift;
};

struct SaveReport {
  std::vector<std::string> written;  // paths, in the order written
  // Values stored as the nearest byte because they did not fit one.
  int clamped = 0;
  // A sentence for the operator when clamped > 0, else empty.
  std::string note;
};

// Writes the files of the extract `cell` as described at the top. On failure
// `report->written` lists the files written before it.
Status save_extract_files(const SaveExtractInputs& inputs, const SaveFolders& folders,
                          const std::string& cell, const SaveLetters& letters, SaveReport* report,
                          FileSystemCalls& calls = system_file_calls());

}  // namespace velmora::extract

// The blank file: which extract pixels OK found blank, kept so that Retrieve
// can restore the operator's blanking with the fit.
//
// 4096 little-endian 32-bit words (16384 bytes), no header. Extract pixel
// (r, c), both 1..256, is bit n = 256 (c - 1) + (r - 1): bit n mod 32 of word
// n div 32, bit 31 being the word's sign bit; set = blank. So a column of the
// extract is eight words, and only words 0..2047 can hold a set bit — the
// upper half of the file is always zero, and the reader refuses a file where
// it is not (no writer sets those bits, so such a file is not a blank file).
//
// OK writes no blank file for a cell whose name holds "_LC" or "#".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "workstation/common/atomic_file.h"
#include "workstation/common/status.h"
#include "workstation/extract/shared_extract.h"

namespace velmora::model {

inline constexpr std::size_t kBlankFileWords = 4096;
inline constexpr std::size_t kBlankFileBytes = kBlankFileWords * 4;

// The folder of the blank files under the data folder.
inline constexpr std::string_view kBlankFolder = "blank/";

using BlankWords = std::array<std::int32_t, kBlankFileWords>;

// The bit of extract pixel (row, column).
inline std::int32_t blank_bit_number(int row, int column) {
  return 256 * (column - 1) + (row - 1);
}

// Whether OK writes a blank file (and updates the record) for `cell`.
bool ok_writes_blank_file(std::string_view cell);

// Sets *result to 1 when bit (bit mod 32) of word (bit div 32) of the words
// starting at `first_word` is set, else to 0; bit 31 of a word is its sign
// bit. `first_word` is the first of the 4096 words of a blank file, and a bit
// number outside 0..131071 answers 0 without reading. The call shape (every
// argument by reference) is the one the fitting window has always called.
void N_TESTBIT(const std::int32_t& first_word, const std::int32_t& bit, std::int32_t& result);

// The words for the extract's CellBlank mask.
BlankWords blank_words(const extract::SharedExtract& extract);

std::string blank_file_bytes(const BlankWords& words);

// Reads `bytes` as the blank file of `cell`; `file` names it in messages.
Status parse_blank_file(std::string_view bytes, const std::string& file, const std::string& cell,
                        BlankWords* words);

// CellBlank from the words, through N_TESTBIT: -1 where a bit is set, else 0.
// Sets BlankEdited when any pixel is blank; never clears it.
void apply_blank_words(const BlankWords& words, extract::SharedExtract* extract);

// data_folder + "blank/" + cell; refuses a cell name that would leave the
// folder.
Status blank_file_path(const std::string& data_folder, const std::string& cell, std::string* path);

// The blank file of `cell` from the extract's mask, whole or not at all.
Status write_blank_file(const std::string& data_folder, const std::string& cell,
                        const extract::SharedExtract& extract,
                        FileSystemCalls& calls = system_file_calls());

// Reads the blank file at `path` for `cell`. A missing file is NotFound.
Status read_blank_file(const std::string& path, const std::string& cell, BlankWords* words);

}  // namespace velmora::model

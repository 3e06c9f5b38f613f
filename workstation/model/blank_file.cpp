#include "workstation/model/blank_file.h"

#include <bit>

#include "workstation/common/little_endian.h"
#include "workstation/common/safe_path.h"
#include "workstation/model/file_bytes.h"

namespace velmora::model {

namespace {

using extract::kExtractColumns;
using extract::kExtractRows;

// Pixels 0..65535 fill words 0..2047.
constexpr std::size_t kUsedWords = extract::kExtractPixels / 32;
constexpr std::int32_t kFileBits = static_cast<std::int32_t>(kBlankFileWords) * 32;

std::string label_of(const std::string& file, const std::string& cell) {
  return file + " (cell " + cell + ")";
}

}  // namespace

bool ok_writes_blank_file(std::string_view cell) {
  return cell.find("_LC") == std::string_view::npos && cell.find('#') == std::string_view::npos;
}

void N_TESTBIT(const std::int32_t& first_word, const std::int32_t& bit, std::int32_t& result) {
  if (bit < 0 || bit >= kFileBits) {
    result = 0;
    return;
  }
  const std::int32_t word = (&first_word)[bit / 32];
  result = static_cast<std::int32_t>((std::bit_cast<std::uint32_t>(word) >> (bit % 32)) & 1U);
}

BlankWords blank_words(const extract::SharedExtract& extract) {
  BlankWords words{};
  for (int c = 1; c <= kExtractColumns; ++c) {
    for (int r = 1; r <= kExtractRows; ++r) {
      if (!extract.is_blank(r, c)) continue;
      const std::int32_t n = blank_bit_number(r, c);
      const std::uint32_t word = std::bit_cast<std::uint32_t>(words[n / 32]) | (1U << (n % 32));
      words[n / 32] = std::bit_cast<std::int32_t>(word);
    }
  }
  return words;
}

std::string blank_file_bytes(const BlankWords& words) {
  std::string out;
  out.reserve(kBlankFileBytes);
  for (std::int32_t w : words) store_le32(std::bit_cast<std::uint32_t>(w), &out);
  return out;
}

Status parse_blank_file(std::string_view bytes, const std::string& file, const std::string& cell,
                        BlankWords* words) {
  const std::string label = label_of(file, cell);
  if (bytes.size() != kBlankFileBytes) {
    return Status::Corruption(label + ": the blank file is " + std::to_string(bytes.size()) +
                              " bytes, a blank file is " + std::to_string(kBlankFileBytes) +
                              (bytes.size() < kBlankFileBytes ? " (cut short)" : ""));
  }
  BlankWords read{};
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t i = 0; i < kBlankFileWords; ++i) {
    read[i] = std::bit_cast<std::int32_t>(load_le32(p + 4 * i));
    if (i >= kUsedWords && read[i] != 0) {
      return Status::Corruption(label + ": word " + std::to_string(i) +
                                " of the blank file has bits set, but only words 0 to " +
                                std::to_string(kUsedWords - 1) + " belong to extract pixels");
    }
  }
  *words = read;
  return Status::Ok();
}

void apply_blank_words(const BlankWords& words, extract::SharedExtract* extract) {
  for (int c = 1; c <= kExtractColumns; ++c) {
    for (int r = 1; r <= kExtractRows; ++r) {
      const std::int32_t n = blank_bit_number(r, c);
      std::int32_t answer = 0;
      N_TESTBIT(words[0], n, answer);
      if (answer == 1) {
        extract->cell_blank(r, c) = extract::kBlankPixel;
        extract->blank_edited = true;
      } else {
        extract->cell_blank(r, c) = extract::kUsablePixel;
      }
    }
  }
}

Status blank_file_path(const std::string& data_folder, const std::string& cell, std::string* path) {
  std::string built;
  Status s = join_safe(data_folder + std::string(kBlankFolder), cell, &built);
  if (!s.ok()) return s.with_note(" (the blank file of cell " + cell + ")");
  *path = std::move(built);
  return Status::Ok();
}

Status write_blank_file(const std::string& data_folder, const std::string& cell,
                        const extract::SharedExtract& extract, FileSystemCalls& calls) {
  std::string path;
  Status s = blank_file_path(data_folder, cell, &path);
  if (!s.ok()) return s;
  s = write_file_atomically(path, blank_file_bytes(blank_words(extract)), calls);
  if (!s.ok()) return s.with_note(" (the blank file of cell " + cell + ")");
  return Status::Ok();
}

Status read_blank_file(const std::string& path, const std::string& cell, BlankWords* words) {
  std::string bytes;
  Status s = read_file_bytes(path, kBlankFileBytes, label_of(path, cell), &bytes);
  if (!s.ok()) return s;
  return parse_blank_file(bytes, path, cell, words);
}

}  // namespace velmora::model

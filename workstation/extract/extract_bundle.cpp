#include "workstation/extract/extract_bundle.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <utility>

#include "workstation/common/atomic_file.h"
#include "workstation/common/file_reading.h"
#include "workstation/common/little_endian.h"
#include "workstation/common/number_text.h"
#include "workstation/common/safe_path.h"

namespace velmora::extract {
namespace {

namespace fs = std::filesystem;

// "(row, column)" counted from 1, for the pixel at 0-based element i of a plane.
std::string pixel_text(std::size_t i) {
  return "(" + std::to_string(i / kExtractColumns + 1) + ", " +
         std::to_string(i % kExtractColumns + 1) + ")";
}

const unsigned char* bytes_of(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

Status size_check(std::string_view bytes, std::size_t expected, const std::string& label) {
  if (bytes.size() == expected) return Status::Ok();
  return Status::Corruption(label + ": " + std::to_string(bytes.size()) + " bytes, expected " +
                            std::to_string(expected) +
                            (bytes.size() < expected ? " (file cut short)" : " (file too long)"));
}

bool valid_grey(double v) {
  return std::isfinite(v) && v >= kMinGrey && v <= kMaxGrey;
}

std::string grey_text(double v) {
  return real_to_text(v);
}

Status parse_int16_plane(std::string_view bytes, std::size_t expected, const std::string& label,
                         std::vector<std::int16_t>* out) {
  Status s = size_check(bytes, expected, label);
  if (!s.ok()) return s;
  std::vector<std::int16_t> values(expected / 2);
  const unsigned char* p = bytes_of(bytes);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = load_le16(p + 2 * i);
  *out = std::move(values);
  return Status::Ok();
}

// The whole file at `path`, refusing one that is missing, not a plain file or
// of another size than `expected` (or larger than `limit`, when expected is 0)
// before reading a byte of it.
Status read_whole(const fs::path& path, std::size_t expected, std::size_t limit,
                  std::string* bytes) {
  const std::string label = path.string();
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (!fs::exists(st)) return Status::NotFound(label + ": missing from the extract bundle");
  if (!fs::is_regular_file(st)) return Status::Corruption(label + ": not a plain file");
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) return Status::IOError(label + ": cannot find its size: " + ec.message());
  if (expected != 0 && size != expected) {
    return Status::Corruption(label + ": " + std::to_string(size) + " bytes, expected " +
                              std::to_string(expected) +
                              (size < expected ? " (file cut short)" : " (file too long)"));
  }
  if (expected == 0 && size > limit) {
    return Status::Corruption(label + ": " + std::to_string(size) + " bytes, more than the " +
                              std::to_string(limit) + " an extract.ini may hold");
  }
  return read_file_of_size(label, static_cast<std::size_t>(size), label, bytes);
}

std::string in_folder(const std::string& folder, const char* name) {
  if (folder.empty()) return name;
  return (fs::path(folder) / name).string();
}

}  // namespace

Status parse_intensity(std::string_view bytes, const std::string& label,
                       std::vector<double>* intensity) {
  Status s = size_check(bytes, kIntensityFileBytes, label);
  if (!s.ok()) return s;
  std::vector<double> values(kExtractPixels);
  const unsigned char* p = bytes_of(bytes);
  for (std::size_t i = 0; i < kExtractPixels; ++i) {
    const double v = std::bit_cast<double>(load_le64(p + 8 * i));
    if (!valid_grey(v)) {
      return Status::Corruption(label + ": pixel " + pixel_text(i) + " has intensity " +
                                grey_text(v) + ", expected a grey level 0..255");
    }
    values[i] = v;
  }
  *intensity = std::move(values);
  return Status::Ok();
}

Status parse_rgb(std::string_view bytes, const std::string& label, std::vector<std::int16_t>* rgb) {
  return parse_int16_plane(bytes, kRgbFileBytes, label, rgb);
}

Status parse_blank(std::string_view bytes, const std::string& label,
                   std::vector<std::int16_t>* blank) {
  std::vector<std::int16_t> values;
  Status s = parse_int16_plane(bytes, kBlankFileBytes, label, &values);
  if (!s.ok()) return s;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i] != kBlankPixel && values[i] != kUsablePixel) {
      return Status::Corruption(label + ": pixel " + pixel_text(i) + " has blank flag " +
                                std::to_string(values[i]) + ", expected 0 or -1");
    }
  }
  *blank = std::move(values);
  return Status::Ok();
}

Status parse_extract_ini(std::string_view text, const std::string& label, ExtractIni* ini) {
  if (text.size() > kExtractIniMaxBytes) {
    return Status::Corruption(label + ": " + std::to_string(text.size()) +
                              " bytes, more than an extract.ini may hold");
  }
  ExtractIni result;
  bool have_cell = false, have_blank_edited = false;
  std::size_t start = 0;
  int line_number = 0;
  while (start < text.size()) {
    ++line_number;
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string where = label + " line " + std::to_string(line_number) + ": ";
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      return Status::Corruption(where + "expected key=value");
    }
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);
    if (key == "cell") {
      if (have_cell) return Status::Corruption(where + "'cell' given twice");
      if (!is_safe_file_name(value)) {
        return Status::Corruption(where + "cell name '" + std::string(value) +
                                  "' is not a safe file name");
      }
      result.cell = std::string(value);
      have_cell = true;
    } else if (key == "blank_edited") {
      if (have_blank_edited) return Status::Corruption(where + "'blank_edited' given twice");
      if (value != "0" && value != "1") {
        return Status::Corruption(where + "blank_edited is '" + std::string(value) +
                                  "', expected 0 or 1");
      }
      result.blank_edited = value == "1";
      have_blank_edited = true;
    } else {
      return Status::Corruption(where + "unknown key '" + std::string(key) + "'");
    }
  }
  if (!have_cell) return Status::Corruption(label + ": no 'cell' line");
  if (!have_blank_edited) return Status::Corruption(label + ": no 'blank_edited' line");
  *ini = std::move(result);
  return Status::Ok();
}

std::string intensity_bytes(const SharedExtract& extract) {
  std::string out;
  out.reserve(extract.intensity.size() * 8);
  for (double v : extract.intensity) store_le64(std::bit_cast<std::uint64_t>(v), &out);
  return out;
}

std::string rgb_bytes(const SharedExtract& extract) {
  std::string out;
  out.reserve(extract.rgb.size() * 2);
  for (std::int16_t v : extract.rgb) store_le16(v, &out);
  return out;
}

std::string blank_bytes(const SharedExtract& extract) {
  std::string out;
  out.reserve(extract.blank.size() * 2);
  for (std::int16_t v : extract.blank) store_le16(v, &out);
  return out;
}

std::string extract_ini_text(const ExtractIni& ini) {
  return "cell=" + ini.cell + "\nblank_edited=" + (ini.blank_edited ? "1" : "0") + "\n";
}

Status check_extract_for_bundle(const SharedExtract& extract, const std::string& cell) {
  if (extract.intensity.size() != kExtractPixels || extract.blank.size() != kExtractPixels ||
      extract.rgb.size() != kColourPlanes * kExtractPixels) {
    return Status::InvalidArgument("extract buffers are not sized for 256 x 256 pixels");
  }
  if (!is_safe_file_name(cell)) {
    return Status::InvalidArgument("cell name '" + cell + "' is not a safe file name");
  }
  for (std::size_t i = 0; i < kExtractPixels; ++i) {
    if (!valid_grey(extract.intensity[i])) {
      return Status::InvalidArgument("extract pixel " + pixel_text(i) + " has intensity " +
                                     grey_text(extract.intensity[i]) +
                                     ", expected a grey level 0..255");
    }
    if (extract.blank[i] != kBlankPixel && extract.blank[i] != kUsablePixel) {
      return Status::InvalidArgument("extract pixel " + pixel_text(i) + " has blank flag " +
                                     std::to_string(extract.blank[i]) + ", expected 0 or -1");
    }
  }
  return Status::Ok();
}

Status read_extract_bundle_bytes(const ExtractBundleBytes& bytes, const std::string& folder,
                                 SharedExtract* extract, std::string* cell) {
  std::vector<double> intensity;
  std::vector<std::int16_t> rgb, blank;
  ExtractIni ini;
  Status s = parse_intensity(bytes.intensity, in_folder(folder, kIntensityFileName), &intensity);
  if (s.ok()) s = parse_rgb(bytes.rgb, in_folder(folder, kRgbFileName), &rgb);
  if (s.ok()) s = parse_blank(bytes.blank, in_folder(folder, kBlankFileName), &blank);
  if (s.ok()) s = parse_extract_ini(bytes.ini, in_folder(folder, kExtractIniFileName), &ini);
  if (!s.ok()) return s;
  extract->intensity = std::move(intensity);
  extract->rgb = std::move(rgb);
  extract->blank = std::move(blank);
  extract->blank_edited = ini.blank_edited;
  *cell = std::move(ini.cell);
  return Status::Ok();
}

Status read_extract_bundle(const std::string& folder, SharedExtract* extract, std::string* cell) {
  const fs::path dir(folder);
  ExtractBundleBytes bytes;
  Status s = read_whole(dir / kIntensityFileName, kIntensityFileBytes, 0, &bytes.intensity);
  if (s.ok()) s = read_whole(dir / kRgbFileName, kRgbFileBytes, 0, &bytes.rgb);
  if (s.ok()) s = read_whole(dir / kBlankFileName, kBlankFileBytes, 0, &bytes.blank);
  if (s.ok()) s = read_whole(dir / kExtractIniFileName, 0, kExtractIniMaxBytes, &bytes.ini);
  if (!s.ok()) return s;
  return read_extract_bundle_bytes(bytes, folder, extract, cell);
}

Status write_extract_bundle(const std::string& folder, const SharedExtract& extract,
                            const std::string& cell) {
  Status s = check_extract_for_bundle(extract, cell);
  if (!s.ok()) return s.with_note(" (bundle " + folder + " not written)");
  const fs::path dir(folder);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return Status::IOError(folder + ": cannot make the bundle folder: " + ec.message());
  // Until the new extract.ini is in place the folder is an unfinished bundle,
  // never the old cell's description over the new pixels.
  const fs::path ini_path = dir / kExtractIniFileName;
  fs::remove(ini_path, ec);
  if (ec)
    return Status::IOError(ini_path.string() + ": cannot remove the old one: " + ec.message());
  s = write_file_atomically((dir / kIntensityFileName).string(), intensity_bytes(extract));
  if (s.ok()) s = write_file_atomically((dir / kRgbFileName).string(), rgb_bytes(extract));
  if (s.ok()) s = write_file_atomically((dir / kBlankFileName).string(), blank_bytes(extract));
  if (s.ok()) {
    s = write_file_atomically(ini_path.string(),
                              extract_ini_text(ExtractIni{cell, extract.blank_edited}));
  }
  return s;
}

}  // namespace velmora::extract

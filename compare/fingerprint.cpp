// read_fingerprint: the header parser, the geometry check and the binary
// image and table that follow the header.
//
// Numeric lines are scanned field by field as the C library's formatted input
// would scan them (leading white space skipped, text after the last expected
// field ignored), but without its undefined behaviour: integers that do not
// fit saturate, so that an absurd size is refused by the geometry check.
#include "compare/fingerprint.h"

#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace tarvik {
namespace {

// Field scanners over a NUL-terminated line; each advances p past the field
// it read and returns false (p unchanged) when there is no such field.
bool scan_int(const char*& p, std::int32_t& out) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(p, &end, 10);
  if (end == p) return false;
  p = end;
  out = v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<std::int32_t>(v);
  return true;
}

bool scan_long(const char*& p, std::int64_t& out) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(p, &end, 10);
  if (end == p) return false;
  p = end;
  out = static_cast<std::int64_t>(v);
  return true;
}

bool scan_hex(const char*& p) {
  char* end = nullptr;
  (void)std::strtoull(p, &end, 16);
  if (end == p) return false;
  p = end;
  return true;
}

bool scan_float(const char*& p, float& out) {
  char* end = nullptr;
  const float v = std::strtof(p, &end);
  if (end == p) return false;
  p = end;
  out = v;
  return true;
}

// The next decimal number of the line, 0 when there is none.
double next_double(const char*& p) {
  char* end = nullptr;
  const double v = std::strtod(p, &end);
  p = end;
  return v;
}

// NaN or an infinity ("nan", "inf", or a number beyond the type's range, as
// the scanners read them) would run through the correlation into every score
// of the extract; such a file is refused with the unusable geometry.
template <typename... Reals>
bool all_finite(Reals... values) {
  return (std::isfinite(values) && ...);
}

bool is_trim_blank(char ch) {
  return ch == ' ' || ch == '\t';
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && is_trim_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_trim_blank(s.back())) s.remove_suffix(1);
  return s;
}

bool is_power_of_two_size(std::int32_t n) {
  return n >= 1 && n <= kMaxExtractSize && std::has_single_bit(static_cast<std::uint32_t>(n));
}

// Sizes and sub-cell grid; the origins are checked once their lines are read.
bool sizes_usable(const Fingerprint& fp, const SubCellLayout& lay) {
  if (!is_power_of_two_size(fp.rows) || !is_power_of_two_size(fp.cols)) return false;
  if (lay.across < 1 || lay.down < 1 || lay.across > 4 || lay.down > 4) return false;
  if (lay.across * lay.down != 4) return false;
  if (lay.subrows < 1 || lay.subrows > fp.rows || lay.subcols < 1 || lay.subcols > fp.cols) {
    return false;
  }
  return lay.down * lay.subrows <= fp.rows && lay.across * lay.subcols <= fp.cols;
}

// Every sub-cell window shifted by up to +-R rows and +-C columns stays inside
// the normalisation table (and so the sub-cell inside the image).
bool origins_usable(const Fingerprint& fp, const SubCellLayout& lay) {
  const std::int32_t r = (fp.rows - lay.down * lay.subrows) / 2;
  const std::int32_t c = (fp.cols - lay.across * lay.subcols) / 2;
  const std::int32_t table_rows = fp.rows - lay.subrows + 1;
  const std::int32_t table_cols = fp.cols - lay.subcols + 1;
  for (int k = 0; k < lay.across * lay.down; ++k) {
    const std::int64_t ro = lay.row_origin[k], co = lay.col_origin[k];
    if (ro - r < 1 || ro + r > table_rows || co - c < 1 || co + c > table_cols) return false;
  }
  return true;
}

int read_into(ByteSource& in, Fingerprint& fp, int flags, SubCellLayout* layout,
              FingerprintExtra* extra) {
  set_line_options(kDefaultLineLength, ";", "");
  std::string line;

  if (!next_data_line(in, line)) return kReadEndOfFile;
  if (trimmed(line) != kFingerprintIdentification) return kReadNotFingerprint;
  if (!next_data_line(in, line)) return kReadEndOfFile;
  if (trimmed(line) != kFingerprintSpecies) return kReadNotFingerprint;

  if (!next_data_line(in, line)) return kReadEndOfFile;
  {
    const char* p = line.c_str();
    if (!(scan_hex(p) && scan_int(p, fp.rows) && scan_int(p, fp.cols) &&
          scan_int(p, fp.group_code_1) && scan_int(p, fp.group_code_2) &&
          scan_float(p, fp.cell_mean) && scan_int(p, fp.spare))) {
      return kReadTooFewFields;
    }
    if (!all_finite(fp.cell_mean)) return kReadBadGeometry;
  }

  if (flags & kParseExtra) {
    FingerprintExtra ex;
    if (!next_data_line(in, line)) return kReadEndOfFile;
    const char* p = line.c_str();
    if (!(scan_int(p, ex.int1) && scan_int(p, ex.int2) && scan_long(p, ex.long1) &&
          scan_long(p, ex.long2) && scan_float(p, ex.real1) && scan_float(p, ex.real2) &&
          scan_float(p, ex.real3))) {
      return kReadTooFewFields;
    }
    if (!all_finite(ex.real1, ex.real2, ex.real3)) return kReadBadGeometry;
    if (!scan_int(p, ex.last)) ex.last = -1;
    if (!next_data_line(in, line)) return kReadEndOfFile;
    p = line.c_str();
    for (double& v : ex.line5) {
      v = next_double(p);
      if (!all_finite(v)) return kReadBadGeometry;
    }
    if (!next_data_line(in, line)) return kReadEndOfFile;
    p = line.c_str();
    for (double& v : ex.line6) {
      v = next_double(p);
      if (!all_finite(v)) return kReadBadGeometry;
    }
    if (extra != nullptr) *extra = ex;
  } else {
    for (int i = 0; i < 3; ++i) {
      if (!next_data_line(in, line)) return kReadEndOfFile;
    }
  }

  SubCellLayout lay;
  if (!next_data_line(in, line)) return kReadEndOfFile;
  {
    const char* p = line.c_str();
    if (!(scan_int(p, fp.row_origin) && scan_int(p, fp.col_origin) && scan_int(p, lay.across) &&
          scan_int(p, lay.down) && scan_int(p, lay.subrows) && scan_int(p, lay.subcols))) {
      return kReadTooFewFields;
    }
  }
  fp.subrows = lay.subrows;
  fp.subcols = lay.subcols;
  if (!sizes_usable(fp, lay)) return kReadBadGeometry;

  for (int k = 0; k < lay.across * lay.down; ++k) {
    if (!next_data_line(in, line)) return kReadEndOfFile;
    const char* p = line.c_str();
    if (!(scan_int(p, lay.row_origin[k]) && scan_int(p, lay.col_origin[k]) &&
          scan_float(p, lay.sub_mean[k]) && scan_float(p, lay.sub_scale[k]))) {
      return kReadTooFewFields;
    }
    if (!all_finite(lay.sub_mean[k], lay.sub_scale[k])) return kReadBadGeometry;
  }
  if (!origins_usable(fp, lay)) return kReadBadGeometry;

  if (layout != nullptr) *layout = lay;

  const std::size_t image_bytes = static_cast<std::size_t>(fp.rows) * fp.cols;
  if (flags & kLoadImage) {
    if (!fp.image.allocate(1, fp.rows, 1, fp.cols, "image")) return kReadNoMemory;
    if (in.read(fp.image.data(), image_bytes) != image_bytes) return kReadEndOfFile;
  } else {
    in.skip(image_bytes);
  }

  if (flags & kLoadNormTable) {
    const int table_rows = fp.rows - fp.subrows + 1;
    const int table_cols = fp.cols - fp.subcols + 1;
    if (!fp.norm_table.allocate(1, table_rows, 1, table_cols, "norm_table")) return kReadNoMemory;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(table_cols) * 4);
    for (int r = 1; r <= table_rows; ++r) {
      if (in.read(bytes.data(), bytes.size()) != bytes.size()) return kReadEndOfFile;
      float* out = fp.norm_table.row(r);
      for (int c = 0; c < table_cols; ++c) {
        const unsigned char* b = &bytes[static_cast<std::size_t>(c) * 4];
        const std::uint32_t bits = std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
                                   std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
        out[c] = std::bit_cast<float>(bits);
        if (!all_finite(out[c])) return kReadBadGeometry;
      }
    }
  }
  return kReadOk;
}

}  // namespace

void reset_fingerprint(Fingerprint& fp) {
  fp = Fingerprint();
}

void release_fingerprint(Fingerprint& fp) {
  fp.image.release();
  fp.norm_table.release();
  fp.subcell_spectrum.release();
  fp.cell_spectrum.release();
  reset_fingerprint(fp);
}

int read_fingerprint(ByteSource& in, Fingerprint& fp, int flags, SubCellLayout* layout,
                     FingerprintExtra* extra) {
  release_fingerprint(fp);
  const int code = read_into(in, fp, flags, layout, extra);
  if (code != kReadOk) release_fingerprint(fp);
  return code;
}

int read_fingerprint(const std::string& path, Fingerprint& fp, int flags, SubCellLayout* layout,
                     FingerprintExtra* extra) {
  release_fingerprint(fp);
  // Whatever a list names is checked before it is opened: opening a FIFO for
  // reading waits for a writer that may never come, and a folder or device
  // holds no fingerprint.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return kReadCannotOpen;
  FileSource in(path);
  if (!in.is_open()) return kReadCannotOpen;
  return read_fingerprint(in, fp, flags, layout, extra);
}

}  // namespace tarvik

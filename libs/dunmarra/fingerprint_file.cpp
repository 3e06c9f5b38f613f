// Formatting of a fingerprint file (layout in the header). std::to_chars is
// used for every number: printf-style formatting follows the process's
// locale, and a workstation running under a locale with a decimal comma would
// otherwise write reals the comparison program cannot read.
#include "libs/dunmarra/fingerprint_file.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace velmora::dunmarra {
namespace {

class LineWriter {
 public:
  explicit LineWriter(std::string* out) : out_(out) {}

  LineWriter& text(std::string_view s) {
    sep();
    out_->append(s);
    return *this;
  }
  template <typename T>
  LineWriter& number(T value) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    sep();
    out_->append(buf, res.ptr);
    return *this;
  }
  LineWriter& hex(uint32_t value) {
    char buf[16];
    auto res = std::to_chars(buf, buf + sizeof buf, value, 16);
    sep();
    out_->append(buf, res.ptr);
    return *this;
  }
  void end() {
    out_->push_back('\n');
    first_ = true;
  }

 private:
  void sep() {
    if (!first_) out_->push_back(' ');
    first_ = false;
  }
  std::string* out_;
  bool first_ = true;
};

void append_float_le(std::string* out, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  for (int b = 0; b < 4; ++b) out->push_back(static_cast<char>((bits >> (8 * b)) & 0xFF));
}

}  // namespace

uint32_t fingerprint_code(std::string_view cell, const std::vector<uint8_t>& image) {
  uint32_t h = 2166136261u;
  auto add = [&h](uint8_t byte) {
    h ^= byte;
    h *= 16777619u;
  };
  for (char ch : cell) add(static_cast<uint8_t>(ch));
  add(0);
  for (uint8_t p : image) add(p);
  return h & 0x7FFFFFFFu;
}

std::string format_fingerprint(const FingerprintGeometry& g, const Normalisation& norm,
                               const std::vector<uint8_t>& image, std::string_view cell,
                               const std::array<double, 6>& reals) {
  std::string out;
  out.reserve(1024 + image.size() + 4 * norm.table.size());
  LineWriter line(&out);
  line.text("$ Quenbrook fingerprint file $").end();
  line.text("GreySeal").end();

  const int pixels = g.rows * g.cols;
  line.hex(fingerprint_code(cell, image))
      .number(g.rows)
      .number(g.cols)
      .number(kGroupCode1)
      .number(kGroupCode2)
      .number(norm.cell_mean)
      .number(norm.unmasked)
      .end();

  double deviation = 0;
  if (norm.unmasked > 0) {
    const double mean = static_cast<double>(norm.sum) / norm.unmasked;
    const double var = static_cast<double>(norm.sum_squares) / norm.unmasked - mean * mean;
    deviation = var > 0 ? std::sqrt(var) : 0.0;
  }
  const double zero_share =
      norm.table.empty() ? 0.0 : static_cast<double>(norm.zero_entries) / norm.table.size();
  line.number(kWriterVersion)
      .number(pixels - norm.unmasked)
      .number(static_cast<long long>(norm.sum))
      .number(static_cast<long long>(norm.sum_squares))
      .number(static_cast<double>(norm.cell_mean))
      .number(deviation)
      .number(zero_share)
      .number(g.subcell_count())
      .end();

  const double sub_pixels = static_cast<double>(g.subrows) * g.subcols;
  for (const SubcellStats& s : norm.subcells)
    line.number(static_cast<double>(s.sub_mean))
        .number(s.deviation)
        .number(s.unmasked / sub_pixels);
  line.end();

  for (double r : reals) line.number(r);
  line.end();

  line.number(g.row_origin)
      .number(g.col_origin)
      .number(g.across)
      .number(g.down)
      .number(g.subrows)
      .number(g.subcols)
      .end();
  for (int k = 0; k < g.subcell_count(); ++k) {
    const SubcellStats& s = norm.subcells[static_cast<size_t>(k)];
    line.number(g.subcell_row_origin(k))
        .number(g.subcell_col_origin(k))
        .number(s.sub_mean)
        .number(s.sub_scale)
        .end();
  }

  out.append(reinterpret_cast<const char*>(image.data()), image.size());
  for (float e : norm.table) append_float_le(&out, e);
  return out;
}

}  // namespace velmora::dunmarra

// Test-only fingerprint writer (see fingerprint_writer.h).
#include "compare/testing/fingerprint_writer.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace tarvik::testing {
namespace {

std::string format(const char* fmt, auto... args) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

}  // namespace

std::string float_bytes(float v) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(v);
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((bits >> (8 * i)) & 0xff);
  return out;
}

std::string FingerprintFile::bytes() const {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out + image + table;
}

bool FingerprintFile::write(const std::string& path) const {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  const std::string b = bytes();
  f.write(b.data(), static_cast<std::streamsize>(b.size()));
  return static_cast<bool>(f);
}

FingerprintFile make_fingerprint(const std::vector<std::uint8_t>& image,
                                 const FingerprintGeometry& g) {
  auto px = [&](int r, int c) { return image[static_cast<std::size_t>(r - 1) * g.cols + c - 1]; };
  double sum = 0;
  long count = 0;
  for (int r = 1; r <= g.rows; ++r) {
    for (int c = 1; c <= g.cols; ++c) {
      if (px(r, c) != 64) sum += px(r, c), ++count;
    }
  }
  const float cell_mean = count > 0 ? static_cast<float>(sum / count) : 0.0f;

  FingerprintFile f;
  f.lines.push_back("$ Quenbrook fingerprint file $");
  f.lines.push_back("GreySeal");
  f.lines.push_back(format("%x %d %d %d %d %g %d", 0x2a, g.rows, g.cols, g.group_code_1,
                           g.group_code_2, cell_mean, 0));
  f.lines.push_back("1 2 3 4 0.5 0.25 0.125 7");
  f.lines.push_back("1 2 3 4 5 6 7 8 9 10 11 12");
  f.lines.push_back("1 2 3 4 5 6");
  f.lines.push_back(format("%d %d %d %d %d %d", g.row_origin, g.col_origin, g.across, g.down,
                           g.subrows, g.subcols));
  for (int h = 0; h < g.down; ++h) {
    for (int j = 0; j < g.across; ++j) {
      const int ro = g.row_origin + h * g.subrows, co = g.col_origin + j * g.subcols;
      double s = 0, ss = 0;
      long n = 0;
      for (int r = ro; r < ro + g.subrows; ++r) {
        for (int c = co; c < co + g.subcols; ++c) {
          if (r > g.rows || c > g.cols || px(r, c) == 64) continue;
          s += px(r, c), ss += double(px(r, c)) * px(r, c), ++n;
        }
      }
      const double mean = n > 0 ? s / n : 0;
      const double var = ss - n * mean * mean;
      const double scale = var > 1e-9 ? 1 / std::sqrt(var) : 0;
      f.lines.push_back(format("%d %d %.9g %.9g", ro, co, mean, scale));
    }
  }
  f.image.assign(image.begin(), image.end());
  for (int r = 1; r <= g.rows - g.subrows + 1; ++r) {
    for (int c = 1; c <= g.cols - g.subcols + 1; ++c) {
      double s = 0, ss = 0;
      long n = 0;
      for (int i = r; i < r + g.subrows; ++i) {
        for (int j = c; j < c + g.subcols; ++j) {
          if (px(i, j) != 64) s += px(i, j), ss += double(px(i, j)) * px(i, j), ++n;
        }
      }
      const double var = n > 0 ? ss - s * s / n : 0;
      f.table += float_bytes(var > 1e-9 ? static_cast<float>(1 / std::sqrt(var)) : 0.0f);
    }
  }
  return f;
}

}  // namespace tarvik::testing

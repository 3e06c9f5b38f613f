#include "libs/dunmarra/save_fprint.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "compare/arrays.h"
#include "compare/correlation.h"
#include "compare/fingerprint.h"
#include "compare/fourier.h"
#include "libs/dunmarra/fingerprint_file.h"
#include "libs/dunmarra/fingerprint_normalisation.h"
#include "testing/files.h"
#include "testing/in_temp_folder.h"

namespace velmora::dunmarra {
namespace {

namespace fs = std::filesystem;

// The call as the workstation makes it: its eight integers, six reals, two
// 80-byte text buffers and a 256 x 256 image buffer.
struct Call {
  std::array<int32_t, 8> geometry = {64, 64, 17, 17, 16, 16, 2, 2};
  std::array<double, 6> reals = {0, 0, 0, 0, 0, 0};
  char cell[kTextBufferSize] = {};
  char path[kTextBufferSize] = {};
  std::vector<uint8_t> buffer = std::vector<uint8_t>(256 * 256, 0);

  Call(const std::string& cell_name, const std::string& file) {
    std::strncpy(cell, cell_name.c_str(), sizeof cell - 1);
    std::strncpy(path, file.c_str(), sizeof path - 1);
  }
  uint8_t& pixel(int r, int c) {
    return buffer[static_cast<size_t>(r - 1) * kImageStride + (c - 1)];
  }
  int32_t run() { return save_fprint(geometry.data(), reals.data(), cell, path, buffer.data()); }
  // The 64 x 64 image the file should hold.
  std::vector<uint8_t> image() {
    std::vector<uint8_t> img;
    for (int r = 1; r <= 64; ++r)
      for (int c = 1; c <= 64; ++c) img.push_back(pixel(r, c));
    return img;
  }
};

void fill_pattern(Call& call, uint32_t seed) {
  uint32_t s = seed;
  for (int r = 1; r <= 64; ++r)
    for (int c = 1; c <= 64; ++c) {
      s = s * 1664525u + 1013904223u;
      call.pixel(r, c) = static_cast<uint8_t>((r * 3 + c * 5 + (s >> 28)) % 64);
    }
}

// A smooth pattern of bumps in grey levels 0-63 over rows r0.. and columns
// c0.. of the call's image, from a fixed seed; (dr, dc) moves it.
void fill_bumps(Call& call, uint32_t seed, int dr = 0, int dc = 0) {
  uint32_t s = seed;
  auto next = [&s] {
    s = s * 1664525u + 1013904223u;
    return (s >> 8) / 16777216.0;
  };
  double bumps[80][4];
  for (auto& b : bumps) {
    b[0] = next() * 96 - 16;
    b[1] = next() * 96 - 16;
    b[2] = 2 + 5 * next();
    b[3] = next() < 0.5 ? -20 : 20;
  }
  for (int r = 1; r <= 64; ++r)
    for (int c = 1; c <= 64; ++c) {
      double v = 32;
      for (const auto& b : bumps) {
        const double d2 =
            ((r - dr - b[0]) * (r - dr - b[0]) + (c - dc - b[1]) * (c - dc - b[1])) / (b[2] * b[2]);
        if (d2 < 1) v += b[3] * (1 - d2) * (1 - d2);
      }
      call.pixel(r, c) = static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 63.0)));
    }
}

// Paths must fit the 80-byte buffer: each test works relative to its folder.
class SaveFprintTest : public testing::InTempFolder {
 protected:
  // Names in the folder, to prove that no temporary file is left behind.
  std::vector<std::string> folder_names() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(temp_.root()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(SaveFprintTest, ReadsBackThroughTheComparisonReader) {
  Call call("S1234AB", "fp1");
  fill_pattern(call, 7);
  for (int r = 1; r <= 15; ++r)
    for (int c = 1; c <= 64; ++c) call.pixel(r, c) = kMaskedPixel;  // blank strip at the top
  call.reals = {1.5, -2.25e-7, 0, 1e300, -0.0, 42};
  // Bytes beyond the 64 x 64 image in the 256-stride buffer are never read.
  for (int r = 1; r <= 64; ++r) call.pixel(r, 65) = 200;
  call.pixel(65, 1) = 255;
  ASSERT_EQ(call.run(), kSaveFprintOk);

  const std::vector<uint8_t> img = call.image();
  const FingerprintGeometry g{64, 64, 17, 17, 16, 16, 2, 2};
  const Normalisation expected = compute_normalisation(g, img);

  tarvik::Fingerprint fp;
  tarvik::SubCellLayout layout;
  tarvik::FingerprintExtra extra;
  ASSERT_EQ(tarvik::read_fingerprint(
                "fp1", fp, tarvik::kLoadImage | tarvik::kLoadNormTable | tarvik::kParseExtra,
                &layout, &extra),
            tarvik::kReadOk);
  EXPECT_EQ(fp.rows, 64);
  EXPECT_EQ(fp.cols, 64);
  EXPECT_EQ(fp.group_code_1, kGroupCode1);
  EXPECT_EQ(fp.group_code_2, kGroupCode2);
  EXPECT_EQ(fp.cell_mean, expected.cell_mean);  // bit for bit: shortest form reads back exactly
  EXPECT_EQ(fp.spare, 64 * 64 - 15 * 64);
  EXPECT_EQ(fp.row_origin, 17);
  EXPECT_EQ(fp.col_origin, 17);
  EXPECT_EQ(fp.subrows, 16);
  EXPECT_EQ(fp.subcols, 16);
  EXPECT_EQ(layout.across, 2);
  EXPECT_EQ(layout.down, 2);
  const int origins[4][2] = {{17, 17}, {17, 33}, {33, 17}, {33, 33}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(layout.row_origin[k], origins[k][0]);
    EXPECT_EQ(layout.col_origin[k], origins[k][1]);
    EXPECT_EQ(layout.sub_mean[k], expected.subcells[k].sub_mean);
    EXPECT_EQ(layout.sub_scale[k], expected.subcells[k].sub_scale);
    EXPECT_GT(layout.sub_scale[k], 0.0f);
  }
  for (int r = 1; r <= 64; ++r)
    for (int c = 1; c <= 64; ++c) ASSERT_EQ(fp.image(r, c), call.pixel(r, c)) << r << " " << c;
  for (int r = 1; r <= 49; ++r)
    for (int c = 1; c <= 49; ++c)
      ASSERT_EQ(fp.norm_table(r, c), expected.table[(r - 1) * 49 + (c - 1)]) << r << " " << c;
  // Windows of the first table row hold 16 unmasked pixels, fewer than an
  // eighth, and carry no weight; the second row's hold 32 and do.
  for (int c = 1; c <= 49; ++c) EXPECT_EQ(fp.norm_table(1, c), 0.0f);
  EXPECT_GT(fp.norm_table(2, 1), 0.0f);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(extra.line6[i], call.reals[i]);
  EXPECT_EQ(extra.int1, kWriterVersion);
  EXPECT_EQ(extra.int2, 15 * 64);
  EXPECT_EQ(extra.long1, expected.sum);
  EXPECT_EQ(extra.long2, expected.sum_squares);
  EXPECT_EQ(extra.last, 4);
  tarvik::release_fingerprint(fp);
}

TEST_F(SaveFprintTest, HeaderLinesAreByteExact) {
  Call call("cell", "fp2");
  fill_pattern(call, 9);
  ASSERT_EQ(call.run(), kSaveFprintOk);
  const std::string bytes = testing::read_file("fp2");
  std::vector<std::string> lines;
  size_t pos = 0;
  for (int i = 0; i < 11; ++i) {
    const size_t lf = bytes.find('\n', pos);
    ASSERT_NE(lf, std::string::npos);
    lines.push_back(bytes.substr(pos, lf - pos));
    pos = lf + 1;
  }
  EXPECT_EQ(lines[0], "$ Quenbrook fingerprint file $");
  EXPECT_EQ(lines[1], "GreySeal");
  const std::vector<uint8_t> img = call.image();
  char code[16];
  std::snprintf(code, sizeof code, "%x ", fingerprint_code("cell", img));
  EXPECT_EQ(lines[2].rfind(std::string(code) + "64 64 1 1 ", 0), 0u) << lines[2];
  EXPECT_EQ(lines[5], "0 0 0 0 0 0");
  EXPECT_EQ(lines[6], "17 17 2 2 16 16");
  EXPECT_EQ(lines[7].rfind("17 17 ", 0), 0u);
  EXPECT_EQ(lines[8].rfind("17 33 ", 0), 0u);
  EXPECT_EQ(lines[9].rfind("33 17 ", 0), 0u);
  EXPECT_EQ(lines[10].rfind("33 33 ", 0), 0u);
  for (const std::string& l : lines) {
    EXPECT_EQ(l.find('\r'), std::string::npos);
    EXPECT_EQ(l.find(','), std::string::npos);  // no locale decimal comma
  }
  // Image right after the last LF, then the table, then nothing.
  ASSERT_EQ(bytes.size(), pos + 64 * 64 + 49 * 49 * 4);
  EXPECT_EQ(std::memcmp(bytes.data() + pos, img.data(), img.size()), 0);
  const Normalisation n = compute_normalisation({64, 64, 17, 17, 16, 16, 2, 2}, img);
  const unsigned char* t = reinterpret_cast<const unsigned char*>(bytes.data() + pos + 4096);
  const uint32_t first = t[0] | t[1] << 8 | t[2] << 16 | static_cast<uint32_t>(t[3]) << 24;
  uint32_t bits;
  std::memcpy(&bits, &n.table[0], 4);
  EXPECT_EQ(first, bits);  // little-endian
}

TEST_F(SaveFprintTest, CheckValueDependsOnCellAndImage) {
  Call a("A", "x");
  fill_pattern(a, 1);
  Call b("B", "x");
  fill_pattern(b, 1);
  const std::vector<uint8_t> img = a.image();
  EXPECT_NE(fingerprint_code("A", img), fingerprint_code("B", img));
  std::vector<uint8_t> other = img;
  other[100] ^= 1;
  EXPECT_NE(fingerprint_code("A", img), fingerprint_code("A", other));
  EXPECT_LE(fingerprint_code("A", img), 0x7FFFFFFFu);
}

TEST_F(SaveFprintTest, BadGeometryWritesNothing) {
  const std::vector<std::array<int32_t, 8>> bad = {
      {64, 64, 18, 17, 16, 16, 2, 2},    // windows leave the table at the bottom
      {64, 64, 17, 16, 16, 16, 2, 2},    // and at the left
      {60, 64, 17, 17, 16, 16, 2, 2},    // not a power of two
      {512, 512, 17, 17, 16, 16, 2, 2},  // larger than the buffer
      {64, 64, 17, 17, 16, 16, 3, 2},    // six sub-cells
      {64, 64, 17, 17, 0, 16, 2, 2},    {64, 64, 17, 17, 16, 16, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}};
  for (const auto& geometry : bad) {
    Call call("c", "fp");
    fill_pattern(call, 3);
    call.geometry = geometry;
    EXPECT_EQ(call.run(), kSaveFprintBadGeometry) << geometry[0] << " " << geometry[2];
  }
  EXPECT_TRUE(folder_names().empty());
  Call call("c", "fp");
  EXPECT_EQ(save_fprint(nullptr, call.reals.data(), call.cell, call.path, call.buffer.data()),
            kSaveFprintBadGeometry);
  EXPECT_EQ(save_fprint(call.geometry.data(), call.reals.data(), call.cell, call.path, nullptr),
            kSaveFprintBadGeometry);
}

TEST_F(SaveFprintTest, BadPixelTextOrRealWritesNothing) {
  Call pixel("c", "fp");
  pixel.pixel(64, 64) = 65;  // above the mask value
  EXPECT_EQ(pixel.run(), kSaveFprintBadPixel);

  Call no_end("c", "fp");
  std::memset(no_end.path, 'a', sizeof no_end.path);  // 80 characters, no terminator
  EXPECT_EQ(no_end.run(), kSaveFprintBadText);
  Call empty("c", "");
  EXPECT_EQ(empty.run(), kSaveFprintBadText);
  Call cell("c", "fp");
  std::memset(cell.cell, 'x', sizeof cell.cell);
  EXPECT_EQ(cell.run(), kSaveFprintBadText);
  EXPECT_EQ(
      save_fprint(cell.geometry.data(), cell.reals.data(), nullptr, cell.path, cell.buffer.data()),
      kSaveFprintBadText);

  Call real("c", "fp");
  real.reals[3] = std::nan("");
  EXPECT_EQ(real.run(), kSaveFprintBadReal);
  real.reals[3] = HUGE_VAL;
  EXPECT_EQ(real.run(), kSaveFprintBadReal);
  EXPECT_TRUE(folder_names().empty());

  // 79 characters is the longest path the buffer holds.
  const std::string longest(79, 'p');
  Call full("c", longest);
  EXPECT_EQ(full.run(), kSaveFprintOk);
  EXPECT_TRUE(fs::exists(longest));
}

TEST_F(SaveFprintTest, UnwritablePlacesGiveNotWritable) {
  fs::create_directory("folder");
  std::ofstream("plain") << "x";
  for (const char* p : {"missing/fp", "folder", "plain/fp"}) {
    Call call("c", p);
    fill_pattern(call, 5);
    EXPECT_EQ(call.run(), kSaveFprintNotWritable) << p;
  }
  EXPECT_EQ(folder_names(), (std::vector<std::string>{"folder", "plain"}));
  EXPECT_TRUE(fs::is_empty("folder"));
  EXPECT_EQ(testing::read_file("plain"), "x");
}

TEST_F(SaveFprintTest, FailedWriteLeavesTheOldFileWhole) {
  Call first("c", "fp");
  fill_pattern(first, 1);
  ASSERT_EQ(first.run(), kSaveFprintOk);
  const std::string before = testing::read_file("fp");

  // A bad call leaves the old file as it was.
  Call bad("c", "fp");
  bad.pixel(1, 1) = 200;
  EXPECT_EQ(bad.run(), kSaveFprintBadPixel);
  EXPECT_EQ(testing::read_file("fp"), before);

  // A write that fails half-way (file size limit: the disk-full case) leaves
  // the old file and no temporary one.
  Call second("c", "fp");
  fill_pattern(second, 2);
  rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old_limit;
  small.rlim_cur = 5000;  // well below the file of about 14,000 bytes
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int32_t code = second.run();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(code, kSaveFprintNotWritable);
  EXPECT_EQ(testing::read_file("fp"), before);
  EXPECT_EQ(folder_names(), std::vector<std::string>{"fp"});

  // A good call replaces it.
  EXPECT_EQ(second.run(), kSaveFprintOk);
  EXPECT_NE(testing::read_file("fp"), before);
  EXPECT_EQ(folder_names(), std::vector<std::string>{"fp"});
}

TEST_F(SaveFprintTest, BlankExtractIsWrittenAndNeverCarriesWeight) {
  Call call("blank", "fp");
  std::fill(call.buffer.begin(), call.buffer.end(), kMaskedPixel);
  ASSERT_EQ(call.run(), kSaveFprintOk);
  tarvik::Fingerprint fp;
  tarvik::SubCellLayout layout;
  ASSERT_EQ(
      tarvik::read_fingerprint("fp", fp, tarvik::kLoadImage | tarvik::kLoadNormTable, &layout),
      tarvik::kReadOk);
  EXPECT_EQ(fp.cell_mean, 0.0f);
  EXPECT_EQ(fp.spare, 0);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(layout.sub_scale[k], 0.0f);
  for (int r = 1; r <= 49; ++r)
    for (int c = 1; c <= 49; ++c) ASSERT_EQ(fp.norm_table(r, c), 0.0f);
  EXPECT_EQ(fp.image(64, 64), kMaskedPixel);
  tarvik::release_fingerprint(fp);
}

TEST_F(SaveFprintTest, SmallerSoundGeometryReadsBack) {
  Call call("small", "fp");
  call.geometry = {32, 32, 9, 9, 8, 8, 2, 2};
  fill_pattern(call, 4);
  ASSERT_EQ(call.run(), kSaveFprintOk);
  tarvik::Fingerprint fp;
  tarvik::SubCellLayout layout;
  ASSERT_EQ(
      tarvik::read_fingerprint("fp", fp, tarvik::kLoadImage | tarvik::kLoadNormTable, &layout),
      tarvik::kReadOk);
  EXPECT_EQ(fp.rows, 32);
  EXPECT_EQ(layout.row_origin[3], 17);
  EXPECT_EQ(layout.col_origin[3], 17);
  EXPECT_EQ(fp.image(32, 32), call.pixel(32, 32));
  tarvik::release_fingerprint(fp);
}

TEST_F(SaveFprintTest, ComparisonSurfaceIsOneAtTheTrueShift) {
  // The second extract is the first moved 5 rows down and 7 columns left, with
  // a masked band far from the sub-cells: through the comparison's own
  // transforms, every sub-cell's highest peak must lie at (5, -7) with a value
  // of 1, the Pearson correlation of a window with its own pattern.
  Call first("a", "first");
  fill_bumps(first, 41);
  Call second("b", "second");
  fill_bumps(second, 41, 5, -7);
  for (int r = 1; r <= 64; ++r)
    for (int c = 60; c <= 64; ++c) second.pixel(r, c) = kMaskedPixel;
  ASSERT_EQ(first.run(), kSaveFprintOk);
  ASSERT_EQ(second.run(), kSaveFprintOk);

  tarvik::Fingerprint a, b;
  tarvik::SubCellLayout la, lb;
  ASSERT_EQ(tarvik::read_fingerprint("first", a, tarvik::kLoadImage, &la), tarvik::kReadOk);
  ASSERT_EQ(tarvik::read_fingerprint("second", b, tarvik::kLoadImage | tarvik::kLoadNormTable, &lb),
            tarvik::kReadOk);
  tarvik::FourierPlan plan(64, 64);
  ASSERT_TRUE(tarvik::make_cell_spectrum(b, plan));
  for (int k = 0; k < 4; ++k) {
    tarvik::Fingerprint sub = a;
    sub.row_origin = la.row_origin[k];
    sub.col_origin = la.col_origin[k];
    sub.sub_mean = la.sub_mean[k];
    sub.sub_scale = la.sub_scale[k];
    ASSERT_TRUE(tarvik::make_subcell_spectrum(sub, plan));
    tarvik::Matrix<float> surface;
    ASSERT_TRUE(surface.allocate(-16, 16, -16, 16, "surface"));
    tarvik::fill_surface(sub, b, plan, surface);
    tarvik::PeakList peaks;
    tarvik::list_peaks(surface, peaks);
    ASSERT_GT(peaks.count, 0) << k;
    EXPECT_EQ(peaks.entries[0].row_shift, 5) << k;
    EXPECT_EQ(peaks.entries[0].col_shift, -7) << k;
    // 32-bit transforms of 4096 points: errors near 1e-5 of the summed
    // energy, which the normalisation brings to about 1e-4 at most.
    EXPECT_NEAR(peaks.entries[0].value, 1.0, 1e-3) << k;
    for (int p = 1; p < peaks.count; ++p) EXPECT_LT(peaks.entries[p].value, 0.95) << k;
    tarvik::release_fingerprint(sub);
  }
  tarvik::release_fingerprint(a);
  tarvik::release_fingerprint(b);
}

}  // namespace
}  // namespace velmora::dunmarra

#include "workstation/model/blank_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "testing/temp_dir.h"

namespace velmora::model {
namespace {

using extract::SharedExtract;
using testing::TempDir;

TEST(BlankFile, PixelsLandOnTheirWordsAndBits) {
  SharedExtract extract;
  for (auto [r, c] : {std::pair{1, 1}, {2, 1}, {32, 1}, {256, 1}, {1, 2}, {33, 256}, {256, 256}}) {
    extract.cell_blank(r, c) = extract::kBlankPixel;
  }
  // The file as it must be, byte by byte: little-endian words, pixel (r, c)
  // at bit 256 (c - 1) + (r - 1).
  std::string expected(16384, '\0');
  expected[0] = 0x03;                                // (1, 1), (2, 1): bits 0, 1 of word 0
  expected[3] = static_cast<char>(0x80);             // (32, 1): bit 31, the sign bit
  expected[7 * 4 + 3] = static_cast<char>(0x80);     // (256, 1): word 7, bit 31
  expected[8 * 4] = 0x01;                            // (1, 2): word 8, bit 0
  expected[2041 * 4] = 0x01;                         // (33, 256): n = 65312
  expected[2047 * 4 + 3] = static_cast<char>(0x80);  // (256, 256): n = 65535
  const BlankWords words = blank_words(extract);
  EXPECT_EQ(words[0], static_cast<std::int32_t>(0x80000003u));
  EXPECT_LT(words[7], 0);
  EXPECT_EQ(blank_file_bytes(words), expected);
}

TEST(BlankFile, TestBitAgreesWithTheBytesOfTheFile) {
  std::mt19937 random(17);
  BlankWords words{};
  for (std::int32_t& w : words) w = static_cast<std::int32_t>(random());
  words[5] = -1;
  words[6] = static_cast<std::int32_t>(0x80000000u);
  const std::string bytes = blank_file_bytes(words);
  int mismatches = 0;
  for (std::int32_t n = 0; n < 131072; ++n) {
    // Bit n of a little-endian word stream is bit n mod 8 of byte n div 8.
    const int reference = (static_cast<unsigned char>(bytes[n / 8]) >> (n % 8)) & 1;
    std::int32_t result = 7;
    N_TESTBIT(words[0], n, result);
    if (result != reference) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
  for (std::int32_t n : {-1, -32, 131072, 1 << 30}) {
    std::int32_t result = 7;
    N_TESTBIT(words[0], n, result);
    EXPECT_EQ(result, 0) << n;
  }
}

TEST(BlankFile, RoundTripsAMaskThroughTheDataFolder) {
  TempDir data;
  ASSERT_TRUE(data.write("blank/.keep", ""));
  std::mt19937 random(3);
  SharedExtract written;
  for (std::int16_t& b : written.blank) b = random() % 10 == 0 ? extract::kBlankPixel : 0;
  ASSERT_TRUE(write_blank_file(data.dir(), "GS0004_01_FL", written).ok());
  std::string path;
  ASSERT_TRUE(blank_file_path(data.dir(), "GS0004_01_FL", &path).ok());
  EXPECT_EQ(path, data.dir() + "blank/GS0004_01_FL");
  BlankWords words{};
  const Status s = read_blank_file(path, "GS0004_01_FL", &words);
  ASSERT_TRUE(s.ok()) << s.message();

  SharedExtract read;
  for (std::int16_t& b : read.blank) b = extract::kBlankPixel;  // every pixel is written
  apply_blank_words(words, &read);
  EXPECT_EQ(read.blank, written.blank);
  EXPECT_TRUE(read.blank_edited);

  SharedExtract none;
  none.cell_blank(9, 9) = extract::kBlankPixel;
  apply_blank_words(BlankWords{}, &none);
  EXPECT_EQ(none.cell_blank(9, 9), extract::kUsablePixel);
  EXPECT_FALSE(none.blank_edited);
}

TEST(BlankFile, RefusesFilesOfOtherSizesOrWithBitsBeyondTheExtract) {
  std::string beyond_first(16384, '\0');
  beyond_first[2048 * 4] = 1;
  std::string beyond_last(16384, '\0');
  beyond_last[16383] = static_cast<char>(0x80);
  const struct {
    std::string bytes;
    const char* why;
  } cases[] = {
      {"", "is 0 bytes"},
      {std::string(16383, '\0'), "16383 bytes, a blank file is 16384 (cut short)"},
      {std::string(16385, '\0'), "16385 bytes"},
      {beyond_first, "word 2048"},
      {beyond_last, "word 4095"},
  };
  for (const auto& c : cases) {
    BlankWords words{};
    words[3] = 42;
    const Status s = parse_blank_file(c.bytes, "/d/blank/GS2_HD", "GS2_HD", &words);
    ASSERT_FALSE(s.ok()) << c.why;
    EXPECT_EQ(s.message().rfind("/d/blank/GS2_HD (cell GS2_HD): ", 0), 0u) << s.message();
    EXPECT_NE(s.message().find(c.why), std::string::npos) << s.message();
    EXPECT_EQ(words[3], 42);
  }
  std::string path;
  EXPECT_FALSE(blank_file_path("/d/", "..", &path).ok());
  EXPECT_FALSE(blank_file_path("/d/", "a\\b", &path).ok());
}

TEST(BlankFile, CellsNamedWithLCOrAHashGetNone) {
  const struct {
    const char* cell;
    bool writes;
  } cases[] = {
      {"GS1_01_FL", true}, {"GS1_LC", false},   {"GS1_LC_FL", false}, {"GS1#2_FL", false},
      {"#", false},        {"GS1_lc_FL", true}, {"LC_FL", true},      {"GS1_L_C_FL", true},
  };
  for (const auto& c : cases) EXPECT_EQ(ok_writes_blank_file(c.cell), c.writes) << c.cell;
}

}  // namespace
}  // namespace velmora::model

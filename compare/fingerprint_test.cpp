#include "compare/fingerprint.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <string>

#include "compare/testing/allocation_failure.h"
#include "compare/testing/fingerprint_writer.h"
#include "compare/testing/guarded_fifo.h"
#include "compare/testing/patterns.h"
#include "testing/temp_dir.h"

namespace tarvik {
namespace {

using testing::FingerprintFile;
using testing::FingerprintGeometry;

FingerprintFile valid_file(std::uint32_t seed = 7, FingerprintGeometry g = {}) {
  std::vector<std::uint8_t> image = testing::blob_pattern(g.rows, g.cols, seed);
  testing::mask_pixels(image, seed + 1, 50);
  return testing::make_fingerprint(image, g);
}

int read_bytes(const std::string& bytes, Fingerprint& fp, int flags,
               SubCellLayout* layout = nullptr, FingerprintExtra* extra = nullptr) {
  MemorySource in(bytes);
  return read_fingerprint(in, fp, flags, layout, extra);
}

int read_bytes(const std::string& bytes, int flags = kLoadImage | kLoadNormTable) {
  Fingerprint fp;
  return read_bytes(bytes, fp, flags);
}

void expect_empty(const Fingerprint& fp) {
  EXPECT_TRUE(fp.image.empty());
  EXPECT_TRUE(fp.norm_table.empty());
  EXPECT_TRUE(fp.subcell_spectrum.empty());
  EXPECT_TRUE(fp.cell_spectrum.empty());
  EXPECT_EQ(fp.sub_mean, -9.99f);
  EXPECT_EQ(fp.sub_scale, -9.99f);
  EXPECT_EQ(fp.cell_mean, -9.99f);
  EXPECT_EQ(fp.rows, 0);
  EXPECT_EQ(fp.cols, 0);
  EXPECT_EQ(fp.row_origin, 0);
  EXPECT_EQ(fp.col_origin, 0);
  EXPECT_EQ(fp.subrows, 0);
  EXPECT_EQ(fp.subcols, 0);
  EXPECT_EQ(fp.spare, 0);
  EXPECT_EQ(fp.group_code_1, 1);
  EXPECT_EQ(fp.group_code_2, 1);
}

float table_entry(const FingerprintFile& f, int r, int c, int table_cols) {
  std::uint32_t bits = 0;
  const std::size_t at = (static_cast<std::size_t>(r - 1) * table_cols + (c - 1)) * 4;
  for (int i = 0; i < 4; ++i) bits |= std::uint32_t(std::uint8_t(f.table[at + i])) << (8 * i);
  return std::bit_cast<float>(bits);
}

TEST(ReadFingerprint, ValidFileFillsRecordLayoutImageAndTable) {
  FingerprintGeometry g;
  g.group_code_1 = 3;
  g.group_code_2 = 5;
  FingerprintFile f = valid_file(7, g);
  f.lines[2] = "ff 64 64 3 5 31.25 9";
  Fingerprint fp;
  SubCellLayout layout;
  ASSERT_EQ(read_bytes(f.bytes(), fp, kLoadImage | kLoadNormTable, &layout), kReadOk);
  EXPECT_EQ(fp.rows, 64);
  EXPECT_EQ(fp.cols, 64);
  EXPECT_EQ(fp.group_code_1, 3);
  EXPECT_EQ(fp.group_code_2, 5);
  EXPECT_EQ(fp.cell_mean, 31.25f);
  EXPECT_EQ(fp.spare, 9);
  EXPECT_EQ(fp.row_origin, 17);
  EXPECT_EQ(fp.col_origin, 17);
  EXPECT_EQ(fp.subrows, 16);
  EXPECT_EQ(fp.subcols, 16);
  EXPECT_EQ(fp.sub_mean, -9.99f);
  EXPECT_EQ(layout.across, 2);
  EXPECT_EQ(layout.down, 2);
  EXPECT_EQ(layout.subrows, 16);
  EXPECT_EQ(layout.subcols, 16);
  const int origins_r[4] = {17, 17, 33, 33}, origins_c[4] = {17, 33, 17, 33};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(layout.row_origin[k], origins_r[k]);
    EXPECT_EQ(layout.col_origin[k], origins_c[k]);
    EXPECT_EQ(layout.sub_mean[k], std::strtof(f.lines[7 + k].c_str() + 6, nullptr)) << k;
  }
  EXPECT_EQ(layout.row_origin[4], 0);
  ASSERT_EQ(fp.image.rows(), 64);
  ASSERT_EQ(fp.image.cols(), 64);
  EXPECT_EQ(std::memcmp(fp.image.data(), f.image.data(), 64 * 64), 0);
  EXPECT_EQ(fp.image(1, 1), std::uint8_t(f.image[0]));
  EXPECT_EQ(fp.image(64, 64), std::uint8_t(f.image[64 * 64 - 1]));
  ASSERT_EQ(fp.norm_table.rows(), 49);
  ASSERT_EQ(fp.norm_table.cols(), 49);
  for (int r : {1, 7, 49}) {
    for (int c : {1, 30, 49}) EXPECT_EQ(fp.norm_table(r, c), table_entry(f, r, c, 49));
  }
  EXPECT_TRUE(fp.subcell_spectrum.empty());
  EXPECT_TRUE(fp.cell_spectrum.empty());
}

TEST(ReadFingerprint, ReadsFromAFileByPath) {
  velmora::testing::TempDir tmp;
  const FingerprintFile f = valid_file();
  ASSERT_TRUE(f.write(tmp.path("a.fpt")));
  Fingerprint fp;
  EXPECT_EQ(read_fingerprint(tmp.path("a.fpt"), fp, kLoadImage), kReadOk);
  EXPECT_EQ(fp.image(2, 3), std::uint8_t(f.image[64 + 2]));
  EXPECT_TRUE(fp.norm_table.empty());
}

TEST(ReadFingerprint, MissingFileOrFolderGives14AndEmptyRecord) {
  velmora::testing::TempDir tmp;
  Fingerprint fp;
  fp.rows = 5;
  EXPECT_EQ(read_fingerprint(tmp.path("none.fpt"), fp, kLoadImage), kReadCannotOpen);
  expect_empty(fp);
  EXPECT_EQ(read_fingerprint(tmp.dir(), fp, kLoadImage), kReadCannotOpen);
}

// Only a regular file (or a link to one) is read; anything else reads as a
// file that cannot be opened, and a FIFO is never opened at all, as its
// reader would wait for a writer for ever.
TEST(ReadFingerprint, OnlyRegularFilesAreOpened) {
  velmora::testing::TempDir tmp;
  ASSERT_TRUE(valid_file().write(tmp.path("a.fpt")));
  testing::GuardedFifo fifo(tmp.path("fifo.fpt"));
  ASSERT_TRUE(fifo.ok());
  std::filesystem::create_directory(tmp.path("folder.fpt"));
  std::filesystem::create_symlink(tmp.path("a.fpt"), tmp.path("link.fpt"));
  std::filesystem::create_symlink(tmp.path("fifo.fpt"), tmp.path("fifo_link.fpt"));
  std::filesystem::create_symlink("/dev/null", tmp.path("null.fpt"));
  const struct {
    const char* name;
    int code;
  } cases[] = {
      {"a.fpt", kReadOk},
      {"link.fpt", kReadOk},
      {"fifo.fpt", kReadCannotOpen},
      {"fifo_link.fpt", kReadCannotOpen},
      {"folder.fpt", kReadCannotOpen},
      {"null.fpt", kReadCannotOpen},
      {"none.fpt", kReadCannotOpen},
  };
  for (const auto& c : cases) {
    Fingerprint fp;
    EXPECT_EQ(read_fingerprint(tmp.path(c.name), fp, kLoadImage | kLoadNormTable), c.code)
        << c.name;
    if (c.code != kReadOk) expect_empty(fp);
  }
  EXPECT_FALSE(fifo.opened());
}

TEST(ReadFingerprint, SetsLineOptionsForFingerprints) {
  reset_line_options();
  read_bytes(valid_file().bytes());
  EXPECT_EQ(line_length(), 1024);
  EXPECT_EQ(comment_characters(), ";");
  EXPECT_EQ(bracket_characters(), "");
  reset_line_options();
}

TEST(ReadFingerprint, BlankAndSemicolonLinesBeforeHeaderLinesAreSkipped) {
  FingerprintFile f = valid_file();
  f.lines.insert(f.lines.begin(), {"", "   ", "  ; a comment", "\t"});
  f.lines.insert(f.lines.begin() + 7, "; between lines 3 and 4");
  f.lines.insert(f.lines.begin() + 12, "");
  EXPECT_EQ(read_bytes(f.bytes()), kReadOk);
}

TEST(ReadFingerprint, AtSignIsNoCommentInAFingerprint) {
  FingerprintFile f = valid_file();
  f.lines.insert(f.lines.begin(), "@ not a comment here");
  EXPECT_EQ(read_bytes(f.bytes()), kReadNotFingerprint);
}

TEST(ReadFingerprint, IdentificationLinesAreComparedTrimmed) {
  FingerprintFile f = valid_file();
  f.lines[0] = "  $ Quenbrook fingerprint file $ \t";
  f.lines[1] = "\tGreySeal  ";
  EXPECT_EQ(read_bytes(f.bytes()), kReadOk);
}

TEST(ReadFingerprint, WrongIdentificationOrSpeciesGives19) {
  FingerprintFile f = valid_file();
  f.lines[0] = "$ Quenbrook fingerprint file";
  EXPECT_EQ(read_bytes(f.bytes()), kReadNotFingerprint);
  f = valid_file();
  f.lines[1] = "HarbourSeal";
  EXPECT_EQ(read_bytes(f.bytes()), kReadNotFingerprint);
}

TEST(ReadFingerprint, CarriageReturnLineEndFailsWith19) {
  FingerprintFile f = valid_file();
  f.lines[1] = "GreySeal\r";
  EXPECT_EQ(read_bytes(f.bytes()), kReadNotFingerprint);
  f = valid_file();
  f.lines[0] += "\r";
  EXPECT_EQ(read_bytes(f.bytes()), kReadNotFingerprint);
}

TEST(ReadFingerprint, EveryMissingHeaderLineGives10) {
  const FingerprintFile f = valid_file();
  for (std::size_t keep = 0; keep < f.lines.size(); ++keep) {
    std::string bytes;
    for (std::size_t i = 0; i < keep; ++i) bytes += f.lines[i] + "\n";
    Fingerprint fp;
    EXPECT_EQ(read_bytes(bytes, fp, kLoadImage), kReadEndOfFile) << keep << " lines";
    expect_empty(fp);
  }
}

TEST(ReadFingerprint, MissingHeaderLinesGive10WithExtraToo) {
  const FingerprintFile f = valid_file();
  for (std::size_t keep = 3; keep < 6; ++keep) {
    std::string bytes;
    for (std::size_t i = 0; i < keep; ++i) bytes += f.lines[i] + "\n";
    EXPECT_EQ(read_bytes(bytes, kParseExtra), kReadEndOfFile) << keep;
  }
}

TEST(ReadFingerprint, LineThreeNeedsSevenFields) {
  FingerprintFile f = valid_file();
  f.lines[2] = "2a 64 64 1 1 31.5";
  Fingerprint fp;
  EXPECT_EQ(read_bytes(f.bytes(), fp, kLoadImage), kReadTooFewFields);
  expect_empty(fp);
  f.lines[2] = "2a 64 64 1 1 31.5 0 99 trailing text";
  EXPECT_EQ(read_bytes(f.bytes(), fp, kLoadImage), kReadOk);
  EXPECT_EQ(fp.spare, 0);
  f.lines[2] = "zz 64 64 1 1 31.5 0";
  EXPECT_EQ(read_bytes(f.bytes(), fp, kLoadImage), kReadTooFewFields);
  f.lines[2] = "0x2A 64 64 1 1 31.5 0";
  EXPECT_EQ(read_bytes(f.bytes(), fp, kLoadImage), kReadOk);
}

TEST(ReadFingerprint, ArbitraryLinesFourToSixPassWithoutFlag8) {
  FingerprintFile f = valid_file();
  f.lines[3] = "not numbers at all";
  f.lines[4] = "$$$";
  f.lines[5] = "x";
  EXPECT_EQ(read_bytes(f.bytes(), kLoadImage | kLoadNormTable), kReadOk);
  EXPECT_EQ(read_bytes(f.bytes(), kLoadImage | kParseExtra), kReadTooFewFields);
}

TEST(ReadFingerprint, Flag8ParsesLinesFourToSix) {
  FingerprintFile f = valid_file();
  f.lines[3] = "1 -2 3000000000 4 0.5 1.5 2.5 8";
  f.lines[4] = "1 2 3 4 5 6 7 8 9 10 11 12.5";
  f.lines[5] = "-1 -2 -3 -4 -5 -6e2";
  FingerprintExtra extra;
  Fingerprint fp;
  ASSERT_EQ(read_bytes(f.bytes(), fp, kParseExtra, nullptr, &extra), kReadOk);
  EXPECT_EQ(extra.int1, 1);
  EXPECT_EQ(extra.int2, -2);
  EXPECT_EQ(extra.long1, 3000000000LL);
  EXPECT_EQ(extra.long2, 4);
  EXPECT_EQ(extra.real1, 0.5f);
  EXPECT_EQ(extra.real2, 1.5f);
  EXPECT_EQ(extra.real3, 2.5f);
  EXPECT_EQ(extra.last, 8);
  EXPECT_EQ(extra.line5[0], 1.0);
  EXPECT_EQ(extra.line5[11], 12.5);
  EXPECT_EQ(extra.line6[5], -600.0);
}

TEST(ReadFingerprint, Flag8LineFourWithSevenFieldsDefaultsTheLastAndShortRealLinesReadZero) {
  FingerprintFile f = valid_file();
  f.lines[3] = "1 2 3 4 0.5 1.5 2.5";
  f.lines[4] = "1 2 3";
  f.lines[5] = "words only";
  FingerprintExtra extra;
  extra.line5[5] = 99;
  Fingerprint fp;
  ASSERT_EQ(read_bytes(f.bytes(), fp, kParseExtra, nullptr, &extra), kReadOk);
  EXPECT_EQ(extra.last, -1);
  EXPECT_EQ(extra.line5[2], 3.0);
  EXPECT_EQ(extra.line5[3], 0.0);
  EXPECT_EQ(extra.line5[5], 0.0);
  for (double v : extra.line6) EXPECT_EQ(v, 0.0);
  f.lines[3] = "1 2 3 4 0.5 1.5";
  EXPECT_EQ(read_bytes(f.bytes(), kParseExtra), kReadTooFewFields);
}

TEST(ReadFingerprint, LineSevenAndSubCellLinesNeedAllFields) {
  FingerprintFile f = valid_file();
  f.lines[6] = "17 17 2 2 16";
  EXPECT_EQ(read_bytes(f.bytes()), kReadTooFewFields);
  f = valid_file();
  f.lines[9] = "33 17 30.5";
  SubCellLayout layout;
  layout.across = 77;
  Fingerprint fp;
  EXPECT_EQ(read_bytes(f.bytes(), fp, kLoadImage, &layout), kReadTooFewFields);
  EXPECT_EQ(layout.across, 77) << "layout is only handed out after the sub-cell lines";
  expect_empty(fp);
}

TEST(ReadFingerprint, ImageOneByteShortGives10AndLeavesRecordEmpty) {
  FingerprintFile f = valid_file();
  f.table.clear();
  f.image.pop_back();
  Fingerprint fp;
  SubCellLayout layout;
  EXPECT_EQ(read_bytes(f.bytes(), fp, kLoadImage, &layout), kReadEndOfFile);
  expect_empty(fp);
  EXPECT_EQ(layout.across, 2) << "the layout was copied before the image";
}

TEST(ReadFingerprint, TableShortGives10) {
  FingerprintFile f = valid_file();
  f.table.resize(f.table.size() - 1);
  Fingerprint fp;
  EXPECT_EQ(read_bytes(f.bytes(), fp, kLoadImage | kLoadNormTable), kReadEndOfFile);
  expect_empty(fp);
  EXPECT_EQ(read_bytes(f.bytes(), fp, kLoadImage), kReadOk) << "the table is not read";
}

TEST(ReadFingerprint, TableWithoutImageSkipsTheImageBytes) {
  const FingerprintFile f = valid_file();
  Fingerprint fp;
  ASSERT_EQ(read_bytes(f.bytes(), fp, kLoadNormTable), kReadOk);
  EXPECT_TRUE(fp.image.empty());
  ASSERT_FALSE(fp.norm_table.empty());
  EXPECT_EQ(fp.norm_table(1, 1), table_entry(f, 1, 1, 49));
  EXPECT_EQ(fp.norm_table(49, 49), table_entry(f, 49, 49, 49));
}

TEST(ReadFingerprint, NoFlagsReadsTheHeaderOnly) {
  FingerprintFile f = valid_file();
  f.image.clear();
  f.table.clear();
  Fingerprint fp;
  EXPECT_EQ(read_bytes(f.bytes(), fp, 0), kReadOk);
  EXPECT_EQ(fp.rows, 64);
  EXPECT_TRUE(fp.image.empty());
}

TEST(ReadFingerprint, ImageBytesThatLookLikeLineEndsAreData) {
  std::vector<std::uint8_t> image(64 * 64, '\n');
  image[0] = ' ';
  image[1] = ';';
  const FingerprintFile f = testing::make_fingerprint(image, {});
  Fingerprint fp;
  ASSERT_EQ(read_bytes(f.bytes(), fp, kLoadImage | kLoadNormTable), kReadOk);
  EXPECT_EQ(fp.image(1, 1), ' ');
  EXPECT_EQ(fp.image(1, 2), ';');
  EXPECT_EQ(fp.image(1, 3), '\n');
}

TEST(ReadFingerprint, NoMemoryForImageOrTableGives8) {
  const std::string bytes = valid_file().bytes();
  {
    testing::FailAllocations fail("image");
    Fingerprint fp;
    EXPECT_EQ(read_bytes(bytes, fp, kLoadImage | kLoadNormTable), kReadNoMemory);
    expect_empty(fp);
  }
  {
    testing::FailAllocations fail("norm_table");
    Fingerprint fp;
    EXPECT_EQ(read_bytes(bytes, fp, kLoadImage | kLoadNormTable), kReadNoMemory);
    expect_empty(fp);
  }
}

TEST(ReadFingerprint, ReadingAgainReplacesThePreviousContent) {
  Fingerprint fp;
  ASSERT_EQ(read_bytes(valid_file(1).bytes(), fp, kLoadImage), kReadOk);
  Fingerprint copy = fp;  // shares the image
  ASSERT_EQ(read_bytes(valid_file(2).bytes(), fp, kLoadImage), kReadOk);
  EXPECT_FALSE(fp.image.shares_with(copy.image));
  EXPECT_FALSE(copy.image.empty()) << "the other holder keeps its image";
}

// Geometry the comparison cannot use is refused before any array is made.
class BadGeometry : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(BadGeometry, GivesCode16) {
  FingerprintFile f = valid_file();
  const auto& [line3, line7] = GetParam();
  if (*line3) f.lines[2] = line3;
  if (*line7) f.lines[6] = line7;
  Fingerprint fp;
  SubCellLayout layout;
  EXPECT_EQ(read_bytes(f.bytes(), fp, kLoadImage | kLoadNormTable, &layout), kReadBadGeometry);
  expect_empty(fp);
  EXPECT_EQ(layout.across, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BadGeometry,
    ::testing::Values(std::pair{"2a 63 64 1 1 31 0", ""}, std::pair{"2a 64 48 1 1 31 0", ""},
                      std::pair{"2a 0 64 1 1 31 0", ""}, std::pair{"2a -64 64 1 1 31 0", ""},
                      std::pair{"2a 2048 64 1 1 31 0", ""},
                      std::pair{"2a 99999999999 64 1 1 31 0", ""}, std::pair{"", "17 17 2 2 0 16"},
                      std::pair{"", "17 17 2 2 16 65"}, std::pair{"", "17 17 2 2 40 16"},
                      std::pair{"", "17 17 2 1 16 16"}, std::pair{"", "17 17 4 4 16 16"},
                      std::pair{"", "17 17 17 1 16 16"}, std::pair{"", "17 17 0 2 16 16"},
                      std::pair{"", "17 17 -2 -2 16 16"}, std::pair{"", "17 17 1 4 16 16"}));

// The same line with its field-th blank-separated field (0-based) replaced.
std::string with_field(const std::string& line, int field, const std::string& text) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t sp = line.find(' '); sp != std::string::npos; sp = line.find(' ', start)) {
    fields.push_back(line.substr(start, sp - start));
    start = sp + 1;
  }
  fields.push_back(line.substr(start));
  fields.at(static_cast<std::size_t>(field)) = text;
  std::string out = fields[0];
  for (std::size_t i = 1; i < fields.size(); ++i) out += " " + fields[i];
  return out;
}

// A real of the header that is not a finite number would run through the
// correlation into every score of the extract, so it is refused like a
// geometry the comparison cannot use. Lines 4-6 are only looked at when parsed.
TEST(ReadFingerprint, NonFiniteHeaderRealsGive16) {
  struct Field {
    const char* what;
    std::size_t line;  // index into FingerprintFile::lines
    int field;
    bool parsed_only_with_flag8;
    const char* overflow;  // beyond the range of the field's type
  };
  const Field fields[] = {
      {"cell_mean", 2, 5, false, "1e39"},
      {"line 4 real 1", 3, 4, true, "1e39"},
      {"line 4 real 2", 3, 5, true, "-1e39"},
      {"line 4 real 3", 3, 6, true, "1e39"},
      {"line 5 first", 4, 0, true, "1e309"},
      {"line 5 last", 4, 11, true, "-1e309"},
      {"line 6 first", 5, 0, true, "1e309"},
      {"line 6 last", 5, 5, true, "1e309"},
      {"sub_mean of sub-cell 0", 7, 2, false, "1e39"},
      {"sub_scale of sub-cell 0", 7, 3, false, "1e39"},
      {"sub_mean of sub-cell 3", 10, 2, false, "-1e39"},
      {"sub_scale of sub-cell 3", 10, 3, false, "1e39"},
  };
  const int all = kLoadImage | kLoadNormTable | kParseExtra;
  const FingerprintFile good = valid_file();
  ASSERT_EQ(read_bytes(good.bytes(), all), kReadOk);
  for (const Field& f : fields) {
    const std::vector<std::string> values = {"nan",  "inf",      "-inf",   "NAN",
                                             "-nan", "Infinity", "nan(1)", f.overflow};
    for (const std::string& value : values) {
      SCOPED_TRACE(std::string(f.what) + " = " + value);
      FingerprintFile bad = good;
      bad.lines[f.line] = with_field(good.lines[f.line], f.field, value);
      ASSERT_NE(bad.lines[f.line], good.lines[f.line]);
      Fingerprint fp;
      FingerprintExtra extra;
      EXPECT_EQ(read_bytes(bad.bytes(), fp, all, nullptr, &extra), kReadBadGeometry);
      expect_empty(fp);
      EXPECT_EQ(read_bytes(bad.bytes(), kLoadImage | kLoadNormTable),
                f.parsed_only_with_flag8 ? kReadOk : kReadBadGeometry);
    }
  }
}

TEST(ReadFingerprint, ExtremeButFiniteHeaderRealsAreRead) {
  const FingerprintFile good = valid_file();
  const struct {
    std::size_t line;
    int field;
    const char* value;
  } cases[] = {
      {2, 5, "3.4e38"}, {2, 5, "-0"},     {2, 5, "1e-45"}, {3, 4, "-3.4e38"},
      {4, 0, "1e308"},  {5, 5, "-1e308"}, {7, 3, "1e-40"}, {10, 2, "-3.4e38"},
  };
  for (const auto& c : cases) {
    FingerprintFile f = good;
    f.lines[c.line] = with_field(good.lines[c.line], c.field, c.value);
    EXPECT_EQ(read_bytes(f.bytes(), kLoadImage | kLoadNormTable | kParseExtra), kReadOk)
        << f.lines[c.line];
  }
}

// A table entry multiplies a window of the surface: NaN or infinity there
// would make every score that window reaches NaN or infinite.
TEST(ReadFingerprint, NonFiniteTableEntriesGive16) {
  const FingerprintFile good = valid_file();
  const std::size_t entries = good.table.size() / 4;
  ASSERT_EQ(entries, 49u * 49u);
  const struct {
    const char* what;
    std::uint32_t bits;
  } values[] = {
      {"quiet NaN", 0x7fc00000u},    {"signalling NaN", 0x7f800001u},
      {"negative NaN", 0xffc00000u}, {"+infinity", 0x7f800000u},
      {"-infinity", 0xff800000u},    {"NaN with every payload bit", 0x7fffffffu},
  };
  for (const std::size_t entry : {std::size_t{0}, entries / 2, entries - 1}) {
    for (const auto& v : values) {
      SCOPED_TRACE(std::string(v.what) + " at entry " + std::to_string(entry));
      FingerprintFile bad = good;
      bad.table.replace(entry * 4, 4, testing::float_bytes(std::bit_cast<float>(v.bits)));
      Fingerprint fp;
      EXPECT_EQ(read_bytes(bad.bytes(), fp, kLoadImage | kLoadNormTable), kReadBadGeometry);
      expect_empty(fp);
      EXPECT_EQ(read_bytes(bad.bytes(), fp, kLoadNormTable), kReadBadGeometry);
      EXPECT_EQ(read_bytes(bad.bytes(), fp, kLoadImage), kReadOk) << "the table is not read";
    }
  }
  // The largest finite values and zero stay data.
  FingerprintFile edge = good;
  edge.table.replace(0, 4, testing::float_bytes(std::bit_cast<float>(0x7f7fffffu)));
  edge.table.replace(4, 4, testing::float_bytes(std::bit_cast<float>(0xff7fffffu)));
  edge.table.replace(8, 4, testing::float_bytes(0.0f));
  Fingerprint fp;
  ASSERT_EQ(read_bytes(edge.bytes(), fp, kLoadImage | kLoadNormTable), kReadOk);
  EXPECT_EQ(fp.norm_table(1, 1), std::bit_cast<float>(0x7f7fffffu));
  EXPECT_EQ(fp.norm_table(1, 2), std::bit_cast<float>(0xff7fffffu));
}

TEST(ReadFingerprint, FourSubCellsInOneRowAreAccepted) {
  FingerprintGeometry g;
  g.across = 4;
  g.down = 1;
  g.row_origin = 25;
  g.col_origin = 1;
  g.subcols = 16;
  g.subrows = 16;
  // R = (64 - 16) / 2 = 24, C = 0: windows at rows 1 .. 49, columns 1 .. 49.
  Fingerprint fp;
  SubCellLayout layout;
  EXPECT_EQ(read_bytes(valid_file(3, g).bytes(), fp, kLoadImage, &layout), kReadOk);
  EXPECT_EQ(layout.across, 4);
  EXPECT_EQ(layout.col_origin[3], 49);
}

TEST(ReadFingerprint, SubCellWindowOutsideTheTableGives16) {
  // R = C = 16 for 2 x 2 sub-cells of 16 in 64: a sub-cell at row 16 would
  // need table row 0, one at column 34 table column 50.
  for (const char* line : {"16 17 30 0.1", "17 34 30 0.1", "0 0 30 0.1", "-5 17 30 0.1"}) {
    FingerprintFile f = valid_file();
    f.lines[7] = line;
    EXPECT_EQ(read_bytes(f.bytes()), kReadBadGeometry) << line;
  }
  FingerprintFile f = valid_file();
  f.lines[10] = "33 34 30 0.1";
  EXPECT_EQ(read_bytes(f.bytes()), kReadBadGeometry);
}

TEST(ReadFingerprint, SmallPowerOfTwoSizesAreAccepted) {
  FingerprintGeometry g;
  g.rows = 8;
  g.cols = 16;
  g.subrows = 2;
  g.subcols = 4;
  g.row_origin = 3;
  g.col_origin = 5;
  // R = (8 - 4) / 2 = 2, C = (16 - 8) / 2 = 4: table 7 x 13.
  Fingerprint fp;
  EXPECT_EQ(read_bytes(valid_file(4, g).bytes(), fp, kLoadImage | kLoadNormTable), kReadOk);
  EXPECT_EQ(fp.norm_table.rows(), 7);
  EXPECT_EQ(fp.norm_table.cols(), 13);
}

TEST(ReleaseFingerprint, DropsArraysAndResets) {
  Fingerprint fp;
  ASSERT_EQ(read_bytes(valid_file().bytes(), fp, kLoadImage | kLoadNormTable), kReadOk);
  release_fingerprint(fp);
  expect_empty(fp);
  Fingerprint other;
  other.rows = 3;
  reset_fingerprint(other);
  expect_empty(other);
}

}  // namespace
}  // namespace tarvik

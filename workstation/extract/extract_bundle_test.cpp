// The extract bundle: a random extract survives the disk bit for bit, the
// byte layout is the documented one, and every kind of damage to each file is
// refused with a message naming that file.
#include "workstation/extract/extract_bundle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/temp_dir.h"
#include "workstation/extract/shared_extract.h"

namespace velmora::extract {
namespace {

namespace fs = std::filesystem;
using velmora::testing::read_file;
using velmora::testing::TempDir;
using velmora::testing::write_file;

// A seeded random extract with values at the edges of every range: grey 0 and
// 255, negative and extreme colour values, blank and usable pixels.
SharedExtract random_extract(unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> grey(0.0, 255.0);
  std::uniform_int_distribution<int> colour(std::numeric_limits<std::int16_t>::min(),
                                            std::numeric_limits<std::int16_t>::max());
  std::bernoulli_distribution blank(0.3);
  SharedExtract e;
  for (double& v : e.intensity) v = grey(rng);
  for (std::int16_t& v : e.rgb) v = static_cast<std::int16_t>(colour(rng));
  for (std::int16_t& v : e.blank) v = blank(rng) ? kBlankPixel : kUsablePixel;
  e.cell_intensity(1, 1) = 0.0;
  e.cell_intensity(256, 256) = 255.0;
  e.cell_intensity(17, 3) = std::nextafter(255.0, 0.0);
  e.cell_intensity(17, 4) = std::numeric_limits<double>::denorm_min();
  e.cell_rgb(ColourPlane::kGreen, 2, 2) = std::numeric_limits<std::int16_t>::min();
  e.cell_rgb(ColourPlane::kBlue, 256, 1) = -1;
  e.blank_edited = true;
  return e;
}

bool same_bits(const SharedExtract& a, const SharedExtract& b) {
  return a.intensity.size() == b.intensity.size() && a.rgb.size() == b.rgb.size() &&
         a.blank.size() == b.blank.size() &&
         std::memcmp(a.intensity.data(), b.intensity.data(), a.intensity.size() * 8) == 0 &&
         std::memcmp(a.rgb.data(), b.rgb.data(), a.rgb.size() * 2) == 0 &&
         std::memcmp(a.blank.data(), b.blank.data(), a.blank.size() * 2) == 0 &&
         a.blank_edited == b.blank_edited;
}

TEST(SharedExtract, AccessorsAreRowMajorFromOne) {
  SharedExtract e;
  ASSERT_EQ(e.intensity.size(), 65536u);
  ASSERT_EQ(e.rgb.size(), 3u * 65536u);
  ASSERT_EQ(e.blank.size(), 65536u);
  struct Case {
    int row, column;
    std::size_t index;
  };
  const Case cases[] = {{1, 1, 0}, {1, 2, 1}, {1, 256, 255}, {2, 1, 256}, {256, 256, 65535}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.row) + "," + std::to_string(c.column));
    EXPECT_EQ(SharedExtract::index(c.row, c.column), c.index);
    e.cell_intensity(c.row, c.column) = 7.5;
    EXPECT_EQ(e.intensity[c.index], 7.5);
    e.cell_blank(c.row, c.column) = kBlankPixel;
    EXPECT_EQ(e.blank[c.index], kBlankPixel);
    EXPECT_TRUE(e.is_blank(c.row, c.column));
    e.cell_rgb(ColourPlane::kBlue, c.row, c.column) = 99;
    EXPECT_EQ(e.rgb[2 * 65536 + c.index], 99);
  }
  EXPECT_FALSE(SharedExtract::in_range(0, 1));
  EXPECT_FALSE(SharedExtract::in_range(1, 257));
  EXPECT_TRUE(SharedExtract::in_range(256, 1));
}

TEST(SharedExtractDeath, OutOfRangePixelStops) {
  EXPECT_DEATH((void)SharedExtract::index(257, 1), "outside");
  EXPECT_DEATH((void)SharedExtract::index(1, 0), "outside");
}

TEST(ExtractBundle, RoundTripIsBitIdentical) {
  TempDir dir("extract_bundle");
  const std::string folder = dir.path("GS0001 bundle");
  for (unsigned seed : {1u, 2u, 77u}) {
    SCOPED_TRACE(seed);
    SharedExtract written = random_extract(seed);
    written.blank_edited = seed % 2 == 0;
    const std::string cell = "GS000" + std::to_string(seed) + "_01";
    ASSERT_TRUE(write_extract_bundle(folder, written, cell).ok());

    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"blank.i16", "extract.ini", "intensity.f64", "rgb.i16"}));

    SharedExtract read;
    read.extract_ready = true;  // the run's state, which reading leaves alone
    std::string read_cell;
    const Status s = read_extract_bundle(folder, &read, &read_cell);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_TRUE(same_bits(written, read));
    EXPECT_EQ(read_cell, cell);
    EXPECT_TRUE(read.extract_ready);
    EXPECT_EQ(read_file(fs::path(folder) / "extract.ini"),
              "cell=" + cell + "\nblank_edited=" + (written.blank_edited ? "1" : "0") + "\n");
  }
}

// Little-endian bytes of a double and an int16, written out by hand.
std::string bytes(std::initializer_list<unsigned> list) {
  std::string out;
  for (unsigned b : list) out.push_back(static_cast<char>(b));
  return out;
}

TEST(ExtractBundle, ByteLayoutIsTheDocumentedOne) {
  TempDir dir("extract_layout");
  const std::string folder = dir.path("b");
  SharedExtract e;
  e.cell_intensity(1, 2) = 1.5;    // 0x3FF8000000000000
  e.cell_intensity(2, 1) = 255.0;  // 0x406FE00000000000
  e.cell_rgb(ColourPlane::kRed, 1, 1) = 0x1234;
  e.cell_rgb(ColourPlane::kGreen, 1, 1) = -2;  // 0xFFFE
  e.cell_rgb(ColourPlane::kBlue, 1, 1) = 0x0102;
  e.cell_rgb(ColourPlane::kBlue, 1, 2) = 0x7F80;
  e.cell_blank(1, 2) = kBlankPixel;
  e.cell_blank(2, 1) = kBlankPixel;
  ASSERT_TRUE(write_extract_bundle(folder, e, "GS0001_01").ok());

  const std::string intensity = read_file(fs::path(folder) / "intensity.f64");
  const std::string rgb = read_file(fs::path(folder) / "rgb.i16");
  const std::string blank = read_file(fs::path(folder) / "blank.i16");
  ASSERT_EQ(intensity.size(), 524288u);
  ASSERT_EQ(rgb.size(), 393216u);
  ASSERT_EQ(blank.size(), 131072u);

  EXPECT_EQ(intensity.substr(0, 8), bytes({0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(intensity.substr(8, 8), bytes({0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));
  EXPECT_EQ(intensity.substr(16, 8), bytes({0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(intensity.substr(256 * 8, 8), bytes({0, 0, 0, 0, 0, 0xE0, 0x6F, 0x40}));
  EXPECT_EQ(rgb.substr(0, 2), bytes({0x34, 0x12}));
  EXPECT_EQ(rgb.substr(131072, 2), bytes({0xFE, 0xFF}));
  EXPECT_EQ(rgb.substr(2 * 131072, 4), bytes({0x02, 0x01, 0x80, 0x7F}));
  EXPECT_EQ(blank.substr(0, 6), bytes({0, 0, 0xFF, 0xFF, 0, 0}));
  EXPECT_EQ(blank.substr(256 * 2, 2), bytes({0xFF, 0xFF}));

  // Every other byte is zero: nothing else was written where it should not be.
  std::size_t nonzero = 0;
  for (const std::string* f : {&intensity, &rgb, &blank}) {
    for (char c : *f) nonzero += c != 0;
  }
  EXPECT_EQ(nonzero, 2u + 3u + 2u + 2u + 4u + 2u + 2u);

  // And the other way: hand-made bytes read as the pixels they stand for.
  ExtractBundleBytes in{std::string(524288, '\0'), std::string(393216, '\0'),
                        std::string(131072, '\0'), "cell=X\r\nblank_edited=1\r\n"};
  in.intensity.replace(8, 8, bytes({0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));
  in.rgb.replace(2 * 131072 + 2, 2, bytes({0x80, 0x7F}));
  in.blank.replace(256 * 2, 2, bytes({0xFF, 0xFF}));
  SharedExtract r;
  std::string cell;
  const Status s = read_extract_bundle_bytes(in, "mem", &r, &cell);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(r.cell_intensity(1, 2), 1.5);
  EXPECT_EQ(r.cell_intensity(2, 1), 0.0);
  EXPECT_EQ(r.cell_rgb(ColourPlane::kBlue, 1, 2), 0x7F80);
  EXPECT_EQ(r.cell_rgb(ColourPlane::kGreen, 1, 2), 0);
  EXPECT_EQ(r.cell_blank(2, 1), kBlankPixel);
  EXPECT_EQ(r.cell_blank(1, 2), kUsablePixel);
  EXPECT_EQ(cell, "X");
  EXPECT_TRUE(r.blank_edited);
}

// The little-endian bytes of one double.
std::string double_bytes(double v) {
  const auto u = std::bit_cast<std::uint64_t>(v);
  std::string out;
  for (int b = 0; b < 8; ++b) out.push_back(static_cast<char>((u >> (8 * b)) & 0xFF));
  return out;
}

struct Damage {
  const char* name;
  const char* file;  // the file the message must name
  const char* says;  // and a word of what is wrong
  std::function<void(const fs::path&)> apply;
};

void chop(const fs::path& p) {
  std::string b = read_file(p);
  b.pop_back();
  ASSERT_TRUE(write_file(p, b));
}
void lengthen(const fs::path& p) {
  std::string b = read_file(p);
  b.push_back('\0');
  ASSERT_TRUE(write_file(p, b));
}
void remove_file(const fs::path& p) {
  ASSERT_TRUE(fs::remove(p));
}
void put(const fs::path& p, std::size_t at, const std::string& what) {
  std::string b = read_file(p);
  b.replace(at, what.size(), what);
  ASSERT_TRUE(write_file(p, b));
}

// Pixel (200, 17) of a plane.
constexpr std::size_t kPixel = 199 * 256 + 16;

std::vector<Damage> damages() {
  std::vector<Damage> d;
  for (const char* f : {"intensity.f64", "rgb.i16", "blank.i16"}) {
    d.push_back({"short by one byte", f, "cut short", [f](const fs::path& b) { chop(b / f); }});
    d.push_back({"one byte long", f, "too long", [f](const fs::path& b) { lengthen(b / f); }});
    d.push_back({"missing", f, "missing", [f](const fs::path& b) { remove_file(b / f); }});
  }
  d.push_back({"missing", "extract.ini", "missing",
               [](const fs::path& b) { remove_file(b / "extract.ini"); }});
  const std::pair<const char*, double> bad_grey[] = {
      {"NaN", std::numeric_limits<double>::quiet_NaN()},
      {"+inf", std::numeric_limits<double>::infinity()},
      {"-1", -1.0},
      {"256", 256.0},
      {"just above 255", std::nextafter(255.0, 300.0)},
      {"negative denormal", -std::numeric_limits<double>::denorm_min()}};
  for (const auto& [name, v] : bad_grey) {
    const double value = v;
    d.push_back({name, "intensity.f64", "(200, 17)", [value](const fs::path& b) {
                   put(b / "intensity.f64", 8 * kPixel, double_bytes(value));
                 }});
  }
  d.push_back({"blank flag 2", "blank.i16", "(200, 17) has blank flag 2", [](const fs::path& b) {
                 put(b / "blank.i16", 2 * kPixel, bytes({2, 0}));
               }});
  d.push_back({"blank flag -2", "blank.i16", "blank flag -2", [](const fs::path& b) {
                 put(b / "blank.i16", 2 * kPixel, bytes({0xFE, 0xFF}));
               }});
  d.push_back(
      {"blank flag 256 (wrong byte order)", "blank.i16", "blank flag 256", [](const fs::path& b) {
         put(b / "blank.i16", 0, bytes({0, 1}));
       }});
  struct BadIni {
    const char* name;
    const char* text;
    const char* says;
  };
  const BadIni bad_ini[] = {
      {"without cell", "blank_edited=0\n", "no 'cell' line"},
      {"unsafe cell", "cell=../x\nblank_edited=0\n", "line 1: cell name '../x' is not a safe"},
      {"empty cell", "cell=\nblank_edited=0\n", "is not a safe file name"},
      {"blank_edited=2", "cell=GS1\nblank_edited=2\n", "line 2: blank_edited is '2'"},
      {"without blank_edited", "cell=GS1\n", "no 'blank_edited' line"},
      {"unknown key", "cell=GS1\nblank_edited=0\ncolour=1\n", "line 3: unknown key 'colour'"},
      {"cell twice", "cell=GS1\ncell=GS2\nblank_edited=0\n", "line 2: 'cell' given twice"},
      {"line without =", "cell=GS1\nblank_edited=0\njunk\n", "line 3: expected key=value"},
      {"empty line", "cell=GS1\n\nblank_edited=0\n", "line 2: expected key=value"},
      {"blank around key", "cell =GS1\nblank_edited=0\n", "unknown key 'cell '"},
      {"empty file", "", "no 'cell' line"}};
  for (const BadIni& bad : bad_ini) {
    const std::string t = bad.text;
    d.push_back({bad.name, "extract.ini", bad.says,
                 [t](const fs::path& b) { ASSERT_TRUE(write_file(b / "extract.ini", t)); }});
  }
  return d;
}

TEST(ExtractBundle, DamageIsRefusedNamingTheFile) {
  TempDir dir("extract_damage");
  const SharedExtract good = random_extract(5);
  for (const Damage& damage : damages()) {
    SCOPED_TRACE(std::string(damage.file) + ": " + damage.name);
    const fs::path folder = dir.root() / "bundle";
    fs::remove_all(folder);
    ASSERT_TRUE(write_extract_bundle(folder.string(), good, "GS0005_01").ok());
    damage.apply(folder);

    SharedExtract read;
    read.cell_intensity(3, 3) = 42.0;  // a sentinel the failed read must not touch
    std::string cell = "before";
    const Status s = read_extract_bundle(folder.string(), &read, &cell);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find((folder / damage.file).string()), std::string::npos) << s.message();
    EXPECT_NE(s.message().find(damage.says), std::string::npos) << s.message();
    EXPECT_EQ(read.cell_intensity(3, 3), 42.0);
    EXPECT_EQ(cell, "before");
  }
}

TEST(ExtractBundle, IniAcceptsBothLineEndsAndEitherOrder) {
  const std::pair<const char*, ExtractIni> good[] = {
      {"cell=GS1\nblank_edited=0\n", {"GS1", false}},
      {"cell=GS1\r\nblank_edited=1\r\n", {"GS1", true}},
      {"blank_edited=1\ncell=a..b", {"a..b", true}},
      {"cell=GS 1_FL\nblank_edited=0", {"GS 1_FL", false}},
  };
  for (const auto& [text, expected] : good) {
    SCOPED_TRACE(text);
    ExtractIni ini;
    const Status s = parse_extract_ini(text, "extract.ini", &ini);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(ini.cell, expected.cell);
    EXPECT_EQ(ini.blank_edited, expected.blank_edited);
  }
}

TEST(ExtractBundle, WriteRefusesWhatCouldNotBeReadBack) {
  TempDir dir("extract_write");
  const std::string folder = dir.path("b");
  ASSERT_TRUE(write_extract_bundle(folder, random_extract(3), "GS0003_01").ok());
  const std::string before = read_file(fs::path(folder) / "intensity.f64");

  struct Case {
    const char* name;
    std::function<void(SharedExtract*, std::string*)> spoil;
    const char* says;
  };
  const Case cases[] = {
      {"NaN",
       [](SharedExtract* e, std::string*) {
         e->cell_intensity(4, 5) = std::numeric_limits<double>::quiet_NaN();
       },
       "(4, 5)"},
      {"above 255", [](SharedExtract* e, std::string*) { e->cell_intensity(1, 1) = 255.5; },
       "(1, 1)"},
      {"blank flag 1", [](SharedExtract* e, std::string*) { e->cell_blank(9, 9) = 1; }, "(9, 9)"},
      {"unsafe cell", [](SharedExtract*, std::string* c) { *c = "../x"; }, "../x"},
      {"short buffer", [](SharedExtract* e, std::string*) { e->rgb.pop_back(); }, "256 x 256"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SharedExtract e = random_extract(4);
    std::string cell = "GS0004_01";
    c.spoil(&e, &cell);
    const Status s = write_extract_bundle(folder, e, cell);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find(c.says), std::string::npos) << s.message();
    // Nothing was touched: the old bundle still reads, with its old bytes.
    EXPECT_EQ(read_file(fs::path(folder) / "intensity.f64"), before);
    SharedExtract r;
    std::string rc;
    EXPECT_TRUE(read_extract_bundle(folder, &r, &rc).ok());
    EXPECT_EQ(rc, "GS0003_01");
  }
}

}  // namespace
}  // namespace velmora::extract

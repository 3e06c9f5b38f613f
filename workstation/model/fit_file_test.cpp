#include "workstation/model/fit_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "testing/temp_dir.h"
#include "workstation/model/model_files_test_support.h"

namespace velmora::model {
namespace {

using testing::TempDir;

// The layout written out by hand, field by field at the offsets of the
// record tables, independently of the writer's walk over the structs.
void poke32(std::string* bytes, std::size_t offset, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int b = 0; b < 4; ++b) (*bytes)[offset + b] = static_cast<char>((u >> (8 * b)) & 0xFF);
}
void poke16(std::string* bytes, std::size_t offset, std::int16_t v) {
  const auto u = static_cast<std::uint16_t>(v);
  (*bytes)[offset] = static_cast<char>(u & 0xFF);
  (*bytes)[offset + 1] = static_cast<char>(u >> 8);
}
void poke_double(std::string* bytes, std::size_t offset, double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, 8);
  for (int b = 0; b < 8; ++b) (*bytes)[offset + b] = static_cast<char>((u >> (8 * b)) & 0xFF);
}

std::string reference_bytes(const FitRecord& r) {
  std::string bytes(r.has_picked ? 2658 : 2626, '\0');
  const fennick::MarkedPoints& m = r.marks;
  for (int i = 0; i < 11; ++i) {
    poke32(&bytes, 8 * i, m.special[2 * i]);
    poke32(&bytes, 8 * i + 4, m.special[2 * i + 1]);
    poke32(&bytes, 88 + 4 * i, m.placed[i]);
    poke32(&bytes, 2544 + 4 * i, m.weights[i]);
  }
  const struct {
    std::size_t at;
    const fennick::PointList* list;
  } lists[] = {{132, &m.midline}, {936, &m.top}, {1740, &m.bottom}};
  for (const auto& [at, list] : lists) {
    poke32(&bytes, at, list->count);
    for (int k = 0; k < 100; ++k) {
      poke32(&bytes, at + 4 + 4 * k, list->x[k]);
      poke32(&bytes, at + 404 + 4 * k, list->y[k]);
    }
  }
  for (int i = 0; i < 5; ++i) poke32(&bytes, 2588 + 4 * i, m.trailing[i]);
  const std::int16_t crop[] = {
      r.crop.destination_x,      r.crop.destination_y, r.crop.destination_width,
      r.crop.destination_height, r.crop.source_x,      r.crop.source_y,
      r.crop.source_width,       r.crop.source_height, r.crop.width_limited};
  for (int f = 0; f < 9; ++f) poke16(&bytes, 2608 + 2 * f, crop[f]);
  if (r.has_picked) {
    const double picks[] = {r.picked.y1, r.picked.y2, r.picked.theta1, r.picked.theta2};
    for (int f = 0; f < 4; ++f) poke_double(&bytes, 2626 + 8 * f, picks[f]);
  }
  return bytes;
}

void expect_same(const FitRecord& a, const FitRecord& b) {
  EXPECT_EQ(0, std::memcmp(&a.marks, &b.marks, sizeof a.marks));
  EXPECT_EQ(a.crop, b.crop);
  EXPECT_EQ(a.has_picked, b.has_picked);
  EXPECT_EQ(a.picked, b.picked);
}

TEST(FitFile, BytesFollowTheRecordLayoutWithAndWithoutPicks) {
  for (int adjust : {0, -1, -2, -3}) {
    SCOPED_TRACE(adjust);
    const FitRecord record =
        fit_record_for_ok(sample_marks(), sample_crop(), sample_picks(), adjust);
    EXPECT_EQ(record.has_picked, adjust != 0);
    const std::string bytes = fit_file_bytes(record);
    EXPECT_EQ(bytes, reference_bytes(record));
    // The picked points are the file's last 32 bytes, or absent.
    EXPECT_EQ(bytes.size(), adjust != 0 ? 2658u : 2626u);
  }
}

TEST(FitFile, RoundTripsThroughTheDataFolderWithAndWithoutPicks) {
  TempDir data;
  ASSERT_TRUE(data.write("savedraw/.keep", ""));
  for (int adjust : {0, -2}) {
    SCOPED_TRACE(adjust);
    const FitRecord written =
        fit_record_for_ok(sample_marks(), sample_crop(), sample_picks(), adjust);
    ASSERT_TRUE(write_fit_files(data.dir(), "GS0001_02_AB", written).ok());
    std::string path;
    ASSERT_TRUE(fit_file_path(data.dir(), "GS0001_02_AB", &path).ok());
    EXPECT_EQ(path, data.dir() + "savedraw/GS0001_02_AB");
    FitRecord read;
    const Status s = read_fit_file(path, "GS0001_02_AB", &read);
    ASSERT_TRUE(s.ok()) << s.message();
    expect_same(read, written);
  }
}

TEST(FitFile, OkWritesThePartnerCellsFileToo) {
  const struct {
    const char* cell;
    std::vector<std::string> files;
  } cases[] = {
      {"GS1_AB", {"GS1_AB"}},
      {"GS1_CH", {"GS1_CH"}},
      {"GS1_HD", {"GS1_HD", "GS1_NK"}},
      {"GS1_FL", {"GS1_FL", "GS1_HA"}},
      {"GS1_SP", {"GS1_SP"}},
      {"FL", {"FL", "HA"}},
      {"D", {"D"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cell);
    EXPECT_EQ(fit_file_cells_for_ok(c.cell), c.files);
    TempDir data;
    ASSERT_TRUE(data.write("savedraw/.keep", ""));
    const FitRecord record = fit_record_for_ok(sample_marks(), sample_crop(), sample_picks(), 0);
    ASSERT_TRUE(write_fit_files(data.dir(), c.cell, record).ok());
    for (const std::string& name : c.files) {
      EXPECT_EQ(data.read("savedraw/" + name), fit_file_bytes(record)) << name;
    }
  }
}

// Fails the open of the n-th file only.
class FailingOpen : public FileSystemCalls {
 public:
  explicit FailingOpen(int fail_at) : fail_at_(fail_at) {}
  int open(const char* path, int flags, mode_t mode) override {
    if (++opens_ == fail_at_) {
      errno = ENOSPC;
      return -1;
    }
    return FileSystemCalls::open(path, flags, mode);
  }

 private:
  int fail_at_;
  int opens_ = 0;
};

TEST(FitFile, AFailedWriteLeavesBothPartnerFilesAsTheyWere) {
  for (int fail_at : {1, 2}) {
    SCOPED_TRACE(fail_at);
    TempDir data;
    ASSERT_TRUE(data.write("savedraw/GS1_FL", "old fit"));
    FailingOpen calls(fail_at);
    const Status s = write_fit_files(
        data.dir(), "GS1_FL", fit_record_for_ok(sample_marks(), sample_crop(), {}, 0), calls);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find("GS1_FL"), std::string::npos) << s.message();
    EXPECT_EQ(data.read("savedraw/GS1_FL"), "old fit");
    EXPECT_FALSE(data.exists("savedraw/GS1_HA"));
  }
}

TEST(FitFile, PathsStayInTheirFolderAndTheOtherHeadViewsShowTheFirstsCrop) {
  std::string path;
  EXPECT_FALSE(fit_file_path("/d/", "../GS1_FL", &path).ok());
  EXPECT_FALSE(fit_file_path("/d/", "", &path).ok());
  EXPECT_FALSE(display_fit_file_path("/d/", "x/A_HD", &path).ok());
  const struct {
    const char* cell;
    const char* fit_path;
    const char* display_path;
  } cases[] = {
      {"GS1_2A_HD", "/d/savedraw/GS1_2A_HD", "/d/savedraw/GS1_21_HD"},
      {"A_HD", "/d/savedraw/A_HD", "/d/savedraw/1_HD"},
      {"GS1_HD", "/d/savedraw/GS1_HD", "/d/savedraw/GS1_HD"},
      {"GS1_A_HDX", "/d/savedraw/GS1_A_HDX", "/d/savedraw/GS1_A_HDX"},
      {"GS1_a_HD", "/d/savedraw/GS1_a_HD", "/d/savedraw/GS1_a_HD"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(fit_file_path("/d/", c.cell, &path).ok());
    EXPECT_EQ(path, c.fit_path);
    ASSERT_TRUE(display_fit_file_path("/d/", c.cell, &path).ok());
    EXPECT_EQ(path, c.display_path);
  }
}

// Every refusal names the file and the cell and leaves the record alone.
void expect_refused(const std::string& bytes, const std::string& why) {
  FitRecord record;
  record.crop.source_x = 77;
  const Status s = parse_fit_file(bytes, "/d/savedraw/GS9_FL", "GS9_FL", &record);
  ASSERT_FALSE(s.ok()) << why;
  EXPECT_EQ(s.code(), Status::Code::kCorruption) << why;
  EXPECT_EQ(s.message().rfind("/d/savedraw/GS9_FL (cell GS9_FL): ", 0), 0u) << s.message();
  EXPECT_NE(s.message().find(why), std::string::npos) << s.message();
  EXPECT_EQ(record.crop.source_x, 77) << why;
}

TEST(FitFile, RefusesAFileCutShortAtEveryFieldBoundary) {
  const std::string whole =
      fit_file_bytes(fit_record_for_ok(sample_marks(), sample_crop(), sample_picks(), -1));
  const struct {
    std::size_t size;
    const char* field;
  } cases[] = {
      {0, "special-point positions"},
      {87, "special-point positions"},
      {88, "placed flags"},
      {132, "midline list"},
      {135, "midline list"},
      {936, "top-edge list"},
      {1740, "bottom-edge list"},
      {2544, "weights"},
      {2588, "five trailing"},
      {2607, "five trailing"},
      {2608, "destination x"},
      {2610, "destination y"},
      {2612, "destination width"},
      {2614, "destination height"},
      {2616, "source x"},
      {2618, "source y"},
      {2620, "source width"},
      {2622, "source height"},
      {2624, "width-limited flag"},
      {2627, "Y1"},
      {2634, "Y2"},
      {2642, "theta1"},
      {2650, "theta2"},
      {2657, "theta2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    expect_refused(whole.substr(0, c.size), c.field);
  }
  expect_refused(whole + "x", "1 bytes after its picked points");
}

TEST(FitFile, RefusesCountsFlagsPositionsAndCropsOutOfRange) {
  const std::string good =
      fit_file_bytes(fit_record_for_ok(sample_marks(), sample_crop(), sample_picks(), -3));
  const struct {
    std::size_t offset;
    int width;  // 4 for int32 fields, 2 for int16, 8 for doubles
    double value;
    const char* why;
  } cases[] = {
      {132, 4, 101, "midline list counts 101"},
      {132, 4, -1, "midline list counts -1"},
      {936, 4, 1000, "top-edge list counts 1000"},
      {1740, 4, 2147483647.0, "bottom-edge list counts 2147483647"},
      {88 + 4 * 3, 4, 2, "special point 3 has the placed flag 2"},
      {88 + 4 * 4, 4, -1, "special point 4 has the placed flag -1"},
      {8 * 1, 4, 40000, "special point 1 lies at (40000"},
      {936 + 4 + 4 * 2, 4, -32768, "point 3 of the top-edge list lies at (-32768"},
      {2608, 2, 5, "destination starts at (5, 0)"},
      {2610, 2, -1, "destination starts at (0, -1)"},
      {2612, 2, 0, "destination is 0 by"},
      {2614, 2, -200, "by -200, no picture"},
      {2616, 2, -3, "source starts at (-3"},
      {2620, 2, 0, "source is 0 by"},
      {2622, 2, -9, "by -9, no part"},
      {2624, 2, 1, "width-limited flag is 1"},
      {2626, 8, std::numeric_limits<double>::quiet_NaN(), "Y1 is not a number"},
      {2650, 8, std::numeric_limits<double>::infinity(), "theta2 is not a number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    std::string bytes = good;
    if (c.width == 4) poke32(&bytes, c.offset, static_cast<std::int32_t>(c.value));
    if (c.width == 2) poke16(&bytes, c.offset, static_cast<std::int16_t>(c.value));
    if (c.width == 8) poke_double(&bytes, c.offset, c.value);
    expect_refused(bytes, c.why);
  }
  // Beyond a list's count and at unplaced special points anything may lie.
  std::string loose = good;
  poke32(&loose, 132 + 4 + 4 * 99, std::numeric_limits<std::int32_t>::min());
  poke32(&loose, 8 * 10, std::numeric_limits<std::int32_t>::max());
  FitRecord record;
  ASSERT_TRUE(parse_fit_file(loose, "f", "c", &record).ok());
  EXPECT_EQ(fit_file_bytes(record), loose);
}

TEST(FitFile, AMissingOrOversizedFileIsReportedByName) {
  TempDir data;
  FitRecord record;
  Status s = read_fit_file(data.path("savedraw/GS1_AB"), "GS1_AB", &record);
  EXPECT_EQ(s.code(), Status::Code::kNotFound);
  ASSERT_TRUE(data.write("savedraw/GS1_AB", std::string(5000, '\0')));
  s = read_fit_file(data.path("savedraw/GS1_AB"), "GS1_AB", &record);
  EXPECT_EQ(s.code(), Status::Code::kCorruption);
  EXPECT_NE(s.message().find(data.path("savedraw/GS1_AB") + " (cell GS1_AB)"), std::string::npos)
      << s.message();
}

}  // namespace
}  // namespace velmora::model

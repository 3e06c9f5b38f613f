// The records' byte layouts: every field the workstation reads or writes is
// written through the struct into a zeroed record, and the record's bytes
// must hold exactly that value, little-endian, at the stated offset and
// nowhere else. A field moved, resized or reordered fails here.
#include "libs/fennick/fennick_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora::fennick {
namespace {

constexpr int32_t kIntProbe = 0x5A3C1F07;
constexpr double kRealProbe = -1234.5678125;

template <typename T>
std::vector<unsigned char> le_bytes(T v) {
  std::vector<unsigned char> out(sizeof v);
  std::memcpy(out.data(), &v, sizeof v);  // the machine is little-endian (static_assert)
  return out;
}

template <typename Record>
struct Placement {
  std::string field;
  std::size_t offset;
  bool real;                           // the probe is kRealProbe, else kIntProbe
  std::function<void(Record&)> write;  // writes the probe through the field
};

// Writes each probe into a fresh zeroed record and compares the bytes.
template <typename Record>
void expect_placements(const std::vector<Placement<Record>>& table) {
  for (const auto& p : table) {
    SCOPED_TRACE(p.field);
    auto record = std::make_unique<Record>();  // value-initialised: all zero
    p.write(*record);
    std::vector<unsigned char> bytes(sizeof(Record));
    std::memcpy(bytes.data(), record.get(), sizeof(Record));
    const auto expected = p.real ? le_bytes(kRealProbe) : le_bytes(kIntProbe);
    ASSERT_LE(p.offset + expected.size(), bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const bool inside = i >= p.offset && i < p.offset + expected.size();
      const unsigned char want = inside ? expected[i - p.offset] : 0;
      if (bytes[i] != want) {
        ADD_FAILURE() << "byte " << i << " is " << int(bytes[i]) << ", expected " << int(want);
        break;
      }
    }
  }
}

TEST(FennickRecords, MarkedPointsOffsets) {
  using R = MarkedPoints;
  std::vector<Placement<R>> table = {
      {"x of special point 0", 0, false, [](R& r) { r.special[0] = kIntProbe; }},
      {"y of special point 0", 4, false, [](R& r) { r.special[1] = kIntProbe; }},
      {"x of special point 3", 24, false, [](R& r) { r.special[6] = kIntProbe; }},
      {"y of special point 10", 84, false, [](R& r) { r.special[21] = kIntProbe; }},
      {"placed flag 0", 88, false, [](R& r) { r.placed[0] = kIntProbe; }},
      {"placed flag 10", 128, false, [](R& r) { r.placed[10] = kIntProbe; }},
      {"midline count", 132, false, [](R& r) { r.midline.count = kIntProbe; }},
      {"midline x[0]", 136, false, [](R& r) { r.midline.x[0] = kIntProbe; }},
      {"midline y[0]", 536, false, [](R& r) { r.midline.y[0] = kIntProbe; }},
      {"midline y[99]", 932, false, [](R& r) { r.midline.y[99] = kIntProbe; }},
      {"top count", 936, false, [](R& r) { r.top.count = kIntProbe; }},
      {"top x[5]", 960, false, [](R& r) { r.top.x[5] = kIntProbe; }},
      {"top y[0]", 1340, false, [](R& r) { r.top.y[0] = kIntProbe; }},
      {"bottom count", 1740, false, [](R& r) { r.bottom.count = kIntProbe; }},
      {"bottom x[0]", 1744, false, [](R& r) { r.bottom.x[0] = kIntProbe; }},
      {"bottom y[99]", 2540, false, [](R& r) { r.bottom.y[99] = kIntProbe; }},
      {"weight 0", 2544, false, [](R& r) { r.weights[0] = kIntProbe; }},
      {"weight 10", 2584, false, [](R& r) { r.weights[10] = kIntProbe; }},
      {"trailing 0", 2588, false, [](R& r) { r.trailing[0] = kIntProbe; }},
      {"trailing 3 (slider)", 2600, false, [](R& r) { r.trailing[3] = kIntProbe; }},
      {"trailing 4", 2604, false, [](R& r) { r.trailing[4] = kIntProbe; }},
  };
  expect_placements(table);
}

TEST(FennickRecords, FitControlOffsets) {
  using R = FitControl;
  std::vector<Placement<R>> table = {
      {"unused 2", 8, false, [](R& r) { r.unused[2] = kIntProbe; }},
      {"scale_special", 12, true, [](R& r) { r.scale_special = kRealProbe; }},
      {"scale_mid", 20, true, [](R& r) { r.scale_mid = kRealProbe; }},
      {"scale_overspill", 28, true, [](R& r) { r.scale_overspill = kRealProbe; }},
      {"scale_mag", 36, true, [](R& r) { r.scale_mag = kRealProbe; }},
      {"scale_edge", 44, true, [](R& r) { r.scale_edge = kRealProbe; }},
      {"scale_stiff", 52, true, [](R& r) { r.scale_stiff = kRealProbe; }},
      {"scale_twist", 60, true, [](R& r) { r.scale_twist = kRealProbe; }},
      {"scale_thin", 68, true, [](R& r) { r.scale_thin = kRealProbe; }},
      {"distend_belly", 76, false, [](R& r) { r.distend_belly = kIntProbe; }},
      {"oversampling", 80, false, [](R& r) { r.oversampling = kIntProbe; }},
      {"offset 84", 84, false, [](R& r) { r.fit_iterations = kIntProbe; }},
      {"lock code", 88, false, [](R& r) { r.lock_code = kIntProbe; }},
  };
  expect_placements(table);
}

TEST(FennickRecords, ModelRecordOffsets) {
  using R = ModelRecord;
  std::vector<Placement<R>> table = {
      {"row 0 x1", 0, true, [](R& r) { r.profile[0].values[0] = kRealProbe; }},
      {"row 0 x8", 56, true, [](R& r) { r.profile[0].values[7] = kRealProbe; }},
      {"row 0 position", 64, true, [](R& r) { r.profile[0].position = kRealProbe; }},
      {"row 7 x3", 72 * 7 + 16, true, [](R& r) { r.profile[7].values[2] = kRealProbe; }},
      {"row 99 position", 72 * 99 + 64, true, [](R& r) { r.profile[99].position = kRealProbe; }},
      {"m", 7200, false, [](R& r) { r.values_per_row = kIntProbe; }},
      {"first position", 7204, true, [](R& r) { r.first_position = kRealProbe; }},
      {"last position", 7212, true, [](R& r) { r.last_position = kRealProbe; }},
      {"group 0 element 0", 7556, true, [](R& r) { r.groups[0].knots[0] = kRealProbe; }},
      {"group 0 element 2*15", 7556 + 8 * 30, true,
       [](R& r) { r.groups[0].knots[30] = kRealProbe; }},
      {"group 2 element 2*3", 7556 + 596 * 2 + 8 * 6, true,
       [](R& r) { r.groups[2].knots[6] = kRealProbe; }},
      {"group 3 element 0", 7556 + 596 * 3, true, [](R& r) { r.groups[3].knots[0] = kRealProbe; }},
      {"group 0 count", 7812, false, [](R& r) { r.groups[0].count = kIntProbe; }},
      {"group 1 count", 7812 + 596, false, [](R& r) { r.groups[1].count = kIntProbe; }},
      {"group 3 count", 7812 + 596 * 3, false, [](R& r) { r.groups[3].count = kIntProbe; }},
      {"n", 9604, false, [](R& r) { r.row_count = kIntProbe; }},
      {"table rows", 9608, false, [](R& r) { r.table_count = kIntProbe; }},
      {"table angle", 9612, true, [](R& r) { r.table_angle = kRealProbe; }},
      {"table row 0", 9620, true, [](R& r) { r.table[0][0] = kRealProbe; }},
      {"table row 1", 9620 + 512, true, [](R& r) { r.table[1][0] = kRealProbe; }},
      {"table row 99", 9620 + 512 * 99, true, [](R& r) { r.table[99][0] = kRealProbe; }},
      {"special count", 60820, false, [](R& r) { r.special_count = kIntProbe; }},
      {"special Y 0", 60824, true, [](R& r) { r.special_y[0] = kRealProbe; }},
      {"special Y 10", 60824 + 80, true, [](R& r) { r.special_y[10] = kRealProbe; }},
      {"special theta 0", 60912, true, [](R& r) { r.special_theta[0] = kRealProbe; }},
      {"special theta 4", 60912 + 32, true, [](R& r) { r.special_theta[4] = kRealProbe; }},
      {"name 0", 61000, false,
       [](R& r) { std::memcpy(r.special_names[0], &kIntProbe, sizeof kIntProbe); }},
      {"name 10", 61000 + 800, false,
       [](R& r) { std::memcpy(r.special_names[10], &kIntProbe, sizeof kIntProbe); }},
  };
  expect_placements(table);
}

TEST(FennickRecords, ArrayRecordsOffsets) {
  std::vector<Placement<GridPositions>> grid = {
      {"x of cell (1, 1)", 8 * (1 + 641), false,
       [](GridPositions& g) { g.at(1, 1).x = kIntProbe; }},
      {"y of cell (256, 256)", 8 * (256 + 641 * 256) + 4, false,
       [](GridPositions& g) { g.at(256, 256).y = kIntProbe; }},
      {"x of cell (640, 767)", 8 * (640 + 641 * 767), false,
       [](GridPositions& g) { g.at(640, 767).x = kIntProbe; }},
  };
  expect_placements(grid);
  std::vector<Placement<ModelLines>> lines = {
      {"y of point 16800", 8 * 16800 + 4, false,
       [](ModelLines& l) { l.points[16800].y = kIntProbe; }},
  };
  expect_placements(lines);
  std::vector<Placement<FitParams>> params = {
      {"FitParams[70]", 8 * 70, true, [](FitParams& p) { p.v[70] = kRealProbe; }},
  };
  expect_placements(params);
  std::vector<Placement<SamplingCorners>> corners = {
      {"S7", 56, true, [](SamplingCorners& c) { c.s[7] = kRealProbe; }},
  };
  expect_placements(corners);
}

}  // namespace
}  // namespace velmora::fennick

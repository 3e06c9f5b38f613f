// fennick: the records the workstation and the body-model library exchange.
//
// The workstation owns every record and passes it by reference to each call
// (fennick.h); the library fills them in place. The layouts are fixed byte
// for byte, little-endian, because MarkedPoints is stored whole in the fit
// files and the workstation writes the other records at fixed offsets. The
// structs below are those layouts: standard layout, no padding the layout
// does not name, checked by the static_asserts at the end and by
// fennick_records_test.cpp.
//
// Two records put doubles at offsets that are 4 but not 8 modulo 8
// (FitControl, ModelRecord), so they are packed to 4 bytes. Read and write
// their members by value; never take a pointer or reference to a packed
// double (the compiler would warn, and the access could be misaligned).
//
// Units: screen positions are work-picture pixels (x right, y down). Surface
// coordinates are (Y, theta): Y along the body axis in model units, theta
// round it in radians. Counts of fixed-capacity arrays lie beside them.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace velmora::fennick {

// The native layout is the file layout only on a little-endian machine.
static_assert(std::endian::native == std::endian::little,
              "fennick records are little-endian byte for byte");

inline constexpr int kMaxSpecialPoints = 11;
inline constexpr int kMaxListPoints = 100;
inline constexpr int kMaxProfileRows = 100;
inline constexpr int kMaxProfileValues = 8;
inline constexpr int kKnotGroups = 4;
inline constexpr int kMaxKnots = 16;
inline constexpr int kMaxTableRows = 100;
inline constexpr int kTableColumns = 64;
inline constexpr int kNameBytes = 80;
inline constexpr int kFitParamsCount = 71;
inline constexpr int kModelParmsCount = 16;
inline constexpr int kRayRecordCount = 16;
inline constexpr int kGridStride = 641;  // pair (k, j) at k + 641 * j
inline constexpr int kGridRows = 768;
inline constexpr int kMaxModelLinePoints = 16801;
inline constexpr int kScratchBytes = 68;
// Private doubles in front of each knot group of ModelRecord (336 bytes).
inline constexpr int kGroupLibraryDoubles = 42;

// One screen position, work-picture pixels.
struct ScreenPoint {
  int32_t x;
  int32_t y;
};

// A list of points the operator marked: count, then the x and y columns.
struct PointList {
  int32_t count;
  int32_t x[kMaxListPoints];
  int32_t y[kMaxListPoints];
};

// The marks of one photograph (2608 bytes). Stored whole in the fit file.
struct MarkedPoints {
  // Special-point positions as interleaved pairs x0, y0, x1, y1, ...
  int32_t special[2 * kMaxSpecialPoints];
  int32_t placed[kMaxSpecialPoints];  // 1 placed, 0 not
  PointList midline;
  PointList top;     // rebuilt before each Fit; carries the outline's closing points then
  PointList bottom;  // the same
  // The model definition file's weight of each special point, times 1000.
  int32_t weights[kMaxSpecialPoints];
  // Per-mille multipliers set when the window opens (1000, 1000, 1000, the
  // stiffness slider, 1000); this library reads them as the weights of the
  // top edge, the bottom edge, the midline, the shape priors and the special
  // points, 1000 meaning as FitControl asks.
  int32_t trailing[5];
};

#pragma pack(push, 4)

// Controls of every fit (92 bytes).
struct FitControl {
  int32_t unused[3];  // never written by the workstation, never read here
  double scale_special;
  double scale_mid;
  double scale_overspill;
  double scale_mag;
  double scale_edge;
  double scale_stiff;
  double scale_twist;
  double scale_thin;
  int32_t distend_belly;
  int32_t oversampling;
  // Zeroed by Initial Fit; the library writes the iterations its last fit took.
  int32_t fit_iterations;
  int32_t lock_code;
};

// One profile row: values x1..xm, then the row's position along the body.
struct ProfileRow {
  double values[kMaxProfileValues];
  double position;
};

// One knot group (596 bytes): library-private doubles, the knots, the count.
// The last group ends where ModelRecord's row count begins.
struct KnotGroup {
  // Never written by the workstation: the library keeps the group's rest
  // values and, in group 0, the model's pose here (model_state.h).
  double library[kGroupLibraryDoubles];
  // Element 2i: knot i's position along the body; element 2i + 1: its value.
  double knots[2 * kMaxKnots];
  int32_t count;
};

// The body model (61880 bytes), passed to every call. The workstation writes
// the fields read from the model definition file (model_file.h); the library
// keeps its pose and deformations in the rest.
struct ModelRecord {
  ProfileRow profile[kMaxProfileRows];
  int32_t values_per_row;  // m
  double first_position;
  double last_position;
  KnotGroup groups[kKnotGroups];
  int32_t row_count;    // n
  int32_t table_count;  // q
  double table_angle;   // radians
  // Row i: the table's value in column 0; columns 1..63 are the library's.
  double table[kMaxTableRows][kTableColumns];
  int32_t special_count;
  double special_y[kMaxSpecialPoints];
  double special_theta[kMaxSpecialPoints];
  char special_names[kMaxSpecialPoints][kNameBytes];  // one byte a character, zero-filled
};

#pragma pack(pop)

// The starting pose and shape of a fit (71 doubles); see fennick.h for the
// elements this library reads and writes.
struct FitParams {
  double v[kFitParamsCount];
};

// What get_model_parms reports; elements in fennick.h.
struct ModelParms {
  double v[kModelParmsCount];
};

// Four surface corners (Y, theta): P00 = (s0, s1), P01 = (s2, s3),
// P10 = (s4, s5), P11 = (s6, s7).
struct SamplingCorners {
  double s[8];
};

// Screen positions of the sampling grid; cell (column k, row j) at k + 641 j.
struct GridPositions {
  ScreenPoint cells[kGridStride * kGridRows];

  ScreenPoint& at(int k, int j) { return cells[k + kGridStride * j]; }
  const ScreenPoint& at(int k, int j) const { return cells[k + kGridStride * j]; }
};

// What find_ray reports about one surface point; elements in fennick.h.
struct RayRecord {
  double v[kRayRecordCount];
};

// The wireframe: points 2k and 2k + 1 are one segment.
struct ModelLines {
  ScreenPoint points[kMaxModelLinePoints];
};

// Work space of y_theta_to_screen; the caller zeroes it and never reads it.
struct ScreenScratch {
  unsigned char bytes[kScratchBytes];
};

// ---- the layouts, checked where they are declared ----

template <typename T>
inline constexpr bool kPlainRecord = std::is_standard_layout_v<T>&& std::is_trivial_v<T>;

static_assert(kPlainRecord<MarkedPoints> && kPlainRecord<FitControl> && kPlainRecord<ModelRecord> &&
              kPlainRecord<FitParams> && kPlainRecord<ModelParms> &&
              kPlainRecord<SamplingCorners> && kPlainRecord<GridPositions> &&
              kPlainRecord<RayRecord> && kPlainRecord<ModelLines> && kPlainRecord<ScreenScratch>);

static_assert(sizeof(PointList) == 804);
static_assert(sizeof(MarkedPoints) == 2608);
static_assert(offsetof(MarkedPoints, placed) == 88);
static_assert(offsetof(MarkedPoints, midline) == 132);
static_assert(offsetof(MarkedPoints, top) == 936);
static_assert(offsetof(MarkedPoints, bottom) == 1740);
static_assert(offsetof(MarkedPoints, weights) == 2544);
static_assert(offsetof(MarkedPoints, trailing) == 2588);

static_assert(sizeof(FitControl) == 92);
static_assert(offsetof(FitControl, scale_special) == 12);
static_assert(offsetof(FitControl, scale_mid) == 20);
static_assert(offsetof(FitControl, scale_overspill) == 28);
static_assert(offsetof(FitControl, scale_mag) == 36);
static_assert(offsetof(FitControl, scale_edge) == 44);
static_assert(offsetof(FitControl, scale_stiff) == 52);
static_assert(offsetof(FitControl, scale_twist) == 60);
static_assert(offsetof(FitControl, scale_thin) == 68);
static_assert(offsetof(FitControl, distend_belly) == 76);
static_assert(offsetof(FitControl, oversampling) == 80);
static_assert(offsetof(FitControl, fit_iterations) == 84);
static_assert(offsetof(FitControl, lock_code) == 88);

static_assert(sizeof(ProfileRow) == 72);
static_assert(offsetof(ProfileRow, position) == 64);
static_assert(sizeof(KnotGroup) == 596);
static_assert(offsetof(KnotGroup, knots) == 336);
static_assert(offsetof(KnotGroup, count) == 592);
static_assert(sizeof(ModelRecord) == 61880);
static_assert(offsetof(ModelRecord, values_per_row) == 7200);
static_assert(offsetof(ModelRecord, first_position) == 7204);
static_assert(offsetof(ModelRecord, last_position) == 7212);
static_assert(offsetof(ModelRecord, groups) + offsetof(KnotGroup, knots) == 7556);
static_assert(offsetof(ModelRecord, groups) + offsetof(KnotGroup, count) == 7812);
static_assert(offsetof(ModelRecord, row_count) == 9604);
static_assert(offsetof(ModelRecord, table_count) == 9608);
static_assert(offsetof(ModelRecord, table_angle) == 9612);
static_assert(offsetof(ModelRecord, table) == 9620);
static_assert(offsetof(ModelRecord, special_count) == 60820);
static_assert(offsetof(ModelRecord, special_y) == 60824);
static_assert(offsetof(ModelRecord, special_theta) == 60912);
static_assert(offsetof(ModelRecord, special_names) == 61000);

static_assert(sizeof(FitParams) == 71 * 8);
static_assert(sizeof(SamplingCorners) == 64);
static_assert(sizeof(GridPositions) == 641 * 768 * 8);
static_assert(sizeof(ModelLines) == 16801 * 8);
static_assert(sizeof(ScreenScratch) == 68);

}  // namespace velmora::fennick

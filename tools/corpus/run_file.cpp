// Run-file constants for the corpus and their text.
//
// Why these values (shifts in pixels, between two sightings of one animal):
//  - Sub-cell 0's shift is anything the window allows: the search lists only
//    interior peaks (|shift| <= 15), so a level-0 tolerance of 16 passes all.
//  - Sub-cell 1 (beside 0) is predicted to move like 0; sub-cell 2 (below 0)
//    like the mean of 0 and 1; sub-cell 3 (diagonal) like the mean of 0, 1
//    and 2. Means suit shifts that vary independently per quadrant; a
//    parallelogram rule (r3 = r1 + r2 - r0) would add up four quadrants'
//    errors instead of averaging them.
//  - Per-quadrant differences reach about +/-3 (two sightings of +/-1.5 each),
//    rotation and scale add about 1 near the sub-cell centres and integer
//    peak positions another 0.5-1: a tolerance of 6 keeps true constellations
//    and still prunes most of the combinations of unrelated peaks.
//  - Threshold -1: every pair that gets a correlation is written, so the
//    rates see every candidate; pairs without any constellation (-9.99)
//    are left out, and count as not found.
//  - 8 peaks per sub-cell: the true peak of a same-animal pair is nearly
//    always among the highest few; 8^4 combinations stay cheap after pruning.
//  - Margin 8: the final correlation covers rows and columns 9-56 (48 x 48),
//    more pixels to tell animals apart, while the warped positions of
//    sightings shifted by up to 15 stay mostly inside the image.
#include "tools/corpus/run_file.h"

#include "workstation/common/number_text.h"

namespace velmora::corpus {
namespace {

// Shortest texts that read back as the same value, with a point in any
// locale: the comparison program reads them as the float or double they were.
std::string num(float v) {
  return single_to_text(v);
}

std::string num(double v) {
  return real_to_text(v);
}

std::string num(int v) {
  return std::to_string(v);
}

std::string four(const std::array<float, 4>& v) {
  return num(v[0]) + " " + num(v[1]) + " " + num(v[2]) + " " + num(v[3]) + "\n";
}

}  // namespace

RunConstants corpus_run_constants() {
  RunConstants k;
  const float third = 1.0f / 3.0f;
  k.row_model = {{{0, 1, 0, 0}, {0, 0.5f, 0.5f, 0}, {0, third, third, third}}};
  k.column_model = k.row_model;
  k.row_tolerance = {16, 6, 6, 6};
  k.column_tolerance = {16, 6, 6, 6};
  k.threshold = -1.0;
  k.peaks = 8;
  k.margin = 8;
  return k;
}

std::string format_run_file(const RunConstants& k) {
  std::string s;
  s += "; Run file of the synthetic corpus: 64 x 64 fingerprints, four 16 x 16 sub-cells.\n";
  s += "; Shift model: predicted shift = constant + factors x earlier sub-cells' shifts.\n";
  const char* level_names[3] = {"; row model, sub-cell 1: a0 a1 (two unused)\n",
                                "; row model, sub-cell 2: b0 b1 b2 (one unused)\n",
                                "; row model, sub-cell 3: c0 c1 c2 c3\n"};
  for (int l = 0; l < 3; ++l) s += level_names[l] + four(k.row_model[static_cast<size_t>(l)]);
  s += "; column model, sub-cells 1, 2, 3: the same on column shifts\n";
  for (int l = 0; l < 3; ++l) s += four(k.column_model[static_cast<size_t>(l)]);
  s += "; row tolerances, levels 0-3 (a deviation must be smaller)\n" + four(k.row_tolerance);
  s += "; column tolerances, levels 0-3\n" + four(k.column_tolerance);
  s += "; score threshold: pairs scoring above it are written\n" + num(k.threshold) + "\n";
  s += "; peaks per sub-cell\n" + num(k.peaks) + "\n";
  s += "; margin of the final correlation, pixels\n" + num(k.margin) + "\n";
  return s;
}

}  // namespace velmora::corpus

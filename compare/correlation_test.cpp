#include "compare/correlation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "compare/testing/fingerprint_writer.h"
#include "compare/testing/patterns.h"
#include "compare/testing/reference_fourier.h"

namespace tarvik {
namespace {

using testing::FingerprintGeometry;

Fingerprint load(const std::vector<std::uint8_t>& image, SubCellLayout* layout = nullptr,
                 FingerprintGeometry g = {}) {
  const std::string bytes = testing::make_fingerprint(image, g).bytes();
  MemorySource in(bytes);
  Fingerprint fp;
  EXPECT_EQ(read_fingerprint(in, fp, kLoadImage | kLoadNormTable, layout), kReadOk);
  return fp;
}

// Sub-cell k of a loaded fingerprint, as the pass builds it.
Fingerprint subcell(const Fingerprint& fp, const SubCellLayout& layout, int k) {
  Fingerprint rec = fp;
  rec.row_origin = layout.row_origin[k];
  rec.col_origin = layout.col_origin[k];
  rec.sub_mean = layout.sub_mean[k];
  rec.sub_scale = layout.sub_scale[k];
  return rec;
}

bool same_bits(const float* a, const float* b, std::size_t n) {
  return std::memcmp(a, b, n * sizeof(float)) == 0;
}

std::vector<std::uint8_t> big_pattern() {
  return testing::blob_pattern(96, 96, 2024, 90);
}

TEST(Spectra, WholeExtractMasksEveryPixelWithBit6) {
  std::vector<std::uint8_t> image = testing::blob_pattern(64, 64, 1);
  const std::uint8_t specials[] = {64, 65, 100, 127, 128, 191, 192, 255, 63, 0};
  for (int i = 0; i < 10; ++i) image[i * 7] = specials[i];
  Fingerprint fp = load(image);
  FourierPlan plan(64, 64);
  ASSERT_TRUE(make_cell_spectrum(fp, plan));
  std::vector<float> want(2 * 64 * 64, 0.0f);
  for (int i = 0; i < 64 * 64; ++i) {
    if (!(image[i] & 0x40)) want[2 * i] = static_cast<float>(image[i]) - fp.cell_mean;
  }
  testing::reference_fourier_2d(want.data(), 64, 64, +1);
  want = testing::to_planes(want.data(), 64, 64);
  ASSERT_EQ(fp.cell_spectrum.size(), want.size());
  EXPECT_EQ(fp.cell_spectrum.lo(), 1);
  EXPECT_TRUE(same_bits(fp.cell_spectrum.data(), want.data(), want.size()));
}

TEST(Spectra, SubCellKeepsItsPositionInTheFullArray) {
  std::vector<std::uint8_t> image = testing::blob_pattern(64, 64, 2);
  image[(40 - 1) * 64 + (20 - 1)] = 64;  // inside sub-cell 2 (rows 33-48, columns 17-32)
  SubCellLayout layout;
  Fingerprint fp = load(image, &layout);
  FourierPlan plan(64, 64);
  for (int k = 0; k < 4; ++k) {
    Fingerprint rec = subcell(fp, layout, k);
    ASSERT_TRUE(make_subcell_spectrum(rec, plan));
    EXPECT_TRUE(rec.image.shares_with(fp.image));
    std::vector<float> want(2 * 64 * 64, 0.0f);
    for (int r = rec.row_origin; r < rec.row_origin + 16; ++r) {
      for (int c = rec.col_origin; c < rec.col_origin + 16; ++c) {
        const std::uint8_t v = image[(r - 1) * 64 + (c - 1)];
        if (!(v & 0x40)) {
          want[2 * ((r - 1) * 64 + (c - 1))] =
              (static_cast<float>(v) - rec.sub_mean) * rec.sub_scale;
        }
      }
    }
    testing::reference_fourier_2d(want.data(), 64, 64, +1);
    want = testing::to_planes(want.data(), 64, 64);
    EXPECT_TRUE(same_bits(rec.subcell_spectrum.data(), want.data(), want.size())) << k;
  }
}

class Surfaces : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto big = big_pattern();
    first_ = load(testing::crop(big, 96, 16, 16, 64, 64), &layout_);
    // The second extract sees the pattern 3 rows lower and 2 columns further right.
    second_ = load(testing::crop(big, 96, 13, 14, 64, 64));
    ASSERT_TRUE(make_cell_spectrum(second_, plan_));
    for (auto& s : surface_) ASSERT_TRUE(s.allocate(-16, 16, -16, 16, "surface"));
  }
  Fingerprint first_, second_;
  SubCellLayout layout_;
  FourierPlan plan_{64, 64};
  Matrix<float> surface_[4];
};

TEST_F(Surfaces, EqualTheWeightedDirectSumOverShifts) {
  for (int k = 0; k < 4; ++k) {
    Fingerprint rec = subcell(first_, layout_, k);
    ASSERT_TRUE(make_subcell_spectrum(rec, plan_));
    fill_surface(rec, second_, plan_, surface_[k]);
    float largest = 0;
    for (int i = -16; i <= 16; ++i) {
      for (int j = -16; j <= 16; ++j) largest = std::max(largest, std::fabs(surface_[k](i, j)));
    }
    for (int i = -16; i <= 16; i += 4) {
      for (int j = -16; j <= 16; j += 4) {
        double sum = 0;
        for (int r = rec.row_origin; r < rec.row_origin + 16; ++r) {
          for (int c = rec.col_origin; c < rec.col_origin + 16; ++c) {
            const std::uint8_t a = first_.image(r, c);
            const int r2 = (r - 1 + i + 64) % 64 + 1, c2 = (c - 1 + j + 64) % 64 + 1;
            const std::uint8_t b = second_.image(r2, c2);
            if ((a & 0x40) || (b & 0x40)) continue;
            sum += ((a - double(rec.sub_mean)) * rec.sub_scale) * (b - double(second_.cell_mean));
          }
        }
        const double w = second_.norm_table(rec.row_origin + i, rec.col_origin + j);
        // The transform path sums 4096 float terms in a different order; its
        // error is a few 1e-6 of the surface's largest value.
        EXPECT_NEAR(surface_[k](i, j), w > 0 ? w * sum : 0.0, 1e-4 * largest) << i << "," << j;
      }
    }
  }
}

TEST_F(Surfaces, EqualThePlainPathBitForBit) {
  Fingerprint rec = subcell(first_, layout_, 1);
  ASSERT_TRUE(make_subcell_spectrum(rec, plan_));
  fill_surface(rec, second_, plan_, surface_[1]);
  std::vector<float> q(2 * 64 * 64);
  const std::vector<float> s_rows = testing::from_planes(rec.subcell_spectrum.data(), 64, 64);
  const std::vector<float> t_rows = testing::from_planes(second_.cell_spectrum.data(), 64, 64);
  const float* s = s_rows.data();
  const float* t = t_rows.data();
  for (std::size_t n = 0; n < q.size(); n += 2) {
    q[n] = s[n] * t[n] + s[n + 1] * t[n + 1];
    q[n + 1] = s[n + 1] * t[n] - s[n] * t[n + 1];
  }
  testing::reference_fourier_2d(q.data(), 64, 64, -1);
  for (int i = -16; i <= 16; ++i) {
    for (int j = -16; j <= 16; ++j) {
      const float w = second_.norm_table(rec.row_origin + i, rec.col_origin + j);
      const float re = q[2 * (((64 - i) % 64) * 64 + (64 - j) % 64)];
      const float want = w > 0 ? w * re : 0.0f;
      ASSERT_EQ(std::memcmp(&surface_[1](i, j), &want, 4), 0) << i << "," << j;
    }
  }
}

TEST_F(Surfaces, EveryPathWeighsAlike) {
  // Weights of every kind: positive, zero, negative, NaN; the correlation
  // has both signs, so a zero weight against a negative value is met too.
  Matrix<float>& table = second_.norm_table;
  int n = 0;
  for (long r = table.row_lo(); r <= table.row_hi(); ++r) {
    for (long c = table.col_lo(); c <= table.col_hi(); ++c, ++n) {
      if (n % 7 == 0) table(r, c) = n % 3 == 0 ? 0.0f : n % 3 == 1 ? -0.25f : std::nanf("");
    }
  }
  Fingerprint rec = subcell(first_, layout_, 2);
  ASSERT_TRUE(make_subcell_spectrum(rec, plan_));
  FourierPlan baseline(64, 64, VectorPath::kBaseline);
  fill_surface(rec, second_, baseline, surface_[0]);
  fill_surface(rec, second_, plan_, surface_[1]);
  EXPECT_TRUE(same_bits(surface_[0].data(), surface_[1].data(), 33 * 33));
}

TEST_F(Surfaces, HighestPeakLiesAtTheTrueShift) {
  for (int k = 0; k < 4; ++k) {
    Fingerprint rec = subcell(first_, layout_, k);
    ASSERT_TRUE(make_subcell_spectrum(rec, plan_));
    fill_surface(rec, second_, plan_, surface_[k]);
    PeakList peaks;
    list_peaks(surface_[k], peaks);
    ASSERT_GT(peaks.count, 0);
    EXPECT_EQ(peaks.entries[0].row_shift, 3) << k;
    EXPECT_EQ(peaks.entries[0].col_shift, 2) << k;
    // Near-Pearson correlation of an exact copy: close to 1 (the whole
    // extract's mean stands in for the window's); 1e-3 above 1 covers float
    // rounding.
    EXPECT_GT(peaks.entries[0].value, 0.9f);
    EXPECT_LT(peaks.entries[0].value, 1.001f);
  }
}

TEST_F(Surfaces, NonPositiveTableEntriesGiveZero) {
  float* table = second_.norm_table.data();
  const long n = second_.norm_table.rows() * second_.norm_table.cols();
  for (long i = 0; i < n; i += 2) table[i] = (i % 4 == 0) ? 0.0f : -1.0f;
  Fingerprint rec = subcell(first_, layout_, 0);
  ASSERT_TRUE(make_subcell_spectrum(rec, plan_));
  fill_surface(rec, second_, plan_, surface_[0]);
  int zeros = 0;
  for (int i = -16; i <= 16; ++i) {
    for (int j = -16; j <= 16; ++j) {
      if (second_.norm_table(rec.row_origin + i, rec.col_origin + j) <= 0) {
        EXPECT_EQ(surface_[0](i, j), 0.0f);
        ++zeros;
      }
    }
  }
  EXPECT_GT(zeros, 400);
}

TEST_F(Surfaces, WindowsBeyondTheTableCountAsZero) {
  // A record whose origin lets the shifts run past the table (as a second
  // fingerprint with another sub-cell grid would): no read outside, value 0.
  Fingerprint rec = subcell(first_, layout_, 3);
  rec.row_origin = 40;
  rec.col_origin = 2;
  ASSERT_TRUE(make_subcell_spectrum(rec, plan_));
  fill_surface(rec, second_, plan_, surface_[3]);
  EXPECT_EQ(surface_[3](10, 0), 0.0f);  // table row 50 does not exist
  EXPECT_EQ(surface_[3](0, -2), 0.0f);  // table column 0 does not exist
  EXPECT_NE(surface_[3](0, 0), 0.0f);
}

Matrix<float> flat_surface(int reach) {
  Matrix<float> s;
  EXPECT_TRUE(s.allocate(-reach, reach, -reach, reach, "test"));
  return s;
}

TEST(ListPeaks, StrictLocalMaximaOfTheInteriorSortedHighestFirst) {
  Matrix<float> s = flat_surface(5);
  s(-3, 2) = 0.5f;
  s(1, -1) = 0.9f;
  s(4, 4) = 0.7f;
  s(-5, 0) = 2.0f;  // border row: never a peak
  s(0, 5) = 2.0f;   // border column
  s(2, 3) = 0.4f;   // plateau of two equal values: neither is a peak
  s(2, 4) = 0.4f;
  PeakList peaks;
  list_peaks(s, peaks);
  ASSERT_EQ(peaks.count, 3);
  EXPECT_EQ(peaks.entries[0].value, 0.9f);
  EXPECT_EQ(peaks.entries[0].row_shift, 1);
  EXPECT_EQ(peaks.entries[0].col_shift, -1);
  EXPECT_EQ(peaks.entries[1].value, 0.7f);
  EXPECT_EQ(peaks.entries[2].value, 0.5f);
  EXPECT_EQ(peaks.entries[2].row_shift, -3);
  EXPECT_EQ(peaks.entries[2].col_shift, 2);
}

TEST(ListPeaks, EqualValuesKeepScanOrder) {
  Matrix<float> s = flat_surface(6);
  s(2, -3) = 0.5f;
  s(-2, 3) = 0.5f;
  s(-2, -3) = 0.5f;
  PeakList peaks;
  list_peaks(s, peaks);
  ASSERT_EQ(peaks.count, 3);
  EXPECT_EQ(peaks.entries[0].row_shift, -2);
  EXPECT_EQ(peaks.entries[0].col_shift, -3);
  EXPECT_EQ(peaks.entries[1].row_shift, -2);
  EXPECT_EQ(peaks.entries[1].col_shift, 3);
  EXPECT_EQ(peaks.entries[2].row_shift, 2);
}

TEST(ListPeaks, ListCutAt128IsTheFirst128InScanOrderAndSorted) {
  Matrix<float> s = flat_surface(30);
  float v = 1.0f;
  for (int i = -28; i <= 28; i += 2) {
    for (int j = -28; j <= 28; j += 2) s(i, j) = (v += 0.01f);
  }
  PeakList peaks;
  list_peaks(s, peaks);
  ASSERT_EQ(peaks.count, kMaxPeaks);
  for (int n = 1; n < peaks.count; ++n) {
    EXPECT_GT(peaks.entries[n - 1].value, peaks.entries[n].value) << n;
  }
  // Values rise in scan order, so the highest kept one is the 128th met:
  // 29 peaks per row, so row -28 + 2 * 4 and its 12th column.
  EXPECT_EQ(peaks.entries[0].row_shift, -20);
  EXPECT_EQ(peaks.entries[0].col_shift, -28 + 2 * 11);
  EXPECT_EQ(peaks.entries[127].row_shift, -28);
  EXPECT_EQ(peaks.entries[127].col_shift, -28);
}

// The peaks as the plain rule finds them: every interior position above its
// eight neighbours in scan order, the first 128, a stable sort on value.
std::vector<Peak> plain_peaks(const Matrix<float>& s) {
  std::vector<Peak> found;
  const long rr = s.row_hi(), rc = s.col_hi();
  for (long i = -rr + 1; i < rr; ++i) {
    for (long j = -rc + 1; j < rc; ++j) {
      bool peak = true;
      for (int di = -1; di <= 1; ++di) {
        for (int dj = -1; dj <= 1; ++dj) {
          if ((di != 0 || dj != 0) && !(s(i, j) > s(i + di, j + dj))) peak = false;
        }
      }
      if (peak && found.size() < kMaxPeaks) {
        found.push_back({s(i, j), static_cast<int>(j), static_cast<int>(i)});
      }
    }
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const Peak& x, const Peak& y) { return x.value > y.value; });
  return found;
}

TEST(ListPeaks, EveryPathAndEveryCutAgreeWithThePlainRule) {
  std::mt19937 rng(77);
  // Widths below one vector, across the 32-position words, and large ones
  // whose lists fill up; coarse values make ties and plateaus; a few
  // infinities and NaNs.
  for (int reach : {1, 3, 4, 5, 12, 16, 17, 20, 40}) {
    Matrix<float> s = flat_surface(reach);
    for (long i = -reach; i <= reach; ++i) {
      for (long j = -reach; j <= reach; ++j) {
        const unsigned r = rng() % 200;
        s(i, j) = r == 0 ? INFINITY : r == 1 ? std::nanf("") : static_cast<float>(r % 9) / 8;
      }
    }
    const std::vector<Peak> want = plain_peaks(s);
    for (VectorPath path : {VectorPath::kBaseline, VectorPath::kAvx2}) {
      for (int cut : {kMaxPeaks, 5, 1, 0}) {
        PeakList peaks;
        list_peaks(s, peaks, cut, path);
        ASSERT_EQ(peaks.count, static_cast<int>(want.size())) << reach;
        for (int n = 0; n < std::min(cut, peaks.count); ++n) {
          EXPECT_EQ(peaks.entries[n].value, want[n].value) << reach << " " << n;
          EXPECT_EQ(peaks.entries[n].row_shift, want[n].row_shift) << reach << " " << n;
          EXPECT_EQ(peaks.entries[n].col_shift, want[n].col_shift) << reach << " " << n;
        }
      }
    }
  }
}

TEST(ListPeaks, SurfaceWithoutInteriorHasNoPeaks) {
  Matrix<float> s = flat_surface(0);
  s(0, 0) = 5;
  PeakList peaks;
  peaks.count = 9;
  list_peaks(s, peaks);
  EXPECT_EQ(peaks.count, 0);
}

// Rigid model: every sub-cell predicted to move like sub-cell 0.
ShiftModel rigid() {
  ShiftModel m;
  m.a[1] = 1;
  m.b[1] = 0.5f;
  m.b[2] = 0.5f;
  m.c[1] = m.c[2] = m.c[3] = 1.0f / 3;
  return m;
}

struct SearchCase {
  PeakList lists[4];
  ShiftModel rows = rigid(), cols = rigid();
  float row_tol[4] = {10, 2, 2, 2};
  float col_tol[4] = {10, 2, 2, 2};
  void add(int k, float value, int row_shift, int col_shift) {
    lists[k].entries[lists[k].count++] = Peak{value, col_shift, row_shift};
  }
  SearchResult run(int p = 10) const {
    return search_constellations(lists, rows, cols, row_tol, col_tol, p);
  }
};

TEST(Constellations, OneConsistentConstellationFillsBothSlotsOnce) {
  SearchCase t;
  for (int k = 0; k < 4; ++k) t.add(k, 0.5f + 0.1f * k, 3, -2);
  const SearchResult r = t.run();
  EXPECT_EQ(r.count, 1);
  EXPECT_TRUE(r.a_filled);
  EXPECT_FLOAT_EQ(r.a.mean, 0.25f * (0.8f + 0.5f + 0.6f + 0.7f));
  EXPECT_FLOAT_EQ(r.a.dev, 5.0f) << "|r0| + |c0| at level 0, nothing at the others";
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(r.a.row_shift[k], 3);
    EXPECT_EQ(r.a.col_shift[k], -2);
    EXPECT_EQ(r.a.peak[k], 0.5f + 0.1f * k);
  }
  EXPECT_EQ(r.b.mean, r.a.mean);
}

TEST(Constellations, MeanAndDeviationAreSummedInTheirFixedOrder) {
  // 32-bit sums: the order decides whether a small term survives next to a
  // large one (the spacing of floats is 8 at 1e8 and 4 at 2^25).
  SearchCase t;
  t.rows = ShiftModel();
  t.rows.c[0] = 33554432.0f;  // 2^25: the level-3 row deviation of shift 0
  t.row_tol[3] = 1e9f;
  t.add(0, -1e8f, 1, 0);
  t.add(1, 1.0f, 1, 0);
  t.add(2, 1.0f, 1, 0);
  t.add(3, 1e8f, 0, 0);
  const SearchResult r = t.run();
  ASSERT_EQ(r.count, 1);
  // (pk3 + pk0) + pk1 + pk2 = 2; any sum that starts from pk0 loses the ones.
  EXPECT_EQ(r.a.mean, 0.5f);
  // (dr3 + dc3) first: each later 1 is rounded away; the ones summed first
  // would give 2^25 + 4.
  EXPECT_EQ(r.a.dev, 33554432.0f);
}

TEST(Constellations, NothingWithinToleranceGivesNoCandidate) {
  SearchCase t;
  t.add(0, 1, 0, 0);
  t.add(1, 1, 2, 0);  // |0 + 1*0 - 2| = 2, not below tolerance 2
  t.add(2, 1, 0, 0);
  t.add(3, 1, 0, 0);
  EXPECT_EQ(t.run().count, 0);
  t.row_tol[1] = 2.01f;
  EXPECT_EQ(t.run().count, 1);
}

TEST(Constellations, LevelZeroBoundsTheFirstShiftItself) {
  SearchCase t;
  for (int k = 0; k < 4; ++k) t.add(k, 1, 0, 10);
  EXPECT_EQ(t.run().count, 0);
  t.col_tol[0] = 10.5f;
  EXPECT_EQ(t.run().count, 1);
}

TEST(Constellations, HighestMeanAndSmallestDeviationAreKeptApart) {
  SearchCase t;
  t.add(0, 0.9f, 1, 1);
  t.add(0, 0.5f, 0, 0);
  for (int k = 1; k < 4; ++k) {
    t.add(k, 0.9f, 1, 1);
    t.add(k, 0.5f, 0, 0);
  }
  const SearchResult r = t.run();
  EXPECT_EQ(r.count, 2);
  EXPECT_FLOAT_EQ(r.a.mean, 0.9f);
  EXPECT_EQ(r.a.row_shift[0], 1);
  EXPECT_EQ(r.b.dev, 0.0f);
  EXPECT_EQ(r.b.row_shift[0], 0);
  EXPECT_FLOAT_EQ(r.b.mean, 0.5f);
}

TEST(Constellations, EqualMeansKeepTheFirstMet) {
  SearchCase t;
  t.add(0, 0.7f, 1, 0);
  t.add(0, 0.7f, 2, 0);
  for (int k = 1; k < 4; ++k) {
    t.add(k, 0.7f, 1, 0);
    t.add(k, 0.7f, 2, 0);
  }
  t.row_tol[1] = t.row_tol[2] = t.row_tol[3] = 1.5f;
  const SearchResult r = t.run();
  EXPECT_EQ(r.a.row_shift[0], 1);
  EXPECT_EQ(r.a.row_shift[3], 1);
  EXPECT_EQ(r.count, 1);
}

TEST(Constellations, OnlyTheFirstPPeaksOfEachListTakePart) {
  SearchCase t;
  for (int k = 0; k < 4; ++k) {
    t.add(k, 0.9f, 8, 8);
    t.add(k, 0.8f, -8, 8);
    t.add(k, 0.7f, 0, 0);
  }
  t.row_tol[0] = t.col_tol[0] = 5;  // only (0, 0) passes level 0
  EXPECT_EQ(t.run(2).count, 0);
  EXPECT_EQ(t.run(3).count, 1);
  EXPECT_EQ(t.run(0).count, 0);
  EXPECT_EQ(t.run(-4).count, 0);
}

TEST(Constellations, ModelCoefficientsPredictTheLaterShifts) {
  SearchCase t;
  t.rows = ShiftModel{};
  t.rows.a[0] = 1;
  t.rows.a[1] = 2;  // r1 = 1 + 2 r0
  t.rows.b[0] = -1;
  t.rows.b[2] = 1;   // r2 = -1 + r1
  t.rows.c[3] = -1;  // r3 = -r2
  t.add(0, 1, 2, 0);
  t.add(1, 1, 5, 0);
  t.add(2, 1, 4, 0);
  t.add(3, 1, -4, 0);
  const float tight[4] = {10, 0.5f, 0.5f, 0.5f};
  std::memcpy(t.row_tol, tight, sizeof tight);
  EXPECT_EQ(t.run().count, 1);
  t.lists[3].entries[0].row_shift = 4;
  EXPECT_EQ(t.run().count, 0);
}

TEST(Constellations, VeryLowPeaksLeaveSlotAEmpty) {
  SearchCase t;
  for (int k = 0; k < 4; ++k) t.add(k, -20.0f, 0, 0);
  const SearchResult r = t.run();
  EXPECT_FALSE(r.a_filled);
  EXPECT_EQ(r.count, 2);
  EXPECT_EQ(r.b.mean, -20.0f);
}

TEST(LinearSolve, SolvesAWellConditionedSystem) {
  double a[4][4] = {{4, 1, 2, 0.5}, {1, 5, 1, 2}, {2, 1, 6, 1}, {0.5, 2, 1, 7}};
  const double x[4] = {1, -2, 3, 0.25};
  double b[4];
  for (int i = 0; i < 4; ++i) {
    b[i] = 0;
    for (int j = 0; j < 4; ++j) b[i] += a[i][j] * x[j];
  }
  int perm[4];
  ASSERT_TRUE(lu_decompose4(a, perm));
  lu_solve4(a, perm, b);
  // Condition number about 5: a few ulps of error.
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(b[i], x[i], 1e-12);
}

TEST(LinearSolve, PivotsOnTheLargestScaledEntry) {
  // Column 0: row 0 holds 1 but its row reaches 1e10 (merit 1e-10); row 1
  // holds 0.5 in a row whose largest entry is 0.5 (merit 1). Plain partial
  // pivoting would take row 0.
  double a[4][4] = {{1, 1e10, 0, 0}, {0.5, 0.1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  int perm[4];
  ASSERT_TRUE(lu_decompose4(a, perm));
  EXPECT_EQ(perm[0], 1);
  double b[4] = {1e10 + 1, 0.6, 3, 4};  // x = (1, 1, 3, 4)
  lu_solve4(a, perm, b);
  // Entries span 1e10: relative error near 1e-16 * 1e10 in the worst case.
  EXPECT_NEAR(b[0], 1, 1e-5);
  EXPECT_NEAR(b[1], 1, 1e-9);
  EXPECT_EQ(b[2], 3);
  EXPECT_EQ(b[3], 4);
}

TEST(LinearSolve, ZeroLeadingEntryIsPivotedAway) {
  double a[4][4] = {{0, 1, 0, 0}, {1, 0, 0, 0}, {0, 0, 0, 1}, {0, 0, 1, 0}};
  int perm[4];
  ASSERT_TRUE(lu_decompose4(a, perm));
  double b[4] = {1, 2, 3, 4};
  lu_solve4(a, perm, b);
  EXPECT_EQ(b[0], 2);
  EXPECT_EQ(b[1], 1);
  EXPECT_EQ(b[2], 4);
  EXPECT_EQ(b[3], 3);
}

TEST(LinearSolve, SingularSystemsAreRecognised) {
  double dup[4][4] = {{1, 2, 3, 4}, {2, 4, 6, 8}, {0, 1, 0, 0}, {0, 0, 1, 0}};
  double zero_row[4][4] = {{1, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  double tiny_row[4][4] = {{1, 0, 0, 0}, {0, 1e-31, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  double last[4][4] = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}, {1, 1, 1, 3}};
  int perm[4];
  EXPECT_FALSE(lu_decompose4(dup, perm));
  EXPECT_FALSE(lu_decompose4(zero_row, perm));
  EXPECT_FALSE(lu_decompose4(tiny_row, perm));
  EXPECT_FALSE(lu_decompose4(last, perm));
}

class Warp : public ::testing::Test {
 protected:
  std::vector<std::uint8_t> big_ = big_pattern();
  std::vector<std::uint8_t> x_ = testing::crop(big_, 96, 16, 16, 64, 64);
  std::vector<std::uint8_t> y_ = testing::crop(big_, 96, 13, 18, 64, 64);  // 3 down, 2 left
  int zero_[4] = {0, 0, 0, 0};
  double run(const std::vector<std::uint8_t>& x, const std::vector<std::uint8_t>& y,
             const int rs[4], const int cs[4], int margin = 4, double percentage = -8,
             bool* singular = nullptr) {
    bool s = false;
    const double v = warp_correlation(x.data(), y.data(), 64, 64, rs, cs, percentage, margin, &s);
    if (singular != nullptr) *singular = s;
    return v;
  }
};

TEST_F(Warp, EveryPathGivesTheSameBits) {
  // Shifts from none to wild (samples leave the image), fractional maps,
  // masked pixels on both sides, margins that cut the region at odd
  // columns, and sizes whose rows end in a partial group of four.
  std::mt19937 rng(5);
  for (int size : {64, 32, 24}) {
    std::vector<std::uint8_t> x = testing::crop(big_, 96, 16, 16, size, size);
    std::vector<std::uint8_t> y = testing::crop(big_, 96, 13, 18, size, size);
    testing::mask_pixels(x, 3, size * size / 10);
    testing::mask_pixels(y, 4, size * size / 10);
    for (int trial = 0; trial < 40; ++trial) {
      const int spread = trial < 30 ? 6 : 200;
      int rs[4], cs[4];
      for (int k = 0; k < 4; ++k) {
        rs[k] = static_cast<int>(rng() % (2 * spread + 1)) - spread;
        cs[k] = static_cast<int>(rng() % (2 * spread + 1)) - spread;
      }
      const int margin = static_cast<int>(rng() % 23) - 5;
      const double percentage = trial % 3 == 0 ? -8.0 : 5.0 - static_cast<int>(rng() % 20);
      double got[2];
      for (VectorPath path : {VectorPath::kBaseline, VectorPath::kAvx2}) {
        bool singular = false;
        got[path == VectorPath::kAvx2] = warp_correlation(x.data(), y.data(), size, size, rs, cs,
                                                          percentage, margin, &singular, path);
      }
      EXPECT_EQ(std::memcmp(&got[0], &got[1], sizeof(double)), 0)
          << size << " trial " << trial << ": " << got[0] << " against " << got[1];
    }
  }
}

TEST_F(Warp, SameImageWithoutShiftCorrelatesFully) {
  // The fitted identity map differs from the exact one by rounding (1e-15),
  // which moves interpolated values by far less than 1e-9.
  EXPECT_NEAR(run(x_, x_, zero_, zero_), 1.0, 1e-9);
}

TEST_F(Warp, TheTrueShiftBeatsNoShift) {
  const int rs[4] = {3, 3, 3, 3}, cs[4] = {-2, -2, -2, -2};
  const double right = run(x_, y_, rs, cs);
  const double none = run(x_, y_, zero_, zero_);
  EXPECT_NEAR(right, 1.0, 1e-9);  // integer shift: the same pixels, up to rounding
  EXPECT_LT(none, 0.8);
}

TEST_F(Warp, NoUsablePixelGivesNoNumber) {
  std::vector<std::uint8_t> masked(64 * 64, 64);
  EXPECT_TRUE(std::isnan(run(masked, y_, zero_, zero_)));
  EXPECT_TRUE(std::isnan(run(x_, masked, zero_, zero_)));
  const int far[4] = {1000000, 1000000, 1000000, 1000000};
  EXPECT_TRUE(std::isnan(run(x_, y_, far, zero_)));
}

TEST_F(Warp, ConstantSideGivesNoNumber) {
  std::vector<std::uint8_t> flat(64 * 64, 20);
  EXPECT_TRUE(std::isnan(run(flat, y_, zero_, zero_)));
  const int rs[4] = {1, -2, 3, 0}, cs[4] = {2, 0, -1, 1};  // fractional sampling of Y
  EXPECT_TRUE(std::isnan(run(x_, flat, rs, cs)));
}

TEST_F(Warp, MarginBeyondAQuarterIsCut) {
  const int rs[4] = {1, 0, 2, 1}, cs[4] = {0, -1, 1, 2};
  const double at_quarter = run(x_, y_, rs, cs, 16);
  EXPECT_EQ(run(x_, y_, rs, cs, 1000), at_quarter);
  EXPECT_NE(run(x_, y_, rs, cs, 3), at_quarter);
}

TEST_F(Warp, NegativeMarginShrinksTheRegion) {
  const double narrow = run(x_, x_, zero_, zero_, -10);
  EXPECT_NEAR(narrow, 1.0, 1e-9);
  EXPECT_TRUE(std::isnan(run(x_, x_, zero_, zero_, -20))) << "region empty";
}

TEST_F(Warp, MostNegativeMarginGivesAnEmptyRegion) {
  EXPECT_TRUE(std::isnan(run(x_, x_, zero_, zero_, -65)));
  EXPECT_TRUE(std::isnan(run(x_, x_, zero_, zero_, INT_MIN)));
}

TEST_F(Warp, OnlyExactly64IsMaskedInTheFinalCorrelation) {
  const int rs[4] = {3, 3, 3, 3}, cs[4] = {-2, -2, -2, -2};
  // Other values with bit 6 set are grey values here: they take part and,
  // differing from the pattern, pull the correlation well below 1.
  std::vector<std::uint8_t> x = x_;
  std::vector<std::uint8_t> y = y_;
  for (int r = 20; r < 40; ++r) {
    for (int c = 0; c < 64; c += 2) {
      x[r * 64 + c] = 100;
      y[r * 64 + c] = 65;
    }
  }
  EXPECT_LT(run(x, y_, rs, cs), 0.9);
  EXPECT_LT(run(x_, y, rs, cs), 0.9);
}

TEST_F(Warp, CoincidingControlPointsAreSingular) {
  // er = p * 64 * 0.01 = -15.5 puts the top and bottom control rows both at 32.5.
  bool singular = false;
  EXPECT_TRUE(std::isnan(run(x_, y_, zero_, zero_, 4, -24.21875, &singular)));
  EXPECT_TRUE(singular);
  run(x_, y_, zero_, zero_, 4, -8, &singular);
  EXPECT_FALSE(singular);
}

TEST_F(Warp, MaskedFirstPixelsAreLeftOut) {
  std::vector<std::uint8_t> x = x_;
  for (int r = 20; r < 40; ++r) {
    for (int c = 0; c < 64; c += 2) x[r * 64 + c] = 64;
  }
  const int rs[4] = {3, 3, 3, 3}, cs[4] = {-2, -2, -2, -2};
  // Masked pixels would correlate as 64s against pattern values if counted.
  EXPECT_NEAR(run(x, y_, rs, cs), 1.0, 1e-9);
}

}  // namespace
}  // namespace tarvik

// Loading, band filter and detrending, each checked against a plain
// reference: the rotation against its index formula, the filter against
// images built from sinusoids whose pass band is known, the detrending against
// the pattern a smooth trend was multiplied into.
#include "workstation/extract/detrend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "workstation/extract/shared_extract.h"
#include "workstation/extract/work_images.h"

namespace velmora::extract {
namespace {

constexpr int kN = 256;

SharedExtract random_extract(unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> grey(3.0, 251.0);
  std::uniform_int_distribution<int> colour(-2000, 2000);
  std::bernoulli_distribution blank(0.2);
  SharedExtract e;
  for (double& v : e.intensity) v = grey(rng);
  for (std::int16_t& v : e.rgb) v = static_cast<std::int16_t>(colour(rng));
  for (std::int16_t& v : e.blank) v = blank(rng) ? kBlankPixel : kUsablePixel;
  return e;
}

bool all_finite(const std::vector<double>& image) {
  return std::all_of(image.begin(), image.end(), [](double v) { return std::isfinite(v); });
}

// cos(2 pi (k1 (i-1) + k2 (j-1)) / 256): one spatial frequency, (k1, k2)
// counted from 0 as the spectrum's (i-1, j-1).
double wave(int k1, int k2, int i, int j) {
  return std::cos(2.0 * std::numbers::pi * (k1 * (i - 1) + k2 * (j - 1)) / kN);
}

// ---------------------------------------------------------------- loading

TEST(LoadExtract, NonLateralIsRotatedAndLateralCopied) {
  struct Case {
    const char* cell_type;
    bool rotated;
  };
  const Case cases[] = {{"lateral", false}, {"ventral", true}, {"dorsal", true}, {"", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cell_type);
    const SharedExtract original = random_extract(17);
    SharedExtract extract = original;
    WorkImages images;
    for (std::size_t k = 0; k < kExtractPixels; ++k) {
      images.blank_distance[k] = static_cast<float>(k % 101);
    }
    const std::vector<float> distance_before = images.blank_distance;
    std::string note;
    ASSERT_TRUE(load_extract(extract, images, c.cell_type, note).ok());
    EXPECT_TRUE(note.empty()) << note;

    const auto [lo, hi] = std::minmax_element(original.intensity.begin(), original.intensity.end());
    int mismatches = 0;
    for (int i = 1; i <= kN; ++i) {
      for (int j = 1; j <= kN; ++j) {
        const int si = c.rotated ? kN + 1 - j : i;
        const int sj = c.rotated ? i : j;
        const double expect = (original.cell_intensity(si, sj) - *lo) * 254.0 / (*hi - *lo);
        if (std::abs(images.work(i, j) - expect) > 1e-9) ++mismatches;
        for (int p = 0; p < kColourPlanes; ++p) {
          const auto plane = static_cast<ColourPlane>(p);
          if (images.colour(plane, i, j) != original.cell_rgb(plane, si, sj)) ++mismatches;
        }
        if (extract.cell_blank(i, j) != original.cell_blank(si, sj)) ++mismatches;
        if (images.blank_distance[SharedExtract::index(i, j)] !=
            distance_before[SharedExtract::index(si, sj)]) {
          ++mismatches;
        }
      }
    }
    EXPECT_EQ(mismatches, 0);
    if (c.rotated) {
      // The corner named for the non-lateral aspects: (1, 1) from (256, 1).
      EXPECT_DOUBLE_EQ(images.work(1, 1),
                       (original.cell_intensity(256, 1) - *lo) * 254.0 / (*hi - *lo));
    }
  }
}

TEST(LoadExtract, ScalesMinimumToZeroAndMaximumTo254) {
  struct Case {
    const char* name;
    std::vector<double> values;  // in the first pixels; the last fills the rest
    double expect_min;
    double expect_max;
    bool flat;
  };
  const Case cases[] = {
      {"two levels", {10.0, 110.0}, 0.0, 254.0, false},
      {"full range", {0.0, 255.0, 17.5}, 0.0, 254.0, false},
      // The brightest pixel comes first and is never seen again: it lowers
      // the minimum from its start, so a search that updates the maximum only
      // when the minimum did not move misses it.
      {"falling", {200.0, 150.0, 100.0}, 0.0, 254.0, false},
      {"constant grey", {200.0}, 127.0, 127.0, true},
      {"constant black", {0.0}, 127.0, 127.0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SharedExtract extract;
    for (std::size_t k = 0; k < kExtractPixels; ++k) {
      extract.intensity[k] = c.values[std::min(k, c.values.size() - 1)];
    }
    WorkImages images;
    std::string note;
    ASSERT_TRUE(load_extract(extract, images, "lateral", note).ok());
    ASSERT_TRUE(all_finite(images.work_image));
    const auto [lo, hi] = std::minmax_element(images.work_image.begin(), images.work_image.end());
    EXPECT_DOUBLE_EQ(*lo, c.expect_min);
    EXPECT_DOUBLE_EQ(*hi, c.expect_max);
    EXPECT_EQ(!note.empty(), c.flat) << note;
    if (!c.flat) {
      // Order kept: the first value maps as the linear formula says.
      const auto [vlo, vhi] = std::minmax_element(c.values.begin(), c.values.end());
      EXPECT_DOUBLE_EQ(images.work_image[0], (c.values[0] - *vlo) * 254.0 / (*vhi - *vlo));
    }
  }
}

TEST(LoadExtract, RefusesBuffersOfTheWrongSize) {
  SharedExtract extract;
  extract.intensity.resize(100);
  WorkImages images;
  std::string note;
  EXPECT_FALSE(load_extract(extract, images, "lateral", note).ok());
}

// ---------------------------------------------------------------- band filter

// An image made of sinusoids; the reference low and high outputs are the sums
// of the components whose frequency lies in each pass band.
struct Component {
  int k1;
  int k2;
  double amplitude;
};

void fill_image(WorkImages& images, double constant, const std::vector<Component>& parts) {
  for (int i = 1; i <= kN; ++i) {
    for (int j = 1; j <= kN; ++j) {
      double v = constant;
      for (const Component& c : parts) v += c.amplitude * wave(c.k1, c.k2, i, j);
      images.work(i, j) = v;
    }
  }
}

// Distance of a frequency counted from 0 to the nearest zero-frequency corner.
int corner_distance(int k1, int k2) {
  return std::min(k1, kN - k1) + std::min(k2, kN - k2);
}

TEST(BandFilter, PassesSinusoidsBelowAndStopsThoseAboveTheCutoff) {
  struct Case {
    const char* name;
    int cutoff;
    double constant;
    std::vector<Component> parts;
  };
  const Case cases[] = {
      {"constant", 4, 123.0, {}},
      {"low and high", 4, 100.0, {{1, 2, 30.0}, {5, 5, 20.0}}},
      {"negative frequencies", 4, 50.0, {{255, 1, 10.0}, {0, 250, 7.0}}},
      {"at the cut-off passes neither", 4, 60.0, {{2, 2, 15.0}, {0, 1, 5.0}, {40, 3, 9.0}}},
      {"cut-off 1 keeps only the mean", 1, 80.0, {{0, 1, 12.0}, {1, 0, 6.0}}},
      {"cut-off 0 drops only the mean", 0, 80.0, {{0, 1, 12.0}, {128, 128, 6.0}}},
      {"cut-off 12", 12, 10.0, {{6, 5, 3.0}, {7, 6, 4.0}, {100, 20, 2.0}}},
  };
  // Float output and the transform's rounding stay far below this; a wrong
  // pass band is off by the amplitude of a component (>= 3).
  constexpr double kTolerance = 1e-3;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkImages images;
    fill_image(images, c.constant, c.parts);
    const std::vector<double> original = images.work_image;

    std::vector<Component> low_parts;
    std::vector<Component> high_parts;
    for (const Component& p : c.parts) {
      const int d = corner_distance(p.k1, p.k2);
      if (d < c.cutoff) low_parts.push_back(p);
      if (d > c.cutoff) high_parts.push_back(p);
    }
    const double low_constant = c.cutoff > 0 ? c.constant : 0.0;

    for (const char* mode : {"low", "high"}) {
      SCOPED_TRACE(mode);
      const bool low = std::string(mode) == "low";
      std::vector<float> out;
      double mean = -1.0;
      ASSERT_TRUE(band_filter(images, out, mean, mode, c.cutoff).ok());
      EXPECT_EQ(images.work_image, original);  // the input is left alone
      const double expect_mean = low ? low_constant : 0.0;
      EXPECT_NEAR(mean, expect_mean, kTolerance);
      double worst = 0.0;
      for (int i = 1; i <= kN; ++i) {
        for (int j = 1; j <= kN; ++j) {
          double expect = low ? low_constant : 0.0;
          for (const Component& p : low ? low_parts : high_parts) {
            expect += p.amplitude * wave(p.k1, p.k2, i, j);
          }
          worst = std::max(worst, std::abs(out[SharedExtract::index(i, j)] - expect));
        }
      }
      EXPECT_LT(worst, kTolerance);
    }
  }
}

TEST(BandFilter, LowPlusHighIsTheImageWhenNothingSitsAtTheCutoff) {
  // A random image has energy at every frequency, including those exactly at
  // the cut-off, which neither band keeps; with the cut-off 0 that is only
  // the mean, so low (nothing) + high must give the image less its mean.
  // Otherwise the sum is off by exactly the at-cut-off part, checked here by
  // its size: small against the image but far from zero.
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> grey(0.0, 254.0);
  WorkImages images;
  for (double& v : images.work_image) v = grey(rng);
  double image_mean = 0.0;
  for (double v : images.work_image) image_mean += v;
  image_mean /= static_cast<double>(kExtractPixels);

  std::vector<float> low;
  std::vector<float> high;
  double low_mean = 0.0;
  double high_mean = 0.0;
  ASSERT_TRUE(band_filter(images, low, low_mean, "low", 0).ok());
  ASSERT_TRUE(band_filter(images, high, high_mean, "high", 0).ok());
  double worst = 0.0;
  for (std::size_t k = 0; k < kExtractPixels; ++k) {
    worst = std::max(worst, std::abs(low[k] + high[k] - (images.work_image[k] - image_mean)));
  }
  // Float output of values up to ~254: a few float ulps.
  EXPECT_LT(worst, 1e-3);
  EXPECT_NEAR(low_mean, 0.0, 1e-9);
}

TEST(BandFilter, RefusesAnUnknownMode) {
  WorkImages images;
  std::vector<float> out;
  double mean = 0.0;
  EXPECT_FALSE(band_filter(images, out, mean, "band", 4).ok());
  EXPECT_FALSE(band_filter(images, out, mean, "Low", 4).ok());
}

TEST(TransformWorkImage, ConstantImageHasOnlyTheZeroFrequency) {
  WorkImages images;
  std::fill(images.work_image.begin(), images.work_image.end(), 2.0);
  ASSERT_TRUE(transform_work_image(images).ok());
  // Scaled by 1/sqrt(256*256): the sum 2 * 65536 becomes 512.
  EXPECT_NEAR(images.spectrum_re[0], 512.0, 1e-9);
  double rest = 0.0;
  for (std::size_t k = 1; k < kExtractPixels; ++k) {
    rest = std::max({rest, std::abs(images.spectrum_re[k]), std::abs(images.spectrum_im[k])});
  }
  EXPECT_LT(rest, 1e-9);
}

// ---------------------------------------------------------------- detrend

// Trend 100 + a * cos(one cycle down the rows) (inside the pass band of
// cut-off 4) times a pattern 1 + 0.3 cos(a fast wave) (far outside it). The
// product's low-pass is the trend itself, so the weight search is exact.
double trend_value(double amplitude, int i, int j) {
  return 100.0 + amplitude * wave(1, 0, i, j) + 0.2 * amplitude * wave(0, 1, i, j);
}
double pattern_value(int i, int j) {
  return 1.0 + 0.3 * wave(20, 13, i, j);
}

TEST(Detrend, RecoversThePatternUnderASmoothTrend) {
  struct Case {
    const char* name;
    double amplitude;
    // The weight at which the search ends: 1 when the whole trend can be
    // used; 0.9 when the full trend dips below a tenth of its mean.
    double weight;
  };
  const Case cases[] = {{"mild trend", 40.0, 1.0}, {"trend near zero", 75.0, 0.9}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkImages images;
    SharedExtract extract;  // no blanks
    std::vector<double> expect(kExtractPixels);
    for (int i = 1; i <= kN; ++i) {
      for (int j = 1; j <= kN; ++j) {
        const double t = trend_value(c.amplitude, i, j);
        images.work(i, j) = t * pattern_value(i, j);
        expect[SharedExtract::index(i, j)] =
            t * pattern_value(i, j) / (100.0 + (t - 100.0) * c.weight);
      }
    }
    const auto [lo, hi] = std::minmax_element(expect.begin(), expect.end());
    const double emin = *lo;
    const double emax = *hi;
    for (double& v : expect) v = (v - emin) * 253.0 / (emax - emin) + 1.0;

    std::string note;
    ASSERT_TRUE(detrend(images, extract, 4, note).ok());
    EXPECT_TRUE(note.empty()) << note;
    double worst = 0.0;
    for (std::size_t k = 0; k < kExtractPixels; ++k) {
      worst = std::max(worst, std::abs(images.work_image[k] - expect[k]));
    }
    // The low-pass comes back as float (about 1e-5 of 100), which moves the
    // ratio by ~1e-7 and the 1..254 image by well under 1e-3.
    EXPECT_LT(worst, 1e-3);
  }
}

TEST(Detrend, BlanksTakeTheTrendAndDoNotSpoilTheResult) {
  // The same mild trend with a blank block holding a wild grey: after the
  // fill the usable pixels still come out as the pattern.
  WorkImages images;
  SharedExtract extract;
  std::vector<double> pattern(kExtractPixels);
  for (int i = 1; i <= kN; ++i) {
    for (int j = 1; j <= kN; ++j) {
      const bool blank = i >= 100 && i < 110 && j >= 30 && j < 40;
      extract.cell_blank(i, j) = blank ? kBlankPixel : kUsablePixel;
      images.work(i, j) = blank ? 250.0 : trend_value(20.0, i, j) * pattern_value(i, j);
      pattern[SharedExtract::index(i, j)] = pattern_value(i, j);
    }
  }
  std::string note;
  ASSERT_TRUE(detrend(images, extract, 4, note).ok());
  ASSERT_TRUE(all_finite(images.work_image));
  // Compare usable pixels by correlation with the pattern: the fill changes
  // the scale slightly but the pattern must dominate.
  double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0, n = 0;
  for (std::size_t k = 0; k < kExtractPixels; ++k) {
    if (extract.blank[k] != kUsablePixel) continue;
    const double x = images.work_image[k];
    const double y = pattern[k];
    sx += x, sy += y, sxx += x * x, syy += y * y, sxy += x * y, n += 1;
  }
  const double r = (n * sxy - sx * sy) / std::sqrt((n * sxx - sx * sx) * (n * syy - sy * sy));
  EXPECT_GT(r, 0.99);
  // Filled blanks sit near the trend, so the pattern's own extremes set the
  // 1..254 range; a blank left at its wild grey would take the top of the
  // range and squeeze the pattern into the bottom third.
  double usable_min = 1e20;
  double usable_max = -1e20;
  for (std::size_t k = 0; k < kExtractPixels; ++k) {
    if (extract.blank[k] != kUsablePixel) continue;
    usable_min = std::min(usable_min, images.work_image[k]);
    usable_max = std::max(usable_max, images.work_image[k]);
  }
  EXPECT_LT(usable_min, 5.0);
  EXPECT_GT(usable_max, 250.0);
}

TEST(Detrend, DegenerateImagesStayFiniteAndSaySo) {
  struct Case {
    const char* name;
    double constant;
    int cutoff;
  };
  const Case cases[] = {
      {"zero image: zero trend", 0.0, 4},
      {"negative image: negative trend", -5.0, 4},
      {"cut-off 0 raised to 1", 90.0, 0},
      {"constant image", 90.0, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkImages images;
    SharedExtract extract;
    std::fill(images.work_image.begin(), images.work_image.end(), c.constant);
    std::string note;
    ASSERT_TRUE(detrend(images, extract, c.cutoff, note).ok());
    ASSERT_TRUE(all_finite(images.work_image));
    EXPECT_FALSE(note.empty());
    const auto [lo, hi] = std::minmax_element(images.work_image.begin(), images.work_image.end());
    EXPECT_GE(*lo, 1.0);
    EXPECT_LE(*hi, 254.0);
    EXPECT_EQ(*lo, *hi);  // every case is one grey after the division
  }
}

TEST(Detrend, ZeroTrendWithAPatternKeepsThePattern) {
  // Mean zero, pattern only: no division is possible, the pattern is only
  // rescaled to 1..254.
  WorkImages images;
  SharedExtract extract;
  for (int i = 1; i <= kN; ++i) {
    for (int j = 1; j <= kN; ++j) images.work(i, j) = wave(20, 13, i, j);
  }
  std::string note;
  ASSERT_TRUE(detrend(images, extract, 4, note).ok());
  ASSERT_TRUE(all_finite(images.work_image));
  EXPECT_FALSE(note.empty());
  double worst = 0.0;
  for (int i = 1; i <= kN; ++i) {
    for (int j = 1; j <= kN; ++j) {
      // cos of this wave reaches exactly -1 and 1 on the grid.
      const double expect = (wave(20, 13, i, j) + 1.0) * 253.0 / 2.0 + 1.0;
      worst = std::max(worst, std::abs(images.work(i, j) - expect));
    }
  }
  EXPECT_LT(worst, 1e-6);
}

}  // namespace
}  // namespace velmora::extract

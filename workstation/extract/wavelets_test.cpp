// The kernel bank against the kernel formulas (read back through the inverse
// transform), its refusals as a table, and the correlation against a plain
// spatial correlation of a sparse image followed by a literal combination,
// scaling and statistics.
#include "workstation/extract/wavelets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "workstation/extract/blank_distance.h"
#include "workstation/extract/detrend.h"
#include "workstation/matching/numerics.h"

namespace velmora::extract {
namespace {

constexpr int kN = 256;

KernelSettings settings(const char* pattern, int fr, int tr, int sr, int ft = 0, int tt = 0,
                        int st = 0, double sx = 1.5, double sy = 2.0) {
  config::AspectSettings a;
  a.pattern = pattern;
  a.from_r = static_cast<std::int16_t>(fr), a.to_r = static_cast<std::int16_t>(tr);
  a.step_r = static_cast<std::int16_t>(sr);
  a.from_theta_deg = static_cast<std::int16_t>(ft), a.to_theta_deg = static_cast<std::int16_t>(tt);
  a.step_theta_deg = static_cast<std::int16_t>(st);
  a.sigmax_ratio = sx, a.sigmay = sy;
  return kernel_settings_from(a, "Flank");
}

// Kernel n as an image again: conjugate, forward transform, real part.
std::vector<double> spatial_kernel(const KernelBank& bank, int n) {
  std::vector<double> re(bank.re(n), bank.re(n) + kExtractPixels);
  std::vector<double> im(bank.im(n), bank.im(n) + kExtractPixels);
  int ifail = 1;
  matching::C06GCF(im.data(), static_cast<int>(kExtractPixels), ifail);
  matching::C06FUF(kN, kN, re.data(), im.data(), "I", nullptr, nullptr, nullptr, ifail);
  return re;
}
double at(const std::vector<double>& k, int i, int j) {
  return k[SharedExtract::index(i, j)];
}

TEST(KernelBank, LoopsGiveTheVisitsInCorrelationOrder) {
  struct Case {
    KernelSettings s;
    std::vector<KernelVisit> expect;
  };
  const Case cases[] = {
      {settings("black_dots", 3, 9, 3), {{3, 0}, {6, 0}, {9, 0}}},
      {settings("white_dots", 16, 4, -6), {{16, 0}, {10, 0}, {4, 0}}},
      {settings("black_dots", 5, 4, 1), {}},
      {settings("black_rings", 4, 4, 1, 10, 10, 0), {{4, 10}}},
      {settings("white_rings", 2, 3, 1, 0, 10, 15), {{2, 0}, {3, 0}}},
      {settings("white_stripe", 4, 8, 4, 0, 90, 45),
       {{4, 0}, {4, 45}, {4, 90}, {8, 0}, {8, 45}, {8, 90}}},
      {settings("white_stripe", 4, 8, 4, 90, 0, 30), {}},
      {settings("none", 0, 0, 0), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.s.pattern + " " + std::to_string(c.s.from_r));
    KernelBank bank;
    ASSERT_TRUE(build_kernel_bank(c.s, bank).ok());
    EXPECT_EQ(bank.visits, c.expect);
    EXPECT_EQ(bank.count, static_cast<int>(c.expect.size()));
    EXPECT_EQ(bank.kernel_re.size(), c.expect.size() * kExtractPixels);
    EXPECT_EQ(bank.shape, kernel_shape_of(c.s.pattern));
  }
  KernelBank full;
  ASSERT_TRUE(build_kernel_bank(settings("stripe", 1, 6, 1, 0, 315, 45), full).ok());
  EXPECT_EQ(full.count, kMaxKernels);
}

TEST(KernelBank, RefusesWhatTheCorrelationCannotRunAndKeepsTheOldBank) {
  struct Case {
    KernelSettings s;
    std::vector<std::string> named;
  };
  const double nan = std::nan("");
  const Case cases[] = {
      {settings("black_dots", 3, 9, 0), {"step_r 0", "from_r 3", "to_r 9"}},
      {settings("white_stripe", 4, 8, 4, 0, 90, 0), {"step_theta_deg 0", "to_theta_deg 90"}},
      {settings("white_stripe", 1, 7, 1, 0, 180, 30), {"49", "7 radii x 7 angles"}},
      {settings("black_dots", 1, 49, 1), {"49", "to_r 49"}},
      {settings("black_dots", 3, 9, 3, 0, 90, 45), {"name 3", "step_theta_deg 45"}},
      {settings("black_rings", 3, 9, 3, 0, 90, 0), {"endless", "to_theta_deg 90"}},
      {settings("black_dots", 3, 9, 3, 30, 0, 10), {"name 0", "from_theta_deg 30"}},
      {settings("black_dots", 0, 4, 2), {"1 or more", "from_r 0"}},
      {settings("white_dots", 4, -4, -4), {"1 or more", "to_r -4"}},
      {settings("black_rings", 3, 9, 3, 0, 0, 0, 0.0), {"sigmax_ratio 0"}},
      {settings("white_stripe", 3, 9, 3, 0, 90, 45, nan), {"sigmax_ratio nan"}},
      {settings("white_stripe", 3, 9, 3, 0, 90, 45, 1.5, -1.0), {"sigmay -1"}},
  };
  KernelBank before;
  ASSERT_TRUE(build_kernel_bank(settings("black_dots", 5, 5, 1), before).ok());
  for (const Case& c : cases) {
    KernelBank bank = before;
    const Status s = build_kernel_bank(c.s, bank);
    SCOPED_TRACE(s.message());
    EXPECT_EQ(s.code(), Status::Code::kInvalidArgument);
    EXPECT_NE(s.message().find("'Flank'"), std::string::npos);
    for (const std::string& part : c.named) EXPECT_NE(s.message().find(part), std::string::npos);
    EXPECT_EQ(bank.visits, before.visits);
    EXPECT_EQ(bank.kernel_re, before.kernel_re);
  }
}

TEST(KernelBank, DotKernelAtRadiusTen) {
  KernelBank bank;
  ASSERT_TRUE(build_kernel_bank(settings("black_dots", 10, 10, 1), bank).ok());
  const std::vector<double> k = spatial_kernel(bank, 0);
  // (row, column, value): distances 0.71, 9.51 | 10.51, 10.12, 13.51, 13.44 | 14.51, 14.85.
  const int cases[][3] = {{128, 128, 10},  {129, 138, 10},  {129, 139, -10}, {132, 138, -10},
                          {129, 142, -10}, {138, 138, -10}, {119, 119, -10}, {129, 143, 0},
                          {139, 139, 0},   {1, 1, 0}};
  for (const auto& c : cases) EXPECT_NEAR(at(k, c[0], c[1]), c[2], 1e-9) << c[0] << "," << c[1];
}

TEST(KernelBank, StripeAtAngleZeroVariesAlongTheRowsAndNinetyIsItsTranspose) {
  KernelBank bank;
  ASSERT_TRUE(build_kernel_bank(settings("white_stripe", 8, 8, 1, 0, 90, 90, 1.5, 2.0), bank).ok());
  const std::vector<double> k0 = spatial_kernel(bank, 0);
  const std::vector<double> k90 = spatial_kernel(bank, 1);
  // x = y = 0.5: cos(2 pi 0.5 / 8) * exp(-((0.5 / 12)^2 + (0.5 / 2)^2) / 2).
  EXPECT_NEAR(at(k0, 129, 129),
              std::cos(std::numbers::pi / 8) * std::exp(-0.5 * (1.0 / 576 + 0.0625)), 1e-12);
  // Down a column the carrier changes sign every half period (y = 0.5, 2.5, 4.5, 6.5) ...
  EXPECT_GT(at(k0, 129, 129), 0.0);
  EXPECT_LT(at(k0, 131, 129), 0.0);
  EXPECT_LT(at(k0, 133, 129), 0.0);
  EXPECT_GT(at(k0, 135, 129), 0.0);
  // ... along a row only the envelope falls off.
  EXPECT_GT(at(k0, 129, 129), at(k0, 129, 131));
  EXPECT_GT(at(k0, 129, 131), 0.0);
  double worst = 0.0;
  for (int i = 1; i <= kN; ++i) {
    for (int j = 1; j <= kN; ++j) worst = std::max(worst, std::abs(at(k90, i, j) - at(k0, j, i)));
  }
  EXPECT_LT(worst, 1e-12);
}

TEST(KernelBank, OnlyWhiteRingsTurnsTheRingOver) {
  KernelBank plain;
  ASSERT_TRUE(build_kernel_bank(settings("black_rings", 6, 6, 1), plain).ok());
  const std::vector<double> base = spatial_kernel(plain, 0);
  // d = 0.71 at the centre: cos(2 pi 0.71 / 6) * (1 - exp(-(9 / 0.71)^3)).
  EXPECT_NEAR(at(base, 128, 128), std::cos(2 * std::numbers::pi * std::sqrt(0.5) / 6), 1e-12);
  const std::pair<const char*, double> cases[] = {
      {"white_rings", -1.0}, {"White_rings", 1.0}, {"white_rings_big", 1.0}, {"rings", 1.0}};
  for (const auto& [pattern, sign] : cases) {
    KernelBank bank;
    ASSERT_TRUE(build_kernel_bank(settings(pattern, 6, 6, 1), bank).ok());
    const std::vector<double> k = spatial_kernel(bank, 0);
    for (int j : {100, 128, 131, 140})
      EXPECT_NEAR(at(k, 129, j), sign * at(base, 129, j), 1e-12) << pattern;
  }
}

// ------------------------------------------------------------ correlation

struct Spike {
  int row, column;
  double value;
};

// A sparse extract: work_image zero but for a few spikes (one near the edge,
// so that the wrap of the cyclic correlation shows), and its transform.
void sparse_image(WorkImages& images) {
  std::fill(images.work_image.begin(), images.work_image.end(), 0.0);
  for (const Spike& s : {Spike{60, 50, 200.0}, Spike{128, 140, 100.0}, Spike{251, 4, 150.0},
                         Spike{100, 10, 120.0}}) {
    images.work(s.row, s.column) = s.value;
  }
  ASSERT_TRUE(transform_work_image(images).ok());
}

double dot_formula(int r, double x, double y) {
  const double d = std::hypot(x, y);
  return d < r ? 10.0 : d < r * std::sqrt(2.0) ? -10.0 : 0.0;
}

// The cyclic correlation written out: response(i, j) = sum over the kernel's
// pixels (p, q) of work(p + i - 129, q + j - 129) K(p, q) / (256 r^2), taken
// over the non-zero pixels (a, b) of the image.
std::vector<float> direct_response(const WorkImages& images, int r) {
  std::vector<Spike> spikes;
  for (int a = 1; a <= kN; ++a) {
    for (int b = 1; b <= kN; ++b) {
      if (images.work(a, b) != 0.0) spikes.push_back({a, b, images.work(a, b)});
    }
  }
  const auto wrap = [](int v) { return ((v - 1) % kN + kN) % kN + 1; };
  std::vector<float> out(kExtractPixels);
  for (int i = 1; i <= kN; ++i) {
    for (int j = 1; j <= kN; ++j) {
      double sum = 0.0;
      for (const Spike& s : spikes) {
        const int p = wrap(s.row - i + 129);
        const int q = wrap(s.column - j + 129);
        sum += s.value * dot_formula(r, q - 128.5, p - 128.5);
      }
      out[SharedExtract::index(i, j)] = static_cast<float>(sum / (256.0 * r * r));
    }
  }
  return out;
}

struct Reference {
  std::vector<double> image;
  double mean = 0.0, sd = 0.0;
  int taken_back_at = 0;  // radius whose last response went back out
};

// Steps 1 to 5 as the text gives them, on responses of the given radii.
Reference reference(const std::vector<std::vector<float>>& responses, const std::vector<int>& radii,
                    bool black, bool sum, int margin, const std::vector<std::int16_t>& blank,
                    const std::vector<float>& distance) {
  Reference ref;
  std::vector<double>& w = ref.image;
  w.assign(kExtractPixels, 0.0);
  const auto px = [](int i, int j) { return SharedExtract::index(i, j); };
  for (int i = margin + 1; i <= kN - margin; ++i) {
    for (int j = margin + 1; j <= kN - margin; ++j) w[px(i, j)] = sum ? 0 : black ? 1 : -1;
  }
  double previous_t = 0.0;
  for (std::size_t n = 0; n < radii.size(); ++n) {
    const int r = radii[n];
    const std::vector<float>& x = responses[n];
    if (!sum) {
      for (int i = margin + 1; i <= kN - margin; ++i) {
        for (int j = margin + 1; j <= kN - margin; ++j) {
          double& v = w[px(i, j)];
          v = black ? std::min<double>(v, x[px(i, j)]) : std::max<double>(v, x[px(i, j)]);
        }
      }
      continue;
    }
    const int a = static_cast<int>(std::lround(r * std::sqrt(2.0) + 1));
    const int b = static_cast<int>(std::lround(256 - r * std::sqrt(2.0)));
    std::vector<std::size_t> valid;
    for (int i = a; i <= b; ++i) {
      for (int j = a; j <= b; ++j) {
        const std::size_t k = px(i, j);
        if (blank[k] == 0 && distance[k] > r * std::sqrt(2.0)) valid.push_back(k);
      }
    }
    double m = 0.0, t = 0.0;
    for (std::size_t k : valid) m += x[k] / static_cast<double>(valid.size());
    for (std::size_t k : valid) w[k] += x[k] - m;
    for (int i = a; i <= b; ++i) {
      for (int j = a; j <= b; ++j) {
        t += std::abs(w[px(i, j)] - w[px(i, j - 1)]) + std::abs(w[px(i, j)] - w[px(i - 1, j)]);
      }
    }
    if (t < previous_t) {
      for (std::size_t k : valid) w[k] -= x[k] - m;
      ref.taken_back_at = r;
      break;
    }
    previous_t = t;
  }
  const auto [lo, hi] = std::minmax_element(w.begin(), w.end());
  const double min = *lo, max = *hi;
  double n = 0, s = 0, q = 0;
  for (double& v : w) {
    v = (v - min) * 254 / (max - min);
    if (v > 254 - 1e-3) continue;
    n += 1, s += v, q += v * v;
  }
  ref.mean = s / n;
  ref.sd = std::sqrt((q - s * s / n) / (n - 1));
  return ref;
}

void expect_matches(const WaveletImage& out, const Reference& ref) {
  ASSERT_EQ(out.image.size(), kExtractPixels);
  double worst = 0.0;
  for (std::size_t k = 0; k < kExtractPixels; ++k) {
    worst = std::max(worst, std::abs(out.image[k] - ref.image[k]));
  }
  EXPECT_LT(worst, 2e-3);
  EXPECT_NEAR(out.mean, ref.mean, 1e-3);
  EXPECT_NEAR(out.sd, ref.sd, 1e-3);
}

TEST(Correlation, ResponseIsTheDirectCyclicCorrelation) {
  WorkImages images;
  sparse_image(images);
  KernelBank bank;
  ASSERT_TRUE(build_kernel_bank(settings("white_dots", 3, 5, 2), bank).ok());
  for (int n = 0; n < bank.count; ++n) {
    std::vector<float> response;
    ASSERT_TRUE(kernel_response(bank, n, images, response).ok());
    const std::vector<float> direct = direct_response(images, bank.visits[n].r);
    double worst = 0.0, peak = 0.0;
    for (std::size_t k = 0; k < kExtractPixels; ++k) {
      worst = std::max<double>(worst, std::abs(response[k] - direct[k]));
      peak = std::max<double>(peak, std::abs(direct[k]));
    }
    EXPECT_GT(peak, 0.1);
    EXPECT_LT(worst, 1e-5 * peak) << "radius " << bank.visits[n].r;
  }
}

TEST(Correlation, MinAndMaxFormsFollowTheStepsAndKeepTheFrameAtZero) {
  WorkImages images;
  sparse_image(images);
  const std::vector<int> radii = {3, 5};
  const std::vector<std::vector<float>> responses = {direct_response(images, 3),
                                                     direct_response(images, 5)};
  const std::vector<std::int16_t> blank(kExtractPixels, kUsablePixel);
  const std::pair<const char*, int> cases[] = {
      {"white_dots", 12}, {"black_dots", 12}, {"black_dots", 0}, {"white_dots", 0}};
  for (const auto& [pattern, margin] : cases) {
    SCOPED_TRACE(std::string(pattern) + " margin " + std::to_string(margin));
    KernelBank bank;
    ASSERT_TRUE(build_kernel_bank(settings(pattern, 3, 5, 2), bank).ok());
    WaveletImage out;
    std::string note;
    ASSERT_TRUE(correlate_with_wavelets(bank, images, blank, margin, false, out, note).ok());
    const bool black = std::string(pattern).find("black") != std::string::npos;
    expect_matches(out,
                   reference(responses, radii, black, false, margin, blank, images.blank_distance));
    EXPECT_TRUE(note.empty()) << note;
  }
}

TEST(Correlation, SummedFormTakesBackTheRadiusThatSmoothsAndStops) {
  WorkImages images;
  sparse_image(images);
  SharedExtract extract;
  for (int i = 1; i <= 30; ++i) {
    for (int j = 1; j <= kN; ++j) extract.cell_blank(i, j) = kBlankPixel;
  }
  compute_blank_distance(extract, &images.blank_distance);
  struct Case {
    int from, to, step, taken_back_at;
  };
  // One radius is never taken back (its variation is compared with 0); of
  // 3..6 the second smooths the image, and the two after it would not.
  for (const Case& c : {Case{4, 4, 1, 0}, Case{3, 6, 1, 4}}) {
    SCOPED_TRACE(c.to);
    std::vector<int> radii;
    std::vector<std::vector<float>> responses;
    for (int r = c.from; r <= c.to; r += c.step) {
      radii.push_back(r);
      responses.push_back(direct_response(images, r));
    }
    const Reference ref =
        reference(responses, radii, true, true, 12, extract.blank, images.blank_distance);
    ASSERT_EQ(ref.taken_back_at, c.taken_back_at);
    KernelBank bank;
    ASSERT_TRUE(build_kernel_bank(settings("black_dots", c.from, c.to, c.step), bank).ok());
    WaveletImage out;
    std::string note;
    ASSERT_TRUE(correlate_with_wavelets(bank, images, extract.blank, 12, true, out, note).ok());
    expect_matches(out, ref);
  }
}

bool all_finite(const WaveletImage& out) {
  return std::isfinite(out.mean) && std::isfinite(out.sd) &&
         std::all_of(out.image.begin(), out.image.end(), [](float v) { return std::isfinite(v); });
}

TEST(Correlation, AllBlankUnderSumCorrelGivesAFlatImageAndNoNaN) {
  WorkImages images;
  for (std::size_t k = 0; k < kExtractPixels; ++k) images.work_image[k] = (k * 7919) % 251;
  ASSERT_TRUE(transform_work_image(images).ok());
  const std::vector<std::int16_t> blank(kExtractPixels, kBlankPixel);
  KernelBank bank;
  ASSERT_TRUE(build_kernel_bank(settings("white_stripe", 4, 8, 4, 0, 90, 90), bank).ok());
  WaveletImage out;
  std::string note;
  ASSERT_TRUE(correlate_with_wavelets(bank, images, blank, 12, true, out, note).ok());
  EXPECT_TRUE(all_finite(out));
  EXPECT_EQ(std::count(out.image.begin(), out.image.end(), kFlatWaveletGrey),
            static_cast<long>(kExtractPixels));
  EXPECT_EQ(out.mean, kFlatWaveletGrey);
  EXPECT_EQ(out.sd, 0.0);
  EXPECT_NE(note.find("radius 4"), std::string::npos) << note;
  EXPECT_NE(note.find("flat"), std::string::npos) << note;
}

TEST(Correlation, EmptyAndNoneBanksAndBadInputs) {
  WorkImages images;
  sparse_image(images);
  const std::vector<std::int16_t> blank(kExtractPixels, kUsablePixel);
  std::string note;
  WaveletImage out;
  out.image.assign(kExtractPixels, 42.0f);
  const WaveletImage untouched = out;
  const auto same = [&] { return out.image == untouched.image && out.mean == untouched.mean; };

  KernelBank none;
  ASSERT_TRUE(build_kernel_bank(settings("none", 4, 8, 4), none).ok());
  ASSERT_TRUE(correlate_with_wavelets(none, images, blank, 12, false, out, note).ok());
  EXPECT_TRUE(same());

  KernelBank bank;
  ASSERT_TRUE(build_kernel_bank(settings("black_dots", 3, 5, 2), bank).ok());
  EXPECT_FALSE(correlate_with_wavelets(bank, images, blank, 129, false, out, note).ok());
  EXPECT_FALSE(correlate_with_wavelets(bank, images, {}, 12, false, out, note).ok());
  images.spectrum_im[777] = std::nan("");
  EXPECT_FALSE(correlate_with_wavelets(bank, images, blank, 12, false, out, note).ok());
  EXPECT_TRUE(same());
  images.spectrum_im[777] = 0.0;

  // No kernel: the start image alone is scaled. A dark pattern's interior
  // starts at 1 over a frame at 0, so only the frame counts, all at 0.
  KernelBank empty;
  ASSERT_TRUE(build_kernel_bank(settings("black_dots", 5, 4, 1), empty).ok());
  ASSERT_TRUE(correlate_with_wavelets(empty, images, blank, 12, false, out, note).ok());
  EXPECT_EQ(out.image[SharedExtract::index(12, 200)], 0.0f);
  EXPECT_EQ(out.image[SharedExtract::index(13, 200)], kWaveletMaxGrey);
  EXPECT_EQ(out.mean, 0.0);
  EXPECT_EQ(out.sd, 0.0);
  EXPECT_NE(note.find("no wavelet kernel"), std::string::npos) << note;
  EXPECT_NE(note.find("standard deviation"), std::string::npos) << note;
  ASSERT_TRUE(correlate_with_wavelets(empty, images, blank, 12, true, out, note).ok());
  EXPECT_EQ(std::count(out.image.begin(), out.image.end(), kFlatWaveletGrey),
            static_cast<long>(kExtractPixels));
}

}  // namespace
}  // namespace velmora::extract

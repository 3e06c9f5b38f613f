#include "compare/fourier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "compare/testing/reference_fourier.h"

namespace tarvik {
namespace {

std::vector<float> random_data(int rows, int cols, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<float> v(2 * static_cast<std::size_t>(rows) * cols);
  for (float& x : v) x = static_cast<float>(static_cast<int>(rng() % 20001) - 10000) / 128.0f;
  return v;
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Direct sum in double: the transform the radix-2 one approximates.
std::vector<std::complex<double>> direct_dft(const std::vector<float>& data, int rows, int cols,
                                             int isign) {
  std::vector<std::complex<double>> out(static_cast<std::size_t>(rows) * cols);
  for (int k1 = 0; k1 < rows; ++k1) {
    for (int k2 = 0; k2 < cols; ++k2) {
      std::complex<double> s = 0;
      for (int n1 = 0; n1 < rows; ++n1) {
        for (int n2 = 0; n2 < cols; ++n2) {
          const std::size_t i = static_cast<std::size_t>(n1) * cols + n2;
          const double angle =
              isign * 2 * std::numbers::pi *
              (static_cast<double>(k1) * n1 / rows + static_cast<double>(k2) * n2 / cols);
          s += std::complex<double>(data[2 * i], data[2 * i + 1]) *
               std::complex<double>(std::cos(angle), std::sin(angle));
        }
      }
      out[static_cast<std::size_t>(k1) * cols + k2] = isign < 0 ? s / double(rows * cols) : s;
    }
  }
  return out;
}

// Both paths on a processor with AVX2; the baseline alone elsewhere.
std::vector<VectorPath> paths_here() {
  std::vector<VectorPath> paths = {VectorPath::kBaseline};
  if (vector_path_available(VectorPath::kAvx2)) paths.push_back(VectorPath::kAvx2);
  return paths;
}

TEST(FourierPlan, EveryPathMatchesThePlainTransformBitForBit) {
  const int sizes[] = {1, 2, 4, 8, 16, 32, 64, 128};
  for (VectorPath path : paths_here()) {
    std::uint32_t seed = 1;
    for (int rows : sizes) {
      for (int cols : sizes) {
        for (int isign : {+1, -1}) {
          const std::vector<float> input = random_data(rows, cols, seed++);
          std::vector<float> plain = input;
          testing::reference_fourier_2d(plain.data(), rows, cols, isign);
          FourierPlan plan(rows, cols, path);
          std::vector<float> fast = input;
          plan.transform(fast.data(), isign);
          EXPECT_TRUE(same_bits(fast, plain))
              << vector_path_name(path) << " " << rows << " x " << cols << " direction " << isign;
          std::vector<float> planes = input;
          plan.transform_to_planes(planes.data(), isign, planes.data());
          EXPECT_TRUE(same_bits(planes, testing::to_planes(plain.data(), rows, cols)))
              << vector_path_name(path) << " planes " << rows << " x " << cols;
        }
      }
    }
  }
}

TEST(FourierPlan, TheAvx2PathIsTakenWhereverItCanBe) {
  const bool avx2 = vector_path_available(VectorPath::kAvx2);
  EXPECT_EQ(default_vector_path(), avx2 ? VectorPath::kAvx2 : VectorPath::kBaseline);
  EXPECT_EQ(FourierPlan(64, 64).path(), default_vector_path());
  EXPECT_EQ(FourierPlan(64, 64, VectorPath::kBaseline).path(), VectorPath::kBaseline);
  // The kernels work on 8 x 8 blocks: smaller sizes fall back.
  EXPECT_EQ(FourierPlan(4, 64, VectorPath::kAvx2).path(), VectorPath::kBaseline);
  EXPECT_EQ(set_default_vector_path(VectorPath::kAvx2), avx2);
  ASSERT_TRUE(set_default_vector_path(VectorPath::kBaseline));
  EXPECT_EQ(FourierPlan(64, 64).path(), VectorPath::kBaseline);
  set_default_vector_path(avx2 ? VectorPath::kAvx2 : VectorPath::kBaseline);
}

TEST(FourierPlan, AgreesWithTheDirectSum) {
  for (int isign : {+1, -1}) {
    const int rows = 8, cols = 16;
    std::vector<float> data = random_data(rows, cols, 99);
    const auto expected = direct_dft(data, rows, cols, isign);
    fourier_2d(data.data(), rows, cols, isign);
    // Inputs are up to 80 in size; 7 float stages of rounding (about 6e-8
    // relative each) stay far below 1e-5 of the largest output magnitude, and
    // a wrong twiddle or sign moves outputs by a large part of it.
    double largest = 0;
    for (const auto& e : expected) largest = std::max(largest, std::abs(e));
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_NEAR(data[2 * i], expected[i].real(), 1e-5 * largest) << i;
      EXPECT_NEAR(data[2 * i + 1], expected[i].imag(), 1e-5 * largest) << i;
    }
  }
}

TEST(FourierPlan, ForwardThenScaledInverseGivesTheInputBack) {
  const int rows = 64, cols = 64;
  const std::vector<float> input = random_data(rows, cols, 5);
  std::vector<float> data = input;
  FourierPlan plan(rows, cols);
  plan.transform(data.data(), +1);
  plan.transform(data.data(), -1);
  // Inputs are multiples of 1/128 up to 78; twelve float stages each way keep
  // the round trip within about 1e-5 of that range.
  for (std::size_t i = 0; i < input.size(); ++i) EXPECT_NEAR(data[i], input[i], 2e-4) << i;
}

TEST(FourierPlan, PlanIsReusableAndDirectionsDiffer) {
  FourierPlan plan(16, 16);
  std::vector<float> a = random_data(16, 16, 3), b = a, c = a;
  plan.transform(a.data(), +1);
  plan.transform(b.data(), +1);
  plan.transform(c.data(), -1);
  EXPECT_TRUE(same_bits(a, b));
  EXPECT_FALSE(same_bits(a, c));
}

TEST(FourierPlan, InverseAtShiftsOfEveryPathMatchesThePlainPathBitForBit) {
  for (VectorPath path : paths_here()) {
    for (int size : {64, 32, 16, 8}) {
      for (int reach : {0, 1, 5, size / 2 - 1, size / 2, size + 3}) {
        const std::vector<float> s = random_data(size, size, 11), t = random_data(size, size, 12);
        std::vector<float> q(s.size());
        for (std::size_t i = 0; i < s.size(); i += 2) {
          q[i] = s[i] * t[i] + s[i + 1] * t[i + 1];
          q[i + 1] = s[i + 1] * t[i] - s[i] * t[i + 1];
        }
        testing::reference_fourier_2d(q.data(), size, size, -1);
        FourierPlan plan(size, size, path);
        const int row_reach = reach % 3 == 0 ? FourierPlan::kAllRows : (reach + 2) % (size / 2);
        // A spectrum to fetch for the next call must not change this one.
        const std::vector<float> next = random_data(size, size, 13);
        const FourierPlan::ShiftRows out =
            plan.inverse_real_at_shifts(testing::to_planes(s.data(), size, size).data(),
                                        testing::to_planes(t.data(), size, size).data(), reach,
                                        reach % 2 == 1 ? next.data() : nullptr, row_reach);
        EXPECT_GE(out.stride, 2 * reach + 1);
        const float scale = 1.0f / static_cast<float>(size * size);
        for (int u = 0; u < size; ++u) {
          // Only the rows of the row shifts asked for need be right.
          if (u > row_reach && u < size - row_reach) continue;
          for (int j = -reach; j <= reach; ++j) {
            const float got = out.re[u * out.stride + j + reach] * scale;
            const int c = ((-j) % size + size) % size;
            const float want = q[2 * (u * size + c)];
            ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0)
                << vector_path_name(path) << " size " << size << " reach " << reach << " at " << u
                << "," << j;
          }
        }
      }
    }
  }
}

TEST(FourierPlan, CorrelationConventionOfTheInverseAtShifts) {
  // s = a single 1 at (2, 3); t = a single 1 at (5, 7). The inverse of
  // s conj(t) is the cyclic sum of s(x + u) t(x): one 1 at u = (2-5, 3-7).
  const int n = 16;
  std::vector<float> s(2 * n * n, 0.0f), t(2 * n * n, 0.0f);
  s[2 * (2 * n + 3)] = 1;
  t[2 * (5 * n + 7)] = 1;
  FourierPlan plan(n, n);
  plan.transform_to_planes(s.data(), +1, s.data());
  plan.transform_to_planes(t.data(), +1, t.data());
  // Column shift j reads position (-j) mod n: the 1 sits at shift j = 4.
  const FourierPlan::ShiftRows out = plan.inverse_real_at_shifts(s.data(), t.data(), 7);
  const int peak_r = (2 - 5 + n) % n;
  for (int r = 0; r < n; ++r) {
    for (int j = -7; j <= 7; ++j) {
      const float v = out.re[r * out.stride + j + 7] / (n * n);
      // Unit impulses through 8 float stages: errors stay near 1e-7.
      EXPECT_NEAR(v, r == peak_r && j == 4 ? 1.0f : 0.0f, 1e-5) << r << "," << j;
    }
  }
}

}  // namespace
}  // namespace tarvik

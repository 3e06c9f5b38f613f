// The plain transform (see reference_fourier.h): dimensions from the fastest
// varying one; per dimension a bit-reversal reordering of the whole array and
// then the butterflies, stage by stage, with the twiddle recurrence run anew.
#include "compare/testing/reference_fourier.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace tarvik::testing {

void reference_fourier_2d(float* data, int rows, int cols, int isign) {
  auto d = [data](unsigned long i) -> float& { return data[i - 1]; };  // 1-based
  const unsigned long nn[3] = {0, static_cast<unsigned long>(rows),
                               static_cast<unsigned long>(cols)};
  const unsigned long ntot = nn[1] * nn[2];
  unsigned long nprev = 1;
  for (int idim = 2; idim >= 1; --idim) {
    const unsigned long n = nn[idim];
    const unsigned long nrem = ntot / (n * nprev);
    const unsigned long ip1 = nprev << 1;
    const unsigned long ip2 = ip1 * n;
    const unsigned long ip3 = ip2 * nrem;
    unsigned long i2rev = 1;
    for (unsigned long i2 = 1; i2 <= ip2; i2 += ip1) {
      if (i2 < i2rev) {
        for (unsigned long i1 = i2; i1 <= i2 + ip1 - 2; i1 += 2) {
          for (unsigned long i3 = i1; i3 <= ip3; i3 += ip2) {
            const unsigned long i3rev = i2rev + i3 - i2;
            std::swap(d(i3), d(i3rev));
            std::swap(d(i3 + 1), d(i3rev + 1));
          }
        }
      }
      unsigned long ibit = ip2 >> 1;
      while (ibit >= ip1 && i2rev > ibit) {
        i2rev -= ibit;
        ibit >>= 1;
      }
      i2rev += ibit;
    }
    unsigned long ifp1 = ip1;
    while (ifp1 < ip2) {
      const unsigned long ifp2 = ifp1 << 1;
      const double theta = isign * (2.0 * std::numbers::pi) / static_cast<double>(ifp2 / ip1);
      double wtemp = std::sin(0.5 * theta);
      const double wpr = -2.0 * wtemp * wtemp;
      const double wpi = std::sin(theta);
      double wr = 1.0, wi = 0.0;
      for (unsigned long i3 = 1; i3 <= ifp1; i3 += ip1) {
        for (unsigned long i1 = i3; i1 <= i3 + ip1 - 2; i1 += 2) {
          for (unsigned long i2 = i1; i2 <= ip3; i2 += ifp2) {
            const unsigned long k1 = i2, k2 = k1 + ifp1;
            const float tempr = static_cast<float>(wr) * d(k2) - static_cast<float>(wi) * d(k2 + 1);
            const float tempi = static_cast<float>(wr) * d(k2 + 1) + static_cast<float>(wi) * d(k2);
            d(k2) = d(k1) - tempr;
            d(k2 + 1) = d(k1 + 1) - tempi;
            d(k1) += tempr;
            d(k1 + 1) += tempi;
          }
        }
        wtemp = wr;
        wr = wtemp * wpr - wi * wpi + wr;
        wi = wi * wpr + wtemp * wpi + wi;
      }
      ifp1 = ifp2;
    }
    nprev *= n;
  }
  if (isign < 0) {
    const float scale = static_cast<float>(1.0 / (static_cast<double>(rows) * cols));
    for (unsigned long i = 1; i <= 2 * ntot; ++i) d(i) *= scale;
  }
}

std::vector<float> to_planes(const float* interleaved, int rows, int cols) {
  const std::size_t count = static_cast<std::size_t>(rows) * cols;
  std::vector<float> planes(2 * count);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      const std::size_t from = static_cast<std::size_t>(r) * cols + c;
      const std::size_t to = static_cast<std::size_t>(c) * rows + r;
      planes[to] = interleaved[2 * from];
      planes[count + to] = interleaved[2 * from + 1];
    }
  }
  return planes;
}

std::vector<float> from_planes(const float* planes, int rows, int cols) {
  const std::size_t count = static_cast<std::size_t>(rows) * cols;
  std::vector<float> interleaved(2 * count);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      const std::size_t to = static_cast<std::size_t>(r) * cols + c;
      const std::size_t from = static_cast<std::size_t>(c) * rows + r;
      interleaved[2 * to] = planes[from];
      interleaved[2 * to + 1] = planes[count + from];
    }
  }
  return interleaved;
}

}  // namespace tarvik::testing

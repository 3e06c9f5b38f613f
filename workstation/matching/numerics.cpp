// FFTW3-backed transform and the small numerical routines (see numerics.h).
//
// One plan per array size, made on the first call for that size and kept for
// the life of the process. The plan runs in place on an interleaved complex
// buffer that it owns: the callers keep real and imaginary parts in two
// arrays of their own, whose alignment and distance from each other differ
// from call to call, which FFTW's split-array plans cannot serve. Copying the
// 256 x 256 values in and out costs a small fraction of the transform.
#include "workstation/matching/numerics.h"

#include <fftw3.h>

#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <numbers>
#include <utility>
#include <vector>

namespace velmora::matching {
namespace {

class PlanCache {
 public:
  ~PlanCache() {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& [size, entry] : plans_) {
      fftw_destroy_plan(entry.plan);
      fftw_free(entry.buffer);
    }
    plans_.clear();
    fftw_cleanup();
  }

  // Transforms x + i*y (m*n values each) in place and multiplies the result
  // by `scale`. False when the plan or its buffer cannot be had (memory).
  // The lock covers FFTW's planner, which is not thread-safe, and the
  // shared buffer.
  bool forward(int m, int n, double* x, double* y, double scale) {
    std::lock_guard<std::mutex> lock(mu_);
    Entry* e = entry(m, n);
    if (e == nullptr) return false;
    const size_t count = static_cast<size_t>(m) * static_cast<size_t>(n);
    fftw_complex* buf = e->buffer;
    for (size_t i = 0; i < count; ++i) {
      buf[i][0] = x[i];
      buf[i][1] = y[i];
    }
    fftw_execute(e->plan);
    for (size_t i = 0; i < count; ++i) {
      x[i] = buf[i][0] * scale;
      y[i] = buf[i][1] * scale;
    }
    return true;
  }

 private:
  struct Entry {
    fftw_plan plan = nullptr;
    fftw_complex* buffer = nullptr;
  };

  Entry* entry(int m, int n) {
    auto it = plans_.find({m, n});
    if (it != plans_.end()) return &it->second;
    Entry e;
    const size_t count = static_cast<size_t>(m) * static_cast<size_t>(n);
    e.buffer = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * count));
    if (e.buffer == nullptr) return nullptr;
    // Row-major m x n: element (i, j) at i*n + j, as the callers lay it out.
    e.plan = fftw_plan_dft_2d(m, n, e.buffer, e.buffer, FFTW_FORWARD, kPlanner);
    if (e.plan == nullptr) {
      fftw_free(e.buffer);
      return nullptr;
    }
    return &plans_.emplace(std::pair{m, n}, e).first->second;
  }

  // Measured plans: about 0.2 s once per size and process, then a 256 x 256
  // transform in about 0.25 ms, ten times faster than an estimated plan on
  // this class of machine. Which plan wins may vary between runs, so results
  // may differ between runs in the last bits (never more than rounding).
  static constexpr unsigned kPlanner = FFTW_MEASURE;

  std::mutex mu_;
  std::map<std::pair<int, int>, Entry> plans_;
};

PlanCache& plan_cache() {
  static PlanCache cache;
  return cache;
}

void fill_twiddles(double* table, int count) {
  if (table == nullptr) return;
  for (int k = 0; k < count; ++k) {
    const double angle = 2.0 * std::numbers::pi * k / count;
    table[2 * k] = std::cos(angle);
    table[2 * k + 1] = std::sin(angle);
  }
}

}  // namespace

void C06FUF(const int& m, const int& n, double* x, double* y, const char* init, double* trigm,
            double* trign, double* /*work*/, int& ifail) {
  if (m < 1) {
    ifail = 1;
    return;
  }
  if (n < 1) {
    ifail = 2;
    return;
  }
  const char mode = init == nullptr ? '\0' : init[0];
  if (mode != 'I' && mode != 'S' && mode != 'R' && mode != 'i' && mode != 's' && mode != 'r') {
    ifail = 3;
    return;
  }
  if (mode == 'I' || mode == 'i') {
    fill_twiddles(trigm, m);
    fill_twiddles(trign, n);
  }
  const double scale = 1.0 / std::sqrt(static_cast<double>(m) * static_cast<double>(n));
  ifail = plan_cache().forward(m, n, x, y, scale) ? 0 : 4;
}

void C06GCF(double* y, const int& n, int& ifail) {
  if (n < 1) {
    ifail = 1;
    return;
  }
  for (int i = 0; i < n; ++i) y[i] = -y[i];
  ifail = 0;
}

void F01CKF(double* a, const double* b, const double* c, const int& n, const int& p, const int& m,
            double* /*z*/, const int& /*iz*/, const int& opt, int& ifail) {
  if (n < 1 || p < 1 || m < 1) {
    ifail = 1;
    return;
  }
  if (opt < 1 || opt > 3) {
    ifail = 2;
    return;
  }
  // Column by column: element (row r, column k) of an n-row matrix at r + k*n.
  // 3 x 3 is the only size used, so a small scratch copy is cheap and makes
  // every overlap of A with B or C safe.
  std::vector<double> product(static_cast<size_t>(n) * static_cast<size_t>(p), 0.0);
  for (int k = 0; k < p; ++k) {
    for (int j = 0; j < m; ++j) {
      const double ckj = c[j + k * m];
      for (int r = 0; r < n; ++r) product[r + k * n] += b[r + j * n] * ckj;
    }
  }
  std::memcpy(a, product.data(), product.size() * sizeof(double));
  ifail = 0;
}

double S14ABF(const double& x, int& ifail) {
  if (std::isnan(x)) {
    ifail = 2;
    return 0.0;
  }
  if (x <= 0.0) {
    ifail = 1;
    return 0.0;
  }
  const double value = std::lgamma(x);
  if (!std::isfinite(value)) {
    ifail = 2;
    return 0.0;
  }
  ifail = 0;
  return value;
}

}  // namespace velmora::matching

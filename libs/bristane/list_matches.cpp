// The key-list matcher (see list_matches.h).
//
// Cost per pair with about 300 keys each: 90,000 descriptor dot products of
// 128 values, about 11.5 million multiply-adds, against a few thousand
// operations for the geometric check. The dot products run on 16-bit
// copies of the descriptors (made once per list and call, a few hundred
// keys) with SSE2's multiply-add of eight pairs at a time, four keys of the
// second list per pass so that each load of the first key serves four
// products. Squared distances follow as |a|^2 + |b|^2 - 2 a.b, exact in
// 32-bit integers (at most 128 x 255^2 x 2).
#include "libs/bristane/list_matches.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmora::bristane {
namespace {

constexpr int D = kDescriptorLength;
// A model needs this many agreeing matches to count: two fit any similarity.
constexpr int kLeastSupport = 3;

void widen(const std::uint8_t* src, int n, std::vector<std::int16_t>* wide,
           std::vector<std::int32_t>* norms) {
  wide->resize(static_cast<size_t>(n) * D);
  norms->resize(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    std::int32_t sum = 0;
    const std::uint8_t* s = src + static_cast<size_t>(k) * D;
    std::int16_t* w = wide->data() + static_cast<size_t>(k) * D;
    for (int v = 0; v < D; ++v) {
      w[v] = s[v];
      sum += static_cast<std::int32_t>(s[v]) * s[v];
    }
    (*norms)[k] = sum;
  }
}

#if defined(__SSE2__)
// a . b[r] for the four rows r of b (D values each, back to back).
inline void dot4(const std::int16_t* a, const std::int16_t* b, std::int32_t out[4]) {
  __m128i s0 = _mm_setzero_si128(), s1 = s0, s2 = s0, s3 = s0;
  for (int k = 0; k < D; k += 8) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
    s0 = _mm_add_epi32(
        s0, _mm_madd_epi16(va, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k))));
    s1 = _mm_add_epi32(
        s1, _mm_madd_epi16(va, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + D + k))));
    s2 = _mm_add_epi32(
        s2, _mm_madd_epi16(va, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * D + k))));
    s3 = _mm_add_epi32(
        s3, _mm_madd_epi16(va, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 3 * D + k))));
  }
  // Sum each accumulator's four lanes, all four at once.
  const __m128i t01 = _mm_add_epi32(_mm_unpacklo_epi32(s0, s1), _mm_unpackhi_epi32(s0, s1));
  const __m128i t23 = _mm_add_epi32(_mm_unpacklo_epi32(s2, s3), _mm_unpackhi_epi32(s2, s3));
  const __m128i r = _mm_add_epi32(_mm_unpacklo_epi64(t01, t23), _mm_unpackhi_epi64(t01, t23));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), r);
}
#else
inline void dot4(const std::int16_t* a, const std::int16_t* b, std::int32_t out[4]) {
  for (int r = 0; r < 4; ++r) {
    std::int32_t s = 0;
    for (int k = 0; k < D; ++k) s += a[k] * b[r * D + k];
    out[r] = s;
  }
}
#endif

inline std::int32_t dot1(const std::int16_t* a, const std::int16_t* b) {
  std::int32_t s = 0;
  for (int k = 0; k < D; ++k) s += a[k] * b[k];
  return s;
}

}  // namespace

void KeyMatcher::find_tentative(const KeyListView& first, const KeyListView& second,
                                const MatchParameters& p) {
  tentative_.clear();
  const int n1 = first.count, n2 = second.count;
  // The ratio test needs a runner-up.
  if (n1 < 1 || n2 < 2) return;
  widen(first.descriptors, n1, &wide1_, &norm1_);
  widen(second.descriptors, n2, &wide2_, &norm2_);
  if (p.mutual) {
    column_best_.assign(static_cast<size_t>(n2), -1);
    column_distance_.assign(static_cast<size_t>(n2), INT_MAX);
  }
  const double ratio2 = p.ratio * p.ratio;
  const int n2_four = n2 - n2 % 4;
  for (int i = 0; i < n1; ++i) {
    const std::int16_t* a = wide1_.data() + static_cast<size_t>(i) * D;
    const std::int32_t na = norm1_[i];
    std::int32_t best = INT_MAX, runner_up = INT_MAX;
    int best_j = -1;
    auto consider = [&](std::int32_t dot, int j) {
      const std::int32_t d = na + norm2_[j] - 2 * dot;
      if (d < best) {
        runner_up = best;
        best = d;
        best_j = j;
      } else if (d < runner_up) {
        runner_up = d;
      }
      if (p.mutual && d < column_distance_[j]) {
        column_distance_[j] = d;
        column_best_[j] = i;
      }
    };
    std::int32_t dots[4];
    for (int j = 0; j < n2_four; j += 4) {
      dot4(a, wide2_.data() + static_cast<size_t>(j) * D, dots);
      consider(dots[0], j);
      consider(dots[1], j + 1);
      consider(dots[2], j + 2);
      consider(dots[3], j + 3);
    }
    for (int j = n2_four; j < n2; ++j) {
      consider(dot1(a, wide2_.data() + static_cast<size_t>(j) * D), j);
    }
    if (runner_up > 0 && static_cast<double>(best) < ratio2 * static_cast<double>(runner_up)) {
      tentative_.push_back(
          {i, best_j, std::sqrt(static_cast<double>(best) / static_cast<double>(runner_up))});
    }
  }
  if (p.mutual) {
    std::erase_if(tentative_,
                  [&](const Tentative& t) { return column_best_[t.second] != t.first; });
  }
}

int KeyMatcher::best_model_support(const KeyListView& first, const KeyListView& second,
                                   const MatchParameters& p) {
  const int n = static_cast<int>(tentative_.size());
  if (n < kLeastSupport) return 0;
  // Most distinctive first, so that the models come from the likeliest matches.
  std::sort(tentative_.begin(), tentative_.end(), [](const Tentative& a, const Tentative& b) {
    return a.quality != b.quality ? a.quality < b.quality : a.first < b.first;
  });
  for (auto* v : {&x1_, &y1_, &x2_, &y2_, &turn_cos_, &turn_sin_, &log_scale_}) {
    v->resize(static_cast<size_t>(n));
  }
  agree_.resize(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    const float* l1 = first.locations + static_cast<size_t>(tentative_[k].first) * kLocationValues;
    const float* l2 =
        second.locations + static_cast<size_t>(tentative_[k].second) * kLocationValues;
    // Points as (x, y) = (column, row); orientations are measured in the
    // same frame, so a turn of the extract adds its angle to both.
    x1_[k] = l1[1];
    y1_[k] = l1[0];
    x2_[k] = l2[1];
    y2_[k] = l2[0];
    const double turn = static_cast<double>(l2[3]) - static_cast<double>(l1[3]);
    turn_cos_[k] = static_cast<float>(std::cos(turn));
    turn_sin_[k] = static_cast<float>(std::sin(turn));
    log_scale_[k] = static_cast<float>(std::log(static_cast<double>(l2[2]) / l1[2]));
  }

  const float tol2 = static_cast<float>(p.position_tolerance) * p.position_tolerance;
  const bool check_turn = p.orientation_tolerance > 0;
  const float cos_turn_tol =
      static_cast<float>(std::cos(p.orientation_tolerance * std::numbers::pi / 180.0));
  const float log_scale_tol = static_cast<float>(std::log(p.max_scale_change));
  const float cos_max_rotation =
      p.max_rotation > 0 ? static_cast<float>(std::cos(p.max_rotation * std::numbers::pi / 180.0))
                         : -2.0f;

  struct Model {
    float a, b, tx, ty;  // q = (a + ib) p + (tx + i ty)
    float cos_rot, sin_rot, log_scale;
  };
  // Whether the model's scale and rotation are allowed; fills the derived values.
  auto admissible = [&](Model* m) {
    const float s = std::hypot(m->a, m->b);
    if (!(s > 0.0f)) return false;
    m->log_scale = std::log(s);
    if (std::fabs(m->log_scale) > log_scale_tol) return false;
    m->cos_rot = m->a / s;
    m->sin_rot = m->b / s;
    return m->cos_rot >= cos_max_rotation;
  };
  auto agrees_in_kind = [&](const Model& m, int k) {
    if (check_turn && turn_cos_[k] * m.cos_rot + turn_sin_[k] * m.sin_rot < cos_turn_tol) {
      return false;
    }
    return std::fabs(log_scale_[k] - m.log_scale) <= log_scale_tol;
  };
  auto support = [&](const Model& m, bool mark) {
    int count = 0;
    for (int k = 0; k < n; ++k) {
      const float dx = m.a * x1_[k] - m.b * y1_[k] + m.tx - x2_[k];
      const float dy = m.b * x1_[k] + m.a * y1_[k] + m.ty - y2_[k];
      const bool ok = dx * dx + dy * dy <= tol2 && agrees_in_kind(m, k);
      if (mark) agree_[k] = ok;
      count += ok;
    }
    return count;
  };

  const int h = std::min(n, p.hypothesis_matches);
  Model best{};
  int best_support = 0;
  for (int i = 0; i < h && best_support < n; ++i) {
    for (int j = i + 1; j < h; ++j) {
      const float dpx = x1_[j] - x1_[i], dpy = y1_[j] - y1_[i];
      const float dp2 = dpx * dpx + dpy * dpy;
      // Two keys closer than the tolerance give no usable turn or scale.
      if (dp2 < tol2) continue;
      const float dqx = x2_[j] - x2_[i], dqy = y2_[j] - y2_[i];
      Model m{};
      m.a = (dqx * dpx + dqy * dpy) / dp2;
      m.b = (dqy * dpx - dqx * dpy) / dp2;
      if (!admissible(&m) || !agrees_in_kind(m, i) || !agrees_in_kind(m, j)) continue;
      m.tx = x2_[i] - (m.a * x1_[i] - m.b * y1_[i]);
      m.ty = y2_[i] - (m.b * x1_[i] + m.a * y1_[i]);
      const int s = support(m, false);
      if (s > best_support) {
        best_support = s;
        best = m;
        if (best_support == n) break;
      }
    }
  }
  if (best_support < kLeastSupport) return 0;

  // Least squares over the agreeing matches: z = sum (q - q0) conj(p - p0) /
  // sum |p - p0|^2 about the centroids, then the shift from the centroids.
  support(best, true);
  double px = 0, py = 0, qx = 0, qy = 0;
  int used = 0;
  for (int k = 0; k < n; ++k) {
    if (!agree_[k]) continue;
    px += x1_[k];
    py += y1_[k];
    qx += x2_[k];
    qy += y2_[k];
    ++used;
  }
  px /= used;
  py /= used;
  qx /= used;
  qy /= used;
  double sa = 0, sb = 0, spp = 0;
  for (int k = 0; k < n; ++k) {
    if (!agree_[k]) continue;
    const double ux = x1_[k] - px, uy = y1_[k] - py, vx = x2_[k] - qx, vy = y2_[k] - qy;
    sa += vx * ux + vy * uy;
    sb += vy * ux - vx * uy;
    spp += ux * ux + uy * uy;
  }
  if (spp > 0) {
    Model refined{};
    refined.a = static_cast<float>(sa / spp);
    refined.b = static_cast<float>(sb / spp);
    refined.tx = static_cast<float>(qx - (refined.a * px - refined.b * py));
    refined.ty = static_cast<float>(qy - (refined.b * px + refined.a * py));
    if (admissible(&refined)) best_support = std::max(best_support, support(refined, false));
  }
  return best_support;
}

int KeyMatcher::consistent_matches(const KeyListView& first, const KeyListView& second,
                                   const MatchParameters& p) {
  find_tentative(first, second, p);
  return best_model_support(first, second, p);
}

void reference_nearest(const KeyListView& first, const KeyListView& second,
                       std::vector<int>* nearest, std::vector<std::int64_t>* nearest_distance,
                       std::vector<std::int64_t>* runner_up_distance) {
  nearest->assign(static_cast<size_t>(first.count), -1);
  nearest_distance->assign(static_cast<size_t>(first.count), INT64_MAX);
  runner_up_distance->assign(static_cast<size_t>(first.count), INT64_MAX);
  for (int i = 0; i < first.count; ++i) {
    for (int j = 0; j < second.count; ++j) {
      std::int64_t d = 0;
      for (int v = 0; v < D; ++v) {
        const std::int64_t diff =
            static_cast<std::int64_t>(first.descriptors[i * D + v]) - second.descriptors[j * D + v];
        d += diff * diff;
      }
      if (d < (*nearest_distance)[i]) {
        (*runner_up_distance)[i] = (*nearest_distance)[i];
        (*nearest_distance)[i] = d;
        (*nearest)[i] = j;
      } else if (d < (*runner_up_distance)[i]) {
        (*runner_up_distance)[i] = d;
      }
    }
  }
}

}  // namespace velmora::bristane

using velmora::bristane::KeyListView;
using velmora::bristane::KeyMatcher;
using velmora::bristane::MatchParameters;

extern "C" std::int32_t N_LISTMATCHES(const std::int32_t* n1, const std::uint8_t* descriptors1,
                                      const float* locations1, const std::int32_t* n2,
                                      const std::uint8_t* descriptors2, const float* locations2,
                                      const double* ratio, const double* max_scale_change,
                                      double* m, const std::int32_t* position_tolerance,
                                      const std::int32_t* orientation_tolerance,
                                      const std::int32_t* hypothesis_matches,
                                      const std::int32_t* max_rotation,
                                      const std::int32_t* mutual) {
  using namespace velmora::bristane;
  if (m == nullptr) return kListMatchesNullPointer;
  *m = 0.0;
  if (n1 == nullptr || n2 == nullptr || ratio == nullptr || max_scale_change == nullptr ||
      position_tolerance == nullptr || orientation_tolerance == nullptr ||
      hypothesis_matches == nullptr || max_rotation == nullptr || mutual == nullptr) {
    return kListMatchesNullPointer;
  }
  if (*n1 < 0 || *n1 > kMaxKeys || *n2 < 0 || *n2 > kMaxKeys) return kListMatchesBadCount;
  if ((*n1 > 0 && (descriptors1 == nullptr || locations1 == nullptr)) ||
      (*n2 > 0 && (descriptors2 == nullptr || locations2 == nullptr))) {
    return kListMatchesNullPointer;
  }
  MatchParameters p;
  p.ratio = *ratio;
  p.max_scale_change = *max_scale_change;
  p.position_tolerance = *position_tolerance;
  p.orientation_tolerance = *orientation_tolerance;
  p.hypothesis_matches = *hypothesis_matches;
  p.max_rotation = *max_rotation;
  p.mutual = *mutual == 1;
  const bool in_range = p.ratio > 0.0 && p.ratio <= 1.0 && p.max_scale_change >= 1.0 &&
                        std::isfinite(p.max_scale_change) && p.position_tolerance > 0 &&
                        p.position_tolerance <= 10000 && p.orientation_tolerance >= 0 &&
                        p.orientation_tolerance <= 180 && p.hypothesis_matches >= 2 &&
                        p.max_rotation >= 0 && p.max_rotation <= 180 &&
                        (*mutual == 0 || *mutual == 1);
  if (!in_range) return kListMatchesBadParameter;
  thread_local KeyMatcher matcher;
  *m = matcher.consistent_matches({*n1, descriptors1, locations1}, {*n2, descriptors2, locations2},
                                  p);
  return kListMatchesOk;
}

#include "workstation/extract/wavelets.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <string>
#include <utility>

#include "workstation/common/number_text.h"
#include "workstation/common/rounding.h"
#include "workstation/matching/numerics.h"

namespace velmora::extract {
namespace {

constexpr int kSize = kExtractRows;  // extracts and kernels are square
constexpr int kHalf = kSize / 2;
constexpr double kCentre = (kSize + 1) / 2.0;  // 128.5: kernels centre between pixels
constexpr double kDotLevel = 10.0;
// exp() of anything below -709 is denormal or 0: the stripe kernel is cut
// there rather than carry values that only slow the arithmetic.
constexpr double kStripeExponentLimit = 709.0;
constexpr double kHalfTurnDeg = 180.0;

void append_note(std::string& note, const std::string& sentence) {
  if (!note.empty()) note += ' ';
  note += sentence;
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

std::string loop_text(const char* name, int from, int to, int step) {
  return std::string("from_") + name + " " + std::to_string(from) + ", to_" + name + " " +
         std::to_string(to) + ", step_" + name + " " + std::to_string(step);
}

Status refuse(const KernelSettings& s, const std::string& why) {
  return Status::InvalidArgument("aspect '" + s.aspect + "' (pattern '" + s.pattern +
                                 "'): the wavelet kernels cannot be built: " + why);
}

// How many values from, from + step, ... the loop visits before passing
// `to`; step must not be 0. int16 settings keep every value within int.
int loop_count(int from, int to, int step) {
  if (step > 0) return to < from ? 0 : (to - from) / step + 1;
  return to > from ? 0 : (from - to) / -step + 1;
}

bool positive_number(double v) {
  return std::isfinite(v) && v > 0.0;
}

// Every check of the settings for `shape`, and the pairs the correlation
// will visit. Nothing is built before all of them pass.
Status plan_visits(const KernelSettings& s, KernelShape shape, std::vector<KernelVisit>& visits) {
  visits.clear();
  if (shape == KernelShape::kNone) return Status::Ok();
  const std::string radius_loop = loop_text("r", s.from_r, s.to_r, s.step_r);
  const std::string angle_loop =
      loop_text("theta_deg", s.from_theta_deg, s.to_theta_deg, s.step_theta_deg);
  if (s.step_r == 0) return refuse(s, "the radius loop never ends (" + radius_loop + ")");
  const int radii = loop_count(s.from_r, s.to_r, s.step_r);
  if (radii == 0) return Status::Ok();

  int angles = 1;
  if (shape == KernelShape::kStripe) {
    if (s.step_theta_deg == 0) {
      return refuse(s, "the angle loop never ends (" + angle_loop + ")");
    }
    angles = loop_count(s.from_theta_deg, s.to_theta_deg, s.step_theta_deg);
    if (angles == 0) return Status::Ok();
  } else if (s.from_theta_deg != s.to_theta_deg) {
    // A direction-free kernel is built once per radius; a second angle would
    // make the correlation's count run into the kernels of later radii.
    const int named =
        s.step_theta_deg == 0 ? 0 : loop_count(s.from_theta_deg, s.to_theta_deg, s.step_theta_deg);
    if (named != 1) {
      return refuse(
          s,
          "dot and ring kernels have no direction, so the angles must name exactly "
          "one angle, but they name " +
              (s.step_theta_deg == 0 ? std::string("an endless loop") : std::to_string(named)) +
              " (" + angle_loop + ")");
    }
  }

  const std::int64_t pairs = static_cast<std::int64_t>(radii) * angles;
  if (pairs > kMaxKernels) {
    return refuse(s, std::to_string(pairs) + " (radius, angle) pairs (" + std::to_string(radii) +
                         " radii x " + std::to_string(angles) + " angles; " + radius_loop +
                         (shape == KernelShape::kStripe ? "; " + angle_loop : std::string()) +
                         ") exceed the " + std::to_string(kMaxKernels) + " kernels of the bank");
  }
  const int last_r = s.from_r + (radii - 1) * s.step_r;
  if (std::min<int>(s.from_r, last_r) < 1) {
    return refuse(s, "every radius must be 1 or more (" + radius_loop + ")");
  }
  if (shape != KernelShape::kDot && !positive_number(s.sigmax_ratio)) {
    return refuse(s, "sigmax_ratio " + real_to_text(s.sigmax_ratio) + " is not above 0");
  }
  if (shape == KernelShape::kStripe && !positive_number(s.sigmay)) {
    return refuse(s, "sigmay " + real_to_text(s.sigmay) + " is not above 0");
  }

  visits.reserve(static_cast<std::size_t>(pairs));
  for (int k = 0; k < radii; ++k) {
    const int r = s.from_r + k * s.step_r;
    for (int a = 0; a < angles; ++a) {
      visits.push_back({r, s.from_theta_deg + a * s.step_theta_deg});
    }
  }
  return Status::Ok();
}

Status transform_failed(const KernelSettings& s, int ifail) {
  return Status::InvalidArgument("aspect '" + s.aspect +
                                 "': the two-dimensional transform of a wavelet kernel failed "
                                 "with code " +
                                 std::to_string(ifail));
}

// Builds one kernel per visit (pairs of a dot or ring bank differ by radius
// only), each written straight into the bank and transformed there.
template <typename KernelValue>
Status build(const KernelSettings& s, KernelShape shape, KernelBank& bank, KernelValue value) {
  KernelBank fresh;
  if (Status st = plan_visits(s, shape, fresh.visits); !st.ok()) return st;
  fresh.shape = shape;
  fresh.settings = s;
  fresh.count = static_cast<int>(fresh.visits.size());
  fresh.kernel_re.assign(static_cast<std::size_t>(fresh.count) * kExtractPixels, 0.0);
  fresh.kernel_im.assign(static_cast<std::size_t>(fresh.count) * kExtractPixels, 0.0);
  std::vector<double> trig_m(2 * static_cast<std::size_t>(kSize));
  std::vector<double> trig_n(2 * static_cast<std::size_t>(kSize));
  for (int n = 0; n < fresh.count; ++n) {
    double* re = fresh.kernel_re.data() + KernelBank::offset(n);
    double* im = fresh.kernel_im.data() + KernelBank::offset(n);
    const KernelVisit v = fresh.visits[static_cast<std::size_t>(n)];
    for (int i = 1; i <= kSize; ++i) {
      const double y = i - kCentre;
      for (int j = 1; j <= kSize; ++j) {
        re[SharedExtract::index(i, j)] = value(v, j - kCentre, y);
      }
    }
    // The transform has no use for a workspace of its own.
    int ifail = 1;
    matching::C06FUF(kSize, kSize, re, im, "I", trig_m.data(), trig_n.data(), nullptr, ifail);
    if (ifail != 0) return transform_failed(s, ifail);
  }
  bank = std::move(fresh);
  return Status::Ok();
}

bool sizes_ok(const WorkImages& images) {
  return images.spectrum_re.size() == kExtractPixels &&
         images.spectrum_im.size() == kExtractPixels &&
         images.blank_distance.size() == kExtractPixels && images.fft_re.size() >= kExtractPixels &&
         images.fft_im.size() >= kExtractPixels &&
         images.trig_m.size() >= 2 * static_cast<std::size_t>(kSize) &&
         images.trig_n.size() >= 2 * static_cast<std::size_t>(kSize);
}

bool bank_consistent(const KernelBank& bank) {
  const std::size_t values = static_cast<std::size_t>(bank.count) * kExtractPixels;
  return bank.count >= 0 && bank.count <= kMaxKernels &&
         bank.visits.size() == static_cast<std::size_t>(bank.count) &&
         bank.kernel_re.size() == values && bank.kernel_im.size() == values &&
         std::all_of(bank.visits.begin(), bank.visits.end(),
                     [](const KernelVisit& v) { return v.r >= 1; });
}

// Response of the spectrum to kernel n, written re-centred into `response`.
// The caller has checked sizes and the bank.
Status respond(const KernelBank& bank, int n, WorkImages& images, float* response) {
  const double* kre = bank.re(n);
  const double* kim = bank.im(n);
  const double* sre = images.spectrum_re.data();
  const double* sim = images.spectrum_im.data();
  double* fre = images.fft_re.data();
  double* fim = images.fft_im.data();
  // Spectrum times the kernel's conjugate, conjugated in the same pass (the
  // imaginary part is written negated, exactly what a separate conjugation
  // leaves), so that the forward transform is the inverse one.
  for (std::size_t p = 0; p < kExtractPixels; ++p) {
    fre[p] = kre[p] * sre[p] + kim[p] * sim[p];
    fim[p] = -(kre[p] * sim[p] - kim[p] * sre[p]);
  }
  int ifail = 1;
  matching::C06FUF(kSize, kSize, fre, fim, "I", images.trig_m.data(), images.trig_n.data(), nullptr,
                   ifail);
  if (ifail != 0) return transform_failed(bank.settings, ifail);

  // Lag 0 sits at the first element; swapping the quadrants brings it to the
  // middle, where the kernel's centre is.
  const int r = bank.visits[static_cast<std::size_t>(n)].r;
  const double r2 = static_cast<double>(r) * static_cast<double>(r);
  for (int row = 0; row < kSize; ++row) {
    const double* src = fre + static_cast<std::size_t>((row + kHalf) % kSize) * kSize;
    float* dst = response + static_cast<std::size_t>(row) * kSize;
    for (int col = 0; col < kHalf; ++col) {
      dst[col] = static_cast<float>(src[col + kHalf] / r2);
      dst[col + kHalf] = static_cast<float>(src[col] / r2);
    }
  }
  return Status::Ok();
}

// Total variation of `w` over rows and columns first..last, each pixel
// against its left and upper neighbour.
double total_variation(const std::vector<float>& w, SummedRegion region) {
  double t = 0.0;
  for (int i = region.first; i <= region.last; ++i) {
    for (int j = region.first; j <= region.last; ++j) {
      const double here = w[SharedExtract::index(i, j)];
      if (j > 1) t += std::abs(here - w[SharedExtract::index(i, j - 1)]);
      if (i > 1) t += std::abs(here - w[SharedExtract::index(i - 1, j)]);
    }
  }
  return t;
}

}  // namespace

KernelSettings kernel_settings_from(const config::AspectSettings& settings,
                                    std::string_view aspect) {
  KernelSettings k;
  k.aspect = std::string(aspect);
  k.pattern = settings.pattern;
  k.from_r = settings.from_r;
  k.to_r = settings.to_r;
  k.step_r = settings.step_r;
  k.from_theta_deg = settings.from_theta_deg;
  k.to_theta_deg = settings.to_theta_deg;
  k.step_theta_deg = settings.step_theta_deg;
  k.sigmax_ratio = settings.sigmax_ratio;
  k.sigmay = settings.sigmay;
  return k;
}

KernelShape kernel_shape_of(std::string_view pattern) {
  if (pattern == kNoPattern) return KernelShape::kNone;
  if (contains(pattern, "dots")) return KernelShape::kDot;
  if (contains(pattern, "rings")) return KernelShape::kRing;
  return KernelShape::kStripe;
}

Status calc_dot_wavelet(const KernelSettings& settings, KernelBank& bank) {
  return build(settings, KernelShape::kDot, bank, [](KernelVisit v, double x, double y) {
    const double d = std::sqrt(x * x + y * y);
    if (d < v.r) return kDotLevel;
    if (d < v.r * std::numbers::sqrt2) return -kDotLevel;
    return 0.0;
  });
}

Status calc_ring_wavelet(const KernelSettings& settings, KernelBank& bank) {
  const double c = settings.pattern == kWhiteRingsPattern ? -1.0 : 1.0;
  const double ratio = settings.sigmax_ratio;
  return build(settings, KernelShape::kRing, bank, [c, ratio](KernelVisit v, double x, double y) {
    const double d = std::sqrt(x * x + y * y);
    const double t = v.r * ratio / d;
    return c * std::cos(2.0 * std::numbers::pi * d / v.r) * (1.0 - std::exp(-(t * t * t)));
  });
}

Status calc_stripe_wavelet(const KernelSettings& settings, KernelBank& bank) {
  const double ratio = settings.sigmax_ratio;
  const double sigmay = settings.sigmay;
  return build(settings, KernelShape::kStripe, bank,
               [ratio, sigmay](KernelVisit v, double x, double y) {
                 const double theta = v.angle_deg * std::numbers::pi / kHalfTurnDeg;
                 const double u = x * std::sin(theta) + y * std::cos(theta);
                 const double w = x * std::cos(theta) - y * std::sin(theta);
                 const double sx = v.r * ratio;
                 const double e = -0.5 * ((u / sx) * (u / sx) + (w / sigmay) * (w / sigmay));
                 if (std::abs(e) > kStripeExponentLimit) return 0.0;
                 return std::cos(2.0 * std::numbers::pi * u / v.r) * std::exp(e);
               });
}

Status build_kernel_bank(const KernelSettings& settings, KernelBank& bank) {
  switch (kernel_shape_of(settings.pattern)) {
    case KernelShape::kNone:
      bank = KernelBank{};
      bank.settings = settings;
      return Status::Ok();
    case KernelShape::kDot:
      return calc_dot_wavelet(settings, bank);
    case KernelShape::kRing:
      return calc_ring_wavelet(settings, bank);
    case KernelShape::kStripe:
      return calc_stripe_wavelet(settings, bank);
  }
  return Status::InvalidArgument("aspect '" + settings.aspect + "': unknown kernel shape");
}

SummedRegion summed_region(int r) {
  const double reach = r * std::numbers::sqrt2;
  const int first = static_cast<int>(round_half_even(reach + 1.0));
  const int last = static_cast<int>(round_half_even(kSize - reach));
  return {std::max(first, 1), std::min(last, kSize)};
}

Status kernel_response(const KernelBank& bank, int n, WorkImages& images,
                       std::vector<float>& response) {
  if (!sizes_ok(images) || !bank_consistent(bank) || n < 0 || n >= bank.count) {
    return Status::InvalidArgument("extract processing: kernel " + std::to_string(n) +
                                   " is not in the bank, or a buffer has the wrong size");
  }
  response.resize(kExtractPixels);
  return respond(bank, n, images, response.data());
}

Status correlate_with_wavelets(const KernelBank& bank, WorkImages& images,
                               const std::vector<std::int16_t>& cell_blank, int margin,
                               bool sum_correl, WaveletImage& out, std::string& note) {
  note.clear();
  if (bank.shape == KernelShape::kNone) return Status::Ok();
  if (!sizes_ok(images) || cell_blank.size() != kExtractPixels) {
    return Status::InvalidArgument("extract processing: a working image has the wrong size");
  }
  if (!bank_consistent(bank)) {
    return Status::InvalidArgument("aspect '" + bank.settings.aspect +
                                   "': the wavelet kernel bank is incomplete");
  }
  if (margin < 0 || margin > kHalf) {
    return Status::InvalidArgument("extract processing: margin " + std::to_string(margin) +
                                   " is outside 0.." + std::to_string(kHalf));
  }
  const auto finite = [](double v) { return std::isfinite(v); };
  if (!std::all_of(images.spectrum_re.begin(), images.spectrum_re.end(), finite) ||
      !std::all_of(images.spectrum_im.begin(), images.spectrum_im.end(), finite)) {
    return Status::InvalidArgument(
        "extract processing: the transform of the working image holds a value that is not a "
        "finite number");
  }

  const bool black = contains(bank.settings.pattern, "black");
  // Built aside, so that a failing transform leaves the caller's image whole.
  std::vector<float> w(kExtractPixels, 0.0f);
  const float start = sum_correl ? 0.0f : (black ? 1.0f : -1.0f);
  const int lo = margin + 1;
  const int hi = kSize - margin;
  for (int i = lo; i <= hi; ++i) {
    std::fill_n(w.begin() + static_cast<std::ptrdiff_t>(SharedExtract::index(i, lo)), hi - lo + 1,
                start);
  }
  if (bank.visits.empty()) {
    append_note(note, "Aspect '" + bank.settings.aspect +
                          "' has no wavelet kernel (its radius or angle loop names none), so the "
                          "decomposition holds no pattern.");
  }

  std::vector<float> response(kExtractPixels);
  std::vector<std::uint32_t> valid;  // summed form: pixels of the current radius that count
  double mean_response = 0.0;        // of the last response added
  double previous_t = 0.0;
  for (std::size_t n = 0; n < bank.visits.size(); ++n) {
    if (Status s = respond(bank, static_cast<int>(n), images, response.data()); !s.ok()) return s;
    const int r = bank.visits[n].r;
    if (!sum_correl) {
      for (int i = lo; i <= hi; ++i) {
        const std::size_t row = SharedExtract::index(i, 1);
        for (int j = lo - 1; j < hi; ++j) {
          float& v = w[row + static_cast<std::size_t>(j)];
          const float x = response[row + static_cast<std::size_t>(j)];
          v = black ? std::min(v, x) : std::max(v, x);
        }
      }
      continue;
    }

    const bool first_of_radius = n == 0 || bank.visits[n - 1].r != r;
    const bool last_of_radius = n + 1 == bank.visits.size() || bank.visits[n + 1].r != r;
    const SummedRegion region = summed_region(r);
    if (first_of_radius) {
      const double reach = r * std::numbers::sqrt2;
      valid.clear();
      for (int i = region.first; i <= region.last; ++i) {
        for (int j = region.first; j <= region.last; ++j) {
          const std::size_t k = SharedExtract::index(i, j);
          if (cell_blank[k] == kUsablePixel && images.blank_distance[k] > reach) {
            valid.push_back(static_cast<std::uint32_t>(k));
          }
        }
      }
      if (valid.empty()) {
        append_note(note, "No pixel far enough from the blanks is left for radius " +
                              std::to_string(r) + ", so it adds nothing to the decomposition.");
      }
    }
    if (!valid.empty()) {
      double sum = 0.0;
      for (std::uint32_t k : valid) sum += response[k];
      mean_response = sum / static_cast<double>(valid.size());
      for (std::uint32_t k : valid) w[k] = static_cast<float>(w[k] + (response[k] - mean_response));
    }
    if (!last_of_radius) continue;
    // A finer image than the radius before means the larger kernels only
    // blur: the last response goes back out and the larger radii are not used.
    const double t = total_variation(w, region);
    if (t < previous_t) {
      for (std::uint32_t k : valid) w[k] = static_cast<float>(w[k] - (response[k] - mean_response));
      break;
    }
    previous_t = t;
  }

  double min = 1e20;
  double max = -1e20;
  for (float v : w) {
    min = std::min<double>(min, v);
    max = std::max<double>(max, v);
  }
  const bool flat = !(max > min) || !std::isfinite(max - min);
  if (flat) {
    std::fill(w.begin(), w.end(), kFlatWaveletGrey);
    append_note(note,
                "The wavelet decomposition is flat (no response differs), so it was set "
                "to mid-grey and shows no pattern.");
  } else {
    for (float& v : w) v = static_cast<float>((v - min) * kWaveletMaxGrey / (max - min));
  }

  out.image = std::move(w);
  double count = 0.0;
  double sum = 0.0;
  double sum_sq = 0.0;
  for (float v : out.image) {
    if (v == kWaveletMaxGrey) continue;
    count += 1.0;
    sum += v;
    sum_sq += static_cast<double>(v) * v;
  }
  out.mean = count > 0.0 ? sum / count : kWaveletMaxGrey;
  const double variance = count > 1.0 ? (sum_sq - sum * sum / count) / (count - 1.0) : 0.0;
  out.sd = variance > 0.0 ? std::sqrt(variance) : 0.0;
  if (out.sd == 0.0 && !flat) {
    append_note(note, "The wavelet decomposition has no spread below its background (" +
                          std::to_string(static_cast<long>(count)) +
                          " pixels counted), so its standard deviation was set to 0.");
  }
  return Status::Ok();
}

}  // namespace velmora::extract

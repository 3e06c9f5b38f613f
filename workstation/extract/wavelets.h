// The wavelet decomposition of an extract: a bank of pattern kernels built
// once per start of extraction, and the correlation of each detrended extract
// with every kernel of the bank, combined into one image scaled to 0..254.
//
// Kernels are 256 x 256 images centred between pixels: pixel (i, j) (row,
// column, counted from 1) lies at x = j - 128.5, y = i - 128.5, d = sqrt(x^2 +
// y^2). The bank keeps their forward transforms (scaled by 1/256, as the
// transform of the working image), so an extract costs one transform per
// kernel.
//
//   dot     K = 10 for d < r, -10 for r <= d < r*sqrt(2), 0 beyond: a disc and
//           a ring of about equal area, one kernel per radius;
//   ring    s = r * sigmax_ratio, K = c * cos(2 pi d / r) * (1 - exp(-(s/d)^3)),
//           c = -1 for the pattern "white_rings" exactly, +1 otherwise; one
//           kernel per radius;
//   stripe  a Gabor kernel per (radius, angle): theta = angle * pi / 180,
//           u = x sin(theta) + y cos(theta), v = x cos(theta) - y sin(theta),
//           e = -((u / (r * sigmax_ratio))^2 + (v / sigmay)^2) / 2,
//           K = cos(2 pi u / r) * exp(e), and 0 where |e| > 709. At angle 0
//           u = y: the stripes run along the rows.
//
// Radii run from_r, from_r + step_r, ... while r <= to_r (while r >= to_r for
// a negative step), angles likewise inside each radius. The correlation
// visits one (radius, angle) pair per kernel in the order they were built.
// Dot and ring kernels have no direction, so their angle settings must name
// exactly one angle: from_theta_deg = to_theta_deg whatever the step (0, 0, 0
// is how a fresh aspect row leaves them), or a loop that stops after its
// first angle. The correlation then visits one pair per radius.
//
// The bank refuses, before building anything, settings the correlation could
// not run: a step of 0 in a loop that would run, more than kMaxKernels pairs,
// a dot or ring aspect naming no angle or several, a radius below 1 (the
// response is divided by r^2 and the summed region depends on r), and for
// ring and stripe kernels a width (sigmax_ratio, and sigmay for stripes) that
// is not a positive number. Each message names the aspect and the values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/config/aspects.h"
#include "workstation/extract/shared_extract.h"
#include "workstation/extract/work_images.h"

namespace velmora::extract {

// Kernels the bank holds at most.
inline constexpr int kMaxKernels = 48;
// The pattern of an aspect without marks: no bank, no decomposition.
inline constexpr std::string_view kNoPattern = "none";
// The one ring pattern whose marks are light.
inline constexpr std::string_view kWhiteRingsPattern = "white_rings";
// Grey range of the decomposition after scaling, and the grey of a flat one.
inline constexpr float kWaveletMaxGrey = 254.0f;
inline constexpr float kFlatWaveletGrey = 127.0f;

struct KernelSettings {
  std::string aspect;  // names the aspect in messages
  std::string pattern;
  std::int16_t from_r = 0, to_r = 0, step_r = 0;
  std::int16_t from_theta_deg = 0, to_theta_deg = 0, step_theta_deg = 0;
  double sigmax_ratio = 0.0;
  double sigmay = 0.0;
};

KernelSettings kernel_settings_from(const config::AspectSettings& settings,
                                    std::string_view aspect);

enum class KernelShape { kNone, kDot, kRing, kStripe };

// "none" -> none; containing "dots" -> dot; else containing "rings" -> ring;
// anything else -> stripe.
KernelShape kernel_shape_of(std::string_view pattern);

// One step of the correlation: the radius and angle it visits with the
// kernel of the same index.
struct KernelVisit {
  int r = 0;
  int angle_deg = 0;
  friend bool operator==(const KernelVisit&, const KernelVisit&) = default;
};

// The kernels of one aspect. kernel_re / kernel_im hold exactly `count`
// transforms of kExtractPixels values each (kernel n from element
// n * kExtractPixels, n counted from 0): only what is built is allocated, at
// most 2 x 48 x 65536 doubles (50 MB).
struct KernelBank {
  KernelShape shape = KernelShape::kNone;
  KernelSettings settings;
  int count = 0;
  std::vector<KernelVisit> visits;  // in correlation order; visit n uses kernel n
  std::vector<double> kernel_re;
  std::vector<double> kernel_im;

  const double* re(int n) const { return kernel_re.data() + offset(n); }
  const double* im(int n) const { return kernel_im.data() + offset(n); }
  static std::size_t offset(int n) { return static_cast<std::size_t>(n) * kExtractPixels; }
};

// The builders. Each checks the settings for its shape first and, when they
// are refused, returns InvalidArgument leaving `bank` as it was; otherwise it
// replaces `bank` with the kernels of `settings` (radii from_r .. to_r, and
// for stripes angles from_theta_deg .. to_theta_deg; the ring's sign from
// `pattern`). Settings that name no radius (from_r > to_r with a positive
// step) or, for stripes, no angle give an empty bank.
Status calc_dot_wavelet(const KernelSettings& settings, KernelBank& bank);
Status calc_ring_wavelet(const KernelSettings& settings, KernelBank& bank);
Status calc_stripe_wavelet(const KernelSettings& settings, KernelBank& bank);

// Chooses the builder by kernel_shape_of(pattern) and runs it. "none" leaves
// an empty bank of shape kNone and is Ok.
Status build_kernel_bank(const KernelSettings& settings, KernelBank& bank);

// The wavelet decomposition of one extract and the statistics the spot and
// stripe steps use: mean and standard deviation over the pixels that are not
// exactly 254 (the background of a dark pattern).
struct WaveletImage {
  std::vector<float> image;  // kExtractPixels, row-major, 0..254
  double mean = 0.0;
  double sd = 0.0;
};

// Rows and columns a..b of the summed form for radius r: r*sqrt(2) + 1 and
// 256 - r*sqrt(2), each rounded to the nearest integer, halves to even.
struct SummedRegion {
  int first = 0;
  int last = 0;
};
SummedRegion summed_region(int r);

// The response of the working image to the kernel of visit n (counted from
// 0): spectrum times the kernel's conjugate, transformed back, divided by
// r^2 and re-centred by swapping quadrants, so that response(i, j) is
//   sum over kernel pixels (p, q) of work(p + i - 129, q + j - 129) * K(p, q)
//     / (256 r^2),
// indices taken modulo 256 (the correlation is cyclic). spectrum_re/im must
// hold the transform of work_image (transform_work_image); the transform
// buffers of `images` are overwritten. `response` is resized to
// kExtractPixels.
Status kernel_response(const KernelBank& bank, int n, WorkImages& images,
                       std::vector<float>& response);

// Correlates the working image with every visit of the bank and fills `out`:
//  1. start: 0 everywhere; inside the margin frame (rows and columns
//     margin + 1 .. 256 - margin) 0 with sum_correl, else 1 for a pattern
//     containing "black", else -1;
//  2. per visit, without sum_correl, the minimum ("black") or maximum of the
//     start and every response inside the frame; with sum_correl, the
//     response less its mean over the valid pixels (rows and columns in the
//     summed region of r, not blank, blank_distance > r*sqrt(2)) is added at
//     those pixels. A radius with no valid pixel adds nothing (note);
//  3. with sum_correl, after the angles of each radius the total variation of
//     the image over the summed region is compared with that of the radius
//     before (0 at first): when it fell, the last response is taken back and
//     the remaining radii are skipped;
//  4. scale min..max to 0..254; a flat image (max = min) becomes all
//     kFlatWaveletGrey (note);
//  5. mean and sd over the pixels that are not exactly 254; sd is 0 (note)
//     when fewer than two pixels count or the spread is zero.
// `cell_blank` is the extract's blank mask (already rotated by load_extract),
// blank where not 0; images.spectrum_re/im must hold the transform of
// work_image, and blank_distance the distance map; the transform buffers are
// overwritten. A bank of shape kNone runs
// nothing and leaves `out` as it was. An empty bank (no radius or no angle)
// correlates nothing: steps 1, 4 and 5 still run, so `out` is the scaled
// start image (all kFlatWaveletGrey with sum_correl or margin 0), with a note.
// Fails with InvalidArgument, leaving `out` as it was, when a buffer has the
// wrong size, the margin is outside 0..128, the bank is inconsistent, the
// spectrum holds a value that is not finite or a transform fails.
Status correlate_with_wavelets(const KernelBank& bank, WorkImages& images,
                               const std::vector<std::int16_t>& cell_blank, int margin,
                               bool sum_correl, WaveletImage& out, std::string& note);

}  // namespace velmora::extract

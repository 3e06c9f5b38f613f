#include "workstation/extract/detrend.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "workstation/matching/numerics.h"

namespace velmora::extract {
namespace {

constexpr int kSize = kExtractRows;  // the extract is square
constexpr int kFillPasses = 5;
constexpr int kWeightSteps = 10;

bool sizes_ok(const WorkImages& images) {
  return images.work_image.size() == kExtractPixels &&
         images.work_colour.size() == static_cast<std::size_t>(kColourPlanes) * kExtractPixels &&
         images.filtered_image.size() == kExtractPixels &&
         images.blank_distance.size() == kExtractPixels &&
         images.spectrum_re.size() == kExtractPixels &&
         images.spectrum_im.size() == kExtractPixels && images.fft_re.size() >= kExtractPixels &&
         images.fft_im.size() >= kExtractPixels &&
         images.trig_m.size() >= 2 * static_cast<std::size_t>(kSize) &&
         images.trig_n.size() >= 2 * static_cast<std::size_t>(kSize) &&
         images.fft_work.size() >= 2 * kExtractPixels;
}

bool extract_sizes_ok(const SharedExtract& extract) {
  return extract.intensity.size() == kExtractPixels &&
         extract.rgb.size() == static_cast<std::size_t>(kColourPlanes) * kExtractPixels &&
         extract.blank.size() == kExtractPixels;
}

// Writes into dst(i, j) the value of src at (257 - j, i): a quarter turn that
// brings the bottom-left pixel to the top left.
template <typename T>
void rotate_into(const T* src, T* dst) {
  for (int i = 1; i <= kSize; ++i) {
    for (int j = 1; j <= kSize; ++j) {
      dst[SharedExtract::index(i, j)] = src[SharedExtract::index(kSize + 1 - j, i)];
    }
  }
}

template <typename T>
void rotate_in_place(std::vector<T>& image) {
  const std::vector<T> copy = image;
  rotate_into(copy.data(), image.data());
}

Status transform_failed(const char* step, int ifail) {
  return Status::InvalidArgument(
      std::string("extract processing: the two-dimensional transform (") + step +
      ") failed with code " + std::to_string(ifail));
}

void append_note(std::string& note, const std::string& sentence) {
  if (!note.empty()) note += ' ';
  note += sentence;
}

// A coefficient's distance to the nearest zero-frequency corner decides the
// pass band; the four distances are those of the periodic spectrum.
bool keep_coefficient(int i, int j, bool low, int cutoff) {
  const int d1 = (i - 1) + (j - 1);
  const int d2 = (i - 1) + (kSize + 1 - j);
  const int d3 = (kSize + 1 - i) + (j - 1);
  const int d4 = (kSize + 1 - i) + (kSize + 1 - j);
  if (low) return d1 < cutoff || d2 < cutoff || d3 < cutoff || d4 < cutoff;
  return d1 > cutoff && d2 > cutoff && d3 > cutoff && d4 > cutoff;
}

}  // namespace

Status load_extract(SharedExtract& extract, WorkImages& images, std::string_view cell_type,
                    std::string& note) {
  note.clear();
  if (!extract_sizes_ok(extract) || !sizes_ok(images)) {
    return Status::InvalidArgument("extract processing: an extract buffer has the wrong size");
  }
  if (cell_type == kLateralCellType) {
    images.work_image = extract.intensity;
    images.work_colour = extract.rgb;
  } else {
    rotate_into(extract.intensity.data(), images.work_image.data());
    for (int p = 0; p < kColourPlanes; ++p) {
      const std::size_t offset = SharedExtract::plane_offset(static_cast<ColourPlane>(p));
      rotate_into(extract.rgb.data() + offset, images.work_colour.data() + offset);
    }
    rotate_in_place(extract.blank);
    rotate_in_place(images.blank_distance);
  }

  // The true minimum and maximum, each looked for on every pixel: a pixel
  // that lowers the minimum may also be the largest seen so far.
  const auto [lo, hi] = std::minmax_element(images.work_image.begin(), images.work_image.end());
  const double min = *lo;
  const double max = *hi;
  if (!(max > min)) {
    std::fill(images.work_image.begin(), images.work_image.end(), std::floor(kLoadedMaxGrey / 2));
    append_note(note,
                "The extract is flat (every pixel has the same grey), so it was set to "
                "mid-grey and shows no pattern.");
    return Status::Ok();
  }
  const double scale = kLoadedMaxGrey / (max - min);
  for (double& v : images.work_image) v = (v - min) * scale;
  return Status::Ok();
}

Status transform_work_image(WorkImages& images) {
  if (!sizes_ok(images)) {
    return Status::InvalidArgument("extract processing: a working image has the wrong size");
  }
  std::copy(images.work_image.begin(), images.work_image.end(), images.fft_re.begin());
  std::fill(images.fft_im.begin(), images.fft_im.begin() + kExtractPixels, 0.0);
  int ifail = 1;
  matching::C06FUF(kSize, kSize, images.fft_re.data(), images.fft_im.data(), "I",
                   images.trig_m.data(), images.trig_n.data(), images.fft_work.data(), ifail);
  if (ifail != 0) return transform_failed("forward", ifail);
  std::copy_n(images.fft_re.begin(), kExtractPixels, images.spectrum_re.begin());
  std::copy_n(images.fft_im.begin(), kExtractPixels, images.spectrum_im.begin());
  return Status::Ok();
}

Status band_filter(WorkImages& images, std::vector<float>& image, double& mean,
                   std::string_view mode, int cutoff) {
  const bool low = mode == "low";
  if (!low && mode != "high") {
    return Status::InvalidArgument("extract processing: band filter mode '" + std::string(mode) +
                                   "' is neither 'low' nor 'high'");
  }
  if (Status s = transform_work_image(images); !s.ok()) return s;

  // The spectrum stays as it is (others read it); the pass band is cut out of
  // the transform buffers, which already hold the same values.
  for (int i = 1; i <= kSize; ++i) {
    for (int j = 1; j <= kSize; ++j) {
      if (!keep_coefficient(i, j, low, cutoff)) {
        const std::size_t k = SharedExtract::index(i, j);
        images.fft_re[k] = 0.0;
        images.fft_im[k] = 0.0;
      }
    }
  }
  // Conjugate then forward transform: with the symmetric 1/sqrt(M*N) scaling
  // the real part is the inverse transform.
  int ifail = 1;
  matching::C06GCF(images.fft_im.data(), static_cast<int>(kExtractPixels), ifail);
  if (ifail != 0) return transform_failed("conjugate", ifail);
  ifail = 1;
  matching::C06FUF(kSize, kSize, images.fft_re.data(), images.fft_im.data(), "S",
                   images.trig_m.data(), images.trig_n.data(), images.fft_work.data(), ifail);
  if (ifail != 0) return transform_failed("inverse", ifail);

  image.resize(kExtractPixels);
  double sum = 0.0;
  for (std::size_t k = 0; k < kExtractPixels; ++k) {
    image[k] = static_cast<float>(images.fft_re[k]);
    sum += image[k];
  }
  mean = sum / static_cast<double>(kExtractPixels);
  return Status::Ok();
}

Status detrend(WorkImages& images, const SharedExtract& extract, int cutoff, std::string& note) {
  note.clear();
  if (!extract_sizes_ok(extract) || !sizes_ok(images)) {
    return Status::InvalidArgument("extract processing: an extract buffer has the wrong size");
  }
  if (cutoff < kMinDetrendCutoff) {
    append_note(note, "The filter cut-off " + std::to_string(cutoff) +
                          " keeps no trend; detrending used 1.");
    cutoff = kMinDetrendCutoff;
  }

  // Blanks take the low-pass of their surroundings, refined over several
  // passes, so they neither pull the trend towards the fill grey nor leave a
  // step at the blank edge.
  double mean = 0.0;
  std::vector<double>& work = images.work_image;
  std::vector<float>& low = images.filtered_image;
  for (int pass = 0; pass < kFillPasses; ++pass) {
    if (Status s = band_filter(images, low, mean, "low", cutoff); !s.ok()) return s;
    for (std::size_t k = 0; k < kExtractPixels; ++k) {
      if (extract.blank[k] != kUsablePixel) work[k] = low[k];
    }
  }

  if (mean > 0.0 && std::isfinite(mean)) {
    // The weight ends where the ratio image stops getting flatter, or before
    // the trend gets close enough to 0 to blow the ratio up. A trend whose
    // minimum passes the tenth-of-the-mean test is positive everywhere, so
    // the ratio is only formed where it is safe.
    const double n = static_cast<double>(kExtractPixels);
    double best = 1e20;
    int w_end = kWeightSteps + 1;
    for (int w = 0; w <= kWeightSteps; ++w) {
      const double weight = static_cast<double>(w) / kWeightSteps;
      double tmin = 1e20;
      for (std::size_t k = 0; k < kExtractPixels; ++k) {
        tmin = std::min(tmin, mean + (low[k] - mean) * weight);
      }
      if (w > 0 && mean / 10.0 > tmin) {
        w_end = w;
        break;
      }
      double s = 0.0;
      double q = 0.0;
      for (std::size_t k = 0; k < kExtractPixels; ++k) {
        const double ratio = work[k] / (mean + (low[k] - mean) * weight);
        s += ratio;
        q += ratio * ratio;
      }
      const double spread = q - s * s / n;
      if (w > 0 && spread > best) {
        w_end = w;
        break;
      }
      best = spread;
    }
    const double weight = static_cast<double>(w_end - 1) / kWeightSteps;
    for (std::size_t k = 0; k < kExtractPixels; ++k) {
      work[k] /= mean + (low[k] - mean) * weight;
    }
  } else {
    append_note(note,
                "The extract has no positive brightness trend, so it was not divided by "
                "one; it was only rescaled.");
  }

  const auto [lo, hi] = std::minmax_element(work.begin(), work.end());
  const double min = *lo;
  const double max = *hi;
  if (!(max > min) || !std::isfinite(max - min)) {
    std::fill(work.begin(), work.end(), std::floor((kDetrendedMinGrey + kDetrendedMaxGrey) / 2));
    append_note(note, "The detrended extract is flat, so it was set to mid-grey.");
    return Status::Ok();
  }
  const double scale = (kDetrendedMaxGrey - kDetrendedMinGrey) / (max - min);
  for (double& v : work) v = (v - min) * scale + kDetrendedMinGrey;
  return Status::Ok();
}

}  // namespace velmora::extract

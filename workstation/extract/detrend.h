// Loading an extract into the working images, the frequency-domain band
// filter, and detrending (division by a low-pass trend image).
//
// None of these paint anything: the processing window shows the images
// afterwards. Each returns a Status for faults that stop the step (buffers of
// the wrong size, an unknown filter mode, a failing transform) and leaves in
// `note` a sentence for the operator when the data were degenerate but the
// step still left a usable image (a flat extract, a zero trend, a cut-off
// raised to 1). `note` is cleared on entry.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/extract/shared_extract.h"
#include "workstation/extract/work_images.h"

namespace velmora::extract {

// The only cell type whose extracts are used as they are; every other one is
// turned a quarter turn so that all aspects reach processing the same way up.
inline constexpr std::string_view kLateralCellType = "lateral";

// Grey range of work_image after loading, and after detrending.
inline constexpr double kLoadedMaxGrey = 254.0;
inline constexpr double kDetrendedMinGrey = 1.0;
inline constexpr double kDetrendedMaxGrey = 254.0;

// Lowest cut-off detrending accepts: with 0 the low-pass keeps nothing and the
// trend would be zero everywhere.
inline constexpr int kMinDetrendCutoff = 1;

// Copies the extract's intensity and colour into work_image and work_colour.
// For any cell type but "lateral" (exact text) the copy is rotated:
//   work_image(i, j) = CellIntensity(257 - j, i), likewise each colour plane,
// and the extract's CellBlank and images.blank_distance are rotated in place
// the same way, so every later step sees the rotated mask. work_image is then
// scaled so that its minimum becomes 0 and its maximum 254. A flat extract
// (maximum = minimum) cannot be scaled: every pixel is set to mid-grey 127
// and a note says so.
Status load_extract(SharedExtract& extract, WorkImages& images, std::string_view cell_type,
                    std::string& note);

// Forward two-dimensional transform of work_image into spectrum_re/im
// (scaled by 1/256, the transform's 1/sqrt(M*N)).
Status transform_work_image(WorkImages& images);

// Transforms work_image, keeps the pass band and transforms back into `image`
// (65536 floats, resized if needed); `mean` is the mean of `image`. A
// frequency (i, j), i, j in 1..256, has four distances to the zero-frequency
// corners of the periodic spectrum, (i-1)+(j-1), (i-1)+(257-j), (257-i)+(j-1)
// and (257-i)+(257-j). mode "low" keeps a coefficient when any distance is
// below `cutoff`, mode "high" when all are above it; a coefficient at exactly
// the cut-off passes neither. work_image is left unchanged; spectrum_re/im
// hold its transform afterwards.
Status band_filter(WorkImages& images, std::vector<float>& image, double& mean,
                   std::string_view mode, int cutoff);

// Detrends work_image in place using the blank mask of `extract` (already
// rotated by load_extract):
//  1. five times low-pass work_image into filtered_image and copy the
//     low-pass value into every blank pixel, so blanks take the local trend;
//  2. for weights w = 0, 0.1, ..., 1 form trend = mean + (low - mean) * w and
//     keep the last weight before the spread of work_image / trend grows or
//     the trend's minimum falls below a tenth of the mean;
//  3. divide work_image by that trend and rescale it to 1..254.
// A cut-off below 1 is raised to 1 (note). When the low-pass mean is not
// positive there is no usable trend: the division is skipped and only the
// rescale is done (note). A flat result is set to mid-grey (note).
Status detrend(WorkImages& images, const SharedExtract& extract, int cutoff, std::string& note);

}  // namespace velmora::extract

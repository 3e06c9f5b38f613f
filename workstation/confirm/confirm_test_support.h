// Test support of the review: photographs and fit files on disk.
#pragma once

#include <string>

#include "workstation/model/fit_records.h"

namespace velmora::confirm::test_support {

// The head of a JPEG file up to its frame header (start of image, a JFIF
// segment, a quantisation table, the frame header of `marker` with the
// size, end of image): all a reader of the size looks at.
std::string jpeg_bytes(int width, int height, int marker = 0xC0);

// Writes `jpeg_bytes(width, height)` to `path` (folders made).
void write_jpeg(const std::string& path, int width, int height);

// Writes the fit file of `cell` under `data_folder` with `crop` as its crop
// record (the marks empty).
void write_fit(const std::string& data_folder, const std::string& cell,
               const model::CropRecord& crop);

// A crop record of a work picture of 900 x 600 over the given photograph
// rectangle.
model::CropRecord crop_of(int x, int y, int width, int height);

}  // namespace velmora::confirm::test_support

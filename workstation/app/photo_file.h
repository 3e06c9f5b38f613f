// Photographs on disk for the headless programs: JPEG (or any format Qt's
// image reader knows) decoded into the fitting core's plain Photo, without
// a display.
#pragma once

#include <string>

#include "workstation/common/status.h"
#include "workstation/model/photo.h"

namespace velmora::app {

// Reads the photograph at `path`. A missing, unreadable or corrupt file, or
// one larger than kMaxPhotoPixels, is refused with a message naming it.
Status load_photo(const std::string& path, model::Photo* photo);

// Photographs larger than this (about 100 megapixels) are refused rather
// than decoded: the work picture is cut from far fewer pixels.
inline constexpr long long kMaxPhotoPixels = 100'000'000;

}  // namespace velmora::app

// Photographs and pictures on disk for the fitting core: JPEG (or any format
// Qt's image reader knows) decoded into the core's plain Photo, and the
// conversions between a Photo and a QImage at the window's edge. Qt GUI
// only, no widgets and no display: the headless programs use it too.
#pragma once

#include <QImage>
#include <string>

#include "workstation/common/status.h"
#include "workstation/model/photo.h"

namespace velmora::model {

// Reads the photograph at `path`. A missing, unreadable or corrupt file, or
// one larger than kMaxPhotoPixels, is refused with a message naming it.
Status load_photo(const std::string& path, Photo* photo);

// Photographs larger than this (about 100 megapixels) are refused rather
// than decoded: the work picture is cut from far fewer pixels.
inline constexpr long long kMaxPhotoPixels = 100'000'000;

// The same pixels as a QImage (RGB888) and back; any QImage format is taken.
QImage photo_to_image(const Photo& photo);
Photo image_to_photo(const QImage& image);

}  // namespace velmora::model

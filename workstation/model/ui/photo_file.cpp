#include "workstation/model/ui/photo_file.h"

#include <QImageReader>
#include <algorithm>
#include <filesystem>

namespace velmora::model {

Status load_photo(const std::string& path, Photo* photo) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    return Status::NotFound(path + ": no such photograph");
  QImageReader reader(QString::fromStdString(path));
  const QSize size = reader.size();
  if (size.isValid() && static_cast<long long>(size.width()) * size.height() > kMaxPhotoPixels)
    return Status::InvalidArgument(path + ": the photograph is too large (" +
                                   std::to_string(size.width()) + " x " +
                                   std::to_string(size.height()) + " pixels)");
  QImage image = reader.read();
  if (image.isNull())
    return Status::Corruption(path + ": not a readable photograph (" +
                              reader.errorString().toStdString() + ")");
  *photo = image_to_photo(image);
  return Status::Ok();
}

QImage photo_to_image(const Photo& photo) {
  if (!photo.valid()) return QImage();
  QImage image(photo.width, photo.height, QImage::Format_RGB888);
  for (int y = 0; y < photo.height; ++y)
    std::copy(photo.rgb.begin() + 3LL * y * photo.width,
              photo.rgb.begin() + 3LL * (y + 1) * photo.width, image.scanLine(y));
  return image;
}

Photo image_to_photo(const QImage& source) {
  if (source.isNull()) return Photo();
  const QImage image = source.convertToFormat(QImage::Format_RGB888);
  Photo out(image.width(), image.height());
  for (int y = 0; y < image.height(); ++y) {
    const uchar* line = image.constScanLine(y);
    std::copy(line, line + 3 * image.width(), out.rgb.begin() + 3LL * y * image.width());
  }
  return out;
}

}  // namespace velmora::model

#include "workstation/app/photo_file.h"

#include <QImage>
#include <QImageReader>
#include <filesystem>

namespace velmora::app {

Status load_photo(const std::string& path, model::Photo* photo) {
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
  image = image.convertToFormat(QImage::Format_RGB888);
  model::Photo out(image.width(), image.height());
  for (int y = 0; y < image.height(); ++y) {
    const uchar* line = image.constScanLine(y);
    std::copy(line, line + 3 * image.width(), out.rgb.begin() + 3LL * y * image.width());
  }
  *photo = std::move(out);
  return Status::Ok();
}

}  // namespace velmora::app

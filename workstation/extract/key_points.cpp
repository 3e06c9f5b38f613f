// The key-point generator (see key_points.h), on the scale-invariant
// feature detector of the picture library with its usual settings (three
// layers per octave, contrast threshold 0.04, edge threshold 10, sigma 1.6).
//
// A 256 x 256 pelt gives a few hundred keys in about 50 ms. The library's
// key angle is in degrees, clockwise on the screen (rows grow downwards),
// which is the column-to-row direction of the key file; its key size is the
// diameter 2 sigma.
#include "workstation/extract/key_points.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <numeric>
#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>

#include "workstation/common/file_reading.h"

namespace velmora::extract {
namespace {

constexpr int kRawSide = 256;
constexpr int kSmallestSide = 16;
constexpr int kLargestSide = 8192;

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The header's fields: "P5", columns, rows, largest value, each after
// blanks, the last followed by exactly one blank.
Status parse_pgm(const std::string& bytes, const std::string& path, GreyPicture* picture) {
  auto bad = [&](const std::string& what) {
    return Status::Corruption(path + ": not a binary grey map the key maker reads (" + what + ")");
  };
  if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '5') return bad("it does not start P5");
  size_t at = 2;
  long fields[3] = {0, 0, 0};
  for (long& field : fields) {
    if (at >= bytes.size() || !is_space(bytes[at])) return bad("header fields must be separated");
    while (at < bytes.size() && is_space(bytes[at])) ++at;
    const size_t start = at;
    while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9' && at - start < 6) {
      field = field * 10 + (bytes[at] - '0');
      ++at;
    }
    if (at == start) return bad("a header field is not a number");
  }
  if (at >= bytes.size() || !is_space(bytes[at])) return bad("the header does not end in a blank");
  ++at;
  const long columns = fields[0], rows = fields[1];
  if (fields[2] != 255) return bad("largest value " + std::to_string(fields[2]) + ", not 255");
  if (columns < kSmallestSide || rows < kSmallestSide || columns > kLargestSide ||
      rows > kLargestSide) {
    return bad(std::to_string(columns) + " x " + std::to_string(rows) + " pixels");
  }
  const size_t pixels = static_cast<size_t>(columns) * static_cast<size_t>(rows);
  if (bytes.size() - at != pixels) {
    return bad(std::to_string(bytes.size() - at) + " bytes of pixels where " +
               std::to_string(pixels) + " belong");
  }
  picture->rows = static_cast<int>(rows);
  picture->columns = static_cast<int>(columns);
  picture->pixels.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
  return Status::Ok();
}

}  // namespace

Status read_key_input(const std::string& path, GreyPicture* picture) {
  *picture = GreyPicture{};
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return Status::NotFound(path + ": cannot read the key input (" + ec.message() + ")");
  const bool raw = path.size() > 4 && path.compare(path.size() - 4, 4, ".raw") == 0;
  if (raw && size != static_cast<std::uintmax_t>(kRawSide) * kRawSide) {
    return Status::Corruption(path + ": a raw extract image holds 65536 bytes, this one " +
                              std::to_string(size));
  }
  // The largest grey map read, with room for its header.
  if (size > static_cast<std::uintmax_t>(kLargestSide) * kLargestSide + 64) {
    return Status::Corruption(path + ": too large for a key input");
  }
  std::string bytes;
  Status s = read_file_of_size(path, static_cast<size_t>(size), "the key input", &bytes);
  if (!s.ok()) return s;
  if (!raw) return parse_pgm(bytes, path, picture);
  picture->rows = picture->columns = kRawSide;
  picture->pixels.assign(bytes.begin(), bytes.end());
  return Status::Ok();
}

Status make_key_points(const GreyPicture& picture, bristane::KeyList* keys) {
  *keys = bristane::KeyList{};
  if (picture.rows < kSmallestSide || picture.columns < kSmallestSide ||
      picture.pixels.size() != static_cast<size_t>(picture.rows) * picture.columns) {
    return Status::InvalidArgument("key points need a picture of at least 16 x 16 pixels");
  }
  // The library takes the buffer without copying and does not write to it.
  const cv::Mat image(picture.rows, picture.columns, CV_8UC1,
                      const_cast<std::uint8_t*>(picture.pixels.data()));
  std::vector<cv::KeyPoint> points;
  cv::Mat descriptors;
  try {
    cv::Ptr<cv::SIFT> sift = cv::SIFT::create();
    sift->detectAndCompute(image, cv::noArray(), points, descriptors);
  } catch (const cv::Exception& e) {
    return Status::InvalidArgument(std::string("the key-point detector failed: ") + e.what());
  }
  const int n = static_cast<int>(points.size());
  if (descriptors.rows != n || (n > 0 && descriptors.cols != bristane::kDescriptorLength)) {
    return Status::InvalidArgument("the key-point detector gave descriptors of an unknown size");
  }
  std::vector<int> order(static_cast<size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return points[a].response > points[b].response; });
  keys->announced = n;
  keys->locations.reserve(static_cast<size_t>(n) * bristane::kLocationValues);
  keys->descriptors.reserve(static_cast<size_t>(n) * bristane::kDescriptorLength);
  for (int k : order) {
    const cv::KeyPoint& p = points[static_cast<size_t>(k)];
    double angle = p.angle * std::numbers::pi / 180.0;
    if (angle > std::numbers::pi) angle -= 2.0 * std::numbers::pi;
    keys->locations.insert(keys->locations.end(),
                           {p.pt.y, p.pt.x, p.size / 2.0f, static_cast<float>(angle)});
    const float* d = descriptors.ptr<float>(k);
    for (int v = 0; v < bristane::kDescriptorLength; ++v) {
      keys->descriptors.push_back(cv::saturate_cast<std::uint8_t>(d[v]));
    }
  }
  return Status::Ok();
}

}  // namespace velmora::extract

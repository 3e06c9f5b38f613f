// FillArrays and the feature batch (see feature_arrays.h).
#include "workstation/matching/feature_arrays.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "workstation/common/file_reading.h"
#include "workstation/extract/feature_file.h"

namespace velmora::matching {
namespace {

namespace fs = std::filesystem;

// Larger than any feature file: 4096 + 1 + 255 x 4 + 1 + 27 + 2 x 10952.
constexpr std::uintmax_t kLargestFeatureFile = 32 * 1024;

}  // namespace

FeatureBatch::FeatureBatch(int capacity, FeatureLayout layout)
    : capacity_(std::max(capacity, 0)), layout_(layout) {
  const size_t n = static_cast<size_t>(capacity_);
  corrcell_.assign(n * kCellInts, 0);
  n_spot_.assign(n, 0);
  spots_.assign(n * kMaxComparedSpots * layout_.spot_stride(), 0);
  n_seed_.assign(n, 0);
  seeds_.assign(n * kSeedInts, 0);
  top_.assign(n * kMapInts, 0);
  if (layout_.stripes) bottom_.assign(n * kMapInts, 0);
  filename_.reserve(n);
}

Status FeatureBatch::add(const std::string& name, const std::string& path) {
  if (n_files_ >= capacity_) {
    return Status::InvalidArgument("the feature batch is full (" + std::to_string(capacity_) +
                                   " extracts)");
  }
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) return Status::NotFound(path + ": cannot be read (" + ec.message() + ")");
  if (size > kLargestFeatureFile) {
    return Status::Corruption(path + ": " + std::to_string(size) +
                              " bytes, more than any feature file holds");
  }
  std::string bytes;
  Status s = read_file_of_size(path, static_cast<size_t>(size), path, &bytes);
  if (!s.ok()) return s;
  extract::FeatureFile file;
  s = extract::parse_feature_file(bytes, layout_.has_kinds, path, &file);
  if (!s.ok()) return s;

  const int i = n_files_;
  int32_t* cell = corrcell_.data() + size_t(i) * kCellInts;
  for (int r = 0; r < extract::kBlockImageSide; ++r) {
    for (int c = 0; c < extract::kBlockImageSide; ++c) {
      cell[c * extract::kBlockImageSide + r] = file.block_image[r * extract::kBlockImageSide + c];
    }
  }
  const int stride = layout_.spot_stride();
  const int n = std::min<int>(static_cast<int>(file.spots.size()), kMaxComparedSpots);
  n_spot_[i] = n;
  int32_t* spot = spots_.data() + size_t(i) * kMaxComparedSpots * stride;
  std::fill_n(spot, kMaxComparedSpots * stride, 0);
  for (int k = 0; k < n; ++k) {
    const extract::FeatureSpot& f = file.spots[k];
    spot[k * stride] = f.score + 1;
    spot[k * stride + 1] = f.row;
    spot[k * stride + 2] = f.column;
    if (stride == 4) spot[k * stride + 3] = f.kind;
  }
  n_seed_[i] = file.seeds.count;
  int32_t* seeds = seeds_.data() + size_t(i) * kSeedInts;
  for (int t = 0; t < kSeedInts / 3; ++t) {
    for (int j = 0; j < 3; ++j) seeds[3 * t + j] = t < file.seeds.count ? file.seeds.sets[t][j] : 0;
  }
  std::copy(file.top_map.begin(), file.top_map.end(), top_.begin() + size_t(i) * kMapInts);
  if (layout_.stripes) {
    const std::vector<uint32_t>& bottom = layout_.has_kinds ? file.bottom_map : file.top_map;
    std::copy(bottom.begin(), bottom.end(), bottom_.begin() + size_t(i) * kMapInts);
  }
  filename_.push_back(name);
  ++n_files_;
  return Status::Ok();
}

int FillArrays(const std::function<bool(std::string*)>& next, const std::string& folder, int limit,
               FeatureBatch* batch, std::vector<FeatureProblem>* problems) {
  batch->clear();
  limit = std::min(limit, batch->capacity());
  int taken = 0;
  std::string name;
  while (batch->n_files() < limit && next(&name)) {
    ++taken;
    const std::string path = folder + name;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
      problems->push_back({name, "no feature file " + path, true});
      continue;
    }
    Status s = batch->add(name, path);
    if (!s.ok()) problems->push_back({name, s.message(), false});
  }
  return taken;
}

}  // namespace velmora::matching

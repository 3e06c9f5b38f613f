#include "workstation/extract/save_extract.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "libs/bristane/key_file.h"
#include "libs/dunmarra/save_fprint.h"
#include "workstation/common/file_reading.h"
#include "workstation/common/safe_path.h"
#include "workstation/extract/feature_file.h"
#include "workstation/extract/shared_extract.h"

namespace velmora::extract {
namespace {

constexpr int kFingerprintSide = 64;
constexpr int kBlockSide = kExtractRows / kFingerprintSide;  // 4
// Subtracted before rounding so that a fully blank block (64.0) stays 64
// while a block of grey 255 (63.75) becomes 63, below the masked value.
constexpr double kFingerprintOffset = 0.4;

std::string with_slash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

template <typename T>
std::vector<std::uint8_t> bytes_of(std::span<const T> image, int* clamped) {
  if (image.size() != kExtractPixels) return {};
  std::vector<std::uint8_t> out(kExtractPixels);
  for (std::size_t i = 0; i < kExtractPixels; ++i) out[i] = to_byte(image[i], clamped);
  return out;
}

std::string pixels_text(std::size_t n) {
  return std::to_string(n) + " values, expected 65536";
}

}  // namespace

std::vector<std::uint8_t> source_image(std::span<const double> work_image,
                                       std::span<const float> wavelet_image, bool use_cell,
                                       int* clamped) {
  return use_cell ? bytes_of(work_image, clamped) : bytes_of(wavelet_image, clamped);
}

std::vector<std::uint8_t> marked_source(std::span<const std::uint8_t> source,
                                        std::span<const std::int16_t> blank) {
  std::vector<std::uint8_t> marked(source.begin(), source.end());
  if (source.size() != kExtractPixels || blank.size() != kExtractPixels) return marked;
  for (std::size_t i = 0; i < kExtractPixels; ++i) {
    if (blank[i] != kUsablePixel) marked[i] = kBlankBlock;
  }
  return marked;
}

std::string raw_image_bytes(std::span<const double> work_image, int* clamped) {
  const std::vector<std::uint8_t> bytes = bytes_of(work_image, clamped);
  return std::string(bytes.begin(), bytes.end());
}

std::string anim_pgm_bytes(std::string_view raw_image) {
  std::string out(kAnimPgmHeader);
  out += raw_image;
  return out;
}

std::vector<std::uint8_t> fingerprint_image(std::span<const std::uint8_t> source,
                                            std::span<const std::int16_t> blank) {
  std::vector<std::uint8_t> buffer(kExtractPixels, 0);
  if (source.size() != kExtractPixels || blank.size() != kExtractPixels) return buffer;
  for (int a = 1; a <= kFingerprintSide; ++a) {
    for (int b = 1; b <= kFingerprintSide; ++b) {
      int sum = 0;
      bool masked = false;
      for (int i = kBlockSide * a - (kBlockSide - 1); i <= kBlockSide * a; ++i) {
        for (int j = kBlockSide * b - (kBlockSide - 1); j <= kBlockSide * b; ++j) {
          sum += source[SharedExtract::index(i, j)];
          masked = masked || blank[SharedExtract::index(i, j)] != kUsablePixel;
        }
      }
      const double v = masked ? kMaskedFingerprintValue : sum / 64.0;
      buffer[static_cast<std::size_t>(a - 1) * dunmarra::kImageStride + (b - 1)] =
          static_cast<std::uint8_t>(round_half_even(v - kFingerprintOffset));
    }
  }
  return buffer;
}

Status write_fingerprint(const std::string& cell, const std::string& path,
                         std::span<const std::uint8_t> image) {
  for (const auto& [what, text] : {std::pair{"cell name", &cell}, std::pair{"path", &path}}) {
    if (text->size() > kFprintTextMax || text->find('\0') != std::string::npos) {
      return Status::InvalidArgument("fingerprint " + std::string(what) + " '" + *text +
                                     "' does not fit the fingerprint writer's " +
                                     std::to_string(kFprintTextMax) + " characters");
    }
  }
  if (image.size() != kExtractPixels) {
    return Status::InvalidArgument("fingerprint image for " + path + ": " +
                                   pixels_text(image.size()));
  }
  std::array<char, dunmarra::kTextBufferSize> cell_buffer{};
  std::array<char, dunmarra::kTextBufferSize> path_buffer{};
  std::copy(cell.begin(), cell.end(), cell_buffer.begin());
  std::copy(path.begin(), path.end(), path_buffer.begin());
  const std::array<std::int32_t, 8> geometry = {64, 64, 17, 17, 16, 16, 2, 2};
  const std::array<double, 6> reals = {0, 0, 0, 0, 0, 0};
  const std::int32_t rc = save_fprint(geometry.data(), reals.data(), cell_buffer.data(),
                                      path_buffer.data(), image.data());
  if (rc != dunmarra::kSaveFprintOk) {
    return Status::IOError(path + ": extract not saved, error " + std::to_string(rc));
  }
  return Status::Ok();
}

Status save_extract_files(const SaveExtractInputs& inputs, const SaveFolders& folders,
                          const std::string& cell, const SaveLetters& letters, SaveReport* report,
                          FileSystemCalls& calls) {
  *report = SaveReport{};
  auto refuse = [](const std::string& what) {
    return Status::InvalidArgument("save extract: " + what);
  };
  if (!is_safe_file_name(cell)) {
    return refuse("the cell name '" + cell + "' cannot be used as a file name");
  }
  const std::string data = with_slash(folders.folders);
  const std::string raw_path = data + "raw/" + cell + ".raw";
  const std::string pgm_path = with_slash(folders.working_folder) + std::string(kAnimPgmName);
  const std::string feature_path = data + folders.library_name + cell;
  const std::string fingerprint_path = data + "oldlib/" + cell;
  const std::string key_folder = data + std::string(kKeyFolder);
  const std::string key_path = key_folder + cell;
  const std::string anim_key_path = with_slash(folders.working_folder) + std::string(kAnimKeyName);

  std::error_code ec;
  const bool write_raw = std::filesystem::is_directory(data + "raw/", ec);
  const bool write_pgm = !letters.sift.empty();
  const bool write_feature =
      (!letters.spot.empty() || !letters.corr.empty()) && inputs.show_n_spots > 0;
  const bool write_fprint = !letters.tarvik.empty();
  const bool make_keys = write_pgm && inputs.make_keys;
  const bool need_source = write_feature || write_fprint;
  const bool need_work = write_raw || write_pgm || (need_source && inputs.use_cell);

  if (need_work && inputs.work_image.size() != kExtractPixels) {
    return refuse("work image: " + pixels_text(inputs.work_image.size()));
  }
  if (need_source && !inputs.use_cell && inputs.wavelet_image.size() != kExtractPixels) {
    return refuse("wavelet image: " + pixels_text(inputs.wavelet_image.size()));
  }
  if (need_source && inputs.blank.size() != kExtractPixels) {
    return refuse("blank mask: " + pixels_text(inputs.blank.size()));
  }
  if (write_feature && (inputs.spots == nullptr || inputs.seeds == nullptr)) {
    return refuse("the feature file " + feature_path +
                  " needs the spots and the seed sets: place the seeds first");
  }
  if (write_fprint && (cell.size() > kFprintTextMax || fingerprint_path.size() > kFprintTextMax ||
                       fingerprint_path.find('\0') != std::string::npos)) {
    return refuse("the fingerprint path " + fingerprint_path + " is longer than the " +
                  std::to_string(kFprintTextMax) + " characters the fingerprint writer takes");
  }

  // Every byte is made before the first file is touched.
  int clamped = 0;
  std::vector<std::uint8_t> work_bytes;
  if (need_work) work_bytes = bytes_of(inputs.work_image, &clamped);
  const std::string raw(work_bytes.begin(), work_bytes.end());
  std::vector<std::uint8_t> source;
  if (need_source) {
    source = inputs.use_cell ? work_bytes : bytes_of(inputs.wavelet_image, &clamped);
  }
  std::string feature_bytes;
  if (write_feature) {
    FeatureFile file;
    const Status s = build_feature_file(
        marked_source(source, inputs.blank), inputs.spots, inputs.limit, *inputs.seeds,
        feature_file_has_kinds(inputs.pattern, inputs.all_green), &file, &clamped);
    if (!s.ok()) return refuse(s.message() + " (" + feature_path + ")");
    feature_bytes = feature_file_bytes(file);
  }
  std::vector<std::uint8_t> fingerprint;
  if (write_fprint) fingerprint = fingerprint_image(source, inputs.blank);

  report->clamped = clamped;
  if (clamped > 0) {
    report->note = std::to_string(clamped) +
                   " values of this extract did not fit a byte (0..255) and were saved as the "
                   "nearest byte.";
  }

  auto write = [&](const std::string& path, std::string_view bytes) {
    const Status s = write_file_atomically(path, bytes, calls);
    if (s.ok()) report->written.push_back(path);
    return s;
  };
  if (write_raw) {
    if (Status s = write(raw_path, raw); !s.ok()) return s;
  }
  if (write_pgm) {
    if (Status s = write(pgm_path, anim_pgm_bytes(raw)); !s.ok()) return s;
  }
  std::string key_text;
  if (make_keys) {
    // A key file left by an earlier save must not pass for this one's.
    std::filesystem::remove(anim_key_path, ec);
    if (Status s = inputs.make_keys(); !s.ok()) return s;
    bristane::KeyList keys;
    Status s = bristane::read_key_file(anim_key_path, &keys);
    if (s.code() == Status::Code::kNotFound) {
      return Status::IOError("The key-point generator wrote no " + anim_key_path +
                             ": extract not saved.");
    }
    if (!s.ok()) return s.with_note(" (written by the key-point generator): extract not saved.");
    std::error_code size_error;
    const auto size = std::filesystem::file_size(anim_key_path, size_error);
    if (size_error) return Status::IOError(anim_key_path + ": " + size_error.message());
    s = read_file_of_size(anim_key_path, static_cast<std::size_t>(size), "the key file", &key_text);
    if (!s.ok()) return s;
  }
  if (write_feature) {
    if (Status s = write(feature_path, feature_bytes); !s.ok()) return s;
  }
  if (write_fprint) {
    if (Status s = write_fingerprint(cell, fingerprint_path, fingerprint); !s.ok()) return s;
    report->written.push_back(fingerprint_path);
  }
  if (make_keys) {
    std::filesystem::create_directories(key_folder, ec);
    if (ec) {
      return Status::IOError(key_folder + ": cannot make the key files' folder (" + ec.message() +
                             ")");
    }
    if (Status s = write(key_path, key_text); !s.ok()) return s;
    std::filesystem::remove(anim_key_path, ec);
  }
  return Status::Ok();
}

}  // namespace velmora::extract

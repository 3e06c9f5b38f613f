// How the review shows a photograph (see photo_display.h).
#include "workstation/confirm/photo_display.h"

#include <cmath>
#include <fstream>

#include "workstation/db/value.h"
#include "workstation/model/fit_file.h"

namespace velmora::confirm {

int turn_factor(const std::string& facing, const std::string& side) {
  return facing == "R" && side == "M" ? -1 : 1;
}

bool frames_photo(const std::optional<model::CropRecord>& crop) {
  return crop && crop->source_x > 0 && crop->source_y > 0 && crop->source_width != 0 &&
         crop->source_height != 0;
}

SourceRect source_rectangle(int photo_width, int photo_height, PictureSize target,
                            const std::optional<model::CropRecord>& crop, int turn) {
  const double k = turn < 0 ? -1.0 : 1.0;
  if (frames_photo(crop)) {
    const double w = crop->source_width, h = crop->source_height;
    return {crop->source_x + (w - k * w) / 2, crop->source_y + (h - k * h) / 2, k * w, k * h};
  }
  const double pw = photo_width, ph = photo_height;
  double w = pw, h = ph;
  if (pw > 0 && ph > 0 && target.width > 0 && target.height > 0) {
    const double a = pw / ph, b = target.width / target.height;
    if (a > b) {
      w = pw;
      h = pw / b;
    } else {
      h = ph;
      w = ph * b;
    }
  }
  return {(pw - k * pw) / 2, (ph - k * ph) / 2, k * w, k * h};
}

std::string photo_caption(const PhotoRow& row, const std::string& id) {
  return " showing: " + row.cell + " of animal " + id + " on " + row.dt + " " + row.comments;
}

std::string missing_library_photo_message(const std::string& photo) {
  return photo + " missing from newpic folder";
}

std::string missing_pending_photo_message(const std::string& photo) {
  return photo + " not in newpic";
}

std::string photograph_path(const std::string& newpics_folder, const std::string& photo) {
  std::string folder = newpics_folder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + photo + ".jpg";
}

Status read_jpeg_size(const std::string& path, int* width, int* height) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::NotFound("The photograph '" + path + "' could not be opened.");
  auto refuse = [&path](const std::string& why) {
    return Status::Corruption("The photograph '" + path + "' is not a readable JPEG file: " + why +
                              ".");
  };
  auto byte = [&in]() -> int { return in.get(); };
  if (byte() != 0xFF || byte() != 0xD8) return refuse("it does not start as one");
  for (;;) {
    int b = byte();
    if (b == EOF) return refuse("it ends before its frame header");
    if (b != 0xFF) return refuse("a marker was expected");
    int marker = byte();
    while (marker == 0xFF) marker = byte();  // fill bytes
    if (marker == EOF) return refuse("it ends before its frame header");
    // Markers that stand alone, without a length.
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
    if (marker == 0xD9 || marker == 0xDA)
      return refuse("its image data come before a frame header");
    const int hi = byte(), lo = byte();
    if (hi == EOF || lo == EOF) return refuse("it ends inside a marker");
    const int length = hi * 256 + lo;
    if (length < 2) return refuse("a marker has a length below 2");
    const bool frame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (length < 7) return refuse("its frame header is too short");
      const int precision = byte();
      const int h1 = byte(), h0 = byte(), w1 = byte(), w0 = byte();
      if (precision == EOF || h0 == EOF || w0 == EOF || h1 == EOF || w1 == EOF)
        return refuse("it ends inside its frame header");
      const int h = h1 * 256 + h0, w = w1 * 256 + w0;
      if (w == 0 || h == 0) return refuse("its frame header gives no size");
      *width = w;
      *height = h;
      return Status::Ok();
    }
    in.seekg(length - 2, std::ios::cur);
    if (!in) return refuse("it ends inside a marker");
  }
}

std::optional<model::CropRecord> display_crop(const std::string& data_folder,
                                              const std::string& cell) {
  std::string path;
  if (!model::display_fit_file_path(data_folder, cell, &path).ok()) return std::nullopt;
  model::FitRecord record;
  if (!model::read_fit_file(path, cell, &record).ok()) return std::nullopt;
  return record.crop;
}

std::vector<ThumbnailPlace> layout_thumbnails(int first, int last) {
  std::vector<ThumbnailPlace> places;
  const int n = last - first + 1;
  if (n <= 0) return places;
  const int width = n == 2 ? 508 : n == 3 ? 338 : 254;
  const int height = static_cast<int>(std::nearbyint(width * 2.0 / 3.0));
  for (int m = 1; m <= n && m <= 8; ++m) {
    ThumbnailPlace p;
    p.index = m;
    p.row = first + m - 1;
    p.width = width;
    p.height = height;
    p.left = (m <= 4 ? m - 1 : m - 5) * width;
    p.top = m <= 4 ? 0 : height;
    places.push_back(p);
  }
  return places;
}

float displayed_score(double max_of_score) {
  const float score = db::to_single_precision(max_of_score);
  if (score > 1.0f) return static_cast<float>(1.0 / (1.0 / (score + 0.1) + 1.0));
  return score;
}

}  // namespace velmora::confirm

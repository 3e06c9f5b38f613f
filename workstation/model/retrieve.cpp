#include "workstation/model/retrieve.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include "workstation/common/rounding.h"
#include "workstation/model/blank_file.h"

namespace velmora::model {

namespace {

constexpr int kMaxPictureSide = std::numeric_limits<std::int16_t>::max();

std::int32_t scaled(std::int32_t v, int to, int from) {
  // Positions and sizes stay within int16 (the reader checks them), so the
  // product and the result fit easily.
  return static_cast<std::int32_t>(round_half_even(static_cast<double>(v) * to / from));
}

void rescale_list(fennick::PointList* list, int work_width, int work_height,
                  const CropRecord& crop) {
  for (int k = 0; k < list->count; ++k) {
    list->x[k] = scaled(list->x[k], work_width, crop.destination_width);
    list->y[k] = scaled(list->y[k], work_height, crop.destination_height);
  }
}

Status check_work_size(int work_width, int work_height) {
  if (work_width <= 0 || work_height <= 0 || work_width > kMaxPictureSide ||
      work_height > kMaxPictureSide) {
    return Status::InvalidArgument("A work picture of " + std::to_string(work_width) + " by " +
                                   std::to_string(work_height) +
                                   " pixels cannot take a retrieved fit");
  }
  return Status::Ok();
}

}  // namespace

Status rescale_to_work_picture(int work_width, int work_height, fennick::MarkedPoints* marks,
                               CropRecord* crop) {
  Status s = check_work_size(work_width, work_height);
  if (!s.ok()) return s;
  if (crop->destination_width <= 0 || crop->destination_height <= 0) {
    return Status::InvalidArgument(
        "A crop with a destination of " + std::to_string(crop->destination_width) + " by " +
        std::to_string(crop->destination_height) + " pixels cannot be rescaled");
  }
  for (int i = 0; i < fennick::kMaxSpecialPoints; ++i) {
    if (marks->placed[i] != 1) continue;
    marks->special[2 * i] = scaled(marks->special[2 * i], work_width, crop->destination_width);
    marks->special[2 * i + 1] =
        scaled(marks->special[2 * i + 1], work_height, crop->destination_height);
  }
  rescale_list(&marks->midline, work_width, work_height, *crop);
  rescale_list(&marks->top, work_width, work_height, *crop);
  rescale_list(&marks->bottom, work_width, work_height, *crop);
  crop->destination_width = static_cast<std::int16_t>(work_width);
  crop->destination_height = static_cast<std::int16_t>(work_height);
  return Status::Ok();
}

Status retrieve_fit(const std::string& data_folder, const std::string& cell, int adjust_extract,
                    int work_width, int work_height, RetrievedFit* fit,
                    extract::SharedExtract* extract) {
  if (adjust_extract != 0 && !adjust_extract_keeps_picks(adjust_extract)) {
    return Status::InvalidArgument("Retrieve for cell " + cell + ": adjust_extract " +
                                   std::to_string(adjust_extract) + " is not 0, -1, -2 or -3");
  }
  // The arguments first, so that a wrong call is not reported as a bad file.
  Status s = check_work_size(work_width, work_height);
  if (!s.ok()) return s.with_note(" (Retrieve for cell " + cell + ")");
  std::string fit_path;
  s = fit_file_path(data_folder, cell, &fit_path);
  if (!s.ok()) return s;
  FitRecord record;
  s = read_fit_file(fit_path, cell, &record);
  if (!s.ok()) return s;

  std::string blank_path;
  s = blank_file_path(data_folder, cell, &blank_path);
  if (!s.ok()) return s;
  std::optional<BlankWords> blank;
  BlankWords words{};
  s = read_blank_file(blank_path, cell, &words);
  if (s.ok()) {
    blank = words;
  } else if (s.code() != Status::Code::kNotFound) {
    return s;
  }

  RetrievedFit restored = *fit;
  std::copy(std::begin(fit->marks.weights), std::end(fit->marks.weights),
            std::begin(record.marks.weights));
  restored.marks = record.marks;
  restored.crop = record.crop;
  s = rescale_to_work_picture(work_width, work_height, &restored.marks, &restored.crop);
  if (!s.ok()) return s.with_note(" (Retrieve for cell " + cell + ")");
  if (!record.has_picked) {
    restored.picked = PickedPoints{};
  } else if (adjust_extract_keeps_picks(adjust_extract)) {
    restored.picked = record.picked;
  }
  restored.facing = restored.marks.special[0] < restored.marks.special[2];

  *fit = restored;
  extract->blank_retrieved = true;
  if (blank) apply_blank_words(*blank, extract);
  return Status::Ok();
}

CropRequest crop_request_from_record(const CropRecord& crop, const Photo& photo) {
  CropRequest request;
  request.x1 = crop.source_x;
  request.y1 = crop.source_y;
  request.x2 = std::min(crop.source_x + crop.source_width, photo.width);
  request.y2 = std::min(crop.source_y + crop.source_height, photo.height);
  return request;
}

Status restore_fit(const Photo& photo, const RetrievedFit& fit, FitSession* session) {
  Status s = session->crop(photo, crop_request_from_record(fit.crop, photo),
                           fit.crop.destination_width, fit.crop.destination_height);
  if (!s.ok()) return s;
  const fennick::MarkedPoints& m = fit.marks;
  for (int i = 0; i < session->special_count() && i < fennick::kMaxSpecialPoints; ++i) {
    if (m.placed[i] != 1) continue;
    s = session->place_special_point(i, m.special[2 * i], m.special[2 * i + 1]);
    if (!s.ok()) return s;
  }
  const std::pair<const fennick::PointList*, MarkList> lists[] = {
      {&m.top, MarkList::kTop}, {&m.bottom, MarkList::kBottom}, {&m.midline, MarkList::kMidline}};
  for (const auto& [list, which] : lists) {
    for (int k = 0; k < list->count; ++k) {
      s = session->add_mark(which, list->x[k], list->y[k]);
      if (!s.ok()) return s.with_note(" (Retrieve for cell " + session->setup().cell + ")");
    }
  }
  session->set_picked_points(fit.picked);
  return Status::Ok();
}

}  // namespace velmora::model

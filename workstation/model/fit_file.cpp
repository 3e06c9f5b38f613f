#include "workstation/model/fit_file.h"

#include <bit>
#include <cmath>
#include <memory>

#include "workstation/common/little_endian.h"
#include "workstation/common/safe_path.h"
#include "workstation/model/file_bytes.h"

namespace velmora::model {

namespace {

using fennick::kMaxListPoints;
using fennick::kMaxSpecialPoints;
using fennick::MarkedPoints;
using fennick::PointList;

// A picture can be no larger than the int16 sizes of the crop record, so a
// mark outside that range is no position at all.
constexpr std::int32_t kMaxPosition = 32767;

std::string label_of(const std::string& file, const std::string& cell) {
  return file + " (cell " + cell + ")";
}

void put32(std::int32_t v, std::string* out) {
  store_le32(std::bit_cast<std::uint32_t>(v), out);
}

void put_list(const PointList& list, std::string* out) {
  put32(list.count, out);
  for (std::int32_t x : list.x) put32(x, out);
  for (std::int32_t y : list.y) put32(y, out);
}

// Reads the fields in file order, remembering the first one the bytes do not
// reach, so that a short file is reported by the field it ends in.
class FieldReader {
 public:
  explicit FieldReader(std::string_view bytes) : bytes_(bytes) {}

  bool get32(const char* field, std::int32_t* v) {
    if (!take(4, field)) return false;
    *v = std::bit_cast<std::int32_t>(load_le32(at_));
    return true;
  }
  bool get16(const char* field, std::int16_t* v) {
    if (!take(2, field)) return false;
    *v = load_le16(at_);
    return true;
  }
  bool get_double(const char* field, double* v) {
    if (!take(8, field)) return false;
    *v = std::bit_cast<double>(load_le64(at_));
    return true;
  }
  bool get_list(const char* field, PointList* list) {
    if (!get32(field, &list->count)) return false;
    for (std::int32_t& x : list->x) {
      if (!get32(field, &x)) return false;
    }
    for (std::int32_t& y : list->y) {
      if (!get32(field, &y)) return false;
    }
    return true;
  }
  std::size_t offset() const { return offset_; }
  const char* short_field() const { return short_field_; }

 private:
  bool take(std::size_t n, const char* field) {
    if (bytes_.size() - offset_ < n) {
      short_field_ = field;
      return false;
    }
    at_ = reinterpret_cast<const unsigned char*>(bytes_.data()) + offset_;
    offset_ += n;
    return true;
  }

  std::string_view bytes_;
  std::size_t offset_ = 0;
  const unsigned char* at_ = nullptr;
  const char* short_field_ = nullptr;
};

bool read_marks(FieldReader* in, MarkedPoints* marks) {
  for (std::int32_t& v : marks->special) {
    if (!in->get32("the special-point positions", &v)) return false;
  }
  for (std::int32_t& v : marks->placed) {
    if (!in->get32("the special-point placed flags", &v)) return false;
  }
  return in->get_list("the midline list", &marks->midline) &&
         in->get_list("the top-edge list", &marks->top) &&
         in->get_list("the bottom-edge list", &marks->bottom) && [&] {
           for (std::int32_t& v : marks->weights) {
             if (!in->get32("the special-point weights", &v)) return false;
           }
           for (std::int32_t& v : marks->trailing) {
             if (!in->get32("the five trailing integers", &v)) return false;
           }
           return true;
         }();
}

bool read_crop(FieldReader* in, CropRecord* crop) {
  return in->get16("the crop record's destination x", &crop->destination_x) &&
         in->get16("the crop record's destination y", &crop->destination_y) &&
         in->get16("the crop record's destination width", &crop->destination_width) &&
         in->get16("the crop record's destination height", &crop->destination_height) &&
         in->get16("the crop record's source x", &crop->source_x) &&
         in->get16("the crop record's source y", &crop->source_y) &&
         in->get16("the crop record's source width", &crop->source_width) &&
         in->get16("the crop record's source height", &crop->source_height) &&
         in->get16("the crop record's width-limited flag", &crop->width_limited);
}

bool read_picked(FieldReader* in, PickedPoints* picked) {
  return in->get_double("the picked point Y1", &picked->y1) &&
         in->get_double("the picked point Y2", &picked->y2) &&
         in->get_double("the picked point theta1", &picked->theta1) &&
         in->get_double("the picked point theta2", &picked->theta2);
}

bool is_position(std::int32_t v) {
  return v >= -kMaxPosition && v <= kMaxPosition;
}

// The first thing wrong with the marks, or "" when they are sound.
std::string check_marks(const MarkedPoints& marks) {
  for (int i = 0; i < kMaxSpecialPoints; ++i) {
    const std::int32_t flag = marks.placed[i];
    if (flag != 0 && flag != 1) {
      return "special point " + std::to_string(i) + " has the placed flag " + std::to_string(flag) +
             ", not 0 or 1";
    }
    if (flag == 1 &&
        (!is_position(marks.special[2 * i]) || !is_position(marks.special[2 * i + 1]))) {
      return "special point " + std::to_string(i) + " lies at (" +
             std::to_string(marks.special[2 * i]) + ", " +
             std::to_string(marks.special[2 * i + 1]) + "), outside any picture";
    }
  }
  const struct {
    const char* name;
    const PointList* list;
  } lists[] = {
      {"midline", &marks.midline}, {"top-edge", &marks.top}, {"bottom-edge", &marks.bottom}};
  for (const auto& [name, list] : lists) {
    if (list->count < 0 || list->count > kMaxListPoints) {
      return std::string("the ") + name + " list counts " + std::to_string(list->count) +
             " points, its list holds 0 to " + std::to_string(kMaxListPoints);
    }
    for (int k = 0; k < list->count; ++k) {
      if (!is_position(list->x[k]) || !is_position(list->y[k])) {
        return std::string("point ") + std::to_string(k + 1) + " of the " + name +
               " list lies at (" + std::to_string(list->x[k]) + ", " + std::to_string(list->y[k]) +
               "), outside any picture";
      }
    }
  }
  return "";
}

std::string check_crop(const CropRecord& crop) {
  if (crop.destination_x != 0 || crop.destination_y != 0) {
    return "the crop record's destination starts at (" + std::to_string(crop.destination_x) + ", " +
           std::to_string(crop.destination_y) + "), not at (0, 0)";
  }
  if (crop.destination_width <= 0 || crop.destination_height <= 0) {
    return "the crop record's destination is " + std::to_string(crop.destination_width) + " by " +
           std::to_string(crop.destination_height) + ", no picture";
  }
  if (crop.source_x < 0 || crop.source_y < 0) {
    return "the crop record's source starts at (" + std::to_string(crop.source_x) + ", " +
           std::to_string(crop.source_y) + "), outside the photograph";
  }
  if (crop.source_width <= 0 || crop.source_height <= 0) {
    return "the crop record's source is " + std::to_string(crop.source_width) + " by " +
           std::to_string(crop.source_height) + ", no part of a photograph";
  }
  if (crop.width_limited != 0 && crop.width_limited != -1) {
    return "the crop record's width-limited flag is " + std::to_string(crop.width_limited) +
           ", not -1 or 0";
  }
  return "";
}

std::string check_picked(const PickedPoints& picked) {
  const struct {
    const char* name;
    double v;
  } values[] = {
      {"Y1", picked.y1}, {"Y2", picked.y2}, {"theta1", picked.theta1}, {"theta2", picked.theta2}};
  for (const auto& [name, v] : values) {
    if (!std::isfinite(v)) return std::string("the picked point ") + name + " is not a number";
  }
  return "";
}

}  // namespace

FitRecord fit_record_for_ok(const fennick::MarkedPoints& marks, const CropRecord& crop,
                            const PickedPoints& picked, int adjust_extract) {
  FitRecord record;
  record.marks = marks;
  record.crop = crop;
  record.has_picked = adjust_extract_keeps_picks(adjust_extract);
  if (record.has_picked) record.picked = picked;
  return record;
}

std::string fit_file_bytes(const FitRecord& record) {
  std::string out;
  out.reserve(kFitFileWithPicksBytes);
  const MarkedPoints& m = record.marks;
  for (std::int32_t v : m.special) put32(v, &out);
  for (std::int32_t v : m.placed) put32(v, &out);
  put_list(m.midline, &out);
  put_list(m.top, &out);
  put_list(m.bottom, &out);
  for (std::int32_t v : m.weights) put32(v, &out);
  for (std::int32_t v : m.trailing) put32(v, &out);
  const CropRecord& c = record.crop;
  for (std::int16_t v :
       {c.destination_x, c.destination_y, c.destination_width, c.destination_height, c.source_x,
        c.source_y, c.source_width, c.source_height, c.width_limited}) {
    store_le16(v, &out);
  }
  if (record.has_picked) {
    const PickedPoints& p = record.picked;
    for (double v : {p.y1, p.y2, p.theta1, p.theta2}) store_le_double(v, &out);
  }
  return out;
}

Status parse_fit_file(std::string_view bytes, const std::string& file, const std::string& cell,
                      FitRecord* record) {
  const std::string label = label_of(file, cell);
  // Filled aside so that a refused file leaves *record as it was.
  FitRecord read_record;
  FitRecord* read = &read_record;
  FieldReader in(bytes);
  if (!read_marks(&in, &read->marks) || !read_crop(&in, &read->crop)) {
    return Status::Corruption(label + ": the fit file is cut short in " + in.short_field() + " (" +
                              std::to_string(bytes.size()) + " bytes, a fit file holds " +
                              std::to_string(kFitFileBytes) + " or " +
                              std::to_string(kFitFileWithPicksBytes) + ")");
  }
  if (bytes.size() > kFitFileBytes) {
    if (!read_picked(&in, &read->picked)) {
      return Status::Corruption(label + ": the fit file is cut short in " + in.short_field() +
                                " (" + std::to_string(bytes.size()) + " bytes, a fit file holds " +
                                std::to_string(kFitFileBytes) + " or " +
                                std::to_string(kFitFileWithPicksBytes) + ")");
    }
    if (bytes.size() > kFitFileWithPicksBytes) {
      return Status::Corruption(label + ": the fit file has " +
                                std::to_string(bytes.size() - kFitFileWithPicksBytes) +
                                " bytes after its picked points; it is no fit file");
    }
    read->has_picked = true;
  }
  std::string wrong = check_marks(read->marks);
  if (wrong.empty()) wrong = check_crop(read->crop);
  if (wrong.empty() && read->has_picked) wrong = check_picked(read->picked);
  if (!wrong.empty()) return Status::Corruption(label + ": " + wrong);
  *record = *read;
  return Status::Ok();
}

Status fit_file_path(const std::string& data_folder, const std::string& cell, std::string* path) {
  std::string built;
  Status s = join_safe(data_folder + std::string(kFitFolder), cell, &built);
  if (!s.ok()) return s.with_note(" (the fit file of cell " + cell + ")");
  *path = std::move(built);
  return Status::Ok();
}

Status display_fit_file_path(const std::string& data_folder, const std::string& cell,
                             std::string* path) {
  std::string built;
  Status s = fit_file_path(data_folder, cell, &built);
  if (!s.ok()) return s;
  constexpr std::string_view kOther = "A_HD";
  if (built.size() >= kOther.size() && built.ends_with(kOther)) {
    built.replace(built.size() - kOther.size(), kOther.size(), "1_HD");
  }
  *path = std::move(built);
  return Status::Ok();
}

std::vector<std::string> fit_file_cells_for_ok(const std::string& cell) {
  if (cell.size() < 2) return {cell};
  const std::string stem = cell.substr(0, cell.size() - 2);
  const std::string code = cell.substr(cell.size() - 2);
  if (code == "HD") return {cell, stem + "NK"};
  if (code == "FL") return {cell, stem + "HA"};
  return {cell};
}

Status write_fit_files(const std::string& data_folder, const std::string& cell,
                       const FitRecord& record, FileSystemCalls& calls) {
  const std::string bytes = fit_file_bytes(record);
  std::vector<std::unique_ptr<AtomicFile>> files;
  for (const std::string& name : fit_file_cells_for_ok(cell)) {
    std::string path;
    Status s = fit_file_path(data_folder, name, &path);
    if (!s.ok()) return s;
    auto file = std::make_unique<AtomicFile>(calls);
    s = file->open(path);
    if (s.ok()) s = file->append(bytes);
    if (!s.ok()) return s.with_note(" (the fit file of cell " + cell + ")");
    files.push_back(std::move(file));
  }
  for (auto& file : files) {
    Status s = file->commit();
    if (!s.ok()) return s.with_note(" (the fit file of cell " + cell + ")");
  }
  return Status::Ok();
}

Status read_fit_file(const std::string& path, const std::string& cell, FitRecord* record) {
  std::string bytes;
  Status s = read_file_bytes(path, kFitFileWithPicksBytes, label_of(path, cell), &bytes);
  if (!s.ok()) return s;
  return parse_fit_file(bytes, path, cell, record);
}

}  // namespace velmora::model

#include "workstation/model/fit_session.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iterator>
#include <system_error>

#include "libs/fennick/fennick.h"
#include "workstation/common/atomic_file.h"
#include "workstation/common/little_endian.h"
#include "workstation/common/rounding.h"
#include "workstation/common/safe_path.h"
#include "workstation/matching/numerics.h"

namespace velmora::model {
namespace {

constexpr double kReversedYaw = 3.15149;  // the stored yaw of a lateral animal facing left
constexpr double kFlip = 3.14159;
constexpr const char* kRotFile = "rot_xy.dat";

std::string folder_text(const std::filesystem::path& folder) {
  std::string s = folder.string();
  if (!s.empty() && s.back() != '/') s += '/';
  return s;
}

const char* fennick_code_name(int32_t code) {
  switch (code) {
    case fennick::kFennickBadArguments:
      return "the marks or controls are out of range";
    case fennick::kFennickBadModel:
      return "the model definition does not describe a body";
    case fennick::kFennickTooFewMarks:
      return "too few marks";
    case fennick::kFennickNotConverged:
      return "the fit did not converge";
    default:
      return "the body model failed";
  }
}

// asin as the pose arithmetic computes it: atan(s / sqrt(1 - s^2)).
double pose_asin(double s) {
  return std::atan(s / std::sqrt(1 - s * s));
}

// A 3 x 3 matrix, column by column, as F01CKF takes it.
using Matrix3 = std::array<double, 9>;
Matrix3 from_rows(double a, double b, double c, double d, double e, double f, double g, double h,
                  double i) {
  return {a, d, g, b, e, h, c, f, i};
}
Matrix3 product(const Matrix3& b, const Matrix3& c) {
  Matrix3 a{};
  double work[3];
  int ifail = 0;
  // Sizes and option are fixed and valid, so the routine cannot fail here.
  matching::F01CKF(a.data(), b.data(), c.data(), 3, 3, 3, work, 3, 1, ifail);
  return a;
}

void set_point(fennick::PointList* list, int i, fennick::ScreenPoint p) {
  list->x[i] = p.x;
  list->y[i] = p.y;
}
void append(fennick::PointList* list, fennick::ScreenPoint p) {
  if (list->count >= fennick::kMaxListPoints) return;
  set_point(list, list->count, p);
  ++list->count;
}
fennick::ScreenPoint point_at(const fennick::PointList& list, int i) {
  return {list.x[i], list.y[i]};
}

// The three remaining corners of a regular pentagon on the gap from the
// list's last point to `other_first`.
void append_cap(fennick::PointList* list, fennick::ScreenPoint other_first) {
  const fennick::ScreenPoint last = point_at(*list, list->count - 1);
  const double n = other_first.x - last.x, o = other_first.y - last.y;
  fennick::ScreenPoint previous = last;
  for (const double degrees : {108.0, 36.0, -36.0}) {
    const float theta = static_cast<float>(degrees * 3.14159265358979 / 180);
    const double s = std::sin(static_cast<double>(theta)), c = std::cos(static_cast<double>(theta));
    previous = {static_cast<int32_t>(round_half_even(previous.x + o * s + n * c)),
                static_cast<int32_t>(round_half_even(previous.y - n * s + o * c))};
    append(list, previous);
  }
}

// Walks `list` from `before` (the other list's last point) and reports each
// turn sharper than a right angle.
void check_turns(fennick::ScreenPoint before, const fennick::PointList& list,
                 std::vector<std::string>* warnings) {
  fennick::ScreenPoint from = before;
  int64_t dx0 = 0, dy0 = 0;
  for (int i = 0; i < list.count; ++i) {
    const fennick::ScreenPoint to = point_at(list, i);
    const int64_t dx = to.x - from.x, dy = to.y - from.y;
    if (i > 0 && dx0 * dx + dy0 * dy < 0 && warnings) warnings->push_back("acute angle");
    dx0 = dx;
    dy0 = dy;
    from = to;
  }
}

bool finite_all(const double* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// Reads model definition file `fname` of the data folder into the records.
// A missing file is reported rather than created: an empty model cannot be
// fitted, and the operator must hear which file is missing.
Status read_definition(const SessionSetup& setup, const std::string& fname, const char* outcome,
                       const fennick::ModelTargets& targets, fennick::ModelDefinition* definition) {
  const std::string where = "cell " + setup.cell + ": ";
  std::string path;
  if (Status st = join_safe(folder_text(setup.data_folder), fname, &path); !st.ok())
    return st.with_note(" (the model definition file of aspect " + setup.aspect + ")");
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    return Status::NotFound(where + "the model definition file " + path + " of aspect " +
                            setup.aspect + " is missing; " + outcome);
  if (Status st = fennick::read_model_definition_file(path, targets, definition); !st.ok())
    return Status(st).with_note(" (" + where + outcome + ")");
  if (definition->empty)
    return Status::Corruption(where + "the model definition file " + path + " holds no model; " +
                              outcome);
  return Status::Ok();
}

}  // namespace

InitialPose lateral_initial_pose(const std::string& aspect, bool dorsal_midline, bool facing,
                                 bool lock_roll, bool lock_yaw, const double hind_leg_angles[3]) {
  InitialPose pose;
  if (dorsal_midline) {
    pose.p1 = facing ? kReversedYaw : 0;
    pose.p3 = -8;
    pose.p4 = 3;
  } else {
    pose.p1 = facing ? 0 : kReversedYaw;
    pose.p3 = facing ? -7 : 0;
  }
  pose.lock_code = lock_roll && lock_yaw ? 123 : lock_yaw ? 12 : lock_roll ? 2 : 0;
  if (aspect == "HindLeg") {
    const double a = hind_leg_angles[0], b = hind_leg_angles[1], c = hind_leg_angles[2];
    const double t0 = facing ? -1.2 : 1.2;
    const Matrix3 rz0 =
        from_rows(std::cos(t0), std::sin(t0), 0, -std::sin(t0), std::cos(t0), 0, 0, 0, 1);
    const Matrix3 rx =
        from_rows(1, 0, 0, 0, std::cos(a), std::sin(a), 0, -std::sin(a), std::cos(a));
    const Matrix3 ry =
        from_rows(std::cos(b), 0, std::sin(b), 0, 1, 0, -std::sin(b), 0, std::cos(b));
    const Matrix3 rz =
        from_rows(std::cos(c), std::sin(c), 0, -std::sin(c), std::cos(c), 0, 0, 0, 1);
    const Matrix3 t = product(product(product(rz0, rx), ry), rz);
    // Element (row r, column c), both from 1, at (c - 1) * 3 + (r - 1).
    const double t13 = t[6], t23 = t[7], t12 = t[3];
    pose.p1 = pose_asin(t13);
    if (std::fabs(b) > 1.570795) pose.p1 = kFlip - pose.p1;
    pose.p0 = pose_asin(t23 / std::cos(pose.p1));
    if (std::fabs(a) > 1.570795) pose.p0 = kFlip - pose.p0;
    pose.p2 = pose_asin(t12 / std::cos(pose.p1));
  }
  return pose;
}

Status read_rot_xy(const std::filesystem::path& folder, double angles[3]) {
  const std::filesystem::path path = folder / kRotFile;
  angles[0] = angles[1] = angles[2] = 0;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return Status::Ok();
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return Status::IOError(path.string() + " cannot be read");
  if (bytes.size() < 24)
    return Status::Corruption(path.string() + " holds " + std::to_string(bytes.size()) +
                              " bytes, fewer than the three angles of a flank fit (24)");
  double read[3];
  for (int i = 0; i < 3; ++i) {
    const uint64_t bits = load_le64(reinterpret_cast<const unsigned char*>(bytes.data()) +
                                    8 * static_cast<size_t>(i));
    read[i] = std::bit_cast<double>(bits);
    if (!std::isfinite(read[i]))
      return Status::Corruption(path.string() + ": angle " + std::to_string(i + 1) +
                                " is not a number");
  }
  std::copy(read, read + 3, angles);
  return Status::Ok();
}

Status FitSession::open(const SessionSetup& setup, std::unique_ptr<FitSession>* session) {
  std::unique_ptr<FitSession> s(new FitSession());
  s->setup_ = setup;
  const config::AspectSettings& a = setup.aspect_settings;
  const std::string where = "cell " + setup.cell + ": ";
  fennick::ModelDefinition definition;
  if (Status st = read_definition(setup, a.model_fname, "the fit cannot start",
                                  {s->model_.get(), s->marks_.get(), &s->params_}, &definition);
      !st.ok())
    return st;
  s->definition_ = std::move(definition);
  fennick::MarkedPoints& m = *s->marks_;
  const int32_t trailing[5] = {1000, 1000, 1000, std::clamp(setup.stiffness, 0, 1000), 1000};
  std::copy(trailing, trailing + 5, m.trailing);
  m.top.count = m.bottom.count = 0;

  fennick::FitControl& c = s->control_;
  c.scale_special = a.scale_special;
  c.scale_mid = a.scale_mid;
  c.scale_overspill = a.scale_overspill;
  c.scale_mag = a.scale_mag;
  c.scale_edge = a.scale_edge;
  c.scale_stiff = a.scale_stiff;
  c.scale_twist = a.scale_twist;
  c.scale_thin = a.scale_thin;
  c.distend_belly = setup.settings.distend_belly;
  c.oversampling = setup.settings.oversampling;

  if (fennick::reset_model_parameters(*s->model_, m, c, 1, 0, s->params_, a.fennick_code) !=
      fennick::kFennickOk)
    return Status::InvalidArgument(
        where + "the body model could not be reset: " + fennick::fennick_last_message());
  (void)fennick::get_model_parms(s->parms_);  // reports the reset pose, cannot fail

  s->lock_roll_ = setup.settings.LockRoll_value != 0;
  s->lock_yaw_ = setup.settings.LockYaw_value != 0;
  if (setup.aspect == "HindLeg") {
    s->lock_roll_ = false;
    s->lock_yaw_ = true;
  }
  s->grid_ = std::make_unique<fennick::GridPositions>();
  *session = std::move(s);
  return Status::Ok();
}

Status FitSession::crop(const Photo& photo, const CropRequest& request, int work_width,
                        int work_height) {
  Status st = crop_photo(photo, request, work_width, work_height, &work_, &crop_);
  if (!st.ok()) return Status(st).with_note(" (photograph of cell " + setup_.cell + ")");
  return st;
}

void FitSession::paint_blank_square(int x, int y, int half) {
  half = std::clamp(half, 3, 25);
  for (int v = y - half; v <= y + half; ++v)
    for (int u = x - half; u <= x + half; ++u) work_.set(u, v, 0, 0, 255);
}

Status FitSession::restore_work_picture(const Photo& picture) {
  if (!picture.valid() || picture.width != work_.width || picture.height != work_.height)
    return Status::InvalidArgument(
        "cell " + setup_.cell + ": the saved work picture is " + std::to_string(picture.width) +
        " x " + std::to_string(picture.height) + ", not the work picture's " +
        std::to_string(work_.width) + " x " + std::to_string(work_.height));
  work_ = picture;
  return Status::Ok();
}

Status FitSession::switch_model_file(const std::string& model_fname, bool unordered) {
  // Read into copies, so that a refused file leaves the model as it was.
  auto model = std::make_unique<fennick::ModelRecord>(*model_);
  auto marks = std::make_unique<fennick::MarkedPoints>(*marks_);
  fennick::FitParams params = params_;
  fennick::ModelDefinition definition;
  if (Status st = read_definition(setup_, model_fname, "the model is kept",
                                  {model.get(), marks.get(), &params}, &definition);
      !st.ok())
    return st;
  model_ = std::move(model);
  marks_ = std::move(marks);
  params_ = params;
  definition_ = std::move(definition);
  setup_.aspect_settings.model_fname = model_fname;
  setup_.aspect_settings.no_order = unordered;
  return Status::Ok();
}

int FitSession::special_count() const {
  return std::clamp(model_->special_count, 0, fennick::kMaxSpecialPoints);
}

std::string FitSession::special_name(int i) const {
  if (i < 0 || i >= static_cast<int>(definition_.special_names.size())) return "";
  return definition_.special_names[i];
}

std::string FitSession::special_label(int i) const {
  const std::string name = special_name(i);
  std::string label = name.size() >= 2 ? name.substr(1, name.size() - 2) : "";
  if (i < 2 || !facing_known()) return label;
  const std::string left = facing_ ? "far" : "near", right = facing_ ? "near" : "far";
  for (const char* part : {" mid", " shoulder", " hip"}) {
    if (label == std::string("left") + part) return left + part;
    if (label == std::string("right") + part) return right + part;
  }
  return label;
}

bool FitSession::facing_known() const {
  return marks_->placed[0] == 1 && marks_->placed[1] == 1;
}

Status FitSession::place_special_point(int i, int x, int y) {
  if (i < 0 || i >= special_count())
    return Status::InvalidArgument("special point " + std::to_string(i) + " is not in the model");
  marks_->special[2 * i] = x;
  marks_->special[2 * i + 1] = y;
  marks_->placed[i] = 1;
  if (i < 2 && facing_known()) facing_ = marks_->special[0] < marks_->special[2];
  return Status::Ok();
}

Status FitSession::remove_special_point(int i) {
  if (i < 0 || i >= special_count())
    return Status::InvalidArgument("special point " + std::to_string(i) + " is not in the model");
  marks_->special[2 * i] = marks_->special[2 * i + 1] = 0;
  marks_->placed[i] = 0;
  return Status::Ok();
}

Status FitSession::add_mark(MarkList list, int x, int y) {
  switch (list) {
    case MarkList::kTop:
    case MarkList::kBottom: {
      auto& markers = list == MarkList::kTop ? top_ : bottom_;
      if (markers.size() >=
          static_cast<size_t>(list == MarkList::kTop ? kTopMarkers : kBottomMarkers))
        return Status::InvalidArgument("every edge marker of that list is placed");
      markers.push_back({x, y});
      // The list's count follows the markers; its points are laid at Fit.
      (list == MarkList::kTop ? marks_->top : marks_->bottom).count =
          static_cast<int32_t>(markers.size());
      return Status::Ok();
    }
    case MarkList::kMidline:
      if (marks_->midline.count >= kMidlineMarkers)
        return Status::InvalidArgument("every midline marker is placed");
      append(&marks_->midline, {x, y});
      return Status::Ok();
  }
  return Status::InvalidArgument("unknown mark list");
}

Status FitSession::move_mark(MarkList list, int index, int x, int y) {
  if (index < 0 || index >= mark_count(list))
    return Status::InvalidArgument("no marker " + std::to_string(index) + " in that list");
  if (list == MarkList::kMidline)
    set_point(&marks_->midline, index, {x, y});
  else
    (list == MarkList::kTop ? top_ : bottom_)[index] = {x, y};
  return Status::Ok();
}

void FitSession::clear_marks(MarkList list) {
  if (list == MarkList::kMidline) {
    marks_->midline.count = 0;
  } else if (list == MarkList::kTop) {
    top_.clear();
    marks_->top.count = 0;
  } else {
    bottom_.clear();
    marks_->bottom.count = 0;
  }
}

int FitSession::mark_count(MarkList list) const {
  if (list == MarkList::kMidline) return marks_->midline.count;
  return static_cast<int>((list == MarkList::kTop ? top_ : bottom_).size());
}

fennick::ScreenPoint FitSession::mark_position(MarkList list, int index) const {
  if (index < 0 || index >= mark_count(list)) return {0, 0};
  if (list == MarkList::kMidline) return point_at(marks_->midline, index);
  return (list == MarkList::kTop ? top_ : bottom_)[index];
}

Status FitSession::run_fit(int initial, int refine, const char* what) {
  // The library keeps its records on failure, but a result that is not a
  // number must not stay either: the whole state goes back.
  const auto model = std::make_unique<fennick::ModelRecord>(*model_);
  const fennick::FitControl control = control_;
  const fennick::FitParams params = params_;
  const std::string where = std::string(what) + " of cell " + setup_.cell + ": ";
  auto restore = [&] {
    *model_ = *model;
    control_ = control;
    params_ = params;
  };
  const int32_t code =
      fennick::fit_to_known_points(*model_, *marks_, control_, initial, refine, 0, 0, params_);
  if (code != fennick::kFennickOk) {
    const std::string detail = fennick::fennick_last_message();
    restore();
    return Status::InvalidArgument(where + fennick_code_name(code) +
                                   (detail.empty() ? "" : " (" + detail + ")") +
                                   "; the model keeps its previous pose");
  }
  fennick::ModelParms parms{};
  (void)fennick::get_model_parms(parms);  // cannot fail; its result is checked below
  if (!finite_all(parms.v, 7) || !finite_all(params_.v, fennick::kFitParamsCount)) {
    restore();
    return Status::InvalidArgument(where +
                                   "the fit gave a value that is not a number; the model keeps "
                                   "its previous pose");
  }
  parms_ = parms;
  return Status::Ok();
}

Status FitSession::initial_fit() {
  const fennick::FitControl saved_control = control_;
  const fennick::FitParams saved_params = params_;
  control_.fit_iterations = 0;
  params_.v[0] = 0;
  const config::AspectSettings& a = setup_.aspect_settings;
  if (a.cell_type == "lateral") {
    double angles[3] = {0, 0, 0};
    if (setup_.aspect == "HindLeg")
      if (Status st = read_rot_xy(setup_.working_folder, angles); !st.ok())
        return Status(st).with_note(" (Initial Fit of cell " + setup_.cell + " stopped)");
    const InitialPose pose = lateral_initial_pose(setup_.aspect, a.dorsal_midline, facing_,
                                                  lock_roll_, lock_yaw_, angles);
    params_.v[0] = pose.p0;
    params_.v[1] = pose.p1;
    params_.v[2] = pose.p2;
    params_.v[3] = pose.p3;
    params_.v[4] = pose.p4;
    control_.lock_code = pose.lock_code;
  } else if (a.cell_type == "Dorsal" || a.cell_type == "Ventral") {
    params_.v[1] = a.cell_type == "Dorsal" ? -1.575745 : 1.575745;
    control_.lock_code = lock_roll_ && lock_yaw_ ? 123 : lock_yaw_ ? 12 : lock_roll_ ? 1 : 0;
  }
  params_.v[6] = widths_;
  Status st = run_fit(1, 0, "Initial Fit");
  if (!st.ok()) {
    control_ = saved_control;
    params_ = saved_params;
  }
  return st;
}

void FitSession::build_outline(std::vector<std::string>* warnings) {
  const bool ordered_aspect = ordered();
  // Markers in the order the outline takes them.
  auto order = [&](const std::vector<fennick::ScreenPoint>& markers, bool top) {
    std::vector<fennick::ScreenPoint> out;
    if (!auto_order_) return markers;
    // Increasing x (ordered), decreasing y (unordered top), increasing y
    // (unordered bottom); the search starts at 2000 or 0, so markers beyond
    // are not taken.
    const bool decreasing = !ordered_aspect && top;
    std::vector<bool> taken(markers.size(), false);
    for (size_t n = 0; n < markers.size(); ++n) {
      int best = -1;
      int extreme = decreasing ? 0 : 2000;
      for (size_t i = 0; i < markers.size(); ++i) {
        if (taken[i]) continue;
        const int v = ordered_aspect ? markers[i].x : markers[i].y;
        if (decreasing ? v > extreme : v < extreme) {
          extreme = v;
          best = static_cast<int>(i);
        }
      }
      if (best < 0) break;
      taken[best] = true;
      out.push_back(markers[best]);
    }
    return out;
  };
  const std::vector<fennick::ScreenPoint> top = order(top_, true), bottom = order(bottom_, false);
  fennick::PointList& t = marks_->top;
  fennick::PointList& b = marks_->bottom;
  t.count = b.count = 0;
  for (auto p : top) append(&t, p);
  for (auto p : bottom) append(&b, p);
  if (t.count == 0 || b.count == 0) return;
  const fennick::ScreenPoint top_first = point_at(t, 0), bottom_first = point_at(b, 0);
  // The neighbour points step along the direction the lists run.
  auto beside_top = [&](fennick::ScreenPoint p) {
    return ordered_aspect ? fennick::ScreenPoint{p.x + 1, p.y} : fennick::ScreenPoint{p.x, p.y - 1};
  };
  auto beside_bottom = [&](fennick::ScreenPoint p) {
    return ordered_aspect ? fennick::ScreenPoint{p.x - 1, p.y} : fennick::ScreenPoint{p.x, p.y + 1};
  };
  if (auto_order_) append(&t, beside_top(point_at(t, t.count - 1)));
  append_cap(&t, bottom_first);
  if (auto_order_) append(&t, beside_top(bottom_first));
  if (auto_order_) append(&b, beside_bottom(point_at(b, b.count - 1)));
  append_cap(&b, top_first);
  if (auto_order_) append(&b, beside_bottom(top_first));

  check_turns(point_at(b, b.count - 1), t, warnings);
  check_turns(point_at(t, t.count - 1), b, warnings);
}

Status FitSession::fit(std::vector<std::string>* warnings) {
  if (top_.empty() != bottom_.empty())
    return Status::InvalidArgument("Fit of cell " + setup_.cell +
                                   ": the outline needs both top and bottom edge points");
  build_outline(warnings);
  Status st = run_fit(0, 1, "Fit");
  // The closing points are not the operator's: the lists go back to the markers.
  marks_->top.count = static_cast<int32_t>(top_.size());
  marks_->bottom.count = static_cast<int32_t>(bottom_.size());
  if (!st.ok()) return st;
  widths_ = round_half_even(parms_.v[6] * 100) / 100;
  fitted_ = true;
  if (setup_.aspect == "Flank") {
    std::string bytes;
    for (int i = 0; i < 3; ++i) store_le_double(parms_.v[i], &bytes);
    const std::string path = (setup_.working_folder / kRotFile).string();
    if (Status w = write_file_atomically(path, bytes); !w.ok())
      return Status(w).with_note(" (the flank's orientation for a later hind-leg fit of cell " +
                                 setup_.cell + ")");
  }
  return Status::Ok();
}

Status FitSession::pick_surface_point(int x, int y, bool shift, bool* faces_away) {
  const int mode = setup_.aspect_settings.adjust_extract;
  if (mode != -1 && mode != -2 && mode != -3)
    return Status::InvalidArgument(
        "surface points are picked only when the aspect adjusts its extract");
  if (!work_.valid()) return Status::InvalidArgument("there is no work picture to pick on");
  const double w = work_.width, h = work_.height;
  const double length = model_->last_position - model_->first_position;
  constexpr double kPi = 3.14159;
  double surface_y = 0, theta = 0;
  if (setup_.aspect_settings.cell_type != "lateral") {
    surface_y = facing_ ? length * x / w : length * (1 - x / w);
    theta = facing_ ? kPi * (1 - y / h) + kPi / 2 : kPi * y / h + kPi / 2;
  } else if (setup_.aspect_settings.dorsal_midline) {
    surface_y = facing_ ? length * x / w : length * (1 - x / w);
    theta = facing_ ? kPi * (h - y) / h : -kPi * (h - y) / h;
  } else {
    surface_y = facing_ ? length * x / w : length * (1 - x / w);
    theta = facing_ ? -kPi * y / h : kPi * y / h;
  }
  if (shift) {
    picked_.y1 = surface_y;
    picked_.theta1 = theta;
  } else {
    picked_.y2 = surface_y;
    picked_.theta2 = theta;
  }
  fennick::RayRecord ray{};
  if (fennick::find_ray(*model_, control_, surface_y, theta, ray) != fennick::kFennickOk)
    return Status::InvalidArgument(
        "cell " + setup_.cell +
        ": the picked point is not on the body: " + fennick::fennick_last_message());
  last_ray_ = ray;
  *faces_away = ray.v[10] > 0;
  return Status::Ok();
}

Status FitSession::extract(extract::SharedExtract* cell, double max_angle) {
  if (!fitted_)
    return Status::InvalidArgument("Extract of cell " + setup_.cell + ": the model is not fitted");
  const config::AspectSettings& a = setup_.aspect_settings;
  CornerChoice choice;
  choice.aspect = setup_.aspect;
  choice.model_file = a.model_fname;
  choice.facing = facing_;
  choice.adjust_extract = a.adjust_extract;
  choice.range1 = definition_.range1;
  choice.range2 = definition_.range2;
  choice.picked = picked_;
  fennick::SamplingCorners corners{};
  if (Status st = choose_corners(choice, &corners); !st.ok())
    return Status(st).with_note(" (Extract of cell " + setup_.cell + ")");
  SamplingRequest request;
  request.cell = setup_.cell;
  request.picture = &work_;
  request.model = model_.get();
  request.control = &control_;
  request.cell_type = a.cell_type;
  request.facing = facing_;
  request.yellow_black = setup_.settings.YellowBlack;
  request.max_angle = max_angle;
  SamplingResult result;
  if (Status st = sample_extract(request, corners, grid_.get(), cell, &result); !st.ok()) return st;
  corners_ = corners;
  last_extract_ = result;
  last_ray_ = result.centre_ray;
  extracted_ = true;
  return Status::Ok();
}

std::vector<fennick::ScreenPoint> FitSession::model_lines() const {
  auto lines = std::make_unique<fennick::ModelLines>();
  const int32_t n = fennick::get_model_lines(*model_, *lines, 1);
  return std::vector<fennick::ScreenPoint>(lines->points, lines->points + std::max(0, n - n % 2));
}

Status FitSession::surface_to_screen(double y, double theta, fennick::ScreenPoint* point) const {
  fennick::ScreenScratch scratch{};
  fennick::ScreenPoint p{};
  if (fennick::y_theta_to_screen(*model_, control_, y, theta, scratch, p) != fennick::kFennickOk)
    return Status::InvalidArgument(
        "cell " + setup_.cell + ": surface point (" + std::to_string(y) + ", " +
        std::to_string(theta) +
        ") has no place on the picture: " + fennick::fennick_last_message());
  *point = p;
  return Status::Ok();
}

Status FitSession::special_point_on_model(int i, fennick::ScreenPoint* point) const {
  if (i < 0 || i >= special_count())
    return Status::InvalidArgument("special point " + std::to_string(i) + " is not in the model");
  return surface_to_screen(model_->special_y[i], model_->special_theta[i], point);
}

std::vector<fennick::ScreenPoint> FitSession::grid_outline() const {
  std::vector<fennick::ScreenPoint> out;
  if (!extracted_) return out;
  // The library fills at most two grid cells per sampling cell along a side.
  const int n = 256 * std::clamp(control_.oversampling, 1, 2);
  out.reserve(4 * static_cast<size_t>(n));
  const fennick::GridPositions& g = *grid_;
  for (int k = 1; k <= n; ++k) {
    const fennick::ScreenPoint top = g.at(k, 1), bottom = g.at(k, 256);
    out.push_back({top.x, top.y - 1});
    out.push_back({bottom.x, bottom.y + 1});
  }
  for (int j = 1; j <= n; ++j) {
    const fennick::ScreenPoint left = g.at(1, j), right = g.at(256, j);
    out.push_back({left.x - 1, left.y});
    out.push_back({right.x + 1, right.y});
  }
  return out;
}

}  // namespace velmora::model

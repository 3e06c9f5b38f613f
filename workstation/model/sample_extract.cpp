#include "workstation/model/sample_extract.h"

#include <array>
#include <cctype>
#include <cmath>
#include <filesystem>

#include "libs/fennick/fennick.h"
#include "workstation/common/rounding.h"

namespace velmora::model {
namespace {

struct Corner {
  double y = 0, theta = 0;
};

// P00, P01, P10, P11.
using Corners = std::array<Corner, 4>;

std::string lower_file_name(const std::string& file) {
  std::string name = std::filesystem::path(file).filename().string();
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

// The table's frame: P1 and the unit direction towards P2, T = 100 theta.
struct HeadFrame {
  double y = 0, t = 0, ey = 0, et = 0;
};

Status head_frame(const PickedPoints& picked, Corner d1, Corner d2, HeadFrame* frame) {
  const Corner p1 =
      picked.y1 != 0 && picked.theta1 != 0 ? Corner{picked.y1, 100 * picked.theta1} : d1;
  const Corner p2 =
      picked.y2 != 0 && picked.theta2 != 0 ? Corner{picked.y2, 100 * picked.theta2} : d2;
  const double dy = p2.y - p1.y, dt = p2.theta - p1.theta;
  const double length = std::sqrt(dy * dy + dt * dt);
  if (!(length > 0))
    return Status::InvalidArgument(
        "the two picked surface points coincide: the head patch has no direction");
  *frame = {p1.y, p1.theta, dy / length, dt / length};
  return Status::Ok();
}

// Table entry (alpha, beta) of the water and land heads: P1 + alpha e + beta f.
Corner head_corner(const HeadFrame& f, double alpha, double beta) {
  return {f.y + alpha * f.ey + beta * f.et, (f.t + alpha * f.et - beta * f.ey) / 100};
}

Corner frame_origin(const HeadFrame& f) {
  return {f.y, f.t / 100};
}

}  // namespace

bool is_box_aspect(const std::string& aspect) {
  return aspect == "DorsoVentral" || aspect == "Chest" || aspect == "Abdomen";
}

Status choose_corners(const CornerChoice& c, fennick::SamplingCorners* out) {
  const fennick::SurfaceRange& r1 = c.range1;
  const fennick::SurfaceRange& r2 = c.range2;
  const bool box = is_box_aspect(c.aspect);
  // Which box's rules and values the adjustments use: range 1 only for a
  // lateral patch of an animal facing left.
  const bool range1_box = !box && !c.facing;
  Corners p;
  if (box)
    p = {{{r2.y_from, r2.theta_from},
          {r2.y_from, r2.theta_to},
          {r2.y_to, r2.theta_from},
          {r2.y_to, r2.theta_to}}};
  else if (!c.facing)
    p = {{{r1.y_from, r1.theta_from},
          {r1.y_from, r1.theta_to},
          {r1.y_to, r1.theta_from},
          {r1.y_to, r1.theta_to}}};
  else
    p = {{{r2.y_to, r2.theta_to},
          {r2.y_to, r2.theta_from},
          {r2.y_from, r2.theta_to},
          {r2.y_from, r2.theta_from}}};

  const std::string file = lower_file_name(c.model_file);
  if (!box && (file == "head_water.dat" || file == "head_land.dat" || file == "head_pv.dat")) {
    const double s = c.facing ? 1 : -1;  // the defaults' theta sign
    HeadFrame f;
    if (file == "head_water.dat") {
      if (Status st = head_frame(c.picked, {458, s * 232}, {389, s * 245}, &f); !st.ok()) return st;
      if (!c.facing)
        p = {frame_origin(f), head_corner(f, 86.20797, 114.949),
             head_corner(f, 73.91692, -19.65424), head_corner(f, 309.7248, 73.6177)};
      else
        p = {head_corner(f, 86.20797, -114.949), frame_origin(f),
             head_corner(f, 309.7248, -73.6177), head_corner(f, 73.91692, 19.65424)};
    } else if (file == "head_land.dat") {
      if (Status st = head_frame(c.picked, {510, s * 217}, {460, s * 225}, &f); !st.ok()) return st;
      if (!c.facing)
        p = {frame_origin(f), head_corner(f, 109.1075, 124.393), head_corner(f, 74.673, -23.1717),
             head_corner(f, 240.4741, 61.84)};
      else
        p = {head_corner(f, 109.1075, -124.393), frame_origin(f), head_corner(f, 240.4741, -61.84),
             head_corner(f, 74.673, 23.1717)};
    } else {
      if (Status st = head_frame(c.picked, {510, s * 217}, {460, s * 225}, &f); !st.ok()) return st;
      // This head's table runs along Y only: beta moves theta by the
      // direction's Y share.
      auto pv = [&f](double alpha, double beta) {
        return Corner{f.y + alpha * f.ey, (f.t - beta * f.ey) / 100};
      };
      if (!c.facing)
        p = {frame_origin(f), pv(110, 100), pv(30, -100), pv(110, -20)};
      else
        p = {pv(110, -100), frame_origin(f), pv(110, 20), pv(30, 100)};
    }
  }

  const PickedPoints& k = c.picked;
  if (c.adjust_extract == -2) {
    const Corners table = p;
    const double mid =
        range1_box ? 0.5 * (r1.theta_from + r1.theta_to) : 0.5 * (r2.theta_from + r2.theta_to);
    if (k.y1 != 0 && k.theta1 != 0) {
      p[0].y = p[1].y = k.y1;
      p[2].y = p[3].y = range1_box ? k.y1 + (r1.y_to - r1.y_from) : k.y1 - (r2.y_to - r2.y_from);
      for (Corner& q : p) q.theta += k.theta1 - mid;
    }
    if (k.y2 != 0 && k.theta2 != 0) {
      p[2].y = p[3].y = k.y2;
      p[2].theta = table[2].theta + (k.theta2 - mid);
      p[3].theta = table[3].theta + (k.theta2 - mid);
    }
  } else if (c.adjust_extract == -1) {
    if (range1_box) {
      if (k.y2 != 0) p[3].y = k.y2;
      if (k.y1 != 0) p[1].y = k.y1;
    } else {
      if (k.y2 != 0) p[2].y = k.y2;
      if (k.y1 != 0) p[0].y = k.y1;
    }
  }
  for (int i = 0; i < 4; ++i) {
    out->s[2 * i] = p[i].y;
    out->s[2 * i + 1] = p[i].theta;
  }
  return Status::Ok();
}

Status sample_extract(const SamplingRequest& req, const fennick::SamplingCorners& corners,
                      fennick::GridPositions* grid, extract::SharedExtract* out,
                      SamplingResult* result) {
  using fennick::kFennickOk;
  const std::string where = "extract of " + req.cell + ": ";
  if (req.picture == nullptr || !req.picture->valid())
    return Status::InvalidArgument(where + "there is no work picture to sample");
  if (fennick::get_sampling_positions(*req.model, *req.control, 256, 256, corners, *grid) !=
      kFennickOk)
    return Status::InvalidArgument(
        where + "the sampling grid could not be laid: " + fennick::fennick_last_message());

  extract::SharedExtract cell;
  if (out->blank_retrieved) cell.blank = out->blank;
  const bool flipped = req.cell_type == "lateral" && req.facing;
  const double* s = corners.s;
  constexpr double kPi = 3.14159;
  float sum = 0;
  int count = 0;
  fennick::RayRecord ray{};
  for (int j = 1; j <= 256; ++j) {
    const double t = (j - 1) / 255.0;
    const double y0 = s[0] + (s[4] - s[0]) * t, th0 = s[1] + (s[5] - s[1]) * t;
    const double y1 = s[2] + (s[6] - s[2]) * t, th1 = s[3] + (s[7] - s[3]) * t;
    for (int k = 1; k <= 256; ++k) {
      const double u = (k - 1) / 255.0;
      if (fennick::find_ray(*req.model, *req.control, y0 + (y1 - y0) * u, th0 + (th1 - th0) * u,
                            ray) != kFennickOk)
        return Status::InvalidArgument(where + "the body model could not place pixel (" +
                                       std::to_string(j) + ", " + std::to_string(k) +
                                       "): " + fennick::fennick_last_message());
      const double nx = ray.v[8], ny = ray.v[9], nz = ray.v[10];
      const double angle =
          std::acos(std::fabs(nz) / std::sqrt(nx * nx + ny * ny + nz * nz)) * 180 / kPi;
      const fennick::ScreenPoint at = grid->at(k, j);
      const int32_t colour = req.picture->colour(at.x, at.y);
      // C++'s % keeps the dividend's sign, so the -1 read off the picture
      // gives -1 in every component.
      const int r = colour % 256;
      const int g = static_cast<int>(std::floor(colour / 256.0)) % 256;
      const int b = static_cast<int>(std::floor(colour / 65536.0)) % 256;
      const int row = flipped ? 257 - j : j, column = flipped ? 257 - k : k;
      const double grey = req.yellow_black ? (r + g - b) / 3.0 : (r + g + b) / 3.0;
      cell.cell_intensity(row, column) = grey;
      cell.cell_rgb(extract::ColourPlane::kRed, row, column) = static_cast<int16_t>(r);
      cell.cell_rgb(extract::ColourPlane::kGreen, row, column) = static_cast<int16_t>(g);
      cell.cell_rgb(extract::ColourPlane::kBlue, row, column) = static_cast<int16_t>(b);
      const bool painted_out = r == 0 && g == 0 && b == 255;
      if (angle > req.max_angle || nz > 0 || grey < 0 || painted_out) {
        cell.cell_blank(row, column) = extract::kBlankPixel;
      } else {
        sum += static_cast<float>(grey);
        ++count;
      }
    }
  }
  if (count == 0)
    return Status::InvalidArgument(where +
                                   "every pixel is blank (the patch is off the picture, faces "
                                   "away or is painted out); nothing was extracted");

  const double cy = 0.25 * (s[0] + s[2] + s[4] + s[6]);
  const double ctheta = 0.25 * (s[1] + s[3] + s[5] + s[7]);
  fennick::RayRecord centre{};
  if (fennick::find_ray(*req.model, *req.control, cy, ctheta, centre) != kFennickOk)
    return Status::InvalidArgument(where + "the body model could not place the patch centre: " +
                                   fennick::fennick_last_message());

  const float mean = sum / static_cast<float>(count);
  const auto level = static_cast<int16_t>(round_half_even(mean));
  int blanks = 0;
  for (int row = 1; row <= 256; ++row)
    for (int column = 1; column <= 256; ++column) {
      if (!cell.is_blank(row, column)) continue;
      ++blanks;
      cell.cell_intensity(row, column) = mean;
      for (int p = 0; p < extract::kColourPlanes; ++p)
        cell.cell_rgb(static_cast<extract::ColourPlane>(p), row, column) = level;
    }

  out->intensity = std::move(cell.intensity);
  out->rgb = std::move(cell.rgb);
  out->blank = std::move(cell.blank);
  out->extract_ready = true;
  result->centre_ray = centre;
  result->mean_grey = mean;
  result->blank_count = blanks;
  return Status::Ok();
}

}  // namespace velmora::model

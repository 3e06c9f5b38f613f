#include "workstation/extract/testing/test_extracts.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace velmora::extract::testing {

SharedExtract test_extract(const TestPelt& pelt, std::vector<Mark>* marks) {
  std::mt19937_64 rnd(pelt.seed);
  std::uniform_real_distribution<double> place(30.0, 226.0), size(3.5, 6.5);
  std::normal_distribution<double> noise(0.0, 2.0);
  std::vector<Mark> drawn;
  for (int k = 0; k < pelt.marks; ++k) drawn.push_back({place(rnd), place(rnd), size(rnd)});
  SharedExtract x;
  const double ink = pelt.light_marks ? 70.0 : -70.0;
  double usable_sum = 0;
  int usable = 0;
  for (int r = 1; r <= kExtractRows; ++r) {
    for (int c = 1; c <= kExtractColumns; ++c) {
      double v = 110.0 + 0.15 * c + 0.05 * r;  // the slow trend
      if (pelt.stripes) {
        v += ink * 0.5 * (1.0 + std::cos(2.0 * std::numbers::pi * (r + 0.3 * c) / 14.0));
      } else {
        for (const Mark& m : drawn) {
          const double d = std::hypot(r - m.row, c - m.column);
          if (d < m.radius + 2.0)
            v += ink * std::exp(-0.5 * (d / (0.6 * m.radius)) * (d / (0.6 * m.radius)));
        }
      }
      v = std::clamp(v + noise(rnd), 0.0, 255.0);
      const bool blank = pelt.blank_corner && r <= 40 && c <= 40;
      x.cell_blank(r, c) = blank ? kBlankPixel : kUsablePixel;
      x.cell_intensity(r, c) = v;
      if (!blank) {
        usable_sum += v;
        ++usable;
      }
    }
  }
  const double mean = usable > 0 ? usable_sum / usable : 0.0;
  for (int r = 1; r <= kExtractRows; ++r)
    for (int c = 1; c <= kExtractColumns; ++c) {
      if (x.is_blank(r, c)) x.cell_intensity(r, c) = mean;
      const auto grey = static_cast<std::int16_t>(std::lround(x.cell_intensity(r, c)));
      x.cell_rgb(ColourPlane::kRed, r, c) = grey;
      x.cell_rgb(ColourPlane::kGreen, r, c) = static_cast<std::int16_t>(grey * 9 / 10);
      x.cell_rgb(ColourPlane::kBlue, r, c) = static_cast<std::int16_t>(grey * 8 / 10);
    }
  x.blank_edited = pelt.blank_corner;
  x.extract_ready = true;
  if (marks) *marks = drawn;
  return x;
}

ProcessingSetup test_setup(const std::string& pattern, const std::string& folders) {
  ProcessingSetup s;
  s.aspect = "Flank";
  s.folders = folders;
  config::AspectSettings& a = s.aspect_settings;
  a.pattern = pattern;
  a.cell_type = "lateral";
  a.show_n_spots = 20;
  if (pattern.find("stripe") != std::string::npos) {
    a.from_r = 8, a.to_r = 16, a.step_r = 4;
    a.from_theta_deg = 0, a.to_theta_deg = 165, a.step_theta_deg = 15;
    a.sigmax_ratio = 0.5, a.sigmay = 8.0;
  } else {
    a.from_r = 3, a.to_r = 9, a.step_r = 2;
  }
  s.settings.avg_depth_default = 10;
  s.settings.critical_distance = 9.0f;
  s.settings.dilate_proportion = 0.25f;
  s.settings.library_name = "newlib/";
  s.letters.tarvik = "a";
  s.letters.compnew_spot = "s";
  return s;
}

}  // namespace velmora::extract::testing

#include "workstation/runs/title_fade.h"

#include <cmath>

namespace velmora::runs {
namespace {

constexpr double kTwipsPerPixel = 15.0;
constexpr double kReferenceTwips = 12000.0;
constexpr double kWideReferenceTwips = 10750.0;

int nearest(double v) {
  return static_cast<int>(std::nearbyint(v));
}

}  // namespace

void TitleFade::colour_at(double t, int* red, int* green, int* blue) {
  // nearbyint rounds in the current mode, which the program never changes
  // from round-to-nearest-even.
  *red = nearest(kBackgroundGrey * t);
  *green = nearest(kBackgroundGrey * t);
  *blue = nearest(255.0 * (1.0 - t) + kBackgroundGrey * t);
}

double TitleFade::step_at(double t) {
  if (t < 0.5) return 0.05;
  if (t < 0.75) return 0.03;
  return 0.01;
}

bool TitleFade::tick(ControlPanel& panel) {
  int r, g, b;
  colour_at(t_, &r, &g, &b);
  panel.set_title_colour(r, g, b);
  t_ += step_at(t_);
  if (t_ < 1.0) return false;
  panel.set_title_colour(kBackgroundGrey, kBackgroundGrey, kBackgroundGrey);
  show_start_controls(panel);
  return true;
}

void show_start_controls(ControlPanel& panel) {
  static constexpr ControlName kShown[] = {
      "lblFoldersPath", "txtFoldersPath", "lblDatabase",     "txtDatabase",     "lblNewpics",
      "txtNewpics",     "cmdBrowse",      "optInField",      "optBatchExtract", "optBatchCompare",
      "optVcheck",      "optTest",        "chkPreviousTest", "cmdStart"};
  for (ControlName n : kShown) panel.set_visible(n, true);
}

double layout_scale(double screen_width, double screen_height) {
  if (screen_height <= 0) return 1.0;
  const double reference =
      1.5 * screen_height <= screen_width ? kWideReferenceTwips : kReferenceTwips;
  return screen_height * kTwipsPerPixel / reference;
}

}  // namespace velmora::runs

// The title fade of the main window and the window's scaling rule.
//
// At start-up the title label (lblTitle) fades from blue (0, 0, 255) to the
// window's grey background (192, 192, 192). The fade parameter t runs from 0
// to 1: fast at first, slower towards the end; when it reaches 1 the timer
// stops and the folder boxes, the mode options and Start appear. A click
// anywhere on the window sets t to 1, so the next tick ends the fade.
//
// TitleFade holds only t; the Qt window drives tick() from a QTimer and
// stops the timer when tick() returns true. Plain value, GUI thread only.
#pragma once

#include "workstation/common/control_panel.h"

namespace velmora::runs {

// The window background, also the title's colour once the fade is over.
inline constexpr int kBackgroundGrey = 192;
// Milliseconds between two ticks of the title timer (about 2 s in all).
inline constexpr int kTitleFadeIntervalMs = 50;

class TitleFade {
 public:
  double t() const { return t_; }
  // Back to the start of the fade (title blue).
  void reset() { t_ = 0.0; }
  // The operator's click: the next tick ends the fade.
  void skip() { t_ = 1.0; }
  // One timer tick: colours the title for the current t, advances t, and at
  // t >= 1 gives the title the background colour and shows the controls the
  // fade was hiding. Returns true when the fade has ended.
  bool tick(ControlPanel& panel);

  // The title colour for a fade parameter t, each part rounded to the nearest
  // whole number (halves to even).
  static void colour_at(double t, int* red, int* green, int* blue);
  // The step added to t after a tick at t.
  static double step_at(double t);

 private:
  double t_ = 0.0;
};

// Shows what the end of the fade reveals: the folder and database labels and
// boxes, cmdBrowse, the five mode options, "last test result" and cmdStart.
void show_start_controls(ControlPanel& panel);

// Scaling of the window's picture boxes and labels. Design sizes are pixels
// for a screen 800 pixels high (12000 twips at 15 twips a pixel); they are
// multiplied by the screen height over a reference height of 12000 twips, or
// of 10750 twips on a wide screen (1.5 times the height not above the width).
// Screen sizes in pixels; a 1280 x 800 screen gives 1.116, 1280 x 1024 gives
// 1.28.
double layout_scale(double screen_width_px, double screen_height_px);

}  // namespace velmora::runs

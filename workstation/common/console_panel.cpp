// Console panel and dialogs of the runs without a display (see
// console_panel.h).
#include "workstation/common/console_panel.h"

#include <cmath>

namespace velmora {

void ConsolePanel::set_text(ControlName name, const std::string& text) {
  RecordingControlPanel::set_text(name, text);
  if (name == "lblProgress") out_ << text << "\n" << std::flush;
}

void ConsolePanel::set_progress(double fraction) {
  RecordingControlPanel::set_progress(fraction);
  // The bar is drawn at fraction x 0.98 + 0.01 of its frame; the work done
  // is printed.
  const double done = std::fmin(std::fmax((fraction - 0.01) / 0.98, 0.0), 1.0);
  const int percent = static_cast<int>(std::lround(done * 100));
  if (percent == last_percent_) return;
  last_percent_ = percent;
  out_ << "  progress " << percent << "%\n" << std::flush;
}

Answer ConsoleDialogs::message(const std::string& text, Buttons buttons, Icon, const std::string&) {
  ++messages_;
  out_ << "message: " << text << "\n" << std::flush;
  return buttons == Buttons::kYesNo || buttons == Buttons::kYesNoCancel ? Answer::kYes
                                                                        : Answer::kOk;
}

}  // namespace velmora

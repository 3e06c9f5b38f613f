// The window's stand-ins for a run without a display (velmora-batch and the
// other headless programs).
//
// ConsolePanel keeps every control as RecordingControlPanel does and prints each
// new lblProgress text on a line of its own, and the progress bar as a
// percentage whenever the whole percent changes. ConsoleDialogs prints each
// message, answers it with its first button (OK or Yes: a question such as
// "... records waiting for visual checking will be compared" lets the run go
// on), counts beeps and records "the program ends". Both write to a stream
// the caller owns, which must outlive them.
#pragma once

#include <ostream>
#include <string>

#include "workstation/common/control_panel.h"
#include "workstation/common/operator_dialogs.h"

namespace velmora {

class ConsolePanel : public RecordingControlPanel {
 public:
  explicit ConsolePanel(std::ostream& out) : out_(out) {}
  void set_text(ControlName name, const std::string& text) override;
  void set_progress(double fraction) override;

 private:
  std::ostream& out_;
  int last_percent_ = -1;
};

class ConsoleDialogs : public OperatorDialogs {
 public:
  explicit ConsoleDialogs(std::ostream& out) : out_(out) {}
  Answer message(const std::string& text, Buttons buttons, Icon icon,
                 const std::string& title) override;
  void beep() override { ++beeps_; }
  void end_program() override { ended_ = true; }
  bool program_ended() const override { return ended_; }

  int messages() const { return messages_; }
  int beeps() const { return beeps_; }

 private:
  std::ostream& out_;
  int messages_ = 0;
  int beeps_ = 0;
  bool ended_ = false;
};

}  // namespace velmora

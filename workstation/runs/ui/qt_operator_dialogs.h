// QtOperatorDialogs: the operator's message boxes as QMessageBox, the
// information beep, and "the program ends" as the end of the application's
// event loop.
//
// end_program quits the event loop once control returns to it (a queued
// exit), so the caller finishes its own return path first; program_ended()
// tells every later caller that the program is on its way out. GUI thread
// only.
#pragma once

#include <QWidget>

#include "workstation/common/operator_dialogs.h"

namespace velmora::runs {

class QtOperatorDialogs : public OperatorDialogs {
 public:
  // Boxes are centred on `parent` (may be null).
  explicit QtOperatorDialogs(QWidget* parent) : parent_(parent) {}
  Answer message(const std::string& text, Buttons buttons, Icon icon,
                 const std::string& title) override;
  void beep() override;
  void end_program() override;
  bool program_ended() const override { return ended_; }

 private:
  QWidget* parent_;
  bool ended_ = false;
};

}  // namespace velmora::runs

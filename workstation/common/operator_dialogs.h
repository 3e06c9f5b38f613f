// OperatorDialogs: every message box the workstation shows, the information
// beep, and "the program ends", behind one interface.
//
// Runs and windows never call QMessageBox or exit() themselves; they are given
// an OperatorDialogs. The Qt implementation (qt_operator_dialogs.h) shows real
// boxes; ScriptedDialogs (below) answers from a queue and records what was
// asked, so tests can drive a run through its messages and observe the end.
// Used on the GUI thread only.
#pragma once

#include <deque>
#include <string>
#include <vector>

namespace velmora {

enum class Buttons { kOk, kOkCancel, kYesNo, kYesNoCancel };
enum class Answer { kOk, kCancel, kYes, kNo };
enum class Icon { kNone, kInformation, kExclamation, kCritical, kQuestion };

class OperatorDialogs {
 public:
  virtual ~OperatorDialogs() = default;
  // Shows a modal message and returns the operator's choice.
  virtual Answer message(const std::string& text, Buttons buttons = Buttons::kOk,
                         Icon icon = Icon::kNone, const std::string& title = "Velmora") = 0;
  virtual void beep() = 0;
  // Ends the whole program after the caller's message. The Qt implementation
  // quits the event loop; callers must return promptly after calling it.
  virtual void end_program() = 0;
  virtual bool program_ended() const = 0;
};

// Answers from a script; when the script is empty, answers the first button
// (Ok or Yes). Records every message, beep and end for assertions.
class ScriptedDialogs : public OperatorDialogs {
 public:
  struct Shown {
    std::string text;
    Buttons buttons;
  };
  void queue(Answer a) { answers_.push_back(a); }
  Answer message(const std::string& text, Buttons buttons, Icon, const std::string&) override {
    shown_.push_back({text, buttons});
    if (!answers_.empty()) {
      Answer a = answers_.front();
      answers_.pop_front();
      return a;
    }
    return buttons == Buttons::kYesNo || buttons == Buttons::kYesNoCancel ? Answer::kYes
                                                                          : Answer::kOk;
  }
  void beep() override { ++beeps_; }
  void end_program() override { ended_ = true; }
  bool program_ended() const override { return ended_; }

  const std::vector<Shown>& shown() const { return shown_; }
  int beeps() const { return beeps_; }

 private:
  std::deque<Answer> answers_;
  std::vector<Shown> shown_;
  int beeps_ = 0;
  bool ended_ = false;
};

}  // namespace velmora

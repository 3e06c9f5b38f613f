// WidgetControlPanel: ControlPanel over the Qt widgets of one window.
//
// Each call finds the widget whose objectName is the control name among the
// root's descendants and acts on it by its kind: option buttons and check
// boxes (QAbstractButton), text boxes (QLineEdit), lists (QComboBox), labels
// (QLabel), frames (QGroupBox). "Visible" is the control's own setting, as
// the run code sets it, not whether its window happens to be on screen. A
// control without a widget under the root reads as unchecked / empty and
// writes to it are ignored.
//
// Lists behave like the operator's lists: adding entries selects none; the
// run code selects one explicitly. Unchecking an option button clears it
// even inside its exclusive group. GUI thread only; the root must outlive
// the panel.
#pragma once

#include <QWidget>

#include "workstation/common/control_panel.h"

namespace velmora {

class WidgetControlPanel : public ControlPanel {
 public:
  explicit WidgetControlPanel(QWidget* root) : root_(root) {}

  bool checked(ControlName name) const override;
  void set_checked(ControlName name, bool on) override;
  std::string text(ControlName name) const override;
  void set_text(ControlName name, const std::string& text) override;
  bool visible(ControlName name) const override;
  void set_visible(ControlName name, bool on) override;
  void set_enabled(ControlName name, bool on) override;
  void set_font_size(ControlName name, int points) override;
  void clear_items(ControlName name) override;
  void add_item(ControlName name, const std::string& item) override;
  std::vector<std::string> items(ControlName name) const override;
  void select_item(ControlName name, int index) override;
  void set_progress(double fraction) override;
  void set_title_colour(int red, int green, int blue) override;
  void process_events() override;
  bool stop_requested() const override { return stop_requested_; }

  // The operator's stop (the Stop button, or closing the window during a
  // run); cleared when the next run starts.
  void request_stop() { stop_requested_ = true; }
  void clear_stop() { stop_requested_ = false; }

  // The widget of a control, or nullptr.
  QWidget* widget(ControlName name) const;

 private:
  QWidget* root_;
  bool stop_requested_ = false;
};

}  // namespace velmora

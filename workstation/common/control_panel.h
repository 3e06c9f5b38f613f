// ControlPanel: the main window's controls as the run code sees them.
//
// The Start driver and the comparison runs read options and show progress on
// the operator's controls (cmdStart, optBatchCompare, txtNumPend, lblProgress,
// ProgressBar1, ...). They do so only through this interface, by the
// controls' own names, so the same run code drives the Qt main window
// (runs/ui: each name is a widget's objectName), a headless console run
// (progress labels printed) and the tests (RecordingControlPanel below).
//
// Names are ControlNames (control_name.h): a misspelled name does not
// compile. A control a panel has no widget for reads as unchecked / empty and
// writes to it are ignored, except that RecordingControlPanel records them.
// Used on the GUI thread only.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "workstation/common/control_name.h"

namespace velmora {

class ControlPanel {
 public:
  virtual ~ControlPanel() = default;

  // Option buttons and check boxes.
  virtual bool checked(ControlName name) const = 0;
  virtual void set_checked(ControlName name, bool on) = 0;
  // Text of a text box or list (the current entry); caption of a label or button.
  virtual std::string text(ControlName name) const = 0;
  virtual void set_text(ControlName name, const std::string& text) = 0;
  virtual bool visible(ControlName name) const = 0;
  virtual void set_visible(ControlName name, bool on) = 0;
  virtual void set_enabled(ControlName name, bool on) = 0;
  // Font size of a label's or button's caption, in points. Panels without
  // fonts ignore it.
  virtual void set_font_size(ControlName /*name*/, int /*points*/) {}
  // Lists (combo boxes): entries and selection.
  virtual void clear_items(ControlName name) = 0;
  virtual void add_item(ControlName name, const std::string& item) = 0;
  virtual std::vector<std::string> items(ControlName name) const = 0;
  virtual void select_item(ControlName name, int index) = 0;
  // Progress bar ProgressBar2 as a share (0..1) of ProgressBar1's width.
  virtual void set_progress(double fraction) = 0;
  // Title label colour (lblTitle), 0..255 each.
  virtual void set_title_colour(int red, int green, int blue) = 0;
  // Lets pending window events run (keeps the window responsive in long work).
  virtual void process_events() = 0;
  // True once the operator has asked the running work to stop (the stop
  // button, or closing the window and confirming); long work looks at it
  // after process_events() and ends what it is doing.
  virtual bool stop_requested() const { return false; }
};

// An in-memory panel for tests and headless runs: every control is a record,
// and the progress texts, bar positions and font sizes set are kept in order.
class RecordingControlPanel : public ControlPanel {
 public:
  struct Control {
    bool checked = false;
    bool visible = true;
    bool enabled = true;
    int font_size = 0;  // 0: never set
    std::string text;
    std::vector<std::string> items;
  };

  bool checked(ControlName n) const override { return get(n).checked; }
  void set_checked(ControlName n, bool on) override { controls_[n].checked = on; }
  std::string text(ControlName n) const override { return get(n).text; }
  void set_text(ControlName n, const std::string& t) override {
    controls_[n].text = t;
    if (n == "lblProgress") progress_labels_.push_back(t);
  }
  bool visible(ControlName n) const override { return get(n).visible; }
  void set_visible(ControlName n, bool on) override { controls_[n].visible = on; }
  void set_enabled(ControlName n, bool on) override { controls_[n].enabled = on; }
  void set_font_size(ControlName n, int points) override {
    controls_[n].font_size = points;
    font_sizes_.push_back({n.str(), points});
  }
  void clear_items(ControlName n) override { controls_[n].items.clear(); }
  void add_item(ControlName n, const std::string& item) override {
    controls_[n].items.push_back(item);
  }
  std::vector<std::string> items(ControlName n) const override { return get(n).items; }
  void select_item(ControlName n, int index) override {
    Control& c = controls_[n];
    if (index >= 0 && index < static_cast<int>(c.items.size())) c.text = c.items[index];
  }
  void set_progress(double fraction) override { progress_.push_back(fraction); }
  void set_title_colour(int r, int g, int b) override { title_colour_ = {r, g, b}; }
  void process_events() override {
    ++events_runs_;
    if (stop_after_events_ > 0 && events_runs_ >= stop_after_events_) stop_ = true;
  }
  bool stop_requested() const override { return stop_; }
  // Asks for a stop now, or once process_events() has run `events` times.
  void request_stop() { stop_ = true; }
  void request_stop_after_events(int events) { stop_after_events_ = events; }

  const std::vector<std::string>& progress_labels() const { return progress_labels_; }
  const std::vector<double>& progress() const { return progress_; }
  std::vector<int> title_colour() const { return title_colour_; }
  int events_runs() const { return events_runs_; }
  // The whole record of one control (an absent control reads as the defaults).
  const Control& control(ControlName n) const { return get(n); }
  // Every font size set, in order, as (control, points).
  const std::vector<std::pair<std::string, int>>& font_sizes() const { return font_sizes_; }

 private:
  const Control& get(ControlName n) const {
    static const Control kAbsent{};
    auto it = controls_.find(n);
    return it == controls_.end() ? kAbsent : it->second;
  }
  std::map<ControlName, Control> controls_;
  std::vector<std::string> progress_labels_;
  std::vector<double> progress_;
  std::vector<int> title_colour_;
  int events_runs_ = 0;
  int stop_after_events_ = 0;
  bool stop_ = false;
  std::vector<std::pair<std::string, int>> font_sizes_;
};

}  // namespace velmora

// The controls of the main window as one table: name, kind, caption, parent,
// design place and state at start-up.
//
// The Qt window builds one widget per row (objectName = name) and the run
// code reaches each by that name through ControlPanel. Geometry is in design
// pixels of a window kDesignWidth x kDesignHeight, scaled at start-up by
// layout_scale (title_fade.h); children of a frame or bar are placed inside
// their parent. Only the title label is visible at start-up: the end of the
// title fade shows the folder boxes, the mode options and Start, and each
// mode option shows its own settings.
//
// Picture boxes, scroll bars and buttons of the extract-processing and review
// steps are rows here too, so that the Start driver can show and hide them;
// the steps that draw on them or handle their clicks fill them in. A control
// array element is named with its index in brackets: "picLibImage(0)".
//
// The names are those of kControlNames (common/control_name.h), which the run
// code's names are checked against when compiled: the rows are written with
// ControlNames, and a test checks that every name has its row.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "workstation/common/control_name.h"

namespace velmora::runs {

inline constexpr const char* kMainWindowCaption = "Velmora V1.25 Landscape";
inline constexpr const char* kAcknowledgement =
    "Velmora V1.25\nphoto-identification of animals by their pelt patterns";
inline constexpr int kDesignWidth = 1000;
inline constexpr int kDesignHeight = 700;

enum class ControlKind {
  kOption,   // option (radio) button; exclusive among its siblings
  kCheck,    // check box
  kText,     // one-line text box
  kLabel,    // label
  kButton,   // push button
  kList,     // drop-down list
  kFrame,    // frame with a caption, holding other controls
  kPicture,  // picture box over a backing image
  kHScroll,  // horizontal scroll bar (slider)
  kVScroll,  // vertical scroll bar
  kBar,      // plain box drawn as a bar (ProgressBar1, ProgressBar2)
};

struct ControlSpec {
  std::string name;  // control name, the widget's objectName
  ControlKind kind;
  std::string caption;      // caption or default text
  std::string parent;       // empty: the window itself
  int x, y, width, height;  // design pixels, relative to the parent
  bool visible;             // at start-up
  bool checked;             // options and check boxes at start-up

  // The row's control, and its parent's (none: the window itself).
  ControlName control() const;
  std::optional<ControlName> parent_control() const;
};

// Every control of the main window, parents before their children.
const std::vector<ControlSpec>& main_window_controls();

// The row of `name`, or nullptr.
const ControlSpec* find_control(const std::string& name);

}  // namespace velmora::runs

// Compiled by the control_name_compiles and control_name_misspelled tests
// (not part of any program): a control name spelled right compiles, one
// spelled wrong stops the compiler at ControlName's check.
#include "workstation/common/control_panel.h"

void show_count(velmora::ControlPanel& p) {
#ifdef VELMORA_MISSPELLED_CONTROL
  p.set_text("txtNumPnd", "200");
#else
  p.set_text("txtNumPend", "200");
#endif
}

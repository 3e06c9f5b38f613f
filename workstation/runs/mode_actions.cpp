#include "workstation/runs/mode_actions.h"

#include "workstation/common/number_text.h"

namespace velmora::runs {
namespace {

void show(ControlPanel& p, std::initializer_list<ControlName> names) {
  for (ControlName n : names) p.set_visible(n, true);
}
void hide(ControlPanel& p, std::initializer_list<ControlName> names) {
  for (ControlName n : names) p.set_visible(n, false);
}

}  // namespace

void optInField_chosen(ControlPanel& p) {
  // "restricted" only means something in real-time identification, and every
  // other mode hides it, so this is the one place that offers it again.
  show(p, {"chkCrop", "chkComb", "chkStan", "chkRestricted"});
  hide(p, {"txtNumPend", "chkQuick", "Frame1"});
}

void optBatchExtract_chosen(ControlPanel& p) {
  hide(p, {"Frame1", "txtNumPend", "chkQuick", "chkRestricted", "chkStan", "chkComb", "chkCrop"});
}

void optBatchCompare_chosen(ControlPanel& p, bool limit_search) {
  // "use multiple cores" belongs to batch comparison alone; it is offered
  // here because a batch size of 0 may have hidden it.
  show(p, {"txtNumPend", "chkQuick", "chkStan", "chkMultiCore"});
  p.set_visible("Frame1", limit_search);
  hide(p, {"chkComb", "chkCrop", "chkRestricted"});
}

void optVcheck_chosen(ControlPanel& p) {
  hide(p, {"chkStan"});
  show(p, {"chkCrop", "chkComb"});
  hide(p, {"txtNumPend", "chkQuick", "chkRestricted", "Frame1"});
}

void optTest_chosen(ControlPanel& p) {
  show(p, {"chkPreviousTest", "chkStan", "chkComb"});
}

void chkStan_clicked(ControlPanel& p) {
  if (p.checked("chkStan")) show(p, {"txtPm", "lblPm"});
}

void chkComb_clicked(ControlPanel& p) {
  const bool combine = p.checked("chkComb");
  if (combine) {
    p.set_visible("chkStan", true);
    p.set_checked("chkStan", true);
    // Checking "standardise" from here has the same effect as the
    // operator's own click on it.
    chkStan_clicked(p);
  }
  p.set_text("cmdSetupChoice", setup_choice_caption(combine));
}

void chkMultiCore_clicked(ControlPanel& p, const std::vector<std::string>& aspect_names) {
  if (!p.checked("chkMultiCore")) return;
  p.set_visible("chkStan", false);
  p.set_visible("cmbAspect", true);
  p.clear_items("cmbAspect");
  for (const std::string& name : aspect_names) p.add_item("cmbAspect", name);
}

void cmbAspect_chosen(ControlPanel& p, const std::string& cell_type) {
  p.set_visible("cmbSide", true);
  p.clear_items("cmbSide");
  if (cell_type != "lateral") {
    p.add_item("cmbSide", "M");
  } else {
    p.add_item("cmbSide", "L");
    p.add_item("cmbSide", "R");
  }
  p.select_item("cmbSide", 0);
}

void limit_option_chosen(ControlPanel& p) {
  const bool site = p.checked("optLimitToSite");
  const bool landscape = !site && p.checked("optLimitToLandscape");
  p.set_visible("cmbSites", site);
  p.set_visible("cmbLandscapes", landscape);
}

void txtNumPend_changed(ControlPanel& p) {
  std::optional<double> n = number_in_text(p.text("txtNumPend"));
  if (!n) return;
  if (*n > kMaxBatchSize) {
    p.set_text("txtNumPend", std::to_string(kMaxBatchSize));
  } else if (*n == 0) {
    p.set_visible("chkMultiCore", false);
  }
}

void lblWhichExtract_clicked(ControlPanel& p) {
  hide(p, {"Frame1", "txtNumPend", "chkQuick"});
}

std::string setup_choice_caption(bool combine) {
  return combine ? "stop checks" : "next extract";
}

std::optional<double> number_in_text(const std::string& text) {
  // The window runs under the operator's locale; a comma decimal mark there
  // must not make "2.5" unreadable, so the text is read locale-free.
  return real_from_text(text, Blanks::kTrim);
}

}  // namespace velmora::runs

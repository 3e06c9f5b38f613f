// ControlName: the name of one of the main window's controls, checked when
// the program is compiled.
//
// The run code reaches the operator's controls by name through ControlPanel
// (control_panel.h). A name written in the code ("txtNumPend") becomes a
// ControlName through a consteval constructor that looks it up in
// kControlNames, so a misspelled name is a compile error instead of a control
// that silently reads as empty. Names that only exist at run time (a widget's
// objectName, a row of a table) go through ControlName::from, which says
// whether the text is a control at all.
//
// A ControlName is a small value (its place in kControlNames); copy it freely.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace velmora {

// The names of the main window's controls, each once. The window itself
// (runs/main_window_controls.cpp) builds one widget per name, and its rows can
// only name controls of this list; the list lives here, below the window,
// because run code of every layer from here up names controls and each name is
// checked against it when compiled. A new control is added here and as a row
// of the window's table; the window's tests fail while a name has no row. A
// control array element is named with its index in brackets.
inline constexpr auto kControlNames = std::to_array<std::string_view>({
    // Title.
    "lblTitle",
    // Folders and database.
    "lblFoldersPath",
    "txtFoldersPath",
    "lblDatabase",
    "txtDatabase",
    "lblNewpics",
    "txtNewpics",
    "cmdBrowse",
    // The five modes.
    "optInField",
    "optBatchExtract",
    "optBatchCompare",
    "optVcheck",
    "optTest",
    // Settings the modes show.
    "chkStan",
    "chkComb",
    "chkCrop",
    "chkQuick",
    "chkRestricted",
    "chkPreviousTest",
    "lblPm",
    "txtPm",
    "chkMultiCore",
    "cmbAspect",
    "cmbSide",
    "txtNumPend",
    // Library limit.
    "Frame1",
    "optDontLimit",
    "optLimitToSite",
    "optLimitToLandscape",
    "cmbSites",
    "cmbLandscapes",
    // Run control and progress.
    "cmdStart",
    "cmdStop",
    "lblProgress",
    "ProgressBar1",
    "ProgressBar2",
    "lblWhichExtract",
    // Extract processing.
    "picExtract",
    "lblExtract",
    "picProcess",
    "lblPic2",
    "picShapes",
    "lblPic3",
    "picDilate_top",
    "picDilate_bot",
    "hscLimitSpots",
    "hscAvgDepth",
    "hscFilter",
    "lblNumberSpots",
    "cmdToggleSpots",
    "cmdSeed",
    "lblNumberSeeds",
    "txtDist",
    "txtDet",
    "cmdSaveExtract",
    // Visual confirmation.
    "picPendImage",
    "lblPendImage",
    "vscPendList",
    "picLibImage(0)",
    "picLibImage(1)",
    "picLibImage(2)",
    "picLibImage(3)",
    "picLibImage(4)",
    "picLibImage(5)",
    "picLibImage(6)",
    "picLibImage(7)",
    "picLibImage(8)",
    "lblLibImage",
    "vscAnimList",
    "cmdMoveBack",
    "cmdMoveOn",
    "cmdMatch",
    "cmdSetupChoice",
    "cmdMoreLibPics",
    "cmdContinue",
    "cmdSkip",
    "picLoadLibImage",
});

namespace control_name_detail {

// Never defined as constexpr: reaching it while a ControlName is made from a
// literal stops the compilation, and the compiler's message names it.
void not_a_control_of_the_main_window();

constexpr std::optional<std::size_t> index_of(std::string_view text) {
  for (std::size_t i = 0; i < kControlNames.size(); ++i)
    if (kControlNames[i] == text) return i;
  return std::nullopt;
}

consteval bool each_name_once() {
  for (std::size_t i = 0; i < kControlNames.size(); ++i)
    if (index_of(kControlNames[i]) != i) return false;
  return true;
}
static_assert(each_name_once(), "a control name is listed twice");

}  // namespace control_name_detail

class ControlName {
 public:
  // A name written in the code. Not a name of kControlNames: compile error
  // ("call to non-constexpr function not_a_control_of_the_main_window").
  consteval ControlName(const char* text) {  // NOLINT(google-explicit-constructor)
    const std::optional<std::size_t> i = control_name_detail::index_of(text);
    if (!i) control_name_detail::not_a_control_of_the_main_window();
    index_ = *i;
  }

  // The control named `text`, or nothing when no control has that name.
  static constexpr std::optional<ControlName> from(std::string_view text) {
    const std::optional<std::size_t> i = control_name_detail::index_of(text);
    if (!i) return std::nullopt;
    return ControlName(Index{*i});
  }
  // Every control, in the order of kControlNames.
  static constexpr std::array<ControlName, kControlNames.size()> all() {
    std::array<ControlName, kControlNames.size()> out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = ControlName(Index{i});
    return out;
  }

  constexpr std::string_view view() const { return kControlNames[index_]; }
  std::string str() const { return std::string(view()); }

  // Ordered by place in kControlNames (a key for maps).
  friend constexpr bool operator==(ControlName, ControlName) = default;
  friend constexpr auto operator<=>(ControlName, ControlName) = default;
  friend std::ostream& operator<<(std::ostream& out, ControlName name) {
    return out << name.view();
  }

 private:
  struct Index {
    std::size_t value;
  };
  constexpr ControlName() = default;
  explicit constexpr ControlName(Index i) : index_(i.value) {}

  std::size_t index_ = 0;
};

}  // namespace velmora

#include "workstation/runs/main_window_controls.h"

#include <cstdio>
#include <cstdlib>

namespace velmora::runs {
namespace {

using K = ControlKind;

// A row's parent as written below: "" is the window itself, anything else
// must be a control.
struct Parent {
  consteval Parent(const char* text) : text(text) {  // NOLINT(google-explicit-constructor)
    if (text[0] != '\0') (void)ControlName(text);
  }
  const char* text;
};

// A row as written below: its name and its parent's are checked against the
// control names when compiled, so the table cannot hold a control the run
// code does not know (and the other way round is a test).
struct Row {
  ControlName name;
  ControlKind kind;
  const char* caption;
  Parent parent;
  int x, y, width, height;
  bool visible;
  bool checked;
};

// A row's name as its control. Every row is made from a ControlName (build
// below), so an unknown one is a programming error in this file: it stops the
// program rather than give the window a control the run code cannot reach.
ControlName known(const std::string& name) {
  const std::optional<ControlName> n = ControlName::from(name);
  if (!n) {
    std::fprintf(stderr, "main window table: '%s' is not a control name\n", name.c_str());
    std::abort();
  }
  return *n;
}

ControlSpec spec(const Row& r) {
  return {r.name.str(), r.kind,  r.caption, r.parent.text, r.x,
          r.y,          r.width, r.height,  r.visible,     r.checked};
}

// Thumbnails 1 to 8 of the library view; the review step places them.
constexpr ControlName kLibThumbnails[] = {"picLibImage(1)", "picLibImage(2)", "picLibImage(3)",
                                          "picLibImage(4)", "picLibImage(5)", "picLibImage(6)",
                                          "picLibImage(7)", "picLibImage(8)"};

constexpr Row kRows[] = {
    // Title, shown alone while it fades in.
    {"lblTitle", K::kLabel, kAcknowledgement, "", 150, 250, 700, 140, true, false},

    // Folders and database.
    {"lblFoldersPath", K::kLabel, "data files folder:", "", 10, 10, 120, 22, false, false},
    {"txtFoldersPath", K::kText, "", "", 130, 10, 400, 22, false, false},
    {"lblDatabase", K::kLabel, "path to database:", "", 10, 36, 120, 22, false, false},
    {"txtDatabase", K::kText, "", "", 130, 36, 400, 22, false, false},
    {"lblNewpics", K::kLabel, "newpics folder:", "", 10, 62, 120, 22, false, false},
    {"txtNewpics", K::kText, "", "", 130, 62, 400, 22, false, false},
    {"cmdBrowse", K::kButton, "browse", "", 540, 35, 80, 24, false, false},

    // The five modes.
    {"optInField", K::kOption, "real-time ident.", "", 10, 100, 160, 22, false, false},
    {"optBatchExtract", K::kOption, "batch extract", "", 10, 124, 160, 22, false, false},
    {"optBatchCompare", K::kOption, "batch compare", "", 10, 148, 160, 22, false, false},
    {"optVcheck", K::kOption, "visual confirm", "", 10, 172, 160, 22, false, false},
    {"optTest", K::kOption, "test", "", 10, 196, 160, 22, false, false},

    // Settings the modes show.
    {"chkStan", K::kCheck, "standardise", "", 180, 100, 150, 22, false, false},
    {"chkComb", K::kCheck, "combine", "", 180, 124, 150, 22, false, false},
    {"chkCrop", K::kCheck, "show crop", "", 180, 148, 150, 22, false, false},
    {"chkQuick", K::kCheck, "quick", "", 180, 172, 150, 22, false, false},
    {"chkRestricted", K::kCheck, "restricted", "", 180, 196, 150, 22, false, false},
    {"chkPreviousTest", K::kCheck, "last test result", "", 180, 220, 150, 22, false, false},
    {"lblPm", K::kLabel, "P(m) prior", "", 340, 100, 80, 22, false, false},
    {"txtPm", K::kText, ".005", "", 420, 100, 70, 22, false, false},
    {"chkMultiCore", K::kCheck, "use multiple cores", "", 340, 124, 160, 22, false, false},
    {"cmbAspect", K::kList, "", "", 340, 148, 100, 22, false, false},
    {"cmbSide", K::kList, "", "", 446, 148, 54, 22, false, false},
    {"txtNumPend", K::kText, "200", "", 340, 172, 70, 22, false, false},

    // Library limit.
    {"Frame1", K::kFrame, "", "", 510, 90, 260, 110, false, false},
    {"optDontLimit", K::kOption, "don't limit", "Frame1", 10, 20, 130, 22, true, true},
    {"optLimitToSite", K::kOption, "limit to site", "Frame1", 10, 46, 130, 22, true, false},
    {"optLimitToLandscape", K::kOption, "limit to landscape", "Frame1", 10, 72, 130, 22, true,
     false},
    {"cmbSites", K::kList, "", "Frame1", 145, 46, 105, 22, false, false},
    {"cmbLandscapes", K::kList, "", "Frame1", 145, 72, 105, 22, false, false},

    // Run control and progress.
    {"cmdStart", K::kButton, "Start", "", 10, 246, 120, 30, false, false},
    {"cmdStop", K::kButton, "Stop", "", 10, 246, 120, 30, false, false},
    {"lblProgress", K::kLabel, "", "", 140, 240, 600, 22, false, false},
    {"ProgressBar1", K::kBar, "", "", 140, 264, 600, 14, false, false},
    {"ProgressBar2", K::kBar, "", "ProgressBar1", 1, 1, 0, 12, true, false},
    {"lblWhichExtract", K::kLabel, "", "", 10, 282, 480, 24, false, false},

    // Extract processing.
    {"picExtract", K::kPicture, "", "", 10, 310, 256, 256, false, false},
    {"lblExtract", K::kLabel, "", "", 10, 570, 256, 20, false, false},
    {"picProcess", K::kPicture, "", "", 276, 310, 256, 256, false, false},
    {"lblPic2", K::kLabel, "low theshold", "", 276, 570, 256, 20, false, false},
    {"picShapes", K::kPicture, "", "", 542, 310, 256, 256, false, false},
    {"lblPic3", K::kLabel, "high threshold", "", 542, 570, 256, 20, false, false},
    {"picDilate_top", K::kPicture, "", "", 808, 310, 148, 148, false, false},
    {"picDilate_bot", K::kPicture, "", "", 808, 462, 148, 148, false, false},
    {"hscLimitSpots", K::kHScroll, "", "", 10, 596, 256, 18, false, false},
    {"hscAvgDepth", K::kHScroll, "", "", 10, 620, 256, 18, false, false},
    {"hscFilter", K::kHScroll, "", "", 10, 644, 256, 18, false, false},
    {"lblNumberSpots", K::kLabel, "", "", 276, 596, 150, 20, false, false},
    {"cmdToggleSpots", K::kButton, "Show", "", 430, 594, 100, 24, false, false},
    {"cmdSeed", K::kButton, "place seeds", "", 430, 622, 100, 24, false, false},
    {"lblNumberSeeds", K::kLabel, "", "", 540, 624, 150, 20, false, false},
    {"txtDist", K::kText, "", "", 700, 622, 50, 22, false, false},
    {"txtDet", K::kText, "5000", "", 760, 622, 60, 22, false, false},
    {"cmdSaveExtract", K::kButton, "Save extract", "", 540, 594, 120, 24, false, false},

    // Visual confirmation. The two photographs of a comparison side by side
    // at one size, in the proportions of the review's pictures (3:2); the
    // thumbnails are placed by the review screen.
    {"picPendImage", K::kPicture, "", "", 10, 310, 465, 310, false, false},
    {"lblPendImage", K::kLabel, "", "", 10, 624, 465, 20, false, false},
    {"vscPendList", K::kVScroll, "", "", 478, 310, 16, 310, false, false},
    {"picLibImage(0)", K::kPicture, "", "", 500, 310, 465, 310, false, false},
    {"lblLibImage", K::kLabel, "", "", 500, 624, 465, 20, false, false},
    {"vscAnimList", K::kVScroll, "", "", 970, 310, 16, 310, false, false},
    {"cmdMoveBack", K::kButton, "<<", "", 760, 240, 34, 26, false, false},
    {"cmdMoveOn", K::kButton, ">>", "", 798, 240, 34, 26, false, false},
    {"cmdMatch", K::kButton, "Match", "", 836, 240, 70, 26, false, false},
    {"cmdSetupChoice", K::kButton, "next extract", "", 910, 240, 85, 26, false, false},
    {"cmdMoreLibPics", K::kButton, "more lib pics", "", 910, 270, 85, 26, false, false},
    {"cmdContinue", K::kButton, "", "", 500, 652, 345, 28, false, false},
    {"cmdSkip", K::kButton, "skip", "", 850, 652, 115, 28, false, false},
    {"picLoadLibImage", K::kPicture, "", "", 0, 0, 1, 1, false, false},
};

std::vector<ControlSpec> build() {
  std::vector<ControlSpec> c;
  for (const Row& r : kRows) c.push_back(spec(r));
  int x = 515;
  for (ControlName n : kLibThumbnails) {
    c.push_back(spec(Row{n, K::kPicture, "", "", x, 310, 54, 54, false, false}));
    x += 56;
  }
  return c;
}

}  // namespace

const std::vector<ControlSpec>& main_window_controls() {
  static const std::vector<ControlSpec> table = build();
  return table;
}

ControlName ControlSpec::control() const {
  return known(name);
}

std::optional<ControlName> ControlSpec::parent_control() const {
  if (parent.empty()) return std::nullopt;
  return known(parent);
}

const ControlSpec* find_control(const std::string& name) {
  for (const ControlSpec& c : main_window_controls())
    if (c.name == name) return &c;
  return nullptr;
}

}  // namespace velmora::runs

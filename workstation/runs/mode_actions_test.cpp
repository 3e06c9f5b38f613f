// The mode options and check boxes: which settings each one shows or hides.
#include "workstation/runs/mode_actions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora::runs {
namespace {

// Every settings control the actions touch, all visible to begin with, so a
// test sees both what an action hides and what it leaves alone.
const std::vector<ControlName> kSettings = {
    "chkCrop",         "chkComb",   "chkStan", "chkRestricted", "chkQuick",
    "txtNumPend",      "Frame1",    "txtPm",   "lblPm",         "chkMultiCore",
    "chkPreviousTest", "cmbAspect", "cmbSide", "cmbSites",      "cmbLandscapes"};

RecordingControlPanel panel_with(bool visible) {
  RecordingControlPanel p;
  for (ControlName n : kSettings) p.set_visible(n, visible);
  return p;
}

std::vector<std::string> visible_of(const RecordingControlPanel& p) {
  std::vector<std::string> out;
  for (ControlName n : kSettings)
    if (p.visible(n)) out.push_back(n.str());
  return out;
}

using Names = std::vector<std::string>;

TEST(ModeOptions, RealTimeShowsItsOptionsAndHidesTheBatchOnes) {
  RecordingControlPanel all = panel_with(true);
  optInField_chosen(all);
  EXPECT_EQ(visible_of(all), (Names{"chkCrop", "chkComb", "chkStan", "chkRestricted", "txtPm",
                                    "lblPm", "chkMultiCore", "chkPreviousTest", "cmbAspect",
                                    "cmbSide", "cmbSites", "cmbLandscapes"}));
  RecordingControlPanel none = panel_with(false);
  optInField_chosen(none);
  EXPECT_EQ(visible_of(none), (Names{"chkCrop", "chkComb", "chkStan", "chkRestricted"}));
}

TEST(ModeOptions, BatchExtractHidesEverySetting) {
  RecordingControlPanel all = panel_with(true);
  optBatchExtract_chosen(all);
  EXPECT_EQ(visible_of(all), (Names{"txtPm", "lblPm", "chkMultiCore", "chkPreviousTest",
                                    "cmbAspect", "cmbSide", "cmbSites", "cmbLandscapes"}));
}

TEST(ModeOptions, BatchCompareOffersTheLimitFrameOnlyWithLimitSearch) {
  RecordingControlPanel without = panel_with(false);
  optBatchCompare_chosen(without, false);
  EXPECT_EQ(visible_of(without), (Names{"chkStan", "chkQuick", "txtNumPend", "chkMultiCore"}));

  RecordingControlPanel with = panel_with(false);
  optBatchCompare_chosen(with, true);
  EXPECT_EQ(visible_of(with),
            (Names{"chkStan", "chkQuick", "txtNumPend", "Frame1", "chkMultiCore"}));

  RecordingControlPanel all = panel_with(true);
  optBatchCompare_chosen(all, false);
  EXPECT_FALSE(all.visible("Frame1"));
  EXPECT_FALSE(all.visible("chkComb"));
  EXPECT_FALSE(all.visible("chkCrop"));
  EXPECT_FALSE(all.visible("chkRestricted"));
}

TEST(ModeOptions, VisualConfirmShowsCropAndCombineOnly) {
  RecordingControlPanel all = panel_with(true);
  optVcheck_chosen(all);
  EXPECT_EQ(visible_of(all),
            (Names{"chkCrop", "chkComb", "txtPm", "lblPm", "chkMultiCore", "chkPreviousTest",
                   "cmbAspect", "cmbSide", "cmbSites", "cmbLandscapes"}));
}

TEST(ModeOptions, TestShowsLastResultStandardiseAndCombine) {
  RecordingControlPanel none = panel_with(false);
  optTest_chosen(none);
  EXPECT_EQ(visible_of(none), (Names{"chkComb", "chkStan", "chkPreviousTest"}));
}

TEST(CheckBoxes, StandardiseShowsThePriorAndUncheckingHidesNothing) {
  RecordingControlPanel p = panel_with(false);
  chkStan_clicked(p);  // unchecked: nothing happens
  EXPECT_TRUE(visible_of(p).empty());
  p.set_checked("chkStan", true);
  chkStan_clicked(p);
  EXPECT_TRUE(p.visible("txtPm"));
  EXPECT_TRUE(p.visible("lblPm"));
  p.set_checked("chkStan", false);
  chkStan_clicked(p);
  EXPECT_TRUE(p.visible("txtPm"));
  EXPECT_TRUE(p.visible("lblPm"));
}

TEST(CheckBoxes, CombineChecksStandardiseAndSetsTheSetupCaption) {
  RecordingControlPanel p = panel_with(false);
  p.set_checked("chkComb", true);
  chkComb_clicked(p);
  EXPECT_TRUE(p.visible("chkStan"));
  EXPECT_TRUE(p.checked("chkStan"));
  // Checking "standardise" from "combine" has the effect of the operator's click.
  EXPECT_TRUE(p.visible("txtPm"));
  EXPECT_EQ(p.text("cmdSetupChoice"), "stop checks");

  p.set_checked("chkComb", false);
  chkComb_clicked(p);
  EXPECT_EQ(p.text("cmdSetupChoice"), "next extract");
  EXPECT_TRUE(p.checked("chkStan"));  // unchecking "combine" leaves "standardise" alone
}

TEST(CheckBoxes, MultiCoreListsTheAspectsOnceHowOftenItIsClicked) {
  RecordingControlPanel p = panel_with(true);
  chkMultiCore_clicked(p, {"flank", "back"});  // unchecked: nothing
  EXPECT_TRUE(p.items("cmbAspect").empty());
  EXPECT_TRUE(p.visible("chkStan"));

  p.set_visible("cmbAspect", false);
  p.set_checked("chkMultiCore", true);
  chkMultiCore_clicked(p, {"flank", "back"});
  chkMultiCore_clicked(p, {"flank", "back"});
  EXPECT_FALSE(p.visible("chkStan"));
  EXPECT_TRUE(p.visible("cmbAspect"));
  EXPECT_EQ(p.items("cmbAspect"), (Names{"flank", "back"}));
}

TEST(CheckBoxes, AspectChoiceOffersTheSidesOfItsCellType) {
  RecordingControlPanel p = panel_with(false);
  cmbAspect_chosen(p, "Dorsal");
  EXPECT_TRUE(p.visible("cmbSide"));
  EXPECT_EQ(p.items("cmbSide"), (Names{"M"}));
  EXPECT_EQ(p.text("cmbSide"), "M");

  cmbAspect_chosen(p, "lateral");
  EXPECT_EQ(p.items("cmbSide"), (Names{"L", "R"}));
  EXPECT_EQ(p.text("cmbSide"), "L");

  cmbAspect_chosen(p, "Ventral");
  EXPECT_EQ(p.items("cmbSide"), (Names{"M"}));
  cmbAspect_chosen(p, "");  // an aspect missing from the list is not lateral
  EXPECT_EQ(p.items("cmbSide"), (Names{"M"}));
}

TEST(LimitOptions, EachLimitShowsItsOwnList) {
  RecordingControlPanel p = panel_with(true);
  p.set_checked("optDontLimit", true);
  limit_option_chosen(p);
  EXPECT_FALSE(p.visible("cmbSites"));
  EXPECT_FALSE(p.visible("cmbLandscapes"));

  p.set_checked("optDontLimit", false);
  p.set_checked("optLimitToSite", true);
  limit_option_chosen(p);
  EXPECT_TRUE(p.visible("cmbSites"));
  EXPECT_FALSE(p.visible("cmbLandscapes"));

  p.set_checked("optLimitToSite", false);
  p.set_checked("optLimitToLandscape", true);
  limit_option_chosen(p);
  EXPECT_FALSE(p.visible("cmbSites"));
  EXPECT_TRUE(p.visible("cmbLandscapes"));
}

TEST(BatchSizeBox, AboveFourHundredBecomesFourHundred) {
  for (const char* typed : {"500", "401", "1e3", " 999 "}) {
    RecordingControlPanel p;
    p.set_text("txtNumPend", typed);
    txtNumPend_changed(p);
    EXPECT_EQ(p.text("txtNumPend"), "400") << typed;
  }
  for (const char* typed : {"400", "200", "399.5", "abc", "", "2O0"}) {
    RecordingControlPanel p;
    p.set_text("txtNumPend", typed);
    txtNumPend_changed(p);
    EXPECT_EQ(p.text("txtNumPend"), typed) << typed;
  }
}

TEST(BatchSizeBox, ZeroHidesMultipleCores) {
  for (const char* typed : {"0", " 0", "0.0"}) {
    RecordingControlPanel p;
    p.set_visible("chkMultiCore", true);
    p.set_text("txtNumPend", typed);
    txtNumPend_changed(p);
    EXPECT_FALSE(p.visible("chkMultiCore")) << typed;
  }
  RecordingControlPanel p;
  p.set_visible("chkMultiCore", true);
  p.set_text("txtNumPend", "10");
  txtNumPend_changed(p);
  EXPECT_TRUE(p.visible("chkMultiCore"));
}

TEST(BatchSizeBox, NumbersAreReadWhole) {
  EXPECT_EQ(number_in_text("  12 "), 12.0);
  EXPECT_EQ(number_in_text("-3"), -3.0);
  EXPECT_EQ(number_in_text(".5"), 0.5);
  EXPECT_FALSE(number_in_text("12abc"));
  EXPECT_FALSE(number_in_text("inf"));
  EXPECT_FALSE(number_in_text("nan"));
  EXPECT_FALSE(number_in_text("0x10"));
  EXPECT_FALSE(number_in_text("1e999"));
  EXPECT_FALSE(number_in_text("   "));
  EXPECT_FALSE(number_in_text("1 2"));
}

TEST(WhichExtractLabel, ClickHidesTheBatchSettings) {
  RecordingControlPanel p = panel_with(true);
  lblWhichExtract_clicked(p);
  EXPECT_FALSE(p.visible("Frame1"));
  EXPECT_FALSE(p.visible("txtNumPend"));
  EXPECT_FALSE(p.visible("chkQuick"));
  EXPECT_TRUE(p.visible("chkStan"));
}

}  // namespace
}  // namespace velmora::runs

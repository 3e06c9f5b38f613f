// The title fade and the window's scaling rule.
#include "workstation/runs/title_fade.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace velmora::runs {
namespace {

const ControlName kRevealed[] = {"lblFoldersPath",  "txtFoldersPath",  "lblDatabase", "txtDatabase",
                                 "lblNewpics",      "txtNewpics",      "cmdBrowse",   "optInField",
                                 "optBatchExtract", "optBatchCompare", "optVcheck",   "optTest",
                                 "chkPreviousTest", "cmdStart"};

RecordingControlPanel hidden_panel() {
  RecordingControlPanel p;
  for (ControlName n : kRevealed) p.set_visible(n, false);
  return p;
}

TEST(TitleFade, ColourRunsFromBlueToTheBackgroundGrey) {
  int r, g, b;
  TitleFade::colour_at(0.0, &r, &g, &b);
  EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({0, 0, 255}));
  TitleFade::colour_at(1.0, &r, &g, &b);
  EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({192, 192, 192}));
  // t = 0.5: blue is 127.5 + 96 = 223.5, a half that rounds to the even 224.
  TitleFade::colour_at(0.5, &r, &g, &b);
  EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({96, 96, 224}));
  // t = 0.25: red and green 48 exactly, blue 191.25 + 48 = 239.25.
  TitleFade::colour_at(0.25, &r, &g, &b);
  EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({48, 48, 239}));
}

TEST(TitleFade, StepsSlowDownAsTheFadeGoesOn) {
  EXPECT_DOUBLE_EQ(TitleFade::step_at(0.0), 0.05);
  EXPECT_DOUBLE_EQ(TitleFade::step_at(0.49), 0.05);
  EXPECT_DOUBLE_EQ(TitleFade::step_at(0.5), 0.03);
  EXPECT_DOUBLE_EQ(TitleFade::step_at(0.74), 0.03);
  EXPECT_DOUBLE_EQ(TitleFade::step_at(0.75), 0.01);
  EXPECT_DOUBLE_EQ(TitleFade::step_at(0.99), 0.01);
}

TEST(TitleFade, TicksColourTheTitleUntilTheEndRevealsTheControls) {
  RecordingControlPanel p = hidden_panel();
  TitleFade fade;
  // The same walk, done by hand: each tick colours for t, then advances it.
  double t = 0.0;
  int ticks = 0;
  bool ended = false;
  while (!ended) {
    ASSERT_LT(ticks, 1000) << "the fade never ends";
    int r, g, b;
    TitleFade::colour_at(t, &r, &g, &b);
    t += TitleFade::step_at(t);
    ended = fade.tick(p);
    ++ticks;
    EXPECT_EQ(ended, t >= 1.0);
    if (!ended) {
      EXPECT_EQ(p.title_colour(), std::vector<int>({r, g, b})) << "tick " << ticks;
      EXPECT_FALSE(p.visible("cmdStart")) << "tick " << ticks;
    }
    EXPECT_DOUBLE_EQ(fade.t(), t);
  }
  // 10 steps of 0.05, 9 of 0.03 and about 23 of 0.01: some 40 ticks, about
  // two seconds at the timer's interval.
  EXPECT_GT(ticks, 35);
  EXPECT_LT(ticks, 50);
  EXPECT_EQ(p.title_colour(), std::vector<int>({192, 192, 192}));
  for (ControlName n : kRevealed) EXPECT_TRUE(p.visible(n)) << n;
}

TEST(TitleFade, AClickEndsTheFadeAtTheNextTick) {
  RecordingControlPanel p = hidden_panel();
  TitleFade fade;
  EXPECT_FALSE(fade.tick(p));
  EXPECT_FALSE(fade.tick(p));
  fade.skip();
  EXPECT_TRUE(fade.tick(p));
  EXPECT_EQ(p.title_colour(), std::vector<int>({192, 192, 192}));
  for (ControlName n : kRevealed) EXPECT_TRUE(p.visible(n)) << n;
  fade.reset();
  EXPECT_EQ(fade.t(), 0.0);
}

TEST(LayoutScale, ScreenHeightOverTheReferenceHeight) {
  // 4:3 and 5:4 screens use 12000 twips = 800 pixels.
  EXPECT_DOUBLE_EQ(layout_scale(1280, 1024), 1024.0 / 800.0);
  EXPECT_DOUBLE_EQ(layout_scale(800, 600), 600.0 / 800.0);
  // Wide screens (1.5 x height <= width) use 10750 twips.
  EXPECT_DOUBLE_EQ(layout_scale(1920, 1080), 1080.0 * 15.0 / 10750.0);
  // Exactly 1.5: wide.
  EXPECT_DOUBLE_EQ(layout_scale(1500, 1000), 1000.0 * 15.0 / 10750.0);
  EXPECT_DOUBLE_EQ(layout_scale(1499, 1000), 1000.0 / 800.0);
  // No screen known: design size.
  EXPECT_DOUBLE_EQ(layout_scale(0, 0), 1.0);
}

}  // namespace
}  // namespace velmora::runs

// The key-point step: installed only with a frame, run only with a letter,
// and the plugin the frame gets compares an aspect and side.
#include "workstation/app/sift_steps.h"

#include <gtest/gtest.h>

#include "libs/bristane/key_file.h"
#include "libs/bristane/testing/synthetic_keys.h"
#include "testing/temp_dir.h"
#include "workstation/common/number_text.h"

namespace velmora::app {
namespace {

TEST(SiftSteps, TheFrameGetsTheFamilyWithItsLetter) {
  runs::RunHooks hooks;
  install_sift_comparison(hooks, nullptr);
  EXPECT_FALSE(hooks.comparison.compare_sift);

  velmora::testing::TempDir dir("sift step");
  for (const char* cell : {"P1", "L1"}) {
    ASSERT_TRUE(dir.write(std::string("SiftLib/") + cell,
                          bristane::key_file_text(bristane::testing::random_keys(20, 3))));
  }
  int frames = 0;
  matching::SiftSideResult result;
  install_sift_comparison(hooks, [&](runs::RunContext& ctx, const FamilyPlugin& plugin) {
    ++frames;
    EXPECT_EQ(plugin.letter, "k");
    EXPECT_EQ(plugin.family, "CompSift");
    EXPECT_TRUE(plugin.scores.admits(matching::sift_score(0)));
    EXPECT_FALSE(plugin.scores.admits(0.0));
    matching::SiftSideInputs in;
    in.aspect = "Flank";
    in.side = "L";
    in.letter = plugin.letter;
    in.data_folder = dir.dir();
    in.working_folder = dir.dir();
    in.pending = {"P1"};
    in.library = {"L1"};
    return plugin.compare_side(in, *ctx.panel, &result);
  });
  ASSERT_TRUE(hooks.comparison.compare_sift);

  runs::RunContext ctx;
  RecordingControlPanel panel;
  ctx.panel = &panel;
  ASSERT_TRUE(hooks.comparison.compare_sift(ctx).ok());
  EXPECT_EQ(frames, 0);  // no key-point algorithm in this database
  ctx.algorithm_letters.CompSift = "k";
  ASSERT_TRUE(hooks.comparison.compare_sift(ctx).ok());
  EXPECT_EQ(frames, 1);
  EXPECT_EQ(result.compared, std::vector<std::string>{"P1"});
  // Identical lists: all 20 keys match.
  EXPECT_EQ(dir.read("FlankLk_results.txt"), "$ pending pending\n$ pending library\nP1,L1," +
                                                 real_to_text(matching::sift_score(20)) + "\n");
}

}  // namespace
}  // namespace velmora::app

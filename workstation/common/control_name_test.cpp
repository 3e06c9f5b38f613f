#include "workstation/common/control_name.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "workstation/common/console_panel.h"
#include "workstation/common/control_panel.h"

namespace velmora {
namespace {

// Names written in the code are checked when compiled; these hold whatever
// the compiler made of them.
static_assert(ControlName("lblTitle").view() == "lblTitle");
static_assert(ControlName("picLibImage(8)").view() == "picLibImage(8)");
static_assert(ControlName("cmdStart") != ControlName("cmdStop"));
static_assert(ControlName::from("txtNumPend") == ControlName("txtNumPend"));
static_assert(!ControlName::from("txtNumPnd"));

TEST(ControlName, EveryListedNameIsItsOwnControl) {
  const auto all = ControlName::all();
  ASSERT_EQ(all.size(), kControlNames.size());
  std::set<std::string_view> distinct;
  for (std::size_t i = 0; i < kControlNames.size(); ++i) {
    const std::string_view text = kControlNames[i];
    EXPECT_TRUE(distinct.insert(text).second) << "listed twice: " << text;
    const std::optional<ControlName> n = ControlName::from(text);
    ASSERT_TRUE(n.has_value()) << text;
    EXPECT_EQ(n->view(), text);
    EXPECT_EQ(n->str(), std::string(text));
    EXPECT_EQ(*n, all[i]) << text;
    // Order is the list's, so maps keyed by ControlName keep controls apart.
    for (std::size_t j = 0; j < i; ++j) EXPECT_LT(all[j], *n) << kControlNames[j] << " " << text;
  }
}

TEST(ControlName, TextThatIsNoControlIsRefused) {
  const std::vector<std::string_view> cases = {
      "",
      "nosuch",
      "cmdstart",  // case matters, as it does for the widgets' names
      "CMDSTART",
      " cmdStart",  // no trimming
      "cmdStart ",
      "txtNumPnd",       // a letter short
      "txtNumPendx",     // a letter over
      "picLibImage",     // an array without its index
      "picLibImage(9)",  // one past the last thumbnail
      "picLibImage(-1)",
      "picLibImage(00)",
      "picLibImage[0]",
      "frmMain",  // the window itself is no control
      std::string_view("cmdStart\0", 9),
  };
  for (std::string_view text : cases)
    EXPECT_FALSE(ControlName::from(text).has_value()) << "'" << text << "'";
}

TEST(ControlName, PrintsAsItsName) {
  std::ostringstream out;
  out << ControlName("optBatchCompare") << "|" << ControlName("picLibImage(0)");
  EXPECT_EQ(out.str(), "optBatchCompare|picLibImage(0)");
}

// Each control of the recording panel is a record of its own: a text, a
// check and a list set on one control shows on that control only.
TEST(RecordingControlPanel, KeepsEveryControlApart) {
  RecordingControlPanel p;
  const auto all = ControlName::all();
  for (ControlName n : all) {
    p.set_text(n, "text of " + n.str());
    p.add_item(n, n.str());
  }
  p.set_checked("optTest", true);
  p.set_visible("cmdStop", false);
  for (ControlName n : all) {
    EXPECT_EQ(p.text(n), "text of " + n.str());
    EXPECT_EQ(p.items(n), std::vector<std::string>{n.str()});
    EXPECT_EQ(p.checked(n), n == ControlName("optTest")) << n;
    EXPECT_EQ(p.visible(n), n != ControlName("cmdStop")) << n;
  }
  // Only lblProgress texts are progress labels.
  EXPECT_EQ(p.progress_labels(), std::vector<std::string>{"text of lblProgress"});
}

TEST(ConsolePanel, PrintsTheProgressLabelOnly) {
  std::ostringstream out;
  ConsolePanel p(out);
  p.set_text("lblTitle", "title");
  p.set_text("lblProgress", "comparing 3 of 10");
  p.set_text("lblWhichExtract", "GS0003");
  EXPECT_EQ(out.str(), "comparing 3 of 10\n");
  EXPECT_EQ(p.text("lblWhichExtract"), "GS0003");
}

}  // namespace
}  // namespace velmora

// The window's table and the control names the run code is checked against
// are one list: every row is a known control, and every known control has
// exactly one row.
#include "workstation/runs/main_window_controls.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "workstation/common/control_name.h"

namespace velmora::runs {
namespace {

TEST(MainWindowControlNames, EveryRowIsAKnownControl) {
  for (const ControlSpec& c : main_window_controls()) {
    const std::optional<ControlName> n = ControlName::from(c.name);
    ASSERT_TRUE(n.has_value()) << "no control name: " << c.name;
    EXPECT_EQ(c.control(), *n);
    if (c.parent.empty()) {
      EXPECT_FALSE(c.parent_control().has_value()) << c.name;
    } else {
      ASSERT_TRUE(ControlName::from(c.parent).has_value()) << c.name << " in " << c.parent;
      EXPECT_EQ(c.parent_control(), ControlName::from(c.parent)) << c.name;
    }
  }
}

TEST(MainWindowControlNames, EveryKnownControlHasOneRow) {
  std::map<std::string, int> rows;
  for (const ControlSpec& c : main_window_controls()) ++rows[c.name];
  for (ControlName n : ControlName::all()) {
    EXPECT_EQ(rows[n.str()], 1) << n;
    const ControlSpec* row = find_control(n.str());
    ASSERT_NE(row, nullptr) << n;
    EXPECT_EQ(row->control(), n);
  }
  EXPECT_EQ(main_window_controls().size(), ControlName::all().size());
}

}  // namespace
}  // namespace velmora::runs

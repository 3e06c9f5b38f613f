#include "workstation/config/settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace velmora::config {
namespace {

TEST(Settings, StartsAtZeroFalseAndEmpty) {
  Settings s;
  EXPECT_FALSE(s.MultiAspect || s.tailbase || s.do_blankdist || s.use_cell || s.sum_correl ||
               s.join_only || s.LimitSearch || s.YellowBlack || s.do_highlight || s.reverse_fill);
  EXPECT_EQ(s.critical_distance, 0.0f);
  EXPECT_EQ(s.avg_depth_default, 0);
  EXPECT_EQ(s.library_name, "");
  EXPECT_EQ(s.dilate_proportion, 0.0f);
  EXPECT_EQ(s.distend_belly, 0);
  EXPECT_EQ(s.oversampling, 0);
  EXPECT_EQ(s.LockRoll_value, 0);
  EXPECT_EQ(s.LockYaw_value, 0);
  EXPECT_EQ(s.fixLegCode_value, 0);
}

// Every key reaches its own field, and only that one.
TEST(ConfigAssign, EveryKeyReachesItsField) {
  struct Case {
    const char* key;
    const char* value;
    std::function<bool(const Settings&)> assigned;
  };
  const std::vector<Case> cases = {
      {"MultiAspect", "True", [](const Settings& s) { return s.MultiAspect; }},
      {"tailbase", "True", [](const Settings& s) { return s.tailbase; }},
      {"do_blankdist", "True", [](const Settings& s) { return s.do_blankdist; }},
      {"use_cell", "True", [](const Settings& s) { return s.use_cell; }},
      {"sum_correl", "True", [](const Settings& s) { return s.sum_correl; }},
      {"join_only", "True", [](const Settings& s) { return s.join_only; }},
      {"critical_distance", "12.25",
       [](const Settings& s) { return s.critical_distance == 12.25f; }},
      {"avg_depth_default", "-7", [](const Settings& s) { return s.avg_depth_default == -7; }},
      {"library_name", "lib/", [](const Settings& s) { return s.library_name == "lib/"; }},
      {"dilate_proportion", "0.375",
       [](const Settings& s) { return s.dilate_proportion == 0.375f; }},
      {"distend_belly", "100000", [](const Settings& s) { return s.distend_belly == 100000; }},
      {"oversampling", "3", [](const Settings& s) { return s.oversampling == 3; }},
      {"LockRoll_value", "200", [](const Settings& s) { return s.LockRoll_value == 200; }},
      {"LimitSearch", "True", [](const Settings& s) { return s.LimitSearch; }},
      {"YellowBlack", "True", [](const Settings& s) { return s.YellowBlack; }},
      {"LockYaw_value", "1", [](const Settings& s) { return s.LockYaw_value == 1; }},
      {"fixLegCode_value", "1", [](const Settings& s) { return s.fixLegCode_value == 1; }},
      {"do_highlight", "True", [](const Settings& s) { return s.do_highlight; }},
      {"reverse_fill", "True", [](const Settings& s) { return s.reverse_fill; }},
  };
  for (const Case& c : cases) {
    Settings s;
    ASSERT_TRUE(config_assign(&s, c.key, c.value).ok()) << c.key;
    EXPECT_TRUE(c.assigned(s)) << c.key;
    // No other case's field moved: each other predicate is still false.
    for (const Case& other : cases) {
      if (&other != &c) {
        EXPECT_FALSE(other.assigned(s)) << c.key << " also set " << other.key;
      }
    }
  }
}

TEST(ConfigAssign, DefaultsAreAppliedBeforeEveryAssignment) {
  Settings s;
  ASSERT_TRUE(config_assign(&s, "tailbase", "0").ok());
  EXPECT_EQ(s.avg_depth_default, 10);
  EXPECT_EQ(s.critical_distance, 9.0f);

  // Set to 0, the value holds until the next call puts the default back.
  ASSERT_TRUE(config_assign(&s, "critical_distance", "0").ok());
  EXPECT_EQ(s.critical_distance, 0.0f);
  ASSERT_TRUE(config_assign(&s, "avg_depth_default", "0").ok());
  EXPECT_EQ(s.critical_distance, 9.0f);  // put back by this second call
  EXPECT_EQ(s.avg_depth_default, 0);
  EXPECT_EQ(config_assign(&s, "no such key", "1").code(), Status::Code::kNotFound);
  EXPECT_EQ(s.critical_distance, 9.0f);
  EXPECT_EQ(s.avg_depth_default, 10);

  // A non-zero value is left alone by the defaults.
  ASSERT_TRUE(config_assign(&s, "critical_distance", "4.5").ok());
  ASSERT_TRUE(config_assign(&s, "tailbase", "1").ok());
  EXPECT_EQ(s.critical_distance, 4.5f);
}

TEST(ConfigAssign, KeysMatchExactlyWithCase) {
  for (const char* key : {"multiaspect", "MULTIASPECT", "MultiAspect ", " MultiAspect", ""}) {
    Settings s;
    EXPECT_EQ(config_assign(&s, key, "True").code(), Status::Code::kNotFound) << key;
    EXPECT_FALSE(s.MultiAspect) << key;
  }
}

TEST(ConfigAssign, BooleansTakeTrueFalseInAnyCaseOrNumbers) {
  const std::vector<std::pair<std::string, bool>> good = {
      {"True", true},  {"TRUE", true},    {"tRuE", true}, {"False", false}, {"FALSE", false},
      {"1", true},     {"-1", true},      {"2.5", true},  {"0", false},     {"0.0", false},
      {" True", true}, {"False ", false}, {"\t1", true},  {"-0", false},    {"1e3", true},
  };
  for (const auto& [text, want] : good) {
    Settings s;
    s.MultiAspect = !want;
    ASSERT_TRUE(config_assign(&s, "MultiAspect", text).ok()) << text;
    EXPECT_EQ(s.MultiAspect, want) << text;
  }
  for (const char* bad : {"", "yes", "T", "Truth", "1x", "nan", "True False", "0x1"}) {
    Settings s;
    s.MultiAspect = true;
    Status st = config_assign(&s, "MultiAspect", bad);
    EXPECT_EQ(st.code(), Status::Code::kInvalidArgument) << bad;
    EXPECT_NE(st.message().find("MultiAspect"), std::string::npos) << st.message();
    EXPECT_TRUE(s.MultiAspect) << "kept after '" << bad << "'";
  }
}

TEST(ConfigAssign, WholeNumbersRoundHalfToEvenAndStayInTheirWidth) {
  Settings s;
  const std::vector<std::pair<std::string, int>> good = {
      {"32767", 32767}, {"-32768", -32768}, {"10.5", 10}, {"11.5", 12}, {"-2.5", -2},
      {"2.4", 2},       {"1e2", 100},       {" 15 ", 15}, {"+4", 4},
  };
  for (const auto& [text, want] : good) {
    ASSERT_TRUE(config_assign(&s, "avg_depth_default", text).ok()) << text;
    EXPECT_EQ(s.avg_depth_default, want) << text;
  }
  s.avg_depth_default = 20;
  for (const char* bad : {"32768", "-32769", "32767.5", "", "abc", "12abc", "1,5", "inf", "0x10"}) {
    EXPECT_EQ(config_assign(&s, "avg_depth_default", bad).code(), Status::Code::kInvalidArgument)
        << bad;
    EXPECT_EQ(s.avg_depth_default, 20) << bad;
  }

  ASSERT_TRUE(config_assign(&s, "LockRoll_value", "255").ok());
  EXPECT_EQ(s.LockRoll_value, 255);
  for (const char* bad : {"256", "-1", "-0.6"}) {
    EXPECT_FALSE(config_assign(&s, "LockRoll_value", bad).ok()) << bad;
    EXPECT_EQ(s.LockRoll_value, 255) << bad;
  }
  ASSERT_TRUE(config_assign(&s, "LockYaw_value", "-0.4").ok());  // rounds to 0, fits
  EXPECT_EQ(s.LockYaw_value, 0);

  ASSERT_TRUE(config_assign(&s, "oversampling", "2147483647").ok());
  EXPECT_EQ(s.oversampling, 2147483647);
  ASSERT_TRUE(config_assign(&s, "distend_belly", "-2147483648").ok());
  EXPECT_EQ(s.distend_belly, -2147483647 - 1);
  EXPECT_FALSE(config_assign(&s, "oversampling", "2147483648").ok());
  EXPECT_EQ(s.oversampling, 2147483647);
}

TEST(ConfigAssign, RealsAreDecimalTextThatFitsAFloat) {
  Settings s;
  ASSERT_TRUE(config_assign(&s, "dilate_proportion", ".25").ok());
  EXPECT_EQ(s.dilate_proportion, 0.25f);
  ASSERT_TRUE(config_assign(&s, "critical_distance", "-3e1").ok());
  EXPECT_EQ(s.critical_distance, -30.0f);
  for (const char* bad :
       {"1e39", "-1e39", "nan", "inf", "-inf", "0x1p3", ".", "-", "1.5.2", "9 9"}) {
    EXPECT_FALSE(config_assign(&s, "critical_distance", bad).ok()) << bad;
    EXPECT_EQ(s.critical_distance, -30.0f) << bad;
  }
}

TEST(ConfigAssign, TextIsTakenAsItStands) {
  Settings s;
  for (const char* text : {"lib/", " lib ", "", "a=b", "\"q\""}) {
    ASSERT_TRUE(config_assign(&s, "library_name", text).ok()) << text;
    EXPECT_EQ(s.library_name, text);
  }
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(round_half_even(0.5), 0.0);
  EXPECT_EQ(round_half_even(1.5), 2.0);
  EXPECT_EQ(round_half_even(2.5), 2.0);
  EXPECT_EQ(round_half_even(-1.5), -2.0);
  EXPECT_EQ(round_half_even(-2.5), -2.0);
  EXPECT_EQ(round_half_even(2.500001), 3.0);
  EXPECT_EQ(round_half_even(-0.4), 0.0);
}

}  // namespace
}  // namespace velmora::config

// The pieces of Start every run shares: the batch-size reader and the walk
// over aspects and sides.
#include "workstation/session/run_start.h"

#include <gtest/gtest.h>

#include "workstation/session/aspect_sides.h"

namespace velmora::session {
namespace {

TEST(BatchSize, ReadsWhatTheOperatorTypes) {
  struct Case {
    const char* text;
    int size;  // -1: refused
  };
  const Case cases[] = {{"200", 200},  {"  12 ", 12}, {"0", 0},          {"2.5", 2},
                        {"3.5", 4},    {"1e2", 100},  {"-3", -1},        {"many", -1},
                        {"", -1},      {"inf", -1},   {"0x10", -1},      {"nan", -1},
                        {"1e999", -1}, {"12abc", -1}, {"2000000000", -1}};
  for (const Case& c : cases) {
    int size = -7;
    Status s = read_batch_size(c.text, &size);
    if (c.size < 0) {
      EXPECT_EQ(s.code(), Status::Code::kInvalidArgument) << c.text;
      EXPECT_NE(s.message().find(std::string("\"") + c.text + "\""), std::string::npos)
          << s.message();
      EXPECT_EQ(size, -7) << c.text;  // untouched
    } else {
      ASSERT_TRUE(s.ok()) << c.text << ": " << s.message();
      EXPECT_EQ(size, c.size) << c.text;
    }
  }
}

// Aspects as the walk sees them; the list is filled by hand, no database.
class Walk : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* rows[][2] = {
        {"Flank", "lateral"}, {"Dorsal", "Dorsal"}, {"Skin", "Dorsal"}, {"Head", "Dorsal"}};
    for (const auto& r : rows) {
      config::AspectEntry& e = state_.session.aspects.entries[state_.session.aspects.count++];
      e.aspect = r[0];
      e.cell_type = r[1];
    }
    state_.side_letters = {"L", "R", "M"};
  }
  std::vector<std::string> walk() const {
    std::vector<std::string> out;
    for (const AspectSide& a : aspect_sides(state_)) out.push_back(a.entry->aspect + a.side);
    return out;
  }
  RunState state_;
};

TEST_F(Walk, StopsAtSkinAndGivesLateralAspectsTwoSides) {
  EXPECT_EQ(walk(), (std::vector<std::string>{"FlankL", "FlankR", "DorsalM"}));
  EXPECT_TRUE(check_chosen_aspect_side(state_).ok());  // not multi-core: nothing to check
}

TEST_F(Walk, MultipleCoresTakeTheChosenAspectAndSideOnly) {
  RunOptions& o = state_.options;
  o.multi_core = true;
  struct Case {
    const char* aspect;
    const char* side;
    std::vector<std::string> walk;
    bool valid;
  };
  const Case cases[] = {{"Flank", "R", {"FlankR"}, true}, {"Dorsal", "M", {"DorsalM"}, true},
                        {"Dorsal", "L", {}, false},  // not lateral
                        {"Flank", "M", {}, false},   // lateral
                        {"Head", "M", {}, false},    // after Skin
                        {"Tail", "M", {}, false}};   // no such aspect
  for (const Case& c : cases) {
    o.chosen_aspect = c.aspect;
    o.chosen_side = c.side;
    EXPECT_EQ(walk(), c.walk) << c.aspect << c.side;
    EXPECT_EQ(check_chosen_aspect_side(state_).ok(), c.valid) << c.aspect << c.side;
  }
}

// "Lateral" with a capital is lateral to the key points alone; a copy
// under "use multiple cores" may take it on any of the three sides.
TEST_F(Walk, TheKeyPointsAlsoTakeCapitalisedLateralOnTwoSides) {
  state_.session.aspects.entries[1].cell_type = "Lateral";  // Dorsal
  auto walk_of = [&](LateralTypes types) {
    std::vector<std::string> out;
    for (const AspectSide& a : aspect_sides(state_, types)) out.push_back(a.entry->aspect + a.side);
    return out;
  };
  EXPECT_EQ(walk_of(LateralTypes::kLateral),
            (std::vector<std::string>{"FlankL", "FlankR", "DorsalM"}));
  EXPECT_EQ(walk_of(LateralTypes::kLateralOrCapital),
            (std::vector<std::string>{"FlankL", "FlankR", "DorsalL", "DorsalR"}));
  RunOptions& o = state_.options;
  o.multi_core = true;
  o.chosen_aspect = "Dorsal";
  struct Case {
    const char* side;
    bool valid;
  };
  for (const Case& c : {Case{"L", true}, Case{"R", true}, Case{"M", true}, Case{"X", false}}) {
    o.chosen_side = c.side;
    EXPECT_EQ(check_chosen_aspect_side(state_).ok(), c.valid) << c.side;
  }
  o.chosen_aspect = "Flank";
  o.chosen_side = "M";
  EXPECT_FALSE(check_chosen_aspect_side(state_).ok());  // "lateral" stays L or R
}

}  // namespace
}  // namespace velmora::session

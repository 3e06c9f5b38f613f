#include "workstation/common/safe_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora {
namespace {

TEST(SafePath, RefusesNamesThatLeaveTheFolder) {
  for (const std::string& bad : std::vector<std::string>{"", ".", "..", "../x", "a/b", "a\\b",
                                                         std::string("a\0b", 3), "a\nb"}) {
    EXPECT_FALSE(is_safe_file_name(bad)) << bad;
    std::string path = "unchanged";
    Status s = join_safe("/data/oldlib/", bad, &path);
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(path, "unchanged");
  }
}

TEST(SafePath, JoinsOrdinaryCellNames) {
  std::string path;
  ASSERT_TRUE(join_safe("/data/oldlib/", "S1234.RW#2", &path).ok());
  EXPECT_EQ(path, "/data/oldlib/S1234.RW#2");
  EXPECT_TRUE(is_safe_file_name("a..b"));
}

}  // namespace
}  // namespace velmora

// The key file: the text layout, every kind of damage refused with the file
// and line named, a file cut short anywhere refused, the cut to 1000 keys.
#include "libs/bristane/key_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "libs/bristane/testing/synthetic_keys.h"
#include "testing/temp_dir.h"

namespace velmora::bristane {
namespace {

using testing::random_keys;

// The layout written out by hand for one key, as the reader must take it.
TEST(KeyFile, WritesTheUsualLayout) {
  KeyList keys;
  keys.announced = 1;
  keys.locations = {103.25f, 87.5f, 2.5f, -1.25f};
  for (int v = 0; v < kDescriptorLength; ++v) keys.descriptors.push_back(static_cast<uint8_t>(v));
  std::string expected = "1 128\n103.25 87.5 2.5 -1.25\n";
  for (int line = 0; line < 7; ++line) {
    const int first = line * 20, last = line < 6 ? first + 20 : 128;
    for (int v = first; v < last; ++v) expected += std::to_string(v) + (v + 1 < last ? " " : "\n");
  }
  EXPECT_EQ(key_file_text(keys), expected);
  KeyList back;
  ASSERT_TRUE(parse_key_text(expected, "k", &back).ok());
  EXPECT_EQ(back, keys);
}

TEST(KeyFile, ReadsBackWhatItWrites) {
  for (int n : {0, 1, 7, 300}) {
    const KeyList keys = random_keys(n, 10u + static_cast<uint32_t>(n));
    KeyList back;
    const Status s = parse_key_text(key_file_text(keys), "k", &back);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(back, keys) << n;
  }
}

// One key's text, damaged in one place each, is refused naming file and line.
TEST(KeyFile, RefusesDamagedFiles) {
  const std::string good = key_file_text(random_keys(2, 5));
  auto replace_line = [&](int line, const std::string& with) {
    size_t at = 0;
    for (int k = 1; k < line; ++k) at = good.find('\n', at) + 1;
    return good.substr(0, at) + with + good.substr(good.find('\n', at));
  };
  auto line_text = [&](int line) {
    size_t at = 0;
    for (int k = 1; k < line; ++k) at = good.find('\n', at) + 1;
    return good.substr(at, good.find('\n', at) - at);
  };
  struct Case {
    const char* what;
    std::string text;
    std::string message;  // expected start after "SiftLib/GS1"
  };
  const Case cases[] = {
      {"empty", "", ": empty file"},
      {"length 64", replace_line(1, "2 64"), " line 1: descriptor length \"64\""},
      {"no length", replace_line(1, "2"), " line 1: the first line must hold"},
      {"negative count", replace_line(1, "-2 128"), " line 1: the number of keys \"-2\""},
      {"count in words", replace_line(1, "two 128"), " line 1: the number of keys"},
      {"three locations", replace_line(2, "1 2 3"), " line 2: key 1 of 2: its location line"},
      {"five locations", replace_line(2, "1 2 3 4 5"), " line 2: key 1 of 2: its location line"},
      {"comma decimal", replace_line(2, "1,5 2 3 4"), " line 2: key 1 of 2: \"1,5\" is not"},
      {"nan", replace_line(2, "nan 2 3 4"), " line 2: key 1 of 2: \"nan\""},
      {"beyond float", replace_line(2, "1e39 2 3 4"), " line 2: key 1 of 2: \"1e39\""},
      {"zero scale", replace_line(2, "1 2 0 4"), " line 2: key 1 of 2: its scale must be positive"},
      {"value 256", replace_line(3, "256" + line_text(3).substr(line_text(3).find(' '))),
       " line 3: key 1 of 2: descriptor value above 255"},
      {"negative value", replace_line(4, "-1" + line_text(4).substr(line_text(4).find(' '))),
       " line 4: key 1 of 2: descriptor value \"-1"},
      {"19 values", replace_line(5, line_text(5).substr(line_text(5).find(' ') + 1)),
       " line 5: key 1 of 2: 19 descriptor values where 20 belong"},
      {"9 values", replace_line(9, line_text(9) + " 1"),
       " line 9: key 1 of 2: more than 8 descriptor values"},
      {"blank line inside", replace_line(12, ""), " line 12: key 2 of 2: 0 descriptor values"},
      {"more than announced", good + line_text(2) + "\n", " line 18: text after the last of the 2"},
      {"one key missing", replace_line(1, "3 128"), " line 17: the file ends before key 3 of 3"},
  };
  for (const Case& c : cases) {
    KeyList keys = random_keys(1, 1);
    const Status s = parse_key_text(c.text, "SiftLib/GS1", &keys);
    ASSERT_FALSE(s.ok()) << c.what;
    EXPECT_EQ(s.code(), Status::Code::kCorruption) << c.what;
    EXPECT_EQ(s.message().rfind("SiftLib/GS1" + c.message, 0), 0u) << c.what << ": " << s.message();
    EXPECT_EQ(keys, KeyList{}) << c.what;
  }
}

TEST(KeyFile, TakesLineEndsAndBlanksOfOtherWriters) {
  const KeyList keys = random_keys(2, 9);
  std::string text;
  for (char c : key_file_text(keys)) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::string tabs = key_file_text(keys);
  for (char& c : tabs) {
    if (c == ' ') c = '\t';
  }
  for (const std::string& t : {text, " " + tabs + "\n\n  \n"}) {
    KeyList back;
    const Status s = parse_key_text(t, "k", &back);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(back, keys);
  }
}

// A file cut short at any byte is refused, even inside its last number.
TEST(KeyFile, RefusesAFileCutShortAnywhere) {
  const std::string good = key_file_text(random_keys(2, 3));
  for (size_t n = 0; n < good.size(); ++n) {
    KeyList keys;
    EXPECT_FALSE(parse_key_text(good.substr(0, n), "k", &keys).ok()) << n;
  }
}

TEST(KeyFile, CutsALongListToTheFirstThousandKeys) {
  const KeyList long_list = random_keys(kMaxKeys + 1, 4);
  // Text after the first thousand keys is not looked at.
  const std::string text = key_file_text(long_list) + "not a key\n";
  KeyList keys;
  ASSERT_TRUE(parse_key_text(text, "k", &keys).ok());
  EXPECT_EQ(keys.announced, kMaxKeys + 1);
  ASSERT_EQ(keys.count(), kMaxKeys);
  EXPECT_TRUE(
      std::equal(keys.descriptors.begin(), keys.descriptors.end(), long_list.descriptors.begin()));
  EXPECT_TRUE(
      std::equal(keys.locations.begin(), keys.locations.end(), long_list.locations.begin()));

  // A file announcing 5000 keys is read as 1000, but those must be there.
  std::string announced = key_file_text(random_keys(kMaxKeys, 6));
  announced.replace(0, announced.find(' '), "5000");
  ASSERT_TRUE(parse_key_text(announced, "k", &keys).ok());
  EXPECT_EQ(keys.count(), kMaxKeys);
  EXPECT_EQ(keys.announced, 5000);
  const Status s = parse_key_text(announced.substr(0, announced.size() / 2), "SiftLib/GS2", &keys);
  EXPECT_EQ(s.message().find("SiftLib/GS2 line"), 0u) << s.message();
}

TEST(KeyFile, ReadsFromDiskAndNamesTheFile) {
  velmora::testing::TempDir dir("keys");
  const KeyList keys = random_keys(3, 2);
  ASSERT_TRUE(dir.write("SiftLib/GS1", key_file_text(keys)));
  KeyList back;
  ASSERT_TRUE(read_key_file(dir.path("SiftLib/GS1"), &back).ok());
  EXPECT_EQ(back, keys);

  Status s = read_key_file(dir.path("SiftLib/GS2"), &back);
  EXPECT_EQ(s.code(), Status::Code::kNotFound);
  EXPECT_NE(s.message().find(dir.path("SiftLib/GS2")), std::string::npos);
  s = read_key_file(dir.path("SiftLib"), &back);
  EXPECT_EQ(s.code(), Status::Code::kIOError);
  ASSERT_TRUE(dir.write("SiftLib/GS3", key_file_text(keys).substr(0, 100)));
  s = read_key_file(dir.path("SiftLib/GS3"), &back);
  EXPECT_EQ(s.code(), Status::Code::kCorruption);
  EXPECT_EQ(s.message().find(dir.path("SiftLib/GS3") + " line "), 0u) << s.message();
}

}  // namespace
}  // namespace velmora::bristane

#include "workstation/config/configuration_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/temp_dir.h"

namespace velmora::config {
namespace {

using testing::TempDir;
using testing::write_file;

std::vector<std::string> item_texts(const std::string& text) {
  std::vector<std::string> out;
  for (const ConfigItem& item : split_config_items(text)) out.push_back(item.text);
  return out;
}

bool mentions(const Status& s, const std::string& what) {
  return s.message().find(what) != std::string::npos;
}

TEST(ConfigItems, CommasAndLineEndsEndItems) {
  EXPECT_EQ(item_texts("h\na=1,b=2\r\nc=3\rd=4"),
            (std::vector<std::string>{"h", "a=1", "b=2", "c=3", "d=4"}));
  EXPECT_EQ(item_texts("h\n\nx=1\n"), (std::vector<std::string>{"h", "", "x=1"}));
  EXPECT_EQ(item_texts(""), std::vector<std::string>{});
}

TEST(ConfigItems, LeadingBlanksAreSkippedTrailingOnesKept) {
  EXPECT_EQ(item_texts("h\n   a=1 ,\t b=2"), (std::vector<std::string>{"h", "a=1 ", "b=2"}));
}

TEST(ConfigItems, QuotedItemRunsToTheNextQuote) {
  std::vector<ConfigItem> items = split_config_items("h\n\"a=x,y\nz\",b=2\n  \"c=3\"  \nd=4");
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[1].text, "a=x,y\nz");
  EXPECT_EQ(items[1].line, 2);
  EXPECT_EQ(items[2].text, "b=2");
  EXPECT_EQ(items[2].line, 3);  // after the line end inside the quotes
  EXPECT_EQ(items[3].text, "c=3");
  EXPECT_FALSE(items[3].text_after_quote);
  EXPECT_EQ(items[4].line, 5);

  items = split_config_items("h\n\"a=1\"junk,b=2");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[1].text, "a=1");
  EXPECT_TRUE(items[1].text_after_quote);
  EXPECT_EQ(items[2].text, "b=2");

  items = split_config_items("h\n\"a=1\nb=2");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_TRUE(items[1].unclosed_quote);
}

TEST(ConfigItems, LineNumbersFollowCrLfAndLoneCr) {
  std::vector<ConfigItem> items = split_config_items("h\r\na=1\r\rb=2,c=3\n\"d\r\n\"\ne=5");
  ASSERT_EQ(items.size(), 7u);
  const int want[] = {1, 2, 3, 4, 4, 5, 7};
  for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i].line, want[i]) << i;
}

class ConfigurationText : public ::testing::Test {
 protected:
  void apply(const std::string& text) { apply_configuration_text(text, "orlain.ini", &s_, &f_); }
  Settings s_;
  Faults f_;
};

TEST_F(ConfigurationText, OnlyLineIsTheIgnoredHeader) {
  apply("MultiAspect=True\n");
  EXPECT_FALSE(s_.MultiAspect);
  EXPECT_TRUE(f_.empty());
  // config_assign never ran, so the defaults were never applied.
  EXPECT_EQ(s_.avg_depth_default, 0);
  EXPECT_EQ(s_.critical_distance, 0.0f);
}

TEST_F(ConfigurationText, NoKeyLinesLeavesTheDefaultsUnapplied) {
  apply("[Velmora settings]\n\n\n");
  EXPECT_EQ(s_.avg_depth_default, 0);
  EXPECT_EQ(s_.critical_distance, 0.0f);
  EXPECT_TRUE(f_.empty());
}

TEST_F(ConfigurationText, HeaderIsOnlyTheFirstItemNotTheFirstLine) {
  apply("header,MultiAspect=True\n");
  EXPECT_TRUE(s_.MultiAspect);
}

TEST_F(ConfigurationText, ZeroCriticalDistanceReturnsToNineAtTheNextKey) {
  apply("hdr\ncritical_distance=0\ntailbase=True\n");
  EXPECT_EQ(s_.critical_distance, 9.0f);
  Settings last_line;
  apply_configuration_text("hdr\ncritical_distance=0\n", "orlain.ini", &last_line, &f_);
  EXPECT_EQ(last_line.critical_distance, 0.0f);  // nothing followed it
}

TEST_F(ConfigurationText, LibraryNameFormsFeaturePathsWithoutAddedSeparator) {
  apply("hdr\nlibrary_name=lib/\n");
  ASSERT_EQ(s_.library_name, "lib/");
  const std::string data_folder = "/data/seals/";
  EXPECT_EQ(data_folder + s_.library_name + "S12LH", "/data/seals/lib/S12LH");
}

TEST_F(ConfigurationText, BlankBeforeEqualsMakesAnUnknownKey) {
  apply("hdr\nMultiAspect =True\n");
  EXPECT_FALSE(s_.MultiAspect);
  EXPECT_TRUE(f_.empty());              // unknown keys pass quietly
  EXPECT_EQ(s_.avg_depth_default, 10);  // yet config_assign ran
}

TEST_F(ConfigurationText, CommaCutsTheValueAndTheRestIsReported) {
  apply("hdr\nreverse_fill=1\nlibrary_name=lib,old/\n");
  EXPECT_EQ(s_.library_name, "lib");
  EXPECT_TRUE(s_.reverse_fill);
  ASSERT_EQ(f_.size(), 1u);
  EXPECT_EQ(f_[0].code(), Status::Code::kInvalidArgument);
  EXPECT_TRUE(mentions(f_[0], "orlain.ini line 3"));
  EXPECT_TRUE(mentions(f_[0], "'old/'"));
  EXPECT_TRUE(mentions(f_[0], "\"=\""));
}

TEST_F(ConfigurationText, QuotesKeepACommaInTheValue) {
  apply("hdr\n\"library_name=lib,old/\"\n");
  EXPECT_EQ(s_.library_name, "lib,old/");
  EXPECT_TRUE(f_.empty());
}

TEST_F(ConfigurationText, SplitsAtTheFirstEqualsWithoutTrimming) {
  apply("hdr\nlibrary_name= a=b \n");
  EXPECT_EQ(s_.library_name, " a=b ");
}

TEST_F(ConfigurationText, BadValueNamesLineKeyAndValueAndKeepsTheSetting) {
  apply("hdr\navg_depth_default=25\n\n oversampling=two\navg_depth_default=99999\n");
  EXPECT_EQ(s_.avg_depth_default, 25);
  EXPECT_EQ(s_.oversampling, 0);
  ASSERT_EQ(f_.size(), 2u);
  EXPECT_TRUE(mentions(f_[0], "orlain.ini line 4: key 'oversampling': value 'two'"));
  EXPECT_TRUE(mentions(f_[1], "line 5"));
  EXPECT_TRUE(mentions(f_[1], "avg_depth_default"));
  EXPECT_TRUE(mentions(f_[1], "99999"));
}

TEST_F(ConfigurationText, DamagedQuotesAndZeroBytesAreReported) {
  using namespace std::string_literals;
  apply("hdr\n\"use_cell=1\"x\nlibrary_name=a\0b\n\"join_only=1\n"s);
  EXPECT_TRUE(s_.use_cell);  // the quoted part still counts
  EXPECT_EQ(s_.library_name, "");
  EXPECT_FALSE(s_.join_only);
  ASSERT_EQ(f_.size(), 3u);
  EXPECT_TRUE(mentions(f_[0], "line 2") && mentions(f_[0], "after the closing quote"));
  EXPECT_TRUE(mentions(f_[1], "line 3") && mentions(f_[1], "zero byte"));
  EXPECT_TRUE(mentions(f_[2], "line 4") && mentions(f_[2], "never closed"));
}

TEST_F(ConfigurationText, UnclosedQuoteInTheHeaderIsReported) {
  apply("\"Velmora settings\nMultiAspect=True\n");
  EXPECT_FALSE(s_.MultiAspect);
  ASSERT_EQ(f_.size(), 1u);
  EXPECT_TRUE(mentions(f_[0], "header"));
}

TEST_F(ConfigurationText, ManyFaultsAreListedUpToALimitThenCounted) {
  std::string text = "hdr\n";
  for (int i = 0; i < 30; ++i) text += "word" + std::to_string(i) + "\n";
  text += "use_cell=1\n";
  apply(text);
  EXPECT_TRUE(s_.use_cell);  // the good line after them still counts
  ASSERT_EQ(f_.size(), 21u);
  EXPECT_TRUE(mentions(f_[19], "line 21"));
  EXPECT_TRUE(mentions(f_[20], "10 more faults"));
}

TEST_F(ConfigurationText, RunawayItemIsCutShortInItsMessage) {
  apply("hdr\n" + std::string(5000, 'q') + "\navg_depth_default=" + std::string(5000, '7'));
  ASSERT_EQ(f_.size(), 2u);
  EXPECT_LT(f_[0].message().size(), 200u);
  EXPECT_TRUE(mentions(f_[0], "qqq...'"));
  EXPECT_LT(f_[1].message().size(), 250u);
  EXPECT_TRUE(mentions(f_[1], "avg_depth_default"));
}

class ReadConfiguration : public ::testing::Test {
 protected:
  TempDir dir_;
  Settings s_;
  Faults f_;
};

TEST_F(ReadConfiguration, ReadsFolderPlusFileName) {
  EXPECT_TRUE(write_file(dir_.dir() + "orlain.ini",
                         "Velmora\r\nMultiAspect=True\r\nlibrary_name=lib/\r\n"));
  read_configuration(dir_.dir(), &s_, &f_);
  EXPECT_TRUE(f_.empty()) << fault_text(f_);
  EXPECT_TRUE(s_.MultiAspect);
  EXPECT_EQ(s_.library_name, "lib/");
}

TEST_F(ReadConfiguration, AddsNoSeparatorToTheFolder) {
  EXPECT_TRUE(write_file(dir_.dir() + "dataorlain.ini", "hdr\nuse_cell=1\n"));
  read_configuration(dir_.dir() + "data", &s_, &f_);
  EXPECT_TRUE(s_.use_cell);
  EXPECT_TRUE(f_.empty());
}

TEST_F(ReadConfiguration, LaterReadingOverwritesOnlyTheKeysItNames) {
  EXPECT_TRUE(write_file(dir_.dir() + "orlain.ini", "hdr\nMultiAspect=True\noversampling=4\n"));
  read_configuration(dir_.dir(), &s_, &f_);
  EXPECT_TRUE(write_file(dir_.dir() + "orlain.ini", "hdr\noversampling=2\n"));
  read_configuration(dir_.dir(), &s_, &f_);
  EXPECT_TRUE(s_.MultiAspect);
  EXPECT_EQ(s_.oversampling, 2);
  EXPECT_TRUE(f_.empty());
}

TEST_F(ReadConfiguration, MissingFileIsOneFaultAndChangesNothing) {
  s_.oversampling = 3;
  read_configuration(dir_.dir(), &s_, &f_);
  ASSERT_EQ(f_.size(), 1u);
  EXPECT_EQ(f_[0].code(), Status::Code::kNotFound);
  EXPECT_TRUE(mentions(f_[0], dir_.dir() + "orlain.ini"));
  EXPECT_EQ(s_.oversampling, 3);
  EXPECT_EQ(s_.avg_depth_default, 0);
}

TEST_F(ReadConfiguration, FolderInPlaceOfTheFileIsReported) {
  std::filesystem::create_directory(dir_.dir() + "orlain.ini");
  read_configuration(dir_.dir(), &s_, &f_);
  ASSERT_EQ(f_.size(), 1u);
  EXPECT_EQ(f_[0].code(), Status::Code::kIOError);
  EXPECT_TRUE(mentions(f_[0], "orlain.ini"));
}

TEST_F(ReadConfiguration, OversizedFileIsRefusedWhole) {
  std::string text = "hdr\nMultiAspect=True\n";
  text += std::string(kMaxConfigurationBytes, 'x');
  EXPECT_TRUE(write_file(dir_.dir() + "orlain.ini", text));
  read_configuration(dir_.dir(), &s_, &f_);
  ASSERT_EQ(f_.size(), 1u);
  EXPECT_EQ(f_[0].code(), Status::Code::kCorruption);
  EXPECT_FALSE(s_.MultiAspect);
}

TEST(FaultText, JoinsMessagesOnePerLine) {
  Faults f = {Status::NotFound("a"), Status::InvalidArgument("b")};
  EXPECT_EQ(fault_text(f), "a\nb");
  EXPECT_EQ(fault_text({}), "");
}

}  // namespace
}  // namespace velmora::config

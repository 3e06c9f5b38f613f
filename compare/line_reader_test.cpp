#include "compare/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace tarvik {
namespace {

// Every data line of text under the current settings.
std::vector<std::string> lines_of(const std::string& text) {
  MemorySource in(text);
  std::vector<std::string> out;
  std::string line;
  while (next_data_line(in, line)) out.push_back(line);
  return out;
}

class LineReader : public ::testing::Test {
 protected:
  void SetUp() override { reset_line_options(); }
  void TearDown() override { reset_line_options(); }
};

using Lines = std::vector<std::string>;

TEST_F(LineReader, DefaultsAreLength1024SemicolonAtAndSquareBrackets) {
  EXPECT_EQ(line_length(), 1024);
  EXPECT_EQ(comment_characters(), ";@");
  EXPECT_EQ(bracket_characters(), "[]");
}

TEST_F(LineReader, SkipsBlankAndCommentLines) {
  EXPECT_EQ(lines_of("\n   \n\t\r\n; note\n   @ other\nfirst\n  ;x\nsecond\n"),
            (Lines{"first", "second"}));
}

TEST_F(LineReader, OnlyTheFirstNonBlankCharacterMakesAComment) {
  EXPECT_EQ(lines_of("a;b\n#c\n"), (Lines{"a;b", "#c"}));
}

TEST_F(LineReader, TrimsSpacesAndTabsButKeepsCarriageReturn) {
  EXPECT_EQ(lines_of("  \t word \t\nnext\r\n"), (Lines{"word", "next\r"}));
}

TEST_F(LineReader, LeadingCarriageReturnsAreSkippedLikeBlanks) {
  EXPECT_EQ(lines_of("\r\r  x\n"), (Lines{"x"}));
}

TEST_F(LineReader, HighBytesAreNeverBlanks) {
  EXPECT_EQ(lines_of("\xa0name\xa0 \n"), (Lines{"\xa0name\xa0"}));
}

TEST_F(LineReader, LastLineWithoutLineFeedIsReturned) {
  EXPECT_EQ(lines_of("one\ntwo"), (Lines{"one", "two"}));
}

TEST_F(LineReader, EmptyStreamGivesNothing) {
  MemorySource in("", 0);
  std::string line = "unchanged";
  EXPECT_FALSE(next_data_line(in, line));
  EXPECT_EQ(line, "unchanged");
}

TEST_F(LineReader, BracketedWordDisappearsAndLeavesBothBlanks) {
  EXPECT_EQ(lines_of("a [word] b\n"), (Lines{"a  b"}));
}

TEST_F(LineReader, UnclosedBracketEndsTheLineBeforeIt) {
  EXPECT_EQ(lines_of("name  [unclosed remark\n"), (Lines{"name"}));
}

TEST_F(LineReader, TwoSectionsSideBySideAreBothRemoved) {
  EXPECT_EQ(lines_of("a[x][y]b\n"), (Lines{"ab"}));
  EXPECT_EQ(lines_of("a[x]b[y]c\n"), (Lines{"abc"}));
}

TEST_F(LineReader, AnyBracketCharacterOpensOrCloses) {
  EXPECT_EQ(lines_of("a]x[b\n"), (Lines{"ab"}));
  EXPECT_EQ(lines_of("a[x[b]c\n"), (Lines{"ab"}));
}

TEST_F(LineReader, LineOfBracketedTextOnlyIsSkipped) {
  EXPECT_EQ(lines_of("[section]\nvalue\n  [ remark ]  \n[open\nlast\n"), (Lines{"value", "last"}));
}

TEST_F(LineReader, EmptyBracketSetSwitchesRemovalOff) {
  set_line_options(0, nullptr, "");
  EXPECT_EQ(lines_of("a [b] c\n"), (Lines{"a [b] c"}));
}

TEST_F(LineReader, OtherCommentCharactersReplaceTheDefaults) {
  set_line_options(0, ";", nullptr);
  EXPECT_EQ(lines_of("@at\n;semi\n"), (Lines{"@at"}));
  EXPECT_EQ(bracket_characters(), "[]");
}

TEST_F(LineReader, ZeroLengthAndNullStringsLeaveSettings) {
  set_line_options(100, "#", "<>");
  set_line_options(0, nullptr, nullptr);
  EXPECT_EQ(line_length(), 100);
  EXPECT_EQ(comment_characters(), "#");
  EXPECT_EQ(bracket_characters(), "<>");
}

TEST_F(LineReader, CharacterSetsAreCutToFifteen) {
  set_line_options(0, "abcdefghijklmnopqrstu", "ABCDEFGHIJKLMNOPQRSTU");
  EXPECT_EQ(comment_characters(), "abcdefghijklmno");
  EXPECT_EQ(bracket_characters(), "ABCDEFGHIJKLMNO");
}

TEST_F(LineReader, LongLineKeepsItsFirst1023CharactersAndTheNextLineFollows) {
  std::string longline;
  for (int i = 0; i < 2000; ++i) longline.push_back(static_cast<char>('a' + i % 26));
  const Lines got = lines_of(longline + "\nfollowing\n");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], longline.substr(0, 1023));
  EXPECT_EQ(got[1], "following");
}

TEST_F(LineReader, LineOfExactlyTheKeptLengthIsWhole) {
  const std::string exact(1023, 'x');
  EXPECT_EQ(lines_of(exact + "\nnext\n"), (Lines{exact, "next"}));
}

TEST_F(LineReader, TailOfAnOverlongCommentNeverBecomesALine) {
  const std::string comment = ";" + std::string(1500, 'c');
  EXPECT_EQ(lines_of(comment + "\ndata\n"), (Lines{"data"}));
}

TEST_F(LineReader, TextBehindMoreBlanksThanTheBufferHoldsIsRead) {
  // The first 1023 bytes are blanks only, a blank line; the rest of the line
  // is read on and holds the text.
  const std::string blanks(1500, ' ');
  EXPECT_EQ(lines_of(blanks + "tail\ndata\n"), (Lines{"tail", "data"}));
  EXPECT_EQ(lines_of(std::string(1023, '\t') + "; note\ndata\n"), (Lines{"data"}));
}

TEST_F(LineReader, ShortLengthCutsEveryLine) {
  set_line_options(4, nullptr, nullptr);
  EXPECT_EQ(lines_of("abcdef\nxy\n"), (Lines{"abc", "xy"}));
  set_line_options(1, nullptr, nullptr);
  EXPECT_EQ(line_length(), 2);
  EXPECT_EQ(lines_of("abc\nd\n"), (Lines{"a", "d"}));
}

TEST_F(LineReader, EmbeddedZeroByteIsPartOfTheLine) {
  EXPECT_EQ(lines_of(std::string("a\0b\n", 4)), (Lines{std::string("a\0b", 3)}));
}

TEST(StripBracketed, Cases) {
  struct Case {
    std::string in, brackets, out;
  } cases[] = {
      {"plain", "[]", "plain"}, {"[all]", "[]", ""},     {"x[", "[]", "x"},
      {"x]y]z", "[]", "xz"},    {"a<b>c", "<>", "ac"},   {"a[b]c", "", "a[b]c"},
      {"a|b|c|d", "|", "ac"},   {"[a][b][c]", "[]", ""}, {"a[b]c[d", "[]", "ac"},
  };
  for (const Case& c : cases) {
    std::string s = c.in;
    strip_bracketed(s, c.brackets);
    EXPECT_EQ(s, c.out) << c.in;
  }
}

TEST(TrimBlanks, Cases) {
  struct Case {
    std::string in, out;
  } cases[] = {{"", ""}, {" \t ", ""}, {" a b ", "a b"}, {"\ta\r", "a\r"}, {"\x80 ", "\x80"}};
  for (const Case& c : cases) {
    std::string s = c.in;
    trim_blanks(s);
    EXPECT_EQ(s, c.out);
  }
}

TEST(ByteSources, MemorySourceReadsSkipsAndStopsAtTheEnd) {
  MemorySource in("abcdef");
  EXPECT_EQ(in.get(), 'a');
  char buf[8] = {};
  EXPECT_EQ(in.read(buf, 2), 2u);
  EXPECT_EQ(std::string(buf, 2), "bc");
  in.skip(2);
  EXPECT_EQ(in.get(), 'f');
  EXPECT_EQ(in.get(), -1);
  in.skip(100);
  EXPECT_EQ(in.read(buf, 4), 0u);
}

TEST(ByteSources, FileSourceReadsBinaryAndRefusesFoldersAndMissingFiles) {
  velmora::testing::TempDir tmp;
  ASSERT_TRUE(tmp.ok());
  tmp.write("f.bin", std::string("x\r\n\0y", 5));
  FileSource in(tmp.path("f.bin"));
  ASSERT_TRUE(in.is_open());
  EXPECT_EQ(in.get(), 'x');
  EXPECT_EQ(in.get(), '\r');
  in.skip(2);
  EXPECT_EQ(in.get(), 'y');
  EXPECT_EQ(in.get(), -1);
  EXPECT_FALSE(FileSource(tmp.path("missing")).is_open());
  EXPECT_FALSE(FileSource(tmp.dir()).is_open());
  EXPECT_FALSE(FileSource(tmp.path(std::string("f.bin\0x", 7))).is_open());
}

}  // namespace
}  // namespace tarvik

#include "workstation/matching/line_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace velmora::matching {
namespace {

class LineReaderTest : public ::testing::Test {
 protected:
  std::vector<std::string> lines_of(const std::string& bytes, size_t max_line = 0,
                                    std::vector<bool>* truncated = nullptr,
                                    std::vector<bool>* ended = nullptr) {
    const std::string path = (dir_ / "f.txt").string();
    std::ofstream(path, std::ios::binary) << bytes;
    std::unique_ptr<LineReader> reader;
    Status s = LineReader::open(path, &reader, max_line);
    EXPECT_TRUE(s.ok()) << s.message();
    std::vector<std::string> out;
    std::string line;
    while (reader && reader->read_a_line(&line)) {
      out.push_back(line);
      if (truncated) truncated->push_back(reader->line_truncated());
      if (ended) ended->push_back(reader->line_ended());
    }
    EXPECT_FALSE(reader && reader->failed());
    return out;
  }

  testing::TempDir temp_{"velmora_line_reader"};
  const std::filesystem::path dir_ = temp_.root();
};

using Lines = std::vector<std::string>;

TEST_F(LineReaderTest, EveryLineEndReadsAlike) {
  EXPECT_EQ(lines_of("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(lines_of("a\nb\n"), (Lines{"a", "b"}));
  EXPECT_EQ(lines_of("a\rb"), (Lines{"a", "b"}));  // a lone CR keeps the next byte
  EXPECT_EQ(lines_of(std::string("a\0\nb", 4)), (Lines{"a", "b"}));
  EXPECT_EQ(lines_of(std::string("a\0b", 3)), (Lines{"a", "b"}));
}

TEST_F(LineReaderTest, EndOfFileGivesWhatIsThere) {
  EXPECT_EQ(lines_of("abc"), (Lines{"abc"}));
  EXPECT_EQ(lines_of("abc\r\n"), (Lines{"abc"}));  // no extra empty line
  EXPECT_EQ(lines_of("a\r\n\r\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(lines_of(""), (Lines{}));
  EXPECT_EQ(lines_of("\n"), (Lines{""}));
}

TEST_F(LineReaderTest, LongLinesAreCutAndFlagged) {
  std::vector<bool> truncated;
  EXPECT_EQ(lines_of(std::string(10, 'x') + "\nyy\n", 4, &truncated), (Lines{"xxxx", "yy"}));
  EXPECT_EQ(truncated, (std::vector<bool>{true, false}));
  truncated.clear();
  EXPECT_EQ(lines_of("abcd\n", 4, &truncated), (Lines{"abcd"}));
  EXPECT_EQ(truncated, (std::vector<bool>{false}));
}

TEST_F(LineReaderTest, TellsWhetherEachLineHadItsLineEnd) {
  struct Case {
    std::string bytes;
    size_t max_line;
    Lines lines;
    std::vector<bool> ended;
  };
  const std::vector<Case> cases = {
      {"a\nb", 0, {"a", "b"}, {true, false}},
      {"a\nb\n", 0, {"a", "b"}, {true, true}},
      {"a\r\nb\r", 0, {"a", "b"}, {true, true}},
      {"a\r\nb\r\n", 0, {"a", "b"}, {true, true}},
      {std::string("a\0", 2), 0, {"a"}, {true}},
      {std::string("a\0\nb", 4), 0, {"a", "b"}, {true, false}},
      {"P1,L1,0.4567,0,0\nP1,L1,0.4", 0, {"P1,L1,0.4567,0,0", "P1,L1,0.4"}, {true, false}},
      {"P1,L1,", 0, {"P1,L1,"}, {false}},
      {"\n", 0, {""}, {true}},
      {"a\n\n", 0, {"a", ""}, {true, true}},
      {std::string(10, 'x'), 4, {"xxxx"}, {false}},
      {std::string(10, 'x') + "\n", 4, {"xxxx"}, {true}},
  };
  for (const Case& c : cases) {
    std::vector<bool> ended;
    EXPECT_EQ(lines_of(c.bytes, c.max_line, nullptr, &ended), c.lines) << c.bytes;
    EXPECT_EQ(ended, c.ended) << c.bytes;
  }
}

TEST_F(LineReaderTest, MissingFileIsNotFoundAndFolderIsRefused) {
  std::unique_ptr<LineReader> reader;
  Status s = LineReader::open((dir_ / "absent.txt").string(), &reader);
  EXPECT_EQ(s.code(), Status::Code::kNotFound);
  EXPECT_EQ(reader, nullptr);
  s = LineReader::open(dir_.string(), &reader);
  EXPECT_EQ(s.code(), Status::Code::kIOError);
  EXPECT_NE(s.message().find(dir_.string()), std::string::npos);
}

}  // namespace
}  // namespace velmora::matching

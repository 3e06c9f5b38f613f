// The save step's files: their bytes against plain references, which of them
// each algorithm set asks for, and a fault at every file in turn.
#include "workstation/extract/save_extract.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "libs/dunmarra/save_fprint.h"
#include "testing/files.h"
#include "testing/in_temp_folder.h"
#include "workstation/extract/feature_file.h"
#include "workstation/extract/shared_extract.h"

namespace velmora::extract {
namespace {

namespace fs = std::filesystem;
using velmora::testing::read_file;

const std::string kCell = "GS0001_01_FL";
const SaveFolders kFolders = {"d", "featlib/", "w"};
const SaveLetters kAllLetters = {"T", "C", "S", "K"};
const std::vector<std::string> kFiles = {"d/raw/" + kCell + ".raw", "w/anim.pgm",
                                         "d/featlib/" + kCell, "d/oldlib/" + kCell};

class SaveExtract : public velmora::testing::InTempFolder {
 protected:
  SaveExtract() : work(kExtractPixels), wavelet(kExtractPixels), blank(kExtractPixels, 0) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<double> grey(0.0, 254.0);
    for (double& v : work) v = grey(rng);
    for (float& v : wavelet) v = static_cast<float>(grey(rng));
    work[1] = 2.5;
    blank[SharedExtract::index(6, 7)] = kBlankPixel;  // block (2, 2)
    for (int k = 0; k < 30; ++k)
      spots.push_back({50.0f, float(grey(rng)) + 1, float(grey(rng)) + 1, 1.0f});
    EXPECT_TRUE(place_seeds(spots, {30, 30, 12, "3000", 0.1f}, &seeds).ok());
    EXPECT_GT(seeds.sets.count, 0);
    make_folders(true);
  }
  void make_folders(bool raw) {
    fs::remove_all("d");
    fs::remove_all("w");
    for (const char* f : {"d/featlib", "d/oldlib", "w"}) fs::create_directories(f);
    if (raw) fs::create_directories("d/raw");
  }
  SaveExtractInputs inputs() {
    return {work, wavelet, blank, false, &spots, 30, 30, "black_stripe", false, &seeds, {}};
  }
  // Every file under d/ and w/, temporary ones too.
  static std::set<std::string> files_on_disk() {
    std::set<std::string> found;
    for (const char* top : {"d", "w"})
      for (const auto& e : fs::recursive_directory_iterator(top))
        if (e.is_regular_file()) found.insert(e.path().string());
    return found;
  }

  std::vector<double> work;
  std::vector<float> wavelet;
  std::vector<std::int16_t> blank;
  SpotList spots;
  SeedResult seeds;
};

TEST_F(SaveExtract, EveryFileHoldsItsBytes) {
  work[0] = 300.0;  // one value too large: clamped once, though raw and source share it
  for (bool use_cell : {false, true}) {
    SCOPED_TRACE(use_cell);
    SaveExtractInputs in = inputs();
    in.use_cell = use_cell;
    SaveReport report;
    const Status s = save_extract_files(in, kFolders, kCell, kAllLetters, &report);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(report.written, kFiles);
    EXPECT_EQ(report.clamped, 1);
    EXPECT_NE(report.note.find("1 values"), std::string::npos);

    std::string raw;
    for (double v : work) raw.push_back(static_cast<char>(std::min(255, int(std::nearbyint(v)))));
    // Compared whole but not printed: a failure would dump 64 KiB.
    EXPECT_TRUE(read_file(kFiles[0]) == raw);
    EXPECT_TRUE(read_file(kFiles[1]) == "P5 256 256 255 " + raw);

    FeatureFile feature;
    ASSERT_TRUE(parse_feature_file(read_file(kFiles[2]), true, kFiles[2], &feature).ok());
    EXPECT_EQ(feature.block_image[64 + 1], 255);
    EXPECT_EQ(feature.seeds, seeds.sets);
    EXPECT_EQ(feature.spots.size(), 30u);

    // The fingerprint is the one a direct call with the plainly built image gives.
    std::vector<std::uint8_t> image(kExtractPixels, 0);
    for (int a = 0; a < 64; ++a)
      for (int b = 0; b < 64; ++b) {
        double sum = 0;
        bool masked = false;
        for (int i = 4 * a; i < 4 * a + 4; ++i)
          for (int j = 4 * b; j < 4 * b + 4; ++j) {
            sum += std::min(255.0,
                            std::nearbyint(use_cell ? work[i * 256 + j] : wavelet[i * 256 + j]));
            masked = masked || blank[i * 256 + j] != 0;
          }
        image[a * 256 + b] =
            static_cast<std::uint8_t>(std::nearbyint((masked ? 64.0 : sum / 64) - 0.4));
      }
    EXPECT_EQ(image[256 + 1], 64);
    EXPECT_EQ(fingerprint_image(source_image(work, wavelet, use_cell, nullptr), blank), image);
    const std::array<std::int32_t, 8> geometry = {64, 64, 17, 17, 16, 16, 2, 2};
    const std::array<double, 6> reals{};
    char cell[80] = {}, path[80] = "reference";
    kCell.copy(cell, kCell.size());
    ASSERT_EQ(save_fprint(geometry.data(), reals.data(), cell, path, image.data()), -1);
    EXPECT_TRUE(read_file(kFiles[3]) == read_file("reference"));
  }
}

TEST_F(SaveExtract, EachFileOnlyUnderItsCondition) {
  struct Case {
    const char* name;
    SaveLetters letters;
    int show_n_spots;
    bool raw_folder;
    std::set<std::string> files;
  };
  const Case cases[] = {
      {"no raw folder", kAllLetters, 30, false, {kFiles[1], kFiles[2], kFiles[3]}},
      {"comparison program only", {"T", "", "", ""}, 30, true, {kFiles[0], kFiles[3]}},
      {"correlation, no spots shown", {"", "C", "", ""}, 0, true, {kFiles[0]}},
      {"spots only", {"", "", "S", ""}, 5, true, {kFiles[0], kFiles[2]}},
      {"keys only", {"", "", "", "K"}, 30, true, {kFiles[0], kFiles[1]}},
      {"nothing", {}, 30, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    make_folders(c.raw_folder);
    SaveExtractInputs in = inputs();
    in.show_n_spots = c.show_n_spots;
    SaveReport report;
    ASSERT_TRUE(save_extract_files(in, kFolders, kCell, c.letters, &report).ok());
    EXPECT_EQ(files_on_disk(), c.files);
    EXPECT_EQ(std::set<std::string>(report.written.begin(), report.written.end()), c.files);
  }
}

// Fails the writes of one file's temporary after its first 1000 bytes.
class DiskFullAt : public FileSystemCalls {
 public:
  explicit DiskFullAt(std::string target) : prefix_(std::move(target) + ".") {}
  int open(const char* path, int flags, mode_t mode) override {
    const int fd = FileSystemCalls::open(path, flags, mode);
    if (std::string(path).rfind(prefix_, 0) == 0) doomed_ = fd;
    return fd;
  }
  ssize_t write(int fd, const void* data, size_t size) override {
    if (fd != doomed_) return FileSystemCalls::write(fd, data, size);
    if (written_) return errno = ENOSPC, -1;
    written_ = true;
    return FileSystemCalls::write(fd, data, std::min<size_t>(size, 1000));
  }

 private:
  std::string prefix_;
  int doomed_ = -1;
  bool written_ = false;
};

TEST_F(SaveExtract, AFileThatCannotBeWrittenStopsTheSaveThere) {
  for (std::size_t failing = 0; failing < kFiles.size(); ++failing) {
    for (bool disk_full : {false, true}) {
      if (disk_full && failing == 3) continue;  // the fingerprint writer has its own file calls
      SCOPED_TRACE(kFiles[failing] + (disk_full ? ": disk full" : ": folder in the way"));
      make_folders(true);
      std::set<std::string> expected(kFiles.begin(), kFiles.begin() + failing);
      if (disk_full) {
        ASSERT_TRUE(velmora::testing::write_file(kFiles[failing], "old"));
        expected.insert(kFiles[failing]);
      } else {
        fs::create_directories(kFiles[failing]);
      }
      DiskFullAt calls(disk_full ? kFiles[failing] : "none");
      SaveReport report;
      const Status s = save_extract_files(inputs(), kFolders, kCell, kAllLetters, &report, calls);
      ASSERT_FALSE(s.ok());
      EXPECT_NE(s.message().find(kFiles[failing]), std::string::npos) << s.message();
      EXPECT_EQ(report.written, std::vector<std::string>(kFiles.begin(), kFiles.begin() + failing));
      EXPECT_EQ(files_on_disk(), expected);  // no temporary file is left behind
      if (disk_full) {
        EXPECT_EQ(read_file(kFiles[failing]), "old");
      }
      for (std::size_t k = 0; k < failing; ++k) EXPECT_GT(fs::file_size(kFiles[k]), 10000u);
    }
  }
}

TEST_F(SaveExtract, RefusedBeforeAnyFileIsWritten) {
  struct Case {
    const char* says;
    std::string cell;
    std::function<void(SaveExtractInputs*)> spoil;
  };
  const Case cases[] = {
      {"'../x'", "../x", [](SaveExtractInputs*) {}},
      {"''", "", [](SaveExtractInputs*) {}},
      {"longer than the 79", std::string(71, 'c'), [](SaveExtractInputs*) {}},
      {"place the seeds first", kCell, [](SaveExtractInputs* in) { in->seeds = nullptr; }},
      {"place the seeds again", kCell, [](SaveExtractInputs* in) { in->limit = 2; }},
      {"blank mask: 10 values", kCell,
       [](SaveExtractInputs* in) { in->blank = in->blank.first(10); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    make_folders(true);
    SaveExtractInputs in = inputs();
    c.spoil(&in);
    SaveReport report;
    const Status s = save_extract_files(in, kFolders, c.cell, kAllLetters, &report);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find(c.says), std::string::npos) << s.message();
    EXPECT_TRUE(files_on_disk().empty());
  }
}

// The key maker runs after anim.pgm; its key file is stored last. A maker
// that fails, writes nothing or writes no key file stops the save before
// the feature file, and nothing of the cell's key file changes.
TEST_F(SaveExtract, TheKeyMakersFileIsStoredOrTheSaveStops) {
  const std::string key_text = "1 128\n1 2 3 0.5\n" + [] {
    std::string d;
    for (int line = 0; line < 7; ++line) {
      const int n = line < 6 ? 20 : 8;
      for (int v = 0; v < n; ++v) d += std::to_string(v) + (v + 1 < n ? " " : "\n");
    }
    return d;
  }();
  struct Case {
    const char* what;
    std::function<Status()> maker;
    const char* refusal;  // nullptr: saved
  };
  auto writes = [](std::string text) {
    return [text] {
      EXPECT_TRUE(velmora::testing::write_file("w/anim.key", text));
      return Status::Ok();
    };
  };
  const Case cases[] = {
      {"a key file", writes(key_text), nullptr},
      {"a failing maker", [] { return Status::IOError("velmora-keys: exit code 1"); },
       "velmora-keys: exit code 1"},
      {"no key file", [] { return Status::Ok(); }, "The key-point generator wrote no w/anim.key"},
      {"a damaged key file", writes(key_text.substr(0, 40)), "w/anim.key line 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    make_folders(false);
    fs::create_directories("d/SiftLib");
    ASSERT_TRUE(velmora::testing::write_file("d/SiftLib/" + kCell, "old keys"));
    // A key file of an earlier save must not pass for this one's.
    ASSERT_TRUE(velmora::testing::write_file("w/anim.key", key_text));
    SaveExtractInputs in = inputs();
    bool pgm_there = false;
    in.make_keys = [&] {
      pgm_there = fs::exists("w/anim.pgm");
      return c.maker();
    };
    SaveReport report;
    const Status s = save_extract_files(in, kFolders, kCell, kAllLetters, &report);
    EXPECT_TRUE(pgm_there);
    if (c.refusal == nullptr) {
      ASSERT_TRUE(s.ok()) << s.message();
      EXPECT_EQ(report.written,
                (std::vector<std::string>{"w/anim.pgm", "d/featlib/" + kCell, "d/oldlib/" + kCell,
                                          "d/SiftLib/" + kCell}));
      EXPECT_EQ(read_file("d/SiftLib/" + kCell), key_text);
      EXPECT_FALSE(fs::exists("w/anim.key"));
    } else {
      EXPECT_NE(s.message().find(c.refusal), std::string::npos) << s.message();
      EXPECT_EQ(report.written, std::vector<std::string>{"w/anim.pgm"});
      EXPECT_EQ(read_file("d/SiftLib/" + kCell), "old keys");
      EXPECT_FALSE(fs::exists("d/oldlib/" + kCell));
    }
  }
  // Without a key algorithm the maker is not run.
  SaveExtractInputs in = inputs();
  bool ran = false;
  in.make_keys = [&] {
    ran = true;
    return Status::Ok();
  };
  SaveReport report;
  ASSERT_TRUE(save_extract_files(in, kFolders, kCell, {"T", "C", "S", ""}, &report).ok());
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace velmora::extract

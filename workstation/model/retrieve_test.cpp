#include "workstation/model/retrieve.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "testing/temp_dir.h"
#include "workstation/model/blank_file.h"
#include "workstation/model/model_files_test_support.h"

namespace velmora::model {
namespace {

using extract::SharedExtract;
using testing::TempDir;

class RetrieveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(data_.write("savedraw/.keep", ""));
    ASSERT_TRUE(data_.write("blank/.keep", ""));
    // The window's state before Retrieve: other weights (the model file was
    // edited since), picks of an earlier extraction, one painted blank.
    for (int i = 0; i < 11; ++i) current_.marks.weights[i] = 7 + i;
    current_.picked = {1.0, 2.0, 3.0, 4.0};
    extract_.cell_blank(5, 6) = extract::kBlankPixel;
  }

  void save(const std::string& cell, int adjust_extract) {
    ASSERT_TRUE(write_fit_files(data_.dir(), cell,
                                fit_record_for_ok(sample_marks(), sample_crop(), sample_picks(),
                                                  adjust_extract))
                    .ok());
  }

  TempDir data_;
  RetrievedFit current_;
  SharedExtract extract_;
};

TEST_F(RetrieveTest, RestoresTheMarksButKeepsTheCurrentWeights) {
  save("GS7_FL", 0);
  RetrievedFit fit = current_;
  const Status s = retrieve_fit(data_.dir(), "GS7_FL", 0, 300, 200, &fit, &extract_);
  ASSERT_TRUE(s.ok()) << s.message();
  fennick::MarkedPoints expected = sample_marks();
  std::memcpy(expected.weights, current_.marks.weights, sizeof expected.weights);
  EXPECT_EQ(0, std::memcmp(&fit.marks, &expected, sizeof expected));
  EXPECT_EQ(fit.crop, sample_crop());
  EXPECT_TRUE(fit.facing);  // tail base x 10 < sternum x 250
  // No blank file: the mask stays, but it now counts as retrieved.
  EXPECT_TRUE(extract_.blank_retrieved);
  EXPECT_FALSE(extract_.blank_edited);
  EXPECT_TRUE(extract_.is_blank(5, 6));
}

TEST_F(RetrieveTest, PickedPointsFollowTheFileAndTheAspect) {
  const PickedPoints zero{};
  const struct {
    int saved_adjust;  // the picks are stored when this is not 0
    int adjust;
    PickedPoints expected;
  } cases[] = {
      {0, -2, zero},             // the file ends after the crop record
      {0, 0, zero},              // the same, whatever the aspect
      {-1, -1, sample_picks()},  // stored and wanted
      {-3, -2, sample_picks()},
      {-2, 0, {1.0, 2.0, 3.0, 4.0}},  // stored, not wanted: left as they were
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.saved_adjust << " " << c.adjust);
    save("GS7_AB", c.saved_adjust);
    RetrievedFit fit = current_;
    ASSERT_TRUE(retrieve_fit(data_.dir(), "GS7_AB", c.adjust, 300, 200, &fit, &extract_).ok());
    EXPECT_EQ(fit.picked, c.expected);
  }
}

TEST_F(RetrieveTest, AFitSavedFromAnotherWindowIsRescaledToTheWorkPicture) {
  fennick::MarkedPoints marks = sample_marks();
  marks.special[2 * 7] = 999;  // unplaced: no position, left alone
  marks.top.x[50] = 999;       // beyond the count: left alone
  ASSERT_TRUE(
      write_fit_files(data_.dir(), "GS7_CH", fit_record_for_ok(marks, sample_crop(), {}, 0)).ok());
  RetrievedFit fit = current_;
  ASSERT_TRUE(retrieve_fit(data_.dir(), "GS7_CH", 0, 450, 300, &fit, &extract_).ok());
  // x and y times 1.5, halves to even.
  const struct {
    const char* what;
    std::int32_t got, expected;
  } cases[] = {
      {"tail base x", fit.marks.special[0], 15},  {"tail base y", fit.marks.special[1], 150},
      {"point 4 x", fit.marks.special[8], 302},   {"point 4 y", fit.marks.special[9], 50},
      {"unplaced x", fit.marks.special[14], 999}, {"midline x 3", fit.marks.midline.x[2], 51},
      {"top x 1", fit.marks.top.x[0], 22},        {"top x 2", fit.marks.top.x[1], 52},
      {"top y 2", fit.marks.top.y[1], 46},        {"bottom x 1", fit.marks.bottom.x[0], 20},
      {"bottom y 9", fit.marks.bottom.y[8], 243}, {"top x 51", fit.marks.top.x[50], 999},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
  CropRecord crop = sample_crop();
  crop.destination_width = 450;
  crop.destination_height = 300;
  EXPECT_EQ(fit.crop, crop);
}

TEST_F(RetrieveTest, RestoresTheBlankMask) {
  save("GS7_HD", 0);
  SharedExtract saved;
  saved.cell_blank(1, 1) = extract::kBlankPixel;
  saved.cell_blank(200, 17) = extract::kBlankPixel;
  saved.cell_blank(256, 256) = extract::kBlankPixel;
  ASSERT_TRUE(write_blank_file(data_.dir(), "GS7_HD", saved).ok());
  RetrievedFit fit = current_;
  ASSERT_TRUE(retrieve_fit(data_.dir(), "GS7_HD", 0, 300, 200, &fit, &extract_).ok());
  EXPECT_EQ(extract_.blank, saved.blank);  // the painted (5, 6) is gone
  EXPECT_TRUE(extract_.blank_edited);
  EXPECT_TRUE(extract_.blank_retrieved);
}

TEST_F(RetrieveTest, APartnerCellReadsTheFileItsPartnerWrote) {
  save("GS7_FL", -2);
  RetrievedFit fit = current_;
  ASSERT_TRUE(retrieve_fit(data_.dir(), "GS7_HA", -2, 300, 200, &fit, &extract_).ok());
  EXPECT_EQ(fit.crop, sample_crop());
  EXPECT_EQ(fit.picked, sample_picks());
}

TEST_F(RetrieveTest, RefusedFilesChangeNothing) {
  save("GS7_FL", 0);
  ASSERT_TRUE(data_.write("savedraw/GS7_XX", std::string(2000, '\0')));
  ASSERT_TRUE(data_.write("blank/GS7_FL", std::string(100, '\0')));
  const struct {
    const char* cell;
    int adjust, width, height;
    Status::Code code;
    std::string named;
  } cases[] = {
      {"GS7_FL", 0, 300, 200, Status::Code::kCorruption,
       data_.path("blank/GS7_FL") + " (cell GS7_FL)"},
      {"GS7_XX", 0, 300, 200, Status::Code::kCorruption,
       data_.path("savedraw/GS7_XX") + " (cell GS7_XX)"},
      {"GS7_NO", 0, 300, 200, Status::Code::kNotFound,
       data_.path("savedraw/GS7_NO") + " (cell GS7_NO)"},
      {"../GS7_FL", 0, 300, 200, Status::Code::kInvalidArgument, "cell ../GS7_FL"},
      {"GS7_FL", 4, 300, 200, Status::Code::kInvalidArgument, "cell GS7_FL"},
      {"GS7_FL", 0, 0, 200, Status::Code::kInvalidArgument, "0 by 200"},
      {"GS7_FL", 0, 300, 40000, Status::Code::kInvalidArgument, "300 by 40000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    RetrievedFit fit = current_;
    SharedExtract extract = extract_;
    const Status s = retrieve_fit(data_.dir(), c.cell, c.adjust, c.width, c.height, &fit, &extract);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.code(), c.code) << s.message();
    EXPECT_NE(s.message().find(c.named), std::string::npos) << s.message();
    EXPECT_EQ(0, std::memcmp(&fit.marks, &current_.marks, sizeof fit.marks));
    EXPECT_EQ(fit.picked, current_.picked);
    EXPECT_FALSE(extract.blank_retrieved);
    EXPECT_EQ(extract.blank, extract_.blank);
  }
}

}  // namespace
}  // namespace velmora::model

// The processing view offscreen over a window of the processing controls:
// what an operator sees at each step and what each move changes.
#include "workstation/extract/ui/extract_processing_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <filesystem>

#include "testing/temp_dir.h"
#include "workstation/common/ui/picture_box.h"
#include "workstation/extract/testing/test_extracts.h"

namespace velmora::extract {
namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "extract_ui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* a = new QApplication(argc, argv);
  return *a;
}

// The processing controls as a window holds them, by name.
std::unique_ptr<QWidget> processing_window() {
  auto root = std::make_unique<QWidget>();
  auto add = [&](QWidget* w, const char* name) { w->setObjectName(name); };
  for (const char* p : {"picExtract", "picProcess", "picShapes"})
    add(new PictureBox(QSize(256, 256), root.get()), p);
  for (const char* p : {"picDilate_top", "picDilate_bot"})
    add(new PictureBox(QSize(148, 148), root.get()), p);
  for (const char* s : {"hscFilter", "hscAvgDepth", "hscLimitSpots"})
    add(new QScrollBar(Qt::Horizontal, root.get()), s);
  for (const char* l : {"lblExtract", "lblPic2", "lblPic3", "lblNumberSpots", "lblNumberSeeds"})
    add(new QLabel(root.get()), l);
  add(new QPushButton("Show", root.get()), "cmdToggleSpots");
  add(new QPushButton("place seeds", root.get()), "cmdSeed");
  add(new QPushButton("Save extract", root.get()), "cmdSaveExtract");
  add(new QLineEdit(root.get()), "txtDist");
  add(new QLineEdit("5000", root.get()), "txtDet");
  return root;
}

int pixels_of(const QImage& image, QColor colour) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += image.pixelColor(x, y) == colour;
  return n;
}

template <typename W>
W* child(QWidget* root, const char* name) {
  return root->findChild<W*>(name);
}

TEST(ExtractProcessingView, TakesTheOperatorThroughTheSpotStepToTheSave) {
  app();
  velmora::testing::TempDir dir("extract_ui");
  for (const char* sub : {"newlib", "oldlib"}) std::filesystem::create_directories(dir.path(sub));
  auto root = processing_window();
  auto processing = std::make_unique<ExtractProcessing>();
  ASSERT_TRUE(processing->set_up(testing::test_setup("black_dots", dir.dir())).ok());
  SharedExtract extract = testing::test_extract({.seed = 11});
  ExtractProcessingView view(root.get(), processing.get(), &extract);
  std::vector<std::string> saved, messages;
  view.on_saved = [&](const std::string& cell) {
    saved.push_back(cell);
    return Status::Ok();
  };
  view.on_message = [&](const std::string& m) { messages.push_back(m); };

  ASSERT_TRUE(view.process("GS0001_01_FL", 1, 2).ok());
  EXPECT_EQ(child<QLabel>(root.get(), "lblExtract")->text(), "extract from GS0001_01_FL, 1 of 2");
  EXPECT_EQ(child<QLabel>(root.get(), "lblPic3")->text(), "wavelet decomp");
  EXPECT_EQ(child<QPushButton>(root.get(), "cmdToggleSpots")->text(), "Hide");
  EXPECT_FALSE(child<QPushButton>(root.get(), "cmdSaveExtract")->isVisibleTo(root.get()));
  auto* limit = child<QScrollBar>(root.get(), "hscLimitSpots");
  EXPECT_EQ(limit->value(), processing->spot_limit());
  EXPECT_EQ(limit->maximum(), static_cast<int>(processing->spots().size()));
  const QColor cyan(0, 255, 255), blue(0, 0, 255), red(255, 0, 0);
  const int circles = pixels_of(view.picture("picExtract"), cyan);
  EXPECT_GT(circles, 0);  // dots are kind 2

  // Hiding and showing the circles; fewer spots, fewer circle pixels.
  view.toggle_spots_clicked();
  EXPECT_EQ(pixels_of(view.picture("picExtract"), cyan), 0);
  view.toggle_spots_clicked();
  limit->setValue(limit->value() / 2);
  EXPECT_LT(pixels_of(view.picture("picExtract"), cyan), circles);
  EXPECT_EQ(child<QLabel>(root.get(), "lblNumberSpots")->text().toStdString(),
            "# spots = " + std::to_string(processing->spot_limit()));

  // A shift-click adds a kind-3 spot (blue), a plain click a kind-1 (red).
  const int before = processing->spot_limit();
  view.extract_clicked(Qt::LeftButton, true, QPoint(200, 40));
  view.extract_clicked(Qt::LeftButton, false, QPoint(40, 200));
  EXPECT_EQ(processing->spot_limit(), before + 2);
  EXPECT_GT(pixels_of(view.picture("picExtract"), blue), 0);
  EXPECT_GT(pixels_of(view.picture("picExtract"), red), 0);

  view.seed_clicked();
  EXPECT_TRUE(child<QLabel>(root.get(), "lblNumberSeeds")->isVisibleTo(root.get()));
  EXPECT_EQ(child<QLabel>(root.get(), "lblNumberSeeds")->text().toStdString(),
            processing->seeds().caption);
  EXPECT_EQ(child<QLineEdit>(root.get(), "txtDist")->text(), "100");
  EXPECT_GT(pixels_of(view.picture("picDilate_top"), Qt::black), 0);
  EXPECT_TRUE(child<QPushButton>(root.get(), "cmdSaveExtract")->isVisibleTo(root.get()));

  // A bad measure is the operator's to correct: a message, nothing placed.
  child<QLineEdit>(root.get(), "txtDet")->setText("five");
  view.seed_clicked();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("five"), std::string::npos);

  view.save_clicked();
  EXPECT_EQ(saved, std::vector<std::string>{"GS0001_01_FL"});
  EXPECT_TRUE(std::filesystem::exists(dir.path("newlib/GS0001_01_FL")));
  EXPECT_FALSE(child<QPushButton>(root.get(), "cmdSaveExtract")->isVisibleTo(root.get()));
}

TEST(ExtractProcessingView, AFailedSaveLeavesTheButtonAndTheRowAlone) {
  app();
  velmora::testing::TempDir dir("extract_ui");  // no newlib/ or oldlib/: the save fails
  auto root = processing_window();
  auto processing = std::make_unique<ExtractProcessing>();
  ASSERT_TRUE(processing->set_up(testing::test_setup("black_dots", dir.dir())).ok());
  SharedExtract extract = testing::test_extract({.seed = 12});
  ExtractProcessingView view(root.get(), processing.get(), &extract);
  int saved = 0;
  std::vector<std::string> messages;
  view.on_saved = [&](const std::string&) {
    ++saved;
    return Status::Ok();
  };
  view.on_message = [&](const std::string& m) { messages.push_back(m); };
  ASSERT_TRUE(view.process("c1", 1, 1).ok());
  view.seed_clicked();
  view.save_clicked();
  EXPECT_EQ(saved, 0);
  ASSERT_FALSE(messages.empty());
  EXPECT_NE(messages.back().find("c1"), std::string::npos) << messages.back();
  EXPECT_TRUE(child<QPushButton>(root.get(), "cmdSaveExtract")->isVisibleTo(root.get()));
}

}  // namespace
}  // namespace velmora::extract

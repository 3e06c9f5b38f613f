// The review screen of the main window offscreen, on a database with small
// photographs: Start in "visual confirm" draws the pending photograph framed
// on its crop beside the candidate's photograph turned by 180 degrees, the
// thumbnails and the scroll bar show other photographs and candidates, a
// label click and Match confirm a match, and the library question leads to
// the next item. The drawn pictures are checked against the photographs'
// colours at points mapped through the source rectangle the framing rules
// give, worked out here from the crop and the photograph sizes.
#include "workstation/app/review_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <array>
#include <filesystem>
#include <string>

#include "workstation/common/ui/picture_box.h"
#include "workstation/confirm/confirm_test_support.h"
#include "workstation/runs/runs_test_workstation.h"

namespace velmora::app {
namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "review_window_test";
  static char* argv[] = {name, nullptr};
  static QApplication* a = new QApplication(argc, argv);
  return *a;
}

// A test photograph: four quadrants of flat colour, far apart from each
// other and from white.
struct Photo {
  int width, height;
  std::array<QColor, 4> quadrants;  // top left, top right, bottom left, bottom right
};

const Photo kPending{
    300,
    200,
    {QColor(220, 30, 30), QColor(30, 200, 30), QColor(30, 30, 220), QColor(230, 220, 30)}};
const Photo kTurned{
    200,
    200,
    {QColor(200, 30, 200), QColor(30, 200, 200), QColor(240, 140, 20), QColor(40, 40, 40)}};
const Photo kSecond{
    240,
    160,
    {QColor(120, 60, 20), QColor(20, 120, 60), QColor(60, 20, 120), QColor(160, 160, 90)}};

void write_photo(const std::string& path, const Photo& p) {
  QImage image(p.width, p.height, QImage::Format_RGB32);
  QPainter painter(&image);
  const int hw = p.width / 2, hh = p.height / 2;
  painter.fillRect(0, 0, hw, hh, p.quadrants[0]);
  painter.fillRect(hw, 0, p.width - hw, hh, p.quadrants[1]);
  painter.fillRect(0, hh, hw, p.height - hh, p.quadrants[2]);
  painter.fillRect(hw, hh, p.width - hw, p.height - hh, p.quadrants[3]);
  painter.end();
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  ASSERT_TRUE(image.save(QString::fromStdString(path), "JPG", 95)) << path;
}

// Compares a drawn picture with `photo` seen through the source rectangle
// (sx, sy, sw, sh) in photograph pixels, negative sizes running from the
// opposite corner, on a grid of sample points: each point is mapped into the
// photograph and must show its quadrant's colour, or white beyond the
// photograph. Points near a quadrant edge or the photograph's edge are left
// out: smoothing and the JPEG blocks blur colours over a few pixels there.
// Fails the test when a point differs or when too few were compared.
void expect_drawn(const QImage& drawn, const Photo& photo, double sx, double sy, double sw,
                  double sh, const char* what) {
  // Flat JPEG colours at quality 95 come back within a few levels; smoothing
  // adds nothing away from the edges.
  constexpr int kTolerance = 20;
  // Source pixels kept away from an edge: a JPEG block and the scaling's
  // reach.
  constexpr double kMargin = 10.0;
  int compared = 0, differing = 0;
  std::string first;
  for (int gy = 0; gy < 24; ++gy) {
    for (int gx = 0; gx < 36; ++gx) {
      const int u = (2 * gx + 1) * drawn.width() / 72, v = (2 * gy + 1) * drawn.height() / 48;
      const double px = sx + (u + 0.5) / drawn.width() * sw;
      const double py = sy + (v + 0.5) / drawn.height() * sh;
      auto near = [](double a, double b) { return std::abs(a - b) < kMargin; };
      if (near(px, 0) || near(px, photo.width) || near(px, photo.width / 2) || near(py, 0) ||
          near(py, photo.height) || near(py, photo.height / 2))
        continue;
      QColor expected(Qt::white);
      if (px > 0 && px < photo.width && py > 0 && py < photo.height)
        expected =
            photo.quadrants[(py < photo.height / 2 ? 0 : 2) + (px < photo.width / 2 ? 0 : 1)];
      const QColor got = drawn.pixelColor(u, v);
      ++compared;
      if (std::abs(got.red() - expected.red()) <= kTolerance &&
          std::abs(got.green() - expected.green()) <= kTolerance &&
          std::abs(got.blue() - expected.blue()) <= kTolerance)
        continue;
      if (differing++ == 0)
        first = "(" + std::to_string(u) + ", " + std::to_string(v) + "): drawn " +
                got.name().toStdString() + ", photograph " + expected.name().toStdString();
    }
  }
  EXPECT_EQ(differing, 0) << what << ": " << differing << " of " << compared
                          << " points differ, the first at " << first;
  // The grid has 864 points; at least half lie away from the edges.
  EXPECT_GT(compared, 400) << what;
}

class ReviewWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    ws_.add_algorithm("a", "tarvik");
    for (const auto& [id, cell, status] : {std::tuple{"P1", "p1FL", "V"},
                                           {"101", "l101FL", "L"},
                                           {"101", "l101xFL", "L"},
                                           {"102", "l102FL", "L"},
                                           {"P2", "p2FL", "V"}})
      ws_.add_cell(id, cell, "L", status);
    write_photo(photo("p1FL"), kPending);
    write_photo(photo("l101FL"), kTurned);
    write_photo(photo("l101xFL"), kSecond);
    write_photo(photo("l102FL"), kSecond);
    write_photo(photo("p2FL"), kSecond);
    // The pending photograph is framed on its middle; the candidate's shows
    // the midline of an animal facing right, turned.
    confirm::test_support::write_fit(ws_.data_folder, "p1FL",
                                     confirm::test_support::crop_of(75, 50, 150, 100));
    ws_.sql("UPDATE cells SET facing = 'R', side = 'M' WHERE cell = 'l101FL'");
    db::testing::FixtureBuilder b = ws_.builder();
    for (const auto& [pending, library, score] : {std::tuple{"p1FL", "l101FL", 0.9},
                                                  {"p1FL", "l101xFL", 0.8},
                                                  {"p1FL", "l102FL", 0.6},
                                                  {"p2FL", "l102FL", 0.5}}) {
      Status s = b.add_temp(std::string("img_") + pending, std::string("img_") + library,
                            std::string(pending) + ".a", library, score);
      ASSERT_TRUE(s.ok()) << s.message();
    }

    window_ = std::make_unique<runs::MainWindow>(&dialogs_);
    window_->context().folder_file_locations = {(ws_.dir / "program").string(),
                                                (ws_.dir / "user").string()};
    review_ = install_review_window(*window_);
  }
  void TearDown() override {
    review_.reset();
    window_->context().drop_database_work();
    window_->context().session.close();
    window_.reset();
  }

  std::string photo(const std::string& cell) {
    return ws_.data_folder + "newpic/photo_" + cell + ".jpg";
  }
  template <typename W = QWidget>
  W* find(const char* name) {
    W* w = window_->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  void click(const char* name) { find<QAbstractButton>(name)->click(); }
  std::string text(const char* name) {
    return window_->panel().text(ControlName::from(name).value());
  }
  QImage picture(const char* name) { return find<PictureBox>(name)->image(); }
  bool shown(const char* name) { return !find(name)->isHidden(); }

  runs::testing::TestWorkstation ws_{"review_window"};
  ScriptedDialogs dialogs_;
  std::unique_ptr<runs::MainWindow> window_;
  std::unique_ptr<ReviewWindow> review_;
};

TEST_F(ReviewWindowTest, ComparesConfirmsAndGoesOnToTheNextItem) {
  window_->show();
  window_->start();
  for (int i = 0; i < 1000 && window_->title_timer().isActive(); ++i) window_->title_tick();
  window_->panel().set_text("txtFoldersPath", ws_.dir.string());
  window_->panel().set_text("txtDatabase", ws_.db_path);
  window_->panel().set_text("txtNewpics", ws_.data_folder + "newpic");
  click("optVcheck");
  click("chkCrop");  // photo rows with their cells, so that crops are found
  click("cmdStart");
  ASSERT_TRUE(dialogs_.shown().empty()) << dialogs_.shown()[0].text;

  // One comparison: the two photographs side by side at the same height.
  const QRect pend = find("picPendImage")->geometry(), lib = find("picLibImage(0)")->geometry();
  EXPECT_EQ(pend.top(), lib.top());
  EXPECT_EQ(pend.size(), lib.size());
  EXPECT_LT(pend.right(), lib.left());
  EXPECT_EQ(text("lblProgress"), "rank 1, best score with animal 101 is 0.9000");
  // The pending photograph framed on its crop; the candidate's turned, its
  // rectangle (the picture's 1016 x 677 proportions from the photograph's
  // height) running from the far corner, so that the part beyond the
  // photograph lies at the left.
  expect_drawn(picture("picPendImage"), kPending, 75, 50, 150, 100, "pending");
  expect_drawn(picture("picLibImage(0)"), kTurned, 200, 200, -200 * 1016.0 / 677, -200,
               "candidate");
  EXPECT_EQ(text("cmdMoreLibPics"), "more pics?");

  // The candidate's photographs as thumbnails above the large view; the
  // chosen one bordered and shown large.
  click("cmdMoreLibPics");
  ASSERT_TRUE(shown("picLibImage(1)") && shown("picLibImage(2)"));
  EXPECT_FALSE(shown("picLibImage(3)"));
  auto* second = find<PictureBox>("picLibImage(2)");
  EXPECT_LE(second->geometry().bottom(), find("lblProgress")->geometry().top());
  EXPECT_EQ(find("picLibImage(1)")->geometry().right() + 1, second->geometry().left());
  QTest::mouseClick(second, Qt::LeftButton);
  EXPECT_EQ(second->image().pixelColor(1, second->image().height() / 2), QColor(255, 0, 0));
  EXPECT_NE(picture("picLibImage(1)").pixelColor(1, second->image().height() / 2),
            QColor(255, 0, 0));
  EXPECT_NE(text("lblLibImage").find("l101xFL of animal 101"), std::string::npos);
  // 3:2 is a shade wider than the picture's 1016:677: the height decides.
  const double second_width = 160 * 1016.0 / 677, second_height = 160;
  expect_drawn(picture("picLibImage(0)"), kSecond, 0, 0, second_width, second_height,
               "chosen thumbnail");

  // The operator moves to the second candidate and back.
  auto* ranks = find<QScrollBar>("vscAnimList");
  EXPECT_EQ(ranks->maximum(), 2);
  ranks->setValue(2);
  EXPECT_EQ(text("lblProgress"), "rank 2, best score with animal 102 is 0.6000");
  EXPECT_FALSE(shown("picLibImage(1)"));
  ranks->setValue(1);

  // The pending label chosen red: the library animal takes the pending ID.
  auto* pend_label = find<QLabel>("lblPendImage");
  QTest::mouseClick(pend_label, Qt::LeftButton);
  EXPECT_EQ(pend_label->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  click("cmdMatch");
  EXPECT_EQ(text("cmdContinue"), "confirm match of this animal to this animal ->");
  click("cmdContinue");
  EXPECT_EQ(ws_.text("SELECT pendingID || ' ' || libraryID || ' ' || rank FROM scorelog"),
            "P1 101 1");
  EXPECT_EQ(ranks->value(), 2);  // on to the next candidate
  EXPECT_EQ(text("lblProgress"), "rank 2, best score with animal 102 is 0.6000");

  click("cmdSetupChoice");
  EXPECT_EQ(text("cmdContinue"), "add this matched photo to library");
  click("cmdContinue");
  EXPECT_EQ(ws_.status_of("p1FL"), "L");
  ASSERT_TRUE(shown("cmdStart"));
  EXPECT_EQ(text("cmdStart"), "Next image");

  // The next item: the merge made, P2's photograph drawn (unframed, from
  // its top left corner).
  click("cmdStart");
  ASSERT_TRUE(dialogs_.shown().empty()) << dialogs_.shown()[0].text;
  EXPECT_EQ(ws_.text("SELECT group_concat(ID, ' ') FROM (SELECT ID FROM encounter ORDER BY "
                     "encounter_no)"),
            "P1 P1 102 P2");
  EXPECT_NE(text("lblPendImage").find("p2FL of animal P2"), std::string::npos);
  expect_drawn(picture("picPendImage"), kSecond, 0, 0, second_width, second_height, "next pending");
  EXPECT_EQ(text("lblProgress"), "rank 1, best score with animal 102 is 0.5000");
}

// A photograph Qt cannot decode (a JPEG of headers only) leaves a white
// picture of the asked size rather than stopping the review.
TEST(DrawPhotoPicture, AnUndecodablePhotographDrawsNothing) {
  app();
  velmora::testing::TempDir dir("review_window_bad_photo");
  const std::string file = dir.path("bad.jpg");
  confirm::test_support::write_jpeg(file, 300, 200);
  confirm::PhotoPicture p;
  p.file = file;
  p.photo_width = 300;
  p.photo_height = 200;
  p.source = {0, 0, 300, 200};
  const QImage drawn = confirm::draw_photo_picture(p, QSize(90, 60));
  ASSERT_EQ(drawn.size(), QSize(90, 60));
  int white = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 90; ++x) white += drawn.pixelColor(x, y) == QColor(Qt::white);
  // Nothing but the reader's complaint is written on it.
  EXPECT_GT(white, 90 * 60 / 2);
  EXPECT_LT(white, 90 * 60);
}

}  // namespace
}  // namespace velmora::app

// The fitting window's own rules offscreen, on a small synthetic photograph:
// the crop, the dots and their labels, edge points and their clearing, the
// blanking brush and its undo, and how the window leaves the shared flags.
// The fit and extraction against the headless programs are tested end to
// end under tools/corpus.
#include "workstation/model/ui/form3d.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>

#include "testing/temp_dir.h"
#include "workstation/model/ui/photo_file.h"

namespace velmora::model {
namespace {

namespace fs = std::filesystem;

QApplication& app() {
  static int argc = 1;
  static char name[] = "model_ui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* a = new QApplication(argc, argv);
  return *a;
}

// A grey photograph with a lighter band where an animal would lie.
Photo band_photo() {
  Photo p(600, 400);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const uint8_t v = y > 150 && y < 260 ? 180 : 60;
      p.set(x, y, v, v, static_cast<uint8_t>(v / 2));
    }
  return p;
}

struct Window {
  velmora::testing::TempDir dir{"form3d"};
  Photo photo = band_photo();
  extract::SharedExtract extract;
  ScriptedDialogs dialogs;
  std::unique_ptr<Form3D> form;
  Status opened;

  explicit Window(const char* model = "seal_flank.dat", bool no_order = false) {
    app();
    if (model) fs::copy_file(std::string(FENNICK_MODELS_DIR) + model, dir.path(model));
    for (const char* m : {"head_water.dat", "head_land.dat"})
      fs::copy_file(std::string(FENNICK_MODELS_DIR) + m, dir.path(m));
    Form3DSetup setup;
    setup.session.cell = "GS0001_01_FL";
    setup.session.aspect = "Flank";
    setup.session.aspect_settings.cell_type = "lateral";
    setup.session.aspect_settings.model_fname = "seal_flank.dat";
    setup.session.aspect_settings.no_order = no_order;
    setup.session.data_folder = dir.dir();
    setup.session.working_folder = dir.dir();
    setup.id = "GS0001";
    setup.comments = "scar on the neck";
    setup.photo = &photo;
    setup.dialogs = &dialogs;
    setup.screen = QSize(1200, 800);                                   // a 750 x 500 work picture
    extract.blank.assign(extract.blank.size(), extract::kBlankPixel);  // a previous photograph's
    extract.blank_retrieved = true;
    opened = Form3D::open(setup, &extract, &form);
  }
  template <typename W>
  W* get(const char* name) {
    W* w = qobject_cast<W*>(form->control(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  std::string instruction() { return get<QLabel>("LabInstruct")->text().toStdString(); }
  bool shown(const QString& name) { return form->control(name)->isVisibleTo(form.get()); }
  std::string label(int i) {
    return form->findChild<QLabel*>(QString("SPlabel(%1)").arg(i))->text().toStdString();
  }
};

TEST(Form3D, OpensOnTheCropWithTheRecordAndAClearedMask) {
  Window w;
  ASSERT_TRUE(w.opened.ok()) << w.opened.message();
  EXPECT_EQ(w.form->work_size(), (PictureSize{750, 500}));
  EXPECT_EQ(w.instruction(), kInstructCrop);
  EXPECT_EQ(w.get<QLabel>("Label1")->text(), "GS0001_01_FL, ID: GS0001, scar on the neck");
  EXPECT_TRUE(w.shown("PicBoxCrop"));
  EXPECT_FALSE(w.shown("Picture1"));
  EXPECT_FALSE(w.get<QPushButton>("CmdRetrieve")->isEnabled());  // no fit file yet
  for (const char* hidden : {"CmdInitFit", "CmdFit", "cmdExtract", "cmdOK", "UserControl11(0)"})
    EXPECT_FALSE(w.shown(hidden)) << hidden;
  EXPECT_EQ(std::count(w.extract.blank.begin(), w.extract.blank.end(), extract::kBlankPixel), 0);
  EXPECT_FALSE(w.extract.blank_retrieved);
}

TEST(Form3D, AMissingModelFileIsRefusedNamingIt) {
  Window w(nullptr);
  EXPECT_EQ(w.opened.code(), Status::Code::kNotFound);
  EXPECT_NE(w.opened.message().find("seal_flank.dat"), std::string::npos) << w.opened.message();
  EXPECT_NE(w.opened.message().find("GS0001_01_FL"), std::string::npos) << w.opened.message();
  EXPECT_FALSE(w.form);
}

TEST(Form3D, TwoLeftClicksCropAndTheSternumFirstStillSetsTheFacing) {
  Window w;
  ASSERT_TRUE(w.opened.ok());
  w.form->crop_pressed(Qt::LeftButton, QPoint(75, 100));
  EXPECT_TRUE(w.shown("PicBoxCrop"));  // one corner: the second is awaited
  w.form->crop_pressed(Qt::LeftButton, QPoint(675, 400));
  ASSERT_TRUE(w.shown("Picture1"));
  // Corner (75, 100) of a 750 x 500 crop picture over a 600 x 400 photograph.
  EXPECT_EQ(w.form->session().crop_record().source_x, 60);
  EXPECT_EQ(w.form->session().crop_record().source_y, 80);
  EXPECT_TRUE(fs::exists(w.dir.path(kEraseStoreFile)));
  EXPECT_EQ(w.instruction(), kInstructBasePoints);
  EXPECT_TRUE(w.shown("UserControl11(0)"));
  EXPECT_FALSE(w.shown("UserControl11(2)"));

  // Sternum first, on the left: when the tail base lands on the right the
  // animal faces left, and the far/near labels follow.
  w.form->dot_dropped(1, w.form->picture_to_form(QPoint(100, 250)));
  EXPECT_EQ(w.instruction(), kInstructBasePoints);
  w.form->dot_dropped(0, w.form->picture_to_form(QPoint(650, 240)));
  EXPECT_FALSE(w.form->session().facing());
  EXPECT_EQ(w.instruction(), kInstructMarking);
  EXPECT_TRUE(w.shown("UserControl11(2)"));
  EXPECT_TRUE(w.shown("CmdToggleControls"));
  std::vector<std::string> labels;
  for (int i = 0; i < 8; ++i) labels.push_back(w.label(i));
  EXPECT_EQ(labels,
            (std::vector<std::string>{"tail base", "sternum", "near shoulder", "far shoulder",
                                      "near hip", "far hip", "near mid", "far mid"}));
  // Back on the label column: the point is taken back.
  w.form->dot_dropped(2, w.form->picture_to_form(QPoint(300, 200)));
  EXPECT_EQ(w.form->session().marked_points().placed[2], 1);
  const QWidget* column = w.form->control("SPlabels");
  w.form->dot_dropped(2, column->pos() + QPoint(20, 60));
  EXPECT_EQ(w.form->session().marked_points().placed[2], 0);
}

TEST(Form3D, EdgePointsOfOneListAreClearedByDoubleClickingItsOption) {
  Window w;
  ASSERT_TRUE(w.opened.ok());
  w.form->crop_pressed(Qt::RightButton, QPoint(1, 1));
  EXPECT_EQ(w.form->session().crop_record().source_width, 600);  // the whole photograph
  w.form->dot_dropped(0, w.form->picture_to_form(QPoint(100, 250)));
  w.form->dot_dropped(1, w.form->picture_to_form(QPoint(650, 240)));
  w.get<QRadioButton>("OptionTop")->click();
  for (int x : {150, 300, 450}) w.form->work_released(Qt::LeftButton, QPoint(x, 190));
  EXPECT_EQ(w.instruction(), kInstructEdges);
  EXPECT_TRUE(w.shown("CmdInitFit"));
  w.get<QRadioButton>("OptionBot")->click();
  for (int x : {200, 400}) w.form->work_released(Qt::LeftButton, QPoint(x, 255));
  w.get<QRadioButton>("optMid")->click();
  for (int x : {150, 350, 550}) w.form->work_released(Qt::LeftButton, QPoint(x, 220));
  EXPECT_TRUE(w.shown("TopEdge(2)"));
  EXPECT_FALSE(w.shown("TopEdge(3)"));
  // The midline is drawn through its points in magenta.
  EXPECT_EQ(w.form->work_view().pixelColor(250, 220), QColor(255, 0, 255));

  // Dragging the third midline marker redraws the line through it.
  w.form->marker_dropped(MarkList::kMidline, 2, w.form->picture_to_form(QPoint(550, 300)));
  EXPECT_EQ(w.form->session().mark_position(MarkList::kMidline, 2).y, 300);
  EXPECT_EQ(w.form->work_view().pixelColor(450, 260), QColor(255, 0, 255));

  w.form->option_double_clicked(MarkList::kTop);
  EXPECT_EQ(w.form->session().mark_count(MarkList::kTop), 0);
  EXPECT_EQ(w.form->session().mark_count(MarkList::kBottom), 2);
  EXPECT_EQ(w.form->session().mark_count(MarkList::kMidline), 3);
  EXPECT_FALSE(w.shown("TopEdge(0)"));
  EXPECT_TRUE(w.shown("BottomEdge(1)"));
  EXPECT_EQ(w.form->session().marked_points().placed[0], 1);
}

TEST(Form3D, TheBrushPaintsBlueAndEBringsTheCroppedPictureBack) {
  Window w;
  ASSERT_TRUE(w.opened.ok());
  w.form->crop_pressed(Qt::RightButton, QPoint(1, 1));
  const QColor before = w.form->work_view().pixelColor(300, 200);
  // The brush works only once the model is fitted (Extract offered).
  w.form->work_pressed(Qt::RightButton, {}, QPoint(300, 200));
  EXPECT_EQ(w.form->work_view().pixelColor(300, 200), before);
  w.get<QPushButton>("cmdExtract")->show();
  w.form->work_pressed(Qt::RightButton, {}, QPoint(300, 200));
  w.form->work_moved(Qt::RightButton, {}, QPoint(340, 200));
  w.form->work_released(Qt::RightButton, QPoint(340, 200));
  EXPECT_TRUE(w.extract.blank_edited);
  for (int x : {275, 300, 365}) EXPECT_EQ(w.form->work_view().pixelColor(x, 200), Qt::blue) << x;
  EXPECT_EQ(w.form->work_view().pixelColor(366, 200), before);  // half-side 25 from x = 340
  EXPECT_EQ(w.form->session().work_picture().colour(300, 200), 255 * 65536);
  EXPECT_FALSE(w.shown("UserControl11(0)"));  // dots and labels out of the brush's way

  w.extract.blank[7] = extract::kBlankPixel;
  w.form->brush_key(Qt::Key_Left);  // any key clears the mask, the paint stays
  EXPECT_EQ(w.extract.blank[7], extract::kUsablePixel);
  EXPECT_EQ(w.form->work_view().pixelColor(300, 200), Qt::blue);
  w.form->brush_key(Qt::Key_E);
  EXPECT_EQ(w.form->work_view().pixelColor(300, 200), before);
  EXPECT_NE(w.form->session().work_picture().colour(300, 200), 255 * 65536);
}

TEST(Form3D, KeysSwitchTheHeadModelAndTheOptionCaptions) {
  Window w("seal_flank.dat", true);
  ASSERT_TRUE(w.opened.ok());
  EXPECT_EQ(w.get<QRadioButton>("OptionTop")->text(), "Left");  // no_order
  w.form->window_key(Qt::Key_L);
  EXPECT_EQ(w.get<QRadioButton>("OptionTop")->text(), "Top");
  EXPECT_EQ(w.form->session().setup().aspect_settings.model_fname, "head_land.dat");
  EXPECT_FALSE(w.form->session().unordered());
  w.form->window_key(Qt::Key_W);
  EXPECT_EQ(w.get<QRadioButton>("OptionBot")->text(), "Right");
  EXPECT_TRUE(w.form->session().unordered());
  EXPECT_TRUE(w.dialogs.shown().empty());
  fs::remove(w.dir.path("head_land.dat"));
  w.form->window_key(Qt::Key_L);  // refused: the water model stays
  ASSERT_EQ(w.dialogs.shown().size(), 1u);
  EXPECT_NE(w.dialogs.shown()[0].text.find("head_land.dat"), std::string::npos);
  EXPECT_EQ(w.form->session().setup().aspect_settings.model_fname, "head_water.dat");
}

TEST(Form3D, ScrapAndClosingLeaveTheFlagsTheDriverReads) {
  struct Case {
    const char* how;
    bool scrapped;
  };
  for (const Case c : {Case{"scrap", true}, Case{"close", false}}) {
    Window w;
    ASSERT_TRUE(w.opened.ok());
    w.extract.extract_ready = true;  // as an Extract leaves it
    if (c.scrapped)
      w.get<QPushButton>("cmdScrap")->click();
    else
      w.form->close();
    EXPECT_EQ(w.extract.image_scrapped, c.scrapped) << c.how;
    EXPECT_FALSE(w.extract.extract_ready) << c.how;
    EXPECT_EQ(w.form->outcome(), c.scrapped ? Form3D::Outcome::kScrapped : Form3D::Outcome::kOpen)
        << c.how;
  }
}

}  // namespace
}  // namespace velmora::model

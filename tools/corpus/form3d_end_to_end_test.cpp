// The fitting window on rendered photographs, driven offscreen as an
// operator drives it: a right click crops the whole photograph, the dots go
// on the marks the renderer found, the edge points are clicked, then
// "Initial Fit", "Fit", "Extract", "OK". What the window leaves (fit file,
// blank file, the cell's row, the extract) must be what the headless
// session gives for the same marks, and what velmora-fit replays from the
// fit file the window saved.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>
#include <filesystem>

#include "testing/files.h"
#include "testing/temp_dir.h"
#include "tools/corpus/form3d_operator.h"
#include "tools/corpus/synthetic_photo.h"
#include "workstation/app/extraction_steps.h"
#include "workstation/app/fit_headless.h"
#include "workstation/app/fitting_steps.h"
#include "workstation/common/control_panel.h"
#include "workstation/config/aspects.h"
#include "workstation/config/configuration_file.h"
#include "workstation/config/folder_file.h"
#include "workstation/extract/extract_bundle.h"
#include "workstation/model/accept.h"
#include "workstation/model/retrieve.h"
#include "workstation/model/ui/form3d.h"
#include "workstation/model/ui/photo_file.h"
#include "workstation/runs/start_driver.h"

namespace velmora::corpus {
namespace {

namespace fs = std::filesystem;
using model::Form3D;

QApplication& app() {
  static int argc = 1;
  static char name[] = "form3d_end_to_end_test";
  static char* argv[] = {name, nullptr};
  static QApplication* a = new QApplication(argc, argv);
  return *a;
}

// Screens whose work picture is 900 x 600 (the headless programs' size) and
// a smaller one.
const QSize kScreen(1600, 960);
const QSize kSmallScreen(1200, 800);

struct Corpus {
  velmora::testing::TempDir dir{"form3d_e2e"};
  std::string data;  // the corpus folder, ending in '/'
  std::string work;  // the working folder
  std::unique_ptr<db::Database> db;
  Corpus() {
    app();
    data = dir.path("seals/");
    work = dir.path("work/");
    fs::create_directories(work);
    PhotoCorpusOptions o;
    o.animals = 2;
    o.sightings = 1;
    o.seed = 7;
    PhotoCorpusSummary summary;
    Status s = write_photo_corpus(data, o, &summary);
    EXPECT_TRUE(s.ok()) << s.message();
    s = db::Database::open(data + "seals.sqlite", db::Database::OpenMode::kExisting, &db);
    EXPECT_TRUE(s.ok()) << s.message();
    // The session writes the flank's orientation into the working folder.
    fs::current_path(work);
  }
  PhotoMarks marks(const std::string& cell) const {
    PhotoMarks m;
    const std::string text = velmora::testing::read_file(data + "marks/" + cell + ".txt");
    Status s = parse_photo_marks(text, cell, &m);
    EXPECT_TRUE(s.ok()) << s.message();
    return m;
  }
  model::SessionSetup setup(const std::string& cell) const {
    model::SessionSetup s;
    s.cell = cell;
    s.aspect = kPhotoAspect;
    Status st = config::load_aspect_settings(db.get(), kPhotoAspect, &s.aspect_settings);
    EXPECT_TRUE(st.ok()) << st.message();
    config::Faults faults;
    config::read_configuration(data, &s.settings, &faults);
    s.data_folder = data;
    s.working_folder = work;
    return s;
  }
};

using fitting_operator::control;
using fitting_operator::mark_and_extract;
using fitting_operator::work_marks;
using fitting_operator::WorkMarks;

std::unique_ptr<Form3D> open_form(const Corpus& c, const std::string& cell,
                                  const model::Photo& photo, QSize screen,
                                  extract::SharedExtract* extract, ScriptedDialogs* dialogs) {
  model::Form3DSetup setup;
  setup.session = c.setup(cell);
  setup.id = cell.substr(0, 5);
  setup.photo = &photo;
  setup.db = c.db.get();
  setup.dialogs = dialogs;
  setup.screen = screen;
  std::unique_ptr<Form3D> f;
  Status s = Form3D::open(setup, extract, &f);
  EXPECT_TRUE(s.ok()) << s.message();
  return f;
}

TEST(Form3DEndToEnd, OkKeepsWhatTheHeadlessSessionAndVelmoraFitGiveForTheSameMarks) {
  Corpus c;
  const std::string cell = "U0001_01_FL";
  const PhotoMarks marks = c.marks(cell);
  model::Photo photo;
  ASSERT_TRUE(model::load_photo(c.data + "newpics/" + marks.photo, &photo).ok());
  // The corpus saved a fit of this cell, so the window offers Retrieve; OK
  // below writes over it.
  auto extract = std::make_unique<extract::SharedExtract>();
  ScriptedDialogs dialogs;
  auto form = open_form(c, cell, photo, kScreen, extract.get(), &dialogs);
  ASSERT_TRUE(form);
  ASSERT_EQ(form->work_size(), (model::PictureSize{900, 600}));
  EXPECT_TRUE(control<QPushButton>(*form, "CmdRetrieve")->isEnabled());
  const WorkMarks w = work_marks(marks, 900);
  mark_and_extract(*form, w);
  EXPECT_EQ(control<QLabel>(*form, "LabInstruct")->text().toStdString(), model::kInstructExtracted);
  control<QCheckBox>(*form, "chkTagged")->setChecked(true);
  control<QPushButton>(*form, "cmdOK")->click();
  ASSERT_EQ(form->outcome(), Form3D::Outcome::kAccepted);
  EXPECT_TRUE(extract->extract_ready);
  EXPECT_FALSE(extract->image_scrapped);

  // The headless session with the same marks, its OK into another folder.
  const std::string reference = c.dir.path("reference/");
  for (const char* sub : {"savedraw", "blank"}) fs::create_directories(reference + sub);
  std::unique_ptr<model::FitSession> session;
  ASSERT_TRUE(model::FitSession::open(c.setup(cell), &session).ok());
  ASSERT_TRUE(session->crop(photo, model::CropRequest{true}, 900, 600).ok());
  for (const auto& [i, p] : w.special)
    ASSERT_TRUE(session->place_special_point(i, p.x(), p.y()).ok());
  for (QPoint p : w.top) ASSERT_TRUE(session->add_mark(model::MarkList::kTop, p.x(), p.y()).ok());
  for (QPoint p : w.bottom)
    ASSERT_TRUE(session->add_mark(model::MarkList::kBottom, p.x(), p.y()).ok());
  session->set_auto_order(true);
  std::vector<std::string> warnings;
  ASSERT_TRUE(session->initial_fit().ok());
  ASSERT_TRUE(session->fit(&warnings).ok());
  auto headless = std::make_unique<extract::SharedExtract>();
  ASSERT_TRUE(session->extract(headless.get()).ok());
  bool update = false;
  ASSERT_TRUE(model::write_accepted_files(*session, *headless, reference, cell, &update).ok());
  ASSERT_TRUE(update);
  for (const std::string& file :
       std::vector<std::string>{"savedraw/" + cell, "savedraw/U0001_01_HA", "blank/" + cell})
    EXPECT_EQ(velmora::testing::read_file(c.data + file),
              velmora::testing::read_file(reference + file))
        << file;
  EXPECT_EQ(extract->intensity, headless->intensity);
  EXPECT_EQ(extract->blank, headless->blank);

  // The row as OK left it.
  model::AcceptedRecord expected = model::accepted_record(*session, *headless);
  std::unique_ptr<db::Statement> st;
  ASSERT_TRUE(c.db->prepare("row",
                            "SELECT side, facing, off_square, pcb, scale, tagged FROM "
                            "cells WHERE cell = :pCell",
                            &st)
                  .ok());
  ASSERT_TRUE(st->set("pCell", db::Value(cell)).ok());
  db::RecordSet row;
  ASSERT_TRUE(st->open(&row).ok());
  ASSERT_EQ(row.row_count(), 1);
  EXPECT_EQ(row.text("side"), expected.side);
  EXPECT_EQ(row.text("facing"), expected.facing);
  EXPECT_EQ(row.text("side"), marks.tail_base.x < marks.sternum.x ? "R" : "L");
  EXPECT_DOUBLE_EQ(row.number("off_square"), expected.off_square);
  EXPECT_EQ(row.integer("pcb"), expected.pcb);
  EXPECT_DOUBLE_EQ(row.number("scale"), expected.scale);
  EXPECT_EQ(row.integer("tagged"), 1);

  // velmora-fit replays the fit file the window saved into the same extract.
  app::FitCommandLine line;
  line.data_folder = c.data;
  line.database = c.data + "seals.sqlite";
  line.aspect = kPhotoAspect;
  const app::FitCommandLine::Job job{c.data + "newpics/" + marks.photo, c.data + "savedraw/" + cell,
                                     c.dir.path("bundle")};
  app::FitOutcome outcome;
  Status s = app::fit_and_extract(line, job, c.db.get(), &outcome);
  ASSERT_TRUE(s.ok()) << s.message();
  auto replayed = std::make_unique<extract::SharedExtract>();
  std::string bundle_cell;
  ASSERT_TRUE(extract::read_extract_bundle(job.bundle, replayed.get(), &bundle_cell).ok());
  EXPECT_EQ(replayed->intensity, extract->intensity);
  EXPECT_EQ(replayed->blank, extract->blank);
}

TEST(Form3DEndToEnd, RetrieveRescalesAFitSavedFromASmallerWindow) {
  Corpus c;
  const std::string cell = "U0002_01_FL";
  const PhotoMarks marks = c.marks(cell);
  model::Photo photo;
  ASSERT_TRUE(model::load_photo(c.data + "newpics/" + marks.photo, &photo).ok());
  ScriptedDialogs dialogs;
  auto extract = std::make_unique<extract::SharedExtract>();
  {
    auto small = open_form(c, cell, photo, kSmallScreen, extract.get(), &dialogs);
    ASSERT_TRUE(small);
    ASSERT_EQ(small->work_size(), (model::PictureSize{750, 500}));
    mark_and_extract(*small, work_marks(marks, 750));
    control<QPushButton>(*small, "cmdOK")->click();
    ASSERT_EQ(small->outcome(), Form3D::Outcome::kAccepted);
  }
  model::FitRecord saved;
  ASSERT_TRUE(model::read_fit_file(c.data + "savedraw/" + cell, cell, &saved).ok());
  ASSERT_EQ(saved.crop.destination_width, 750);
  model::FitRecord expected = saved;
  ASSERT_TRUE(model::rescale_to_work_picture(900, 600, &expected.marks, &expected.crop).ok());

  auto large = open_form(c, cell, photo, kScreen, extract.get(), &dialogs);
  ASSERT_TRUE(large);
  const size_t shown = dialogs.shown().size();  // the small window's fit: "acute angle"
  control<QPushButton>(*large, "CmdRetrieve")->click();
  ASSERT_EQ(dialogs.shown().size(), shown) << dialogs.shown().back().text;
  const fennick::MarkedPoints& m = large->session().marked_points();
  for (int i = 0; i < fennick::kMaxSpecialPoints; ++i) {
    ASSERT_EQ(m.placed[i], expected.marks.placed[i]) << i;
    if (m.placed[i] != 1) continue;
    const QPoint p(expected.marks.special[2 * i], expected.marks.special[2 * i + 1]);
    EXPECT_EQ(m.special[2 * i], p.x()) << i;
    EXPECT_EQ(m.special[2 * i + 1], p.y()) << i;
    if (i < 8) {
      auto* dot = large->control(QString("UserControl11(%1)").arg(i));
      EXPECT_TRUE(dot->isVisibleTo(large.get())) << i;
      EXPECT_EQ(dot->pos() + QPoint(dot->width() / 4, dot->height() / 4), large->picture_to_form(p))
          << i;
    }
  }
  ASSERT_EQ(large->session().mark_count(model::MarkList::kTop), expected.marks.top.count);
  for (int k = 0; k < expected.marks.top.count; ++k) {
    auto* marker = large->control(QString("TopEdge(%1)").arg(k));
    EXPECT_EQ(marker->pos() + QPoint(marker->width() / 4, marker->height() / 4),
              large->picture_to_form(QPoint(expected.marks.top.x[k], expected.marks.top.y[k])))
        << k;
  }
  EXPECT_EQ(large->session().crop_record(), expected.crop);
  EXPECT_EQ(control<QLabel>(*large, "LabInstruct")->text().toStdString(), model::kInstructEdges);
  // Straight on to the fit from the retrieved marks.
  control<QPushButton>(*large, "CmdInitFit")->click();
  control<QPushButton>(*large, "CmdFit")->click();
  EXPECT_TRUE(control<QPushButton>(*large, "cmdExtract")->isVisibleTo(large.get()));
}

TEST(Form3DEndToEnd, BatchExtractTakesBothPhotographsThroughTheWindow) {
  Corpus c;
  c.db.reset();  // the run opens its own connection
  RecordingControlPanel panel;
  ScriptedDialogs dialogs;
  runs::RunContext ctx;
  ctx.panel = &panel;
  ctx.dialogs = &dialogs;
  fs::create_directories(c.dir.path("program"));
  fs::create_directories(c.dir.path("user"));
  ctx.folder_file_locations.program_folder = c.dir.path("program");
  ctx.folder_file_locations.user_config_folder = c.dir.path("user");
  panel.set_text("txtFoldersPath", c.data);
  panel.set_text("txtDatabase", c.data + "seals.sqlite");
  panel.set_text("txtNewpics", c.data + "newpics/");
  panel.set_text("cmdStart", "Start");
  panel.set_text("txtNumPend", "200");
  panel.set_checked("optDontLimit", true);
  panel.set_checked("optBatchExtract", true);
  int banks = 0;
  ctx.hooks.kernels.calc_stripe_wavelet = [&](int, int, int, int, int, int, double, double) {
    ++banks;
    return Status::Ok();
  };
  std::vector<std::string> windows, processed;
  app::install_fitting_steps(ctx, [&](Form3D& f) {
    const std::string cell = f.session().setup().cell;
    windows.push_back(cell);
    mark_and_extract(f, work_marks(c.marks(cell), f.work_size().width));
    control<QPushButton>(f, "cmdOK")->click();
  });
  ctx.hooks.extraction.run_pipeline = [&](runs::RunContext& r) {
    processed.push_back(r.extraction.current_image_row.text("cell"));
    EXPECT_TRUE(r.shared_extract.extract_ready);
    return app::extract_saved(r);
  };
  ASSERT_TRUE(runs::begin_run(ctx).ok());
  for (int presses = 0; !dialogs.program_ended() && presses < 4; ++presses)
    ASSERT_TRUE(runs::cmdStart_clicked(ctx).ok());
  EXPECT_TRUE(dialogs.program_ended());
  const std::vector<std::string> cells = {"U0001_01_FL", "U0002_01_FL"};
  EXPECT_EQ(windows, cells);
  EXPECT_EQ(processed, cells);
  EXPECT_EQ(banks, 1);  // one aspect, one bank
  // The outline of marks clicked left to right along both edges turns back
  // on itself at the ends, which the fit reports and goes on; nothing else.
  for (const ScriptedDialogs::Shown& m : dialogs.shown()) EXPECT_EQ(m.text, "acute angle");
  std::unique_ptr<db::Database> db;
  ASSERT_TRUE(
      db::Database::open(c.data + "seals.sqlite", db::Database::OpenMode::kExisting, &db).ok());
  for (const std::string& cell : cells) {
    std::unique_ptr<db::Statement> st;
    ASSERT_TRUE(
        db->prepare("row", "SELECT AutoMatch, side FROM cells WHERE cell = :pCell", &st).ok());
    ASSERT_TRUE(st->set("pCell", db::Value(cell)).ok());
    db::RecordSet row;
    ASSERT_TRUE(st->open(&row).ok());
    EXPECT_EQ(row.text("AutoMatch"), "P") << cell;
    EXPECT_FALSE(row.text("side").empty()) << cell;
    EXPECT_TRUE(fs::exists(c.data + "blank/" + cell)) << cell;
  }
}

}  // namespace
}  // namespace velmora::corpus

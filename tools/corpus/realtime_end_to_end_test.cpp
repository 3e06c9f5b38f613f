// "real-time ident." from the photograph to the operator's decision, on
// rendered photographs: the fitting window driven offscreen on the marks the
// renderer found, extract processing at its defaults and its save, the
// comparison through the built tarvikx and the correlation and spot
// comparison against a library extracted the headless way, the move to V and
// the review core, with the operator's decisions scripted. Two new
// photographs of two animals: the first is matched to its animal and joins
// the library, the second is refused; the end of the list renames the first.
#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <map>
#include <memory>

#include "testing/files.h"
#include "testing/programs.h"
#include "testing/temp_dir.h"
#include "tools/corpus/form3d_operator.h"
#include "tools/corpus/synthetic_photo.h"
#include "workstation/app/comparison_steps.h"
#include "workstation/app/extract_headless.h"
#include "workstation/app/extraction_steps.h"
#include "workstation/app/fit_headless.h"
#include "workstation/app/fitting_steps.h"
#include "workstation/app/review_steps.h"
#include "workstation/db/testing/test_database.h"
#include "workstation/runs/start_driver.h"

namespace velmora::corpus {
namespace {

namespace fs = std::filesystem;
using fitting_operator::mark_and_extract;
using fitting_operator::work_marks;

QApplication& app() {
  static int argc = 1;
  static char name[] = "realtime_end_to_end_test";
  static char* argv[] = {name, nullptr};
  static QApplication* a = new QApplication(argc, argv);
  return *a;
}

void ok(const Status& s) {
  ASSERT_TRUE(s.ok()) << s.message();
}

// Two animals with two sightings: sighting 1 new (state E), sighting 2 in
// the library, extracted and processed as velmora-fit and velmora-extract do.
// The key-point family is left out: its generator is a program of its own,
// tested with it.
class RealTimeEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    data_ = dir_.path("seals/");
    work_ = data_ + "work/";
    PhotoCorpusOptions o;
    o.animals = 2;
    o.sightings = 2;
    o.seed = 7;
    PhotoCorpusSummary summary;
    ok(write_photo_corpus(data_, o, &summary));
    // The session and the save write into the working folder.
    fs::current_path(work_);
    {
      std::unique_ptr<db::Database> db;
      ok(db::Database::open(data_ + "seals.sqlite", db::Database::OpenMode::kExisting, &db));
      ok(db->execute("test setup", "DELETE FROM algy WHERE type = 'CompSift'"));
      app::FitCommandLine fit;
      fit.data_folder = data_;
      fit.database = data_ + "seals.sqlite";
      fit.aspect = kPhotoAspect;
      fit.accept = true;
      for (const char* cell : {"GS0001_02_FL", "GS0002_02_FL"}) {
        const std::string c(cell);
        const app::FitCommandLine::Job job{data_ + "newpics/" + c.substr(0, 9) + ".jpg",
                                           data_ + "savedraw/" + c, dir_.path("bundles/" + c)};
        app::FitOutcome outcome;
        ok(app::fit_and_extract(fit, job, db.get(), &outcome));
        bundles_.push_back(job.bundle);
      }
    }
    app::ExtractCommandLine line;
    line.data_folder = data_;
    line.database = data_ + "seals.sqlite";
    line.aspect = kPhotoAspect;
    app::ExtractSession session;
    ok(app::open_extract_session(line, &session));
    for (const std::string& bundle : bundles_) {
      auto extract = std::make_unique<extract::SharedExtract>();
      std::string cell;
      bool operator_step = false;
      ok(app::load_and_process(session, bundle, extract.get(), &cell, &operator_step));
      app::RowMark mark;
      ok(app::save_with_defaults(session, *extract, operator_step, &mark));
      ASSERT_EQ(mark, app::RowMark::kKept);  // the library stays L
    }
  }

  std::string query(const std::string& sql) {
    std::unique_ptr<db::Database> db;
    Status s = db::Database::open(data_ + "seals.sqlite", db::Database::OpenMode::kExisting, &db);
    EXPECT_TRUE(s.ok()) << s.message();
    return db ? db::testing::text_of(db.get(), sql) : "";
  }
  std::string state_of(const std::string& cell) {
    return query("SELECT AutoMatch FROM cells WHERE cell = '" + cell + "'");
  }

  velmora::testing::TempDir dir_{"realtime_e2e"};
  std::string data_, work_;
  std::vector<std::string> bundles_;
};

TEST_F(RealTimeEndToEnd, TwoPhotographsFromTheirMarksToTheOperatorsDecisions) {
  RecordingControlPanel panel;
  ScriptedDialogs dialogs;
  runs::RunContext ctx;
  ctx.panel = &panel;
  ctx.dialogs = &dialogs;
  ctx.working_folder = work_;
  fs::create_directories(dir_.path("program"));
  fs::create_directories(dir_.path("user"));
  ctx.folder_file_locations.program_folder = dir_.path("program");
  ctx.folder_file_locations.user_config_folder = dir_.path("user");
  panel.set_text("txtFoldersPath", data_);
  panel.set_text("txtDatabase", data_ + "seals.sqlite");
  panel.set_text("txtNewpics", data_ + "newpics/");
  panel.set_text("cmdStart", "Start");
  panel.set_text("txtNumPend", "200");
  panel.set_checked("optDontLimit", true);
  panel.set_checked("optInField", true);
  panel.set_checked("chkCrop", true);

  // The photographs the window was shown, and the state of each extract
  // when the comparison took it up.
  std::vector<std::string> windows, compared;
  app::install_fitting_steps(ctx, [&](model::Form3D& f) {
    const std::string cell = f.session().setup().cell;
    windows.push_back(cell);
    PhotoMarks marks;
    ok(parse_photo_marks(velmora::testing::read_file(data_ + "marks/" + cell + ".txt"), cell,
                         &marks));
    mark_and_extract(f, work_marks(marks, f.work_size().width));
    fitting_operator::control<QPushButton>(f, "cmdOK")->click();
  });
  app::install_extraction_steps(ctx);
  // Extract processing with the operator's spot step at its defaults.
  ctx.hooks.extraction.run_pipeline = [](runs::RunContext& c) {
    Status s = app::set_up_processing(c);
    if (!s.ok()) return s;
    bool operator_step = false;
    s = c.processing.run_pipeline(c.shared_extract, c.extraction.current_image_row.text("cell"),
                                  &operator_step);
    if (s.ok() && operator_step) s = c.processing.place_seeds(extract::kDefaultTriangleMeasure);
    extract::SaveReport saved;
    if (s.ok()) s = c.processing.save(c.shared_extract, &saved);
    return s.ok() ? app::extract_saved(c) : s;
  };
  matching::BatchCompareOptions tarvik;
  tarvik.tarvikx = velmora::testing::built_program("tarvikx");
  runs::ComparisonHooks& families = ctx.hooks.comparison;
  families.batch_compare_old_style =
      [&, step = app::batch_compare_step(std::make_shared<matching::PosixProcessRunner>(), tarvik)](
          runs::RunContext& c) {
        compared.push_back(c.current_cell + " " + state_of(c.current_cell));
        return step(c);
      };
  families.compare_new_style = app::compare_new_style_step();
  families.change_p_to_v = app::change_p_to_v_step();
  app::install_legcode_comparison(ctx.hooks);
  const std::shared_ptr<confirm::CandidateReview> review = app::install_review_steps(ctx.hooks);

  // The operator's decisions on one photograph: every algorithm letter of
  // the extract in turn ("Next extract"), and on the last one ("a") the
  // match with `match` when one is given; then the library question.
  const std::map<std::string, std::string> truth = {{"U0001_01_FL", "GS0001"},
                                                    {"U0002_01_FL", "GS0002"}};
  std::vector<std::string> letters;
  auto decide = [&](const std::string& cell, bool match) {
    review->attach(app::review_links(ctx));
    EXPECT_EQ(review->current_pending_id(), cell.substr(0, 5));
    EXPECT_EQ(state_of(cell), "V");
    for (int item = 0; item < 4 && !panel.visible("cmdContinue"); ++item) {
      ASSERT_FALSE(dialogs.program_ended());
      const std::string letter = ctx.review.review_list.text("extension");
      letters.push_back(cell + "." + letter);
      // Every animal shows one flank, so the only library animal of the
      // new extract's side is its own.
      ASSERT_EQ(review->candidates().row_count(), 1) << letter;
      EXPECT_EQ(review->candidate_id(), truth.at(cell)) << letter;
      if (match && letter == "a") {
        ok(review->cmdMatch_clicked());
        ok(review->cmdContinue_clicked());
      }
      ok(review->cmdSetupChoice_clicked());
    }
    ASSERT_TRUE(panel.visible("cmdContinue"));
    EXPECT_EQ(panel.text("cmdContinue"),
              std::string("add this ") + (match ? "matched" : "unmatched") + " photo to library");
    ok(match ? review->cmdContinue_clicked() : review->cmdSkip_clicked());
    EXPECT_TRUE(panel.visible("cmdStart"));
  };

  ok(runs::begin_run(ctx));
  decide("U0001_01_FL", true);
  EXPECT_EQ(state_of("U0001_01_FL"), "L");
  // The merge waits for the next item.
  EXPECT_EQ(query("SELECT count(*) FROM encounter WHERE ID = 'U0001'"), "1");
  EXPECT_EQ(state_of("U0002_01_FL"), "E");
  ok(runs::cmdStart_clicked(ctx));
  decide("U0002_01_FL", false);
  EXPECT_EQ(state_of("U0002_01_FL"), "R");
  ok(runs::cmdStart_clicked(ctx));
  EXPECT_TRUE(dialogs.program_ended());
  ctx.drop_database_work();
  ctx.session.close();

  EXPECT_EQ(windows, (std::vector<std::string>{"U0001_01_FL", "U0002_01_FL"}));
  EXPECT_EQ(compared, (std::vector<std::string>{"U0001_01_FL P", "U0002_01_FL P"}));
  // Each extract was reviewed once per algorithm letter of its aspect that
  // scored it, the last letter first; the spot score may find no aligned
  // seeds on these pelts, and a letter without candidates is passed over.
  std::vector<std::string> scored;
  for (const std::string& l : letters)
    if (l.back() != 's') scored.push_back(l);
  EXPECT_EQ(scored, (std::vector<std::string>{"U0001_01_FL.c", "U0001_01_FL.a", "U0002_01_FL.c",
                                              "U0002_01_FL.a"}));
  // The confirmed match renamed the new animal at the end of the list.
  EXPECT_EQ(query("SELECT count(*) FROM encounter WHERE ID = 'U0001'"), "0");
  EXPECT_EQ(query("SELECT group_concat(cell, ' ') FROM (SELECT cell FROM SYSTEM_ImageLinks WHERE "
                  "ID = 'GS0001' AND cell LIKE '%FL' ORDER BY cell)"),
            "GS0001_02_FL U0001_01_FL");
  EXPECT_EQ(query("SELECT pendingID || ' ' || libraryID || ' ' || rank FROM scorelog"),
            "U0001 GS0001 1");
  // The reviewed extracts' scores are gone (the leg-code family compares
  // every pending leg-code extract; those wait for their own review).
  EXPECT_EQ(query("SELECT count(*) FROM temp WHERE pname LIKE '%\\_FL.%' ESCAPE '\\'"), "0");
  for (const ScriptedDialogs::Shown& m : dialogs.shown())
    EXPECT_EQ(m.text.find("Error in"), std::string::npos) << m.text;
}

}  // namespace
}  // namespace velmora::corpus

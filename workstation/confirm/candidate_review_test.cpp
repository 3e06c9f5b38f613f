// The review of pending items through its handlers, as the operator drives
// it, on a database file with photographs on disk: the recording panel and
// scripted dialogs stand in for the window.
#include "workstation/confirm/candidate_review.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "workstation/common/number_text.h"
#include "workstation/confirm/confirm_test_support.h"
#include "workstation/db/testing/test_database.h"

namespace velmora::confirm {
namespace {

using test_support::crop_of;

// One review run on a database of its own: pending animals, library animals,
// temp rows and photographs, then Start as the driver does it.
struct Bench {
  explicit Bench(bool combine, const std::vector<std::string>& letters = {"a"}) : combine(combine) {
    EXPECT_TRUE(ws.status().ok()) << ws.status().message();
    newpics = ws.data_folder + "newpic/";
    const char* families[] = {"tarvik", "compnew_corr", "compnew_spot", "CompSift"};
    for (std::size_t i = 0; i < letters.size(); ++i)
      ok(ws.builder().add_algorithm(letters[i], families[i]));
  }
  ~Bench() {
    pending_list = db::RecordSet();
    state.drop_database_work();
    state.session.close();
  }

  void ok(const Status& s) { ASSERT_TRUE(s.ok()) << s.message(); }
  void sql(const std::string& text) { ok(ws.exec(text)); }

  // An extract of animal `id` on a photograph of its own ("photo_" + cell,
  // 1200 x 800), written to the newpics folder unless `photo` is false.
  void extract(const std::string& id, const std::string& cell, const std::string& status,
               bool photo = true, const std::string& side = "L") {
    ok(ws.add_cell(id, cell, side, status));
    if (photo) test_support::write_jpeg(newpics + "photo_" + cell + ".jpg", 1200, 800);
  }
  void temp(const std::string& pending_cell, const std::string& letter,
            const std::string& library_cell, double score) {
    ok(ws.builder().add_temp("img_" + pending_cell, "img_" + library_cell,
                             pending_cell + "." + letter, library_cell, score));
  }

  // Start in visual-confirm mode: the statements for the options, the
  // pending list at its first row, then the first item.
  void start() {
    state.folders = {ws.data_folder, ws.db_path, newpics};
    state.options.combine = combine;
    state.options.standardise = combine;
    state.options.show_crop = true;
    ok(db::Database::open(ws.db_path, false, &state.session.db));
    ok(db::PreparedStatements::prepare(
        state.db(), session::statement_options(state.options, state.settings), &state.statements));
    state.side_letters = {"L", "R", "M"};
    ok(state.statement("review_list")->open(&pending_list));
    pending_list.move_first();
    reviewed = 0;
    outcome = "unmatched";
    review.attach({&state, &panel, &dialogs, &pending_list, "review_list", &reviewed, &outcome});
    ok(review.ShowNextPending());
  }
  // Start pressed again ("Next image").
  void next_image() {
    outcome = "unmatched";
    panel.set_visible("cmdStart", false);
    ok(review.ShowNextPending());
  }

  // The operator's actions by a short name.
  void act(const std::string& action) {
    if (action == "PendRed") return review.lblPendImage_clicked();
    if (action == "LibRed") return review.lblLibImage_clicked();
    if (action == "Start") return next_image();
    Status s;
    if (action == "Match")
      s = review.cmdMatch_clicked();
    else if (action == "Continue")
      s = review.cmdContinue_clicked();
    else if (action == "Skip")
      s = review.cmdSkip_clicked();
    else if (action == "Next")
      s = review.cmdSetupChoice_clicked();
    else if (action.starts_with("Rank"))
      s = review.vscAnimList_changed(std::stoi(action.substr(4)));
    else
      FAIL() << "unknown action " << action;
    ok(s);
  }

  std::string status_of(const std::string& cell) {
    return ws.text("SELECT AutoMatch FROM cells WHERE cell = '" + cell + "'");
  }
  // Every encounter in order as ID/mum_id/AutoMatched.
  std::string encounters() {
    return ws.text(
        "SELECT group_concat(coalesce(ID, '') || '/' || coalesce(mum_id, '') || '/' || "
        "AutoMatched, ' ') FROM (SELECT * FROM encounter ORDER BY encounter_no)");
  }
  std::string scorelog() {
    return ws.text(
        "SELECT coalesce(group_concat(pendingID || ',' || libraryID || ',' || rank || ',' || "
        "standardised || ',' || combined, ' '), '') FROM (SELECT * FROM scorelog ORDER BY "
        "scorelog_no)");
  }
  std::string shown() const {
    std::string all;
    for (const auto& m : dialogs.shown()) all += "[" + m.text + "] ";
    return all;
  }

  bool combine;
  db::testing::TestDatabase ws{"velmora_confirm"};
  std::string newpics;
  session::RunState state;
  RecordingControlPanel panel;
  ScriptedDialogs dialogs;
  db::RecordSet pending_list;
  int reviewed = 0;
  std::string outcome;
  CandidateReview review;
};

// The plain reference of the merges: encounter rows renamed in order, the
// surviving ID marked as matched.
struct EncounterRow {
  std::string id, mum;
  int matched = 0;
};
std::string apply_merges(std::vector<EncounterRow> rows, const std::vector<Merge>& merges) {
  for (const Merge& m : merges) {
    for (EncounterRow& r : rows) {
      if (r.id == m.old_id) r.id = m.new_id;
      if (r.mum == m.old_id) r.mum = m.new_id;
    }
    for (EncounterRow& r : rows) {
      if (r.id == m.new_id) r.matched = 1;
    }
  }
  std::string text;
  for (const EncounterRow& r : rows)
    text += (text.empty() ? "" : " ") + r.id + "/" + r.mum + "/" + std::to_string(r.matched);
  return text;
}

// P1 and P2 pending; 101, 102 and 103 in the library, ranked 101, 102, 103
// for P1; M1 is a calf of 101.
const std::vector<EncounterRow> kPopulation = {{"P1", ""},  {"101", ""}, {"102", ""},
                                               {"103", ""}, {"P2", ""},  {"M1", "101"}};

void add_population(Bench& b) {
  b.extract("P1", "p1FL", "V");
  b.extract("101", "l101FL", "L");
  b.extract("102", "l102FL", "L");
  b.extract("103", "l103FL", "L");
  b.extract("P2", "p2FL", "V");
  int64_t calf = 0;
  b.ok(b.ws.builder().add_encounter("M1", "", "", &calf, "101"));
  b.temp("p1FL", "a", "l101FL", 0.9);
  b.temp("p1FL", "a", "l102FL", 0.7);
  b.temp("p1FL", "a", "l103FL", 0.4);
  b.temp("p2FL", "a", "l103FL", 0.5);
}

TEST(CandidateReview, DecisionsReachScorelogStatusAndEncounterWhenTheNextItemStarts) {
  struct Logged {
    std::string pending, library;
    int rank;
  };
  struct Case {
    const char* what;
    std::vector<std::string> actions;  // up to the library question and its answer
    const char* question;              // cmdContinue at the library question
    std::vector<Logged> logged;
    std::vector<Merge> merges;
    const char* status;  // of p1FL at the end
  };
  const Case cases[] = {
      {"confirmed with the pending label red",
       {"PendRed", "Match", "Continue", "Next", "Continue"},
       "add this matched photo to library",
       {{"P1", "101", 1}},
       {{"101", "P1"}},
       "L"},
      {"confirmed twice with the library label red",
       {"LibRed", "Match", "Continue", "Match", "Continue", "Next", "Skip"},
       "add this matched photo to library",
       {{"P1", "101", 1}, {"101", "102", 2}},
       {{"P1", "101"}, {"101", "102"}},
       "R"},
      {"confirmed at rank 3 after browsing",
       {"Rank3", "Match", "Continue", "Next", "Continue"},
       "add this matched photo to library",
       {{"P1", "103", 3}},
       {{"P1", "103"}},
       "L"},
      {"refused",
       {"Match", "Skip", "Next", "Skip"},
       "add this unmatched photo to library",
       {},
       {},
       "R"},
      {"don't add", {"Next", "Skip"}, "add this unmatched photo to library", {}, {}, "R"},
      {"added unmatched", {"Next", "Continue"}, "add this unmatched photo to library", {}, {}, "L"},
  };
  for (const bool combine : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (combine ? ", combined" : ", per extract"));
      Bench b(combine);
      add_population(b);
      const std::string before = b.encounters();
      ASSERT_EQ(before, apply_merges(kPopulation, {}));
      b.start();
      ASSERT_EQ(b.review.current_pending_id(), "P1");
      EXPECT_EQ(b.review.candidate_id(), "101");
      EXPECT_EQ(b.review.best_pname(), "p1FL.a");
      EXPECT_EQ(b.review.best_fname(), "l101FL");
      std::string question;
      for (const std::string& a : c.actions) {
        b.act(a);
        if (a == "Match") {
          EXPECT_EQ(b.panel.text("cmdContinue"), "confirm match of this animal to this animal ->");
          EXPECT_EQ(b.panel.text("cmdSkip"), "don't match");
        }
        if (a == "Next") {
          question = b.panel.text("cmdContinue");
          EXPECT_EQ(b.panel.text("cmdSkip"), "don't add");
          EXPECT_TRUE(b.panel.control("cmdContinue").visible);
          EXPECT_FALSE(b.panel.control("cmdSetupChoice").visible);
          // The finished item's candidates are gone, the other item's stay.
          EXPECT_EQ(b.ws.count("SELECT count(*) FROM temp WHERE imgPname = 'img_p1FL'"), 0);
          EXPECT_EQ(b.ws.count("SELECT count(*) FROM temp WHERE imgPname = 'img_p2FL'"), 1);
        }
      }
      EXPECT_EQ(question, c.question);
      EXPECT_TRUE(b.panel.control("cmdStart").visible);
      EXPECT_EQ(b.status_of("p1FL"), c.status);
      EXPECT_EQ(b.review.merge_queue().merges(), c.merges);
      std::string logged;
      for (const Logged& l : c.logged) {
        logged += (logged.empty() ? "" : " ") + l.pending + "," + l.library + "," +
                  std::to_string(l.rank) + (combine ? ",1,1" : ",0,0");
      }
      EXPECT_EQ(b.scorelog(), logged);
      // Nothing is renamed while the item is on screen.
      EXPECT_EQ(b.encounters(), before);

      b.act("Start");
      EXPECT_EQ(b.encounters(), apply_merges(kPopulation, c.merges));
      EXPECT_EQ(b.review.current_pending_id(), "P2");
      EXPECT_EQ(b.reviewed, 2);
      EXPECT_EQ(b.status_of("p2FL"), "V");
      EXPECT_FALSE(b.dialogs.program_ended());
      EXPECT_TRUE(b.dialogs.shown().empty()) << b.shown();
    }
  }
}

TEST(CandidateReview, PerExtractLettersOfOneCellFollowEachOtherWithOneLibraryQuestion) {
  Bench b(false, {"a", "c"});
  b.extract("P1", "p1FL", "V");
  b.extract("101", "l101FL", "L");
  b.extract("102", "l102FL", "L");
  b.temp("p1FL", "a", "l101FL", 0.9);
  b.temp("p1FL", "c", "l102FL", 0.8);
  b.temp("p1FL", "c", "l101FL", 0.2);
  b.start();
  // Letters in descending order: c first.
  EXPECT_EQ(b.panel.text("lblWhichExtract"), "Comparing aspect flank with algorithm c");
  EXPECT_EQ(b.review.candidate_id(), "102");
  EXPECT_EQ(b.review.screen().anim_list, (ScrollBar{1, 2, 1}));
  // The pending list is not run again between the letters of one cell: were
  // it, the extract taken out of V here would end the review.
  b.sql("UPDATE cells SET AutoMatch = 'L' WHERE cell = 'p1FL'");
  b.act("Next");
  EXPECT_TRUE(b.review.same_cell());
  EXPECT_FALSE(b.panel.control("cmdContinue").visible);  // no library question yet
  EXPECT_FALSE(b.dialogs.program_ended());
  EXPECT_EQ(b.reviewed, 2);
  EXPECT_EQ(b.panel.text("lblWhichExtract"), "Comparing aspect flank with algorithm a");
  EXPECT_EQ(b.review.candidate_id(), "101");
  EXPECT_EQ(b.review.screen().anim_list, (ScrollBar{1, 1, 1}));
  EXPECT_EQ(b.ws.count("SELECT count(*) FROM temp WHERE pname = 'p1FL.c'"), 0);
  EXPECT_EQ(b.ws.count("SELECT count(*) FROM temp WHERE pname = 'p1FL.a'"), 1);
  b.sql("UPDATE cells SET AutoMatch = 'V' WHERE cell = 'p1FL'");
  b.act("Next");
  EXPECT_FALSE(b.review.same_cell());
  EXPECT_EQ(b.panel.text("cmdContinue"), "add this unmatched photo to library");
  EXPECT_EQ(b.ws.count("SELECT count(*) FROM temp"), 0);
  b.act("Continue");
  EXPECT_EQ(b.status_of("p1FL"), "L");
  // The last item decided, the review ends the program.
  b.act("Start");
  EXPECT_TRUE(b.dialogs.program_ended());
  EXPECT_TRUE(b.dialogs.shown().empty()) << b.shown();
}

TEST(CandidateReview, CombinedRanksTheAnimalOverAllItsExtractsAndShowsItsBestPhotograph) {
  Bench b(true, {"a", "c"});
  b.extract("P1", "p1FL", "V");
  b.extract("P1", "p1HD", "V");
  b.extract("101", "l101FL", "L");
  b.extract("102", "l102FL", "L");
  b.temp("p1FL", "a", "l101FL", 0.6);
  b.temp("p1HD", "c", "l102FL", 0.8);
  b.temp("p1HD", "a", "l101FL", 0.7);
  b.start();
  EXPECT_EQ(b.panel.text("lblWhichExtract"),
            "Comparing standardised scores from all aspects/algorithms");
  EXPECT_EQ(b.review.candidate_id(), "102");
  ASSERT_EQ(b.review.pending_photos().size(), 2u);
  EXPECT_EQ(b.review.screen().pend_list, (ScrollBar{1, 2, 2}));  // p1HD scored best
  b.act("Rank2");
  EXPECT_EQ(b.review.candidate_id(), "101");
  EXPECT_EQ(b.review.best_pname(), "p1HD.a");
  EXPECT_EQ(b.panel.text("lblProgress"), "rank 2, best score with animal 101 is 0.7000");
  b.act("Next");
  EXPECT_EQ(b.ws.count("SELECT count(*) FROM temp"), 0);
  b.act("Skip");
  EXPECT_EQ(b.status_of("p1FL"), "R");
  EXPECT_EQ(b.status_of("p1HD"), "R");
}

TEST(CandidateReview, AnItemWithoutCandidatesJoinsTheLibraryAtOnce) {
  struct Case {
    bool combine;
    std::vector<std::string> letters;
    std::vector<std::string> scored;  // letters with a temp row
    const char* status;               // of p1FL after Start
    const char* candidate;            // on screen
    int reviewed;
  };
  const Case cases[] = {
      {true, {"a"}, {}, "L", "", 1},
      {false, {"a"}, {}, "L", "", 1},
      {false, {"a", "c"}, {}, "L", "", 2},
      // The first letter has none, the second has: it is reviewed.
      {false, {"a", "c"}, {"a"}, "V", "101", 2},
      {false, {"a", "c"}, {"c"}, "V", "101", 1},
  };
  for (const Case& c : cases) {
    Bench b(c.combine, c.letters);
    SCOPED_TRACE(std::string(c.combine ? "combined" : "per extract") + ", " +
                 std::to_string(c.letters.size()) + " letters, " + std::to_string(c.scored.size()) +
                 " scored");
    b.extract("P1", "p1FL", "V");
    b.extract("101", "l101FL", "L");
    for (const std::string& letter : c.scored) b.temp("p1FL", letter, "l101FL", 0.5);
    b.start();
    EXPECT_EQ(b.status_of("p1FL"), c.status);
    EXPECT_EQ(b.review.candidate_id(), c.candidate);
    EXPECT_EQ(b.reviewed, c.reviewed);
    const bool added = std::string(c.status) == "L";
    EXPECT_EQ(b.panel.control("cmdStart").visible, added);
    EXPECT_EQ(b.panel.control("cmdSetupChoice").visible, !added);
    if (added) {
      EXPECT_EQ(b.panel.text("lblProgress"), "no potential matches to this extract");
      EXPECT_FALSE(b.review.screen().library_pictures[0].has_value());
      EXPECT_FALSE(b.panel.control("cmdContinue").visible);  // nothing is asked
      // Nobody to match.
      b.act("Match");
      b.act("Continue");
      EXPECT_TRUE(b.review.merge_queue().merges().empty());
      EXPECT_EQ(b.ws.count("SELECT count(*) FROM scorelog"), 0);
    }
    EXPECT_TRUE(b.dialogs.shown().empty()) << b.shown();
  }
}

TEST(CandidateReview, AnAnimalWithoutExistingPhotographsIsPassedOver) {
  for (const bool combine : {true, false}) {
    SCOPED_TRACE(combine ? "combined" : "per extract");
    Bench b(combine);
    b.extract("P1", "p1FL", "V", /*photo=*/false);
    b.extract("P2", "p2FL", "V");
    b.extract("101", "l101FL", "L");
    b.temp("p1FL", "a", "l101FL", 0.9);
    b.temp("p2FL", "a", "l101FL", 0.8);
    b.start();
    ASSERT_EQ(b.dialogs.shown().size(), 1u);
    EXPECT_EQ(b.dialogs.shown()[0].text,
              "no existing images of ID P1, prior pending-pending match?");
    EXPECT_TRUE(b.panel.control("cmdStart").visible);
    EXPECT_FALSE(b.panel.control("cmdSetupChoice").visible);
    EXPECT_FALSE(b.panel.control("cmdMoreLibPics").visible);
    EXPECT_EQ(b.status_of("p1FL"), "V");
    b.next_image();
    EXPECT_EQ(b.review.current_pending_id(), "P2");
    EXPECT_EQ(b.review.candidate_id(), "101");
    EXPECT_EQ(b.dialogs.shown().size(), 1u) << b.shown();
    EXPECT_EQ(b.status_of("p1FL"), "V");
  }
}

TEST(CandidateReview, ScoresAreShownAndLoggedAsDisplayed) {
  struct Case {
    double score;
    const char* shown;
  };
  const Case cases[] = {{1.5, "0.6154"}, {1.0, "1.0000"}, {0.25, "0.2500"}, {2.0, "0.6774"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.score);
    Bench b(false);
    b.extract("P1", "p1FL", "V");
    b.extract("101", "l101FL", "L");
    b.temp("p1FL", "a", "l101FL", c.score);
    b.start();
    const double shown = *real_from_text(c.shown);
    EXPECT_NEAR(b.review.displayed_score(), shown, 5e-5);
    EXPECT_EQ(b.panel.text("lblProgress"),
              std::string("rank 1, best score with animal 101 is ") + c.shown);
    ASSERT_FALSE(b.panel.progress().empty());
    EXPECT_NEAR(b.panel.progress().back(), b.review.displayed_score() * 0.98 + 0.01, 1e-6);
    b.act("Match");
    b.act("Continue");
    EXPECT_EQ(b.ws.text("SELECT score FROM scorelog"),
              real_to_text(static_cast<double>(b.review.displayed_score())));
  }
}

TEST(CandidateReview, LibraryPhotographsCountedOnceAndBrowsedEightAtATime) {
  Bench b(false);
  b.extract("P1", "p1FL", "V");
  for (int i = 1; i <= 20; ++i) {
    const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
    b.extract("101", "l101_" + n + "FL", "L");
  }
  // A second extract of the fifth photograph shows it again: counted once.
  b.sql(
      "INSERT INTO cells (cell, image, aspect, side, AutoMatch) VALUES ('l101_05FM', "
      "'img_l101_05FL', 'flank', 'L', 'L')");
  b.temp("p1FL", "a", "l101_01FL", 0.9);
  b.start();
  EXPECT_EQ(b.review.library_photo_count(), 20);
  EXPECT_EQ(b.review.library_photos().size(), 20u);
  EXPECT_EQ(b.panel.text("cmdMoreLibPics"), "more pics?");
  ASSERT_TRUE(b.review.screen().library_pictures[0].has_value());
  EXPECT_EQ(b.review.screen().library_pictures[0]->file, b.newpics + "photo_l101_01FL.jpg");
  EXPECT_FALSE(b.panel.control("cmdMoveOn").visible);

  auto thumbnail_rows = [&b]() {
    std::vector<int> rows;
    for (int k = 1; k <= 8; ++k) {
      const auto& place = b.review.screen().thumbnail_places[k];
      if (!place) continue;
      rows.push_back(place->row);
      EXPECT_TRUE(
          b.panel.control(ControlName::from("picLibImage(" + std::to_string(k) + ")").value())
              .visible);
      EXPECT_EQ(b.review.screen().library_pictures[k]->file,
                b.newpics + b.review.library_photos()[place->row - 1].photo + ".jpg");
    }
    return rows;
  };
  auto window = [](int start) {
    std::vector<int> rows;
    for (int r = start; r < start + 8; ++r) rows.push_back(r);
    return rows;
  };
  b.ok(b.review.cmdMoreLibPics_clicked());
  EXPECT_TRUE(b.panel.control("cmdMoveOn").visible);
  EXPECT_TRUE(b.panel.control("cmdMoveBack").visible);
  EXPECT_EQ(thumbnail_rows(), window(1));
  int start = 1;
  for (int press = 1; press <= 15; ++press) {
    b.ok(b.review.cmdMoveOn_clicked());
    start = std::min(start + 1, 13);
    EXPECT_EQ(b.review.thumbnail_start(), start) << "press " << press;
    EXPECT_EQ(thumbnail_rows(), window(start)) << "press " << press;
  }
  EXPECT_EQ(start, 13);
  b.ok(b.review.cmdMoveBack_clicked());
  EXPECT_EQ(thumbnail_rows(), window(12));

  // Thumbnail 3 of the window at 12 is photo 14; a right click turns it.
  b.ok(b.review.picLibImage_clicked(3, /*right=*/true));
  EXPECT_EQ(b.review.screen().bordered_thumbnail, 3);
  const auto& large = b.review.screen().library_pictures[0];
  ASSERT_TRUE(large.has_value());
  EXPECT_EQ(large->file, b.newpics + "photo_l101_14FL.jpg");
  EXPECT_TRUE(large->turned);
  EXPECT_EQ(b.panel.text("lblLibImage"), " showing: l101_14FL of animal 101 on  ");

  // Another candidate starts with its thumbnails cleared.
  b.act("Rank1");
  EXPECT_EQ(thumbnail_rows(), std::vector<int>{});
  EXPECT_FALSE(b.panel.control("cmdMoveOn").visible);
}

TEST(CandidateReview, PhotographsFramedOnTheCropOfTheirFitFiles) {
  Bench b(false);
  b.extract("P1", "p1A_HD", "V");
  test_support::write_jpeg(b.newpics + "photo_p1A_HD.jpg", 1600, 800);
  test_support::write_fit(b.ws.data_folder, "p11_HD", crop_of(100, 50, 400, 300));
  b.extract("101", "l101FL", "L");
  test_support::write_fit(b.ws.data_folder, "l101FL", crop_of(0, 50, 400, 300));  // at x 0
  b.temp("p1A_HD", "a", "l101FL", 0.5);
  b.start();
  const CandidateReview::Sizes sizes;
  struct Case {
    const char* what;
    std::optional<PhotoPicture> picture;
    PhotoPicture expected;
  };
  const std::string pending_file = b.newpics + "photo_p1A_HD.jpg";
  const std::string library_file = b.newpics + "photo_l101FL.jpg";
  // 1200 x 800 is narrower than the picture: its height is kept.
  const double w = 800 * (sizes.library.width / sizes.library.height);
  const Case shown[] = {
      {"pending, the first head view's crop",
       b.review.screen().pending_picture,
       {pending_file, 1600, 800, {100, 50, 400, 300}, false, true, sizes.pending}},
      {"library, a crop at the edge frames nothing",
       b.review.screen().library_pictures[0],
       {library_file, 1200, 800, {0, 0, w, 800}, false, false, sizes.library}},
  };
  for (const Case& c : shown) {
    ASSERT_TRUE(c.picture.has_value()) << c.what;
    EXPECT_EQ(*c.picture, c.expected) << c.what;
  }
  EXPECT_EQ(b.panel.text("lblPendImage"), " showing: p1A_HD of animal P1 on  ");
  // A right click turns the pending photograph within its crop.
  b.ok(b.review.picPendImage_clicked(false, true));
  EXPECT_EQ(b.review.screen().pending_picture->source, (SourceRect{500, 350, -400, -300}));
  EXPECT_TRUE(b.review.screen().pending_picture->turned);
  // A photograph gone since its table was filled: the message, the picture
  // left as it was.
  const PhotoPicture before = *b.review.screen().pending_picture;
  std::filesystem::remove(pending_file);
  b.ok(b.review.vscPendList_changed(1));
  ASSERT_EQ(b.dialogs.shown().size(), 1u);
  EXPECT_EQ(b.dialogs.shown()[0].text, "photo_p1A_HD not in newpic");
  EXPECT_EQ(*b.review.screen().pending_picture, before);
}

TEST(CandidateReview, MoreThanAHundredMergesAllReachEncounterAndTwiceIsOnce) {
  Bench b(true);
  b.extract("P1", "p1FL", "V");
  constexpr int kLibrary = 105;
  std::vector<EncounterRow> population = {{"P1", ""}};
  std::vector<Merge> expected;
  for (int i = 1; i <= kLibrary; ++i) {
    const std::string id = "L" + std::to_string(1000 + i);
    b.extract(id, "l" + id + "FL", "L", /*photo=*/false);
    b.temp("p1FL", "a", "l" + id + "FL", 1.0 - i / 1000.0);
    population.push_back({id, ""});
    expected.push_back({id, "P1"});
  }
  b.start();
  b.act("PendRed");
  for (int i = 1; i <= kLibrary; ++i) {
    ASSERT_EQ(b.review.screen().anim_list.value, i);
    EXPECT_EQ(b.panel.text("lblProgress"),
              "rank " + std::to_string(i) + ", " + b.review.candidate_id() + " no current images");
    b.act("Match");
    b.act("Continue");
  }
  EXPECT_EQ(b.review.merge_queue().merges(), expected);
  EXPECT_EQ(b.ws.count("SELECT count(*) FROM scorelog"), kLibrary);
  b.act("Next");
  b.act("Continue");
  b.act("Start");  // the queue is applied, and the list is at its end
  EXPECT_TRUE(b.dialogs.program_ended());
  const std::string once = apply_merges(population, expected);
  EXPECT_EQ(b.encounters(), once);
  EXPECT_EQ(b.ws.count("SELECT count(*) FROM encounter WHERE ID = 'P1' AND AutoMatched = 1"),
            kLibrary + 1);
  b.ok(b.review.ApplyQueuedMerges());
  EXPECT_EQ(b.encounters(), once);
  EXPECT_TRUE(b.dialogs.shown().empty()) << b.shown();
}

TEST(MergeQueue, AppliedTwiceAsOnceAndAllOrNothing) {
  Bench b(true);
  for (const char* id : {"A", "B", "C", "D", "E"}) b.extract(id, std::string("c") + id + "FL", "L");
  int64_t calf = 0;
  b.ok(b.ws.builder().add_encounter("F", "", "", &calf, "C"));
  b.start();
  const std::vector<EncounterRow> population = {{"A", ""}, {"B", ""}, {"C", ""},
                                                {"D", ""}, {"E", ""}, {"F", "C"}};
  // C takes the ID that A gave up, and D the one C gave up: a second pass
  // from the first merge would join animals the operator never matched.
  std::vector<Merge> merges = {{"A", "B"}, {"C", "A"}, {"B", "D"}, {"D", "C"}};
  MergeQueue queue;
  for (const Merge& m : merges) queue.add(m.old_id, m.new_id);
  EXPECT_EQ(queue.describe(), "A -> B\nC -> A\nB -> D\nD -> C\n");
  const std::string once = apply_merges(population, merges);
  b.ok(queue.apply(b.state));
  EXPECT_EQ(b.encounters(), once);
  b.ok(queue.apply(b.state));
  EXPECT_EQ(b.encounters(), once);
  EXPECT_EQ(queue.describe(), "");

  // A renaming the database refuses leaves every row as it was, and the
  // merges wait to be applied again.
  b.sql(
      "CREATE TRIGGER refuse_x BEFORE UPDATE OF ID ON encounter WHEN NEW.ID = 'X' BEGIN SELECT "
      "RAISE(ABORT, 'X is taken'); END");
  queue.add("E", "Y");
  queue.add("Y", "X");
  Status s = queue.apply(b.state);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("X is taken"), std::string::npos) << s.message();
  EXPECT_EQ(b.encounters(), once);
  EXPECT_EQ(queue.describe(), "E -> Y\nY -> X\n");
  b.sql("DROP TRIGGER refuse_x");
  b.ok(queue.apply(b.state));
  merges.push_back({"E", "Y"});
  merges.push_back({"Y", "X"});
  EXPECT_EQ(b.encounters(), apply_merges(population, merges));
  EXPECT_EQ(queue.applied(), merges.size());
}

TEST(CandidateReview, AFailedStatementMidReviewStillAppliesTheQueue) {
  const std::string refuse_status =
      "CREATE TRIGGER refuse BEFORE UPDATE OF AutoMatch ON cells BEGIN SELECT RAISE(ABORT, "
      "'the disk is full'); END";
  struct Case {
    const char* procedure;
    std::vector<std::string> before;  // after a first confirmation
    std::string fault;
    std::vector<std::string> actions;
    const char* cause;
  };
  const Case cases[] = {
      {"ConfirmMatch",
       {},
       "CREATE TRIGGER refuse BEFORE INSERT ON scorelog BEGIN SELECT RAISE(ABORT, 'the log is "
       "full'); END",
       {"Match", "Continue"},
       "the log is full"},
      {"cmdContinue", {"Next"}, refuse_status, {"Continue"}, "the disk is full"},
      {"cmdSkip", {"Next"}, refuse_status, {"Skip"}, "the disk is full"},
      {"vscAnimList", {}, "DROP TABLE temp", {"Rank3"}, "no such table"},
      {"cmdSetupChoice", {}, "DROP TABLE temp", {"Next"}, "no such table"},
      {"ShowNextPending",
       {"Next", "Continue"},
       "DROP VIEW SYSTEM_ImageLinks",
       {"Start"},
       "no such table"},
  };
  for (const bool combine : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.procedure) + (combine ? ", combined" : ", per extract"));
      Bench b(combine);
      add_population(b);
      b.start();
      b.act("Match");
      b.act("Continue");  // queued: P1 -> 101
      for (const std::string& a : c.before) b.act(a);
      b.sql(c.fault);
      for (const std::string& a : c.actions) b.act(a);
      ASSERT_FALSE(b.dialogs.shown().empty());
      const std::string& message = b.dialogs.shown().front().text;
      EXPECT_TRUE(message.starts_with(std::string("Error in ") + c.procedure + ": <")) << message;
      EXPECT_TRUE(message.ends_with(">, any matches will be saved")) << message;
      EXPECT_NE(message.find(c.cause), std::string::npos) << message;
      EXPECT_EQ(b.dialogs.shown().size(), 1u) << b.shown();
      EXPECT_TRUE(b.dialogs.program_ended());
      EXPECT_EQ(b.encounters(), apply_merges(kPopulation, {{"P1", "101"}}));
    }
  }
}

}  // namespace
}  // namespace velmora::confirm

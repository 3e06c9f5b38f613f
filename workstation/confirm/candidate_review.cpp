// Visual confirmation without the window (see candidate_review.h).
#include "workstation/confirm/candidate_review.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "workstation/common/number_text.h"
#include "workstation/db/auto_match.h"
#include "workstation/model/fit_file.h"

namespace velmora::confirm {
namespace {

constexpr ControlName kLibraryPictures[] = {"picLibImage(0)", "picLibImage(1)", "picLibImage(2)",
                                            "picLibImage(3)", "picLibImage(4)", "picLibImage(5)",
                                            "picLibImage(6)", "picLibImage(7)", "picLibImage(8)"};

constexpr int kThumbnails = 8;

// Now, as the scorelog's date column takes it.
std::string now_text() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// Runs an action statement with its parameters; the first failure stops.
Status run(db::Statement* statement,
           std::initializer_list<std::pair<const char*, db::Value>> params,
           db::RecordSet* rows = nullptr) {
  for (const auto& [name, value] : params) {
    Status s = statement->set(name, value);
    if (!s.ok()) return s;
  }
  return rows != nullptr ? statement->open(rows) : statement->execute();
}

}  // namespace

bool CandidateReview::attached() const {
  return links_.state != nullptr && links_.panel != nullptr && links_.dialogs != nullptr &&
         links_.pending_list != nullptr && links_.reviewed != nullptr &&
         links_.outcome_word != nullptr;
}

bool CandidateReview::combined() const {
  return links_.state->options.combine;
}

void CandidateReview::attach(const ReviewLinks& links) {
  links_ = links;
}

Status CandidateReview::fail(const char* procedure, const Status& cause) {
  OperatorDialogs& d = *links_.dialogs;
  d.message(std::string("Error in ") + procedure + ": <" + cause.message() +
                ">, any matches will be saved",
            Buttons::kOk, Icon::kCritical);
  Status applied = merges_.apply(*links_.state);
  if (!applied.ok()) {
    // The program ends all the same; the operator keeps the list, so that
    // the matches can be made again.
    d.message("The confirmed matches could not be saved (" + applied.message() +
                  "). These renamings of animal IDs were not made:\n" + merges_.describe(),
              Buttons::kOk, Icon::kCritical);
  }
  d.end_program();
  return Status::Ok();
}

namespace {
Status not_attached() {
  return Status::InvalidArgument(
      "The review of candidates was called without its run (database, controls and pending "
      "list).");
}
}  // namespace

// --------------------------------------------------------------- items

Status CandidateReview::ShowNextPending() {
  if (!attached()) return not_attached();
  Status s = show_next_pending();
  return s.ok() ? s : fail("ShowNextPending", s);
}

Status CandidateReview::position_pending_list() {
  db::RecordSet& list = *links_.pending_list;
  if (!combined() && same_cell_) {
    list.move_next();
    return Status::Ok();
  }
  Status s = links_.state->statement(links_.pending_statement)->open(&list);
  if (!s.ok()) return s;
  list.move_first();
  return Status::Ok();
}

std::string CandidateReview::pending_row_id() const {
  return links_.pending_list->text("ID");
}

std::string CandidateReview::item_key() const {
  return pending_row_id();
}

Status CandidateReview::show_next_pending() {
  ControlPanel& p = *links_.panel;
  db::RecordSet& list = *links_.pending_list;
  if (*links_.reviewed == 0) {
    // A new run.
    passed_over_.clear();
    same_cell_ = false;
  }
  match_flag_ = false;
  screen_.pending_picture.reset();
  pending_shown_ = 0;
  // A new item starts without a question to the operator.
  p.set_visible("cmdContinue", false);
  p.set_visible("cmdSkip", false);
  ++*links_.reviewed;
  if (*links_.reviewed > 1) {
    Status s = merges_.apply(*links_.state);
    if (!s.ok()) return s;
    s = position_pending_list();
    if (!s.ok()) return s;
  }
  while (!list.eof() && passed_over_.count(item_key()) > 0) list.move_next();
  if (list.eof()) {
    links_.dialogs->end_program();
    return Status::Ok();
  }

  current_pending_id_ = pending_row_id();
  Status s = fill_photo_table(current_pending_id_, &pending_photos_);
  if (!s.ok()) return s;
  if (pending_photos_.empty()) {
    links_.dialogs->message(
        "no existing images of ID " + current_pending_id_ + ", prior pending-pending match?",
        Buttons::kOk, Icon::kExclamation);
    passed_over_.insert(item_key());
    same_cell_ = false;
    p.set_visible("cmdStart", true);
    p.set_visible("cmdSetupChoice", false);
    p.set_visible("cmdMoreLibPics", false);
    return Status::Ok();
  }

  p.set_visible("cmdStart", false);
  p.set_visible("cmdSetupChoice", true);
  p.set_visible("cmdMoreLibPics", true);
  screen_.pend_list = {1, static_cast<int>(pending_photos_.size()), 1};
  screen_.pending_picture.reset();

  db::RecordSet& candidates = candidates_;
  if (combined()) {
    p.set_text("lblWhichExtract", "Comparing standardised scores from all aspects/algorithms");
    s = run(links_.state->statement("best_ids_for_id"), {{"pID", current_pending_id_}},
            &candidates);
  } else {
    const std::string cell = list.text("cell");
    int row = 1;
    for (std::size_t i = 0; i < pending_photos_.size(); ++i) {
      if (pending_photos_[i].cell == cell) {
        row = static_cast<int>(i) + 1;
        break;
      }
    }
    p.set_text("lblWhichExtract", "Comparing aspect " + list.text("aspect") + " with algorithm " +
                                      list.text("extension"));
    s = select_pending_photo(row);
    if (!s.ok()) return s;
    s = run(links_.state->statement("best_ids_for_pending"),
            {{"pPname", cell + "." + list.text("extension")}}, &candidates);
  }
  if (!s.ok()) return s;

  candidate_id_.clear();
  best_pname_.clear();
  best_fname_.clear();
  if (candidates.row_count() == 0) {
    screen_.anim_list = ScrollBar{};
    screen_.library_pictures[0].reset();
    p.set_text("lblProgress", "no potential matches to this extract");
    // In per-extract mode the other letters of the same extract may still
    // have candidates: the extract joins the library after its last letter.
    if (!combined()) return next_extract(false);
    return add_or_reject("L");
  }
  screen_.anim_list = {1, candidates.row_count(), 1};
  p.set_enabled("vscAnimList", true);
  return show_candidate(1);
}

Status CandidateReview::fill_photo_table(const std::string& id, std::vector<PhotoRow>* rows) {
  rows->clear();
  db::RecordSet found;
  Status s = run(links_.state->statement("photos_of_id"), {{"pID", id}}, &found);
  if (!s.ok()) return s;
  const std::string& newpics = links_.state->folders.newpics_folder;
  for (found.move_first(); !found.eof() && rows->size() < kMaxPhotoRows; found.move_next()) {
    PhotoRow row;
    row.photo = found.text("photo");
    std::error_code ec;
    if (!std::filesystem::exists(photograph_path(newpics, row.photo), ec)) continue;
    row.cell = found.text("cell");
    row.dt = found.text("dt");
    if (db::is_null(found.field("facing")) || db::is_null(found.field("side"))) {
      row.facing = "L";
      row.side = "L";
    } else {
      row.facing = found.text("facing");
      row.side = found.text("side");
    }
    row.comments = found.text("comments");
    rows->push_back(std::move(row));
  }
  return Status::Ok();
}

// --------------------------------------------------------------- candidates

Status CandidateReview::vscAnimList_changed(int rank) {
  if (!attached()) return not_attached();
  Status s = show_candidate(rank);
  return s.ok() ? s : fail("vscAnimList", s);
}

Status CandidateReview::show_candidate(int rank) {
  ControlPanel& p = *links_.panel;
  thumbnail_start_ = 1;
  clear_thumbnails();
  p.set_visible("cmdMoveOn", false);
  p.set_visible("cmdMoveBack", false);

  if (rank < 1 || rank > candidates_.row_count()) {
    return Status::InvalidArgument("There is no candidate of rank " + std::to_string(rank) +
                                   "; the list holds " + std::to_string(candidates_.row_count()) +
                                   ".");
  }
  candidates_.move_first();
  for (int i = 1; i < rank; ++i) candidates_.move_next();
  screen_.anim_list.value = rank;
  candidate_id_ = candidates_.text("ID");
  const double max_of_score = candidates_.number("maxOfscore");

  db::RecordSet pair;
  Status s =
      run(links_.state->statement("temp_pair_for_ids"),
          {{"pID1", pending_row_id()}, {"pID2", candidate_id_}, {"pScore", max_of_score}}, &pair);
  if (!s.ok()) return s;
  pair.move_first();
  best_pname_ = pair.text("pname");
  best_fname_ = pair.text("fname");

  s = fill_photo_table(candidate_id_, &library_photos_);
  if (!s.ok()) return s;
  displayed_score_ = confirm::displayed_score(max_of_score);
  const std::string r = std::to_string(rank);
  library_photo_count_ = 0;
  library_shown_ = 0;
  if (library_photos_.empty()) {
    screen_.library_pictures[0].reset();
    p.set_text("lblLibImage", "");
    p.set_text("lblProgress", "rank " + r + ", " + candidate_id_ + " no current images");
    p.set_progress(0.0);
  } else {
    s = show_library_photo(1, 0);
    if (!s.ok()) return s;
    if (library_photos_.size() > 1) {
      const std::string& data_folder = links_.state->folders.data_folder;
      library_photo_count_ = compact_distinct_photos(&library_photos_, [&](const PhotoRow& row) {
        const std::optional<model::CropRecord> crop = display_crop(data_folder, row.cell);
        return crop ? CropSize{crop->source_width, crop->source_height} : CropSize{};
      });
    }
    p.set_text("cmdMoreLibPics", library_photo_count_ < 2 ? "no more pics" : "more pics?");
    p.set_progress(displayed_score_ * 0.98 + 0.01);
    if (candidate_id_ != current_pending_id_) {
      p.set_text("lblProgress", "rank " + r + ", best score with animal " + candidate_id_ + " is " +
                                    real_to_fixed_text(displayed_score_, 4));
    } else {
      screen_.progress_label = kRed;
      p.set_text("lblProgress", "already matched, check next library animal");
      screen_.progress_label = kBlue;
    }
  }

  if (combined()) {
    // The pending photograph that scored best.
    const std::string best_cell =
        best_pname_.size() >= 2 ? best_pname_.substr(0, best_pname_.size() - 2) : std::string();
    for (std::size_t i = 0; i < pending_photos_.size(); ++i) {
      if (!best_cell.empty() && pending_photos_[i].cell == best_cell)
        return select_pending_photo(static_cast<int>(i) + 1);
    }
    // Without the extracts' cells in the list ("show crop" off) the best
    // one cannot be found; the first photograph is shown rather than none.
    if (pending_shown_ == 0 && !pending_photos_.empty()) return select_pending_photo(1);
  }
  return Status::Ok();
}

// --------------------------------------------------------------- photographs

Status CandidateReview::show_pending_photo(int row) {
  if (row < 1 || row > static_cast<int>(pending_photos_.size())) return Status::Ok();
  const PhotoRow& r = pending_photos_[row - 1];
  const session::RunState& st = *links_.state;
  const std::string file = photograph_path(st.folders.newpics_folder, r.photo);
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    links_.dialogs->message(missing_pending_photo_message(r.photo));
    return Status::Ok();
  }
  PhotoPicture picture;
  Status s = read_jpeg_size(file, &picture.photo_width, &picture.photo_height);
  if (!s.ok()) {
    links_.dialogs->message(s.message(), Buttons::kOk, Icon::kExclamation);
    return Status::Ok();
  }
  const std::optional<model::CropRecord> crop = display_crop(st.folders.data_folder, r.cell);
  const int turn = turn_factor(r.facing, r.side);
  picture.file = file;
  picture.target = sizes_.pending;
  picture.source =
      source_rectangle(picture.photo_width, picture.photo_height, picture.target, crop, turn);
  picture.turned = turn < 0;
  picture.framed = frames_photo(crop);
  screen_.pending_picture = picture;
  pending_shown_ = row;
  links_.panel->set_text("lblPendImage", photo_caption(r, current_pending_id_));
  links_.panel->set_visible("lblPendImage", true);
  return Status::Ok();
}

Status CandidateReview::show_library_photo(int row, int index) {
  if (row < 1 || row > static_cast<int>(library_photos_.size())) return Status::Ok();
  const PhotoRow& r = library_photos_[row - 1];
  const session::RunState& st = *links_.state;
  const std::string file = photograph_path(st.folders.newpics_folder, r.photo);
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    links_.dialogs->message(missing_library_photo_message(r.photo));
    return Status::Ok();
  }
  PhotoPicture picture;
  Status s = read_jpeg_size(file, &picture.photo_width, &picture.photo_height);
  if (!s.ok()) {
    links_.dialogs->message(s.message(), Buttons::kOk, Icon::kExclamation);
    return Status::Ok();
  }
  const std::optional<model::CropRecord> crop = display_crop(st.folders.data_folder, r.cell);
  const int turn = turn_factor(r.facing, r.side);
  picture.file = file;
  if (index == 0) {
    picture.target = sizes_.library;
  } else if (const std::optional<ThumbnailPlace>& place = screen_.thumbnail_places[index]) {
    picture.target = {static_cast<double>(place->width), static_cast<double>(place->height)};
  }
  picture.source =
      source_rectangle(picture.photo_width, picture.photo_height, picture.target, crop, turn);
  picture.turned = turn < 0;
  picture.framed = frames_photo(crop);
  screen_.library_pictures[index] = picture;
  // The caption tells what the large view shows; thumbnails carry none.
  if (index == 0) {
    library_shown_ = row;
    links_.panel->set_text("lblLibImage", photo_caption(r, candidate_id_));
    links_.panel->set_visible("lblLibImage", true);
  }
  return Status::Ok();
}

Status CandidateReview::select_pending_photo(int row) {
  screen_.pend_list.value = row;
  return show_pending_photo(row);
}

Status CandidateReview::vscPendList_changed(int row) {
  if (!attached()) return not_attached();
  Status s = select_pending_photo(row);
  return s.ok() ? s : fail("vscPendList", s);
}

Status CandidateReview::picPendImage_clicked(bool shift, bool right) {
  if (!attached()) return not_attached();
  if (pending_shown_ < 1 || pending_shown_ > static_cast<int>(pending_photos_.size()))
    return Status::Ok();
  PhotoRow& r = pending_photos_[pending_shown_ - 1];
  if (shift) {
    std::string path;
    Status s = model::fit_file_path(links_.state->folders.data_folder, r.cell, &path);
    std::error_code ec;
    if (s.ok()) std::filesystem::remove(path, ec);
    if (!s.ok() || ec) {
      links_.dialogs->message("The fit file of " + r.cell +
                                  " could not be deleted: " + (s.ok() ? ec.message() : s.message()),
                              Buttons::kOk, Icon::kExclamation);
    }
  }
  if (right) {
    r.facing = "R";
    r.side = "M";
  }
  Status s = show_pending_photo(pending_shown_);
  return s.ok() ? s : fail("picPendImage", s);
}

void CandidateReview::clear_thumbnails() {
  for (int k = 1; k <= kThumbnails; ++k) {
    screen_.library_pictures[k].reset();
    screen_.thumbnail_places[k].reset();
    links_.panel->set_visible(kLibraryPictures[k], false);
  }
  screen_.bordered_thumbnail = 0;
}

Status CandidateReview::lay_out_thumbnails(int first, int last) {
  clear_thumbnails();
  for (const ThumbnailPlace& place : layout_thumbnails(first, last)) {
    screen_.thumbnail_places[place.index] = place;
    links_.panel->set_visible(kLibraryPictures[place.index], true);
    Status s = show_library_photo(place.row, place.index);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

Status CandidateReview::picLibImage_clicked(int k, bool right) {
  if (!attached()) return not_attached();
  if (k < 1 || k > kThumbnails || !screen_.thumbnail_places[k]) return Status::Ok();
  const int row = thumbnail_start_ + k - 1;
  if (row < 1 || row > static_cast<int>(library_photos_.size())) return Status::Ok();
  screen_.bordered_thumbnail = k;
  if (right) {
    library_photos_[row - 1].facing = "R";
    library_photos_[row - 1].side = "M";
  }
  Status s = show_library_photo(row, 0);
  return s.ok() ? s : fail("picLibImage", s);
}

Status CandidateReview::cmdMoreLibPics_clicked() {
  if (!attached()) return not_attached();
  ControlPanel& p = *links_.panel;
  if (library_photo_count_ > kThumbnails) {
    p.set_visible("cmdMoveOn", true);
    p.set_visible("cmdMoveBack", true);
  }
  Status s = lay_out_thumbnails(1, std::min(kThumbnails, library_photo_count_));
  return s.ok() ? s : fail("cmdMoreLibPics", s);
}

Status CandidateReview::cmdMoveOn_clicked() {
  if (!attached()) return not_attached();
  thumbnail_start_ = std::max(1, std::min(thumbnail_start_ + 1, library_photo_count_ - 7));
  Status s =
      lay_out_thumbnails(thumbnail_start_, std::min(thumbnail_start_ + 7, library_photo_count_));
  return s.ok() ? s : fail("cmdMoveOn", s);
}

Status CandidateReview::cmdMoveBack_clicked() {
  if (!attached()) return not_attached();
  thumbnail_start_ = std::max(thumbnail_start_ - 1, 1);
  Status s =
      lay_out_thumbnails(thumbnail_start_, std::min(thumbnail_start_ + 7, library_photo_count_));
  return s.ok() ? s : fail("cmdMoveBack", s);
}

// --------------------------------------------------------------- labels

void CandidateReview::lblPendImage_clicked() {
  screen_.pend_label = kRed;
  screen_.lib_label = kBlack;
}

void CandidateReview::lblLibImage_clicked() {
  screen_.lib_label = kRed;
  screen_.pend_label = kBlack;
}

void CandidateReview::lblPendImage_double_clicked() {
  screen_.pend_label = kBlack;
}

void CandidateReview::lblLibImage_double_clicked() {
  screen_.lib_label = kBlack;
}

// --------------------------------------------------------------- decisions

Status CandidateReview::cmdMatch_clicked() {
  if (!attached()) return not_attached();
  // Without a candidate on screen there is nobody to match: a confirmation
  // would rename the pending animal to an empty ID.
  if (candidate_id_.empty()) return Status::Ok();
  match_flag_ = true;
  *links_.outcome_word = "matched";
  return cmdSetupChoice_clicked();
}

Status CandidateReview::cmdSetupChoice_clicked() {
  if (!attached()) return not_attached();
  ControlPanel& p = *links_.panel;
  if (match_flag_) {
    p.set_text("cmdContinue", "confirm match of this animal to this animal ->");
    p.set_text("cmdSkip", "don't match");
    p.set_visible("cmdContinue", true);
    p.set_visible("cmdSkip", true);
    p.set_visible("cmdStart", false);
    return Status::Ok();
  }
  Status s = next_extract(true);
  return s.ok() ? s : fail("cmdSetupChoice", s);
}

Status CandidateReview::next_extract(bool ask) {
  session::RunState& st = *links_.state;
  db::RecordSet& list = *links_.pending_list;
  Status s;
  if (combined()) {
    s = run(st.statement("mark_temp_for_deletion"), {{"pID", pending_row_id()}});
    if (s.ok()) s = run(st.statement("delete_marked_temp"), {});
    if (!s.ok()) return s;
  } else {
    const std::string cell = list.text("cell");
    const std::string pname = cell + "." + list.text("extension");
    list.move_next();
    same_cell_ = !list.eof() && list.text("cell") == cell;
    list.move_previous();
    s = run(st.statement("delete_temp_of_pending"), {{"pPname", pname}});
    if (!s.ok()) return s;
    // The library question is asked once per extract, after its last letter.
    if (same_cell_) return show_next_pending();
  }
  return ask ? library_question() : add_or_reject(db::to_string(db::AutoMatch::kLibrary));
}

Status CandidateReview::library_question() {
  ControlPanel& p = *links_.panel;
  p.set_text("lblWhichExtract", "");
  p.set_text("cmdContinue", "add this " + *links_.outcome_word + " photo to library");
  p.set_text("cmdSkip", "don't add");
  p.set_visible("cmdContinue", true);
  p.set_visible("cmdSkip", true);
  p.set_visible("cmdSetupChoice", false);
  p.set_visible("cmdMoreLibPics", false);
  for (int k = 1; k <= kThumbnails; ++k) p.set_visible(kLibraryPictures[k], false);
  return Status::Ok();
}

Status CandidateReview::set_review_status(const std::string& auto_match) {
  db::Statement* set = links_.state->statement("set_review_status");
  if (combined()) return run(set, {{"pID", pending_row_id()}, {"pAutoMatch", auto_match}});
  return run(set, {{"pCell", links_.pending_list->text("cell")}, {"pAutoMatch", auto_match}});
}

Status CandidateReview::add_or_reject(const std::string& auto_match) {
  Status s = set_review_status(auto_match);
  if (!s.ok()) return s;
  ControlPanel& p = *links_.panel;
  *links_.outcome_word = "unmatched";
  same_cell_ = false;
  p.set_visible("cmdStart", true);
  p.set_visible("cmdSetupChoice", false);
  p.set_visible("cmdMoreLibPics", false);
  p.set_enabled("vscAnimList", false);
  return Status::Ok();
}

Status CandidateReview::cmdContinue_clicked() {
  if (!attached()) return not_attached();
  ControlPanel& p = *links_.panel;
  p.set_visible("cmdContinue", false);
  p.set_visible("cmdSkip", false);
  if (match_flag_) return ConfirmMatch();
  Status s = add_or_reject(db::to_string(db::AutoMatch::kLibrary));
  return s.ok() ? s : fail("cmdContinue", s);
}

Status CandidateReview::cmdSkip_clicked() {
  if (!attached()) return not_attached();
  ControlPanel& p = *links_.panel;
  p.set_visible("cmdContinue", false);
  p.set_visible("cmdSkip", false);
  if (match_flag_) {
    match_flag_ = false;
    *links_.outcome_word = "unmatched";
    return Status::Ok();
  }
  Status s = add_or_reject(db::to_string(db::AutoMatch::kRejected));
  return s.ok() ? s : fail("cmdSkip", s);
}

Status CandidateReview::ConfirmMatch() {
  if (!attached()) return not_attached();
  Status s = confirm_match();
  if (!s.ok()) return fail("ConfirmMatch", s);
  if (screen_.anim_list.value < screen_.anim_list.maximum)
    return vscAnimList_changed(screen_.anim_list.value + 1);
  return Status::Ok();
}

Status CandidateReview::confirm_match() {
  const session::RunOptions& o = links_.state->options;
  Status s = run(links_.state->statement("insert_scorelog"),
                 {{"pPendingID", current_pending_id_},
                  {"pLibraryID", candidate_id_},
                  {"pScore", static_cast<double>(displayed_score_)},
                  {"pRank", int64_t{screen_.anim_list.value}},
                  {"pStan", int64_t{o.standardise ? 1 : 0}},
                  {"pComb", int64_t{o.combine ? 1 : 0}},
                  {"pDate_time", now_text()}});
  if (!s.ok()) return s;
  match_flag_ = false;
  if (screen_.pend_label == kRed) {
    merges_.add(candidate_id_, current_pending_id_);
  } else {
    // Further confirmations of this item rename into the library animal.
    merges_.add(current_pending_id_, candidate_id_);
    current_pending_id_ = candidate_id_;
  }
  return Status::Ok();
}

Status CandidateReview::ApplyQueuedMerges() {
  if (links_.state == nullptr) return not_attached();
  return merges_.apply(*links_.state);
}

}  // namespace velmora::confirm
